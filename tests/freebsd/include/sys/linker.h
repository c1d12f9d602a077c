/*
 * Stand-in for FreeBSD's <sys/linker.h>, which the host lacks: the module
 * calls, declared as FreeBSD declares them for programs (kldfind(2),
 * kldload(2)), so that the FreeBSD side compiles and links here
 * (../../check.sh).  FreeBSD's own header is checked against with a
 * FreeBSD sysroot.
 */
#ifndef COOLRUNG_STANDIN_SYS_LINKER_H
#define COOLRUNG_STANDIN_SYS_LINKER_H

extern "C" {
int kldfind(const char *file);
int kldload(const char *file);
}

#endif
