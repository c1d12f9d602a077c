/*
 * The emulator's log, STATEDIR/log: one line a record,
 *
 *	SECONDS.NANOSECONDS SOURCE RESULT TEXT
 *
 * the time on CLOCK_MONOTONIC, SOURCE the file written ("fan", "thermal",
 * "ctl"), "watchdog" for its expiry or "fault" for an injected failure of
 * an open or a read, RESULT "ok" or the errno's name, TEXT what was
 * written with \\, \n, \t and \xHH escapes.  Each line is one write(2).
 */
#ifndef THINKPAD_EMULATOR_LOG_H
#define THINKPAD_EMULATOR_LOG_H

#include <cstdint>
#include <string>

/* False with errno when STATEDIR/log cannot be opened. */
bool open_log(const char *state_directory);
void log_record(int64_t now, const std::string &source, int error,
    const std::string &text);

/* CLOCK_MONOTONIC nanoseconds as the log writes them: "12.000000250". */
std::string seconds_text(int64_t ns);
/* "EIO" for EIO, "ok" for 0, the number for an errno without a name. */
std::string errno_name(int error);
/* A symbolic name or a positive number; 0 when neither. */
int errno_number(const std::string &name);

#endif
