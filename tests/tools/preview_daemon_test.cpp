/*
 * The preview is only worth something while it steps as the daemon does:
 * replay one trace with coolrung-preview, then feed the very readings it
 * polled to the real daemon, poll by poll, and compare the levels and the
 * intervals.
 */
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

struct event {
	int seconds, celsius, level;
};

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
	for (event e{}; in >> e.seconds >> e.celsius >> e.level;)
		events.push_back(e);
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

TEST(PreviewAgainstDaemon, SameLevelsAndIntervals)
{
	sim_machine machine;
	/* Crosses rows, sits in overlaps, jumps two rows, falls fast. */
	std::vector<event> events = preview_events(machine,
	    "0,40\n4,56\n8,52\n12,49\n16,90\n20,70\n24,60\n");
	ASSERT_GE(events.size(), 10U);

	machine.set_temperature(events[0].celsius);
	running_daemon daemon = start_coolrung({"coolrung", "-c", DEMO_TABLE},
	    machine.root);
	for (size_t k = 0; k < events.size(); k++) {
		int celsius = 0, seconds = 0;
		ASSERT_TRUE(daemon_poll(machine, static_cast<int>(k), &celsius,
		    &seconds)) << "poll " << k;
		EXPECT_EQ(celsius, events[k].celsius) << "poll " << k;
		EXPECT_EQ(machine.fan_level(), events[k].level) << "poll " << k;
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

}  // namespace
