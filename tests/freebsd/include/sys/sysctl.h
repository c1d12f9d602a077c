/*
 * Stand-in for FreeBSD's <sys/sysctl.h>: the three calls, declared as
 * FreeBSD declares them for programs (sysctl(3)).  Like FreeBSD's, it
 * takes u_int and size_t from <sys/types.h>, which must come first.
 */
#ifndef COOLRUNG_STANDIN_SYS_SYSCTL_H
#define COOLRUNG_STANDIN_SYS_SYSCTL_H

extern "C" {
int sysctl(const int *name, u_int namelen, void *oldp, size_t *oldlenp,
    const void *newp, size_t newlen);
int sysctlbyname(const char *name, void *oldp, size_t *oldlenp,
    const void *newp, size_t newlen);
int sysctlnametomib(const char *name, int *mibp, size_t *sizep);
}

#endif
