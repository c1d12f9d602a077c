#include "fatal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "report.h"

/* The fault's message, cut at MESSAGE_SIZE, and the fault raised with it. */
struct fault_text {
	char message[MESSAGE_SIZE];
};

static void
format_fault(fault_text *text, const char *format, va_list ap)
{
	/* ap comes from va_start in the callers; the analyzer loses track. */
	// NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
	if (vsnprintf(text->message, sizeof(text->message), format, ap) < 0)
		text->message[0] = '\0';
}

void
fail_with(int status, int error, const char *format, ...)
{
	fault_text text = {};
	va_list ap;

	va_start(ap, format);
	format_fault(&text, format, ap);
	va_end(ap);
	throw fatal_error{status, error, text.message};
}

void
fail(int status, const char *format, ...)
{
	fault_text text = {};
	va_list ap;

	va_start(ap, format);
	format_fault(&text, format, ap);
	va_end(ap);
	throw fatal_error{status, 0, text.message};
}

void
exit_with(const fatal_error &fault)
{
	report(LOG_ERR, fault.error, "%s", fault.message.c_str());
	exit(fault.status);
}
