/*
 * The daemon's one way to the fan and the temperature.  Each driver has
 * its own implementation behind it, and a build links the one for its
 * system: fan_acpi_ibm.cpp (FreeBSD's acpi_ibm, through sysctl; also what
 * coolrung-sim runs on the simulated kernel) and fan_thinkpad.cpp (Linux's
 * thinkpad_acpi, through procfs and sysfs).  Calls that can fail while
 * polling return whether they worked, with errno set; start-up's calls
 * raise their failure as a fatal_error.
 */
#ifndef COOLRUNG_FAN_H
#define COOLRUNG_FAN_H

#include <cstdint>

#include "config.h"

/*
 * Makes sure the driver is present, loading it if need be.  Runs before
 * anything else, the options included; a driver neither found nor
 * loadable is raised with status 1.
 */
void ensure_fan_driver();

/*
 * Takes the fan from the firmware, resolves what polling uses, chooses the
 * temperature source once and runs the fan at the first row's level.  A
 * failure is raised; a manual mode that cannot be completed hands the fan
 * back first.
 */
void take_fan(const level_table *table);

/* Gives the fan back to the firmware. */
bool hand_back_fan();

/* The same, or raises why it could not (EX_NOPERM, the mode's name). */
void hand_back_or_fail();

/*
 * The fan cannot be run (a node unusable, the process unable to detach):
 * gives it back to the firmware, then raises what went wrong.
 */
[[noreturn]] void hand_back_and_fail(int status, int error, const char *what);

/*
 * Takes the fan from the firmware again after a hand-back; the level
 * write that follows sets its speed.  False when the firmware keeps it.
 */
bool engage_manual_mode();

bool write_fan_level(int32_t level_number);

/*
 * Stores the temperature in whole degrees Celsius in *celsius.  False,
 * leaving *celsius alone, when there is no reading: the source could not
 * be read, or the driver says its sensor gave none (errno 0 then, or the
 * driver's own errno).
 */
bool read_temperature(int32_t *celsius);

/*
 * Once a poll while the fan is held: keeps the driver's hold on the fan
 * alive where it has a watchdog, and stores in *ours whether the fan is
 * still the daemon's, not the firmware's (after a resume, or a watchdog
 * that fired).  False when that failed.
 */
bool keep_fan(bool *ours);

/*
 * Hands the fan back from a signal handler: only async-signal-safe calls.
 * Returns the errno of a failed write, 0 on success.
 */
int hand_back_fan_from_signal();

/* The names the messages give: the mode, the level, the temperature source. */
const char *fan_mode_name();
const char *fan_level_name();
const char *temperature_name();

#endif
