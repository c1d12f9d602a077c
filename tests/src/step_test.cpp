/* The stepping rules: one row per reading, and the poll interval. */
#include <gtest/gtest.h>

#include <climits>
#include <utility>
#include <vector>

#include "harness.h"
#include "step.h"
#include "table.h"

namespace {

using table_cases::PrintTo;

const level_table TABLE = table_of({{0, 0, 55}, {2, 50, 65}, {7, 60, 150}});

struct walk {
	const char *name;
	int32_t start;
	std::vector<int32_t> readings;
	std::vector<int32_t> rows_after;
};

class Stepping : public testing::TestWithParam<walk> {};

TEST_P(Stepping, OneRowPerReading)
{
	const walk &c = GetParam();
	int32_t index = c.start;
	std::vector<int32_t> seen;
	for (int32_t reading : c.readings) {
		index = next_level_index(&TABLE, index, reading);
		seen.push_back(index);
	}
	EXPECT_EQ(seen, c.rows_after);
}

const walk walks[] = {
	{"RisesPastTheMax", 0, {50, 55, 56}, {0, 0, 1}},
	{"OverlapKeepsTheRow", 1, {52, 50, 49}, {1, 1, 0}},
	{"JumpIsFollowedRowByRow", 0, {90, 90, 90}, {1, 2, 2}},
	{"FallIsFollowedRowByRow", 2, {10, 10, 10}, {1, 0, 0}},
	{"BoundsAreInclusive", 1, {50, 65}, {1, 1}},
	{"NeverBelowTheFirstRow", 0, {-5, -272, 0}, {0, 0, 0}},
	{"NeverAboveTheLastRow", 2, {151, 2147483647}, {2, 2}},
	{"OverlapFromAbove", 2, {62, 60, 59, 58}, {2, 2, 1, 1}},
};

INSTANTIATE_TEST_SUITE_P(Table, Stepping, testing::ValuesIn(walks),
    table_cases::by_name);

/* One poll: a reading (or NO_READ), whether its writes succeed, and after. */
constexpr int32_t NO_READ = INT32_MIN;
struct poll_step {
	int32_t reading;
	bool written;
	fan_action action;
	int32_t row;		/* after the poll; -1 while handed back */
	unsigned int seconds;
};

struct poll_walk {
	const char *name;
	std::vector<poll_step> polls;
	bool gives_up;		/* the last poll's writes were one too many */
};

class Polling : public testing::TestWithParam<poll_walk> {};

TEST_P(Polling, FollowsTheRules)
{
	control_state state = control_start();
	bool going_on = true;
	int n = 0;
	for (const poll_step &step : GetParam().polls) {
		poll_plan plan = plan_poll(state, &TABLE,
		    step.reading == NO_READ ? nullptr : &step.reading, true);
		going_on = record_poll(&state, plan, step.written ?
		    poll_outcome::done : poll_outcome::write_failed);
		EXPECT_EQ(plan.action, step.action) << "poll " << n;
		EXPECT_EQ(state.taken ? state.row : -1, step.row) << "poll " << n;
		EXPECT_EQ(plan.seconds, step.seconds) << "poll " << n;
		n++;
	}
	EXPECT_EQ(!going_on, GetParam().gives_up);
}

const fan_action KEEP = fan_action::keep, WRITE = fan_action::write_level,
    BACK = fan_action::hand_back, TAKE = fan_action::take_again;

const poll_walk poll_walks[] = {
	{"FailedWriteKeepsTheRowAndRetries", {{56, false, WRITE, 0, 2},
	    {56, true, WRITE, 1, 2}, {58, true, KEEP, 1, 2}}, false},
	{"ThirdFailedWriteInARowGivesUp", {{56, false, WRITE, 0, 2},
	    {56, false, WRITE, 0, 2}, {56, false, WRITE, 0, 2}}, true},
	{"AGoodWriteStartsTheCountAgain", {{56, false, WRITE, 0, 2},
	    {56, false, WRITE, 0, 2}, {56, true, WRITE, 1, 2},
	    {49, false, WRITE, 1, 1}, {49, false, WRITE, 1, 2}}, false},
	{"FailedReadsKeepTheLevelThenHandBack", {{70, true, WRITE, 1, 2},
	    {NO_READ, true, KEEP, 1, 2}, {NO_READ, true, KEEP, 1, 2},
	    {NO_READ, true, BACK, -1, 2}, {NO_READ, true, KEEP, -1, 2}}, false},
	{"AReadingBetweenFailuresStartsTheCountAgain", {
	    {NO_READ, true, KEEP, 0, 2}, {NO_READ, true, KEEP, 0, 2},
	    {40, true, KEEP, 0, 2}, {NO_READ, true, KEEP, 0, 2},
	    {NO_READ, true, KEEP, 0, 2}}, false},
	{"TakenAgainAtTheRowHoldingTheReading", {{NO_READ, true, KEEP, 0, 2},
	    {NO_READ, true, KEEP, 0, 2}, {NO_READ, true, BACK, -1, 2},
	    {95, true, TAKE, 2, 2}, {96, true, KEEP, 2, 2}}, false},
	{"AFailedTakeStaysWithTheFirmware", {{NO_READ, true, KEEP, 0, 2},
	    {NO_READ, true, KEEP, 0, 2}, {NO_READ, true, BACK, -1, 2},
	    {60, false, TAKE, -1, 2}, {52, true, TAKE, 0, 1}}, false},
	{"FailedReadsDoNotMoveThePreviousReading", {{60, true, WRITE, 1, 2},
	    {NO_READ, true, KEEP, 1, 2}, {57, true, KEEP, 1, 1}}, false},
};

INSTANTIATE_TEST_SUITE_P(Table, Polling, testing::ValuesIn(poll_walks),
    table_cases::by_name);

TEST(RowHolding, FirstRowWhoseMaxReachesTheReading)
{
	const std::pair<int32_t, int32_t> cases[] = {{-272, 0}, {55, 0},
	    {56, 1}, {65, 1}, {66, 2}, {2147483647, 2}};
	for (const auto &[celsius, row] : cases)
		EXPECT_EQ(row_holding(&TABLE, celsius), row) << celsius;
}

TEST(PollInterval, QuickOnlyAfterAFallOfThreeDegrees)
{
	const struct {
		int32_t previous, reading;
		unsigned int seconds;
	} cases[] = {
		{60, 57, 1}, {60, 58, 2}, {0, 60, 2}, {60, 90, 2}, {0, -3, 1},
		{0, -2, 2}, {2147483647, -2147483647 - 1, 1},
		{-2147483647 - 1, 2147483647, 2},
	};
	for (const auto &c : cases)
		EXPECT_EQ(poll_interval(c.previous, c.reading), c.seconds)
		    << c.previous << " -> " << c.reading;
}

}  // namespace
