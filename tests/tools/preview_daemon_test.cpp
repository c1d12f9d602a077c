/*
 * The preview is only worth something while it steps as the daemon does:
 * replay a trace with coolrung-preview, then feed the very readings it
 * polled to the real daemon, poll by poll, and compare the levels, the
 * hand-backs to the firmware and the intervals.  The trace is written by
 * hand, or recorded from the simulated machine by README's own recipe.
 */
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using table_cases::PrintTo;

const char *const THERMAL = "dev.acpi_ibm.0.thermal";
const char *const TZ0 = "hw.acpi.thermal.tz0.temperature";

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

/*
 * The trace lines of the daemon's poll number n (from 0) of node: read ..
 * sleep.  *value is the first integer read, NONE for a failed read.
 */
bool
daemon_poll(const sim_machine &machine, const char *node, int n, int *value,
    int *seconds)
{
	if (!wait_for_trace(machine, " sleep ", n + 1))
		return false;
	int reads = -1;
	for (const trace_line &call : machine.calls()) {
		if (call.op == "read" && call.name == node)
			reads++;
		if (reads == n && call.op == "read")
			*value = field(call.value);
		if (reads == n && call.op == "sleep") {
			*seconds = std::stoi(call.value);
			return true;
		}
	}
	return false;
}

/*
 * Sets the machine up for the daemon's poll number k; returns the value
 * its trace will show for that read.
 */
using poll_feed = std::function<int(size_t k)>;

/*
 * Runs the daemon poll by poll beside the preview's events: each poll must
 * read what feed set up, and leave the level, or the fan with the
 * firmware, and sleep as the preview says.
 */
void
follow_daemon(const sim_machine &machine, const char *node,
    const std::vector<event> &events, const poll_feed &feed)
{
	int expected = feed(0);
	owned_daemon daemon = start_coolrung({"coolrung", "-c", DEMO_TABLE},
	    machine.root);
	for (size_t k = 0; k < events.size(); k++) {
		int celsius = 0, seconds = 0;
		ASSERT_TRUE(daemon_poll(machine, node, static_cast<int>(k),
		    &celsius, &seconds)) << "poll " << k;
		EXPECT_EQ(celsius, expected) << "poll " << k;
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
			expected = feed(k + 1);
		}
	}
	kill(daemon.pid, SIGTERM);
	EXPECT_EQ(wait_daemon(daemon).status, 1);
	EXPECT_EQ(machine.fan_mode(), 1);
}

struct daemon_case {
	const char *name;
	const char *trace;
};

class PreviewAgainstDaemon : public testing::TestWithParam<daemon_case> {};

TEST_P(PreviewAgainstDaemon, SameLevelsAndIntervals)
{
	sim_machine machine;
	std::vector<event> events = preview_events(machine, GetParam().trace);
	ASSERT_GE(events.size(), 5U);

	follow_daemon(machine, THERMAL, events, [&](size_t k) {
		machine.set_temperature(events[k].celsius);
		return events[k].celsius;
	});
}

const daemon_case daemon_cases[] = {
	/* Crosses rows, sits in overlaps, jumps two rows, falls fast. */
	{"Rows", "0,40\n4,56\n8,52\n12,49\n16,90\n20,70\n24,60\n"},
	/* Three failed reads hand the fan back; a reading takes it again. */
	{"SensorLost", "0,56\n2,-\n8,80\n12,80\n"},
};

INSTANTIATE_TEST_SUITE_P(Traces, PreviewAgainstDaemon,
    testing::ValuesIn(daemon_cases),
    table_cases::by_name);

/*
 * The recipes of a document: from each fenced or literal block that
 * defines the shell function celsius, the lines up to the function's end,
 * the prompts taken off.
 */
std::vector<std::string>
recipes(const std::string &path, const std::string &block_start,
    const std::string &block_end)
{
	std::vector<std::string> found;
	std::istringstream in(read_file(path));
	std::string block, line;
	bool inside = false, done = false;

	while (std::getline(in, line)) {
		if (!inside) {
			inside = line.rfind(block_start, 0) == 0;
			block.clear();
			done = false;
		} else if (line == block_end) {
			inside = false;
		} else if (!done) {
			if (line.rfind("$ ", 0) == 0)
				line.erase(0, 2);
			block += line + "\n";
			done = line == "}" &&
			    block.find("celsius() {") != std::string::npos;
			if (done)
				found.push_back(block);
		}
	}
	return found;
}

std::vector<std::string>
readme_recipes()
{
	return recipes(README_FILE, "```sh", "```");
}

/* The recipe reading node: the one block that names it. */
std::string
recipe_for(const std::string &node)
{
	std::string recipe;
	for (const std::string &block : readme_recipes()) {
		if (block.find(node) != std::string::npos) {
			EXPECT_EQ(recipe, "") << "two recipes read " << node;
			recipe = block;
		}
	}
	EXPECT_NE(recipe, "") << "no recipe reads " << node;
	return recipe;
}

/* What the recipe records now, sysctl answering from the simulated machine. */
std::string
record(const sim_machine &machine, const std::string &recipe)
{
	run_result result = run_program("/bin/sh", {"sh", "-c",
	    "PATH=" STANDIN_BIN ":$PATH\n" + recipe + "celsius\n"},
	    machine.root);
	EXPECT_EQ(result.status, 0) << result.err;
	return result.out.substr(0, result.out.find('\n'));
}

TEST(TraceRecipe, TheManualGivesREADMEsRecipes)
{
	EXPECT_EQ(readme_recipes().size(), 3U);
	EXPECT_EQ(recipes(PREVIEW_MANUAL, ".Bd -literal", ".Ed"),
	    readme_recipes());
}

/* A second of the recording: the node's content ("" for none), the field. */
struct recorded_second {
	const char *content;
	const char *field;
};

struct recipe_case {
	const char *name;
	const char *node;	/* the one the daemon reads */
	std::vector<recorded_second> seconds;
};

void
put_node(const sim_machine &machine, const char *node, const char *content)
{
	if (*content == '\0')
		machine.remove(node);
	else
		machine.put(node, std::string(content) + "\n");
}

class RecipeAgainstDaemon : public testing::TestWithParam<recipe_case> {};

/*
 * The trace README's recipe records a second at a time, replayed by the
 * preview, against the daemon reading the same node contents at its polls.
 */
TEST_P(RecipeAgainstDaemon, SameLevelsAndIntervals)
{
	const recipe_case &c = GetParam();
	sim_machine machine;
	std::string recipe = recipe_for(c.node), trace;

	if (c.node != std::string(THERMAL))
		machine.remove(THERMAL);
	for (size_t second = 0; second < c.seconds.size(); second++) {
		put_node(machine, c.node, c.seconds[second].content);
		std::string field = record(machine, recipe);
		EXPECT_EQ(field, c.seconds[second].field) << "second " << second;
		trace += std::to_string(second) + "," + field + "\n";
	}
	std::vector<event> events = preview_events(machine, trace);
	ASSERT_GE(events.size(), 5U);

	follow_daemon(machine, c.node, events, [&](size_t k) {
		const char *content = c.seconds.at(
		    static_cast<size_t>(events[k].seconds)).content;
		put_node(machine, c.node, content);
		return *content == '\0' ? NONE : std::stoi(content);
	});
}

const recipe_case recipe_cases[] = {
	/* The driver's -1 and a failed sysctl are no reading. */
	{"DriverNode", THERMAL, {{"56 40", "56"}, {"56 40", "56"},
	    {"-1 40", "-"}, {"", "-"}, {"", "-"}, {"-1 40", "-"}, {"", "-"},
	    {"70 40", "70"}, {"80 40", "80"}, {"80 40", "80"},
	    {"80 40", "80"}}},
	/*
	 * Deci-kelvin as the daemon converts it: 3287 is 56 (sysctl's 55.5C
	 * would keep level 0), 2720 is 0 (-1 would fall 3 C from 2 and poll
	 * after a second).
	 */
	{"ThermalZone", TZ0, {{"3187", "46"}, {"3187", "46"}, {"3287", "56"},
	    {"3287", "56"}, {"3247", "52"}, {"", "-"}, {"", "-"},
	    {"2747", "2"}, {"2747", "2"}, {"2720", "0"}, {"2720", "0"},
	    {"2720", "0"}, {"2720", "0"}}},
};

INSTANTIATE_TEST_SUITE_P(Recordings, RecipeAgainstDaemon,
    testing::ValuesIn(recipe_cases),
    table_cases::by_name);

/*
 * The hwmon device is found by its name, not its number, and read in
 * whole degrees; a read that fails is no reading.
 */
TEST(TraceRecipe, LinuxReadsTheThinkpadHwmon)
{
	sim_machine sys;
	std::string recipe = recipe_for("/sys/class/hwmon");
	const std::string at = "/sys/class/hwmon";
	recipe.replace(recipe.find(at), at.size(), sys.root);
	for (const char *device : {"hwmon0", "hwmon3"})
		mkdir(sys.path(device).c_str(), 0755);
	sys.put("hwmon0/name", "acpitz\n");
	sys.put("hwmon0/temp1_input", "27800\n");
	sys.put("hwmon3/name", "thinkpad\n");

	sys.put("hwmon3/temp1_input", "45999\n");
	EXPECT_EQ(record(sys, recipe), "45");
	/* A directory fails the read as the driver's ENXIO would. */
	sys.remove("hwmon3/temp1_input");
	mkdir(sys.path("hwmon3/temp1_input").c_str(), 0755);
	EXPECT_EQ(record(sys, recipe), "-");
}

}  // namespace
