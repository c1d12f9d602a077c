/*
 * Memory running out while the table is read.  The test binary is linked
 * with realloc wrapped, so a test can make the next one fail.
 */
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "config.h"
#include "fatal.h"
#include "harness.h"

extern "C" void *__real_realloc(void *, size_t);

namespace {
bool fail_realloc;
}

extern "C" void *
__wrap_realloc(void *old, size_t size)
{
	if (fail_realloc) {
		errno = ENOMEM;
		return nullptr;
	}
	return __real_realloc(old, size);
}

namespace {

fatal_error
refusal(const std::string &path)
{
	try {
		load_config(path.c_str());
	} catch (const fatal_error &fault) {
		return fault;
	}
	ADD_FAILURE() << "loaded";
	return {0, 0, ""};
}

TEST(OutOfMemory, RowCannotBeAllocated)
{
	sim_machine scratch;
	std::string path = scratch.config("level(0,0,60)\nlevel(7,55,150)\n");
	fail_realloc = true;
	fatal_error fault = refusal(path);
	fail_realloc = false;
	EXPECT_EQ(fault.message, "Memory allocation error");
	EXPECT_EQ(fault.error, ENOMEM);
	EXPECT_EQ(fault.status, 70);
}

TEST(OutOfMemory, TheDaemonReportsIt)
{
	sim_machine machine;
	std::string conf = machine.config("level(0,0,150)\n");
	run_result result = run_coolrung_with({"coolrung", "-c", conf},
	    machine.root, {"LD_PRELOAD=" FAILING_REALLOC,
	    "ASAN_OPTIONS=verify_asan_link_order=0"});
	EXPECT_EQ(result.status, 70);
	EXPECT_EQ(result.err,
	    "coolrung: Memory allocation error: " + error_text(ENOMEM) + "\n");
	EXPECT_EQ(machine.fan_mode(), 1);
}

}  // namespace
