/*
 * Memory running out while the table is read.  The test binary replaces
 * operator new, so a test can make the next allocation fail.
 */
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "config.h"
#include "harness.h"

namespace {
bool fail_new;
}

void *
operator new(std::size_t size)
{
	void *memory = fail_new ? nullptr : malloc(size == 0 ? 1 : size);
	if (memory == nullptr)
		throw std::bad_alloc();
	return memory;
}

void
operator delete(void *memory) noexcept
{
	free(memory);
}

void
operator delete(void *memory, std::size_t /* size */) noexcept
{
	free(memory);
}

namespace {

TEST(OutOfMemory, RowCannotBeAllocated)
{
	sim_machine scratch;
	std::string path = scratch.config("level(0,0,60)\nlevel(7,55,150)\n");
	bool raised = false;
	fail_new = true;
	try {
		(void)load_config(path.c_str());
	} catch (const std::bad_alloc &) {
		raised = true;
	}
	fail_new = false;
	EXPECT_TRUE(raised);
}

/* Whatever runs out, the table or the message of a refused file: 70. */
TEST(OutOfMemory, TheDaemonReportsIt)
{
	for (const char *text : {"level(0,0,150)\n", "Level(0,0,150)\n"}) {
		sim_machine machine;
		std::string conf = machine.config(text);
		run_result result = run_coolrung_with({"coolrung", "-c", conf},
		    machine.root, {"LD_PRELOAD=" FAILING_NEW,
		    "ASAN_OPTIONS=verify_asan_link_order=0"});
		EXPECT_EQ(result.status, 70) << text;
		EXPECT_EQ(result.err,
		    "coolrung: Memory allocation error: " + error_text(ENOMEM) +
		    "\n")
		    << text;
		EXPECT_EQ(machine.fan_mode(), 1);
	}
}

}  // namespace
