/*
 * Test support on Linux: the emulated thinkpad_acpi (doc/emulated-driver.md)
 * mounted over the driver's real paths, in a mount namespace of the test
 * process's own, with a stand-in /sbin/modprobe and, for a test that asks,
 * a socket at /dev/log.
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

#include <string>
#include <vector>

#include "harness.h"

inline const std::string FAN_FILE = "/proc/acpi/ibm/fan";
inline const std::string FAN_CONTROL_FILE =
    "/sys/module/thinkpad_acpi/parameters/fan_control";
inline const std::string THERMAL_ZONE_FILE =
    "/sys/class/thermal/thermal_zone0/temp";
inline const std::string HWMON_CLASS = "/sys/class/hwmon";

double monotonic_seconds();
/* One write(2) of text to the file: 0, or the errno of its open or write. */
int write_once(const std::string &path, const std::string &text);

/* What the stand-in /sbin/modprobe does after logging how it was run. */
enum class modprobe_action {
	loads,
	fails,		/* exits with the status given, a message on stderr */
	does_nothing,	/* exits 0, the driver still missing */
};

/* One line of the emulator's log, its text unescaped. */
struct emulator_record {
	double time = 0;	/* CLOCK_MONOTONIC seconds */
	std::string source, result, text;
};

/* The emulator's state, as its control file shows it. */
struct emulated_state {
	bool loaded = false;
	bool fan_control = false;	/* while unloaded: at the next load */
	int fan_register = -1;
	std::string level;	/* as the level line shows the register */
	int watchdog = 0;
	bool armed = false;
	double expiry = 0;	/* CLOCK_MONOTONIC seconds, when armed */
	int hwmon = -1;
};

/* One message that arrived at /dev/log. */
struct syslog_record {
	int priority = -1;	/* facility | severity, as sent */
	std::string ident;
	pid_t pid = -1;
	std::string text;
	std::string raw;
};

struct emulated_thinkpad {
	std::string scratch;		/* a tmpfs of the namespace's own */
	std::string mount_point;	/* the emulator's root, ctl in it */
	std::string state_dir;		/* the emulator's log */
	owned_daemon emulator;
	int syslog_socket = -1;
	std::vector<syslog_record> syslog_received;
	std::vector<std::string> mounted;	/* undone last first */

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
	int control(const std::string &commands) const
	{
		return write_once(mount_point + "/ctl", commands);
	}
	emulated_state state() const;
	std::vector<emulator_record> records() const;
	std::vector<emulator_record> records_from(
	    const std::string &source) const;
	/* The log as it stands, for a failure's message. */
	std::string dump() const { return read_file(state_dir + "/log"); }
	/* /sys/class/hwmon/hwmonN of the driver's hwmon device. */
	std::string hwmon_path() const
	{
		return HWMON_CLASS + "/hwmon" + std::to_string(state().hwmon);
	}

	void set_modprobe(modprobe_action action, int status = 1) const;
	/* Each run of the stand-in modprobe: "PATH ARGUMENTS...". */
	std::vector<std::string> modprobe_runs() const;

	/* Binds a datagram socket at /dev/log (an overlay on /dev). */
	void listen_syslog();
	/* Every message received since listen_syslog(). */
	const std::vector<syslog_record> &syslog();
};


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
