/*
 * The fan and the temperature, through the acpi_ibm driver's sysctl nodes
 * and, where the driver has no temperature node, the first ACPI thermal zone.
 */
#ifndef COOLRUNG_FAN_H
#define COOLRUNG_FAN_H

#include <cstdint>

#include "config.h"

constexpr unsigned int FAN_MODE_MANUAL = 0;	/* we set the level */
constexpr unsigned int FAN_MODE_AUTO = 1;	/* the firmware does */

constexpr const char *FAN_MODE_NODE = "dev.acpi_ibm.0.fan";
constexpr const char *FAN_LEVEL_NODE = "dev.acpi_ibm.0.fan_level";
constexpr const char *THERMAL_NODE = "dev.acpi_ibm.0.thermal";
constexpr const char *TZ0_NODE = "hw.acpi.thermal.tz0.temperature";

/* Row of the level table whose level the fan runs at. */
extern int32_t current_level_index;

/*
 * Writes the fan mode.  FAN_MODE_MANUAL also resolves the nodes used while
 * polling, chooses the temperature source and runs the fan at the level of
 * entries[0]; entries may be null for FAN_MODE_AUTO.  Returns only on
 * success: a failure is raised as a fatal_error, and a manual mode that
 * cannot be completed hands the fan back to the firmware first.
 */
void set_fan_mode(unsigned int mode, const level_entry *entries);

/* Returns whether the level was written. */
bool write_fan_level(int32_t level_number);

/*
 * Stores the temperature in whole degrees Celsius in *celsius.  Returns
 * false, leaving *celsius alone, when the node could not be read.
 */
bool read_temperature(int32_t *celsius);

/*
 * Hands the fan back from a signal handler: only async-signal-safe calls.
 * Returns the errno of a failed write, 0 on success.
 */
int restore_fan_mode_from_signal();

#endif
