/*
 * Faults that end the process.  They are raised where they are found and
 * reported in one place, so the configuration reader and the fan code can
 * be driven in-process by tests and the fuzzer while the programs still
 * report and exit at the first fault.
 */
#ifndef COOLRUNG_FATAL_H
#define COOLRUNG_FATAL_H

#include <sysexits.h>

#include <string>

struct fatal_error {
	int status;		/* exit status */
	int error;		/* errno to append, 0 for none (the errx form) */
	std::string message;
};

/* Raise with the text of error appended, as err(3) would report errno. */
[[noreturn, gnu::format(printf, 3, 4)]] void fail_with(int status, int error,
    const char *format, ...);
/* Raise without a system error text, as errx(3) would report it. */
[[noreturn, gnu::format(printf, 2, 3)]] void fail(int status,
    const char *format, ...);

/* Reports the fault as report() does, at LOG_ERR, and exits with its status. */
[[noreturn]] void exit_with(const fatal_error &fault);

#endif
