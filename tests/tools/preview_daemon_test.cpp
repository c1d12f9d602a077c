/*
 * The preview is only worth something while it steps as the daemon does:
 * replay a trace with coolrung-preview, then feed the very readings it
 * polled to the real daemon, poll by poll, and compare the levels, the
 * hand-backs to the firmware and the intervals.
 */
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

/* A failed read ("-" in the events, -1 from the driver); the firmware's fan. */
constexpr int NONE = -1;

struct event {
	int seconds, celsius, level;
};

int
field(const std::string &word)
{
	return word == "-" ? NONE : std::stoi(word);
}

std::vector<event>
preview_events(const sim_machine &machine, const std::string &trace)
{
	std::string csv = machine.path("trace.csv");
	write_file(csv, trace);
	run_result result = run_program(PREVIEW_BINARY,
	    {"coolrung-preview", "--events", "--trace", csv, DEMO_TABLE}, "");
	EXPECT_EQ(result.status, 0) << result.err;
	std::vector<event> events;
	std::istringstream in(result.out);
	for (std::string at, celsius, level; in >> at >> celsius >> level;)
		events.push_back({std::stoi(at), field(celsius), field(level)});
	return events;
}

/* The trace lines of the daemon's poll number n (from 0): read .. sleep. */
bool
daemon_poll(const sim_machine &machine, int n, int *celsius, int *seconds)
{
	if (!wait_for_trace(machine, " sleep ", n + 1))
		return false;
	int reads = -1;
	for (const trace_line &call : machine.calls()) {
		if (call.op == "read" && call.name == "dev.acpi_ibm.0.thermal")
			reads++;
		if (reads == n && call.op == "read")
			*celsius = std::stoi(call.value);
		if (reads == n && call.op == "sleep") {
			*seconds = std::stoi(call.value);
			return true;
		}
	}
	return false;
}

struct daemon_case {
	const char *name;
	const char *trace;
};

void
PrintTo(const daemon_case &c, std::ostream *out)
{
	*out << c.name;
}

class PreviewAgainstDaemon : public testing::TestWithParam<daemon_case> {};

TEST_P(PreviewAgainstDaemon, SameLevelsAndIntervals)
{
	sim_machine machine;
	std::vector<event> events = preview_events(machine, GetParam().trace);
	ASSERT_GE(events.size(), 5U);

	machine.set_temperature(events[0].celsius);
	running_daemon daemon = start_coolrung({"coolrung", "-c", DEMO_TABLE},
	    machine.root);
	for (size_t k = 0; k < events.size(); k++) {
		int celsius = 0, seconds = 0;
		ASSERT_TRUE(daemon_poll(machine, static_cast<int>(k), &celsius,
		    &seconds)) << "poll " << k;
		EXPECT_EQ(celsius, events[k].celsius) << "poll " << k;
		if (events[k].level == NONE) {
			EXPECT_EQ(machine.fan_mode(), 1) << "poll " << k;
		} else {
			EXPECT_EQ(machine.fan_mode(), 0) << "poll " << k;
			EXPECT_EQ(machine.fan_level(), events[k].level)
			    << "poll " << k;
		}
		if (k + 1 < events.size()) {
			EXPECT_EQ(seconds, events[k + 1].seconds - events[k].seconds)
			    << "poll " << k;
			/* The daemon sleeps a second at least: time to set the next. */
			machine.set_temperature(events[k + 1].celsius);
		}
	}
	kill(daemon.pid, SIGTERM);
	EXPECT_EQ(wait_daemon(daemon).status, 1);
	EXPECT_EQ(machine.fan_mode(), 1);
}

const daemon_case daemon_cases[] = {
	/* Crosses rows, sits in overlaps, jumps two rows, falls fast. */
	{"Rows", "0,40\n4,56\n8,52\n12,49\n16,90\n20,70\n24,60\n"},
	/* Three failed reads hand the fan back; a reading takes it again. */
	{"SensorLost", "0,56\n2,-\n8,80\n12,80\n"},
};

INSTANTIATE_TEST_SUITE_P(Traces, PreviewAgainstDaemon,
    testing::ValuesIn(daemon_cases),
    [](const testing::TestParamInfo<daemon_case> &info) {
	    return std::string(info.param.name);
    });

}  // namespace
