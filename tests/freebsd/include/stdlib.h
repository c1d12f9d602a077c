/*
 * Stand-in for FreeBSD's <stdlib.h>, which declares daemon(3); the host's
 * C library may keep it elsewhere (glibc: <unistd.h>) or not at all.
 * daemon is declared as FreeBSD declares it.  glibc's <unistd.h> declares
 * it with a noexcept marking as well; g++ and clang++ take the two together,
 * the first being a system header's.
 */
#ifndef COOLRUNG_STANDIN_STDLIB_H
#define COOLRUNG_STANDIN_STDLIB_H

#include_next <stdlib.h>

extern "C" {
int daemon(int nochdir, int noclose);
}

#endif
