#include "emulated_thinkpad.h"

#include <dirent.h>
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
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "harness.h"

namespace {

/* The emulator's directories and the real ones they are bound over. */
const std::pair<const char *, const char *> BINDS[] = {
	{"/acpi", "/proc/acpi"},
	{"/class", "/sys/class"},
	{"/module", "/sys/module"},
	{"/devices/platform", "/sys/devices/platform"},
};
const char *const SBIN = "/usr/sbin";
const double EMULATOR_START_SECONDS = 5;
const int EMULATOR_STOP_MS = 5000;

bool namespace_tried;
std::string namespace_unavailable;

[[noreturn]] void
set_up_failed(const std::string &what)
{
	throw std::runtime_error(what + ": " + strerror(errno));
}

int
thread_count()
{
	std::ifstream status("/proc/self/status");
	for (std::string line; std::getline(status, line);) {
		if (line.compare(0, 8, "Threads:") == 0)
			return atoi(line.c_str() + 8);
	}
	return -1;
}

bool
is_directory(const char *path)
{
	struct stat st = {};
	return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

std::string
enter_private_namespace()
{
	if (geteuid() != 0)
		return "not root: the emulated thinkpad_acpi needs a mount "
		    "namespace and FUSE";
	int fuse = open("/dev/fuse", O_RDWR | O_CLOEXEC);
	if (fuse == -1)
		return std::string("FUSE unavailable: /dev/fuse: ") +
		    strerror(errno);
	close(fuse);
	if (thread_count() != 1)
		throw std::logic_error("the mount namespace must be made before "
		    "the test process starts a thread");
	if (unshare(CLONE_NEWNS) == -1)
		return std::string("no mount namespace: unshare(CLONE_NEWNS): ") +
		    strerror(errno);
	if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == -1)
		return std::string("mount namespace not private: ") +
		    strerror(errno);
	for (const auto &bind : BINDS) {
		if (!is_directory(bind.second))
			return std::string("no ") + bind.second + " to mount over";
	}
	prctl(PR_SET_CHILD_SUBREAPER, 1);
	return "";
}

std::string
private_namespace()
{
	if (!namespace_tried) {
		namespace_unavailable = enter_private_namespace();
		namespace_tried = true;
	}
	return namespace_unavailable;
}

void
make_directory(const std::string &path)
{
	if (mkdir(path.c_str(), 0755) == -1)
		set_up_failed("mkdir " + path);
}

pid_t
spawn_emulator(const std::string &mount_point, const std::string &state_dir)
{
	std::string err_path = state_dir + "/emulator.err";
	pid_t pid = fork();
	if (pid == -1)
		set_up_failed("fork");
	if (pid != 0)
		return pid;
	int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
	int null_in = open("/dev/null", O_RDWR);
	dup2(null_in, STDIN_FILENO);
	dup2(null_in, STDOUT_FILENO);
	dup2(err, STDERR_FILENO);
	/* Holding none of the test's descriptors, it never keeps a pipe open. */
	closefrom(3);
	execl(EMULATOR_BINARY, "thinkpad-emulator", mount_point.c_str(),
	    state_dir.c_str(), static_cast<char *>(nullptr));
	_exit(127);
}

/* Children of this process, which reaps the orphans of its descendants. */
std::vector<pid_t>
children()
{
	std::vector<pid_t> found;
	DIR *proc = opendir("/proc");
	if (proc == nullptr)
		return found;
	while (const dirent *entry = readdir(proc)) {
		pid_t pid = atoi(entry->d_name);
		if (pid <= 0)
			continue;
		std::string stat = read_file("/proc/" + std::string(entry->d_name) +
		    "/stat");
		size_t name_end = stat.rfind(')');
		if (name_end == std::string::npos)
			continue;
		char state = 0;
		int parent = 0;
		if (sscanf(stat.c_str() + name_end + 1, " %c %d", &state,
		    &parent) == 2 && parent == getpid())
			found.push_back(pid);
	}
	closedir(proc);
	return found;
}

/* Every process the test left, orphans of detached daemons included. */
void
kill_descendants(pid_t spared)
{
	for (int round = 0; round < 100; round++) {
		std::vector<pid_t> left = children();
		left.erase(std::remove(left.begin(), left.end(), spared),
		    left.end());
		if (left.empty())
			return;
		for (pid_t pid : left) {
			kill(pid, SIGKILL);
			waitpid(pid, nullptr, 0);
		}
	}
}

/* False when it does not end cleanly on SIGTERM (a sanitizer's finding). */
bool
stop_process(pid_t pid)
{
	int status = 0;
	kill(pid, SIGTERM);
	for (int ms = 0; ms < EMULATOR_STOP_MS; ms++) {
		if (waitpid(pid, &status, WNOHANG) == pid)
			return WIFEXITED(status) && WEXITSTATUS(status) == 0;
		std::this_thread::sleep_for(std::chrono::milliseconds(1));
	}
	kill(pid, SIGKILL);
	waitpid(pid, nullptr, 0);
	return false;
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
		char next = text[++i];
		if (next == 'n')
			out += '\n';
		else if (next == 't')
			out += '\t';
		else if (next == 'x' && i + 2 < text.size()) {
			out += static_cast<char>(std::stoi(text.substr(i + 1, 2),
			    nullptr, 16));
			i += 2;
		} else
			out += next;
	}
	return out;
}

/* "<PRI>Mmm dd hh:mm:ss IDENT[PID]: TEXT", as the C library sends it. */
syslog_record
parse_syslog(const std::string &raw)
{
	syslog_record record;
	record.raw = raw;
	size_t close = raw.find('>');
	if (raw.empty() || raw[0] != '<' || close == std::string::npos)
		return record;
	record.priority = atoi(raw.c_str() + 1);
	std::string rest = raw.substr(close + 1);
	if (rest.size() > 16 && rest[3] == ' ' && rest[9] == ':' &&
	    rest[12] == ':' && rest[15] == ' ')
		rest = rest.substr(16);
	size_t colon = rest.find(": ");
	std::string head = rest.substr(0, colon);
	record.text = colon == std::string::npos ? "" : rest.substr(colon + 2);
	while (!record.text.empty() && (record.text.back() == '\n' ||
	    record.text.back() == '\0'))
		record.text.pop_back();
	size_t bracket = head.find('[');
	record.ident = head.substr(0, bracket);
	if (bracket != std::string::npos)
		record.pid = atoi(head.c_str() + bracket + 1);
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

emulated_thinkpad::~emulated_thinkpad()
{
	stop();
}

std::string
emulated_thinkpad::start()
{
	std::string unavailable = private_namespace();
	if (!unavailable.empty())
		return unavailable;
	char pattern[] = "/tmp/coolrung-emulated-XXXXXX";
	if (mkdtemp(pattern) == nullptr)
		set_up_failed("mkdtemp");
	scratch = pattern;
	if (mount("emulated", scratch.c_str(), "tmpfs", 0, "mode=0755") == -1)
		set_up_failed("tmpfs on " + scratch);
	mount_point = scratch + "/mnt";
	state_dir = scratch + "/state";
	for (const char *dir : {"/mnt", "/state", "/sbin", "/sbin/upper",
	    "/sbin/work", "/dev", "/dev/upper", "/dev/work"})
		make_directory(scratch + dir);
	emulator = spawn_emulator(mount_point, state_dir);
	if (!eventually([this] {
		return access((mount_point + "/ctl").c_str(), F_OK) == 0 ||
		    has_ended(emulator);
	    }, EMULATOR_START_SECONDS) || has_ended(emulator))
		throw std::runtime_error("thinkpad-emulator did not start: " +
		    read_file(state_dir + "/emulator.err"));
	for (const auto &bind : BINDS) {
		std::string from = mount_point + bind.first;
		if (mount(from.c_str(), bind.second, nullptr, MS_BIND,
		    nullptr) == -1)
			set_up_failed(std::string("bind over ") + bind.second);
		mounted.emplace_back(bind.second);
	}
	std::string options = std::string("lowerdir=") + SBIN + ",upperdir=" +
	    scratch + "/sbin/upper,workdir=" + scratch + "/sbin/work";
	if (mount("overlay", SBIN, "overlay", 0, options.c_str()) == -1)
		set_up_failed(std::string("overlay on ") + SBIN);
	mounted.emplace_back(SBIN);
	set_modprobe(modprobe_action::loads);
	return "";
}

void
emulated_thinkpad::stop()
{
	if (scratch.empty())
		return;
	if (syslog_socket != -1)
		close(syslog_socket);
	syslog_socket = -1;
	kill_descendants(emulator);
	for (auto it = mounted.rbegin(); it != mounted.rend(); ++it)
		umount2(it->c_str(), MNT_DETACH);
	mounted.clear();
	if (emulator > 0 && !stop_process(emulator))
		ADD_FAILURE() << "thinkpad-emulator did not end cleanly: " <<
		    read_file(state_dir + "/emulator.err");
	emulator = -1;
	umount2(scratch.c_str(), MNT_DETACH);
	rmdir(scratch.c_str());
	scratch.clear();
}

int
emulated_thinkpad::control(const std::string &commands) const
{
	int fd = open((mount_point + "/ctl").c_str(), O_WRONLY);
	if (fd == -1)
		return errno;
	ssize_t written = write(fd, commands.data(), commands.size());
	int error = written == -1 ? errno : 0;
	close(fd);
	return error;
}

emulated_state
emulated_thinkpad::state() const
{
	emulated_state now;
	std::istringstream in(read_file(mount_point + "/ctl"));
	for (std::string key, value; in >> key >> value;) {
		if (key == "loaded")
			now.loaded = value == "yes";
		else if (key == "fan_control")
			now.fan_control = value == "Y";
		else if (key == "register")
			now.fan_register = std::stoi(value, nullptr, 16);
		else if (key == "level")
			now.level = value;
		else if (key == "watchdog")
			now.watchdog = std::stoi(value);
		else if (key == "expiry") {
			now.armed = value != "-";
			now.expiry = now.armed ? std::stod(value) : 0;
		} else if (key == "hwmon")
			now.hwmon = std::stoi(value);
	}
	return now;
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
	std::vector<emulator_record> found;
	for (const emulator_record &record : records()) {
		if (record.source == source)
			found.push_back(record);
	}
	return found;
}

std::string
emulated_thinkpad::dump() const
{
	return read_file(state_dir + "/log");
}

std::string
emulated_thinkpad::hwmon_path() const
{
	return HWMON_CLASS + "/hwmon" + std::to_string(state().hwmon);
}

/* Replaced whole, by a rename, so a run in progress keeps its old script. */
void
emulated_thinkpad::set_modprobe(modprobe_action action, int status) const
{
	std::string ctl = "'" + mount_point + "/ctl'";
	std::string script = "#!/bin/sh\n"
	    "# The stand-in modprobe of the emulated thinkpad_acpi.\n"
	    "printf 'note %s\\n' \"$0 $*\" > " + ctl + " || exit 1\n";
	if (action == modprobe_action::loads)
		script += "printf 'load\\n' > " + ctl + " || exit 1\nexit 0\n";
	else if (action == modprobe_action::fails)
		script += "echo \"modprobe: FATAL: Module $1 not found in "
		    "directory /lib/modules/emulated\" >&2\nexit " +
		    std::to_string(status) + "\n";
	else
		script += "exit 0\n";
	std::string aside = std::string(SBIN) + "/.modprobe.new";
	write_file(aside, script);
	if (chmod(aside.c_str(), 0755) == -1 ||
	    rename(aside.c_str(), (std::string(SBIN) + "/modprobe").c_str()) == -1)
		set_up_failed("the stand-in modprobe");
}

std::vector<std::string>
emulated_thinkpad::modprobe_runs() const
{
	std::vector<std::string> runs;
	for (const emulator_record &record : records_from("ctl")) {
		if (record.text.compare(0, 5, "note ") == 0 &&
		    record.text.find("modprobe") != std::string::npos)
			runs.push_back(record.text.substr(5));
	}
	return runs;
}

/*
 * /dev has no room of its own in the namespace: an overlay with an upper
 * layer on the scratch tmpfs takes the socket.  It hides /dev's own mounts
 * (/dev/pts, /dev/shm) for as long as the test runs.
 */
void
emulated_thinkpad::listen_syslog()
{
	std::string options = "lowerdir=/dev,upperdir=" + scratch +
	    "/dev/upper,workdir=" + scratch + "/dev/work";
	if (mount("overlay", "/dev", "overlay", 0, options.c_str()) == -1)
		set_up_failed("overlay on /dev");
	mounted.emplace_back("/dev");
	syslog_socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK,
	    0);
	sockaddr_un address = {};
	address.sun_family = AF_UNIX;
	snprintf(address.sun_path, sizeof(address.sun_path), "/dev/log");
	if (syslog_socket == -1 || bind(syslog_socket,
	    reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == -1)
		set_up_failed("a socket at /dev/log");
	chmod("/dev/log", 0666);
}

const std::vector<syslog_record> &
emulated_thinkpad::syslog()
{
	char message[8192];
	for (;;) {
		ssize_t got = syslog_socket == -1 ? -1 :
		    recv(syslog_socket, message, sizeof(message), 0);
		if (got < 0)
			break;
		syslog_received.push_back(parse_syslog(
		    std::string(message, static_cast<size_t>(got))));
	}
	return syslog_received;
}

int
wait_for_record(const emulated_thinkpad &pad, size_t from,
    const std::function<bool(const emulator_record &)> &match,
    double timeout_seconds)
{
	return first_match<emulator_record>([&] { return pad.records(); }, from,
	    match, timeout_seconds);
}
