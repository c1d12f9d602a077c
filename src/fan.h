/*
 * The fan and the temperature, through the acpi_ibm driver's sysctl nodes
 * and, where the driver has no temperature node, the first ACPI thermal zone.
 */
#ifndef COOLRUNG_FAN_H
#define COOLRUNG_FAN_H

#include <cstdint>

#include "config.h"

constexpr int FAN_MODE_MANUAL = 0;	/* we set the level */
constexpr int FAN_MODE_AUTO = 1;	/* the firmware does */

constexpr const char *FAN_MODE_NODE = "dev.acpi_ibm.0.fan";
constexpr const char *FAN_LEVEL_NODE = "dev.acpi_ibm.0.fan_level";
constexpr const char *THERMAL_NODE = "dev.acpi_ibm.0.thermal";
constexpr const char *TZ0_NODE = "hw.acpi.thermal.tz0.temperature";

/*
 * Takes the fan from the firmware, resolves the nodes used while polling,
 * chooses the temperature source and runs the fan at the first row's level.
 * Returns only on success: a failure is raised as a fatal_error, and a
 * manual mode that cannot be completed hands the fan back first.
 */
void take_fan(const level_table *table);

/* Gives the fan back to the firmware; a failure is raised as a fatal_error. */
void hand_back_fan();

/*
 * The fan cannot be run (a node unusable, the process unable to detach):
 * gives it back to the firmware, then raises what went wrong.
 */
[[noreturn]] void hand_back_and_fail(int status, int error, const char *what);

/* Returns whether the mode was written; errno tells why not. */
bool write_fan_mode(int mode);

/* Returns whether the level was written; errno tells why not. */
bool write_fan_level(int32_t level_number);

/*
 * Stores the temperature in whole degrees Celsius in *celsius.  Returns
 * false, leaving *celsius alone, when there is no reading: the node could
 * not be read (errno tells why) or the driver could not read its sensor
 * and says -1 (errno 0).
 */
bool read_temperature(int32_t *celsius);

/* The node the temperature comes from, chosen when the fan was taken. */
const char *temperature_node();

/*
 * Hands the fan back from a signal handler: only async-signal-safe calls.
 * Returns the errno of a failed write, 0 on success.
 */
int restore_fan_mode_from_signal();

#endif
