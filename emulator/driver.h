/*
 * The emulated thinkpad_acpi driver and the embedded controller behind it:
 * the fan register, the watchdog, the temperature sensors, loading and
 * resuming.  Plain state and the rules that change it; the files that show
 * it are in tree.cpp, and main.cpp serves them.  See doc/emulated-driver.md.
 */
#ifndef THINKPAD_EMULATOR_DRIVER_H
#define THINKPAD_EMULATOR_DRIVER_H

#include <cstdint>
#include <string>

/* The fan register: the level in the low three bits, full speed, firmware. */
constexpr unsigned FAN_LEVEL_BITS = 0x07;
constexpr unsigned FAN_FULL_SPEED = 0x40;
constexpr unsigned FAN_AUTO = 0x80;

constexpr int SENSOR_COUNT = 8;
constexpr int WATCHDOG_MAX = 120;
/* A write to the fan file may hold at most PAGE_SIZE - 1 bytes. */
constexpr size_t FAN_WRITE_MAX = 4095;

enum class sensor_state {
	reading,	/* the register holds celsius */
	not_available,	/* the register says -128 */
	failing,	/* the controller cannot be read */
};

struct sensor {
	sensor_state state = sensor_state::reading;
	int celsius = 0;	/* 0: a register with no sensor behind it */
};

/* How the model prints the level line of the fan file. */
enum class level_line { normal, unknown, absent };

struct emulated_driver {
	bool loaded = true;
	bool fan_control = true;
	unsigned fan_register = FAN_AUTO;
	int watchdog_seconds = 0;
	bool watchdog_armed = false;
	int64_t watchdog_expiry = 0;	/* CLOCK_MONOTONIC nanoseconds */
	bool suspended = false;
	unsigned remembered_register = FAN_AUTO;
	int64_t sensors_back = 0;	/* sensors read n/a until then */
	sensor sensors[SENSOR_COUNT] = {{sensor_state::reading, 45},
	    {sensor_state::reading, 42}};
	bool has_sensors = true;	/* the model has thermal readings */
	bool has_tz0 = true;
	long tz0_millidegrees = 47050;
	level_line quirk = level_line::normal;
	int hwmon_number = 3;
	unsigned generation = 1;	/* counts loads: older handles are stale */
};

int64_t monotonic_ns();

/* One write(2) to the fan file: 0, or the errno the driver fails it with. */
int fan_write(emulated_driver &driver, const std::string &text, int64_t now);
std::string fan_text(const emulated_driver &driver);
/* What the level line shows for a register value. */
std::string level_name(unsigned fan_register);

/* Sensor index 0-7: 0 with *celsius, or ENXIO (n/a) or EIO. */
int sensor_reading(const emulated_driver &driver, int index, int64_t now,
    int *celsius);
/* The /proc/acpi/ibm/thermal line: 0, or EIO when any sensor fails. */
int thermal_text(const emulated_driver &driver, int64_t now,
    std::string *text);

/* Does what "enable" does once the watchdog has run out; true if it did. */
bool watchdog_expired(emulated_driver &driver, int64_t now);

/* Brings the expiry of an armed watchdog the seconds nearer. */
void advance_watchdog(emulated_driver &driver, int seconds);

void load_driver(emulated_driver &driver);
void unload_driver(emulated_driver &driver);
void suspend_driver(emulated_driver &driver);
/* Sensors read n/a for na_seconds after it. */
void resume_driver(emulated_driver &driver, int64_t now, int na_seconds);

#endif
