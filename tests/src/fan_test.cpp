/* Fan mode, level and temperature through the simulated kernel, in-process. */
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "fan.h"
#include "fatal.h"
#include "harness.h"
#include "sim_in_process.h"
#include "table.h"

namespace {

using table_cases::PrintTo;

const level_table TABLE = table_of({{3, 0, 55}, {5, 50, 150}});

class Fan : public SimInProcess {
protected:
	/* The trace without the pids: "OP NAME VALUE RESULT". */
	std::vector<std::string> calls() const
	{
		return machine.trace_without_pids();
	}

	fatal_error engage_failure()
	{
		std::optional<fatal_error> fault = fault_raised_by([] {
			take_fan(&TABLE);
		});
		EXPECT_TRUE(fault.has_value()) << "manual mode engaged";
		return fault.value_or(fatal_error{0, 0, ""});
	}
};

TEST_F(Fan, ManualModeResolvesOnceAndRunsAtTheFirstRow)
{
	take_fan(&TABLE);
	std::vector<std::string> expected = {
		"write dev.acpi_ibm.0.fan 0 ok",
		"lookup dev.acpi_ibm.0.fan_level - ok",
		"lookup dev.acpi_ibm.0.thermal - ok",
		"write dev.acpi_ibm.0.fan_level 3 ok",
	};
	EXPECT_EQ(calls(), expected);
	EXPECT_EQ(machine.fan_mode(), 0);
	EXPECT_EQ(machine.fan_level(), 3);
}

TEST_F(Fan, HandingBackOnlyWritesTheMode)
{
	hand_back_fan();
	EXPECT_EQ(calls(), std::vector<std::string>{"write dev.acpi_ibm.0.fan 1 ok"});
}

TEST_F(Fan, UnwritableModeStopsBeforeAnyLevel)
{
	machine.put("faults", "write dev.acpi_ibm.0.fan EPERM\n");
	fatal_error fault = engage_failure();
	EXPECT_EQ(fault.message, "dev.acpi_ibm.0.fan");
	EXPECT_EQ(fault.error, EPERM);
	EXPECT_EQ(fault.status, 77);
	EXPECT_EQ(calls(), std::vector<std::string>{"write dev.acpi_ibm.0.fan 0 EPERM"});
}

/* Manual mode that cannot be completed hands the fan straight back. */
struct abandon_case {
	const char *name;
	std::string faults;
	std::vector<std::string> remove;
	std::string node;
	int error;
};

class FanAbandon : public Fan, public testing::WithParamInterface<abandon_case> {};

TEST_P(FanAbandon, HandsTheFanBack)
{
	const abandon_case &c = GetParam();
	machine.put("faults", c.faults);
	for (const std::string &node : c.remove)
		machine.remove(node);
	fatal_error fault = engage_failure();
	EXPECT_EQ(fault.message, c.node);
	EXPECT_EQ(fault.error, c.error);
	EXPECT_EQ(fault.status, 69);
	EXPECT_EQ(calls().back(), "write dev.acpi_ibm.0.fan 1 ok");
	EXPECT_EQ(machine.fan_mode(), 1);
}

const abandon_case abandon_cases[] = {
	{"LevelNodeMissing", "", {"dev.acpi_ibm.0.fan_level"},
	    "dev.acpi_ibm.0.fan_level", ENOENT},
	{"NoTemperatureNode", "", {"dev.acpi_ibm.0.thermal"},
	    "hw.acpi.thermal.tz0.temperature", ENOENT},
	{"FirstLevelWriteFails", "write dev.acpi_ibm.0.fan_level EIO\n", {},
	    "dev.acpi_ibm.0.fan_level", EIO},
};

INSTANTIATE_TEST_SUITE_P(Engage, FanAbandon, testing::ValuesIn(abandon_cases),
    table_cases::by_name);

TEST_F(Fan, DriverTemperatureIsTheFirstInteger)
{
	take_fan(&TABLE);
	machine.put("dev.acpi_ibm.0.thermal", "61 40 -1 -1 -1 -1 -1 -1\n");
	int32_t celsius = 0;
	ASSERT_TRUE(read_temperature(&celsius));
	EXPECT_EQ(celsius, 61);
	EXPECT_EQ(count_lines(machine.trace(), "hw.acpi.thermal"), 0);
}

TEST_F(Fan, ThermalZoneConversion)
{
	machine.remove("dev.acpi_ibm.0.thermal");
	machine.put("hw.acpi.thermal.tz0.temperature", "3182\n");
	take_fan(&TABLE);
	const struct {
		int raw;
		int32_t celsius;
	} readings[] = {
		{2727, 0}, {2736, 0}, {3236, 50}, {3237, 51}, {2722, 0},
		{2716, -1}, {0, -272}, {3182, 45},
		{-2147483647 - 1, -214748637},
	};
	for (const auto &r : readings) {
		machine.put("hw.acpi.thermal.tz0.temperature", std::to_string(r.raw));
		int32_t celsius = 999;
		ASSERT_TRUE(read_temperature(&celsius)) << r.raw;
		EXPECT_EQ(celsius, r.celsius) << r.raw;
	}
}

TEST_F(Fan, FailedReadsAreNotReadings)
{
	take_fan(&TABLE);
	int32_t celsius = 77;
	machine.put("faults", "read dev.acpi_ibm.0.thermal EIO\n");
	EXPECT_FALSE(read_temperature(&celsius));
	machine.put("faults", "");
	machine.put("dev.acpi_ibm.0.thermal", "");
	EXPECT_FALSE(read_temperature(&celsius));
	machine.remove("dev.acpi_ibm.0.thermal");
	EXPECT_FALSE(read_temperature(&celsius));
	/* The driver's "no reading", not a temperature of -1. */
	machine.put("dev.acpi_ibm.0.thermal", "-1 90 -1 -1 -1 -1 -1 -1\n");
	errno = EIO;
	EXPECT_FALSE(read_temperature(&celsius));
	EXPECT_EQ(errno, 0);
	EXPECT_EQ(celsius, 77);
}

TEST_F(Fan, FailedLevelWriteIsReported)
{
	take_fan(&TABLE);
	machine.put("faults", "write dev.acpi_ibm.0.fan_level EIO\n");
	EXPECT_FALSE(write_fan_level(5));
	machine.put("faults", "");
	EXPECT_TRUE(write_fan_level(5));
	EXPECT_EQ(machine.fan_level(), 5);
}

TEST_F(Fan, PollsUseCachedMibsOnly)
{
	take_fan(&TABLE);
	size_t before = machine.trace().size();
	for (int poll = 0; poll < 20; poll++) {
		int32_t celsius;
		ASSERT_TRUE(read_temperature(&celsius));
		ASSERT_TRUE(write_fan_level(poll % 8));
	}
	std::vector<std::string> lines = machine.trace();
	lines.erase(lines.begin(), lines.begin() + static_cast<long>(before));
	EXPECT_EQ(lines.size(), 40U);
	EXPECT_EQ(count_lines(lines, " read dev.acpi_ibm.0.thermal "), 20);
	EXPECT_EQ(count_lines(lines, " write dev.acpi_ibm.0.fan_level "), 20);
	EXPECT_EQ(count_lines(lines, " lookup "), 0);
}

}  // namespace
