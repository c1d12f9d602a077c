/*
 * The daemon's one way to the kernel: module presence, sysctl and the two
 * process services it needs.  Each call behaves as its FreeBSD namesake
 * (0 or a file id on success, -1 with errno on failure).  The FreeBSD build
 * calls the real functions; other systems get a simulated kernel.
 */
#ifndef COOLRUNG_PLATFORM_H
#define COOLRUNG_PLATFORM_H

#include <csignal>
#include <cstddef>

int platform_kldfind(const char *module);
int platform_kldload(const char *module);

int platform_sysctlbyname(const char *name, void *oldp, size_t *oldlenp,
    const void *newp, size_t newlen);
int platform_sysctlnametomib(const char *name, int *mibp, size_t *sizep);
int platform_sysctl(const int *mib, unsigned int namelen, void *oldp,
    size_t *oldlenp, const void *newp, size_t newlen);

int platform_daemon(int nochdir, int noclose);

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
