/*
 * Test support on Linux: the emulated thinkpad_acpi (doc/emulated-driver.md)
 * mounted over the driver's real paths, in a mount namespace of the test
 * process's own, with a stand-in /sbin/modprobe and, for a test that asks,
 * a socket at /dev/log.  Programs the test starts see the driver where
 * the real one would be.
 *
 * The namespace is made at the first start(), which must come before the
 * process starts any thread (ctest runs each test in a process of its
 * own).  The process also becomes the reaper of its orphans, so that
 * stop() ends a daemon that detached as well.
 */
#ifndef COOLRUNG_TEST_EMULATED_THINKPAD_H
#define COOLRUNG_TEST_EMULATED_THINKPAD_H

#include <gtest/gtest.h>

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

/* The driver's files, where the daemon looks for them. */
inline const std::string FAN_FILE = "/proc/acpi/ibm/fan";
inline const std::string FAN_CONTROL_FILE =
    "/sys/module/thinkpad_acpi/parameters/fan_control";
inline const std::string THERMAL_ZONE_FILE =
    "/sys/class/thermal/thermal_zone0/temp";
inline const std::string HWMON_CLASS = "/sys/class/hwmon";

/* What the stand-in /sbin/modprobe does after logging how it was run. */
enum class modprobe_action {
	loads,		/* loads the driver, exits 0 */
	fails,		/* exits with the status given, a message on stderr */
	does_nothing,	/* exits 0, the driver still missing */
};

/* One line of the emulator's log. */
struct emulator_record {
	double time = 0;	/* CLOCK_MONOTONIC seconds */
	std::string source;	/* fan, thermal, ctl, watchdog, fault */
	std::string result;	/* ok, or the errno's name */
	std::string text;	/* the bytes written, escapes undone */
};

/* The emulator's state, as its control file shows it. */
struct emulated_state {
	bool loaded = false;
	bool fan_control = false;
	int fan_register = -1;	/* the controller's byte */
	std::string level;	/* as the level line shows the register */
	int watchdog = 0;	/* seconds, 0 when off */
	bool armed = false;
	double expiry = 0;	/* CLOCK_MONOTONIC seconds, when armed */
	int hwmon = -1;		/* N of the driver's /sys/class/hwmon/hwmonN */
};

/* One message that arrived at /dev/log. */
struct syslog_record {
	int priority = -1;	/* facility * 8 + severity, as sent */
	std::string ident;
	pid_t pid = -1;
	std::string text;
	std::string raw;
};

struct emulated_thinkpad {
	std::string scratch;		/* a tmpfs of the namespace's own */
	std::string mount_point;	/* the emulator's root, ctl in it */
	std::string state_dir;		/* the emulator's log */
	pid_t emulator = -1;
	int syslog_socket = -1;
	std::vector<syslog_record> syslog_received;
	std::vector<std::string> mounted;	/* undone last first */

	emulated_thinkpad() = default;
	~emulated_thinkpad();
	emulated_thinkpad(const emulated_thinkpad &) = delete;
	emulated_thinkpad &operator=(const emulated_thinkpad &) = delete;

	/*
	 * Mounts a healthy machine: driver loaded, fan_control Y, the fan in
	 * auto, the modprobe stand-in loading the driver.  Returns why the
	 * emulation cannot run here (not root, no FUSE, no namespaces), empty
	 * when it runs; a set-up that fails for another reason throws.
	 */
	std::string start();
	/* Kills every process the test left, then the emulator; unmounts. */
	void stop();

	/* Control commands, one a line, in one write: 0 or its errno. */
	int control(const std::string &commands) const;
	emulated_state state() const;
	std::vector<emulator_record> records() const;
	std::vector<emulator_record> records_from(const std::string &source) const;
	/* The log as it stands, for a failure's message. */
	std::string dump() const;
	/* /sys/class/hwmon/hwmonN of the driver's hwmon device. */
	std::string hwmon_path() const;

	void set_modprobe(modprobe_action action, int status = 1) const;
	/* Each run of the stand-in modprobe: "PATH ARGUMENTS...". */
	std::vector<std::string> modprobe_runs() const;

	/* Binds a datagram socket at /dev/log (an overlay on /dev). */
	void listen_syslog();
	/* Every message received since listen_syslog(). */
	const std::vector<syslog_record> &syslog();
};

double monotonic_seconds();
/* Index of the first record at or after from that matches; -1 on timeout. */
int wait_for_record(const emulated_thinkpad &pad, size_t from,
    const std::function<bool(const emulator_record &)> &match,
    double timeout_seconds = 8);

/* A test on the emulated driver; skipped, with the reason, where none runs. */
class EmulatedThinkpad : public testing::Test {
protected:
	emulated_thinkpad pad;

	void SetUp() override
	{
		std::string unavailable = pad.start();
		if (!unavailable.empty())
			GTEST_SKIP() << unavailable;
	}
	void TearDown() override { pad.stop(); }
};

#endif
