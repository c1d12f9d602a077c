#include "fatal.h"

#include <err.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>

static std::string
format_message(const char *format, va_list ap)
{
	va_list copy;
	va_copy(copy, ap);
	/*
	 * copy is initialized by va_copy; the analyzer loses track of a
	 * va_list that arrived as a parameter (an array type on amd64).
	 */
	// NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
	int length = vsnprintf(nullptr, 0, format, copy);
	va_end(copy);
	if (length < 0)
		return format;
	std::string text(static_cast<size_t>(length), '\0');
	vsnprintf(text.data(), text.size() + 1, format, ap);
	return text;
}

void
fail_with(int status, int error, const char *format, ...)
{
	va_list ap;
	va_start(ap, format);
	std::string message = format_message(format, ap);
	va_end(ap);
	throw fatal_error{status, error, message};
}

void
fail(int status, const char *format, ...)
{
	va_list ap;
	va_start(ap, format);
	std::string message = format_message(format, ap);
	va_end(ap);
	throw fatal_error{status, 0, message};
}

void
report_and_exit(const fatal_error &fault)
{
	if (fault.error == 0)
		errx(fault.status, "%s", fault.message.c_str());
	errno = fault.error;
	err(fault.status, "%s", fault.message.c_str());
}
