/*
 * Messages: the err(3) form on standard error and, once the daemon has
 * detached and standard error leads nowhere, the system log as well.  No
 * message waits for a standard error that cannot take it: a line that
 * cannot be written at once is dropped.
 */
#ifndef COOLRUNG_REPORT_H
#define COOLRUNG_REPORT_H

#include <syslog.h>

#include <cstddef>

constexpr size_t MESSAGE_SIZE = 512;	/* longer messages are cut */

/* The program's name heads every message: the last component of argv0. */
void set_program_name(const char *argv0);
const char *program_name();

/*
 * From now on every message also goes to the system log through sink,
 * which a signal handler may call too (logging_sink()).
 */
using log_sink = void (*)(int priority, const char *message);
void send_messages_to_log(log_sink sink);
log_sink logging_sink();	/* null while the log is not open */

/* "program: message" on standard error, at once or not at all; signal-safe. */
void write_to_stderr(const char *message);

/* A message on standard error, with error's text unless it is 0; logged too. */
[[gnu::format(printf, 3, 4)]] void report(int priority, int error,
    const char *format, ...);

/* A message for the system log alone: nothing when it is not open. */
[[gnu::format(printf, 2, 3)]] void log_only(int priority,
    const char *format, ...);

#endif
