/*
 * The rules of one poll, free of any hardware: which row comes next for a
 * reading, when the fan goes back to the firmware and when it is taken
 * again, and how long to wait before the next reading.  The daemon applies
 * them to the fan, coolrung-preview to its model.
 */
#ifndef COOLRUNG_STEP_H
#define COOLRUNG_STEP_H

#include <cstdint>

#include "config.h"

constexpr unsigned int FAST_POLL_SECONDS = 1;
constexpr unsigned int SLOW_POLL_SECONDS = 2;
constexpr int32_t FAST_POLL_FALL = 3;	/* degrees fallen since the last poll */
constexpr int GIVE_UP_AFTER = 3;	/* failed reads or level writes in a row */

/*
 * What the control loop keeps from one poll to the next.  Failed reads do
 * not move the previous reading, so the first reading after a gap is
 * compared with the last one before it.  Level writes count as failed in a
 * row until one succeeds, whatever polls without a write come between.
 */
struct control_state {
	int32_t row;		/* the row the fan runs at while taken */
	int32_t previous;	/* the last good reading, 0 before the first */
	int failed_reads;	/* in a row */
	int failed_writes;	/* level writes, in a row */
	bool taken;		/* the fan is ours, not the firmware's */
};

enum class fan_action {
	keep,		/* nothing to write */
	write_level,	/* run at next.row's level */
	hand_back,	/* the fan goes to the firmware */
	take_again,	/* the firmware has the fan: manual mode at next.row */
};

struct poll_plan {
	fan_action action;
	unsigned int seconds;	/* until the next poll */
	control_state next;	/* the state once the plan has been carried out */
};

/* At start-up the fan has just been taken at the first row. */
control_state control_start();

/*
 * What one poll does with a reading, or with a failed read (celsius null).
 * fan_ours is false when the fan turned out to be with the firmware, though
 * the daemon had it: it is then taken again as after a lost sensor.
 */
poll_plan plan_poll(const control_state &state, const level_table *table,
    const int32_t *celsius, bool fan_ours);

/* The fan goes back to the firmware outside a poll (the process stopping). */
poll_plan plan_hand_back(const control_state &state);

enum class poll_outcome {
	done,		/* every write of the plan was made */
	write_failed,	/* a level write (or the like) failed */
	left_to_firmware,	/* the firmware would not give the fan up */
};

/*
 * Records what the poll did.  The reading counts whatever happened; a
 * failed write keeps the row, so the next poll outside it tries again, and
 * a take-over the firmware refused is tried at the next reading, uncounted.
 * Returns false when writes have now failed GIVE_UP_AFTER times in a row:
 * the fan cannot be run and must go back to the firmware for good.
 */
bool record_poll(control_state *state, const poll_plan &plan,
    poll_outcome outcome);

/*
 * The row to run at after reading celsius at row index: one row down below
 * the row's min, one row up above its max, the same row inside it (bounds
 * inclusive) or when the table has no row beyond.
 */
int32_t next_level_index(const level_table *table, int32_t index,
    int32_t celsius);

/* The first row whose max reaches celsius; the last row above them all. */
int32_t row_holding(const level_table *table, int32_t celsius);

/* Seconds until the next poll: quicker while the temperature is falling fast. */
unsigned int poll_interval(int32_t previous, int32_t celsius);

#endif
