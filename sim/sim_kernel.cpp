/*
 * A simulated kernel behind the platform calls, for systems other than
 * FreeBSD.  Without COOLRUNG_SIM_ROOT it is a healthy machine held in
 * memory.  With COOLRUNG_SIM_ROOT=DIR every sysctl node is the file
 * DIR/<node name> holding decimal integers, the module is DIR/kld/<module>,
 * DIR/faults makes chosen calls fail, and DIR/trace, when present, gets a
 * line for every call.  See doc/simulated-kernel.md.
 *
 * Here are the calls themselves and the names resolved to MIBs; the two
 * machines are in sim_nodes.cpp, their files in sim_files.cpp, the faults
 * in sim_faults.cpp and the trace and log lines in sim_lines.cpp.
 *
 * The fan mode is also written from a signal handler, so everything here
 * works in fixed buffers with open/read/write/close: no stdio, no
 * allocation.
 */
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "background.h"
#include "platform.h"
#include "platform_freebsd.h"
#include "sim_kernel.h"
#include "sim_lines.h"
#include "sim_nodes.h"

using sim::choose_backing;
using sim::fail_call;
using sim::injected_fault;
using sim::machine;
using sim::NAME_SIZE;
using sim::refused_write;
using sim::trace;
using sim::trace_number;

namespace {

constexpr int SIM_MIB_TAG = 0x5117;	/* first component of every sim MIB */
constexpr int MAX_NODES = 32;		/* names that can be resolved to MIBs */
constexpr int MAX_VALUES = 64;
constexpr int LOADED_MODULE_ID = 1;

struct resolved_node {
	char name[NAME_SIZE];
	unsigned int length;
};
resolved_node resolved[MAX_NODES];
int resolved_count;

int
read_node(const char *name, void *oldp, size_t *oldlenp)
{
	int values[MAX_VALUES];
	int error = injected_fault("read", name);
	int count = error == 0 ? machine()->load_node(name, values, MAX_VALUES) :
	    -1;

	if (error == 0 && count == -1)
		error = errno;
	if (error != 0) {
		trace("read", name, "-", error);
		return fail_call(error);
	}
	/* As the kernel does: the size wanted without a buffer, else what fits. */
	int copied = count;
	if (oldp != nullptr) {
		size_t slots = *oldlenp / sizeof(int);
		if (slots < static_cast<size_t>(count))
			copied = static_cast<int>(slots);
		memcpy(oldp, values, sizeof(int) * static_cast<size_t>(copied));
		error = copied < count ? ENOMEM : 0;
	}
	*oldlenp = sizeof(int) * static_cast<size_t>(copied);
	if (count > 0)
		trace_number("read", name, values[0], error);
	else
		trace("read", name, "-", error);
	return error == 0 ? 0 : fail_call(error);
}

int
write_node(const char *name, const void *newp, size_t newlen)
{
	int value;

	if (newlen != sizeof(value)) {
		trace("write", name, "-", EINVAL);
		return fail_call(EINVAL);
	}
	memcpy(&value, newp, sizeof(value));
	int error = injected_fault("write", name);
	if (error == 0 && machine()->node_exists(name))
		error = refused_write(name, value);
	if (error == 0 && machine()->store_node(name, value) == -1)
		error = errno;
	trace_number("write", name, value, error);
	return error == 0 ? 0 : fail_call(error);
}

/* One sysctl on a node already named: a read, a write, or both. */
int
node_call(const char *name, void *oldp, size_t *oldlenp, const void *newp,
    size_t newlen)
{
	if (oldlenp != nullptr && read_node(name, oldp, oldlenp) == -1)
		return -1;
	if (newp != nullptr)
		return write_node(name, newp, newlen);
	return 0;
}

unsigned int
name_components(const char *name)
{
	unsigned int count = 1;

	for (; *name != '\0'; name++)
		count += *name == '.' ? 1 : 0;
	return count;
}

const resolved_node *
resolved_by_mib(const int *mib, unsigned int namelen)
{
	if (namelen < 2 || mib[0] != SIM_MIB_TAG || mib[1] < 0 ||
	    mib[1] >= resolved_count || resolved[mib[1]].length != namelen)
		return nullptr;
	return &resolved[mib[1]];
}

}  // namespace

void
sim_kernel_reset()
{
	sim::forget_backing();
	resolved_count = 0;
}

int
platform_kldfind(const char *module)
{
	choose_backing();
	int error = injected_fault("kldfind", module);
	if (error == 0) {
		error = machine()->module_loaded(module) ? 0 : ENOENT;
	}
	trace("kldfind", module, "-", error);
	return error == 0 ? LOADED_MODULE_ID : fail_call(error);
}

int
platform_kldload(const char *module)
{
	choose_backing();
	int error = injected_fault("kldload", module);
	if (error == 0)
		error = machine()->load_module(module);
	trace("kldload", module, "-", error);
	return error == 0 ? LOADED_MODULE_ID : fail_call(error);
}

int
platform_sysctlbyname(const char *name, void *oldp, size_t *oldlenp,
    const void *newp, size_t newlen)
{
	choose_backing();
	return node_call(name, oldp, oldlenp, newp, newlen);
}

int
platform_sysctlnametomib(const char *name, int *mibp, size_t *sizep)
{
	choose_backing();
	int error = injected_fault("lookup", name);
	unsigned int length = name_components(name);
	int index = -1;

	if (error == 0 && !machine()->node_exists(name))
		error = ENOENT;
	if (error == 0 && *sizep < length)
		error = ENOMEM;
	for (int i = 0; error == 0 && i < resolved_count && index == -1; i++)
		index = strcmp(resolved[i].name, name) == 0 ? i : -1;
	if (error == 0 && index == -1) {
		if (resolved_count == MAX_NODES)
			error = ENOMEM;
		else {
			index = resolved_count++;
			strncpy(resolved[index].name, name, NAME_SIZE - 1);
			resolved[index].length = length;
		}
	}
	trace("lookup", name, "-", error);
	if (error != 0)
		return fail_call(error);
	for (unsigned int i = 0; i < length; i++)
		mibp[i] = 0;
	mibp[0] = SIM_MIB_TAG;
	mibp[1] = index;
	*sizep = length;
	return 0;
}

int
platform_sysctl(const int *mib, unsigned int namelen, void *oldp,
    size_t *oldlenp, const void *newp, size_t newlen)
{
	choose_backing();
	const resolved_node *node = resolved_by_mib(mib, namelen);
	if (node == nullptr) {
		trace(newp != nullptr ? "write" : "read", "-", "-", ENOENT);
		return fail_call(ENOENT);
	}
	return node_call(node->name, oldp, oldlenp, newp, newlen);
}

/* Traced by the detached daemon, with its pid; a fault fails the fork. */
pid_t
platform_daemon()
{
	choose_backing();
	int error = injected_fault("daemon", "-");
	if (error != 0) {
		trace("daemon", "-", "-", error);
		return fail_call(error);
	}
	pid_t child = fork_into_background();
	if (child > 0)
		return child;
	error = child == 0 ? 0 : errno;
	trace("daemon", "-", "-", error);
	return error == 0 ? 0 : fail_call(error);
}

int
platform_sleep(unsigned int seconds, const sigset_t *wait_mask)
{
	struct timespec interval = {static_cast<time_t>(seconds), 0};

	choose_backing();
	trace_number("sleep", "-", seconds, 0);
	return pselect(0, nullptr, nullptr, nullptr, &interval, wait_mask);
}

void
platform_openlog(const char * /* ident */)
{
	choose_backing();
}

void
platform_syslog(int priority, const char *message)
{
	choose_backing();
	sim::log_line(priority, message);
}
