/*
 * Every platform call the daemon makes, failed once with each errno the
 * FreeBSD manual gives for it, at start-up, while polling and at shutdown:
 * the real binary on a simulated machine.  A case either ends the daemon
 * with its status and message (the fan back in automatic mode whenever it
 * had been taken) or leaves it polling, and then SIGTERM still ends it with
 * the fan handed back.
 */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "table.h"

namespace {

using table_cases::PrintTo;

const std::string FAN = "dev.acpi_ibm.0.fan";
const std::string LEVEL = "dev.acpi_ibm.0.fan_level";
const std::string THERMAL = "dev.acpi_ibm.0.thermal";
const std::string TZ0 = "hw.acpi.thermal.tz0.temperature";
const int KEEPS_POLLING = -1;

/* The errno each name of a faults line stands for. */
const std::map<std::string, int> error_numbers = {
	{"EPERM", EPERM}, {"ENOENT", ENOENT}, {"EINVAL", EINVAL},
	{"ENOMEM", ENOMEM}, {"EFAULT", EFAULT}, {"ENOTDIR", ENOTDIR},
	{"EISDIR", EISDIR}, {"EEXIST", EEXIST}, {"ENOEXEC", ENOEXEC},
	{"EAGAIN", EAGAIN}, {"EIO", EIO},
};

/* sysctl(3), sysctlbyname and sysctlnametomib share one list. */
const std::vector<std::string> SYSCTL_ERRORS = {"EFAULT", "EINVAL", "ENOMEM",
    "ENOTDIR", "EISDIR", "ENOENT", "EPERM"};

enum class phase {
	start_up,	/* the fault is in place before the daemon starts */
	polling,	/* added after the first sleep */
	shutdown,	/* added after the first sleep, then SIGTERM */
};

enum class machine_setup {
	healthy,	/* module loaded, the driver's thermal node */
	loadable,	/* module not loaded, acpi_ibm.ko present */
	with_tz0,	/* thermal node and the ACPI zone */
	tz0_only,	/* no thermal node: the ACPI zone */
};

/* What a case that keeps polling must show besides the polls. */
enum class follow_up {
	none,
	nothing_moves,	/* failed read: no level write, a slow poll */
	retried,	/* failed level write: the next poll writes it again */
	reads_tz0,	/* the ACPI zone is used for ever */
};

/* One platform call and what its failure must lead to. */
struct call_row {
	const char *label;
	phase when;
	machine_setup setup;
	std::string op, node;		/* the faults line without its errno */
	std::vector<std::string> errors;
	int status;			/* KEEPS_POLLING or the exit status */
	std::string message;		/* stderr up to the error text */
	int fan_after;
	follow_up check;
	bool detach;
};

const call_row call_rows[] = {
	/* The driver: a failed kldfind tries kldload, which finds it there. */
	{"FindModule", phase::start_up, machine_setup::healthy, "kldfind",
	    "acpi_ibm", {"ENOENT", "EFAULT"}, KEEPS_POLLING, "", 1,
	    follow_up::none, false},
	{"LoadModule", phase::start_up, machine_setup::loadable, "kldload",
	    "acpi_ibm", {"EPERM", "ENOENT", "ENOEXEC", "ENOMEM", "EFAULT"}, 1,
	    "coolrung: Module acpi_ibm.ko load failed: ", 1, follow_up::none,
	    false},
	{"LoadModule", phase::start_up, machine_setup::loadable, "kldload",
	    "acpi_ibm", {"EEXIST"}, KEEPS_POLLING, "", 1, follow_up::none, false},
	/* Taking the fan: nothing was taken, nothing to give back. */
	{"TakeFan", phase::start_up, machine_setup::healthy, "write", FAN,
	    SYSCTL_ERRORS, 77, "coolrung: dev.acpi_ibm.0.fan: ", 1,
	    follow_up::none, false},
	/* Completing manual mode: the fan goes back first. */
	{"LookUpLevel", phase::start_up, machine_setup::healthy, "lookup", LEVEL,
	    SYSCTL_ERRORS, 69, "coolrung: dev.acpi_ibm.0.fan_level: ", 1,
	    follow_up::none, false},
	{"LookUpThermal", phase::start_up, machine_setup::with_tz0, "lookup",
	    THERMAL, SYSCTL_ERRORS, KEEPS_POLLING, "", 1, follow_up::reads_tz0,
	    false},
	{"LookUpTz0", phase::start_up, machine_setup::tz0_only, "lookup", TZ0,
	    SYSCTL_ERRORS, 69, "coolrung: hw.acpi.thermal.tz0.temperature: ", 1,
	    follow_up::none, false},
	{"FirstLevel", phase::start_up, machine_setup::healthy, "write", LEVEL,
	    SYSCTL_ERRORS, 69, "coolrung: dev.acpi_ibm.0.fan_level: ", 1,
	    follow_up::none, false},
	/* Not detached: the fan goes back rather than hang a start script. */
	{"Detach", phase::start_up, machine_setup::healthy, "daemon", "-",
	    {"EAGAIN", "ENOMEM", "EPERM"}, 71, "coolrung: daemon: ", 1,
	    follow_up::none, true},
	/* Polling. */
	{"ReadThermal", phase::polling, machine_setup::healthy, "read", THERMAL,
	    SYSCTL_ERRORS, KEEPS_POLLING, "", 1, follow_up::nothing_moves, false},
	{"ReadTz0", phase::polling, machine_setup::tz0_only, "read", TZ0,
	    SYSCTL_ERRORS, KEEPS_POLLING, "", 1, follow_up::nothing_moves, false},
	{"StepLevel", phase::polling, machine_setup::healthy, "write", LEVEL,
	    SYSCTL_ERRORS, KEEPS_POLLING, "", 1, follow_up::retried, false},
	/* Handing the fan back: it stays in manual mode, and we say so. */
	{"HandBack", phase::shutdown, machine_setup::healthy, "write", FAN,
	    SYSCTL_ERRORS, 77, "coolrung: dev.acpi_ibm.0.fan: ", 0,
	    follow_up::none, false},
};

struct fault_case {
	std::string name;
	const call_row *row;
	std::string error;
	std::string err;	/* exact stderr */
};

std::vector<fault_case>
fault_cases()
{
	std::vector<fault_case> cases;
	for (const call_row &row : call_rows) {
		for (const std::string &error : row.errors) {
			fault_case c = {std::string(row.label) + "_" + error, &row, error,
			    ""};
			if (row.status != KEEPS_POLLING)
				c.err = row.message +
				    error_text(error_numbers.at(error)) + "\n";
			cases.push_back(c);
		}
	}
	return cases;
}

void
prepare(const sim_machine &machine, machine_setup setup)
{
	machine.set_temperature(50);
	switch (setup) {
	case machine_setup::healthy:
		break;
	case machine_setup::loadable:
		machine.remove("kld/acpi_ibm");
		machine.put("kld/acpi_ibm.ko", "");
		break;
	case machine_setup::with_tz0:
		machine.put(TZ0, "3232\n");		/* 50 °C */
		break;
	case machine_setup::tz0_only:
		machine.remove(THERMAL);
		machine.put(TZ0, "3232\n");
		break;
	}
}

class Fault : public testing::TestWithParam<fault_case> {
protected:
	sim_machine machine;
	owned_daemon daemon;
};

TEST_P(Fault, FailsOnce)
{
	const fault_case &c = GetParam();
	const call_row &row = *c.row;
	const std::string fault = row.op + " " + row.node + " " + c.error + "\n";
	auto failed = [&](const trace_line &t) {
		return t.op == row.op && t.name == row.node && t.result == c.error;
	};
	auto sleeps = [](const trace_line &t) { return t.op == "sleep"; };
	std::string temperature_node = row.setup == machine_setup::tz0_only ||
	    row.check == follow_up::reads_tz0 ? TZ0 : THERMAL;
	auto polled = [&](const trace_line &t) {
		return t.op == "read" && t.name == temperature_node && t.result == "ok";
	};

	prepare(machine, row.setup);
	std::vector<std::string> argv = {"coolrung", "-c",
	    machine.config(TABLE_TEXT)};
	if (row.detach)
		argv.push_back("-d");

	if (row.when == phase::start_up && row.status != KEEPS_POLLING) {
		machine.put("faults", fault);
		run_result result = run_coolrung(argv, machine.root);
		EXPECT_EQ(result.status, row.status) << machine.dump();
		EXPECT_EQ(result.err, c.err);
		EXPECT_EQ(result.out, "");
		EXPECT_EQ(machine.fan_mode(), row.fan_after);
		std::vector<trace_line> lines = machine.calls();
		ASSERT_FALSE(lines.empty());
		EXPECT_TRUE(failed(lines.back()) ||
		    (lines.back().op == "write" && lines.back().name == FAN &&
		    lines.back().value == "1" && lines.back().result == "ok"))
		    << machine.dump();
		/* The fan's level is only ever set in manual mode. */
		bool manual = false;
		for (const trace_line &t : lines) {
			if (t.op == "write" && t.name == FAN && t.result == "ok")
				manual = t.value == "0";
			if (t.op == "write" && t.name == LEVEL && t.result == "ok") {
				EXPECT_TRUE(manual) << machine.dump();
			}
			EXPECT_NE(t.op, "sleep");
		}
		EXPECT_FALSE(manual) << "fan left in manual mode\n" << machine.dump();
		return;
	}

	if (row.when == phase::start_up)
		machine.put("faults", fault);
	daemon = start_coolrung(argv, machine.root);
	int first_sleep = wait_for_call(machine, 0, sleeps);
	ASSERT_GE(first_sleep, 0) << machine.dump();
	if (row.when != phase::start_up) {
		machine.put("faults", fault);
		if (row.check == follow_up::retried)
			machine.set_temperature(56);
	}
	if (row.when == phase::shutdown) {
		kill(daemon.pid, SIGTERM);
		run_result result = wait_daemon(daemon, 5);
		EXPECT_EQ(result.status, row.status);
		EXPECT_EQ(result.err, c.err);
		EXPECT_EQ(machine.fan_mode(), row.fan_after);
		EXPECT_TRUE(failed(machine.calls().back())) << machine.dump();
		return;
	}

	int failure = wait_for_call(machine, 0, failed);
	ASSERT_GE(failure, 0) << "the call never failed\n" << machine.dump();
	machine.put("faults", "");
	size_t after = static_cast<size_t>(failure) + 1;
	int next_sleep = wait_for_call(machine, after, sleeps);
	ASSERT_GE(next_sleep, 0) << machine.dump();
	/* Still polling: a good reading after the failure. */
	int poll = wait_for_call(machine, after, polled);
	ASSERT_GE(poll, 0) << "no poll after the failure\n" << machine.dump();
	ASSERT_GE(wait_for_call(machine, static_cast<size_t>(poll), sleeps), 0);

	std::vector<trace_line> lines = machine.calls();
	switch (row.check) {
	case follow_up::none:
		break;
	case follow_up::nothing_moves:
		for (int i = failure; i < next_sleep; i++) {
			EXPECT_NE(lines[static_cast<size_t>(i)].name, LEVEL)
			    << machine.dump();
		}
		EXPECT_EQ(lines[static_cast<size_t>(next_sleep)].value, "2")
		    << machine.dump();
		break;
	case follow_up::retried: {
		EXPECT_EQ(lines[static_cast<size_t>(failure)].value, "2");
		int retry = wait_for_call(machine, after, [](const trace_line &t) {
			return t.op == "write" && t.name == LEVEL && t.value == "2" &&
			    t.result == "ok";
		});
		ASSERT_GE(retry, 0) << "the level was not written again\n"
		    << machine.dump();
		EXPECT_EQ(machine.fan_level(), 2);
		break;
	}
	case follow_up::reads_tz0:
		for (const trace_line &t : lines) {
			EXPECT_FALSE(t.op == "read" && t.name == THERMAL) << machine.dump();
		}
		break;
	}
	EXPECT_EQ(machine.fan_mode(), 0);

	kill(daemon.pid, SIGTERM);
	run_result result = wait_daemon(daemon, 5);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(result.err, "");
	EXPECT_EQ(result.out, "");
	EXPECT_EQ(machine.fan_mode(), row.fan_after);
	EXPECT_EQ(machine.trace_without_pids().back(),
	    "write dev.acpi_ibm.0.fan 1 ok") << machine.dump();
}

INSTANTIATE_TEST_SUITE_P(EveryCall, Fault, testing::ValuesIn(fault_cases()),
    table_cases::by_name);

/*
 * The hand-back after a manual mode that cannot be completed writes the same
 * node as the take-over, so a faults file that stays put cannot fail one but
 * not the other.  Here the faults file is a FIFO and each call that reads it
 * gets its own content: call by call, the test decides what fails.
 */
struct sequence_case {
	const char *name;
	machine_setup setup;
	std::vector<std::string> faults;	/* one per faults read, in order */
	int status;
	std::string err;
	int fan_after;
};

class Sequence : public testing::TestWithParam<sequence_case> {};

TEST_P(Sequence, HandBackFailsAfterTheTakeOver)
{
	const sequence_case &c = GetParam();
	sim_machine machine;
	prepare(machine, c.setup);
	ASSERT_EQ(mkfifo(machine.path("faults").c_str(), 0600), 0);
	owned_daemon daemon = start_coolrung({"coolrung", "-c",
	    machine.config(TABLE_TEXT)}, machine.root);
	for (size_t i = 0; i < c.faults.size(); i++) {
		ASSERT_TRUE(feed_fifo(machine.path("faults"), c.faults[i], 5))
		    << "call " << i << " never read the faults\n" << machine.dump();
		/* The call is traced once it has read the faults and closed them. */
		ASSERT_TRUE(wait_for_trace(machine, " ", static_cast<int>(i) + 1, 5))
		    << machine.dump();
	}
	run_result result = wait_daemon(daemon, 5);
	EXPECT_EQ(result.status, c.status) << machine.dump();
	EXPECT_EQ(result.err, c.err);
	EXPECT_EQ(machine.fan_mode(), c.fan_after);
	EXPECT_EQ(machine.trace().size(), c.faults.size()) << machine.dump();
}

const sequence_case sequence_cases[] = {
	{"LevelLookup", machine_setup::healthy,
	    {"", "", "lookup dev.acpi_ibm.0.fan_level ENOENT\n",
	    "write dev.acpi_ibm.0.fan EPERM\n"},
	    77, "coolrung: dev.acpi_ibm.0.fan: " + error_text(EPERM) + "\n", 0},
	{"NoTemperature", machine_setup::with_tz0,
	    {"", "", "", "lookup dev.acpi_ibm.0.thermal ENOENT\n",
	    "lookup hw.acpi.thermal.tz0.temperature EPERM\n",
	    "write dev.acpi_ibm.0.fan EIO\n"},
	    77, "coolrung: dev.acpi_ibm.0.fan: " + error_text(EIO) + "\n", 0},
	{"FirstLevel", machine_setup::healthy,
	    {"", "", "", "", "write dev.acpi_ibm.0.fan_level EINVAL\n",
	    "write dev.acpi_ibm.0.fan ENOENT\n"},
	    77, "coolrung: dev.acpi_ibm.0.fan: " + error_text(ENOENT) + "\n", 0},
	/* The same sequence with the hand-back going through. */
	{"FirstLevelHandedBack", machine_setup::healthy,
	    {"", "", "", "", "write dev.acpi_ibm.0.fan_level EINVAL\n", ""},
	    69, "coolrung: dev.acpi_ibm.0.fan_level: " + error_text(EINVAL) + "\n",
	    1},
};

INSTANTIATE_TEST_SUITE_P(StartUp, Sequence, testing::ValuesIn(sequence_cases),
    table_cases::by_name);

/*
 * A signal that comes while the daemon is inside a platform call: the call
 * is held open on the faults FIFO, the signal sent, and the call let go.
 * Timing alone rarely lands between the handlers' installation and the
 * first sleep; this lands inside every call of that stretch.
 */
struct inside_case {
	std::string name;
	int call;		/* 1-based, among the calls that read the faults */
	int signo;
	bool killed;		/* before the handlers: the default action */
};

/*
 * Lets the daemon through its first calls - 1 platform calls, then holds
 * call number `call` inside its read of the faults FIFO.  Returns the FIFO's
 * write end, whose closing lets the call go on; -1 if the call never came.
 */
int
hold_call(const sim_machine &machine, const std::string &fifo, int call)
{
	for (int i = 1; i < call; i++) {
		if (!feed_fifo(fifo, "", 5) || !wait_for_trace(machine, " ", i, 5))
			return -1;
	}
	return hold_fifo(fifo, 5);
}

class SignalInside : public testing::TestWithParam<inside_case> {};

TEST_P(SignalInside, TheFanEndsInAutomaticMode)
{
	const inside_case &c = GetParam();
	sim_machine machine;
	prepare(machine, machine_setup::healthy);
	machine.set_temperature(56);
	std::string fifo = machine.path("faults");
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	owned_daemon daemon = start_coolrung({"coolrung", "-c",
	    machine.config(TABLE_TEXT)}, machine.root);
	int held = hold_call(machine, fifo, c.call);
	ASSERT_NE(held, -1) << machine.dump();
	std::vector<std::string> before = machine.trace();
	kill(daemon.pid, c.signo);
	usleep(20000);
	close(held);
	/* Let every later call through until the daemon has ended. */
	(void)feed_until(fifo, [&] { return has_ended(daemon.pid); }, 8);
	run_result result = wait_daemon(daemon, 1);
	std::vector<std::string> lines = machine.trace();
	EXPECT_EQ(before.size(), static_cast<size_t>(c.call - 1));
	EXPECT_EQ(result.err, "");
	EXPECT_EQ(machine.fan_mode(), 1) << machine.dump();
	if (c.killed) {
		EXPECT_EQ(result.signal, c.signo);
		EXPECT_EQ(count_lines(lines, "dev.acpi_ibm"), 0) << machine.dump();
		return;
	}
	EXPECT_EQ(result.status, 1) << machine.dump();
	ASSERT_FALSE(lines.empty());
	EXPECT_NE(lines.back().find(" write dev.acpi_ibm.0.fan 1 ok"),
	    std::string::npos) << machine.dump();
	if (c.signo == SIGSEGV) {
		/* Handled inside the call: the hand-back is the only call after. */
		EXPECT_EQ(lines.size(), static_cast<size_t>(c.call)) << machine.dump();
	} else {
		/* Never lost: at most the first sleep, which it ends at once. */
		EXPECT_LE(count_lines(lines, "write dev.acpi_ibm.0.fan 0 ok"), 1)
		    << machine.dump();
		EXPECT_LE(count_lines(lines, " sleep "), 1) << machine.dump();
	}
}

std::vector<inside_case>
inside_cases()
{
	const char *calls[] = {"FindModule", "TakeFan", "LookUpLevel",
	    "LookUpThermal", "FirstLevel", "FirstRead"};
	const std::pair<const char *, int> signals[] = {{"Term", SIGTERM},
	    {"Int", SIGINT}, {"Hup", SIGHUP}, {"Segv", SIGSEGV}};
	std::vector<inside_case> cases;
	for (int call = 1; call <= 6; call++) {
		for (const auto &[name, signo] : signals) {
			cases.push_back({std::string(calls[call - 1]) + "_" + name, call,
			    signo, call == 1});
		}
	}
	return cases;
}

INSTANTIATE_TEST_SUITE_P(StartUp, SignalInside, testing::ValuesIn(inside_cases()),
    table_cases::by_name);

/*
 * With -d, a stop signal held blocked during start-up is pending in the
 * process that would fork; a child starts with no signal pending.  The
 * daemon must not detach then, so the signal still ends it and gives the
 * fan back.
 */
TEST(SignalBeforeDetaching, StillHandsTheFanBack)
{
	sim_machine machine;
	prepare(machine, machine_setup::healthy);
	std::string fifo = machine.path("faults");
	ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
	owned_daemon daemon = start_coolrung({"coolrung", "-d", "-c",
	    machine.config(TABLE_TEXT)}, machine.root);
	/* Held inside the first level write, with the fan taken. */
	int held = hold_call(machine, fifo, 5);
	ASSERT_NE(held, -1) << machine.dump();
	kill(daemon.pid, SIGTERM);
	usleep(20000);
	machine.remove("faults");	/* nothing blocks from here on */
	close(held);
	run_result parent = wait_daemon(daemon, 5);
	bool handed_back = wait_for_trace(machine, "write dev.acpi_ibm.0.fan 1 ok",
	    1, 4);
	std::vector<trace_line> lines = machine.calls();
	for (const trace_line &t : lines) {
		if (t.op == "daemon" && t.result == "ok")
			kill(std::stoi(t.pid), SIGKILL);	/* clean up a survivor */
	}
	EXPECT_TRUE(handed_back) << "SIGTERM lost in the fork: the daemon "
	    "polls on with the fan in manual mode\n" << machine.dump();
	EXPECT_EQ(machine.fan_mode(), 1) << machine.dump();
	EXPECT_EQ(parent.err, "");
	EXPECT_EQ(parent.status, 1);
}

/*
 * The text of a failed hand-back: the fault handler cannot call strerror
 * and uses the C library's texts copied at start-up, for errors 1 to
 * COPIED_TEXTS - 1, and words of its own past them.  Errors are given by
 * number, up to and past the last one the system knows.
 */
const int COPIED_TEXTS = 256;

/*
 * The C library's text for an error it does not know, made from its text
 * for a number no system gives: "Unknown error 134" from glibc, "Unknown
 * error: 134" from FreeBSD's.
 */
std::string
unknown_error_text(int error)
{
	std::string text = error_text(INT_MAX);
	std::string number = std::to_string(INT_MAX);
	size_t at = text.find(number);
	if (at != std::string::npos)
		text.replace(at, number.size(), std::to_string(error));
	return text;
}

/* The last error with a text of its own among those copied. */
int
last_known_error()
{
	int error = COPIED_TEXTS - 1;
	while (error > 1 && error_text(error) == unknown_error_text(error))
		error--;
	return error;
}

const int LAST_KNOWN = last_known_error();
const std::string HAND_BACK = "coolrung: dev.acpi_ibm.0.fan: ";

struct text_case {
	const char *name;
	int signo;
	int error;
	std::string err;
};

class HandBackText : public testing::TestWithParam<text_case> {};

TEST_P(HandBackText, NamesTheError)
{
	const text_case &c = GetParam();
	sim_machine machine;
	prepare(machine, machine_setup::healthy);
	owned_daemon daemon = start_coolrung({"coolrung", "-c",
	    machine.config(TABLE_TEXT)}, machine.root);
	ASSERT_TRUE(wait_for_trace(machine, " sleep ")) << machine.dump();
	machine.put("faults", "write dev.acpi_ibm.0.fan " +
	    std::to_string(c.error) + "\n");
	kill(daemon.pid, c.signo);
	run_result result = wait_daemon(daemon, 5);
	EXPECT_EQ(result.status, 77);
	EXPECT_EQ(result.err, c.err);
	EXPECT_EQ(machine.fan_mode(), 0);
}

const text_case text_cases[] = {
	{"FaultLastKnown", SIGSEGV, LAST_KNOWN,
	    HAND_BACK + error_text(LAST_KNOWN) + "\n"},
	{"FaultUnknown", SIGSEGV, LAST_KNOWN + 1,
	    HAND_BACK + unknown_error_text(LAST_KNOWN + 1) + "\n"},
	{"FaultBeyondTheTexts", SIGSEGV, 300, HAND_BACK + "Unknown error 300\n"},
	{"StopBeyondTheTexts", SIGTERM, 300, HAND_BACK + error_text(300) + "\n"},
	{"FaultFirst", SIGABRT, 1, HAND_BACK + error_text(1) + "\n"},
	{"StopUnknown", SIGTERM, LAST_KNOWN + 1,
	    HAND_BACK + unknown_error_text(LAST_KNOWN + 1) + "\n"},
};

INSTANTIATE_TEST_SUITE_P(Shutdown, HandBackText, testing::ValuesIn(text_cases),
    table_cases::by_name);

/* No simulator directory: the healthy machine in memory runs the daemon too. */
TEST(MemoryMachine, PollsAndHandsBack)
{
	std::string conf = "/tmp/coolrung-memory-" + std::to_string(getpid()) +
	    ".conf";
	write_file(conf, TABLE_TEXT);
	owned_daemon daemon = start_coolrung({"coolrung", "-c", conf}, "");
	usleep(300000);
	EXPECT_EQ(waitpid(daemon.pid, nullptr, WNOHANG), 0) << "ended at start-up";
	kill(daemon.pid, SIGTERM);
	run_result result = wait_daemon(daemon, 5);
	unlink(conf.c_str());
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(result.err, "");
}

}  // namespace
