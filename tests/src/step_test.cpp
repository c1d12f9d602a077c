/* The stepping rules: one row per reading, and the poll interval. */
#include <gtest/gtest.h>

#include <vector>

#include "step.h"
#include "table.h"

namespace {

const level_table TABLE = table_of({{0, 0, 55}, {2, 50, 65}, {7, 60, 150}});

struct walk {
	const char *name;
	int32_t start;
	std::vector<int32_t> readings;
	std::vector<int32_t> rows_after;
};

void
PrintTo(const walk &c, std::ostream *out)
{
	*out << c.name;
}

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
    [](const testing::TestParamInfo<walk> &info) { return info.param.name; });

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
