/*
 * The thermal model at its limits, the scenarios' loads, the model file,
 * and the summary's figures on a run worked out by hand.
 */
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>

#include "fatal.h"
#include "harness.h"
#include "model.h"
#include "seconds.h"
#include "summary.h"
#include "table.h"

namespace {

const level_table at_0 = table_of({{0, 0, 150}});
const level_table at_7 = table_of({{7, 0, 150}});
const level_table two_rows = table_of({{0, 0, 60}, {7, 55, 150}});

/* ambient 25, idle_rise 15, load_rise 70, fan_cooling 0.15 */
struct settle_case {
	double load;
	int32_t level;
	double settled;
};

const settle_case settle_cases[] = {
	{0, 0, 40},
	{1, 0, 110},
	{1, 7, 25 + 85 / 2.05},
	{0, 7, 25 + 15 / 2.05},
	{0.5, 4, 25 + 50 / 1.6},
};

TEST(PreviewModel, SettlesWhereHeatAndCoolingMeet)
{
	model_params params = default_model();

	for (const settle_case &c : settle_cases) {
		SCOPED_TRACE(c.load);
		SCOPED_TRACE(c.level);
		for (double start : {-20.0, 40.0, 200.0}) {
			double late = model_step(params, start, c.load,
			    c.level, 1e5);
			EXPECT_NEAR(late, c.settled, 1e-9);
			/* An approach, never an overshoot. */
			double soon = model_step(params, start, c.load,
			    c.level, 5);
			EXPECT_GE(soon, std::min(start, c.settled));
			EXPECT_LE(soon, std::max(start, c.settled));
		}
		EXPECT_EQ(model_step(params, 50, c.load, c.level, 0), 50);
	}
	params.fan_cooling = 0;
	EXPECT_EQ(model_step(params, 90, 1, 0, 30),
	    model_step(params, 90, 1, 7, 30));
}

run_record
run_scenario(const char *name, const level_table &table, model_params params)
{
	settle_model(&params, name);
	return run_model(&table, params, scenario_load(name, params));
}

TEST(PreviewModel, ClosedLoopPeaksFollowTheFan)
{
	const level_table &table = two_rows;
	run_record stopped = run_scenario("full", at_0, default_model());
	run_record top = run_scenario("full", at_7, default_model());
	run_record stepped = run_scenario("full", two_rows, default_model());

	EXPECT_NEAR(summarize(stopped, &at_0).peak, 110, 0.01);
	EXPECT_NEAR(summarize(top, &at_7).peak, 25 + 85 / 2.05, 0.01);
	/*
	 * From 40 C towards 110 C: 110 - 70 exp(-t / 60) reads 59 at 20 s
	 * and 61 at 22 s, when the fan goes to 7 for good.
	 */
	run_summary summary = summarize(stepped, &table);
	EXPECT_EQ(summary.changes, 1);
	EXPECT_EQ(summary.row_time[0], 22 * MICROS);
	EXPECT_EQ(stepped.polls[10].celsius, 59);
	EXPECT_EQ(stepped.polls[11].celsius, 61);
	EXPECT_NEAR(summary.peak, 25 + 85 / 2.05, 0.01);
}

TEST(PreviewModel, PollsOnTheDaemonsClockWithinTheRun)
{
	model_params params = default_model();
	params.time_constant = 10;	/* falls fast enough for quick polls */
	params.duration = 700500000;
	params.duration_set = true;
	run_record run = run_scenario("compile", two_rows, params);
	int quick = 0;

	ASSERT_FALSE(run.polls.empty());
	EXPECT_EQ(run.polls.front().at, 0);
	EXPECT_EQ(run.end, 700500000);
	EXPECT_EQ(run.curve.back().at, run.end);
	EXPECT_LE(run.polls.back().at, run.end);
	EXPECT_GT(run.polls.back().at, run.end - 2 * MICROS);
	for (size_t i = 1; i < run.polls.size(); i++) {
		int64_t gap = run.polls[i].at - run.polls[i - 1].at;
		int32_t before = i > 1 ? run.polls[i - 2].celsius : 0;
		bool fell = run.polls[i - 1].celsius <= before - 3;
		EXPECT_TRUE(gap == MICROS || gap == 2 * MICROS) << gap;
		EXPECT_EQ(gap == MICROS, fell) << i;
		quick += fell;
	}
	EXPECT_GT(quick, 0);
}

TEST(PreviewModel, ScenarioLoads)
{
	model_params params = default_model();
	settle_model(&params, "compile");
	std::vector<double> compile = scenario_load("compile", params);
	ASSERT_EQ(compile.size(), 1200u);
	EXPECT_LT(compile[59], 1);
	EXPECT_EQ(compile[60], 1);
	EXPECT_EQ(compile[659], 1);
	EXPECT_LT(compile[660], 1);

	settle_model(&params, "spiky");
	std::vector<double> spiky = scenario_load("spiky", params);
	EXPECT_EQ(spiky, scenario_load("spiky", params));
	params.seed = 2;
	EXPECT_NE(spiky, scenario_load("spiky", params));
	int spiked = 0;
	for (double load : spiky) {
		EXPECT_GE(load, 0);
		EXPECT_LE(load, 1);
		spiked += load >= 0.5;
	}
	EXPECT_GT(spiked, 100);
	EXPECT_LT(spiked, 3600 / 2);
}

struct model_file_case {
	const char *text;
	const char *message;	/* nullptr: accepted */
};

const model_file_case model_files[] = {
	{"# comment\n\n ambient = 30 \nduration=90.5\nseed = 7\n", nullptr},
	{"ambient 30\n", "m.conf:1: expected name = value"},
	{"\nfan_speed = 3\n", "m.conf:2: unknown parameter: fan_speed"},
	{"time_constant = 0\n",
	    "m.conf:1: time_constant must be a number from 0.1 to 100000"},
	{"ambient = 2x\n", "m.conf:1: ambient must be a number from -50 to 100"},
	{"load_rise = nan\n",
	    "m.conf:1: load_rise must be a number from 0 to 200"},
	{"duration = 0\n", "m.conf:1: bad duration: 0"},
	{"duration = 999999999\n", "m.conf:1: bad duration: 999999999"},
	{"seed = -1\n", "m.conf:1: bad seed: -1"},
};

TEST(PreviewModel, ModelFile)
{
	for (const model_file_case &c : model_files) {
		SCOPED_TRACE(c.text);
		std::string text = c.text;
		FILE *file = fmemopen(text.data(), text.size(), "r");
		model_params params = default_model();
		std::optional<fatal_error> fault = fault_raised_by([&] {
			read_model(file, "m.conf", &params);
		});
		fclose(file);
		if (fault) {
			EXPECT_STREQ(fault->message.c_str(), c.message);
			EXPECT_EQ(fault->status, 65);
			continue;
		}
		EXPECT_EQ(c.message, nullptr);
		EXPECT_EQ(params.ambient, 30);
		EXPECT_EQ(params.duration, 90500000);
		EXPECT_EQ(params.seed, 7u);
		settle_model(&params, "idle");
		EXPECT_EQ(params.start, 45);
		EXPECT_EQ(params.duration, 90500000);
	}
}

/*
 * Rows 0 and 1 of two_rows; polls at 0, 2, 3, 5, the run ends at 9.  The
 * fan is at row 0 from 0 to 2 and from 5 to 9, at row 1 from 2 to 5.
 */
TEST(PreviewSummary, FiguresOfAHandWorkedRun)
{
	const level_table &table = two_rows;
	run_record run;
	run.polls = {{0, 40, 0}, {2 * MICROS, 80, 1}, {3 * MICROS, 80, 1},
	    {5 * MICROS, 50, 0}};
	run.curve = {{0, 40}, {4 * MICROS, 80}, {6 * MICROS, 50}};
	run.end = 9 * MICROS;

	run_summary summary = summarize(run, &table);
	EXPECT_EQ(summary.row_time, (std::vector<int64_t>{6 * MICROS,
	    3 * MICROS}));
	EXPECT_EQ(summary.changes, 2);
	EXPECT_DOUBLE_EQ(summary.changes_per_hour, 800);
	ASSERT_TRUE(summary.shortest.found);
	EXPECT_EQ(summary.shortest.length, 3 * MICROS);
	EXPECT_EQ(summary.shortest.index, 1);
	EXPECT_EQ(summary.longest.length, 4 * MICROS);
	EXPECT_EQ(summary.longest.from, 5 * MICROS);
	EXPECT_EQ(summary.peak, 80);
	EXPECT_NEAR(summary.mean, (40 * 4 + 80 * 2 + 50 * 3) / 9.0, 1e-9);
	EXPECT_EQ(summary.top_min, 55);
	EXPECT_EQ(summary.above_top, 2 * MICROS);
}

TEST(PreviewSummary, AChangeAtTheFirstPollCounts)
{
	const level_table &table = two_rows;
	run_record run;
	run.polls = {{0, 70, 1}};
	run.curve = {{0, 70}};
	run.end = 0;

	run_summary summary = summarize(run, &table);
	EXPECT_EQ(summary.changes, 1);
	EXPECT_FALSE(summary.shortest.found);
	EXPECT_EQ(summary.changes_per_hour, 0);
	EXPECT_EQ(summary.mean, 70);
}

}  // namespace
