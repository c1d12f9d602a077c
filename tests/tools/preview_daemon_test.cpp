/*
 * The preview is only worth something while it steps as the daemon does:
 * a trace replayed by coolrung-preview, written by hand or recorded by
 * README's own recipe, and its readings fed to the real daemon poll by
 * poll, must give the same levels, hand-backs and intervals.
 */
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using table_cases::PrintTo;

const char *const THERMAL = "dev.acpi_ibm.0.thermal";

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

/*
 * The trace through the preview, and the daemon beside its events:
 * feed(event) sets up the poll and says what the daemon must read; the
 * poll leaves the level, or the fan with the firmware, and sleeps as the
 * preview says.
 */
void
replay(const sim_machine &machine, const char *node, const std::string &trace,
    const std::function<int(const event &)> &feed)
{
	std::string csv = machine.path("trace.csv");
	write_file(csv, trace);
	run_result result = run_program(PREVIEW_BINARY,
	    {"coolrung-preview", "--events", "--trace", csv, DEMO_TABLE}, "");
	ASSERT_EQ(result.status, 0) << result.err;
	std::vector<event> events;
	std::istringstream in(result.out);
	for (std::string at, celsius, level; in >> at >> celsius >> level;)
		events.push_back({std::stoi(at), field(celsius), field(level)});
	ASSERT_GE(events.size(), 5U);
	int expected = feed(events[0]);
	owned_daemon daemon = start_coolrung({"coolrung", "-c", DEMO_TABLE},
	    machine.root);
	auto reads = [&](const trace_line &call) {
		return call.op == "read" && call.name == node;
	};
	auto sleeps = [](const trace_line &call) { return call.op == "sleep"; };
	size_t from = 0;
	for (size_t k = 0; k < events.size(); k++) {
		SCOPED_TRACE("poll " + std::to_string(k));
		int read = wait_for_call(machine, from, reads, 10);
		ASSERT_GE(read, 0);
		int sleep = wait_for_call(machine, static_cast<size_t>(read),
		    sleeps, 10);
		ASSERT_GE(sleep, 0);
		from = static_cast<size_t>(sleep) + 1;
		std::vector<trace_line> calls = machine.calls();
		EXPECT_EQ(field(calls[read].value), expected);
		EXPECT_EQ(machine.fan_mode(), events[k].level == NONE ? 1 : 0);
		if (events[k].level != NONE) {
			EXPECT_EQ(machine.fan_level(), events[k].level);
		}
		if (k + 1 < events.size()) {
			EXPECT_EQ(std::stoi(calls[sleep].value),
			    events[k + 1].seconds - events[k].seconds);
			/* It sleeps a second at least: time to set the next. */
			expected = feed(events[k + 1]);
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
	replay(machine, THERMAL, GetParam().trace, [&](const event &e) {
		machine.set_temperature(e.celsius);
		return e.celsius;
	});
}

const daemon_case daemon_cases[] = {
	/* Crosses rows, sits in overlaps, jumps two rows, falls fast. */
	{"Rows", "0,40\n4,56\n8,52\n12,49\n16,90\n20,70\n24,60\n"},
	/* Three failed reads hand the fan back; a reading takes it again. */
	{"SensorLost", "0,56\n2,-\n8,80\n12,80\n"},
};

INSTANTIATE_TEST_SUITE_P(Traces, PreviewAgainstDaemon,
    testing::ValuesIn(daemon_cases), table_cases::by_name);

/*
 * The recipes of a document: each block (opened by a line starting with
 * opening) that defines celsius, up to the function's end, prompts off.
 */
std::vector<std::string>
recipes(const char *path, const std::string &opening)
{
	std::string text = std::regex_replace(read_file(path),
	    std::regex("\n\\$ "), "\n");
	std::vector<std::string> found;

	for (size_t at = text.find("celsius() {"); at != std::string::npos;
	    at = text.find("celsius() {", at + 1)) {
		size_t start = text.rfind("\n" + opening, at);
		start = text.find('\n', start + 1) + 1;
		found.push_back(text.substr(start, text.find("\n}\n", at) + 3 -
		    start));
	}
	return found;
}

/*
 * What README's one recipe that reads node records now, sysctl answering
 * from the simulated machine, whose directory stands for /sys/class/hwmon.
 */
std::string
record(const sim_machine &machine, const std::string &node)
{
	std::vector<std::string> found;
	for (const std::string &recipe : recipes(README_FILE, "```sh"))
		if (recipe.find(node) != std::string::npos)
			found.push_back(recipe);
	EXPECT_EQ(found.size(), 1U) << "recipes reading " << node;
	run_result result = run_program("/bin/sh", {"sh", "-c",
	    "PATH=" STANDIN_BIN ":$PATH\n" + std::regex_replace(found.at(0),
	    std::regex("/sys/class/hwmon"), machine.root) + "celsius\n"},
	    machine.root);
	EXPECT_EQ(result.status, 0) << result.err;
	return result.out.substr(0, result.out.find('\n'));
}

TEST(TraceRecipe, TheManualGivesREADMEsRecipes)
{
	std::vector<std::string> readme = recipes(README_FILE, "```sh");
	EXPECT_EQ(readme.size(), 3U);
	EXPECT_EQ(recipes(PREVIEW_MANUAL, ".Bd -literal"), readme);
}

struct recipe_case {
	const char *name;
	const char *node;	/* the one the daemon reads */
	std::vector<const char *> seconds;	/* its content, "" for none */
	const char *fields;	/* what the recipe records of them */
};

class RecipeAgainstDaemon : public testing::TestWithParam<recipe_case> {};

TEST_P(RecipeAgainstDaemon, SameLevelsAndIntervals)
{
	const recipe_case &c = GetParam();
	sim_machine machine;
	std::string trace, fields;
	auto put = [&](const char *content) {
		if (*content == '\0')
			machine.remove(c.node);
		else
			machine.put(c.node, std::string(content) + "\n");
		return *content == '\0' ? NONE : std::stoi(content);
	};

	machine.remove(THERMAL);
	for (size_t second = 0; second < c.seconds.size(); second++) {
		put(c.seconds[second]);
		std::string field = record(machine, c.node);
		fields += (second == 0 ? "" : " ") + field;
		trace += std::to_string(second) + "," + field + "\n";
	}
	EXPECT_EQ(fields, c.fields);
	replay(machine, c.node, trace, [&](const event &e) {
		return put(c.seconds.at(static_cast<size_t>(e.seconds)));
	});
}

const recipe_case recipe_cases[] = {
	/* The driver's -1 and a failed sysctl are no reading. */
	{"DriverNode", THERMAL, {"56 40", "56 40", "-1 40", "", "", "-1 40", "",
	    "70 40", "80 40", "80 40", "80 40"}, "56 56 - - - - - 70 80 80 80"},
	/*
	 * Deci-kelvin as the daemon converts it: 3287 is 56 (sysctl's 55.5C
	 * would keep level 0), 2720 is 0 (-1 would fall 3 C from 2 and poll
	 * after a second).
	 */
	{"ThermalZone", "hw.acpi.thermal.tz0.temperature", {"3187", "3187",
	    "3287", "3287", "3247", "", "", "2747", "2747", "2720", "2720",
	    "2720", "2720"}, "46 46 56 56 52 - - 2 2 0 0 0 0"},
};

INSTANTIATE_TEST_SUITE_P(Recordings, RecipeAgainstDaemon,
    testing::ValuesIn(recipe_cases), table_cases::by_name);

/*
 * The hwmon device is found by its name, not its number, and read in
 * whole degrees; a read that fails is no reading.
 */
TEST(TraceRecipe, LinuxReadsTheThinkpadHwmon)
{
	sim_machine sys;
	for (const char *device : {"hwmon0", "hwmon3"})
		mkdir(sys.path(device).c_str(), 0755);
	sys.put("hwmon0/name", "acpitz\n");
	sys.put("hwmon0/temp1_input", "27800\n");
	sys.put("hwmon3/name", "thinkpad\n");
	sys.put("hwmon3/temp1_input", "45999\n");
	EXPECT_EQ(record(sys, "/sys/class/hwmon"), "45");
	/* A directory fails the read as the driver's ENXIO would. */
	sys.remove("hwmon3/temp1_input");
	mkdir(sys.path("hwmon3/temp1_input").c_str(), 0755);
	EXPECT_EQ(record(sys, "/sys/class/hwmon"), "-");
}

}  // namespace
