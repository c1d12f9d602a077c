/*
 * The fan and the temperature through Linux's thinkpad_acpi driver: the
 * fan's procfs file, which takes one command a write, and the driver's
 * hwmon temperature or, where it has none, the first thermal zone.  The
 * driver's watchdog gives the fan back to the firmware by itself once the
 * daemon has been silent for WATCHDOG_SECONDS: killed, hung or stopped.
 */
#include "fan.h"

#include <sys/wait.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "fatal.h"
#include "safe_text.h"

constexpr const char *DRIVER_MODULE = "thinkpad_acpi";
constexpr const char *MODPROBE = "/sbin/modprobe";
constexpr int EXIT_DRIVER_MISSING = 1;

constexpr const char *FAN_FILE = "/proc/acpi/ibm/fan";
constexpr const char *FAN_CONTROL =
    "/sys/module/thinkpad_acpi/parameters/fan_control";
constexpr const char *HWMON_DIRECTORY = "/sys/class/hwmon";
constexpr const char *HWMON_NAME = "thinkpad";
constexpr const char *THERMAL_ZONE = "/sys/class/thermal/thermal_zone0/temp";

/* Re-armed at half its span, so one late poll never lets it fire. */
constexpr int WATCHDOG_SECONDS = 20;
constexpr int MILLI = 1000;		/* the files' milli-degrees */
constexpr int32_t HIGHEST_LEVEL = 7;	/* the driver takes 8-255 silently */
constexpr size_t READ_SIZE = 512;

/* Opened when the fan is taken: nothing is opened while polling. */
static int fan_commands = -1;
static int fan_status = -1;
static int temperature = -1;
static char temperature_path[PATH_MAX] = "";
static int32_t level_held = -1;
static struct timespec last_command;

static void
run_modprobe()
{
	char *const argv[] = {const_cast<char *>(MODPROBE),
	    const_cast<char *>(DRIVER_MODULE), nullptr};
	pid_t child = fork();

	if (child == 0) {
		execv(MODPROBE, argv);
		_exit(127);
	}
	int status;
	while (child > 0 && waitpid(child, &status, 0) == -1 && errno == EINTR)
		;
}

/* modprobe's own outcome does not count: whether the file is there does. */
void
ensure_fan_driver()
{
	if (access(FAN_FILE, F_OK) == 0)
		return;
	run_modprobe();
	if (access(FAN_FILE, F_OK) == -1)
		fail_with(EXIT_DRIVER_MISSING, errno,
		    "Module thinkpad_acpi load failed");
}

static double
seconds_since(const struct timespec &then)
{
	struct timespec now;

	clock_gettime(CLOCK_MONOTONIC, &now);
	return static_cast<double>(now.tv_sec - then.tv_sec) +
	    static_cast<double>(now.tv_nsec - then.tv_nsec) / 1e9;
}

/*
 * One command, one write(2), as the driver wants it.  Async-signal-safe:
 * the hand-back from a fault handler comes through here, before the file
 * was opened too.
 */
static bool
send_command(const char *text)
{
	safe_text line = {};
	int fd = fan_commands;

	safe_append(&line, text);
	safe_append(&line, "\n");
	if (fd == -1 && (fd = open(FAN_FILE, O_WRONLY | O_CLOEXEC)) == -1)
		return false;
	ssize_t n;
	do
		n = write(fd, line.text, line.length);
	while (n == -1 && errno == EINTR);
	int error = errno;
	if (fd != fan_commands)
		close(fd);
	if (n != static_cast<ssize_t>(line.length)) {
		errno = n == -1 ? error : EIO;
		return false;
	}
	/* Every command the driver takes re-arms its watchdog. */
	clock_gettime(CLOCK_MONOTONIC, &last_command);
	return true;
}

static bool
send_numbered(const char *word, long long number)
{
	safe_text command = {};

	safe_append(&command, word);
	safe_append_number(&command, number);
	return send_command(command.text);
}

/* The file's text from its start into buffer; false when it cannot be read. */
static bool
read_from_start(int fd, char *buffer, size_t size)
{
	ssize_t n;

	do
		n = pread(fd, buffer, size - 1, 0);
	while (n == -1 && errno == EINTR);
	if (n <= 0) {
		if (n == 0)
			errno = 0;
		return false;
	}
	buffer[n] = '\0';
	return true;
}

/*
 * fan_control is read when the module loads: a loaded driver that refuses
 * every command (EINVAL) must be loaded again with it.  A parameter that
 * cannot be read leaves the question to the first command.
 */
static void
check_fan_control()
{
	char value[8];
	int fd = open(FAN_CONTROL, O_RDONLY | O_CLOEXEC);
	bool read = fd != -1 && read_from_start(fd, value, sizeof(value));

	if (fd != -1)
		close(fd);
	if (read && value[0] == 'N')
		fail(EX_NOPERM, "fan control is off in thinkpad_acpi: load it "
		    "with fan_control=1 (options thinkpad_acpi fan_control=1 in "
		    "/etc/modprobe.d)");
}

static int
open_reading(const char *path)
{
	int fd = open(path, O_RDONLY | O_CLOEXEC);

	if (fd != -1) {
		strncpy(temperature_path, path, sizeof(temperature_path) - 1);
		temperature_path[sizeof(temperature_path) - 1] = '\0';
	}
	return fd;
}

/* The hwmon device is found by its name: its number changes between boots. */
static int
open_hwmon_temperature()
{
	DIR *devices = opendir(HWMON_DIRECTORY);
	int fd = -1;

	if (devices == nullptr)
		return -1;
	for (struct dirent *entry; fd == -1 &&
	    (entry = readdir(devices)) != nullptr;) {
		if (entry->d_name[0] == '.')
			continue;
		safe_text_of<PATH_MAX> path = {};
		char name[32];
		safe_append(&path, HWMON_DIRECTORY);
		safe_append(&path, "/");
		safe_append(&path, entry->d_name);
		size_t directory = path.length;
		safe_append(&path, "/name");
		int name_fd = open(path.text, O_RDONLY | O_CLOEXEC);
		bool named = name_fd != -1 &&
		    read_from_start(name_fd, name, sizeof(name)) &&
		    strncmp(name, HWMON_NAME, strlen(HWMON_NAME)) == 0 &&
		    (name[strlen(HWMON_NAME)] == '\n' ||
		    name[strlen(HWMON_NAME)] == '\0');
		if (name_fd != -1)
			close(name_fd);
		path.length = directory;
		path.text[directory] = '\0';
		safe_append(&path, "/temp1_input");
		if (named && !path.cut)
			fd = open_reading(path.text);
	}
	closedir(devices);
	return fd;
}

void
take_fan(const level_table *table)
{
	check_fan_control();
	fan_commands = open(FAN_FILE, O_WRONLY | O_CLOEXEC);
	if (fan_commands == -1)
		fail_with(EX_NOPERM, errno, "%s", FAN_FILE);
	if (!write_fan_level(table->entries[0].level_number))
		fail_with(EX_NOPERM, errno, "%s", FAN_FILE);
	if (!send_numbered("watchdog ", WATCHDOG_SECONDS))
		hand_back_and_fail(EX_UNAVAILABLE, errno, FAN_FILE);
	/* Without it the fan is still read back; the watchdog still runs. */
	fan_status = open(FAN_FILE, O_RDONLY | O_CLOEXEC);
	temperature = open_hwmon_temperature();
	if (temperature == -1)
		temperature = open_reading(THERMAL_ZONE);
	if (temperature == -1)
		hand_back_and_fail(EX_UNAVAILABLE, errno, THERMAL_ZONE);
}

bool
hand_back_fan()
{
	return send_command("level auto");
}

/* "level N" takes the fan from the firmware and sets it in one command. */
bool
engage_manual_mode()
{
	return true;
}

bool
write_fan_level(int32_t level_number)
{
	if (level_number < 0 || level_number > HIGHEST_LEVEL) {
		errno = EINVAL;
		return false;
	}
	if (!send_numbered("level ", level_number))
		return false;
	level_held = level_number;
	return true;
}

bool
read_temperature(int32_t *celsius)
{
	char text[READ_SIZE];
	char *end;

	if (!read_from_start(temperature, text, sizeof(text)))
		return false;
	errno = 0;
	long long milli = strtoll(text, &end, 10);
	if (end == text || errno != 0 || (*end != '\n' && *end != '\0') ||
	    milli / MILLI > INT32_MAX || milli / MILLI < INT32_MIN) {
		errno = 0;
		return false;
	}
	*celsius = static_cast<int32_t>(milli / MILLI);
	return true;
}

/*
 * What the fan file's "level:" line says of the fan: whether it runs at
 * the level last written.  A model that prints no level, or "unknown",
 * says nothing, and the fan stays ours.
 */
static bool
level_still_held()
{
	char text[READ_SIZE];

	if (fan_status == -1 || !read_from_start(fan_status, text, sizeof(text)))
		return true;
	const char *line = strstr(text, "level:");
	if (line == nullptr)
		return true;
	line += strlen("level:");
	line += strspn(line, " \t");
	if (strncmp(line, "unknown", strlen("unknown")) == 0)
		return true;
	char *end;
	long value = strtol(line, &end, 10);
	return end != line && value == level_held;
}

/*
 * At half the watchdog's span since the last command the driver took: the
 * watchdog is armed again, and the fan read back.  After a resume, or a
 * watchdog that fired, the firmware has it.
 */
bool
keep_fan(bool *ours)
{
	*ours = true;
	if (seconds_since(last_command) < WATCHDOG_SECONDS / 2.0)
		return true;
	if (!send_numbered("watchdog ", WATCHDOG_SECONDS))
		return false;
	*ours = level_still_held();
	return true;
}

int
hand_back_fan_from_signal()
{
	int saved = errno;
	int result = send_command("level auto") ? 0 : errno;

	errno = saved;
	return result;
}

const char *
fan_mode_name()
{
	return FAN_FILE;
}

const char *
fan_level_name()
{
	return FAN_FILE;
}

const char *
temperature_name()
{
	return temperature_path[0] != '\0' ? temperature_path : THERMAL_ZONE;
}
