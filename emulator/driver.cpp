#include "driver.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

namespace {

constexpr int64_t NS_PER_SECOND = 1000000000;
constexpr int NOT_AVAILABLE = -128;

/* What the tachometer shows: a fixed speed per level, none modelled in auto. */
constexpr int LEVEL_RPM[8] = {0, 1800, 2300, 2800, 3300, 3800, 4300, 4700};
constexpr int AUTO_RPM = 2800;
constexpr int FULL_SPEED_RPM = 5700;

bool
starts_with(const std::string &text, const char *prefix)
{
	return text.compare(0, strlen(prefix), prefix) == 0;
}

/*
 * "WORD %d" as sscanf reads it: the word, any white space, an optional sign
 * and digits; whatever follows is ignored.  A number beyond an int's range
 * is taken as the nearest int.
 */
bool
scan_number(const std::string &command, const char *word, long long *value)
{
	size_t at = strlen(word);
	if (!starts_with(command, word))
		return false;
	while (at < command.size() &&
	    isspace(static_cast<unsigned char>(command[at])))
		at++;
	bool negative = at < command.size() && command[at] == '-';
	if (at < command.size() && (command[at] == '-' || command[at] == '+'))
		at++;
	if (at >= command.size() ||
	    !isdigit(static_cast<unsigned char>(command[at])))
		return false;
	long long number = 0;
	for (; at < command.size() &&
	    isdigit(static_cast<unsigned char>(command[at])); at++) {
		if (number <= INT_MAX)
			number = number * 10 + (command[at] - '0');
	}
	number = negative ? -number : number;
	*value = number > INT_MAX ? INT_MAX : number < INT_MIN ? INT_MIN : number;
	return true;
}

/*
 * The register byte "level N" stores, or -1 when it is refused.  Levels
 * 0-7 are manual levels; any number with bit 6 or 7 set is stored as its
 * low byte unchecked, so -1 becomes full speed and 128 auto.
 */
int
level_register(long long level)
{
	if (level >= 0 && level <= 7)
		return static_cast<int>(level);
	auto bits = static_cast<unsigned>(static_cast<int>(level));
	if ((bits & (FAN_FULL_SPEED | FAN_AUTO)) != 0)
		return static_cast<int>(bits & 0xff);
	return -1;
}

/* "enable": the firmware takes the fan, but an exact manual 7 stays. */
unsigned
enabled_register(unsigned fan_register)
{
	return fan_register == 7 ? 7 : FAN_AUTO;
}

void
arm_watchdog(emulated_driver &driver, int64_t now)
{
	driver.watchdog_armed = driver.watchdog_seconds > 0;
	driver.watchdog_expiry = driver.watchdog_armed ?
	    now + driver.watchdog_seconds * NS_PER_SECOND : 0;
}

/* One command of a write: 0 or its errno.  Success re-arms the watchdog. */
int
fan_command(emulated_driver &driver, const std::string &command, int64_t now)
{
	long long value = 0;

	if (starts_with(command, "level auto"))
		driver.fan_register = FAN_AUTO;
	else if (starts_with(command, "level disengaged") ||
	    starts_with(command, "level full-speed"))
		driver.fan_register = FAN_FULL_SPEED;
	else if (scan_number(command, "level", &value)) {
		int stored = level_register(value);
		if (stored < 0)
			return EINVAL;
		driver.fan_register = static_cast<unsigned>(stored);
	} else if (starts_with(command, "enable"))
		driver.fan_register = enabled_register(driver.fan_register);
	else if (starts_with(command, "disable"))
		driver.fan_register = 0;
	else if (scan_number(command, "watchdog", &value)) {
		if (value < 0 || value > WATCHDOG_MAX)
			return EINVAL;
		driver.watchdog_seconds = static_cast<int>(value);
	} else
		return EINVAL;
	arm_watchdog(driver, now);
	return 0;
}

int
speed_of(unsigned fan_register)
{
	if ((fan_register & FAN_FULL_SPEED) != 0)
		return FULL_SPEED_RPM;
	if ((fan_register & FAN_AUTO) != 0)
		return AUTO_RPM;
	return LEVEL_RPM[fan_register & FAN_LEVEL_BITS];
}

}

int64_t
monotonic_ns()
{
	struct timespec now = {};
	clock_gettime(CLOCK_MONOTONIC, &now);
	return now.tv_sec * NS_PER_SECOND + now.tv_nsec;
}

/* Commands joined by "," run left to right; the first failure ends them. */
int
fan_write(emulated_driver &driver, const std::string &text, int64_t now)
{
	if (!driver.fan_control || text.size() > FAN_WRITE_MAX)
		return EINVAL;
	size_t start = 0;
	for (;;) {
		size_t comma = text.find(',', start);
		int error = fan_command(driver,
		    text.substr(start, comma == std::string::npos ?
		    std::string::npos : comma - start), now);
		if (error != 0 || comma == std::string::npos)
			return error;
		start = comma + 1;
	}
}

std::string
level_name(unsigned fan_register)
{
	if ((fan_register & FAN_FULL_SPEED) != 0)
		return "disengaged";
	if ((fan_register & FAN_AUTO) != 0)
		return "auto";
	return std::to_string(fan_register & FAN_LEVEL_BITS);
}

std::string
fan_text(const emulated_driver &driver)
{
	std::string text = "status:\t\t";
	text += driver.fan_register == 0 ? "disabled\n" : "enabled\n";
	text += "speed:\t\t" + std::to_string(speed_of(driver.fan_register)) +
	    "\n";
	if (driver.quirk == level_line::normal)
		text += "level:\t\t" + level_name(driver.fan_register) + "\n";
	else if (driver.quirk == level_line::unknown)
		text += "level:\t\tunknown\n";
	if (driver.fan_control)
		text += "commands:\tlevel <level> (<level> is 0-7, auto, "
		    "disengaged, full-speed)\n"
		    "commands:\tenable, disable\n"
		    "commands:\twatchdog <timeout> (<timeout> is 0 (off), "
		    "1-120 (seconds))\n";
	return text;
}

int
sensor_reading(const emulated_driver &driver, int index, int64_t now,
    int *celsius)
{
	const sensor &reading = driver.sensors[index];
	if (reading.state == sensor_state::failing)
		return EIO;
	if (reading.state == sensor_state::not_available ||
	    now < driver.sensors_back)
		return ENXIO;
	*celsius = reading.celsius;
	return 0;
}

/* One failing sensor fails the whole line, hiding the others too. */
int
thermal_text(const emulated_driver &driver, int64_t now, std::string *text)
{
	std::string line = "temperatures:\t";
	for (int i = 0; i < SENSOR_COUNT; i++) {
		int celsius = NOT_AVAILABLE;
		if (sensor_reading(driver, i, now, &celsius) == EIO)
			return EIO;
		line += std::to_string(celsius) + (i + 1 < SENSOR_COUNT ? " " : "\n");
	}
	*text = line;
	return 0;
}

bool
watchdog_expired(emulated_driver &driver, int64_t now)
{
	if (!driver.watchdog_armed || now < driver.watchdog_expiry)
		return false;
	driver.fan_register = enabled_register(driver.fan_register);
	driver.watchdog_armed = false;
	driver.watchdog_expiry = 0;
	return true;
}

/* The watchdog alone lives the seconds ahead: a test need not wait them. */
void
advance_watchdog(emulated_driver &driver, int seconds)
{
	if (driver.watchdog_armed)
		driver.watchdog_expiry -= seconds * NS_PER_SECOND;
}

/*
 * A load starts the watchdog at 0; the fan stays as the controller holds
 * it.  Loading a loaded driver does nothing, as modprobe does.
 */
void
load_driver(emulated_driver &driver)
{
	if (driver.loaded)
		return;
	driver.loaded = true;
	driver.generation++;
	driver.watchdog_seconds = 0;
	driver.watchdog_armed = false;
	driver.watchdog_expiry = 0;
}

/* The timer is cancelled, the fan left where it was. */
void
unload_driver(emulated_driver &driver)
{
	driver.loaded = false;
	driver.watchdog_armed = false;
	driver.watchdog_expiry = 0;
	driver.suspended = false;
}

void
suspend_driver(emulated_driver &driver)
{
	driver.remembered_register = driver.fan_register;
	driver.suspended = true;
}

/*
 * The firmware has the fan after a resume; the driver puts back only a
 * level 7 or full speed.  The watchdog is neither cancelled nor re-armed.
 */
void
resume_driver(emulated_driver &driver, int64_t now, int na_seconds)
{
	unsigned remembered = driver.suspended ? driver.remembered_register :
	    driver.fan_register;
	bool restored = driver.loaded && (remembered == 7 ||
	    (remembered & FAN_FULL_SPEED) != 0);
	driver.fan_register = restored ? remembered : FAN_AUTO;
	driver.suspended = false;
	driver.sensors_back = now + na_seconds * NS_PER_SECOND;
}
