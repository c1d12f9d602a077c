#include "fan.h"

#include <cerrno>
#include <cstring>

#include "fatal.h"
#include "platform.h"

constexpr unsigned int DRIVER_MIB_LENGTH = 4;	/* dev.acpi_ibm.0.<node> */
constexpr unsigned int TZ0_MIB_LENGTH = 5;	/* hw.acpi.thermal.tz0.temperature */
constexpr int32_t TZ0_OFFSET = 2727;		/* deci-kelvin, rounds half up */
constexpr int TEMPERATURE_SLOTS = 8;		/* the thermal node's 32 bytes */

int32_t current_level_index;

static int fan_level_mib[DRIVER_MIB_LENGTH];
static int thermal_mib[DRIVER_MIB_LENGTH];
static int tz0_mib[TZ0_MIB_LENGTH];
static bool use_acpi_tz0;

static int
write_mode(unsigned int mode)
{
	int value = static_cast<int>(mode);

	return platform_sysctlbyname(FAN_MODE_NODE, nullptr, nullptr, &value,
	    sizeof(value));
}

static int
resolve(const char *name, int *mib, size_t length)
{
	return platform_sysctlnametomib(name, mib, &length);
}

/*
 * Manual mode without a way to set the level or to read the heat would
 * leave the fan unattended: give it back to the firmware and stop.
 */
[[noreturn]] static void
abandon_manual_mode(const char *node, int error)
{
	if (write_mode(FAN_MODE_AUTO) == -1)
		fail_with(EX_NOPERM, errno, "%s", FAN_MODE_NODE);
	fail_with(EX_UNAVAILABLE, error, "%s", node);
}

static void
engage_manual_mode(const level_entry *entries)
{
	if (resolve(FAN_LEVEL_NODE, fan_level_mib, DRIVER_MIB_LENGTH) == -1)
		abandon_manual_mode(FAN_LEVEL_NODE, errno);
	use_acpi_tz0 = resolve(THERMAL_NODE, thermal_mib, DRIVER_MIB_LENGTH) == -1;
	if (use_acpi_tz0 && resolve(TZ0_NODE, tz0_mib, TZ0_MIB_LENGTH) == -1)
		abandon_manual_mode(TZ0_NODE, errno);
	/* Only FAN_MODE_MANUAL gets here, and it always comes with a table. */
	// cppcheck-suppress ctunullpointer
	if (!write_fan_level(entries[0].level_number))
		abandon_manual_mode(FAN_LEVEL_NODE, errno);
	current_level_index = 0;
}

void
set_fan_mode(unsigned int mode, const level_entry *entries)
{
	if (mode > FAN_MODE_AUTO)
		fail(EX_SOFTWARE, "Invalid fan mode");
	if (write_mode(mode) == -1)
		fail_with(EX_NOPERM, errno, "%s", FAN_MODE_NODE);
	if (mode == FAN_MODE_MANUAL)
		engage_manual_mode(entries);
}

bool
write_fan_level(int32_t level_number)
{
	int value = level_number;

	return platform_sysctl(fan_level_mib, DRIVER_MIB_LENGTH, nullptr, nullptr,
	    &value, sizeof(value)) == 0;
}

bool
read_temperature(int32_t *celsius)
{
	int buffer[TEMPERATURE_SLOTS] = {};
	size_t length = sizeof(buffer);
	int rc;

	if (use_acpi_tz0)
		rc = platform_sysctl(tz0_mib, TZ0_MIB_LENGTH, buffer, &length,
		    nullptr, 0);
	else
		rc = platform_sysctl(thermal_mib, DRIVER_MIB_LENGTH, buffer,
		    &length, nullptr, 0);
	if (rc == -1 || length < sizeof(buffer[0]))
		return false;
	if (use_acpi_tz0) {
		/* Widened: a wild raw value must not overflow. */
		*celsius = static_cast<int32_t>(
		    (static_cast<int64_t>(buffer[0]) - TZ0_OFFSET) / 10);
	} else {
		*celsius = buffer[0];
	}
	return true;
}

int
restore_fan_mode_from_signal()
{
	int saved = errno;
	int result = write_mode(FAN_MODE_AUTO) == -1 ? errno : 0;

	errno = saved;
	return result;
}
