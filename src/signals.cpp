#include "signals.h"

#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "fan.h"
#include "platform.h"
#include "fatal.h"
#include "report.h"
#include "safe_text.h"

constexpr int ERROR_TEXTS = 256;	/* errno values whose text is kept */
constexpr size_t ERROR_TEXT_SIZE = 64;
constexpr size_t FAULT_STACK_SIZE = 65536;	/* 64 KiB */

/*
 * A signal not named here is one whose default ends the process (the
 * real-time signals, and on FreeBSD the numbers between them and the named
 * ones): it ends the daemon as SIGTERM does, unless the C library keeps it
 * for itself.
 */
enum class signal_kind {
	ending,		/* hand the fan back, exit with status 1 */
	fault,		/* the same from the handler itself: the process is broken */
	job_stop,	/* hand the fan back, stop; take it again when continued */
	continuing,	/* cancels a job stop under way */
	ignored,	/* a write to a closed pipe fails with EPIPE instead */
	defaulted,	/* its default, whatever the daemon was started with */
	kept,		/* as it is: cannot be caught, is asked for, or harmless */
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
	{"SIGCONT", SIGCONT, signal_kind::continuing},
	{"SIGPIPE", SIGPIPE, signal_kind::ignored},
	/* The daemon's children (Linux's modprobe, the detached daemon) are waited for. */
	{"SIGCHLD", SIGCHLD, signal_kind::defaulted},
	/* SIGQUIT is left to end the process as its sender asked. */
	{"SIGKILL", SIGKILL, signal_kind::kept},
	{"SIGSTOP", SIGSTOP, signal_kind::kept},
	{"SIGQUIT", SIGQUIT, signal_kind::kept},
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

/* Set by the handlers, read by the loop between two polls. */
static volatile sig_atomic_t ending_signo;
static volatile sig_atomic_t job_stop_signo;
/* From a job-control signal to the stop: a SIGCONT meanwhile cancels it. */
static volatile sig_atomic_t stop_under_way;
static volatile sig_atomic_t continued;
/* The daemon the starter waits for, once it has forked. */
static volatile sig_atomic_t relay_pid;

/* The mask of the sleep: the held signals let in. */
static sigset_t wait_mask;
/* Prepared before any handler can run: a fault handler may not format. */
static char error_texts[ERROR_TEXTS][ERROR_TEXT_SIZE];

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

static bool
is_held(signal_kind kind)
{
	return kind == signal_kind::ending || kind == signal_kind::job_stop;
}

/* ---- the handlers: async-signal-safe calls only ---- */

static void
relay(int signo)
{
	int saved = errno;

	if (relay_pid != 0)
		(void)kill(static_cast<pid_t>(relay_pid), signo);
	errno = saved;
}

static void
note_ending_signal(int signo)
{
	ending_signo = signo;
	relay(signo);
}

static void
note_job_stop(int signo)
{
	job_stop_signo = signo;
	stop_under_way = 1;
	continued = 0;
}

static void
note_continue(int /* signo */)
{
	if (stop_under_way != 0)
		continued = 1;
}

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

/*
 * A fault inside the daemon: hand the fan back and leave without running
 * anything more of the faulty process.  In the starter, which holds no fan,
 * the fault goes on to the daemon, and returning lets the process end by
 * the default, which SA_RESETHAND has put back.
 */
static void
restore_and_exit(int signo)
{
	if (relay_pid != 0) {
		ending_signo = signo;
		relay(signo);
		return;
	}
	int error = hand_back_fan_from_signal();
	log_sink log = logging_sink();
	safe_text line = {};

	if (error == 0) {
		/* Every fault signal has its name in the table. */
		const signal_entry *entry = entry_of(signo);
		safe_append(&line, entry != nullptr ? entry->name : "fault");
		safe_append(&line, ": fan handed back to the firmware");
		if (log != nullptr)
			log(LOG_ERR, line.text);
		_exit(EXIT_BY_SIGNAL);
	}
	safe_append(&line, fan_mode_name());
	safe_append(&line, ": ");
	append_error_text(&line, error);
	if (log != nullptr)
		log(LOG_ERR, line.text);
	write_to_stderr(line.text);
	_exit(EX_NOPERM);
}

static void
prepare_fault_report()
{
	for (int error = 1; error < ERROR_TEXTS; error++) {
		strncpy(error_texts[error], strerror(error), ERROR_TEXT_SIZE - 1);
		error_texts[error][ERROR_TEXT_SIZE - 1] = '\0';
	}
}

/* ---- installing them ---- */

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
 * Returns the errno of a refusal, or 0.  An ending signal that the C
 * library keeps for itself (glibc's 32 and 33, FreeBSD's SIGTHR under its
 * thread library) is refused with EINVAL: it is no signal the daemon could
 * ever meet.
 */
static int
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
	case signal_kind::continuing:
		error = install_handler(signo, note_continue, SA_RESTART);
		break;
	case signal_kind::ignored:
		error = install_handler(signo, SIG_IGN, 0);
		break;
	case signal_kind::defaulted:
		error = install_handler(signo, SIG_DFL, 0);
		break;
	case signal_kind::kept:
		break;
	}
	return error;
}

/*
 * The fault signals must never be blocked, whatever mask the daemon was
 * started with: a blocked fault kills without running the handler.  The
 * fault handler has a stack of its own, so a fault that ran out of stack
 * still hands the fan back.
 */
void
install_signal_handlers()
{
	static char fault_stack[FAULT_STACK_SIZE];
	stack_t alternate = {};
	sigset_t held, unblocked;

	prepare_fault_report();
	sigemptyset(&held);
	sigemptyset(&unblocked);
	for (int signo = 1; signo <= LAST_SIGNAL; signo++) {
		signal_kind kind = kind_of(signo);
		if (is_held(kind))
			sigaddset(&held, signo);
		else if (kind == signal_kind::fault ||
		    kind == signal_kind::continuing)
			sigaddset(&unblocked, signo);
	}
	if (sigprocmask(SIG_UNBLOCK, &unblocked, nullptr) == -1 ||
	    sigprocmask(SIG_BLOCK, &held, &wait_mask) == -1)
		fail_with(EX_OSERR, errno, "sigprocmask");
	alternate.ss_sp = fault_stack;
	alternate.ss_size = sizeof(fault_stack);
	if (sigaltstack(&alternate, nullptr) == -1)
		fail_with(EX_OSERR, errno, "sigaltstack");
	for (int signo = 1; signo <= LAST_SIGNAL; signo++) {
		if (sigismember(&held, signo) == 1)
			sigdelset(&wait_mask, signo);
		int error = install_one(signo, kind_of(signo));
		if (error != 0)
			fail_with(EX_OSERR, error, "sigaction");
	}
}

/* ---- what the loop reads ---- */

int
ending_signal()
{
	return static_cast<int>(ending_signo);
}

bool
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

int
take_job_stop()
{
	int signo = static_cast<int>(job_stop_signo);

	job_stop_signo = 0;
	return signo;
}

/*
 * SIGSTOP rather than the job-control signal's own default: the kernel
 * drops that for a process group with no shell of a terminal behind it,
 * and the daemon would go on without the fan it has just handed back.  A
 * SIGCONT sent before the SIGSTOP is made would be lost in it, so the
 * handler's note is looked at last.
 */
void
stop_process()
{
	if (continued == 0 && !ending_signal_held())
		(void)kill(getpid(), SIGSTOP);
	stop_under_way = 0;
	continued = 0;
}

void
let_held_signals_in()
{
	sigset_t held;

	sigprocmask(SIG_SETMASK, &wait_mask, &held);
	sigprocmask(SIG_SETMASK, &held, nullptr);
}

void
sleep_between_polls(unsigned int seconds)
{
	(void)platform_sleep(seconds, &wait_mask);
}

bool
wait_for_input(int fd)
{
	fd_set readable;

	FD_ZERO(&readable);
	FD_SET(fd, &readable);
	return pselect(fd + 1, &readable, nullptr, nullptr, nullptr,
	    &wait_mask) > 0;
}

static int
mask_faults(int how)
{
	sigset_t faults;

	sigemptyset(&faults);
	for (const signal_entry &entry : signal_table) {
		if (entry.kind == signal_kind::fault)
			sigaddset(&faults, entry.signo);
	}
	return sigprocmask(how, &faults, nullptr);
}

void
hold_faults()
{
	(void)mask_faults(SIG_BLOCK);
}

void
release_faults()
{
	(void)mask_faults(SIG_UNBLOCK);
}

void
relay_signals_to(pid_t daemon)
{
	relay_pid = daemon;
}

/* Setting a pending signal to be ignored discards it. */
bool
forget_job_stops()
{
	int error = 0;

	job_stop_signo = 0;
	stop_under_way = 0;
	continued = 0;
	for (const signal_entry &entry : signal_table) {
		if (entry.kind != signal_kind::job_stop || error != 0)
			continue;
		error = install_handler(entry.signo, SIG_IGN, 0);
		if (error == 0)
			error = install_one(entry.signo, entry.kind);
	}
	errno = error;
	return error == 0;
}

const char *
signal_name(int signo, char *room, size_t size)
{
	const signal_entry *entry = entry_of(signo);

	if (entry != nullptr)
		return entry->name;
	snprintf(room, size, "signal %d", signo);
	return room;
}
