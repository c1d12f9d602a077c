/*
 * The sysctl nodes and the module, held by one of two machines: a healthy
 * one in memory, or the one in the directory COOLRUNG_SIM_ROOT names.  The
 * machine is chosen at the first call after a reset; only the directory
 * one has faults, a trace and a log.
 */
#ifndef COOLRUNG_SIM_NODES_H
#define COOLRUNG_SIM_NODES_H

#include <cstddef>

namespace sim {

constexpr size_t NAME_SIZE = 128;	/* node names are shorter */

/* What one machine does where the other does something else. */
struct machine_calls {
	bool (*node_exists)(const char *name);
	/*
	 * Reads the node's integers, up to room of them, stopping at the first
	 * word that is not one; -1 with errno when the node is missing.
	 */
	int (*load_node)(const char *name, int *values, int room);
	/* Replaces the node's content with value; 0, or -1 with errno. */
	int (*store_node)(const char *name, int value);
	bool (*module_loaded)(const char *module);
	/* Loads the module; 0 or an errno. */
	int (*load_module)(const char *module);
	/* The errno a fault gives the call OP on NAME, or 0. */
	int (*fault)(const char *op, const char *name);
	/* DIR/<name> open for appending, or -1 when there is none. */
	int (*open_for_appending)(const char *name);
};

/* Every call begins here: the machine is chosen at the first. */
void choose_backing();
/* The next call chooses the machine afresh. */
void forget_backing();
/* The machine chosen; choose_backing has run. */
const machine_calls *machine();

int injected_fault(const char *op, const char *name);
/*
 * As the kernel answers a write of value to a known node: EPERM for a
 * read-only one, EINVAL for a value its handler refuses, else 0.
 */
int refused_write(const char *name, int value);
/* Sets errno to error and returns -1, as a failing call does. */
int fail_call(int error);

}  // namespace sim

#endif
