/*
 * Traces replayed by coolrung-preview, worked out by hand from the
 * daemon's loop: the poll instants (2 s, 1 s after a fall of 3 C or more)
 * and the row after each reading must be the daemon's.
 */
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "fatal.h"
#include "harness.h"
#include "run.h"
#include "seconds.h"
#include "summary.h"
#include "trace.h"
#include "table.h"

namespace {

const level_table table = table_of({{0, 0, 50}, {3, 45, 60}, {7, 55, 150}});

struct event {
	int64_t seconds;
	int32_t celsius;
	int32_t level;
	bool operator==(const event &) const = default;
};

std::vector<trace_sample>
trace_of(const std::string &text)
{
	FILE *file = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
	std::vector<trace_sample> trace = read_trace(file, "t.csv");
	fclose(file);
	return trace;
}

/* event.celsius of a failed read, event.level while the firmware runs the fan */
constexpr int32_t FAILED = FAILED_READ;
constexpr int32_t FIRMWARE = -1;

std::vector<event>
events_of(const run_record &run)
{
	std::vector<event> events;
	for (const poll_event &poll : run.polls) {
		EXPECT_EQ(poll.at % MICROS, 0);
		events.push_back({poll.at / MICROS, poll.celsius,
		    poll.index == HANDED_BACK ? FIRMWARE :
		    table.entries[poll.index].level_number});
	}
	return events;
}

struct replay_case {
	const char *what;
	const char *trace;
	std::vector<event> events;
	int64_t end;	/* microseconds */
};

const replay_case replay_cases[] = {
	{"rises one row a poll and steps down one on a fall",
	    "0,40\n10,70\n20,40\n",
	    {{0, 40, 0}, {2, 40, 0}, {4, 40, 0}, {6, 40, 0}, {8, 40, 0},
	    {10, 70, 3}, {12, 70, 7}, {14, 70, 7}, {16, 70, 7}, {18, 70, 7},
	    {20, 40, 3}},
	    20 * MICROS},
	{"polls after 1 s once the reading fell 3 C, samples in between",
	    "0.5,50\n2.5,46\n3,44\n3.4,90\n6.5,43.9\n",
	    {{0, 50, 0}, {2, 46, 0}, {3, 90, 3}, {5, 90, 7}},
	    6 * MICROS},
	{"a fall of 2 C keeps the slow poll, one of 3 C quickens it",
	    "0,70\n2,68\n4,65\n5,60\n",
	    {{0, 70, 3}, {2, 68, 7}, {4, 65, 7}, {5, 60, 7}},
	    5 * MICROS},
	{"cuts toward zero and stays at the first row below its min",
	    "# recorded on the bench\nseconds,celsius\n0,-3.9\n1,-2.5\n3,0\n",
	    {{0, -3, 0}, {1, -2, 0}, {3, 0, 0}},
	    3 * MICROS},
	{"the first reading is weighed against 0, as the daemon starts",
	    "0,-2\n1,-2\n2,30\n",
	    {{0, -2, 0}, {2, 30, 0}},
	    2 * MICROS},
	{"the last of samples at one instant is the one read",
	    "0,80\n0,40\n1.5,45\n",
	    {{0, 40, 0}},
	    1500000},
	{"never beyond the last row",
	    " 100 , 200 \r\n106,200\r\n",
	    {{0, 200, 3}, {2, 200, 7}, {4, 200, 7}, {6, 200, 7}},
	    6 * MICROS},
	{"two failed reads keep the row, the next reading steps from it",
	    "0,40\n2,-\n6,70\n",
	    {{0, 40, 0}, {2, FAILED, 0}, {4, FAILED, 0}, {6, 70, 3}},
	    6 * MICROS},
	{"the third hands back; a reading takes the row that holds it",
	    "0,56\n2, - \n8,40\n10,40\n",
	    {{0, 56, 3}, {2, FAILED, 3}, {4, FAILED, 3}, {6, FAILED, FIRMWARE},
	    {8, 40, 0}, {9, 40, 0}},
	    10 * MICROS},
	{"handed back, failed reads change nothing; taken again high",
	    "0,40\n2,-\n12,90\n",
	    {{0, 40, 0}, {2, FAILED, 0}, {4, FAILED, 0}, {6, FAILED, FIRMWARE},
	    {8, FAILED, FIRMWARE}, {10, FAILED, FIRMWARE}, {12, 90, 7}},
	    12 * MICROS},
};

TEST(PreviewReplay, MatchesTheDaemonOnHandWorkedTraces)
{
	for (const replay_case &c : replay_cases) {
		SCOPED_TRACE(c.what);
		run_record run = replay_trace(&table, trace_of(c.trace));
		EXPECT_EQ(events_of(run), c.events);
		EXPECT_EQ(run.end, c.end);
	}
}

/* What --events prints for the run. */
std::string
events_text(const run_record &run)
{
	char *text = nullptr;
	size_t size = 0;
	FILE *out = open_memstream(&text, &size);
	print_events(out, run, &table);
	fclose(out);
	std::string printed(text, size);
	free(text);
	return printed;
}

TEST(PreviewReplay, EventsAreOneLinePerPoll)
{
	run_record run = replay_trace(&table, trace_of("0,40\n3,70\n"));
	EXPECT_EQ(events_text(run), "0 40 0\n2 40 0\n");
}

/* The firmware's time and stays, "-" in the events, no temperature at all. */
TEST(PreviewReplay, TheSensorLost)
{
	run_record run = replay_trace(&table, trace_of("0,-\n9,-\n"));
	run_summary summary = summarize(run, &table);
	EXPECT_EQ(summary.row_time, (std::vector<int64_t>{4 * MICROS, 0, 0}));
	EXPECT_EQ(summary.firmware_time, 5 * MICROS);
	EXPECT_EQ(summary.changes, 1);
	EXPECT_EQ(summary.longest.index, HANDED_BACK);
	EXPECT_EQ(summary.longest.length, 5 * MICROS);
	EXPECT_FALSE(summary.measured);

	EXPECT_EQ(events_text(run), "0 - 0\n2 - 0\n4 - -\n6 - -\n8 - -\n");

	run = replay_trace(&table, trace_of("0,50\n1,-\n3,70\n4,-\n"));
	summary = summarize(run, &table);
	EXPECT_TRUE(summary.measured);
	EXPECT_EQ(summary.peak, 70);
	EXPECT_DOUBLE_EQ(summary.mean, (50 + 70) / 2.0);
}

struct bad_trace {
	const char *trace;
	const char *message;
};

const bad_trace bad_traces[] = {
	{"0,40\n1,x\n", "t.csv:2: bad temperature: x"},
	{"0,40\n1,--\n", "t.csv:2: bad temperature: --"},
	{"0,40\n1,\n", "t.csv:2: bad temperature: "},
	{"0,40\n1,4 0\n", "t.csv:2: bad temperature: 4 0"},
	{"0,1234567890\n", "t.csv:1: bad temperature: 1234567890"},
	{"0,40\n1;40\n", "t.csv:2: expected seconds,celsius"},
	{"0,40\n1,40,3\n", "t.csv:2: expected seconds,celsius"},
	{"0,40\n-1,40\n", "t.csv:2: bad time: -1"},
	{"0,40\n1e3,40\n", "t.csv:2: bad time: 1e3"},
	{"0,40\ntime,temp\n", "t.csv:2: bad time: time"},
	{"1.25,40\n\n1.2,41\n", "t.csv:3: out of time order: 1.2 after 1.25"},
	{"5,40\n2678405,40\n2678405.000001,40\n",
	    "t.csv:3: more than 31 days after the first sample"},
	{"# nothing\n\n", "t.csv: no samples"},
	{"", "t.csv: no samples"},
};

TEST(PreviewReplay, BadTracesNameTheLine)
{
	for (const bad_trace &c : bad_traces) {
		SCOPED_TRACE(c.trace);
		std::optional<fatal_error> fault = fault_raised_by([&] {
			(void)trace_of(c.trace);
		});
		EXPECT_TRUE(fault.has_value()) << "accepted";
		if (!fault)
			continue;
		EXPECT_EQ(fault->message, c.message);
		EXPECT_EQ(fault->status, 65);
		EXPECT_EQ(fault->error, 0);
	}
}

TEST(PreviewReplay, SecondsAreExactToTheMicrosecond)
{
	int64_t micros = 0;

	ASSERT_TRUE(parse_seconds("1765360000.1234567", &micros));
	EXPECT_EQ(micros, 1765360000123456);
	EXPECT_EQ(format_seconds(micros), "1765360000.123456");
	ASSERT_TRUE(parse_seconds(".5", &micros));
	EXPECT_EQ(format_seconds(micros), "0.5");
	EXPECT_FALSE(parse_seconds(".", &micros));
	EXPECT_FALSE(parse_seconds("1234567890123", &micros));
}

}  // namespace
