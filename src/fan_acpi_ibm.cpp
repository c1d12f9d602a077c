/*
 * The fan and the temperature through FreeBSD's acpi_ibm driver: its
 * sysctl nodes and, where the driver has no temperature node, the first
 * ACPI thermal zone.
 */
#include "fan.h"

#include <cerrno>

#include "platform_freebsd.h"
#include "fatal.h"
#include "report.h"

constexpr const char *DRIVER_MODULE = "acpi_ibm";
constexpr int EXIT_DRIVER_MISSING = 1;

constexpr int FAN_MODE_MANUAL = 0;	/* we set the level */
constexpr int FAN_MODE_AUTO = 1;	/* the firmware does */

constexpr const char *FAN_MODE_NODE = "dev.acpi_ibm.0.fan";
constexpr const char *FAN_LEVEL_NODE = "dev.acpi_ibm.0.fan_level";
constexpr const char *THERMAL_NODE = "dev.acpi_ibm.0.thermal";
constexpr const char *TZ0_NODE = "hw.acpi.thermal.tz0.temperature";

constexpr unsigned int DRIVER_MIB_LENGTH = 4;	/* dev.acpi_ibm.0.<node> */
constexpr unsigned int TZ0_MIB_LENGTH = 5;	/* hw.acpi.thermal.tz0.temperature */
constexpr int32_t TZ0_OFFSET = 2727;		/* deci-kelvin, rounds half up */
constexpr int TEMPERATURE_SLOTS = 8;		/* the thermal node's 32 bytes */
constexpr int NO_READING = -1;		/* the driver could not read the sensor */

static int fan_level_mib[DRIVER_MIB_LENGTH];
static int thermal_mib[DRIVER_MIB_LENGTH];
static int tz0_mib[TZ0_MIB_LENGTH];
static bool use_acpi_tz0;

void
ensure_fan_driver()
{
	if (platform_kldfind(DRIVER_MODULE) != -1)
		return;
	/* A driver compiled into the kernel is no loaded file, but present. */
	if (platform_kldload(DRIVER_MODULE) == -1 && errno != EEXIST)
		fail_with(EXIT_DRIVER_MISSING, errno,
		    "Module acpi_ibm.ko load failed");
}

static bool
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

bool
hand_back_fan()
{
	return write_fan_mode(FAN_MODE_AUTO);
}

bool
engage_manual_mode()
{
	return write_fan_mode(FAN_MODE_MANUAL);
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

/*
 * acpi_ibm has no watchdog, and a resume is rc.d's business (the script
 * restarts the daemon): the fan stays the daemon's as far as it knows.
 */
bool
keep_fan(bool *ours)
{
	*ours = true;
	return true;
}

int
hand_back_fan_from_signal()
{
	int saved = errno;
	int result = write_fan_mode(FAN_MODE_AUTO) ? 0 : errno;

	errno = saved;
	return result;
}

const char *
fan_mode_name()
{
	return FAN_MODE_NODE;
}

const char *
fan_level_name()
{
	return FAN_LEVEL_NODE;
}

const char *
temperature_name()
{
	return use_acpi_tz0 ? TZ0_NODE : THERMAL_NODE;
}
