/* The real binary: driver check, command line, and start-up diagnostics. */
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "harness.h"
#include "table.h"

namespace {

using table_cases::PrintTo;

struct command_case {
	const char *name;
	std::vector<std::string> argv;
	int status;
	std::string out;
	std::string err;
};

class CommandLine : public testing::TestWithParam<command_case> {};

const std::string BAD_OPTION =
    "coolrung: illegal option -- x\ncoolrung: Arugment not recognised\n";
const std::string NO_DEFAULT_CONFIG =
    "coolrung: Could not find config file: " + error_text(ENOENT) + "\n";

TEST_P(CommandLine, ExactOutputAndStatus)
{
	const command_case &c = GetParam();
	sim_machine machine;
	run_result result = run_coolrung(c.argv, machine.root);
	EXPECT_EQ(result.status, c.status);
	EXPECT_EQ(result.out, c.out);
	EXPECT_EQ(result.err, c.err);
	/* Nothing here may touch the fan. */
	EXPECT_EQ(count_lines(machine.trace(), "dev.acpi_ibm"), 0);
	EXPECT_EQ(machine.fan_mode(), 1);
}

const command_case command_cases[] = {
	{"Version", {"coolrung", "-v"}, 0, "Version: 0.1\n", ""},
	{"VersionIgnoresMissingConfig", {"coolrung", "-c", "/nonexistent", "-v"}, 0,
	    "Version: 0.1\n", ""},
	{"DetachThenVersion", {"coolrung", "-d", "-v"}, 0, "Version: 0.1\n", ""},
	{"GroupedLetters", {"coolrung", "-dv"}, 0, "Version: 0.1\n", ""},
	{"VersionBeforeBadLetter", {"coolrung", "-v", "-x"}, 0, "Version: 0.1\n", ""},
	{"BadLetterBeforeVersion", {"coolrung", "-x", "-v"}, 1, "", BAD_OPTION},
	{"MissingPath", {"coolrung", "-c"}, 1, "",
	    "coolrung: option requires an argument -- c\n"
	    "coolrung: Arugment not recognised\n"},
	{"ProgramNameIsLastComponent", {"/usr/local/sbin/fancy", "-q"}, 1, "",
	    "fancy: illegal option -- q\nfancy: Arugment not recognised\n"},
	{"DoubleDashEndsOptions", {"coolrung", "--", "-x"}, 78, "", NO_DEFAULT_CONFIG},
	{"LoneDashEndsOptions", {"coolrung", "-", "-x"}, 78, "", NO_DEFAULT_CONFIG},
	{"OperandEndsOptions", {"coolrung", "operand", "-x"}, 78, "", NO_DEFAULT_CONFIG},
	{"PathTakesADashWord", {"coolrung", "-c", "-v"}, 78, "", NO_DEFAULT_CONFIG},
	{"PathInTheSameWord", {"coolrung", "-c/nonexistent/x.conf"}, 78, "",
	    NO_DEFAULT_CONFIG},
	{"ConfigReadError", {"coolrung", "-c", "/"}, 78, "",
	    "coolrung: Could not read config file: " + error_text(EISDIR) + "\n"},
	/* Read no further than the first NUL byte: it ends at once. */
	{"ConfigOfNulBytes", {"coolrung", "-c", "/dev/zero"}, 78, "",
	    "coolrung: NUL byte in config file line 1\n"},
};

INSTANTIATE_TEST_SUITE_P(Options, CommandLine, testing::ValuesIn(command_cases),
    table_cases::by_name);

/* A version line that cannot be written is a write error, never SIGPIPE. */
TEST(CommandLine, UnwritableVersionLineFails)
{
	struct {
		const char *into;
		int error;
	} cases[] = {
		{" >/dev/full", ENOSPC},
		/* The reader is gone before the line is written. */
		{" | true", EPIPE},
	};
	if (access("/dev/full", W_OK) != 0)
		cases[0] = cases[1];	/* nothing else makes a write fail */
	for (const auto &c : cases) {
		sim_machine machine;
		run_result result = run_program("/bin/sh", {"sh", "-c",
		    "(sleep 0.2; " + std::string(COOLRUNG_BINARY) +
		    " -v; echo \"status $?\" >&2)" + c.into}, machine.root);
		EXPECT_EQ(result.err, "coolrung: stdout: " + error_text(c.error) +
		    "\nstatus 74\n") << c.into;
	}
}

TEST(CommandLine, LastConfigPathCounts)
{
	sim_machine machine;
	std::string first = machine.path("first.conf");
	std::string second = machine.path("second.conf");
	write_file(first, TABLE_TEXT);
	write_file(second, "Level(0,0,150)\n");
	run_result result = run_coolrung({"coolrung", "-c", first, "-c", second},
	    machine.root);
	EXPECT_EQ(result.status, 78);
	EXPECT_EQ(result.err, "coolrung: Error parsing conifg, the following "
	    "argument was not understood: Level\n");
}

struct driver_case {
	const char *name;
	std::vector<std::string> files;		/* under kld/, besides nothing */
	std::string faults;
	int status;
	std::string err;
	std::vector<std::string> calls;
};

class Driver : public testing::TestWithParam<driver_case> {};

TEST_P(Driver, PresenceDecidesBeforeTheOptions)
{
	const driver_case &c = GetParam();
	sim_machine machine;
	machine.remove("kld/acpi_ibm");
	for (const std::string &file : c.files)
		machine.put("kld/" + file, "");
	machine.put("faults", c.faults);
	run_result result = run_coolrung({"coolrung", "-v"}, machine.root);
	EXPECT_EQ(result.status, c.status);
	EXPECT_EQ(result.err, c.err);
	EXPECT_EQ(result.out, c.status == 0 ? "Version: 0.1\n" : "");
	EXPECT_EQ(machine.trace_without_pids(), c.calls);
}

const driver_case driver_cases[] = {
	{"Loaded", {"acpi_ibm"}, "", 0, "", {"kldfind acpi_ibm - ok"}},
	{"LoadedOnDemand", {"acpi_ibm.ko"}, "", 0, "",
	    {"kldfind acpi_ibm - ENOENT", "kldload acpi_ibm - ok"}},
	{"CompiledIntoTheKernel", {"acpi_ibm"}, "kldfind acpi_ibm ENOENT\n", 0, "",
	    {"kldfind acpi_ibm - ENOENT", "kldload acpi_ibm - EEXIST"}},
	{"Absent", {}, "", 1,
	    "coolrung: Module acpi_ibm.ko load failed: " + error_text(ENOENT) + "\n",
	    {"kldfind acpi_ibm - ENOENT", "kldload acpi_ibm - ENOENT"}},
	{"NoPrivilege", {"acpi_ibm.ko"}, "kldload acpi_ibm EPERM\n", 1,
	    "coolrung: Module acpi_ibm.ko load failed: " + error_text(EPERM) + "\n",
	    {"kldfind acpi_ibm - ENOENT", "kldload acpi_ibm - EPERM"}},
};

INSTANTIATE_TEST_SUITE_P(Module, Driver, testing::ValuesIn(driver_cases),
    table_cases::by_name);

TEST(Driver, LoadingCreatesTheModule)
{
	sim_machine machine;
	machine.remove("kld/acpi_ibm");
	machine.put("kld/acpi_ibm.ko", "");
	EXPECT_EQ(run_coolrung({"coolrung", "-v"}, machine.root).status, 0);
	EXPECT_TRUE(machine.exists("kld/acpi_ibm"));
}

TEST(Driver, HealthyMachineWithoutSimulatorDirectory)
{
	run_result result = run_coolrung({"coolrung", "-v"}, "");
	EXPECT_EQ(result.status, 0);
	EXPECT_EQ(result.out, "Version: 0.1\n");
}

struct startup_case {
	const char *name;
	std::string config;
	std::string faults;
	std::vector<std::string> remove;
	int status;
	std::string err;
	int fan_mode_after;
};

class StartUp : public testing::TestWithParam<startup_case> {};

TEST_P(StartUp, RefusesBeforeDetaching)
{
	const startup_case &c = GetParam();
	sim_machine machine;
	machine.put("faults", c.faults);
	for (const std::string &node : c.remove)
		machine.remove(node);
	std::string conf = machine.config(c.config);
	run_result result = run_coolrung({"coolrung", "-d", "-c", conf}, machine.root);
	EXPECT_EQ(result.status, c.status);
	EXPECT_EQ(result.err, c.err);
	EXPECT_EQ(count_lines(machine.trace(), " daemon "), 0);
	if (machine.exists("dev.acpi_ibm.0.fan")) {
		EXPECT_EQ(machine.fan_mode(), c.fan_mode_after);
	}
}

const startup_case startup_cases[] = {
	{"ConversionErrorKeepsTheLineEnd", "level(,0,150)\n", "", {}, 78,
	    "coolrung: Could not parse level value: ,0,150)\n: " +
	    error_text(EINVAL) + "\n", 1},
	{"Dangerous", "level(0,5,150)\n", "", {}, 78,
	    "coolrung: First level min temperature >0 or last level max "
	    "temperature <150, dangerous\n", 1},
	{"NotAscending", "level(3,0,60)\nlevel(1,55,150)\n", "", {}, 78,
	    "coolrung: The levels defined in the config are not in an ascending "
	    "order by level_number \n", 1},
	{"Gap", "level(0,0,55)\nlevel(7,56,150)\n", "", {}, 78,
	    "coolrung: There's a gap between the temperatures defined "
	    "(level n.max<n+1.min)\n", 1},
	{"NoLevels", "# empty\n", "", {}, 78,
	    "coolrung: No level lines found in config file\n", 1},
	{"TooLarge", "level(0,0,4294967296)\n", "", {}, 78,
	    "coolrung: Value 4294967296 is entirely too large\n", 1},
	{"Negative", "level(0,-7,150)\n", "", {}, 78,
	    "coolrung: Don't be negative (-7)\n", 1},
	{"ModeNotWritable", TABLE_TEXT, "write dev.acpi_ibm.0.fan EPERM\n", {}, 77,
	    "coolrung: dev.acpi_ibm.0.fan: " + error_text(EPERM) + "\n", 1},
	{"ModeNodeMissing", TABLE_TEXT, "", {"dev.acpi_ibm.0.fan"}, 77,
	    "coolrung: dev.acpi_ibm.0.fan: " + error_text(ENOENT) + "\n", 1},
	{"LevelNodeMissing", TABLE_TEXT, "", {"dev.acpi_ibm.0.fan_level"}, 69,
	    "coolrung: dev.acpi_ibm.0.fan_level: " + error_text(ENOENT) + "\n", 1},
	{"NoTemperature", TABLE_TEXT, "", {"dev.acpi_ibm.0.thermal"}, 69,
	    "coolrung: hw.acpi.thermal.tz0.temperature: " + error_text(ENOENT) +
	    "\n", 1},
};

INSTANTIATE_TEST_SUITE_P(Messages, StartUp, testing::ValuesIn(startup_cases),
    table_cases::by_name);

TEST(StartUp, UnwritableModeWritesNoLevel)
{
	sim_machine machine;
	machine.put("faults", "write dev.acpi_ibm.0.fan EPERM\n");
	std::string conf = machine.config(TABLE_TEXT);
	EXPECT_EQ(run_coolrung({"coolrung", "-c", conf}, machine.root).status, 77);
	EXPECT_EQ(count_lines(machine.trace(), "fan_level"), 0);
}

}  // namespace
