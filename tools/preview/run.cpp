/*
 * The stays at a level, which both the summary and the picture are made
 * of: one walk over the polls, so the two cannot tell different stories.
 */
#include "run.h"

#include "step.h"

std::vector<level_stay>
level_stays(const run_record &run)
{
	std::vector<level_stay> stays;
	level_stay current{control_start().row, 0, 0};

	for (const poll_event &poll : run.polls) {
		if (poll.index == current.index)
			continue;
		current.until = poll.at;
		stays.push_back(current);
		current = level_stay{poll.index, poll.at, 0};
	}
	current.until = run.end;
	stays.push_back(current);
	return stays;
}
