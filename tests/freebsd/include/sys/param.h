/*
 * Stand-in for FreeBSD's <sys/param.h>: nothing of it is used directly, but
 * <sys/linker.h> needs it first, as on FreeBSD (see sys/linker.h).
 */
#ifndef COOLRUNG_STANDIN_SYS_PARAM_H
#define COOLRUNG_STANDIN_SYS_PARAM_H

#include <sys/types.h>

#endif
