/*
 * The FreeBSD calls the host lacks, for linking the FreeBSD side's daemon
 * on another system (check.sh): declared by the stand-in headers beside
 * this file, each fails with ENOSYS.  The daemon so linked is only looked
 * at, never run.
 */
#include <sys/param.h>
#include <sys/linker.h>
#include <sys/types.h>
#include <sys/sysctl.h>

#include <cerrno>

static int
not_here()
{
	errno = ENOSYS;
	return -1;
}

int
kldfind(const char *)
{
	return not_here();
}

int
kldload(const char *)
{
	return not_here();
}

int
sysctl(const int *, u_int, void *, size_t *, const void *, size_t)
{
	return not_here();
}

int
sysctlbyname(const char *, void *, size_t *, const void *, size_t)
{
	return not_here();
}

int
sysctlnametomib(const char *, int *, size_t *)
{
	return not_here();
}
