/*
 * The emulated thinkpad_acpi against what the notes on Linux say of the
 * real driver, through the real paths as the daemon opens them: the read
 * formats, each refusal and its errno, the values stored unchecked, the
 * watchdog, resume, loading and unloading, the model quirk, the log, the
 * stand-in modprobe and the /dev/log socket.
 */
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "emulated_thinkpad.h"
#include "harness.h"

namespace {

const std::string THERMAL_FILE = "/proc/acpi/ibm/thermal";
const std::string COMMAND_LINES =
    "commands:\tlevel <level> (<level> is 0-7, auto, disengaged, full-speed)\n"
    "commands:\tenable, disable\n"
    "commands:\twatchdog <timeout> (<timeout> is 0 (off), 1-120 (seconds))\n";
const int FAN_AUTO = 0x80;
const int FAN_FULL_SPEED = 0x40;

/* One write(2): 0 or its errno. */
int
write_once(const std::string &path, const std::string &text)
{
	int fd = open(path.c_str(), O_WRONLY);
	if (fd == -1)
		return errno;
	int error = write(fd, text.data(), text.size()) == -1 ? errno : 0;
	close(fd);
	return error;
}

/* A read from offset 0 of a descriptor kept open: 0 or its errno. */
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

std::string
fan_text(const char *status, int speed, const char *level)
{
	return std::string("status:\t\t") + status + "\nspeed:\t\t" +
	    std::to_string(speed) + "\nlevel:\t\t" + level + "\n" +
	    COMMAND_LINES;
}

bool
exists(const std::string &path)
{
	struct stat st = {};
	return lstat(path.c_str(), &st) == 0;
}

/* The names in /sys/class/hwmon whose name file reads "thinkpad". */
std::vector<std::string>
thinkpad_hwmons()
{
	std::vector<std::string> found;
	DIR *dir = opendir(HWMON_CLASS.c_str());
	if (dir == nullptr)
		return found;
	while (const dirent *entry = readdir(dir)) {
		std::string name = entry->d_name;
		if (name.compare(0, 5, "hwmon") == 0 &&
		    read_file(HWMON_CLASS + "/" + name + "/name") == "thinkpad\n")
			found.push_back(name);
	}
	closedir(dir);
	return found;
}

using EmulatorTest = EmulatedThinkpad;

struct fan_read_row {
	const char *setup;
	std::string expected;
};

TEST_F(EmulatorTest, FanFileReadsBackTheRegister)
{
	const fan_read_row rows[] = {
		{"", fan_text("enabled", 2800, "auto")},
		{"register 0", fan_text("disabled", 0, "0")},
		{"register 5", fan_text("enabled", 3800, "5")},
		{"register 7", fan_text("enabled", 4700, "7")},
		{"register 0x40", fan_text("enabled", 5700, "disengaged")},
		{"register 0xc5", fan_text("enabled", 5700, "disengaged")},
		{"register 0x83", fan_text("enabled", 2800, "auto")},
		{"fan_control N",
		    "status:\t\tenabled\nspeed:\t\t2800\nlevel:\t\tauto\n"},
		{"quirk unknown", "status:\t\tenabled\nspeed:\t\t2800\n"
		    "level:\t\tunknown\n" + COMMAND_LINES},
		{"quirk absent",
		    "status:\t\tenabled\nspeed:\t\t2800\n" + COMMAND_LINES},
	};
	int fd = open(FAN_FILE.c_str(), O_RDONLY);
	ASSERT_NE(fd, -1);
	for (const fan_read_row &row : rows) {
		ASSERT_EQ(pad.control(std::string("register 0x80\nfan_control Y\n"
		    "quirk normal\n") + row.setup), 0);
		std::string text;
		EXPECT_EQ(pread_text(fd, &text), 0) << row.setup;
		EXPECT_EQ(text, row.expected) << row.setup;
	}
	close(fd);
	struct stat st = {};
	ASSERT_EQ(stat(FAN_FILE.c_str(), &st), 0);
	EXPECT_EQ(st.st_size, 0);
	EXPECT_EQ(st.st_mode & 07777, 0644u);
}

struct sensor_row {
	const char *setup;
	std::string path;	/* "HWMON/" stands for the driver's hwmon */
	int error;
	std::string expected;
};

TEST_F(EmulatorTest, SensorsAndParameterRead)
{
	const sensor_row rows[] = {
		{"", FAN_CONTROL_FILE, 0, "Y\n"},
		{"fan_control N", FAN_CONTROL_FILE, 0, "N\n"},
		{"", "HWMON/name", 0, "thinkpad\n"},
		{"", "HWMON/temp1_input", 0, "45000\n"},
		{"temp1 71", "HWMON/temp1_input", 0, "71000\n"},
		{"temp1 -5", "HWMON/temp1_input", 0, "-5000\n"},
		{"", "HWMON/temp3_input", 0, "0\n"},
		{"temp1 n/a", "HWMON/temp1_input", ENXIO, ""},
		{"temp1 fail", "HWMON/temp1_input", EIO, ""},
		{"temp2 fail", "HWMON/temp1_input", 0, "45000\n"},
		{"", THERMAL_FILE, 0, "temperatures:\t45 42 0 0 0 0 0 0\n"},
		{"temp1 n/a", THERMAL_FILE, 0,
		    "temperatures:\t-128 42 0 0 0 0 0 0\n"},
		{"temp2 fail", THERMAL_FILE, EIO, ""},
		{"", THERMAL_ZONE_FILE, 0, "47050\n"},
		{"tz0 38500", THERMAL_ZONE_FILE, 0, "38500\n"},
		{"tz0 none", THERMAL_ZONE_FILE, ENOENT, ""},
	};
	const std::string hwmon = pad.hwmon_path();
	for (const sensor_row &row : rows) {
		ASSERT_EQ(pad.control(std::string("fan_control Y\ntemp1 45\n"
		    "temp2 42\ntz0 47050\n") + row.setup), 0);
		std::string path = row.path.compare(0, 6, "HWMON/") == 0 ?
		    hwmon + row.path.substr(5) : row.path;
		std::string text;
		EXPECT_EQ(read_once(path, &text), row.error) << row.setup << " " << path;
		EXPECT_EQ(text, row.expected) << row.setup << " " << path;
	}
	struct stat st = {};
	ASSERT_EQ(stat((hwmon + "/temp1_input").c_str(), &st), 0);
	EXPECT_EQ(st.st_size, 4096);
	EXPECT_EQ(open(FAN_CONTROL_FILE.c_str(), O_WRONLY), -1);
	EXPECT_EQ(errno, EACCES);
}

/* A descriptor opened once sees each new value at offset 0. */
TEST_F(EmulatorTest, OpenedOnceRereadsFreshValues)
{
	int fd = open((pad.hwmon_path() + "/temp1_input").c_str(), O_RDONLY);
	ASSERT_NE(fd, -1);
	std::string text;
	for (const char *degrees : {"50", "51", "n/a", "52"}) {
		ASSERT_EQ(pad.control(std::string("temp1 ") + degrees), 0);
		int error = pread_text(fd, &text);
		if (std::string(degrees) == "n/a")
			EXPECT_EQ(error, ENXIO);
		else
			EXPECT_EQ(text, std::string(degrees) + "000\n");
	}
	close(fd);
}

struct command_row {
	const char *setup;
	std::string command;
	int error;
	int fan_register;	/* after it */
};

TEST_F(EmulatorTest, FanCommandsAndTheirRefusals)
{
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
		/* Refused. */
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
		{"fan_control N", "level 3", EINVAL, FAN_AUTO},
		{"fan_control N", "level auto", EINVAL, FAN_AUTO},
		{"fan_control N", "watchdog 20", EINVAL, FAN_AUTO},
		{"fan_control N", "enable", EINVAL, FAN_AUTO},
		{"fail write fan EIO", "level 3", EIO, FAN_AUTO},
	};
	for (const command_row &row : rows) {
		ASSERT_EQ(pad.control(std::string("clear\nfan_control Y\n"
		    "register 0x80\n") + row.setup), 0);
		EXPECT_EQ(write_once(FAN_FILE, row.command), row.error)
		    << row.command;
		EXPECT_EQ(pad.state().fan_register, row.fan_register)
		    << row.command;
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

	std::string text;
	EXPECT_EQ(write_once(FAN_FILE, "level 9"), EINVAL);
	EXPECT_EQ(read_once(FAN_FILE, &text), 0);
	EXPECT_EQ(pad.state().expiry, rearmed);

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

struct expiry_row {
	const char *name;
	const char *level;
	int fan_register;	/* once the watchdog ran out */
};

void
PrintTo(const expiry_row &row, std::ostream *out)
{
	*out << row.level;
}

class WatchdogExpiry : public EmulatedThinkpad,
		       public testing::WithParamInterface<expiry_row> {
};

/* Does what "enable" does, logged on time, then stays stopped. */
TEST_P(WatchdogExpiry, HandsTheFanBack)
{
	ASSERT_EQ(write_once(FAN_FILE, GetParam().level), 0);
	ASSERT_EQ(write_once(FAN_FILE, "watchdog 1"), 0);
	double armed_at = pad.records_from("fan").back().time;
	int expired = wait_for_record(pad, 0, [](const emulator_record &r) {
		return r.source == "watchdog";
	}, 3);
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

INSTANTIATE_TEST_SUITE_P(Levels, WatchdogExpiry, testing::Values(
    expiry_row{"Level3", "level 3", FAN_AUTO},
    expiry_row{"Level7Kept", "level 7", 7},
    expiry_row{"FullSpeed", "level full-speed", FAN_AUTO}),
    [](const testing::TestParamInfo<expiry_row> &info) {
	    return std::string(info.param.name);
    });

struct resume_row {
	const char *before;	/* control commands before the resume */
	int fan_register;	/* after it */
};

TEST_F(EmulatorTest, ResumeRestoresOnlySevenAndFullSpeed)
{
	const resume_row rows[] = {
		{"register 3", FAN_AUTO},
		{"register 0", FAN_AUTO},
		{"register 6", FAN_AUTO},
		{"register 7", 7},
		{"register 0x40", FAN_FULL_SPEED},
		{"register 0x80", FAN_AUTO},
		{"register 7\nsuspend\nregister 3", 7},
		{"register 3\nsuspend\nregister 7", FAN_AUTO},
	};
	ASSERT_EQ(write_once(FAN_FILE, "watchdog 60"), 0);
	double expiry = pad.state().expiry;
	for (const resume_row &row : rows) {
		ASSERT_EQ(pad.control(std::string(row.before) + "\nresume"), 0);
		EXPECT_EQ(pad.state().fan_register, row.fan_register)
		    << row.before;
	}
	EXPECT_EQ(pad.state().expiry, expiry);
}

TEST_F(EmulatorTest, SensorsReadNotAvailableAfterAResume)
{
	std::string temp1 = pad.hwmon_path() + "/temp1_input";
	std::string text;
	ASSERT_EQ(pad.control("resume 1"), 0);
	EXPECT_EQ(read_once(temp1, &text), ENXIO);
	EXPECT_EQ(read_once(THERMAL_FILE, &text), 0);
	EXPECT_EQ(text, "temperatures:\t-128 -128 -128 -128 -128 -128 -128 "
	    "-128\n");
	EXPECT_EQ(read_once(THERMAL_ZONE_FILE, &text), 0);
	EXPECT_TRUE(eventually([&] {
		return read_once(temp1, &text) == 0 && text == "45000\n";
	}, 3));
}

TEST_F(EmulatorTest, UnloadAndLoad)
{
	std::string hwmon = pad.hwmon_path();
	int fan = open(FAN_FILE.c_str(), O_RDWR);
	int temp1 = open((hwmon + "/temp1_input").c_str(), O_RDONLY);
	ASSERT_NE(fan, -1);
	ASSERT_NE(temp1, -1);
	ASSERT_EQ(write(fan, "level 4", 7), 7);
	ASSERT_EQ(write(fan, "watchdog 30", 11), 11);

	ASSERT_EQ(pad.control("unload"), 0);
	for (const std::string &gone : {FAN_FILE, THERMAL_FILE,
	    std::string("/proc/acpi/ibm"), FAN_CONTROL_FILE,
	    std::string("/sys/module/thinkpad_acpi"), hwmon})
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

TEST_F(EmulatorTest, TheModelIsChosenWhileUnloaded)
{
	EXPECT_EQ(pad.control("hwmon 1"), EBUSY);
	EXPECT_EQ(pad.control("sensors off"), EBUSY);
	ASSERT_EQ(pad.control("unload\nhwmon 1\nsensors off\nload"), 0);
	EXPECT_EQ(thinkpad_hwmons(), std::vector<std::string>{"hwmon1"});
	EXPECT_TRUE(exists(FAN_FILE));
	EXPECT_FALSE(exists(THERMAL_FILE));
	EXPECT_FALSE(exists(HWMON_CLASS + "/hwmon1/temp1_input"));
	EXPECT_TRUE(exists(THERMAL_ZONE_FILE));
}

/* Links, as sysfs has them; the driver's device neither first nor last. */
TEST_F(EmulatorTest, HwmonDevicesAreLinksFoundByName)
{
	std::vector<std::string> found = thinkpad_hwmons();
	ASSERT_EQ(found.size(), 1u);
	EXPECT_EQ(read_file(HWMON_CLASS + "/hwmon0/name"), "coretemp\n");
	EXPECT_EQ(read_file(HWMON_CLASS + "/hwmon5/name"), "acpi_fan\n");
	EXPECT_NE(found[0], "hwmon0");
	EXPECT_NE(found[0], "hwmon5");
	for (const std::string &name : {std::string("hwmon0"),
	    std::string("hwmon5"), found[0]}) {
		struct stat st = {};
		ASSERT_EQ(lstat((HWMON_CLASS + "/" + name).c_str(), &st), 0);
		EXPECT_TRUE(S_ISLNK(st.st_mode)) << name;
	}
	EXPECT_NE(read_file(HWMON_CLASS + "/hwmon0/temp1_input"),
	    read_file(HWMON_CLASS + "/" + found[0] + "/temp1_input"));
}

struct fault_row {
	const char *fault;
	const char *path;	/* "HWMON/" as above */
	bool writing;
	int error;
};

TEST_F(EmulatorTest, InjectedFaults)
{
	const fault_row rows[] = {
		{"fail open fan EACCES", "/proc/acpi/ibm/fan", false, EACCES},
		{"fail read fan EIO", "/proc/acpi/ibm/fan", false, EIO},
		{"fail write fan EINTR", "/proc/acpi/ibm/fan", true, EINTR},
		{"fail read temp1_input EIO", "HWMON/temp1_input", false, EIO},
		{"fail read fan_control 5", FAN_CONTROL_FILE.c_str(), false, EIO},
		{"fail read tz0 ENODEV", THERMAL_ZONE_FILE.c_str(), false, ENODEV},
	};
	std::string hwmon = pad.hwmon_path();
	for (const fault_row &row : rows) {
		ASSERT_EQ(pad.control(std::string("clear\n") + row.fault + " 1"), 0);
		std::string path = std::string(row.path).compare(0, 6, "HWMON/") == 0 ?
		    hwmon + (row.path + 5) : row.path;
		std::string text;
		auto attempt = [&] {
			return row.writing ? write_once(path, "level 1") :
			    read_once(path, &text);
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

struct control_row {
	const char *command;
	int error;
};

TEST_F(EmulatorTest, ControlCommandsRefused)
{
	const control_row rows[] = {
		{"bogus", EINVAL},
		{"temp9 40", EINVAL},
		{"temp1 128", EINVAL},
		{"temp1", EINVAL},
		{"fan_control 1", EINVAL},
		{"register 256", EINVAL},
		{"resume 61", EINVAL},
		{"advance 0", EINVAL},
		{"quirk odd", EINVAL},
		{"hwmon 0", EEXIST},
		{"hwmon 5", EEXIST},
		{"hwmon 100", EINVAL},
		{"tz0 hot", EINVAL},
		{"fail read nothing EIO", EINVAL},
		{"fail read fan ENOSUCH", EINVAL},
		{"fail peek fan EIO", EINVAL},
		{"fail read ctl EIO", EINVAL},
		{"load now", EINVAL},
	};
	for (const control_row &row : rows)
		EXPECT_EQ(pad.control(row.command), row.error) << row.command;
	/* A refusal ends the write: what came before it stays done. */
	EXPECT_EQ(pad.control("temp1 50\nbogus\ntemp1 60"), EINVAL);
	std::string text;
	ASSERT_EQ(read_once(pad.hwmon_path() + "/temp1_input", &text), 0);
	EXPECT_EQ(text, "50000\n");
}

TEST_F(EmulatorTest, LogRecordsEveryCommandOnTime)
{
	double before = monotonic_seconds();
	ASSERT_EQ(write_once(FAN_FILE, "level 3\n"), 0);
	ASSERT_EQ(write_once(FAN_FILE, "level\x01\\"), EINVAL);
	ASSERT_EQ(pad.control("temp1 50"), 0);
	ASSERT_EQ(write_once(THERMAL_FILE, "x"), EINVAL);
	double after = monotonic_seconds();
	std::vector<emulator_record> records = pad.records();
	ASSERT_EQ(records.size(), 4u) << pad.dump();
	const emulator_record expected[] = {
		{0, "fan", "ok", "level 3\n"},
		{0, "fan", "EINVAL", "level\x01\\"},
		{0, "ctl", "ok", "temp1 50"},
		{0, "thermal", "EINVAL", "x"},
	};
	for (size_t i = 0; i < records.size(); i++) {
		EXPECT_EQ(records[i].source, expected[i].source) << i;
		EXPECT_EQ(records[i].result, expected[i].result) << i;
		EXPECT_EQ(records[i].text, expected[i].text) << i;
		EXPECT_GE(records[i].time, before) << i;
		EXPECT_LE(records[i].time, after) << i;
		EXPECT_GE(records[i].time, i > 0 ? records[i - 1].time : 0) << i;
	}
	EXPECT_NE(pad.dump().find(" fan EINVAL level\\x01\\\\\n"),
	    std::string::npos);
}

/* The way a script or an administrator writes and reads the files. */
TEST_F(EmulatorTest, ShellRedirections)
{
	run_result shell = run_program("/bin/sh", {"sh", "-c",
	    "echo level 4 > " + FAN_FILE + " && grep level: " + FAN_FILE +
	    " && ! echo 1 2>/dev/null > " + pad.hwmon_path() + "/temp1_input"},
	    "");
	EXPECT_EQ(shell.status, 0) << shell.err;
	EXPECT_EQ(shell.out, "level:\t\t4\n");
}

struct modprobe_row {
	modprobe_action action;
	int status;
	bool loaded;
	const char *message;
};

TEST_F(EmulatorTest, StandInModprobe)
{
	const modprobe_row rows[] = {
		{modprobe_action::loads, 0, true, ""},
		{modprobe_action::fails, 1, false, "modprobe: FATAL: Module "
		    "thinkpad_acpi not found in directory /lib/modules/emulated\n"},
		{modprobe_action::fails, 3, false, "modprobe: FATAL"},
		{modprobe_action::does_nothing, 0, false, ""},
	};
	for (const modprobe_row &row : rows) {
		ASSERT_EQ(pad.control("unload"), 0);
		pad.set_modprobe(row.action, row.status);
		run_result run = run_program("/sbin/modprobe",
		    {"modprobe", "thinkpad_acpi"}, "");
		EXPECT_EQ(run.status, row.status);
		EXPECT_EQ(run.err.compare(0, strlen(row.message), row.message), 0)
		    << run.err;
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
