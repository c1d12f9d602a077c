#include "report.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "safe_text.h"

static const char *name_of_program = "coolrung";
/* Read by the fault handler too. */
static log_sink volatile system_log;

void
set_program_name(const char *argv0)
{
	if (argv0 == nullptr || argv0[0] == '\0')
		return;
	const char *slash = strrchr(argv0, '/');
	name_of_program = slash != nullptr ? slash + 1 : argv0;
}

const char *
program_name()
{
	return name_of_program;
}

void
send_messages_to_log(log_sink sink)
{
	system_log = sink;
}

log_sink
logging_sink()
{
	return system_log;
}

/*
 * Writes the line only if fd takes it at once: a stopped terminal or a pipe
 * nobody reads must never hold up the process, which may hold the fan.  A
 * line that cannot be written whole now is dropped, as the system log drops
 * one on a full socket.  A descriptor that is closed, or whose reader is
 * gone, takes nothing.
 */
static void
write_at_once(int fd, const char *text, size_t length)
{
	struct pollfd target = {fd, POLLOUT, 0};

	if (poll(&target, 1, 0) == 1 && target.revents == POLLOUT)
		(void)write(fd, text, length);
}

void
write_to_stderr(const char *message)
{
	safe_text line = {};

	safe_append(&line, name_of_program);
	safe_append(&line, ": ");
	safe_append(&line, message);
	safe_append(&line, "\n");
	write_at_once(STDERR_FILENO, line.text, line.length);
}

/* "message" or "message: error text" into text. */
static void
format_message(char *text, size_t size, int error, const char *format,
    va_list ap)
{
	// NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
	int length = vsnprintf(text, size, format, ap);

	if (length < 0)
		text[0] = '\0';
	else if (error != 0 && static_cast<size_t>(length) < size)
		snprintf(text + length, size - static_cast<size_t>(length),
		    ": %s", strerror(error));
}

static void
write_message(int priority, int error, const char *format, va_list ap,
    bool to_stderr)
{
	char message[MESSAGE_SIZE];

	format_message(message, sizeof(message), error, format, ap);
	if (to_stderr)
		write_to_stderr(message);
	log_sink sink = system_log;
	if (sink != nullptr)
		sink(priority, message);
}

void
report(int priority, int error, const char *format, ...)
{
	va_list ap;
	va_start(ap, format);
	write_message(priority, error, format, ap, true);
	va_end(ap);
}

void
log_only(int priority, const char *format, ...)
{
	va_list ap;

	if (system_log == nullptr)
		return;
	va_start(ap, format);
	write_message(priority, 0, format, ap, false);
	va_end(ap);
}
