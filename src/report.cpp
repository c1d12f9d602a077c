#include "report.h"

#include <err.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"

constexpr size_t LOG_MESSAGE_SIZE = 512;

/* Read by the fault handler too. */
static volatile sig_atomic_t log_open;

void
open_system_log(const char *program_name)
{
	platform_openlog(program_name);
	log_open = 1;
}

bool
system_log_open()
{
	return log_open != 0;
}

static void
log_message(int priority, int error, const char *format, va_list ap)
{
	char message[LOG_MESSAGE_SIZE];
	/* ap comes from va_start in the callers; the analyzer loses track. */
	// NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
	int length = vsnprintf(message, sizeof(message), format, ap);

	if (length < 0)
		return;
	if (error != 0 && static_cast<size_t>(length) < sizeof(message))
		snprintf(message + length, sizeof(message) -
		    static_cast<size_t>(length), ": %s", strerror(error));
	platform_syslog(priority, message);
}

void
report(int priority, int error, const char *format, ...)
{
	va_list ap;

	va_start(ap, format);
	if (error != 0) {
		errno = error;
		vwarn(format, ap);
	} else {
		vwarnx(format, ap);
	}
	va_end(ap);
	if (log_open) {
		va_start(ap, format);
		log_message(priority, error, format, ap);
		va_end(ap);
	}
}

void
log_only(int priority, const char *format, ...)
{
	va_list ap;

	if (!log_open)
		return;
	va_start(ap, format);
	log_message(priority, 0, format, ap);
	va_end(ap);
}

void
report_fatal(const fatal_error &fault)
{
	report(LOG_ERR, fault.error, "%s", fault.message.c_str());
	exit(fault.status);
}
