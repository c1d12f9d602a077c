/*
 * A SIGCONT that comes while the job stop is under way: the faults FIFO
 * holds the hand-back of the fan open, the signals are sent, the call is
 * let go.  The continue cancels the stop; an ending signal with it ends
 * the daemon, the fan handed back, as `service coolrung stop` expects.
 */
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "harness.h"
#include "table.h"

namespace {

using table_cases::PrintTo;

struct race_case {
	const char *name;
	std::vector<int> during;	/* sent while the hand-back is held */
	bool ends;
};

class ContinueInsideTheStop : public testing::TestWithParam<race_case> {};

TEST_P(ContinueInsideTheStop, NeverStopsForGood)
{
	const race_case &c = GetParam();
	sim_machine machine;
	machine.set_temperature(50);
	std::string fifo = machine.path("faults");
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	owned_daemon daemon = start_coolrung({"coolrung", "-c",
	    machine.config(TABLE_TEXT)}, machine.root);
	ASSERT_TRUE(feed_until(fifo, [&] {
		return count_lines(machine.trace(), " sleep ") == 1;
	}, 5)) << machine.dump();
	kill(daemon.pid, SIGTSTP);
	int held = hold_fifo(fifo, 5);
	ASSERT_NE(held, -1) << "no hand-back\n" << machine.dump();
	for (int signo : c.during)
		kill(daemon.pid, signo);
	usleep(20000);
	close(held);
	if (!c.ends) {
		/* Not stopped: the next reading takes the fan again. */
		ASSERT_TRUE(feed_until(fifo, [&] {
			return count_lines(machine.trace(),
			    "write dev.acpi_ibm.0.fan 0 ok") == 2;
		}, 5)) << "stopped for good\n" << machine.dump();
		kill(daemon.pid, SIGTERM);
	}
	/* Each call waits in the FIFO for the test: fed until the end. */
	ASSERT_TRUE(feed_until(fifo, [&] { return has_ended(daemon.pid); }, 5))
	    << "stopped for good\n" << machine.dump();
	EXPECT_EQ(wait_daemon(daemon, 1).status, 1);
	EXPECT_EQ(machine.fan_mode(), 1);
}

const race_case race_cases[] = {
	{"Continue", {SIGCONT}, false},
	{"TerminateAndContinue", {SIGTERM, SIGCONT}, true},
	{"ContinueAndInterrupt", {SIGCONT, SIGINT}, true},
};

INSTANTIATE_TEST_SUITE_P(JobStop, ContinueInsideTheStop,
    testing::ValuesIn(race_cases),
    table_cases::by_name);

}  // namespace
