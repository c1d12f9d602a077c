#include "fan.h"

#include <cerrno>
#include <cstring>

#include "fatal.h"
#include "platform.h"

constexpr unsigned int DRIVER_MIB_LENGTH = 4;	/* dev.acpi_ibm.0.<node> */
constexpr unsigned int TZ0_MIB_LENGTH = 5;	/* hw.acpi.thermal.tz0.temperature */
constexpr int32_t TZ0_OFFSET = 2727;		/* deci-kelvin, rounds half up */
constexpr int TEMPERATURE_SLOTS = 8;		/* the thermal node's 32 bytes */
constexpr int NO_READING = -1;		/* the driver could not read the sensor */

static int fan_level_mib[DRIVER_MIB_LENGTH];
static int thermal_mib[DRIVER_MIB_LENGTH];
static int tz0_mib[TZ0_MIB_LENGTH];
static bool use_acpi_tz0;

bool
write_fan_mode(int mode)
{
	return platform_sysctlbyname(FAN_MODE_NODE, nullptr, nullptr, &mode,
	    sizeof(mode)) == 0;
}

static int
resolve(const char *name, int *mib, size_t length)
{
	return platform_sysctlnametomib(name, mib, &length);
}


void
take_fan(const level_table *table)
{
	if (!write_fan_mode(FAN_MODE_MANUAL))
		fail_with(EX_NOPERM, errno, "%s", FAN_MODE_NODE);
	if (resolve(FAN_LEVEL_NODE, fan_level_mib, DRIVER_MIB_LENGTH) == -1)
		hand_back_and_fail(EX_UNAVAILABLE, errno, FAN_LEVEL_NODE);
	use_acpi_tz0 = resolve(THERMAL_NODE, thermal_mib, DRIVER_MIB_LENGTH) == -1;
	if (use_acpi_tz0 && resolve(TZ0_NODE, tz0_mib, TZ0_MIB_LENGTH) == -1)
		hand_back_and_fail(EX_UNAVAILABLE, errno, TZ0_NODE);
	if (!write_fan_level(table->entries[0].level_number))
		hand_back_and_fail(EX_UNAVAILABLE, errno, FAN_LEVEL_NODE);
}

void
hand_back_fan()
{
	if (!write_fan_mode(FAN_MODE_AUTO))
		fail_with(EX_NOPERM, errno, "%s", FAN_MODE_NODE);
}

void
hand_back_and_fail(int status, int error, const char *what)
{
	hand_back_fan();
	fail_with(status, error, "%s", what);
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
	if (rc == -1)
		return false;
	/* The driver's way of saying it could not read the sensor. */
	if (length < sizeof(buffer[0]) ||
	    (!use_acpi_tz0 && buffer[0] == NO_READING)) {
		errno = 0;
		return false;
	}
	if (use_acpi_tz0) {
		/* Widened: a wild raw value must not overflow. */
		*celsius = static_cast<int32_t>(
		    (static_cast<int64_t>(buffer[0]) - TZ0_OFFSET) / 10);
	} else {
		*celsius = buffer[0];
	}
	return true;
}

const char *
temperature_node()
{
	return use_acpi_tz0 ? TZ0_NODE : THERMAL_NODE;
}

int
restore_fan_mode_from_signal()
{
	int saved = errno;
	int result = write_fan_mode(FAN_MODE_AUTO) ? 0 : errno;

	errno = saved;
	return result;
}
