/*
 * The running daemon's messages: the err(3) form on standard error and,
 * once the process has detached and standard error leads nowhere, the
 * system log as well.
 */
#ifndef COOLRUNG_REPORT_H
#define COOLRUNG_REPORT_H

#include <syslog.h>

#include "fatal.h"

/* From now on every message also goes to the system log. */
void open_system_log(const char *program_name);
bool system_log_open();

/* A message on standard error, with error's text unless it is 0; logged too. */
[[gnu::format(printf, 3, 4)]] void report(int priority, int error,
    const char *format, ...);

/* A message for the system log alone: nothing when it is not open. */
[[gnu::format(printf, 2, 3)]] void log_only(int priority,
    const char *format, ...);

/* Reports the fault as report() does, at LOG_ERR, and exits with its status. */
[[noreturn]] void report_fatal(const fatal_error &fault);

#endif
