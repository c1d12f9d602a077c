/* What every driver behind fan.h shares. */
#include "fan.h"

#include <cerrno>

#include "fatal.h"
#include "report.h"

void
hand_back_or_fail()
{
	if (!hand_back_fan())
		fail_with(EX_NOPERM, errno, "%s", fan_mode_name());
}

void
hand_back_and_fail(int status, int error, const char *what)
{
	hand_back_or_fail();
	fail_with(status, error, "%s", what);
}
