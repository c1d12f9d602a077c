/*
 * Stand-in for FreeBSD's <sys/types.h>, for type-checking the FreeBSD
 * side on another system (see ../../check.sh).  The
 * host's own header comes first, since the host's C library includes it
 * too; what the FreeBSD side relies on is then declared as FreeBSD
 * declares it, and a host type that differed would be a redefinition error.
 */
#ifndef COOLRUNG_STANDIN_SYS_TYPES_H
#define COOLRUNG_STANDIN_SYS_TYPES_H

#include_next <sys/types.h>

typedef unsigned int u_int;

#endif
