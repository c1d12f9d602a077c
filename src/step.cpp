#include "step.h"

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

unsigned int
poll_interval(int32_t previous, int32_t celsius)
{
	/* Widened: two extreme readings must not overflow the difference. */
	int64_t fall = static_cast<int64_t>(previous) - celsius;

	return fall >= FAST_POLL_FALL ? FAST_POLL_SECONDS : SLOW_POLL_SECONDS;
}
