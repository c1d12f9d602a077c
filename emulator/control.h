/*
 * The control file at the emulator's root: the tests (and the stand-in
 * modprobe) change the machine through it, one command a line, and read
 * its state from it.  Injected failures are kept here too.
 */
#ifndef THINKPAD_EMULATOR_CONTROL_H
#define THINKPAD_EMULATOR_CONTROL_H

#include <string>
#include <vector>

#include "driver.h"
#include "tree.h"

enum class fault_op { open, read, write };

struct fault {
	fault_op op;
	file_id file;
	int sensor;
	int error;
	int remaining;	/* calls still to fail; -1 until cleared */
	std::string command;	/* a fan write only when it begins so; "" any */
};

struct emulator_state {
	emulated_driver driver;
	std::vector<fault> faults;
};

/*
 * Runs the commands of one write, each line one command, logging each;
 * stops at the first that fails and returns its errno, else 0.
 */
int control_write(emulator_state &state, const std::string &text,
    int64_t now);
std::string control_text(const emulator_state &state);

/*
 * The errno an injected fault gives this call, or 0; counts it down.
 * written is what a write brings, for a fault kept for one command.
 */
int take_fault(emulator_state &state, fault_op op, file_id file, int sensor,
    const std::string &written = "");

#endif
