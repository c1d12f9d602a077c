/*
 * The stepping rules, free of any hardware: which row comes next for a
 * reading, and how long to wait before the next reading.  The daemon and
 * coolrung-preview share them.
 */
#ifndef COOLRUNG_STEP_H
#define COOLRUNG_STEP_H

#include <cstdint>

#include "config.h"

constexpr unsigned int FAST_POLL_SECONDS = 1;
constexpr unsigned int SLOW_POLL_SECONDS = 2;
constexpr int32_t FAST_POLL_FALL = 3;	/* degrees fallen since the last poll */

/*
 * The row to run at after reading celsius at row index: one row down below
 * the row's min, one row up above its max, the same row inside it (bounds
 * inclusive) or when the table has no row beyond.
 */
int32_t next_level_index(const level_table *table, int32_t index,
    int32_t celsius);

/* Seconds until the next poll: quicker while the temperature is falling fast. */
unsigned int poll_interval(int32_t previous, int32_t celsius);

#endif
