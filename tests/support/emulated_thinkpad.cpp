#include "emulated_thinkpad.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>

namespace {

/* The emulator's directories and the real ones they are bound over. */
const std::pair<const char *, const char *> BINDS[] = {
	{"/acpi", "/proc/acpi"},
	{"/class", "/sys/class"},
	{"/module", "/sys/module"},
	{"/devices/platform", "/sys/devices/platform"},
};
const char *const SBIN = "/usr/sbin";

[[noreturn]] void
set_up_failed(const std::string &what)
{
	throw std::runtime_error(what + ": " + error_text(errno));
}

std::string
enter_private_namespace()
{
	if (geteuid() != 0)
		return "not root: the emulated thinkpad_acpi needs a mount "
		    "namespace and FUSE";
	int fuse = open("/dev/fuse", O_RDWR | O_CLOEXEC);
	if (fuse == -1)
		return "FUSE unavailable: /dev/fuse: " + error_text(errno);
	close(fuse);
	if (read_file("/proc/self/status").find("\nThreads:\t1\n") ==
	    std::string::npos)
		throw std::logic_error("the mount namespace must be made "
		    "before the test process starts a thread");
	if (unshare(CLONE_NEWNS) == -1)
		return "no mount namespace: unshare(CLONE_NEWNS): " +
		    error_text(errno);
	if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == -1)
		return "mount namespace not private: " + error_text(errno);
	for (const auto &[from, over] : BINDS) {
		if (!std::filesystem::is_directory(over))
			return std::string("no ") + over + " to mount over";
	}
	prctl(PR_SET_CHILD_SUBREAPER, 1);
	return "";
}

/* An overlay on dir whose upper layer lies on the scratch tmpfs. */
void
mount_overlay(const std::string &dir, const std::string &scratch,
    std::vector<std::string> &mounted)
{
	std::string layers = scratch + dir;
	std::filesystem::create_directories(layers + "/upper");
	std::filesystem::create_directories(layers + "/work");
	std::string options = "lowerdir=" + dir + ",upperdir=" + layers +
	    "/upper,workdir=" + layers + "/work";
	if (mount("overlay", dir.c_str(), "overlay", 0, options.c_str()) == -1)
		set_up_failed("overlay on " + dir);
	mounted.push_back(dir);
}

pid_t
parent_of(const std::string &pid)
{
	std::string stat = read_file("/proc/" + pid + "/stat");
	size_t name_end = stat.rfind(')');
	int parent = -1;
	if (name_end != std::string::npos)
		sscanf(stat.c_str() + name_end + 1, " %*c %d", &parent);
	return parent;
}

/* Every process the test left, orphans of detached daemons included. */
void
kill_descendants(pid_t spared)
{
	bool killed = true;
	for (int round = 0; killed && round < 100; round++) {
		killed = false;
		for (const auto &entry :
		    std::filesystem::directory_iterator("/proc")) {
			std::string name = entry.path().filename();
			pid_t pid = atoi(name.c_str());
			if (pid <= 0 || pid == spared ||
			    parent_of(name) != getpid())
				continue;
			kill(pid, SIGKILL);
			waitpid(pid, nullptr, 0);
			killed = true;
		}
	}
}

std::string
unescaped(const std::string &text)
{
	std::string out;
	for (size_t i = 0; i < text.size(); i++) {
		if (text[i] != '\\' || i + 1 == text.size()) {
			out += text[i];
			continue;
		}
		char next = text[i + 1];
		if (next == 'x' && i + 3 < text.size()) {
			out += static_cast<char>(
			    std::stoi(text.substr(i + 2, 2), nullptr, 16));
			i += 3;
		} else {
			out += next == 'n' ? '\n' : next == 't' ? '\t' : next;
			i++;
		}
	}
	return out;
}

/*
 * "<PRI>Mmm dd hh:mm:ss IDENT[PID]: TEXT", as the C library sends it, or
 * without the time, as the daemon's signal-safe logger does.
 */
syslog_record
parse_syslog(const std::string &raw)
{
	syslog_record record;
	char ident[64] = "";
	int text_at = 0;
	record.raw = raw;
	if ((sscanf(raw.c_str(), "<%d>%*s %*d %*d:%*d:%*d %63[^[][%d]: %n",
	    &record.priority, ident, &record.pid, &text_at) < 3 &&
	    sscanf(raw.c_str(), "<%d>%63[^[][%d]: %n", &record.priority, ident,
	    &record.pid, &text_at) < 3) || text_at == 0)
		return record;
	record.ident = ident;
	record.text = raw.substr(static_cast<size_t>(text_at));
	while (!record.text.empty() && (record.text.back() == '\n' ||
	    record.text.back() == '\0'))
		record.text.pop_back();
	return record;
}

}

double
monotonic_seconds()
{
	struct timespec now = {};
	clock_gettime(CLOCK_MONOTONIC, &now);
	return static_cast<double>(now.tv_sec) +
	    static_cast<double>(now.tv_nsec) / 1e9;
}

int
write_once(const std::string &path, const std::string &text)
{
	int fd = open(path.c_str(), O_WRONLY);
	if (fd == -1)
		return errno;
	int error = write(fd, text.data(), text.size()) == -1 ? errno : 0;
	close(fd);
	return error;
}

std::string
emulated_thinkpad::start()
{
	static const std::string unavailable = enter_private_namespace();
	if (!unavailable.empty())
		return unavailable;
	char pattern[] = "/tmp/coolrung-emulated-XXXXXX";
	if (mkdtemp(pattern) == nullptr)
		set_up_failed("mkdtemp");
	scratch = pattern;
	if (mount("emulated", pattern, "tmpfs", 0, "mode=0755") == -1)
		set_up_failed("tmpfs on " + scratch);
	mount_point = scratch + "/mnt";
	state_dir = scratch + "/state";
	std::filesystem::create_directory(mount_point);
	std::filesystem::create_directory(state_dir);
	emulator = start_program(EMULATOR_BINARY, {"thinkpad-emulator",
	    mount_point, state_dir}, "");
	if (!eventually([this] {
		return access((mount_point + "/ctl").c_str(), F_OK) == 0 ||
		    has_ended(emulator.pid);
	    }) || has_ended(emulator.pid))
		throw std::runtime_error("thinkpad-emulator did not start: " +
		    read_file(emulator.err_path));
	for (const auto &[from, over] : BINDS) {
		if (mount((mount_point + from).c_str(), over, nullptr, MS_BIND,
		    nullptr) == -1)
			set_up_failed(std::string("bind over ") + over);
		mounted.emplace_back(over);
	}
	mount_overlay(SBIN, scratch, mounted);
	set_modprobe(modprobe_action::loads);
	return "";
}

/* An emulator that does not end cleanly on SIGTERM fails the test. */
void
emulated_thinkpad::stop()
{
	if (scratch.empty())
		return;
	if (syslog_socket != -1)
		close(syslog_socket);
	syslog_socket = -1;
	kill_descendants(emulator.pid);
	for (auto it = mounted.rbegin(); it != mounted.rend(); ++it)
		umount2(it->c_str(), MNT_DETACH);
	mounted.clear();
	if (emulator.pid > 0) {
		kill(emulator.pid, SIGTERM);
		run_result end = wait_daemon(emulator, 5);
		if (end.status != 0)
			ADD_FAILURE() << "thinkpad-emulator did not end "
			    "cleanly: " << end.err;
	}
	umount2(scratch.c_str(), MNT_DETACH);
	rmdir(scratch.c_str());
	scratch.clear();
}

emulated_state
emulated_thinkpad::state() const
{
	std::map<std::string, std::string> shown;
	std::istringstream in(read_file(mount_point + "/ctl"));
	for (std::string key, value; in >> key >> value;)
		shown[key] = value;
	return {.loaded = shown["loaded"] == "yes",
	    .fan_control = shown["fan_control"] == "Y",
	    .fan_register = std::stoi(shown["register"], nullptr, 16),
	    .level = shown["level"],
	    .watchdog = std::stoi(shown["watchdog"]),
	    .armed = shown["expiry"] != "-",
	    .expiry = shown["expiry"] == "-" ? 0 : std::stod(shown["expiry"]),
	    .hwmon = std::stoi(shown["hwmon"])};
}

std::vector<emulator_record>
emulated_thinkpad::records() const
{
	std::vector<emulator_record> found;
	std::istringstream in(dump());
	for (std::string line; std::getline(in, line);) {
		emulator_record record;
		std::istringstream fields(line);
		fields >> record.time >> record.source >> record.result;
		std::string text;
		std::getline(fields, text);
		record.text = unescaped(text.empty() ? text : text.substr(1));
		found.push_back(record);
	}
	return found;
}

std::vector<emulator_record>
emulated_thinkpad::records_from(const std::string &source) const
{
	std::vector<emulator_record> found = records();
	std::erase_if(found, [&](const emulator_record &record) {
		return record.source != source;
	});
	return found;
}

/* Replaced whole, by a rename, so a run in progress keeps its old script. */
void
emulated_thinkpad::set_modprobe(modprobe_action action, int status) const
{
	std::string ctl = "'" + mount_point + "/ctl'";
	std::string script = "#!/bin/sh\n"
	    "printf 'note %s\\n' \"$0 $*\" > " + ctl + " || exit 1\n";
	if (action == modprobe_action::loads)
		script += "printf 'load\\n' > " + ctl + " || exit 1\nexit 0\n";
	else if (action == modprobe_action::fails)
		script += "echo \"modprobe: FATAL: Module $1 not found in "
		    "directory /lib/modules/emulated\" >&2\nexit " +
		    std::to_string(status) + "\n";
	else
		script += "exit 0\n";
	std::string modprobe = std::string(SBIN) + "/modprobe";
	write_file(modprobe + ".new", script);
	if (chmod((modprobe + ".new").c_str(), 0755) == -1 ||
	    rename((modprobe + ".new").c_str(), modprobe.c_str()) == -1)
		set_up_failed("the stand-in modprobe");
}

std::vector<std::string>
emulated_thinkpad::modprobe_runs() const
{
	std::vector<std::string> runs;
	for (const emulator_record &record : records_from("ctl")) {
		if (record.text.starts_with("note ") &&
		    record.text.find("modprobe") != std::string::npos)
			runs.push_back(record.text.substr(5));
	}
	return runs;
}

/*
 * /dev has no room of its own in the namespace, hence the overlay, which
 * hides /dev's own mounts (/dev/pts, /dev/shm) for as long as the test runs.
 */
void
emulated_thinkpad::listen_syslog()
{
	mount_overlay("/dev", scratch, mounted);
	sockaddr_un address = {};
	address.sun_family = AF_UNIX;
	snprintf(address.sun_path, sizeof(address.sun_path), "/dev/log");
	syslog_socket = socket(AF_UNIX,
	    SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
	if (syslog_socket == -1 || bind(syslog_socket,
	    reinterpret_cast<const sockaddr *>(&address),
	    sizeof(address)) == -1 || chmod("/dev/log", 0666) == -1)
		set_up_failed("a socket at /dev/log");
}

const std::vector<syslog_record> &
emulated_thinkpad::syslog()
{
	char message[8192];
	ssize_t got = 0;
	while (syslog_socket != -1 &&
	    (got = recv(syslog_socket, message, sizeof(message), 0)) >= 0)
		syslog_received.push_back(parse_syslog(
		    std::string(message, static_cast<size_t>(got))));
	return syslog_received;
}
