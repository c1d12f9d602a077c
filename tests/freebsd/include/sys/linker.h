/*
 * Stand-in for FreeBSD's <sys/linker.h>: the module calls, declared as
 * FreeBSD declares them for programs (kldfind(2), kldload(2)).
 */
#ifndef COOLRUNG_STANDIN_SYS_LINKER_H
#define COOLRUNG_STANDIN_SYS_LINKER_H

/* FreeBSD's header uses MAXPATHLEN and the like from <sys/param.h>. */
#ifndef COOLRUNG_STANDIN_SYS_PARAM_H
#error "<sys/param.h> must be included before <sys/linker.h>"
#endif

extern "C" {
int kldfind(const char *file);
int kldload(const char *file);
}

#endif
