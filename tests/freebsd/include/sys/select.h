/*
 * Stand-in for FreeBSD's <sys/select.h>.  The host's header comes first
 * (the host's <sys/types.h> includes it, and it holds fd_set); pselect is
 * then declared again as FreeBSD declares it, so a host prototype that
 * differed would be a conflicting declaration.
 */
#ifndef COOLRUNG_STANDIN_SYS_SELECT_H
#define COOLRUNG_STANDIN_SYS_SELECT_H

#include_next <sys/select.h>

#include <signal.h>
#include <time.h>

extern "C" {
int pselect(int nfds, fd_set *__restrict readfds, fd_set *__restrict writefds,
    fd_set *__restrict exceptfds, const struct timespec *__restrict timeout,
    const sigset_t *__restrict sigmask);
}

#endif
