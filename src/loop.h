/*
 * The running daemon: take the fan, poll, step it one row at a time, and
 * hand it back when a signal ends or stops the process.
 */
#ifndef COOLRUNG_LOOP_H
#define COOLRUNG_LOOP_H

#include "config.h"

/*
 * Takes the fan at the first row, detaches when asked, and polls until a
 * signal ends the process; then the fan goes back to the firmware and the
 * process exits with status 1.
 */
[[noreturn]] void run_control_loop(const level_table *table, bool detach);

#endif
