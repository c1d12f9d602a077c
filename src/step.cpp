#include "step.h"

control_state
control_start()
{
	return control_state{0, 0, 0, 0, true};
}

/* A failed read keeps the level; enough of them in a row lose the sensor. */
static poll_plan
plan_failed_read(control_state next)
{
	if (!next.taken)
		return poll_plan{fan_action::keep, SLOW_POLL_SECONDS, next};
	next.failed_reads++;
	if (next.failed_reads < GIVE_UP_AFTER)
		return poll_plan{fan_action::keep, SLOW_POLL_SECONDS, next};
	return plan_hand_back(next);
}

poll_plan
plan_poll(const control_state &state, const level_table *table,
    const int32_t *celsius, bool fan_ours)
{
	control_state next = state;

	next.taken = state.taken && fan_ours;
	if (celsius == nullptr)
		return plan_failed_read(next);

	poll_plan plan;
	next.failed_reads = 0;
	next.previous = *celsius;
	if (next.taken) {
		next.row = next_level_index(table, state.row, *celsius);
		plan.action = next.row == state.row ? fan_action::keep :
		    fan_action::write_level;
	} else {
		next.row = row_holding(table, *celsius);
		plan.action = fan_action::take_again;
	}
	if (plan.action != fan_action::keep) {
		next.taken = true;
		next.failed_writes = 0;
	}
	plan.seconds = poll_interval(state.previous, *celsius);
	plan.next = next;
	return plan;
}

poll_plan
plan_hand_back(const control_state &state)
{
	control_state next = state;

	next.taken = false;
	next.failed_reads = 0;
	return poll_plan{fan_action::hand_back, SLOW_POLL_SECONDS, next};
}

bool
record_poll(control_state *state, const poll_plan &plan, poll_outcome outcome)
{
	if (outcome == poll_outcome::done ||
	    plan.action == fan_action::hand_back) {
		*state = plan.next;
		return true;
	}
	state->previous = plan.next.previous;
	state->failed_reads = plan.next.failed_reads;
	if (plan.action == fan_action::take_again)
		state->taken = false;
	else if (plan.action == fan_action::keep)
		state->taken = plan.next.taken;
	if (outcome == poll_outcome::left_to_firmware)
		return true;
	return ++state->failed_writes < GIVE_UP_AFTER;
}

int32_t
next_level_index(const level_table *table, int32_t index, int32_t celsius)
{
	const level_entry &row = table->entries[index];

	if (celsius < row.min && index > 0)
		return index - 1;
	if (celsius > row.max && index < table->count - 1)
		return index + 1;
	return index;
}

int32_t
row_holding(const level_table *table, int32_t celsius)
{
	int32_t index = 0;

	while (index < table->count - 1 && table->entries[index].max < celsius)
		index++;
	return index;
}

unsigned int
poll_interval(int32_t previous, int32_t celsius)
{
	/* Widened: two extreme readings must not overflow the difference. */
	int64_t fall = static_cast<int64_t>(previous) - celsius;

	return fall >= FAST_POLL_FALL ? FAST_POLL_SECONDS : SLOW_POLL_SECONDS;
}
