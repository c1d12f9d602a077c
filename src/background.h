/* Going to the background the way daemon(3) does, without leaving. */
#ifndef COOLRUNG_BACKGROUND_H
#define COOLRUNG_BACKGROUND_H

#include <sys/types.h>

/*
 * Forks; the child starts a session of its own (no terminal's job control
 * reaches it), changes to / and points 0 to 2 at the null device, the
 * standard error last, so that a failure before it can still be told on
 * the terminal.  Returns the child's pid in the caller, 0 in the child, -1
 * with errno when the fork or the child's set-up failed.
 */
pid_t fork_into_background();

#endif
