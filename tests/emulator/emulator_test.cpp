/*
 * The emulated thinkpad_acpi against what the notes on Linux say of the
 * real driver, through the real paths as the daemon opens them.
 */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "emulated_thinkpad.h"

namespace {

using table_cases::PrintTo;

const std::string THERMAL_FILE = "/proc/acpi/ibm/thermal";
/* The driver's hwmon device unless a test chooses another number. */
const std::string HWMON = HWMON_CLASS + "/hwmon3";
const int FAN_AUTO = 0x80;
const int FAN_FULL_SPEED = 0x40;

/* A read from offset 0: 0 or its errno. */
int
pread_text(int fd, std::string *text)
{
	char buffer[8192];
	ssize_t got = pread(fd, buffer, sizeof(buffer), 0);
	if (got == -1)
		return errno;
	text->assign(buffer, static_cast<size_t>(got));
	return 0;
}

int
read_once(const std::string &path, std::string *text)
{
	int fd = open(path.c_str(), O_RDONLY);
	if (fd == -1)
		return errno;
	int error = pread_text(fd, text);
	close(fd);
	return error;
}

/* The fan file with fan_control Y; level nullptr: no level line. */
std::string
fan_text(const char *status, int speed, const char *level)
{
	return std::string("status:\t\t") + status + "\nspeed:\t\t" +
	    std::to_string(speed) + "\n" +
	    (level != nullptr ? std::string("level:\t\t") + level + "\n" : "") +
	    "commands:\tlevel <level> (<level> is 0-7, auto, disengaged, "
	    "full-speed)\ncommands:\tenable, disable\ncommands:\twatchdog "
	    "<timeout> (<timeout> is 0 (off), 1-120 (seconds))\n";
}

bool
exists(const std::string &path)
{
	struct stat st = {};
	return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string>
thinkpad_hwmons()
{
	std::vector<std::string> found;
	for (const auto &entry :
	    std::filesystem::directory_iterator(HWMON_CLASS)) {
		if (read_file(entry.path() / "name") == "thinkpad\n")
			found.push_back(entry.path().filename());
	}
	return found;
}

using EmulatorTest = EmulatedThinkpad;

struct read_row {
	const char *setup;
	std::string path;
	int error;
	std::string expected;
};

/* Through a descriptor opened afresh, and one kept open and re-read. */
TEST_F(EmulatorTest, FilesRead)
{
	const read_row rows[] = {
		{"", FAN_FILE, 0, fan_text("enabled", 2800, "auto")},
		{"register 0", FAN_FILE, 0, fan_text("disabled", 0, "0")},
		{"register 5", FAN_FILE, 0, fan_text("enabled", 3800, "5")},
		{"register 7", FAN_FILE, 0, fan_text("enabled", 4700, "7")},
		{"register 0x40", FAN_FILE, 0,
		    fan_text("enabled", 5700, "disengaged")},
		{"register 0xc5", FAN_FILE, 0,
		    fan_text("enabled", 5700, "disengaged")},
		{"register 0x83", FAN_FILE, 0, fan_text("enabled", 2800, "auto")},
		{"quirk unknown", FAN_FILE, 0,
		    fan_text("enabled", 2800, "unknown")},
		{"quirk absent", FAN_FILE, 0, fan_text("enabled", 2800, nullptr)},
		{"", FAN_CONTROL_FILE, 0, "Y\n"},
		{"", HWMON + "/name", 0, "thinkpad\n"},
		{"", HWMON + "/temp1_input", 0, "45000\n"},
		{"temp1 71", HWMON + "/temp1_input", 0, "71000\n"},
		{"temp1 -5", HWMON + "/temp1_input", 0, "-5000\n"},
		{"temp1 n/a", HWMON + "/temp1_input", ENXIO, ""},
		{"temp1 52", HWMON + "/temp1_input", 0, "52000\n"},
		{"temp1 fail", HWMON + "/temp1_input", EIO, ""},
		{"temp2 fail", HWMON + "/temp1_input", 0, "45000\n"},
		{"", HWMON + "/temp3_input", 0, "0\n"},
		{"", THERMAL_FILE, 0, "temperatures:\t45 42 0 0 0 0 0 0\n"},
		{"temp1 n/a", THERMAL_FILE, 0,
		    "temperatures:\t-128 42 0 0 0 0 0 0\n"},
		{"temp2 fail", THERMAL_FILE, EIO, ""},
		{"", THERMAL_ZONE_FILE, 0, "47050\n"},
		{"tz0 38500", THERMAL_ZONE_FILE, 0, "38500\n"},
		{"tz0 none", THERMAL_ZONE_FILE, ENOENT, ""},
		/* For a while after a resume, the driver's sensors alone. */
		{"resume 1", HWMON + "/temp1_input", ENXIO, ""},
		{"resume 1", THERMAL_FILE, 0,
		    "temperatures:\t-128 -128 -128 -128 -128 -128 -128 -128\n"},
		{"resume 1", THERMAL_ZONE_FILE, 0, "47050\n"},
		{"", HWMON_CLASS + "/hwmon0/name", 0, "coretemp\n"},
		{"", HWMON_CLASS + "/hwmon0/temp1_input", 0, "61000\n"},
		{"", HWMON_CLASS + "/hwmon5/name", 0, "acpi_fan\n"},
	};
	std::map<std::string, int> kept;
	for (const read_row &row : rows) {
		ASSERT_EQ(pad.control(std::string("resume\nregister 0x80\n"
		    "quirk normal\ntemp1 45\ntemp2 42\ntz0 47050\n") +
		    row.setup), 0);
		std::string fresh, again;
		EXPECT_EQ(read_once(row.path, &fresh), row.error) << row.setup;
		EXPECT_EQ(fresh, row.expected) << row.setup << " " << row.path;
		if (row.error == ENOENT)
			continue;
		if (!kept.contains(row.path))
			kept[row.path] = open(row.path.c_str(), O_RDONLY);
		EXPECT_EQ(pread_text(kept[row.path], &again), row.error)
		    << row.setup;
		EXPECT_EQ(again, row.expected) << row.setup << " " << row.path;
	}
	for (const auto &[path, fd] : kept)
		close(fd);
	EXPECT_TRUE(eventually([&] {
		return read_file(HWMON + "/temp1_input") == "45000\n";
	}, 3)) << "the sensors back after the resume";
	struct stat_row {
		std::string path;
		off_t size;
		mode_t mode;
	};
	/* As sysfs has them, the hwmon devices are links. */
	for (const stat_row &row : {stat_row{FAN_FILE, 0, S_IFREG | 0644},
	    stat_row{THERMAL_FILE, 0, S_IFREG | 0444},
	    stat_row{FAN_CONTROL_FILE, 4096, S_IFREG | 0444},
	    stat_row{HWMON + "/temp1_input", 4096, S_IFREG | 0444},
	    stat_row{HWMON, 0, S_IFLNK | 0777},
	    stat_row{HWMON_CLASS + "/hwmon0", 0, S_IFLNK | 0777},
	    stat_row{HWMON_CLASS + "/hwmon5", 0, S_IFLNK | 0777}}) {
		struct stat st = {};
		ASSERT_EQ(lstat(row.path.c_str(), &st), 0) << row.path;
		EXPECT_EQ(st.st_size, row.size) << row.path;
		EXPECT_EQ(st.st_mode, row.mode) << row.path;
	}
	EXPECT_EQ(write_once(FAN_CONTROL_FILE, "N\n"), EACCES);
}

struct command_row {
	const char *setup;
	std::string command;
	int error;
	int fan_register;	/* after it */
};

/* The register after a fan command, refused or not, or a resume. */
TEST_F(EmulatorTest, FanRegisterAfterCommandsAndResumes)
{
	const char *const control_off = "unload\nfan_control N\nload";
	const command_row rows[] = {
		{"", "level 0", 0, 0},
		{"", "level 7\n", 0, 7},
		{"register 3", "level auto", 0, FAN_AUTO},
		{"", "level full-speed", 0, FAN_FULL_SPEED},
		{"", "level disengaged\n", 0, FAN_FULL_SPEED},
		{"register 5", "disable", 0, 0},
		{"register 3", "enable", 0, FAN_AUTO},
		{"register 7", "enable", 0, 7},
		{"", "watchdog 0", 0, FAN_AUTO},
		{"", "level 2,watchdog 30", 0, 2},
		/* Stored as a byte, unchecked. */
		{"", "level -1", 0, 0xff},
		{"", "level 64", 0, FAN_FULL_SPEED},
		{"register 3", "level 128", 0, FAN_AUTO},
		{"", "level 200", 0, 0xc8},
		{"", "level 255", 0, 0xff},
		{"", "level 8", EINVAL, FAN_AUTO},
		{"", "level 63", EINVAL, FAN_AUTO},
		{"", "level 256", EINVAL, FAN_AUTO},
		{"", "level high", EINVAL, FAN_AUTO},
		{"", "watchdog 121", EINVAL, FAN_AUTO},
		{"", "watchdog -1", EINVAL, FAN_AUTO},
		{"", "speed 3", EINVAL, FAN_AUTO},
		{"", " level 3", EINVAL, FAN_AUTO},
		{"", "level 3,level 9", EINVAL, 3},
		{"", "level 3,", EINVAL, 3},
		/* At most PAGE_SIZE - 1 bytes. */
		{"", "level 3" + std::string(4088, ' '), 0, 3},
		{"", "level 3" + std::string(4089, ' '), EINVAL, FAN_AUTO},
		{control_off, "level 3", EINVAL, FAN_AUTO},
		{control_off, "level auto", EINVAL, FAN_AUTO},
		{control_off, "watchdog 20", EINVAL, FAN_AUTO},
		{control_off, "enable", EINVAL, FAN_AUTO},
		{"fail write fan EIO", "level 3", EIO, FAN_AUTO},
		/* A resume puts back only 7 and full speed. */
		{"register 3\nresume", "", 0, FAN_AUTO},
		{"register 0\nresume", "", 0, FAN_AUTO},
		{"register 6\nresume", "", 0, FAN_AUTO},
		{"register 7\nresume", "", 0, 7},
		{"register 0x40\nresume", "", 0, FAN_FULL_SPEED},
		{"register 0x80\nresume", "", 0, FAN_AUTO},
		{"register 7\nsuspend\nregister 3\nresume", "", 0, 7},
		{"register 3\nsuspend\nregister 7\nresume", "", 0, FAN_AUTO},
	};
	for (const command_row &row : rows) {
		ASSERT_EQ(pad.control(std::string("clear\nunload\n"
		    "fan_control Y\nload\nregister 0x80\n") + row.setup), 0);
		if (!row.command.empty()) {
			EXPECT_EQ(write_once(FAN_FILE, row.command), row.error)
			    << row.command;
		}
		EXPECT_EQ(pad.state().fan_register, row.fan_register)
		    << row.setup << " " << row.command;
	}
}

/* Each accepted command re-arms the watchdog; nothing else does. */
TEST_F(EmulatorTest, WatchdogArming)
{
	double before = monotonic_seconds();
	ASSERT_EQ(write_once(FAN_FILE, "watchdog 20"), 0);
	emulated_state armed = pad.state();
	ASSERT_TRUE(armed.armed);
	EXPECT_EQ(armed.watchdog, 20);
	EXPECT_GE(armed.expiry, before + 20);
	EXPECT_LE(armed.expiry, monotonic_seconds() + 20);

	std::this_thread::sleep_for(std::chrono::milliseconds(20));
	ASSERT_EQ(write_once(FAN_FILE, "level 3"), 0);
	double rearmed = pad.state().expiry;
	EXPECT_GE(rearmed, armed.expiry + 0.02);
	EXPECT_EQ(write_once(FAN_FILE, "level 9"), EINVAL);
	EXPECT_NE(read_file(FAN_FILE), "");
	EXPECT_EQ(pad.state().expiry, rearmed);
	ASSERT_EQ(pad.control("suspend\nresume"), 0);
	EXPECT_EQ(pad.state().expiry, rearmed) << "a resume neither cancels "
	    "nor re-arms it";

	/* Time the watchdog alone lives ahead: it runs out at once. */
	ASSERT_EQ(pad.control("advance 19"), 0);
	EXPECT_NEAR(pad.state().expiry, rearmed - 19, 1e-6);
	EXPECT_TRUE(pad.records_from("watchdog").empty());
	ASSERT_EQ(pad.control("advance 1"), 0);
	emulated_state expired = pad.state();
	EXPECT_FALSE(expired.armed);
	EXPECT_EQ(expired.fan_register, FAN_AUTO);
	EXPECT_EQ(pad.records_from("watchdog").size(), 1u);

	ASSERT_EQ(write_once(FAN_FILE, "watchdog 0"), 0);
	EXPECT_FALSE(pad.state().armed);
	ASSERT_EQ(write_once(FAN_FILE, "level 4"), 0);
	EXPECT_FALSE(pad.state().armed);
}

struct expiry_case {
	const char *name;
	const char *level;
	int fan_register;	/* once the watchdog ran out */
};

class WatchdogExpiry : public EmulatedThinkpad,
    public testing::WithParamInterface<expiry_case> {};

/* Does what "enable" does, logged on time, then stays stopped. */
TEST_P(WatchdogExpiry, HandsTheFanBack)
{
	ASSERT_EQ(write_once(FAN_FILE, GetParam().level), 0);
	ASSERT_EQ(write_once(FAN_FILE, "watchdog 1"), 0);
	double armed_at = pad.records_from("fan").back().time;
	int expired = first_match<emulator_record>(
	    [&] { return pad.records(); }, 0,
	    [](const emulator_record &r) { return r.source == "watchdog"; }, 3);
	ASSERT_NE(expired, -1) << pad.dump();
	emulator_record record = pad.records()[static_cast<size_t>(expired)];
	EXPECT_EQ(record.text, "expired");
	EXPECT_GE(record.time - armed_at, 1.0);
	EXPECT_LT(record.time - armed_at, 1.5);
	emulated_state after = pad.state();
	EXPECT_EQ(after.fan_register, GetParam().fan_register);
	EXPECT_FALSE(after.armed);
	EXPECT_EQ(after.watchdog, 1);
	ASSERT_EQ(write_once(FAN_FILE, "level 2"), 0);
	EXPECT_TRUE(pad.state().armed);
}

const expiry_case expiry_cases[] = {
	{"Level3", "level 3", FAN_AUTO},
	{"Level7Kept", "level 7", 7},
	{"FullSpeed", "level full-speed", FAN_AUTO},
};

INSTANTIATE_TEST_SUITE_P(Levels, WatchdogExpiry,
    testing::ValuesIn(expiry_cases), table_cases::by_name);

TEST_F(EmulatorTest, UnloadAndLoad)
{
	int fan = open(FAN_FILE.c_str(), O_RDWR);
	int temp1 = open((HWMON + "/temp1_input").c_str(), O_RDONLY);
	ASSERT_NE(fan, -1);
	ASSERT_NE(temp1, -1);
	ASSERT_EQ(write(fan, "level 4", 7), 7);
	ASSERT_EQ(write(fan, "watchdog 30", 11), 11);
	/* Found by its name, neither the first device nor the last. */
	EXPECT_EQ(thinkpad_hwmons(), std::vector<std::string>{"hwmon3"});

	ASSERT_EQ(pad.control("unload"), 0);
	for (const std::string &gone : {FAN_FILE, THERMAL_FILE,
	    std::string("/proc/acpi/ibm"), FAN_CONTROL_FILE,
	    std::string("/sys/module/thinkpad_acpi"), HWMON})
		EXPECT_FALSE(exists(gone)) << gone;
	EXPECT_TRUE(thinkpad_hwmons().empty());
	EXPECT_EQ(read_file(HWMON_CLASS + "/hwmon0/name"), "coretemp\n");
	emulated_state unloaded = pad.state();
	EXPECT_FALSE(unloaded.armed);
	EXPECT_EQ(unloaded.fan_register, 4);

	ASSERT_EQ(pad.control("load"), 0);
	EXPECT_TRUE(exists(FAN_FILE));
	emulated_state loaded = pad.state();
	EXPECT_EQ(loaded.watchdog, 0);
	EXPECT_FALSE(loaded.armed);
	EXPECT_EQ(loaded.fan_register, 4);

	/* Descriptors of the driver that was unloaded stay dead. */
	std::string text;
	EXPECT_EQ(pread_text(fan, &text), EIO);
	EXPECT_EQ(write(fan, "level 2", 7), -1);
	EXPECT_EQ(errno, EIO);
	EXPECT_EQ(pread_text(temp1, &text), ENODEV);
	close(fan);
	close(temp1);
}

/* Refused while loaded (see ControlCommandsRefused); seen at the load. */
TEST_F(EmulatorTest, TheModelIsChosenWhileUnloaded)
{
	ASSERT_EQ(pad.control("unload\nhwmon 1\nsensors off\nfan_control N"),
	    0);
	EXPECT_FALSE(exists(FAN_CONTROL_FILE));
	ASSERT_EQ(pad.control("load"), 0);
	EXPECT_EQ(thinkpad_hwmons(), std::vector<std::string>{"hwmon1"});
	EXPECT_FALSE(exists(THERMAL_FILE));
	EXPECT_FALSE(exists(HWMON_CLASS + "/hwmon1/temp1_input"));
	EXPECT_TRUE(exists(THERMAL_ZONE_FILE));
	EXPECT_EQ(read_file(FAN_CONTROL_FILE), "N\n");
	EXPECT_EQ(read_file(FAN_FILE),
	    "status:\t\tenabled\nspeed:\t\t2800\nlevel:\t\tauto\n");
}

struct fault_row {
	std::string fault;
	std::string path;
	bool writing;
	int error;
};

TEST_F(EmulatorTest, InjectedFaults)
{
	const fault_row rows[] = {
		{"fail open fan EACCES", FAN_FILE, false, EACCES},
		{"fail read fan EIO", FAN_FILE, false, EIO},
		{"fail write fan EINTR", FAN_FILE, true, EINTR},
		{"fail read temp1_input EIO", HWMON + "/temp1_input", false,
		    EIO},
		{"fail read fan_control 5", FAN_CONTROL_FILE, false, EIO},
		{"fail read tz0 ENODEV", THERMAL_ZONE_FILE, false, ENODEV},
	};
	for (const fault_row &row : rows) {
		ASSERT_EQ(pad.control("clear\n" + row.fault + " 1"), 0);
		std::string text;
		auto attempt = [&] {
			return row.writing ? write_once(row.path, "level 1") :
			    read_once(row.path, &text);
		};
		EXPECT_EQ(attempt(), row.error) << row.fault;
		EXPECT_EQ(attempt(), 0) << row.fault << ": only once";
	}
	std::vector<emulator_record> faults = pad.records_from("fault");
	ASSERT_EQ(faults.size(), 5u) << pad.dump();
	EXPECT_EQ(faults[0].text, "open fan");
	EXPECT_EQ(faults[0].result, "EACCES");
	EXPECT_EQ(faults[2].text, "read temp1_input");
	EXPECT_EQ(pad.records_from("fan")[0].result, "EINTR");
}

TEST_F(EmulatorTest, ControlCommandsRefused)
{
	const std::pair<int, std::vector<std::string>> refusals[] = {
		{EINVAL, {"bogus", "temp9 40", "temp1 128", "temp1",
		    "fan_control 1", "register 256", "resume 61", "advance 0",
		    "quirk odd", "hwmon 100", "tz0 hot", "load now",
		    "fail read nothing EIO", "fail read fan ENOSUCH",
		    "fail peek fan EIO", "fail read ctl EIO"}},
		{EEXIST, {"hwmon 0", "hwmon 5"}},
		/* The model and the parameter, while the driver is loaded. */
		{EBUSY, {"hwmon 1", "sensors off", "fan_control N"}},
	};
	for (const auto &[error, commands] : refusals) {
		for (const std::string &command : commands)
			EXPECT_EQ(pad.control(command), error) << command;
	}
	/* Nothing of them is kept for the next load. */
	ASSERT_EQ(pad.control("unload\nload"), 0);
	EXPECT_EQ(pad.state().hwmon, 3);
	EXPECT_TRUE(pad.state().fan_control);
	EXPECT_TRUE(exists(THERMAL_FILE));
	/* A refusal ends the write: what came before it stays done. */
	EXPECT_EQ(pad.control("temp1 50\nbogus\ntemp1 60"), EINVAL);
	EXPECT_EQ(read_file(HWMON + "/temp1_input"), "50000\n");
}

TEST_F(EmulatorTest, LogRecordsEveryCommandOnTime)
{
	double before = monotonic_seconds();
	ASSERT_EQ(write_once(FAN_FILE, "level 3\n"), 0);
	ASSERT_EQ(write_once(FAN_FILE, "level\x01\\"), EINVAL);
	ASSERT_EQ(pad.control("temp1 50"), 0);
	ASSERT_EQ(write_once(THERMAL_FILE, "x"), EINVAL);
	double after = monotonic_seconds();
	std::vector<std::string> logged;
	double last = before;
	for (const emulator_record &r : pad.records()) {
		logged.push_back(r.source + " " + r.result + " " + r.text);
		EXPECT_GE(r.time, last) << logged.back();
		EXPECT_LE(r.time, after) << logged.back();
		last = r.time;
	}
	EXPECT_EQ(logged, (std::vector<std::string>{"fan ok level 3\n",
	    "fan EINVAL level\x01\\", "ctl ok temp1 50", "thermal EINVAL x"}));
	EXPECT_NE(pad.dump().find(" fan EINVAL level\\x01\\\\\n"),
	    std::string::npos);
}

/* The way a script or an administrator writes and reads the files. */
TEST_F(EmulatorTest, ShellRedirections)
{
	run_result shell = run_program("/bin/sh", {"sh", "-c",
	    "echo level 4 > " + FAN_FILE + " && grep level: " + FAN_FILE +
	    " && ! echo 1 2>/dev/null > " + HWMON + "/temp1_input"},
	    "");
	EXPECT_EQ(shell.status, 0) << shell.err;
	EXPECT_EQ(shell.out, "level:\t\t4\n");
}

struct modprobe_row {
	modprobe_action action;
	int status;
	bool loaded;
	std::string message;	/* what its standard error begins with */
};

TEST_F(EmulatorTest, StandInModprobe)
{
	const modprobe_row rows[] = {
		{modprobe_action::loads, 0, true, ""},
		{modprobe_action::fails, 1, false, "modprobe: FATAL: Module "
		    "thinkpad_acpi not found in directory "
		    "/lib/modules/emulated\n"},
		{modprobe_action::fails, 3, false, "modprobe: FATAL"},
		{modprobe_action::does_nothing, 0, false, ""},
	};
	for (const modprobe_row &row : rows) {
		ASSERT_EQ(pad.control("unload"), 0);
		pad.set_modprobe(row.action, row.status);
		run_result run = run_program("/sbin/modprobe",
		    {"modprobe", "thinkpad_acpi"}, "");
		EXPECT_EQ(run.status, row.status);
		EXPECT_TRUE(run.err.starts_with(row.message)) << run.err;
		EXPECT_EQ(pad.state().loaded, row.loaded);
		EXPECT_EQ(exists(FAN_FILE), row.loaded);
	}
	EXPECT_EQ(pad.modprobe_runs(), std::vector<std::string>(4,
	    "/sbin/modprobe thinkpad_acpi"));
}

TEST_F(EmulatorTest, SystemLogSocket)
{
	pad.listen_syslog();
	pid_t child = fork();
	ASSERT_NE(child, -1);
	if (child == 0) {
		openlog("coolrung", LOG_PID, LOG_DAEMON);
		syslog(LOG_WARNING, "fan level %d", 3);
		_exit(0);
	}
	ASSERT_EQ(waitpid(child, nullptr, 0), child);
	ASSERT_TRUE(eventually([&] { return !pad.syslog().empty(); }, 3));
	const syslog_record &line = pad.syslog()[0];
	EXPECT_EQ(line.priority, LOG_DAEMON | LOG_WARNING) << line.raw;
	EXPECT_EQ(line.ident, "coolrung") << line.raw;
	EXPECT_EQ(line.pid, child) << line.raw;
	EXPECT_EQ(line.text, "fan level 3") << line.raw;
}

/* What stop() must end: a process that left its parent and its group. */
TEST_F(EmulatorTest, StopEndsDetachedProcesses)
{
	run_result detach = run_program("/bin/sh", {"sh", "-c",
	    "(trap '' TERM; exec sleep 30) >/dev/null 2>&1 & echo $!"}, "");
	pid_t orphan = atoi(detach.out.c_str());
	ASSERT_GT(orphan, 0);
	EXPECT_EQ(kill(orphan, 0), 0);
	pad.stop();
	EXPECT_EQ(kill(orphan, 0), -1);
	EXPECT_FALSE(exists(FAN_FILE));
}

}
