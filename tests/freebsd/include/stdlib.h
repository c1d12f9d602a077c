/*
 * Stand-in for FreeBSD's <stdlib.h>, which declares daemon(3); the host's
 * C library may keep it elsewhere (glibc: <unistd.h>) or not at all.
 * daemon is declared as FreeBSD declares it.  If the host also declares it
 * with another noexcept marking (glibc's <unistd.h>), do not include
 * both in the checked file.
 */
#ifndef COOLRUNG_STANDIN_STDLIB_H
#define COOLRUNG_STANDIN_STDLIB_H

#include_next <stdlib.h>

extern "C" {
int daemon(int nochdir, int noclose);
}

#endif
