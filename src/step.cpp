#include "step.h"

control_state
control_start()
{
	return control_state{0, 0, 0, 0, true};
}

/* A failed read keeps the level; enough of them in a row lose the sensor. */
static poll_plan
plan_failed_read(control_state *state)
{
	if (!state->taken)
		return poll_plan{fan_action::keep, state->row, SLOW_POLL_SECONDS};
	state->failed_reads++;
	if (state->failed_reads >= GIVE_UP_AFTER)
		return poll_plan{fan_action::hand_back, state->row,
		    SLOW_POLL_SECONDS};
	return poll_plan{fan_action::keep, state->row, SLOW_POLL_SECONDS};
}

poll_plan
plan_poll(control_state *state, const level_table *table,
    const int32_t *celsius)
{
	if (celsius == nullptr)
		return plan_failed_read(state);

	poll_plan plan;
	state->failed_reads = 0;
	if (state->taken) {
		plan.next_row = next_level_index(table, state->row, *celsius);
		plan.action = plan.next_row == state->row ? fan_action::keep :
		    fan_action::write_level;
	} else {
		plan.next_row = row_holding(table, *celsius);
		plan.action = fan_action::take_again;
	}
	plan.seconds = poll_interval(state->previous, *celsius);
	state->previous = *celsius;
	return plan;
}

bool
settle_poll(control_state *state, const poll_plan &plan, bool done)
{
	switch (plan.action) {
	case fan_action::keep:
		return true;
	case fan_action::hand_back:
		if (done)
			control_handed_back(state);
		return true;
	case fan_action::write_level:
	case fan_action::take_again:
		break;
	}
	/* A failed write keeps the row, so the next poll outside it retries. */
	if (!done)
		return ++state->failed_writes < GIVE_UP_AFTER;
	state->row = plan.next_row;
	state->taken = true;
	state->failed_writes = 0;
	return true;
}

void
control_handed_back(control_state *state)
{
	state->taken = false;
	state->failed_reads = 0;
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
