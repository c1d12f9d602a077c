/* The whole daemon on the simulated kernel: polling, stepping, signals. */
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <utility>
#include <string>
#include <vector>

#include "fan.h"
#include "harness.h"
#include "loop.h"
#include "sim_in_process.h"
#include "table.h"

namespace {

using table_cases::PrintTo;

const char *READ = "read dev.acpi_ibm.0.thermal";
const char *LEVEL = "write dev.acpi_ibm.0.fan_level";

/* A daemon on its own simulated machine, stopped at the end of the test. */
class Daemon : public testing::Test {
protected:
	sim_machine machine;
	owned_daemon daemon;

	void start(int celsius, const std::vector<std::string> &extra = {})
	{
		machine.set_temperature(celsius);
		std::vector<std::string> argv = {"coolrung", "-c",
		    machine.config(TABLE_TEXT)};
		argv.insert(argv.end(), extra.begin(), extra.end());
		daemon = start_coolrung(argv, machine.root);
		ASSERT_TRUE(wait_for_trace(machine, " sleep ")) << machine.dump();
	}
	/*
	 * Sets the temperature and waits for the poll that reads it; returns
	 * that poll's calls, from the read to its sleep.
	 */
	std::vector<std::string> poll(int celsius)
	{
		size_t seen = machine.trace().size();
		machine.set_temperature(celsius);
		std::string wanted = std::string(READ) + " " + std::to_string(celsius);
		int read_at = wait_for_call(machine, seen, [&](const trace_line &t) {
			return t.op + " " + t.name + " " + t.value == wanted;
		}, 5);
		int sleep_at = read_at == -1 ? -1 : wait_for_call(machine,
		    static_cast<size_t>(read_at),
		    [](const trace_line &t) { return t.op == "sleep"; }, 5);
		if (sleep_at == -1) {
			ADD_FAILURE() << "no poll read " << celsius << "\n" <<
			    machine.dump();
			return {};
		}
		std::vector<std::string> lines = machine.trace();
		return {lines.begin() + read_at, lines.begin() + sleep_at + 1};
	}
	run_result stop(int signo)
	{
		kill(daemon.pid, signo);
		return wait_daemon(daemon, 5);
	}
};

std::string
levels_written(const std::vector<std::string> &calls)
{
	std::string levels;
	for (const std::string &line : calls) {
		size_t at = line.find(LEVEL);
		if (at != std::string::npos)
			levels += line.substr(at + std::string(LEVEL).size() + 1);
	}
	return levels;
}

TEST_F(Daemon, StepsThroughTheTableOneRowAPoll)
{
	start(50);
	EXPECT_EQ(levels_written(poll(55)), "");
	EXPECT_EQ(levels_written(poll(56)), "2 ok");
	EXPECT_EQ(levels_written(poll(52)), "");		/* overlap */
	EXPECT_EQ(levels_written(poll(49)), "0 ok");
	EXPECT_EQ(levels_written(poll(90)), "2 ok");		/* a jump ... */
	EXPECT_EQ(levels_written(poll(91)), "7 ok");		/* ... row by row */
	EXPECT_EQ(machine.fan_level(), 7);
	EXPECT_EQ(machine.fan_mode(), 0);
}

TEST_F(Daemon, QuickPollAfterAFastFall)
{
	start(60);
	std::vector<std::string> first = poll(57);
	ASSERT_FALSE(first.empty());
	EXPECT_NE(first.back().find("sleep - 1 ok"), std::string::npos);
	std::vector<std::string> second = poll(55);
	ASSERT_FALSE(second.empty());
	EXPECT_NE(second.back().find("sleep - 2 ok"), std::string::npos);
}

TEST_F(Daemon, TheFirstSleepIsTwoSeconds)
{
	start(60);
	std::vector<std::string> lines = machine.trace();
	EXPECT_EQ(count_lines(lines, " sleep - 2 ok"), 1) << machine.dump();
	EXPECT_EQ(count_lines(lines, " sleep - 1 ok"), 0) << machine.dump();
}

TEST_F(Daemon, ExtremeReadingsStayInTheTable)
{
	start(50);
	EXPECT_EQ(levels_written(poll(-41)), "");
	EXPECT_EQ(levels_written(poll(200)), "2 ok");
	EXPECT_EQ(levels_written(poll(201)), "7 ok");
	EXPECT_EQ(levels_written(poll(202)), "");
	EXPECT_EQ(machine.fan_level(), 7);
}

TEST_F(Daemon, FailedReadMovesNothing)
{
	start(60);
	poll(61);
	size_t seen = machine.trace().size();
	machine.put("faults", "read dev.acpi_ibm.0.thermal EIO\n");
	ASSERT_TRUE(wait_for_trace(machine, "thermal - EIO"));
	ASSERT_TRUE(wait_for_trace(machine, " sleep ", static_cast<int>(
	    count_lines(machine.trace(), " sleep ") + 1)));
	std::vector<std::string> lines = machine.trace();
	lines.erase(lines.begin(), lines.begin() + static_cast<long>(seen));
	EXPECT_EQ(count_lines(lines, LEVEL), 0);
	EXPECT_EQ(count_lines(lines, " sleep - 2 ok"), count_lines(lines, " sleep "));
	machine.put("faults", "");
	/* The previous reading stayed 61: a reading of 58 is a fast fall. */
	std::vector<std::string> after = poll(58);
	ASSERT_FALSE(after.empty());
	EXPECT_NE(after.back().find("sleep - 1 ok"), std::string::npos);
}

TEST_F(Daemon, FailedLevelWriteIsRetried)
{
	start(50);
	machine.put("faults", "write dev.acpi_ibm.0.fan_level EIO\n");
	EXPECT_EQ(levels_written(poll(56)), "2 EIO");
	machine.put("faults", "");
	EXPECT_EQ(levels_written(poll(57)), "2 ok");
	EXPECT_EQ(levels_written(poll(66)), "7 ok");
}

struct stop_case {
	const char *name;
	int signo;
};

class Stop : public Daemon, public testing::WithParamInterface<stop_case> {};

TEST_P(Stop, HandsTheFanBack)
{
	start(56);
	ASSERT_TRUE(wait_for_trace(machine, std::string(LEVEL) + " 2 ok"));
	EXPECT_EQ(machine.fan_mode(), 0);
	run_result result = stop(GetParam().signo);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(result.err, "");
	EXPECT_EQ(machine.fan_mode(), 1);
	EXPECT_NE(machine.trace().back().find("write dev.acpi_ibm.0.fan 1 ok"),
	    std::string::npos) << machine.dump();
}

/*
 * Every signal whose default would end the process with the fan taken.
 * SIGTHR is left out: a thread library linked in keeps it for itself.
 */
const stop_case stop_cases[] = {
	{"Interrupt", SIGINT}, {"Terminate", SIGTERM}, {"HangUp", SIGHUP},
	{"User1", SIGUSR1}, {"User2", SIGUSR2}, {"Alarm", SIGALRM},
	{"VirtualAlarm", SIGVTALRM}, {"Profile", SIGPROF}, {"CpuLimit", SIGXCPU},
	{"FileLimit", SIGXFSZ},
#ifdef SIGPWR
	{"Power", SIGPWR},
#endif
#ifdef SIGSTKFLT
	{"StackFault", SIGSTKFLT},
#endif
#ifdef __linux__
	/* BSD ignores it by default. */
	{"Io", SIGIO},
#endif
#ifdef SIGLIBRT
	{"RealTimeLibrary", SIGLIBRT},
#endif
	{"RealTimeFirst", SIGRTMIN}, {"RealTimeLast", SIGRTMAX},
	{"Segfault", SIGSEGV}, {"BusError", SIGBUS}, {"FloatingPoint", SIGFPE},
	{"Illegal", SIGILL}, {"Abort", SIGABRT}, {"Trap", SIGTRAP},
	{"BadSystemCall", SIGSYS},
#ifdef SIGEMT
	{"Emulator", SIGEMT},
#endif
};

INSTANTIATE_TEST_SUITE_P(Signals, Stop, testing::ValuesIn(stop_cases),
    table_cases::by_name);

TEST_P(Stop, UnwritableModeAtShutdown)
{
	start(50);
	machine.put("faults", "write dev.acpi_ibm.0.fan EPERM\n");
	run_result result = stop(GetParam().signo);
	EXPECT_EQ(result.status, 77);
	EXPECT_EQ(result.err, "coolrung: dev.acpi_ibm.0.fan: " + error_text(EPERM) +
	    "\n");
	EXPECT_EQ(machine.fan_mode(), 0);
}

/* A parent may leave signals blocked; a fault must still hand the fan back. */
TEST_F(Daemon, FaultsAreTakenWhateverTheInheritedMask)
{
	machine.set_temperature(50);
	daemon = start_coolrung_blocking({"coolrung", "-c",
	    machine.config(TABLE_TEXT)}, machine.root,
	    {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL});
	ASSERT_TRUE(wait_for_trace(machine, " sleep ")) << machine.dump();
	run_result result = stop(SIGSEGV);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(machine.fan_mode(), 1);
}

/* Signals that end no process leave the daemon polling with the fan. */
TEST_F(Daemon, HarmlessSignalsChangeNothing)
{
	start(50);
	std::vector<int> harmless = {SIGPIPE, SIGCHLD, SIGURG, SIGWINCH, SIGCONT};
#ifndef __linux__
	harmless.push_back(SIGIO);
#endif
#ifdef SIGINFO
	harmless.push_back(SIGINFO);
#endif
	for (int signo : harmless)
		kill(daemon.pid, signo);
	size_t seen = machine.trace().size();
	ASSERT_TRUE(wait_for_trace(machine, " sleep ",
	    count_lines(machine.trace(), " sleep ") + 1));
	std::vector<std::string> lines = machine.trace();
	lines.erase(lines.begin(), lines.begin() + static_cast<long>(seen));
	EXPECT_EQ(count_lines(lines, "dev.acpi_ibm.0.fan "), 0);
	EXPECT_EQ(machine.fan_mode(), 0);
	EXPECT_EQ(stop(SIGTERM).status, 1);
}

TEST_F(Daemon, QuitKeepsItsDefaultAction)
{
	start(50);
	run_result result = stop(SIGQUIT);
	EXPECT_EQ(result.signal, SIGQUIT);
	EXPECT_EQ(machine.fan_mode(), 0);
}

TEST_F(Daemon, SignalsDuringTheSleepEndItAtOnce)
{
	start(50);
	poll(51);
	auto before = std::chrono::steady_clock::now();
	run_result result = stop(SIGTERM);
	auto waited = std::chrono::steady_clock::now() - before;
	EXPECT_EQ(result.status, 1);
	EXPECT_LT(waited, std::chrono::milliseconds(500));
}

TEST_F(Daemon, DetachesAfterTakingTheFan)
{
	machine.set_temperature(56);
	std::vector<std::string> argv = {"coolrung", "-d", "-c",
	    machine.config(TABLE_TEXT)};
	run_result parent = run_coolrung(argv, machine.root);
	EXPECT_EQ(parent.status, 0);
	EXPECT_EQ(parent.err, "");
	ASSERT_TRUE(wait_for_trace(machine, " sleep ")) << machine.dump();
	std::vector<std::string> lines = machine.trace();
	int daemon_line = -1, manual_line = -1;
	for (size_t i = 0; i < lines.size(); i++) {
		if (lines[i].find(" daemon - - ok") != std::string::npos)
			daemon_line = static_cast<int>(i);
		if (lines[i].find("write dev.acpi_ibm.0.fan 0 ok") != std::string::npos)
			manual_line = static_cast<int>(i);
	}
	ASSERT_GE(daemon_line, 0) << machine.dump();
	EXPECT_LT(manual_line, daemon_line);
	pid_t child = std::stoi(lines[static_cast<size_t>(daemon_line)]);
	EXPECT_EQ(machine.fan_mode(), 0);
	EXPECT_TRUE(wait_for_trace(machine, std::to_string(child) + " sleep", 2));
	kill(child, SIGTERM);
	(void)eventually([&] { return machine.fan_mode() == 1; }, 2);
	EXPECT_EQ(machine.fan_mode(), 1);
	(void)eventually([&] { return kill(child, 0) != 0; }, 2);
	EXPECT_NE(kill(child, 0), 0);
}

TEST_F(Daemon, OperandBeforeDetachKeepsTheForeground)
{
	start(50, {"operand", "-d"});
	EXPECT_EQ(count_lines(machine.trace(), " daemon "), 0);
	EXPECT_EQ(kill(daemon.pid, 0), 0);
	EXPECT_EQ(stop(SIGTERM).status, 1);
}

/* -1 is the driver's "no reading": three of them hand the fan back. */
TEST_F(Daemon, NoReadingHandsTheFanBack)
{
	start(56);
	ASSERT_TRUE(wait_for_trace(machine, std::string(LEVEL) + " 2 ok"));
	machine.put("dev.acpi_ibm.0.thermal", "-1 90 -1 -1 -1 -1 -1 -1\n");
	ASSERT_TRUE(wait_for_trace(machine, "write dev.acpi_ibm.0.fan 1 ok"))
	    << machine.dump();
	std::vector<std::string> lines = machine.trace();
	EXPECT_EQ(count_lines(lines, READ + std::string(" -1 ok")), 3);
	EXPECT_EQ(machine.fan_level(), 2);
	run_result result = stop(SIGTERM);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(result.err, "coolrung: dev.acpi_ibm.0.thermal: 3 failed reads, "
	    "fan handed back to the firmware\n");
}

/* Read-only while lost; the first good reading takes the row that holds it. */
TEST_F(Daemon, SensorLostAndBackDetached)
{
	machine.set_temperature(50);
	run_result parent = run_coolrung({"coolrung", "-d", "-c",
	    machine.config(TABLE_TEXT)}, machine.root);
	ASSERT_EQ(parent.status, 0) << parent.err;
	ASSERT_TRUE(wait_for_trace(machine, " sleep ")) << machine.dump();
	pid_t child = std::stoi(machine.trace().back());
	machine.put("faults", "read dev.acpi_ibm.0.thermal EIO\n");
	ASSERT_TRUE(wait_for_trace(machine, "write dev.acpi_ibm.0.fan 1 ok"));
	ASSERT_TRUE(wait_for_trace(machine, "thermal - EIO", 5));
	EXPECT_EQ(count_lines(machine.trace(), "write dev.acpi_ibm.0.fan "), 2);
	machine.set_temperature(60);
	machine.put("faults", "");
	ASSERT_TRUE(wait_for_trace(machine, std::string(LEVEL) + " 2 ok"));
	machine.set_temperature(70);
	ASSERT_TRUE(wait_for_trace(machine, std::string(LEVEL) + " 7 ok"));
	kill(child, SIGTERM);
	ASSERT_TRUE(eventually([&] { return kill(child, 0) != 0; }));
	EXPECT_EQ(machine.fan_mode(), 1);
	std::string pid = std::to_string(child) + " ";
	EXPECT_EQ(machine.log(), (std::vector<std::string>{
	    pid + "notice started, fan at level 0",
	    pid + "warning dev.acpi_ibm.0.thermal: 3 failed reads, fan handed "
		"back to the firmware: " + error_text(EIO),
	    pid + "warning fan taken again at level 2 (60 C)",
	    pid + "info level 2 -> 7 at 70 C",
	    pid + "notice SIGTERM: fan handed back to the firmware, exiting"}));
}

TEST_F(Daemon, LostSensorAndUnwritableModeRunAtTheTop)
{
	start(50);
	machine.put("faults", "read dev.acpi_ibm.0.thermal EIO\n"
	    "write dev.acpi_ibm.0.fan EPERM\n");
	run_result result = wait_daemon(daemon, 15);
	EXPECT_EQ(result.status, 77);
	EXPECT_EQ(result.err,
	    "coolrung: dev.acpi_ibm.0.fan: " + error_text(EPERM) + "\n");
	EXPECT_EQ(machine.fan_level(), 7);
}

TEST_F(Daemon, LevelWritesFailingEndIt)
{
	start(50);
	machine.put("faults", "write dev.acpi_ibm.0.fan_level EIO\n");
	machine.set_temperature(56);
	run_result result = wait_daemon(daemon, 15);
	EXPECT_EQ(result.status, 69);
	EXPECT_EQ(result.err,
	    "coolrung: dev.acpi_ibm.0.fan_level: " + error_text(EIO) + "\n");
	EXPECT_EQ(count_lines(machine.trace(), std::string(LEVEL) + " 2 EIO"), 3);
	EXPECT_EQ(machine.fan_mode(), 1);
}

/* A stopped daemon never holds the fan; continued, it takes it again. */
TEST_F(Daemon, JobControlStopsWithTheFanHandedBack)
{
	start(56);
	std::string expected_err;
	for (auto [signo, name] : {std::pair{SIGTSTP, "SIGTSTP"},
	    {SIGTTIN, "SIGTTIN"}, {SIGTTOU, "SIGTTOU"}}) {
		machine.set_temperature(56);
		ASSERT_TRUE(eventually([&] { return machine.fan_mode() == 0; }));
		kill(daemon.pid, signo);
		ASSERT_TRUE(eventually([&] { return is_stopped(daemon.pid); }))
		    << name;
		EXPECT_EQ(machine.fan_mode(), 1) << name;
		machine.set_temperature(70);
		kill(daemon.pid, SIGCONT);
		ASSERT_TRUE(eventually([&] {
			return machine.fan_mode() == 0 && machine.fan_level() == 7;
		})) << name << "\n" << machine.dump();
		expected_err += std::string("coolrung: ") + name +
		    ": fan handed back to the firmware, stopping\n"
		    "coolrung: fan taken again at level 7 (70 C)\n";
	}
	run_result result = stop(SIGTERM);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(result.err, expected_err);
}

/* SIGTERM while stopped: no take-over on the way out. */
TEST_F(Daemon, EndingSignalWhileStoppedEndsIt)
{
	start(50);
	kill(daemon.pid, SIGTSTP);
	ASSERT_TRUE(eventually([&] { return is_stopped(daemon.pid); }));
	kill(daemon.pid, SIGTERM);
	kill(daemon.pid, SIGCONT);
	run_result result = wait_daemon(daemon, 5);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(count_lines(machine.trace(), "write dev.acpi_ibm.0.fan 0 "), 1);
	EXPECT_EQ(machine.fan_mode(), 1);
}

/* Once detached, the way out is in the log: failures at err. */
struct detached_end {
	const char *name;
	std::string faults;
	int signo;		/* sent after the faults are in place, or 0 */
	std::string last_log;
};

class DetachedEnd : public Daemon,
    public testing::WithParamInterface<detached_end> {};

TEST_P(DetachedEnd, IsLogged)
{
	const detached_end &c = GetParam();
	machine.set_temperature(50);
	ASSERT_EQ(run_coolrung({"coolrung", "-d", "-c",
	    machine.config(TABLE_TEXT)}, machine.root).status, 0);
	ASSERT_TRUE(wait_for_trace(machine, " sleep ")) << machine.dump();
	pid_t child = std::stoi(machine.trace().back());
	machine.put("faults", c.faults);
	machine.set_temperature(56);
	if (c.signo != 0)
		kill(child, c.signo);
	ASSERT_TRUE(eventually([&] { return kill(child, 0) != 0; }, 15));
	ASSERT_FALSE(machine.log().empty());
	EXPECT_EQ(machine.log().back(), std::to_string(child) + " " + c.last_log);
}

const detached_end detached_ends[] = {
	{"Fault", "", SIGSEGV, "err SIGSEGV: fan handed back to the firmware"},
	{"LevelWrites", "write dev.acpi_ibm.0.fan_level EIO\n", 0,
	    "err dev.acpi_ibm.0.fan_level: " + error_text(EIO)},
	{"HandBack", "write dev.acpi_ibm.0.fan EPERM\n", SIGTERM,
	    "err dev.acpi_ibm.0.fan: " + error_text(EPERM)},
	{"HandBackInAFault", "write dev.acpi_ibm.0.fan EPERM\n", SIGSEGV,
	    "err dev.acpi_ibm.0.fan: " + error_text(EPERM)},
};

INSTANTIATE_TEST_SUITE_P(Log, DetachedEnd, testing::ValuesIn(detached_ends),
    table_cases::by_name);

}  // namespace
