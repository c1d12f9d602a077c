/*
 * Messages never hold the daemon: with standard error a pipe nobody reads,
 * already full, every message is dropped and every way out still ends the
 * daemon with the fan handed back, or says it could not.
 */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "harness.h"
#include "table.h"

namespace {

using table_cases::PrintTo;

/* A pipe whose reader never reads, filled to the brim; blocking again. */
struct full_pipe {
	int ends[2] = {-1, -1};

	full_pipe()
	{
		if (pipe(ends) == -1)
			return;
		fcntl(ends[1], F_SETFL, O_NONBLOCK);
		char block[4096] = {};
		while (write(ends[1], block, sizeof(block)) > 0)
			;
		while (write(ends[1], block, 1) > 0)
			;
		fcntl(ends[1], F_SETFL, 0);
	}
	~full_pipe()
	{
		close(ends[0]);
		close(ends[1]);
	}
	full_pipe(const full_pipe &) = delete;
	full_pipe &operator=(const full_pipe &) = delete;
};

struct ending {
	const char *name;
	int signo;
	std::string faults;	/* in place when the signal comes */
	int status;
};

class BlockedStderr : public testing::TestWithParam<ending> {};

TEST_P(BlockedStderr, NeverHoldsTheFan)
{
	const ending &c = GetParam();
	sim_machine machine;
	full_pipe err;
	ASSERT_NE(err.ends[1], -1);
	machine.set_temperature(50);
	owned_daemon daemon = start_coolrung_with_stderr({"coolrung", "-c",
	    machine.config(TABLE_TEXT)}, machine.root, err.ends[1]);
	ASSERT_TRUE(wait_for_trace(machine, " sleep ")) << machine.dump();
	/* Lost, back, stopped and continued: four messages nobody takes. */
	machine.put("faults", "read dev.acpi_ibm.0.thermal EIO\n");
	ASSERT_TRUE(wait_for_trace(machine, "write dev.acpi_ibm.0.fan 1 ok", 1, 15))
	    << machine.dump();
	machine.set_temperature(60);
	machine.put("faults", "");
	ASSERT_TRUE(wait_for_trace(machine, "write dev.acpi_ibm.0.fan_level 2 ok"))
	    << machine.dump();
	kill(daemon.pid, SIGTSTP);
	ASSERT_TRUE(wait_for_trace(machine, "write dev.acpi_ibm.0.fan 1 ok", 2))
	    << machine.dump();
	kill(daemon.pid, SIGCONT);
	ASSERT_TRUE(wait_for_trace(machine, "write dev.acpi_ibm.0.fan 0 ok", 3))
	    << machine.dump();
	machine.put("faults", c.faults);
	kill(daemon.pid, c.signo);
	run_result result = wait_daemon(daemon, 5);
	EXPECT_EQ(result.status, c.status) << machine.dump();
	EXPECT_EQ(machine.fan_mode(), c.status == 1 ? 1 : 0);
}

const ending endings[] = {
	{"Terminate", SIGTERM, "", 1},
	{"TerminateHandBackFails", SIGTERM, "write dev.acpi_ibm.0.fan EPERM\n", 77},
	{"FaultHandBackFails", SIGSEGV, "write dev.acpi_ibm.0.fan EPERM\n", 77},
};

INSTANTIATE_TEST_SUITE_P(Endings, BlockedStderr, testing::ValuesIn(endings),
    table_cases::by_name);

}  // namespace
