/* The platform calls on FreeBSD: straight through to the system. */
#include "platform.h"

#include <sys/param.h>
#include <sys/linker.h>
#include <sys/select.h>
#include <sys/sysctl.h>
#include <sys/types.h>

#include <cstdlib>
#include <ctime>

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

int
platform_daemon(int nochdir, int noclose)
{
	return daemon(nochdir, noclose);
}

int
platform_sleep(unsigned int seconds, const sigset_t *wait_mask)
{
	struct timespec interval = {static_cast<time_t>(seconds), 0};

	return pselect(0, nullptr, nullptr, nullptr, &interval, wait_mask);
}
