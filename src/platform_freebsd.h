/*
 * FreeBSD's kernel calls for the acpi_ibm driver: module presence and
 * sysctl.  Each behaves as its FreeBSD namesake (0 or a file id on
 * success, -1 with errno on failure).  platform_freebsd.cpp calls the real
 * ones on FreeBSD; the simulated kernel answers them on every system.
 */
#ifndef COOLRUNG_PLATFORM_FREEBSD_H
#define COOLRUNG_PLATFORM_FREEBSD_H

#include <cstddef>

int platform_kldfind(const char *module);
int platform_kldload(const char *module);

int platform_sysctlbyname(const char *name, void *oldp, size_t *oldlenp,
    const void *newp, size_t newlen);
int platform_sysctlnametomib(const char *name, int *mibp, size_t *sizep);
int platform_sysctl(const int *mib, unsigned int namelen, void *oldp,
    size_t *oldlenp, const void *newp, size_t newlen);

#endif
