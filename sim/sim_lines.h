/*
 * The lines the directory machine appends: DIR/trace gets one for every
 * call, DIR/syslog one for every message to the system log, each only
 * when its file exists.  A signal handler may write either.
 */
#ifndef COOLRUNG_SIM_LINES_H
#define COOLRUNG_SIM_LINES_H

namespace sim {

/* "PID OP NAME VALUE RESULT", RESULT "ok" for an error of 0. */
void trace(const char *op, const char *name, const char *value, int error);
void trace_number(const char *op, const char *name, long long value,
    int error);
/* "PID PRIORITY TEXT", PRIORITY one of err, warning, notice and info. */
void log_line(int priority, const char *message);

}  // namespace sim

#endif
