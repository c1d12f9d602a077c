/*
 * The handshake of -d: the process that was started leaves with 0 only
 * once the daemon says it runs with the fan, otherwise with the daemon's
 * status.  The daemon is held just before it says so: its first log line
 * goes to a FIFO that the test opens when it is ready.
 */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "harness.h"
#include "table.h"

namespace {

using table_cases::PrintTo;

struct start_case {
	const char *name;
	int to_starter;		/* sent while the daemon is held, or 0 */
	int status;		/* the starter's */
	bool runs;		/* the daemon runs on with the fan */
};

class Handshake : public testing::TestWithParam<start_case> {};

/* Not our child: its state from ps(1), "T" when stopped. */
bool
stopped_elsewhere(pid_t pid)
{
	run_result ps = run_program("/bin/sh", {"sh", "-c",
	    "ps -o state= -p " + std::to_string(pid)}, "");
	return ps.out.find('T') != std::string::npos;
}

TEST_P(Handshake, TheStarterTellsTheTruth)
{
	const start_case &c = GetParam();
	sim_machine machine;
	machine.set_temperature(50);
	machine.remove("syslog");
	ASSERT_EQ(mkfifo(machine.path("syslog").c_str(), 0600), 0);
	owned_daemon starter = start_coolrung({"coolrung", "-d", "-c",
	    machine.config(TABLE_TEXT)}, machine.root);
	int forked = wait_for_call(machine, 0, [](const trace_line &t) {
		return t.op == "daemon" && t.result == "ok";
	});
	ASSERT_GE(forked, 0) << machine.dump();
	pid_t daemon = std::stoi(machine.calls()[static_cast<size_t>(forked)].pid);
	usleep(20000);
	EXPECT_FALSE(has_ended(starter.pid)) << "left before the daemon spoke";
	if (c.to_starter != 0)
		kill(starter.pid, c.to_starter);
	if (c.to_starter == SIGTSTP) {
		ASSERT_TRUE(eventually([&] { return is_stopped(starter.pid); }));
	}
	int log = open(machine.path("syslog").c_str(), O_RDONLY | O_NONBLOCK);
	ASSERT_NE(log, -1);
	if (c.to_starter == SIGTSTP) {
		usleep(100000);
		EXPECT_TRUE(is_stopped(starter.pid));
		kill(starter.pid, SIGCONT);
	}
	run_result result = wait_daemon(starter, 10);
	EXPECT_EQ(result.status, c.status) << machine.dump();
	EXPECT_EQ(result.err, "");
	if (c.runs) {
		EXPECT_EQ(kill(daemon, 0), 0);
		EXPECT_FALSE(stopped_elsewhere(daemon));
		EXPECT_EQ(machine.fan_mode(), 0);
		kill(daemon, SIGTERM);
	}
	EXPECT_TRUE(eventually([&] { return kill(daemon, 0) != 0; }))
	    << "the daemon lives on\n" << machine.dump();
	EXPECT_EQ(machine.fan_mode(), 1) << machine.dump();
	close(log);
}

const start_case start_cases[] = {
	{"Told", 0, 0, true},
	{"TerminatedMeanwhile", SIGTERM, 1, false},
	{"HungUpMeanwhile", SIGHUP, 1, false},
	{"FaultMeanwhile", SIGSEGV, 1, false},
	{"StoppedMeanwhile", SIGTSTP, 0, true},
};

INSTANTIATE_TEST_SUITE_P(Detach, Handshake, testing::ValuesIn(start_cases),
    table_cases::by_name);

}  // namespace
