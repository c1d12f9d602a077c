/*
 * The process services the daemon takes from its system: going to the
 * background, the sleep between polls and the system log.  Each real
 * system has them from platform_posix.cpp; coolrung-sim from the simulated
 * kernel, which traces them and can make them fail.
 */
#ifndef COOLRUNG_PLATFORM_H
#define COOLRUNG_PLATFORM_H

#include <sys/types.h>

#include <csignal>

/*
 * Forks into the background as daemon(3) with both arguments 0 does, but
 * the caller does not leave: it gets the child's pid, while the child, in
 * a session of its own with / as its working directory and 0 to 2 on the
 * null device, gets 0.  -1 with errno when the fork failed, or in the child
 * when its set-up failed.
 */
pid_t platform_daemon();

/*
 * The system log, used once the process has detached: facility LOG_DAEMON,
 * ident the program name, each line marked with the pid.  platform_openlog
 * runs in ordinary code; platform_syslog is async-signal-safe, since a fault
 * handler reports through it.  Priorities are <syslog.h>'s LOG_ERR,
 * LOG_WARNING, LOG_NOTICE and LOG_INFO.  Failures are not reported.
 */
void platform_openlog(const char *ident);
void platform_syslog(int priority, const char *message);

/*
 * Sleeps for the given seconds with the signal mask set to wait_mask, so a
 * signal blocked until now can end the sleep early without being lost.
 * Returns 0 after the full time, -1 with EINTR when a signal ended it.
 */
int platform_sleep(unsigned int seconds, const sigset_t *wait_mask);

#endif
