/*
 * Preloaded into the daemon by a test: every realloc fails as it does when
 * memory runs out.  The level table is the daemon's only growing allocation.
 */
#include <cerrno>
#include <cstddef>

extern "C" void *
realloc(void * /* old */, size_t /* size */)
{
	errno = ENOMEM;
	return nullptr;
}
