#include "control.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "log.h"

namespace {

using arguments = std::vector<std::string>;
using handler = int (*)(emulator_state &, const arguments &, int64_t);

struct control_command {
	const char *name;
	size_t least, most;	/* words after the name */
	handler run;
};

constexpr int HWMON_MAX = 99;
constexpr int RESUME_NA_MAX = 60;
constexpr long TZ0_LEAST = -273150;
constexpr long TZ0_MOST = 200000;

/* A decimal number, or hexadecimal after "0x", within least..most. */
bool
number_in(const std::string &word, long least, long most, long *value)
{
	bool hex = word.compare(0, 2, "0x") == 0;
	const char *digits = word.c_str() + (hex ? 2 : 0);
	char *end = nullptr;
	errno = 0;
	long number = strtol(digits, &end, hex ? 16 : 10);
	if (*digits == '\0' || *end != '\0' || errno != 0 || number < least ||
	    number > most)
		return false;
	*value = number;
	return true;
}

/* tempN: a sensor register's value, "n/a" or "fail". */
int
set_sensor(emulator_state &state, int index, const std::string &value)
{
	sensor &reading = state.driver.sensors[index];
	long celsius = 0;
	if (value == "n/a")
		reading.state = sensor_state::not_available;
	else if (value == "fail")
		reading.state = sensor_state::failing;
	else if (number_in(value, -127, 127, &celsius)) {
		reading.state = sensor_state::reading;
		reading.celsius = static_cast<int>(celsius);
	} else
		return EINVAL;
	return 0;
}

/* "temp1" to "temp8": the sensor's index, else -1. */
int
sensor_index(const std::string &word)
{
	long number = 0;
	if (word.compare(0, 4, "temp") != 0 ||
	    !number_in(word.substr(4), 1, SENSOR_COUNT, &number))
		return -1;
	return static_cast<int>(number - 1);
}

int
run_load(emulator_state &state, const arguments &, int64_t)
{
	load_driver(state.driver);
	return 0;
}

int
run_unload(emulator_state &state, const arguments &, int64_t)
{
	unload_driver(state.driver);
	return 0;
}

/*
 * The parameter is read-only while the module is loaded: a change waits
 * for the next load.
 */
int
run_fan_control(emulator_state &state, const arguments &args, int64_t)
{
	if (args[1] != "Y" && args[1] != "N")
		return EINVAL;
	if (state.driver.loaded)
		return EBUSY;
	state.driver.fan_control = args[1] == "Y";
	return 0;
}

/* What the model has cannot change while the driver runs on it. */
int
run_sensors(emulator_state &state, const arguments &args, int64_t)
{
	if (args[1] != "on" && args[1] != "off")
		return EINVAL;
	if (state.driver.loaded)
		return EBUSY;
	state.driver.has_sensors = args[1] == "on";
	return 0;
}

int
run_hwmon(emulator_state &state, const arguments &args, int64_t)
{
	long number = 0;
	if (!number_in(args[1], 0, HWMON_MAX, &number))
		return EINVAL;
	if (hwmon_number_taken(static_cast<int>(number)))
		return EEXIST;
	if (state.driver.loaded)
		return EBUSY;
	state.driver.hwmon_number = static_cast<int>(number);
	return 0;
}

int
run_tz0(emulator_state &state, const arguments &args, int64_t)
{
	long millidegrees = 0;
	if (args[1] == "none") {
		state.driver.has_tz0 = false;
		return 0;
	}
	if (!number_in(args[1], TZ0_LEAST, TZ0_MOST, &millidegrees))
		return EINVAL;
	state.driver.has_tz0 = true;
	state.driver.tz0_millidegrees = millidegrees;
	return 0;
}

int
run_register(emulator_state &state, const arguments &args, int64_t)
{
	long value = 0;
	if (!number_in(args[1], 0, 255, &value))
		return EINVAL;
	state.driver.fan_register = static_cast<unsigned>(value);
	return 0;
}

int
run_advance(emulator_state &state, const arguments &args, int64_t)
{
	long seconds = 0;
	if (!number_in(args[1], 1, WATCHDOG_MAX, &seconds))
		return EINVAL;
	advance_watchdog(state.driver, static_cast<int>(seconds));
	return 0;
}

int
run_suspend(emulator_state &state, const arguments &, int64_t)
{
	suspend_driver(state.driver);
	return 0;
}

int
run_resume(emulator_state &state, const arguments &args, int64_t now)
{
	long na_seconds = 0;
	if (args.size() > 1 && !number_in(args[1], 0, RESUME_NA_MAX, &na_seconds))
		return EINVAL;
	resume_driver(state.driver, now, static_cast<int>(na_seconds));
	return 0;
}

int
run_quirk(emulator_state &state, const arguments &args, int64_t)
{
	if (args[1] == "normal")
		state.driver.quirk = level_line::normal;
	else if (args[1] == "unknown")
		state.driver.quirk = level_line::unknown;
	else if (args[1] == "absent")
		state.driver.quirk = level_line::absent;
	else
		return EINVAL;
	return 0;
}

/* fail OP FILE ERRNO [COUNT] */
int
run_fail(emulator_state &state, const arguments &args, int64_t)
{
	fault added = {fault_op::open, file_id::none, 0, 0, -1, ""};
	long count = -1;
	if (args[1] == "read")
		added.op = fault_op::read;
	else if (args[1] == "write")
		added.op = fault_op::write;
	else if (args[1] != "open")
		return EINVAL;
	added.file = file_named(args[2], &added.sensor);
	added.error = errno_number(args[3]);
	if (added.file == file_id::none || added.file == file_id::control ||
	    added.error == 0 ||
	    (args.size() > 4 && !number_in(args[4], 1, INT32_MAX, &count)))
		return EINVAL;
	added.remaining = static_cast<int>(count);
	state.faults.push_back(added);
	return 0;
}

/* refuse WORD ERRNO: every fan command beginning with WORD fails so. */
int
run_refuse(emulator_state &state, const arguments &args, int64_t)
{
	int error = errno_number(args[2]);
	if (error == 0)
		return EINVAL;
	state.faults.push_back({fault_op::write, file_id::fan, 0, error, -1,
	    args[1]});
	return 0;
}

int
run_clear(emulator_state &state, const arguments &, int64_t)
{
	state.faults.clear();
	return 0;
}

/* Only logged: the stand-in programs say so when they run. */
int
run_note(emulator_state &, const arguments &, int64_t)
{
	return 0;
}

const control_command COMMANDS[] = {
	{"load", 0, 0, run_load},
	{"unload", 0, 0, run_unload},
	{"fan_control", 1, 1, run_fan_control},
	{"sensors", 1, 1, run_sensors},
	{"hwmon", 1, 1, run_hwmon},
	{"tz0", 1, 1, run_tz0},
	{"register", 1, 1, run_register},
	{"advance", 1, 1, run_advance},
	{"suspend", 0, 0, run_suspend},
	{"resume", 0, 1, run_resume},
	{"quirk", 1, 1, run_quirk},
	{"fail", 3, 4, run_fail},
	{"refuse", 2, 2, run_refuse},
	{"clear", 0, 0, run_clear},
	{"note", 0, SIZE_MAX, run_note},
};

int
run_command(emulator_state &state, const std::string &line, int64_t now)
{
	arguments args;
	std::istringstream in(line);
	for (std::string word; in >> word;)
		args.push_back(word);
	if (args.empty())
		return EINVAL;
	int sensor = sensor_index(args[0]);
	if (sensor >= 0)
		return args.size() == 2 ? set_sensor(state, sensor, args[1]) :
		    EINVAL;
	for (const control_command &command : COMMANDS) {
		if (args[0] == command.name)
			return args.size() - 1 >= command.least &&
			    args.size() - 1 <= command.most ?
			    command.run(state, args, now) : EINVAL;
	}
	return EINVAL;
}

std::string
sensor_text(const sensor &reading)
{
	if (reading.state == sensor_state::not_available)
		return "n/a";
	if (reading.state == sensor_state::failing)
		return "fail";
	return std::to_string(reading.celsius);
}

}

int
control_write(emulator_state &state, const std::string &text, int64_t now)
{
	std::istringstream in(text);
	for (std::string line; std::getline(in, line);) {
		if (line.find_first_not_of(" \t") == std::string::npos)
			continue;
		int error = run_command(state, line, now);
		log_record(now, "ctl", error, line);
		if (error != 0)
			return error;
	}
	return 0;
}

std::string
control_text(const emulator_state &state)
{
	const emulated_driver &d = state.driver;
	static const char *const QUIRKS[] = {"normal", "unknown", "absent"};
	char fan_register[8];
	snprintf(fan_register, sizeof(fan_register), "0x%02x", d.fan_register);
	std::string text = std::string("loaded ") + (d.loaded ? "yes" : "no") +
	    "\nfan_control " + (d.fan_control ? "Y" : "N") +
	    "\nregister " + fan_register +
	    "\nlevel " + level_name(d.fan_register) +
	    "\nwatchdog " + std::to_string(d.watchdog_seconds) +
	    "\nexpiry " + (d.watchdog_armed ? seconds_text(d.watchdog_expiry) : "-") +
	    "\nhwmon " + std::to_string(d.hwmon_number) +
	    "\nsensors " + (d.has_sensors ? "on" : "off") +
	    "\nquirk " + QUIRKS[static_cast<int>(d.quirk)] +
	    "\nsuspended " + (d.suspended ? "yes" : "no") +
	    "\ntz0 " + (d.has_tz0 ? std::to_string(d.tz0_millidegrees) : "none") +
	    "\nfaults " + std::to_string(state.faults.size()) + "\n";
	for (int i = 0; i < SENSOR_COUNT; i++)
		text += "temp" + std::to_string(i + 1) + " " +
		    sensor_text(d.sensors[i]) + "\n";
	return text;
}

int
take_fault(emulator_state &state, fault_op op, file_id file, int sensor,
    const std::string &written)
{
	for (auto it = state.faults.begin(); it != state.faults.end(); ++it) {
		if (it->op != op || it->file != file ||
		    (file == file_id::hwmon_temp && it->sensor != sensor) ||
		    written.compare(0, it->command.size(), it->command) != 0)
			continue;
		int error = it->error;
		if (it->remaining > 0 && --it->remaining == 0)
			state.faults.erase(it);
		return error;
	}
	return 0;
}
