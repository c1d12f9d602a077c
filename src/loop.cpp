#include "loop.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "fan.h"
#include "fatal.h"
#include "platform.h"
#include "step.h"

constexpr int EXIT_BY_SIGNAL = 1;
constexpr int ERROR_TEXTS = 256;	/* errno values whose text is kept */
constexpr size_t ERROR_TEXT_SIZE = 64;
constexpr size_t FAULT_STACK_SIZE = 65536;	/* 64 KiB */

/* Set by the handler of the stop signals, read by the loop. */
static volatile sig_atomic_t shutdown_requested;

/* Prepared before any handler can run: a fault handler may not format. */
static const char *fault_program_name = "coolrung";
static char error_texts[ERROR_TEXTS][ERROR_TEXT_SIZE];

static void
request_shutdown(int /* signo */)
{
	shutdown_requested = 1;
}

static void
write_all(const char *text)
{
	size_t length = strlen(text);

	while (length > 0) {
		ssize_t n = write(STDERR_FILENO, text, length);
		if (n <= 0)
			return;
		text += n;
		length -= static_cast<size_t>(n);
	}
}

static void
write_number(int value)
{
	char digits[16];
	size_t at = sizeof(digits) - 1;
	unsigned int magnitude = value < 0 ? 0U - static_cast<unsigned int>(value) :
	    static_cast<unsigned int>(value);

	digits[at] = '\0';
	do {
		digits[--at] = static_cast<char>('0' + magnitude % 10);
		magnitude /= 10;
	} while (magnitude != 0);
	if (value < 0)
		digits[--at] = '-';
	write_all(digits + at);
}

/*
 * A fault inside the daemon: hand the fan back with async-signal-safe
 * calls only, and leave without running anything of the faulty process.
 */
static void
restore_and_exit(int /* signo */)
{
	int error = restore_fan_mode_from_signal();

	if (error == 0)
		_exit(EXIT_BY_SIGNAL);
	write_all(fault_program_name);
	write_all(": ");
	write_all(FAN_MODE_NODE);
	write_all(": ");
	if (error > 0 && error < ERROR_TEXTS) {
		write_all(error_texts[error]);
	} else {
		write_all("Unknown error ");
		write_number(error);
	}
	write_all("\n");
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

static void
install_handler(int signo, void (*handler)(int), int flags)
{
	struct sigaction action = {};

	action.sa_handler = handler;
	action.sa_flags = flags;
	sigemptyset(&action.sa_mask);
	sigaction(signo, &action, nullptr);
}

/*
 * The stop signals stay blocked except while the loop sleeps, so one that
 * comes while the loop works is taken at the next sleep and never missed
 * between the test of the flag and the sleep.  The fault signals must never
 * be blocked, whatever mask the daemon was started with: a blocked fault
 * kills without running the handler.  The fault handler has a stack of its
 * own, so a fault that ran out of stack still hands the fan back.
 * Returns the mask to sleep with.
 */
static sigset_t
install_signal_handlers()
{
	static const int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};
	static const int fault_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL,
	    SIGABRT};
	static char fault_stack[FAULT_STACK_SIZE];
	stack_t alternate = {};
	sigset_t stops, faults, wait_mask;

	sigemptyset(&stops);
	for (int signo : stop_signals)
		sigaddset(&stops, signo);
	sigemptyset(&faults);
	for (int signo : fault_signals)
		sigaddset(&faults, signo);
	sigprocmask(SIG_UNBLOCK, &faults, nullptr);
	sigprocmask(SIG_BLOCK, &stops, &wait_mask);
	for (int signo : stop_signals) {
		sigdelset(&wait_mask, signo);
		install_handler(signo, request_shutdown, 0);
	}
	alternate.ss_sp = fault_stack;
	alternate.ss_size = sizeof(fault_stack);
	sigaltstack(&alternate, nullptr);
	/* A second fault inside the handler ends the process by default. */
	for (int signo : fault_signals)
		install_handler(signo, restore_and_exit, SA_RESETHAND | SA_ONSTACK);
	return wait_mask;
}

/*
 * A stop signal that came during start-up waits, blocked, for the first
 * sleep; a child made by detaching would not inherit it, and the fan would
 * stay taken.  So the process does not detach then.
 */
static bool
stop_signal_pending()
{
	sigset_t pending;

	sigemptyset(&pending);
	sigpending(&pending);
	return sigismember(&pending, SIGINT) == 1 ||
	    sigismember(&pending, SIGTERM) == 1 ||
	    sigismember(&pending, SIGHUP) == 1;
}

void
step_fan_level(int32_t celsius, const level_table *table)
{
	int32_t next = next_level_index(table, current_level_index, celsius);

	if (next == current_level_index)
		return;
	/* A failed write keeps the row, so the next poll outside it retries. */
	if (write_fan_level(table->entries[next].level_number))
		current_level_index = next;
}

void
run_control_loop(const level_table *table, bool detach,
    const char *program_name)
{
	int32_t previous = 0;

	prepare_fault_report(program_name);
	sigset_t wait_mask = install_signal_handlers();
	set_fan_mode(FAN_MODE_MANUAL, table->entries.get());
	if (detach && !stop_signal_pending())
		(void)platform_daemon(0, 0);

	while (shutdown_requested == 0) {
		unsigned int seconds = SLOW_POLL_SECONDS;
		int32_t celsius;

		/* A failed read moves nothing: the fan stays where it is. */
		if (read_temperature(&celsius)) {
			step_fan_level(celsius, table);
			seconds = poll_interval(previous, celsius);
			previous = celsius;
		}
		(void)platform_sleep(seconds, &wait_mask);
	}
	set_fan_mode(FAN_MODE_AUTO, nullptr);
	exit(EXIT_BY_SIGNAL);
}
