/* FreeBSD's kernel calls for the acpi_ibm driver: straight through. */
#include "platform_freebsd.h"

#include <sys/param.h>
#include <sys/linker.h>
#include <sys/types.h>
#include <sys/sysctl.h>

int
platform_kldfind(const char *module)
{
	return kldfind(module);
}

int
platform_kldload(const char *module)
{
	return kldload(module);
}

int
platform_sysctlbyname(const char *name, void *oldp, size_t *oldlenp,
    const void *newp, size_t newlen)
{
	return sysctlbyname(name, oldp, oldlenp, newp, newlen);
}

int
platform_sysctlnametomib(const char *name, int *mibp, size_t *sizep)
{
	return sysctlnametomib(name, mibp, sizep);
}

int
platform_sysctl(const int *mib, unsigned int namelen, void *oldp,
    size_t *oldlenp, const void *newp, size_t newlen)
{
	return sysctl(mib, namelen, oldp, oldlenp, newp, newlen);
}
