/*
 * Signals at random moments: hundreds of daemons, each on its own simulated
 * machine, each sent one of the signals below somewhere
 * between its spawn and a few polls in.  Whatever the moment, the fan ends
 * in automatic mode: handed back with status 1, or never taken at all (a
 * signal before the handlers may still kill the process by default).
 *
 * The seed is printed; COOLRUNG_STORM_SEED=<seed> repeats a run.
 */
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "table.h"

namespace {

using clock_type = std::chrono::steady_clock;

const int RUNS = 300;
const int EARLY_RUNS = 40;		/* signalled within 20 ms: start-up */
const int EARLIER_RUNS = 60;		/* within 5 ms: around the handlers */
const int AT_ONCE = 20;			/* daemons alive at the same time */
const int EARLY_MICROSECONDS = 20000;
const int EARLIER_MICROSECONDS = 5000;
const int LATE_MICROSECONDS = 2500000;
const int END_SECONDS = 10;		/* after the signal, or it counts as hung */

struct planned_run {
	int signo;
	int delay_us;
};

struct storm_run {
	planned_run plan;
	std::unique_ptr<sim_machine> machine;
	owned_daemon daemon;
	clock_type::time_point started, signalled;
	bool sent = false;
};

/* Ending signals, with one that ended the process before, and faults. */
const struct {
	int signo;
	const char *name;
} storm_signals[] = {
	{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"},
	{SIGUSR1, "SIGUSR1"}, {SIGSEGV, "SIGSEGV"}, {SIGTRAP, "SIGTRAP"},
};

const char *
signal_name(int signo)
{
	for (const auto &known : storm_signals) {
		if (known.signo == signo)
			return known.name;
	}
	return "?";
}

unsigned long long
storm_seed()
{
	const char *given = getenv("COOLRUNG_STORM_SEED");
	if (given != nullptr && given[0] != '\0')
		return strtoull(given, nullptr, 10);
	return std::random_device{}() * 4294967296ULL + std::random_device{}();
}

std::vector<planned_run>
plan(unsigned long long seed)
{
	std::mt19937_64 random(seed);
	std::uniform_int_distribution<size_t> which(0,
	    std::size(storm_signals) - 1);
	std::uniform_int_distribution<int> early(0, EARLY_MICROSECONDS);
	std::uniform_int_distribution<int> earlier(0, EARLIER_MICROSECONDS);
	std::uniform_int_distribution<int> late(0, LATE_MICROSECONDS);
	std::vector<planned_run> runs;
	for (int i = 0; i < RUNS; i++) {
		int signo = storm_signals[which(random)].signo;
		int delay = i < EARLY_RUNS ? early(random) :
		    i < EARLY_RUNS + EARLIER_RUNS ? earlier(random) : late(random);
		runs.push_back({signo, delay});
	}
	std::shuffle(runs.begin(), runs.end(), random);
	return runs;
}

/* Judges one finished run; returns its outcome, or "" with a failure added. */
std::string
judge(const storm_run &run, const run_result &result)
{
	const sim_machine &machine = *run.machine;
	std::vector<std::string> trace = machine.trace();
	std::string history = machine.dump();
	std::string about = std::string(signal_name(run.plan.signo)) + " after " +
	    std::to_string(run.plan.delay_us) + " us\n" + history;
	bool taken = count_lines(trace, "write dev.acpi_ibm.0.fan 0 ok") > 0;

	EXPECT_EQ(machine.fan_mode(), 1) << "fan left in manual mode: " << about;
	EXPECT_EQ(result.err, "") << about;
	if (taken) {
		EXPECT_EQ(result.status, 1) << about;
		EXPECT_EQ(result.signal, 0) << about;
		EXPECT_FALSE(trace.empty());
		if (!trace.empty()) {
			EXPECT_NE(trace.back().find("write dev.acpi_ibm.0.fan 1 ok"),
			    std::string::npos) << about;
		}
		if (result.status != 1 || machine.fan_mode() != 1)
			return "";
		return count_lines(trace, " sleep ") == 0 ?
		    "handed back during start-up" : "handed back while polling";
	}
	if (result.status == 1)
		return "exited 1 before the take-over";
	EXPECT_EQ(result.signal, run.plan.signo) << about;
	if (result.signal != run.plan.signo)
		return "";
	return "killed before the handlers";
}

TEST(Storm, TheFanEndsInAutomaticMode)
{
	/* Default actions of SIGSEGV must not fill the disk with cores. */
	struct rlimit no_core = {0, 0};
	setrlimit(RLIMIT_CORE, &no_core);

	unsigned long long seed = storm_seed();
	printf("storm seed %llu (COOLRUNG_STORM_SEED=%llu repeats it)\n", seed,
	    seed);
	RecordProperty("seed", std::to_string(seed));
	std::vector<planned_run> runs = plan(seed);

	auto begun = clock_type::now();
	std::vector<std::unique_ptr<storm_run>> active;
	std::map<std::string, std::map<std::string, int>> outcomes;
	size_t next = 0, finished = 0;
	while (finished < runs.size()) {
		while (active.size() < AT_ONCE && next < runs.size()) {
			auto run = std::make_unique<storm_run>();
			run->plan = runs[next++];
			run->machine = std::make_unique<sim_machine>();
			run->machine->set_temperature(56);
			std::string conf = run->machine->config(TABLE_TEXT);
			run->started = clock_type::now();
			run->daemon = start_coolrung({"coolrung", "-c", conf},
			    run->machine->root);
			active.push_back(std::move(run));
		}
		auto now = clock_type::now();
		for (size_t i = 0; i < active.size();) {
			storm_run &run = *active[i];
			if (!run.sent && now >= run.started +
			    std::chrono::microseconds(run.plan.delay_us)) {
				kill(run.daemon.pid, run.plan.signo);
				run.sent = true;
				run.signalled = now;
			}
			bool hung = run.sent &&
			    now > run.signalled + std::chrono::seconds(END_SECONDS);
			if (!run.sent || (!has_ended(run.daemon.pid) && !hung)) {
				i++;
				continue;
			}
			run_result result = wait_daemon(run.daemon, 1);
			std::string outcome = hung ? "" : judge(run, result);
			if (hung) {
				ADD_FAILURE() << signal_name(run.plan.signo) << " after "
				    << run.plan.delay_us << " us: still running "
				    << END_SECONDS << " s later";
			}
			if (outcome.empty())
				outcome = hung ? "FAILED: hung" : "FAILED";
			outcomes[outcome][signal_name(run.plan.signo)]++;
			finished++;
			active.erase(active.begin() + static_cast<long>(i));
		}
		std::this_thread::sleep_for(std::chrono::microseconds(500));
	}
	double seconds = std::chrono::duration<double>(clock_type::now() -
	    begun).count();

	printf("%d runs, %d at a time, %.1f s\n", RUNS, AT_ONCE, seconds);
	printf("%-32s", "outcome");
	for (const auto &known : storm_signals)
		printf(" %8s", known.name);
	printf("\n");
	for (const auto &[outcome, by_signal] : outcomes) {
		printf("%-32s", outcome.c_str());
		for (const auto &known : storm_signals) {
			auto found = by_signal.find(known.name);
			printf(" %8d", found == by_signal.end() ? 0 : found->second);
		}
		printf("\n");
	}
	fflush(stdout);
}

}  // namespace
