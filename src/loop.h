/*
 * The running daemon: take the fan, poll, step it one row at a time, and
 * hand it back when a signal ends the process.
 */
#ifndef COOLRUNG_LOOP_H
#define COOLRUNG_LOOP_H

#include <cstdint>

#include "config.h"

/* Moves the fan one row towards the reading; the row stays if the write fails. */
void step_fan_level(int32_t celsius, const level_table *table);

/*
 * Takes the fan at the first row, detaches when asked, and polls until
 * SIGINT, SIGTERM or SIGHUP; then the fan goes back to the firmware and the
 * process exits with status 1.  program_name heads the diagnostic a fault
 * handler writes.
 */
[[noreturn]] void run_control_loop(const level_table *table, bool detach,
    const char *program_name);

#endif
