/*
 * The daemon's poll free of the hardware: its own rules (step.h) on a fan
 * whose writes always succeed.  The daemon writes the fan itself, so this
 * lives with the preview.
 */
#ifndef COOLRUNG_PREVIEW_POLL_H
#define COOLRUNG_PREVIEW_POLL_H

#include <cstdint>

#include "config.h"
#include "step.h"

/*
 * One poll on a reading, or on a failed read (celsius null).  Returns the
 * seconds to sleep.
 */
unsigned int preview_poll(control_state *state, const level_table *table,
    const int32_t *celsius);

/* The row the fan runs at, or HANDED_BACK (run.h). */
int32_t fan_row(const control_state &state);

/* The reading the daemon would get for a temperature; never FAILED_READ. */
int32_t sensor_reading(double celsius);

#endif
