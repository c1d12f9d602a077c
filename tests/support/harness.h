/*
 * Test support: a simulated machine in a temporary directory, and the real
 * coolrung binary run against it.
 */
#ifndef COOLRUNG_TEST_HARNESS_H
#define COOLRUNG_TEST_HARNESS_H

#include <sys/types.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "fatal.h"

/* One line of the simulated kernel's trace: "PID OP NAME VALUE RESULT". */
struct trace_line {
	std::string pid, op, name, value, result;
};

/* A simulated kernel directory, removed when the test ends. */
struct sim_machine {
	std::string root;

	sim_machine();
	~sim_machine();
	sim_machine(const sim_machine &) = delete;
	sim_machine &operator=(const sim_machine &) = delete;

	std::string path(const std::string &name) const;
	/* Replaces a file at once (written aside, then renamed in). */
	void put(const std::string &name, const std::string &content) const;
	void remove(const std::string &name) const;
	bool exists(const std::string &name) const;
	std::string get(const std::string &name) const;
	void set_temperature(int celsius) const;
	int fan_mode() const;
	int fan_level() const;
	std::vector<std::string> trace() const;
	std::vector<trace_line> calls() const;
	/* The trace without the pids: "OP NAME VALUE RESULT". */
	std::vector<std::string> trace_without_pids() const;
	/* The trace as it stands, for a failure's message. */
	std::string dump() const;
	/* The lines of DIR/syslog, which exists from the start. */
	std::vector<std::string> log() const;
	/* A configuration file inside the machine's directory; returns its path. */
	std::string config(const std::string &text) const;
};

struct run_result {
	int status = -1;	/* exit status, or -1 when ended by a signal */
	int signal = 0;
	std::string out, err;
};

/* Runs coolrung to its end with the given arguments (argv[0] included). */
run_result run_coolrung(const std::vector<std::string> &argv,
    const std::string &sim_root, int timeout_seconds = 10);
/* The same with extra "NAME=value" settings in its environment. */
run_result run_coolrung_with(const std::vector<std::string> &argv,
    const std::string &sim_root, const std::vector<std::string> &environment);
run_result run_program(const std::string &program,
    const std::vector<std::string> &argv, const std::string &sim_root,
    int timeout_seconds = 10);

/* A coolrung started in the background; its output goes to files. */
struct running_daemon {
	pid_t pid = -1;
	std::string out_path, err_path;
};
running_daemon start_coolrung(const std::vector<std::string> &argv,
    const std::string &sim_root);
/* The same for any program, such as the daemon built for this system. */
running_daemon start_program(const std::string &program,
    const std::vector<std::string> &argv, const std::string &sim_root);
/* The same, started with the given signals blocked. */
running_daemon start_coolrung_blocking(const std::vector<std::string> &argv,
    const std::string &sim_root, const std::vector<int> &blocked);
/* The same, its standard error the descriptor err_fd (the test keeps it). */
running_daemon start_coolrung_with_stderr(const std::vector<std::string> &argv,
    const std::string &sim_root, int err_fd);
/* Waits for the process to end (killing it after the timeout). */
run_result wait_daemon(running_daemon &daemon, int timeout_seconds = 10);
/* Whether pid, a child of this process, is stopped by a signal now. */
bool is_stopped(pid_t pid);
/* Kills the process unless it has been waited for, and waits for it. */
void end_daemon(running_daemon &daemon);

/*
 * A running_daemon ended by end_daemon when the record goes, or when
 * another is given to it: a test that stops half-way leaves no daemon
 * behind.  It is made from what start_coolrung returns.
 */
struct owned_daemon : running_daemon {
	owned_daemon() = default;
	owned_daemon(const running_daemon &started);
	~owned_daemon();
	owned_daemon(const owned_daemon &) = delete;
	owned_daemon &operator=(const owned_daemon &) = delete;
	owned_daemon &operator=(const running_daemon &started);
};

/*
 * Waits until check() holds, for up to the given seconds, trying again
 * after each pause; false on timeout.
 */
bool eventually(const std::function<bool()> &check, double seconds = 5,
    double pause_seconds = 0.01);
/* A child of the test that has ended, not yet waited for. */
bool has_ended(pid_t pid);

/* Waits until the trace holds count lines containing text; false on timeout. */
bool wait_for_trace(const sim_machine &machine, const std::string &text,
    int count = 1, double timeout_seconds = 10);
int count_lines(const std::vector<std::string> &lines, const std::string &text);
/*
 * Index of the first record at or after from that matches, in what
 * records() gives as it grows; -1 if none came within the seconds.
 */
template <typename Record>
int
first_match(const std::function<std::vector<Record>()> &records, size_t from,
    const std::function<bool(const Record &)> &match, double timeout_seconds)
{
	int found = -1;
	(void)eventually([&] {
		std::vector<Record> now = records();
		for (size_t i = from; i < now.size(); i++) {
			if (match(now[i])) {
				found = static_cast<int>(i);
				return true;
			}
		}
		return false;
	}, timeout_seconds);
	return found;
}

/* Index of the first call at or after from that matches; -1 on timeout. */
int wait_for_call(const sim_machine &machine, size_t from,
    const std::function<bool(const trace_line &)> &match,
    double timeout_seconds = 8);

/*
 * A FIFO in place of a file the simulated kernel opens (the faults, the
 * log) holds the call that opens it until the test takes its other end.
 * feed_fifo hands content to the next call that opens it; hold_fifo waits
 * for a call to be held and returns the write end, whose closing lets the
 * call go on.  Both give up after the seconds, with false or -1.
 */
bool feed_fifo(const std::string &fifo, const std::string &content,
    double seconds);
int hold_fifo(const std::string &fifo, double seconds);
/* Lets every call through the FIFO until check() holds; false on timeout. */
bool feed_until(const std::string &fifo, const std::function<bool()> &check,
    double seconds);

/* The fatal_error that call() raises; none when it returns. */
std::optional<fatal_error> fault_raised_by(const std::function<void()> &call);

/*
 * Table-driven tests: each case a record with a name, which names the test
 * (INSTANTIATE_TEST_SUITE_P(..., table_cases::by_name)) and is what
 * GoogleTest prints for the case.  GoogleTest looks for PrintTo beside the
 * case's type, so a file of cases says "using table_cases::PrintTo;".
 */
namespace table_cases {

template <class Case>
    requires requires(const Case &c, std::ostream *out) { *out << c.name; }
void
PrintTo(const Case &c, std::ostream *out)
{
	*out << c.name;
}

inline constexpr auto by_name = [](const auto &info) {
	return std::string(info.param.name);
};

}  // namespace table_cases

/* The C library's text for an errno value, as err(3) and warn(3) print it. */
std::string error_text(int error);

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &content);

#endif
