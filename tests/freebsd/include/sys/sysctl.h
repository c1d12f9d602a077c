/*
 * Stand-in for FreeBSD's <sys/sysctl.h>, which the host lacks: the three
 * calls, declared as FreeBSD declares them for programs (sysctl(3)), so
 * that the FreeBSD side compiles and links here (../../check.sh).  u_int
 * and size_t come from <sys/types.h>, included first as on FreeBSD.
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
