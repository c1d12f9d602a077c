/* The simulated kernel's own contract, through the platform calls. */
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include <syslog.h>
#include <unistd.h>

#include "harness.h"
#include "platform.h"
#include "platform_freebsd.h"
#include "sim_in_process.h"
#include "sim_kernel.h"

namespace {

class SimKernel : public SimInProcess {
protected:
	int write_by_name(const char *name, int value)
	{
		return platform_sysctlbyname(name, nullptr, nullptr, &value,
		    sizeof(value));
	}
};

TEST_F(SimKernel, FaultLines)
{
	const struct {
		std::string line;
		int error;	/* 0: the write goes through */
	} cases[] = {
		{"write dev.acpi_ibm.0.fan EPERM", EPERM},
		{"write dev.acpi_ibm.0.fan 13", 13},
		{"  write\tdev.acpi_ibm.0.fan   EBUSY  ", EBUSY},
		{"write dev.acpi_ibm.0.fan ENOSUCHNAME", EIO},
		{"write dev.acpi_ibm.0.fan 1E", EIO},
		{"write dev.acpi_ibm.0.fan 0", EIO},
		{"read dev.acpi_ibm.0.fan EPERM", 0},
		{"write dev.acpi_ibm.0.fan_level EPERM", 0},
		{"write dev.acpi_ibm.0.fan", 0},
		{"lookup x ENOENT\nwrite dev.acpi_ibm.0.fan ENOSPC", ENOSPC},
		{"write dev.acpi_ibm.0.fan EPERM" + std::string(600, 'X'), EIO},
		{"write dev.acpi_ibm.0.fan EPERM" + std::string(600, ' ') + "#",
		    EPERM},
	};
	for (const auto &c : cases) {
		machine.put("faults", c.line + "\n");
		errno = 0;
		int rc = write_by_name("dev.acpi_ibm.0.fan", 0);
		EXPECT_EQ(rc, c.error == 0 ? 0 : -1) << c.line;
		if (c.error != 0) {
			EXPECT_EQ(errno, c.error) << c.line;
		}
	}
}

/* Read whole: a fault on line 201, far past the first few KiB, fires. */
TEST_F(SimKernel, LongFaultsFile)
{
	std::string faults;
	for (int line = 1; line <= 200; line++)
		faults += "read dev.acpi_ibm.0.sensor" + std::to_string(line) +
		    " EPERM\n";
	ASSERT_GT(faults.size(), 4096U);
	machine.put("faults", faults + "write dev.acpi_ibm.0.fan EBUSY");
	EXPECT_EQ(write_by_name("dev.acpi_ibm.0.fan", 0), -1);
	EXPECT_EQ(errno, EBUSY);
}

/* Reading stops at the first word that is not an integer within int. */
TEST_F(SimKernel, NodeReadsWholeIntegers)
{
	const struct {
		const char *content;
		std::vector<int> values;
	} cases[] = {
		{"45abc 42\n", {}},
		{"45 42abc 7\n", {45}},
		{" +45\t-1\n\n-2", {45, -1, -2}},
		{"2147483647 -2147483648 2147483648 1", {2147483647, -2147483648}},
		{"- 1", {}},
		{"", {}},
	};
	int mib[4];
	size_t length = 4;
	ASSERT_EQ(platform_sysctlnametomib("dev.acpi_ibm.0.thermal", mib,
	    &length), 0);
	for (const auto &c : cases) {
		SCOPED_TRACE(c.content);
		machine.put("dev.acpi_ibm.0.thermal", c.content);
		int values[8];
		size_t size = sizeof(values);
		ASSERT_EQ(platform_sysctl(mib, 4, values, &size, nullptr, 0), 0);
		EXPECT_EQ(std::vector<int>(values, values + size / sizeof(int)),
		    c.values);
	}
}

TEST_F(SimKernel, NodesAreFiles)
{
	int mib[5];
	size_t length = 5;
	EXPECT_EQ(platform_sysctlnametomib("dev.acpi_ibm.0.nothing", mib, &length), -1);
	EXPECT_EQ(errno, ENOENT);
	length = 3;
	EXPECT_EQ(platform_sysctlnametomib("dev.acpi_ibm.0.thermal", mib, &length), -1);
	EXPECT_EQ(errno, ENOMEM);
	length = 5;
	ASSERT_EQ(platform_sysctlnametomib("dev.acpi_ibm.0.thermal", mib, &length), 0);
	EXPECT_EQ(length, 4U);

	int values[2] = {};
	size_t size = sizeof(values);
	EXPECT_EQ(platform_sysctl(mib, 4, values, &size, nullptr, 0), -1);
	EXPECT_EQ(errno, ENOMEM);	/* eight integers, room for two */
	EXPECT_EQ(size, sizeof(values));
	EXPECT_EQ(values[0], 45);
	EXPECT_EQ(values[1], 42);
	EXPECT_EQ(platform_sysctl(mib, 5, values, &size, nullptr, 0), -1);

	EXPECT_EQ(write_by_name("dev.acpi_ibm.0.fan_level", 7), 0);
	EXPECT_EQ(machine.get("dev.acpi_ibm.0.fan_level"), "7\n");
	machine.remove("dev.acpi_ibm.0.fan_level");
	EXPECT_EQ(write_by_name("dev.acpi_ibm.0.fan_level", 1), -1);
	EXPECT_EQ(errno, ENOENT);
	EXPECT_FALSE(machine.exists("dev.acpi_ibm.0.fan_level"));
}

/* What acpi_ibm refuses: values outside a node's range, read-only nodes. */
TEST_F(SimKernel, DriverRefusesWhatItRefuses)
{
	machine.put("hw.acpi.thermal.tz0.temperature", "3182\n");
	const struct {
		const char *node;
		int value;
		int error;
	} cases[] = {
		{"dev.acpi_ibm.0.fan", 2, EINVAL},
		{"dev.acpi_ibm.0.fan", -1, EINVAL},
		{"dev.acpi_ibm.0.fan_level", 8, EINVAL},
		{"dev.acpi_ibm.0.fan_level", -7, EINVAL},
		{"dev.acpi_ibm.0.thermal", 45, EPERM},
		{"hw.acpi.thermal.tz0.temperature", 3000, EPERM},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.node);
		std::string before = machine.get(c.node);
		errno = 0;
		EXPECT_EQ(write_by_name(c.node, c.value), -1);
		EXPECT_EQ(errno, c.error);
		EXPECT_EQ(machine.get(c.node), before);
	}
}

TEST_F(SimKernel, ModuleLoadsFromItsFile)
{
	machine.remove("kld/acpi_ibm");
	EXPECT_EQ(platform_kldfind("acpi_ibm"), -1);
	EXPECT_EQ(platform_kldload("acpi_ibm"), -1);
	EXPECT_EQ(errno, ENOENT);
	machine.put("kld/acpi_ibm.ko", "");
	EXPECT_GT(platform_kldload("acpi_ibm"), 0);
	EXPECT_GT(platform_kldfind("acpi_ibm"), 0);
	EXPECT_EQ(platform_kldload("acpi_ibm"), -1);
	EXPECT_EQ(errno, EEXIST);
}

TEST_F(SimKernel, TraceLines)
{
	std::string pid = std::to_string(getpid());
	machine.put("faults", "write dev.acpi_ibm.0.fan EPERM\n");
	write_by_name("dev.acpi_ibm.0.fan", 0);
	int mib[4];
	size_t length = 4;
	platform_sysctlnametomib("hw.acpi.thermal.tz0.temperature", mib, &length);
	platform_kldfind("acpi_ibm");
	std::vector<std::string> expected = {
		pid + " write dev.acpi_ibm.0.fan 0 EPERM",
		pid + " lookup hw.acpi.thermal.tz0.temperature - ENOENT",
		pid + " kldfind acpi_ibm - ok",
	};
	EXPECT_EQ(machine.trace(), expected);
}

/* Each priority by its name; names and messages far past 1 KiB stay whole. */
TEST_F(SimKernel, LongLinesReachTheirFilesWhole)
{
	std::string pid = std::to_string(getpid());
	std::string name = "dev." + std::string(3000, 'n');
	std::string message(3000, 'm');
	int mib[4];
	size_t length = 4;
	platform_sysctlnametomib(name.c_str(), mib, &length);
	platform_openlog("coolrung");
	platform_syslog(LOG_ERR, message.c_str());
	platform_syslog(LOG_WARNING, "warned");
	platform_syslog(LOG_NOTICE, "noted");
	platform_syslog(LOG_INFO, "");
	EXPECT_EQ(machine.trace(), std::vector<std::string>{
	    pid + " lookup " + name + " - ENOENT"});
	EXPECT_EQ(machine.log(), (std::vector<std::string>{
		pid + " err " + message,
		pid + " warning warned",
		pid + " notice noted",
		pid + " info ",
	}));
}

/*
 * A node whose path in the root does not fit in PATH_MAX is no node, even
 * when the path cut to fit names a file.
 */
TEST_F(SimKernel, PathsThatDoNotFitNameNoFile)
{
	std::string root = machine.root + "/";
	std::string node = "dev.acpi_ibm.0.fan";
	while (root.size() + node.size() < 4095 + 4)
		root += "./";
	/* The simulator puts a slash of its own between root and name. */
	size_t kept = 4095 - root.size() - 1;
	machine.put(node.substr(0, kept), "5\n");
	setenv("COOLRUNG_SIM_ROOT", root.c_str(), 1);
	sim_kernel_reset();
	int value = -1;
	size_t size = sizeof(value);
	EXPECT_EQ(platform_sysctlbyname(node.c_str(), &value, &size, nullptr, 0),
	    -1);
	EXPECT_EQ(errno, ENOENT);
	EXPECT_EQ(value, -1);
}

TEST(SimKernelMemory, HealthyMachineWithoutADirectory)
{
	unsetenv("COOLRUNG_SIM_ROOT");
	sim_kernel_reset();
	int mib[5];
	size_t length = 5;
	ASSERT_EQ(platform_sysctlnametomib("hw.acpi.thermal.tz0.temperature", mib,
	    &length), 0);
	int values[8] = {};
	size_t size = sizeof(values);
	ASSERT_EQ(platform_sysctl(mib, 5, values, &size, nullptr, 0), 0);
	EXPECT_EQ(values[0], 3182);
	EXPECT_EQ(platform_kldload("acpi_ibm"), -1);
	EXPECT_EQ(errno, EEXIST);
	sim_kernel_reset();
}

}  // namespace
