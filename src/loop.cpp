#include "loop.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fan.h"
#include "fatal.h"
#include "platform.h"
#include "report.h"
#include "safe_text.h"
#include "step.h"

constexpr int EXIT_BY_SIGNAL = 1;
constexpr int ERROR_TEXTS = 256;	/* errno values whose text is kept */
constexpr size_t ERROR_TEXT_SIZE = 64;
constexpr size_t FAULT_STACK_SIZE = 65536;	/* 64 KiB */
constexpr size_t SIGNAL_NAME_SIZE = 16;

/*
 * How the daemon meets each signal.  A signal not named here is one whose
 * default ends the process (the real-time signals, and on FreeBSD the
 * numbers between them and the named ones): it ends the daemon as SIGTERM
 * does, unless the C library keeps it for itself.
 */
enum class signal_kind {
	ending,		/* hand the fan back, exit with status 1 */
	fault,		/* the same from the handler itself: the process is broken */
	job_stop,	/* hand the fan back, stop; take it again when continued */
	ignored,	/* a write to a closed pipe fails with EPIPE instead */
	kept,		/* the default: cannot be caught, is asked for, or harmless */
};

struct signal_entry {
	const char *name;
	int signo;
	signal_kind kind;
};

static const signal_entry signal_table[] = {
	{"SIGHUP", SIGHUP, signal_kind::ending},
	{"SIGINT", SIGINT, signal_kind::ending},
	{"SIGTERM", SIGTERM, signal_kind::ending},
	{"SIGUSR1", SIGUSR1, signal_kind::ending},
	{"SIGUSR2", SIGUSR2, signal_kind::ending},
	{"SIGALRM", SIGALRM, signal_kind::ending},
	{"SIGVTALRM", SIGVTALRM, signal_kind::ending},
	{"SIGPROF", SIGPROF, signal_kind::ending},
	{"SIGXCPU", SIGXCPU, signal_kind::ending},
	{"SIGXFSZ", SIGXFSZ, signal_kind::ending},
#ifdef SIGPWR
	{"SIGPWR", SIGPWR, signal_kind::ending},
#endif
#ifdef SIGSTKFLT
	{"SIGSTKFLT", SIGSTKFLT, signal_kind::ending},
#endif
#ifdef __linux__
	/* Linux ends a process on SIGIO; BSD ignores it. */
	{"SIGIO", SIGIO, signal_kind::ending},
#else
	{"SIGIO", SIGIO, signal_kind::kept},
#endif
#ifdef SIGTHR
	{"SIGTHR", SIGTHR, signal_kind::ending},
#endif
#ifdef SIGLIBRT
	{"SIGLIBRT", SIGLIBRT, signal_kind::ending},
#endif
	{"SIGSEGV", SIGSEGV, signal_kind::fault},
	{"SIGBUS", SIGBUS, signal_kind::fault},
	{"SIGFPE", SIGFPE, signal_kind::fault},
	{"SIGILL", SIGILL, signal_kind::fault},
	{"SIGABRT", SIGABRT, signal_kind::fault},
	{"SIGTRAP", SIGTRAP, signal_kind::fault},
	{"SIGSYS", SIGSYS, signal_kind::fault},
#ifdef SIGEMT
	{"SIGEMT", SIGEMT, signal_kind::fault},
#endif
	{"SIGTSTP", SIGTSTP, signal_kind::job_stop},
	{"SIGTTIN", SIGTTIN, signal_kind::job_stop},
	{"SIGTTOU", SIGTTOU, signal_kind::job_stop},
	{"SIGPIPE", SIGPIPE, signal_kind::ignored},
	/* SIGQUIT is left to end the process as its sender asked. */
	{"SIGKILL", SIGKILL, signal_kind::kept},
	{"SIGSTOP", SIGSTOP, signal_kind::kept},
	{"SIGQUIT", SIGQUIT, signal_kind::kept},
	{"SIGCHLD", SIGCHLD, signal_kind::kept},
	{"SIGCONT", SIGCONT, signal_kind::kept},
	{"SIGURG", SIGURG, signal_kind::kept},
	{"SIGWINCH", SIGWINCH, signal_kind::kept},
#ifdef SIGINFO
	{"SIGINFO", SIGINFO, signal_kind::kept},
#endif
};

/* FreeBSD's signals go past its NSIG, which is kept at 32 for old code. */
#ifdef _SIG_MAXSIG
constexpr int LAST_SIGNAL = _SIG_MAXSIG;
#else
constexpr int LAST_SIGNAL = NSIG - 1;
#endif

static const signal_entry *
entry_of(int signo)
{
	for (const signal_entry &entry : signal_table) {
		if (entry.signo == signo)
			return &entry;
	}
	return nullptr;
}

static signal_kind
kind_of(int signo)
{
	const signal_entry *entry = entry_of(signo);

	return entry != nullptr ? entry->kind : signal_kind::ending;
}

/* Set by the handlers, read by the loop between two polls. */
static volatile sig_atomic_t ending_signal;
static volatile sig_atomic_t job_stop_signal;
/* While detaching: where the handler passes an ending signal to the child. */
static volatile sig_atomic_t detach_pipe = -1;

/* Prepared before any handler can run: a fault handler may not format. */
static const char *fault_program_name = "coolrung";
static char error_texts[ERROR_TEXTS][ERROR_TEXT_SIZE];

static void
note_ending_signal(int signo)
{
	int saved = errno;
	unsigned char number = static_cast<unsigned char>(signo);

	ending_signal = signo;
	if (detach_pipe != -1)
		(void)write(static_cast<int>(detach_pipe), &number, 1);
	errno = saved;
}

static void
note_job_stop(int signo)
{
	job_stop_signal = signo;
}

/* ---- the fault handler: async-signal-safe calls only ---- */

static void
append_error_text(safe_text *line, int error)
{
	if (error > 0 && error < ERROR_TEXTS) {
		safe_append(line, error_texts[error]);
	} else {
		safe_append(line, "Unknown error ");
		safe_append_number(line, error);
	}
}

static void
write_all(int fd, const char *text, size_t length)
{
	while (length > 0) {
		ssize_t n = write(fd, text, length);
		if (n <= 0)
			return;
		text += n;
		length -= static_cast<size_t>(n);
	}
}

/*
 * A fault inside the daemon: hand the fan back and leave without running
 * anything more of the faulty process.
 */
static void
restore_and_exit(int signo)
{
	int error = restore_fan_mode_from_signal();
	safe_text line = {};

	if (error == 0) {
		/* Every fault signal has its name in the table. */
		const signal_entry *entry = entry_of(signo);
		safe_append(&line, entry != nullptr ? entry->name : "fault");
		safe_append(&line, ": fan handed back to the firmware");
		if (system_log_open())
			platform_syslog(LOG_ERR, line.text);
		_exit(EXIT_BY_SIGNAL);
	}
	safe_append(&line, FAN_MODE_NODE);
	safe_append(&line, ": ");
	append_error_text(&line, error);
	if (system_log_open())
		platform_syslog(LOG_ERR, line.text);
	write_all(STDERR_FILENO, fault_program_name, strlen(fault_program_name));
	write_all(STDERR_FILENO, ": ", 2);
	safe_append(&line, "\n");
	write_all(STDERR_FILENO, line.text, line.length);
	_exit(EX_NOPERM);
}

static void
prepare_fault_report(const char *program_name)
{
	fault_program_name = program_name;
	for (int error = 1; error < ERROR_TEXTS; error++) {
		strncpy(error_texts[error], strerror(error), ERROR_TEXT_SIZE - 1);
		error_texts[error][ERROR_TEXT_SIZE - 1] = '\0';
	}
}

/* ---- installing the handlers ---- */

static int
install_handler(int signo, void (*handler)(int), int flags)
{
	struct sigaction action = {};

	action.sa_handler = handler;
	action.sa_flags = flags;
	sigemptyset(&action.sa_mask);
	return sigaction(signo, &action, nullptr) == -1 ? errno : 0;
}

/*
 * An ending signal that the C library keeps for itself (glibc's 32 and 33,
 * FreeBSD's SIGTHR under its thread library) is refused with EINVAL: it
 * is no signal the daemon could ever meet.
 */
static void
install_one(int signo, signal_kind kind)
{
	int error = 0;

	switch (kind) {
	case signal_kind::ending:
		error = install_handler(signo, note_ending_signal, 0);
		if (error == EINVAL)
			error = 0;
		break;
	case signal_kind::fault:
		/* A second fault inside the handler ends the process by default. */
		error = install_handler(signo, restore_and_exit,
		    SA_RESETHAND | SA_ONSTACK);
		break;
	case signal_kind::job_stop:
		error = install_handler(signo, note_job_stop, 0);
		break;
	case signal_kind::ignored:
		error = install_handler(signo, SIG_IGN, 0);
		break;
	case signal_kind::kept:
		break;
	}
	if (error != 0)
		fail_with(EX_OSERR, error, "sigaction");
}

/*
 * The ending and job-control signals stay blocked except while the loop
 * sleeps, so one that comes while the loop works is taken at the next
 * sleep and never missed between the test of the flag and the sleep.  The
 * fault signals must never be blocked, whatever mask the daemon was started
 * with: a blocked fault kills without running the handler.  The fault
 * handler has a stack of its own, so a fault that ran out of stack still
 * hands the fan back.  Returns the mask to sleep with.
 */
static sigset_t
install_signal_handlers()
{
	static char fault_stack[FAULT_STACK_SIZE];
	stack_t alternate = {};
	sigset_t held, faults, wait_mask;

	sigemptyset(&held);
	sigemptyset(&faults);
	for (int signo = 1; signo <= LAST_SIGNAL; signo++) {
		signal_kind kind = kind_of(signo);
		if (kind == signal_kind::fault)
			sigaddset(&faults, signo);
		else if (kind == signal_kind::ending ||
		    kind == signal_kind::job_stop)
			sigaddset(&held, signo);
	}
	if (sigprocmask(SIG_UNBLOCK, &faults, nullptr) == -1 ||
	    sigprocmask(SIG_BLOCK, &held, &wait_mask) == -1)
		fail_with(EX_OSERR, errno, "sigprocmask");
	alternate.ss_sp = fault_stack;
	alternate.ss_size = sizeof(fault_stack);
	if (sigaltstack(&alternate, nullptr) == -1)
		fail_with(EX_OSERR, errno, "sigaltstack");
	for (int signo = 1; signo <= LAST_SIGNAL; signo++) {
		if (sigismember(&held, signo) == 1)
			sigdelset(&wait_mask, signo);
		install_one(signo, kind_of(signo));
	}
	return wait_mask;
}

/* The name for a message: "SIGTERM", or "signal 40". */
static const char *
signal_name(int signo, char *room, size_t size)
{
	const signal_entry *entry = entry_of(signo);

	if (entry != nullptr)
		return entry->name;
	snprintf(room, size, "signal %d", signo);
	return room;
}

/* Lets the signals that came while they were held run their handlers now. */
static void
take_held_signals(const sigset_t *wait_mask)
{
	sigset_t held;

	sigprocmask(SIG_SETMASK, wait_mask, &held);
	sigprocmask(SIG_SETMASK, &held, nullptr);
}

/* ---- detaching ---- */

static bool
ending_signal_held()
{
	sigset_t pending;

	sigemptyset(&pending);
	sigpending(&pending);
	for (int signo = 1; signo <= LAST_SIGNAL; signo++) {
		if (kind_of(signo) == signal_kind::ending &&
		    sigismember(&pending, signo) == 1)
			return true;
	}
	return false;
}

/*
 * daemon(3) points descriptors 0 to 2 at the null device, so a pipe end
 * there (a daemon started with one of them closed) would be lost.
 */
static int
above_standard_streams(int fd)
{
	if (fd > STDERR_FILENO)
		return fd;
	int moved = fcntl(fd, F_DUPFD, STDERR_FILENO + 1);
	int error = errno;
	close(fd);
	errno = error;
	return moved;
}

/*
 * daemon(3) forks and the parent leaves at once: an ending signal that
 * reaches the parent meanwhile would die with it while the child kept the
 * fan.  So the signals are let in while daemon() runs, and the handler
 * passes each one down a pipe; the child reads them once the parent has
 * gone (the pipe's end of file) and ends as the parent would have.  A
 * signal held since start-up is taken by the first sleep instead: the
 * process then does not detach.
 */
static bool
detach(const sigset_t *wait_mask)
{
	int ends[2];

	if (ending_signal_held())
		return false;
	if (pipe(ends) == -1)
		hand_back_and_fail(EX_OSERR, errno, "pipe");
	ends[0] = above_standard_streams(ends[0]);
	ends[1] = above_standard_streams(ends[1]);
	if (ends[0] == -1 || ends[1] == -1)
		hand_back_and_fail(EX_OSERR, errno, "fcntl");
	sigset_t held;
	detach_pipe = ends[1];
	sigprocmask(SIG_SETMASK, wait_mask, &held);
	int rc = platform_daemon(0, 0);
	int error = errno;
	sigprocmask(SIG_SETMASK, &held, nullptr);
	detach_pipe = -1;
	close(ends[1]);
	if (rc == -1) {
		close(ends[0]);
		hand_back_and_fail(EX_OSERR, error, "daemon");
	}
	unsigned char signo;
	while (read(ends[0], &signo, 1) == 1)
		ending_signal = signo;
	close(ends[0]);
	return true;
}

/* ---- the loop ---- */

static int32_t
level_of(const level_table *table, int32_t row)
{
	return table->entries[row].level_number;
}

/*
 * The sensor is lost: the firmware runs the fan better than a level held
 * blind.  If even that fails, the fan runs at full table speed until the
 * process ends.
 */
static void
lose_sensor(const level_table *table, int read_error)
{
	if (!write_fan_mode(FAN_MODE_AUTO)) {
		int error = errno;
		(void)write_fan_level(level_of(table, table->count - 1));
		fail_with(EX_NOPERM, error, "%s", FAN_MODE_NODE);
	}
	report(LOG_WARNING, read_error,
	    "%s: %d failed reads, fan handed back to the firmware",
	    temperature_node(), GIVE_UP_AFTER);
}

/* Writes the plan's level; returns 0 or the write's errno. */
static int
step_level(const level_table *table, int32_t row, const poll_plan &plan,
    int32_t celsius)
{
	if (!write_fan_level(level_of(table, plan.next_row)))
		return errno;
	log_only(LOG_INFO, "level %d -> %d at %d C", level_of(table, row),
	    level_of(table, plan.next_row), celsius);
	return 0;
}

/*
 * A reading after a hand-back, with the fan in manual mode again: a level
 * that cannot be written gives it back at once.  Returns 0 or the level
 * write's errno.
 */
static int
take_again(const level_table *table, const poll_plan &plan, int32_t celsius)
{
	if (!write_fan_level(level_of(table, plan.next_row))) {
		int error = errno;
		hand_back_fan();
		return error;
	}
	report(LOG_WARNING, 0, "fan taken again at level %d (%d C)",
	    level_of(table, plan.next_row), celsius);
	return 0;
}

/* Reads, carries out what the rules say, and returns the seconds to sleep. */
static unsigned int
poll_fan(control_state *state, const level_table *table)
{
	int32_t celsius = 0;
	bool read = read_temperature(&celsius);
	int read_error = read ? 0 : errno;
	int32_t row = state->row;
	poll_plan plan = plan_poll(state, table, read ? &celsius : nullptr);
	int error = 0;

	switch (plan.action) {
	case fan_action::keep:
		break;
	case fan_action::write_level:
		error = step_level(table, row, plan, celsius);
		break;
	case fan_action::hand_back:
		lose_sensor(table, read_error);
		break;
	case fan_action::take_again:
		/*
		 * A mode that cannot be written leaves the fan with the
		 * firmware; the next reading tries again.
		 */
		if (!write_fan_mode(FAN_MODE_MANUAL))
			return plan.seconds;
		error = take_again(table, plan, celsius);
		break;
	}
	/* Level writes that keep failing: the fan cannot be run at all. */
	if (!settle_poll(state, plan, error == 0))
		hand_back_and_fail(EX_UNAVAILABLE, error, FAN_LEVEL_NODE);
	return plan.seconds;
}

[[noreturn]] static void
end_by_signal(int signo)
{
	char room[SIGNAL_NAME_SIZE];

	hand_back_fan();
	log_only(LOG_NOTICE, "%s: fan handed back to the firmware, exiting",
	    signal_name(signo, room, sizeof(room)));
	exit(EXIT_BY_SIGNAL);
}

/*
 * Job control: the fan goes back before the process stops, so a stopped
 * daemon never holds it; the first reading after SIGCONT takes it again.
 * SIGSTOP rather than the signal's own default: the kernel drops that for
 * a process group without a terminal's shell, and the daemon would go on
 * without the fan it has just handed back.
 */
static void
stop_for_job_control(control_state *state, int signo,
    const sigset_t *wait_mask)
{
	char room[SIGNAL_NAME_SIZE];

	if (state->taken)
		hand_back_fan();
	control_handed_back(state);
	report(LOG_WARNING, 0, "%s: fan handed back to the firmware, stopping",
	    signal_name(signo, room, sizeof(room)));
	kill(getpid(), SIGSTOP);
	/* Continued: an ending signal sent meanwhile comes before the fan. */
	take_held_signals(wait_mask);
}

void
run_control_loop(const level_table *table, bool detach_asked,
    const char *program_name)
{
	prepare_fault_report(program_name);
	sigset_t wait_mask = install_signal_handlers();
	take_fan(table);
	if (detach_asked && detach(&wait_mask)) {
		open_system_log(program_name);
		log_only(LOG_NOTICE, "started, fan at level %d",
		    level_of(table, 0));
	}

	control_state state = control_start();
	for (;;) {
		if (ending_signal != 0)
			end_by_signal(static_cast<int>(ending_signal));
		if (job_stop_signal != 0) {
			int signo = static_cast<int>(job_stop_signal);
			job_stop_signal = 0;
			stop_for_job_control(&state, signo, &wait_mask);
			continue;
		}
		unsigned int seconds = poll_fan(&state, table);
		(void)platform_sleep(seconds, &wait_mask);
	}
}
