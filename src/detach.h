/*
 * Detaching with -d.  The process the shell or rc.d started forks the
 * daemon and waits until the daemon says that it runs with the fan: only
 * then does it leave with status 0; otherwise it leaves with the daemon's
 * own status, so that whoever started it sees the real outcome.
 */
#ifndef COOLRUNG_DETACH_H
#define COOLRUNG_DETACH_H

/*
 * Returns true in the detached daemon, false when the process stays in
 * the foreground because an ending signal came during start-up (the first
 * sleep ends it).  The starter never returns.  A failure hands the fan
 * back and raises EX_OSERR.
 */
bool detach();

/* The daemon runs with the fan: the starter may leave with status 0. */
void tell_starter();

#endif
