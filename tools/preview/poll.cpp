/*
 * The daemon's poll without the hardware.  The rules are the daemon's own
 * (step.h); only the writes are left out.
 */
#include "poll.h"

#include "run.h"

/* Clamped readings stop one short of the failed read's value. */
constexpr int32_t LOWEST_READING = FAILED_READ + 1;

unsigned int
preview_poll(control_state *state, const level_table *table,
    const int32_t *celsius)
{
	poll_plan plan = plan_poll(*state, table, celsius, true);

	(void)record_poll(state, plan, poll_outcome::done);
	return plan.seconds;
}

int32_t
fan_row(const control_state &state)
{
	return state.taken ? state.row : HANDED_BACK;
}

/*
 * Whole degrees, cut toward zero as the daemon's deci-kelvin conversion
 * does.  The readers keep temperatures far inside int32_t; the clamp only
 * keeps the conversion defined.
 */
int32_t
sensor_reading(double celsius)
{
	if (!(celsius > LOWEST_READING))
		return LOWEST_READING;
	if (!(celsius < INT32_MAX))
		return INT32_MAX;
	return static_cast<int32_t>(celsius);
}
