/*
 * The Linux daemon, the real binary, on the emulated thinkpad_acpi: the
 * commands it writes and in what order, the driver's refusals at start-up,
 * the sensor lost and back, the watchdog armed and re-armed while it runs
 * and firing once it is killed, a resume, the signals' hand-back, the
 * sleep hook and the log.
 */
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "emulated_thinkpad.h"
#include "harness.h"
#include "table.h"

namespace {

using table_cases::PrintTo;

constexpr double WATCHDOG = 20;

/* The commands written to the fan file, each with its result. */
std::vector<std::string>
commands(const emulated_thinkpad &pad)
{
	std::vector<std::string> found;
	for (const emulator_record &r : pad.records_from("fan")) {
		std::string text = r.text;
		while (!text.empty() && text.back() == '\n')
			text.pop_back();
		found.push_back(text + (r.result == "ok" ? "" : " " + r.result));
	}
	return found;
}

class LinuxDaemon : public EmulatedThinkpad {
protected:
	owned_daemon daemon;

	std::string config() const
	{
		std::string path = pad.scratch + "/coolrung.conf";
		write_file(path, TABLE_TEXT);
		return path;
	}
	void start(int celsius)
	{
		ASSERT_EQ(pad.control("temp1 " + std::to_string(celsius)), 0);
		daemon = start_program(COOLRUNG_DAEMON_BINARY,
		    {"coolrung", "-c", config()}, "");
		ASSERT_TRUE(commanded(2)) << pad.dump();
	}
	/* Waits until the fan file has had count commands. */
	bool commanded(size_t count, double seconds = 8) const
	{
		return eventually([&] { return commands(pad).size() >= count; },
		    seconds);
	}
	run_result stop(int signo)
	{
		kill(daemon.pid, signo);
		return wait_daemon(daemon, 5);
	}
};

struct start_case {
	const char *name;
	std::string control;	/* the machine before the daemon starts */
	modprobe_action modprobe;
	bool version;		/* -v, else a run with the table */
	int status;
	std::string err;
	std::vector<std::string> commands;
	size_t modprobe_runs;
};

class LinuxStartUp : public LinuxDaemon,
    public testing::WithParamInterface<start_case> {};

TEST_P(LinuxStartUp, RefusesWithTheDriversWords)
{
	const start_case &c = GetParam();
	if (!c.control.empty()) {
		ASSERT_EQ(pad.control(c.control), 0);
	}
	pad.set_modprobe(c.modprobe);
	std::vector<std::string> argv = {"coolrung"};
	if (c.version)
		argv.push_back("-v");
	else
		argv.insert(argv.end(), {"-c", config()});
	run_result result = run_program(COOLRUNG_DAEMON_BINARY, argv, "", 15);
	EXPECT_EQ(result.status, c.status) << pad.dump();
	/* After what modprobe itself may have said. */
	EXPECT_TRUE(result.err.size() >= c.err.size() &&
	    result.err.compare(result.err.size() - c.err.size(), c.err.size(),
	    c.err) == 0) << result.err;
	EXPECT_EQ(commands(pad), c.commands) << pad.dump();
	std::vector<std::string> runs = pad.modprobe_runs();
	EXPECT_EQ(runs.size(), c.modprobe_runs);
	for (const std::string &run : runs)
		EXPECT_EQ(run, "/sbin/modprobe thinkpad_acpi");
	EXPECT_EQ(pad.state().level, "auto");
}

const std::string NO_DRIVER = "coolrung: Module thinkpad_acpi load failed: " +
    error_text(ENOENT) + "\n";
const std::string NO_TEMPERATURE = "unload\nsensors off\nload\ntz0 none";

const start_case start_cases[] = {
	{"LoadedByModprobe", "unload", modprobe_action::loads, true, 0, "", {}, 1},
	{"ModprobeFails", "unload", modprobe_action::fails, true, 1, NO_DRIVER,
	    {}, 1},
	{"ModprobeLoadsNothing", "unload", modprobe_action::does_nothing, true,
	    1, NO_DRIVER, {}, 1},
	{"FanControlOff", "unload\nfan_control N\nload", modprobe_action::loads, false, 77,
	    "coolrung: fan control is off in thinkpad_acpi: load it with "
	    "fan_control=1 (options thinkpad_acpi fan_control=1 in "
	    "/etc/modprobe.d)\n", {}, 0},
	{"TakeRefused", "fail write fan EIO", modprobe_action::loads, false, 77,
	    "coolrung: /proc/acpi/ibm/fan: " + error_text(EIO) + "\n",
	    {"level 0 EIO"}, 0},
	{"WatchdogRefused", "refuse watchdog EIO", modprobe_action::loads, false,
	    69, "coolrung: /proc/acpi/ibm/fan: " + error_text(EIO) + "\n",
	    {"level 0", "watchdog 20 EIO", "level auto"}, 0},
	{"NoTemperature", NO_TEMPERATURE, modprobe_action::loads, false, 69,
	    "coolrung: /sys/class/thermal/thermal_zone0/temp: " +
	    error_text(ENOENT) + "\n", {"level 0", "watchdog 20", "level auto"}, 0},
};

INSTANTIATE_TEST_SUITE_P(Linux, LinuxStartUp, testing::ValuesIn(start_cases),
    table_cases::by_name);

/* Up and down the table, one command per change, then the hand-back. */
TEST_F(LinuxDaemon, StepsThroughTheTableWithOneCommandEach)
{
	start(50);
	for (auto [celsius, count] : {std::pair{56, 3}, {66, 4}, {62, 4},
	    {58, 5}, {49, 6}}) {
		ASSERT_EQ(pad.control("temp1 " + std::to_string(celsius)), 0);
		if (celsius == 62)
			usleep(2500000);	/* a poll inside the overlap */
		ASSERT_TRUE(commanded(static_cast<size_t>(count))) << pad.dump();
	}
	run_result result = stop(SIGTERM);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(result.err, "");
	EXPECT_EQ(commands(pad), (std::vector<std::string>{"level 0",
	    "watchdog 20", "level 2", "level 7", "level 2", "level 0",
	    "level auto"})) << pad.dump();
	EXPECT_EQ(pad.state().level, "auto");
}

/* ENXIO is the driver's "no reading": 3 in a row give the fan back. */
TEST_F(LinuxDaemon, LostSensorAndBack)
{
	start(56);
	ASSERT_TRUE(commanded(3)) << pad.dump();
	ASSERT_EQ(pad.control("temp1 n/a"), 0);
	ASSERT_TRUE(eventually([&] { return pad.state().level == "auto"; }, 10))
	    << pad.dump();
	ASSERT_EQ(pad.control("temp1 70"), 0);
	ASSERT_TRUE(eventually([&] { return pad.state().level == "7"; }, 5))
	    << pad.dump();
	run_result result = stop(SIGTERM);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(result.err, "coolrung: " + pad.hwmon_path() + "/temp1_input: "
	    "3 failed reads, fan handed back to the firmware: " +
	    error_text(ENXIO) + "\ncoolrung: fan taken again at level 7 (70 C)\n");
	std::vector<std::string> sent = commands(pad);
	EXPECT_EQ(std::vector<std::string>(sent.begin() + 2, sent.end()),
	    (std::vector<std::string>{"level 2", "level auto", "level 7",
	    "level auto"})) << pad.dump();
}

/*
 * While it runs no two accepted commands are W apart, and the re-arms come
 * about every W/2: never more than one a W/4 on average.
 */
TEST_F(LinuxDaemon, WatchdogKeptArmedWithoutRewritingTheLevel)
{
	start(50);
	double began = monotonic_seconds();
	ASSERT_TRUE(commanded(4, 2.5 * WATCHDOG / 2 + 4)) << pad.dump();
	double ran = monotonic_seconds() - began;
	std::vector<emulator_record> sent = pad.records_from("fan");
	int rearms = 0, levels = 0;
	for (size_t i = 1; i < sent.size(); i++) {
		EXPECT_EQ(sent[i].result, "ok");
		EXPECT_LT(sent[i].time - sent[i - 1].time, WATCHDOG) << pad.dump();
		rearms += sent[i].text.rfind("watchdog 20", 0) == 0 ? 1 : 0;
		levels += sent[i].text.rfind("level", 0) == 0 ? 1 : 0;
	}
	EXPECT_EQ(levels, 0) << "a level was written again\n" << pad.dump();
	EXPECT_LE(rearms, ran / (WATCHDOG / 4) + 2) << pad.dump();
	EXPECT_GE(rearms, 3);
	EXPECT_TRUE(pad.state().armed);
}

/* Killed, it says nothing: the driver's watchdog gives the fan back. */
TEST_F(LinuxDaemon, WatchdogFiresAfterKill)
{
	start(56);
	ASSERT_TRUE(commanded(3)) << pad.dump();
	EXPECT_EQ(pad.state().level, "2");
	run_result killed = stop(SIGKILL);
	EXPECT_EQ(killed.signal, SIGKILL);
	EXPECT_TRUE(eventually([&] { return pad.state().level == "auto"; },
	    WATCHDOG + 2)) << pad.dump();
}

/*
 * After a resume the firmware has the fan: taken again at the tick, at the
 * first row whose max reaches the reading, below the row it ran at.
 */
TEST_F(LinuxDaemon, TakenAgainAfterAResume)
{
	start(56);
	ASSERT_TRUE(commanded(3)) << pad.dump();
	ASSERT_EQ(pad.control("temp1 52"), 0);		/* row 1 keeps it */
	usleep(2500000);
	ASSERT_EQ(pad.control("suspend\nresume"), 0);
	double resumed = monotonic_seconds();
	ASSERT_EQ(pad.state().level, "auto");
	ASSERT_TRUE(eventually([&] { return pad.state().level == "0"; },
	    WATCHDOG)) << pad.dump();
	EXPECT_LT(monotonic_seconds() - resumed, WATCHDOG);
	run_result result = stop(SIGTERM);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(result.err, "coolrung: fan taken again at level 0 (52 C)\n");
}

/* The signal table's hand-back is "level auto" on Linux too. */
struct ending_case {
	const char *name;
	int signo;
};

class LinuxEnding : public LinuxDaemon,
    public testing::WithParamInterface<ending_case> {};

TEST_P(LinuxEnding, HandsBackWithLevelAuto)
{
	start(56);
	ASSERT_TRUE(commanded(3)) << pad.dump();
	run_result result = stop(GetParam().signo);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(commands(pad).back(), "level auto") << pad.dump();
	EXPECT_EQ(pad.state().level, "auto");
}

const ending_case ending_cases[] = {
	{"Terminate", SIGTERM}, {"Interrupt", SIGINT}, {"HangUp", SIGHUP},
	{"User1", SIGUSR1}, {"RealTime", SIGRTMIN}, {"Segfault", SIGSEGV},
	{"Abort", SIGABRT},
};

INSTANTIATE_TEST_SUITE_P(Linux, LinuxEnding, testing::ValuesIn(ending_cases),
    table_cases::by_name);

/*
 * Detached, as systemd runs it: the log goes to /dev/log; the sleep hook
 * hands the fan back before sleep and has it taken again after wake.
 */
TEST_F(LinuxDaemon, DetachedWithTheSleepHookAndTheLog)
{
	pad.listen_syslog();
	ASSERT_EQ(pad.control("temp1 56"), 0);
	run_result started = run_program(COOLRUNG_DAEMON_BINARY,
	    {"coolrung", "-d", "-c", config()}, "", 10);
	ASSERT_EQ(started.status, 0) << started.err;
	ASSERT_TRUE(commanded(3)) << pad.dump();
	/* The hook asks systemd for the daemon; a stand-in answers. */
	pid_t detached = static_cast<pid_t>(-1);
	ASSERT_TRUE(eventually([&] {
		for (const syslog_record &r : pad.syslog())
			detached = r.pid;
		return detached > 0;
	}));
	std::string systemctl = pad.scratch + "/systemctl";
	write_file(systemctl, "#!/bin/sh\necho " + std::to_string(detached) + "\n");
	chmod(systemctl.c_str(), 0755);
	std::string hook = "PATH=" + pad.scratch + ":$PATH sh " SLEEP_HOOK " ";
	EXPECT_EQ(run_program("/bin/sh", {"sh", "-c", hook + "pre suspend"}, "")
	    .status, 0);
	EXPECT_EQ(pad.state().level, "auto") << pad.dump();
	EXPECT_EQ(run_program("/bin/sh", {"sh", "-c", hook + "post suspend"}, "")
	    .status, 0);
	EXPECT_TRUE(eventually([&] { return pad.state().level == "2"; }))
	    << pad.dump();
	kill(detached, SIGTERM);
	/* The test is the reaper of the detached daemon: it ends as a child. */
	ASSERT_TRUE(eventually([&] { return has_ended(detached); }));
	std::vector<std::string> lines;
	for (const syslog_record &r : pad.syslog()) {
		EXPECT_EQ(r.ident, "coolrung");
		EXPECT_EQ(r.pid, detached);
		lines.push_back(std::to_string(r.priority) + " " + r.text);
	}
	auto line = [](int priority, const std::string &text) {
		return std::to_string(LOG_DAEMON | priority) + " " + text;
	};
	EXPECT_EQ(lines, (std::vector<std::string>{
	    line(LOG_NOTICE, "started, fan at level 0"),
	    line(LOG_INFO, "level 0 -> 2 at 56 C"),
	    line(LOG_WARNING, "SIGTSTP: fan handed back to the firmware, stopping"),
	    line(LOG_WARNING, "fan taken again at level 2 (56 C)"),
	    line(LOG_NOTICE, "SIGTERM: fan handed back to the firmware, exiting")}));
}

}  // namespace
