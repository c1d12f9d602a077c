/*
 * How the daemon meets each signal.  An ending signal hands the fan back
 * and ends the daemon; a fault does the same from its handler, since the
 * process is broken; a job-control signal hands the fan back and stops it;
 * SIGPIPE is ignored.  The ending and job-control signals are held outside
 * the sleep between polls, so the loop takes them between two polls and
 * never in the middle of one.
 */
#ifndef COOLRUNG_SIGNALS_H
#define COOLRUNG_SIGNALS_H

#include <sys/types.h>

#include <cstddef>

constexpr int EXIT_BY_SIGNAL = 1;
constexpr size_t SIGNAL_NAME_SIZE = 16;

/*
 * Installs every handler and holds the ending and job-control signals.
 * Raises EX_OSERR when the system refuses.
 */
void install_signal_handlers();

/* The ending signal that came, or 0. */
int ending_signal();

/* An ending signal that came and is still held, not yet taken. */
bool ending_signal_held();

/* The job-control signal that came, taken once, or 0. */
int take_job_stop();

/*
 * Stops the process for the job stop just taken, unless a SIGCONT came
 * since the job-control signal did, or an ending signal waits: either
 * cancels the stop.  Returns once continued.
 */
void stop_process();

/* Lets the held signals that came meanwhile run their handlers now. */
void let_held_signals_in();

/* The sleep between two polls, in which the held signals come in. */
void sleep_between_polls(unsigned int seconds);

/*
 * Waits until fd can be read, letting the held signals in meanwhile.
 * False when a signal ended the wait first.
 */
bool wait_for_input(int fd);

/*
 * In the process that started the daemon and waits for it: ending signals
 * and faults go on to the daemon, which holds the fan.  A fault sent while
 * the daemon is forked must wait until it can go on: held over the fork,
 * it is released once the starter relays.
 */
void relay_signals_to(pid_t daemon);
void hold_faults();
void release_faults();

/*
 * In the daemon just detached: a job-control signal that came before it
 * left the starter's process group was meant for the starter's job.
 * False, with errno, when the system refused.
 */
bool forget_job_stops();

/* The name for a message: "SIGTERM", or "signal 40" in room. */
const char *signal_name(int signo, char *room, size_t size);

#endif
