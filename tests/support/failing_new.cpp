/*
 * Preloaded into a program by a test: memory runs out, for every object
 * the program would create with new.  The C library's own allocations
 * (the configuration's FILE, an exception in flight) still work, as they
 * do where new fails for want of a large block.
 */
#include <cstddef>
#include <new>

void *
operator new(std::size_t /* size */)
{
	throw std::bad_alloc();
}
