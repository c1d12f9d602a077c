/*
 * For in-process tests of code behind the platform calls: a simulated
 * machine that this process's calls go to, forgotten again at the end.
 */
#ifndef COOLRUNG_TEST_SIM_IN_PROCESS_H
#define COOLRUNG_TEST_SIM_IN_PROCESS_H

#include <gtest/gtest.h>

#include <cstdlib>

#include "harness.h"
#include "sim_kernel.h"

class SimInProcess : public testing::Test {
protected:
	sim_machine machine;

	void SetUp() override
	{
		setenv("COOLRUNG_SIM_ROOT", machine.root.c_str(), 1);
		sim_kernel_reset();
	}
	void TearDown() override
	{
		unsetenv("COOLRUNG_SIM_ROOT");
		sim_kernel_reset();
	}
};

#endif
