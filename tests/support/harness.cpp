#include "harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

bool
feed_fifo(const std::string &fifo, const std::string &content, double seconds)
{
	int held = hold_fifo(fifo, seconds);
	if (held == -1)
		return false;
	bool whole = write(held, content.data(), content.size()) ==
	    static_cast<ssize_t>(content.size());
	close(held);
	return whole;
}

/* A FIFO opens for writing without waiting only while a reader waits in it. */
int
hold_fifo(const std::string &fifo, double seconds)
{
	int fd = -1;
	(void)eventually([&] {
		fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
		return fd != -1;
	}, seconds, 0.001);
	return fd;
}

bool
feed_until(const std::string &fifo, const std::function<bool()> &check,
    double seconds)
{
	return eventually([&] {
		(void)feed_fifo(fifo, "", 0.01);
		return check();
	}, seconds);
}

std::optional<fatal_error>
fault_raised_by(const std::function<void()> &call)
{
	try {
		call();
	} catch (const fatal_error &fault) {
		return fault;
	}
	return std::nullopt;
}

std::string
read_file(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	std::ostringstream text;
	text << in.rdbuf();
	return text.str();
}

void
write_file(const std::string &path, const std::string &content)
{
	std::ofstream out(path, std::ios::binary | std::ios::trunc);
	out << content;
}

std::string
error_text(int error)
{
	return strerror(error);
}

static std::vector<std::string>
lines_of(const std::string &text)
{
	std::vector<std::string> lines;
	std::istringstream in(text);
	for (std::string line; std::getline(in, line);)
		lines.push_back(line);
	return lines;
}

sim_machine::sim_machine()
{
	char pattern[] = "/tmp/coolrung-test-XXXXXX";
	if (mkdtemp(pattern) == nullptr)
		throw std::runtime_error("mkdtemp failed");
	root = pattern;
	fs::create_directory(root + "/kld");
	put("kld/acpi_ibm", "");
	put("trace", "");
	put("syslog", "");
	put("dev.acpi_ibm.0.fan", "1\n");
	put("dev.acpi_ibm.0.fan_level", "0\n");
	put("dev.acpi_ibm.0.thermal", "45 42 -1 -1 -1 -1 -1 -1\n");
}

sim_machine::~sim_machine()
{
	std::error_code ignored;
	fs::remove_all(root, ignored);
}

std::string
sim_machine::path(const std::string &name) const
{
	return root + "/" + name;
}

void
sim_machine::put(const std::string &name, const std::string &content) const
{
	std::string aside = path(name) + ".new";
	write_file(aside, content);
	fs::rename(aside, path(name));
}

void
sim_machine::remove(const std::string &name) const
{
	fs::remove(path(name));
}

bool
sim_machine::exists(const std::string &name) const
{
	return fs::exists(path(name));
}

std::string
sim_machine::get(const std::string &name) const
{
	return read_file(path(name));
}

void
sim_machine::set_temperature(int celsius) const
{
	put("dev.acpi_ibm.0.thermal", std::to_string(celsius) +
	    " 42 -1 -1 -1 -1 -1 -1\n");
}

int
sim_machine::fan_mode() const
{
	return std::stoi(get("dev.acpi_ibm.0.fan"));
}

int
sim_machine::fan_level() const
{
	return std::stoi(get("dev.acpi_ibm.0.fan_level"));
}

std::vector<std::string>
sim_machine::trace() const
{
	return lines_of(get("trace"));
}

std::vector<trace_line>
sim_machine::calls() const
{
	std::vector<trace_line> lines;
	for (const std::string &line : trace()) {
		trace_line t;
		std::istringstream in(line);
		in >> t.pid >> t.op >> t.name >> t.value >> t.result;
		lines.push_back(t);
	}
	return lines;
}

std::vector<std::string>
sim_machine::trace_without_pids() const
{
	std::vector<std::string> lines;
	for (const std::string &line : trace())
		lines.push_back(line.substr(line.find(' ') + 1));
	return lines;
}

std::string
sim_machine::dump() const
{
	return get("trace");
}

std::vector<std::string>
sim_machine::log() const
{
	return lines_of(get("syslog"));
}

std::string
sim_machine::config(const std::string &text) const
{
	std::string file = path("coolrung.conf");
	write_file(file, text);
	return file;
}

int
count_lines(const std::vector<std::string> &lines, const std::string &text)
{
	int count = 0;
	for (const std::string &line : lines)
		count += line.find(text) != std::string::npos ? 1 : 0;
	return count;
}

bool
eventually(const std::function<bool()> &check, double seconds,
    double pause_seconds)
{
	auto deadline = std::chrono::steady_clock::now() +
	    std::chrono::duration<double>(seconds);
	auto pause = std::chrono::duration<double>(pause_seconds);
	while (std::chrono::steady_clock::now() < deadline) {
		if (check())
			return true;
		std::this_thread::sleep_for(pause);
	}
	return check();
}

bool
has_ended(pid_t pid)
{
	siginfo_t info = {};
	return waitid(P_PID, static_cast<id_t>(pid), &info,
	    WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

int
wait_for_call(const sim_machine &machine, size_t from,
    const std::function<bool(const trace_line &)> &match,
    double timeout_seconds)
{
	return first_match<trace_line>([&] { return machine.calls(); }, from,
	    match, timeout_seconds);
}

bool
wait_for_trace(const sim_machine &machine, const std::string &text, int count,
    double timeout_seconds)
{
	return eventually([&] {
		return count_lines(machine.trace(), text) >= count;
	}, timeout_seconds, 0.02);
}

/* Extra "NAME=value" settings for the next programs started. */
static std::vector<std::string> extra_environment;
/* Signals the next programs start with blocked, as a careless parent leaves them. */
static std::vector<int> blocked_at_start;
/* The standard error of the next programs, when not a file of the harness's. */
static int stderr_at_start = -1;

static pid_t
spawn(const std::string &program, const std::vector<std::string> &argv,
    const std::string &sim_root, const std::string &out_path,
    const std::string &err_path)
{
	pid_t pid = fork();
	if (pid == -1)
		throw std::runtime_error("fork failed");
	if (pid != 0)
		return pid;
	std::vector<char *> args;
	for (const std::string &arg : argv)
		args.push_back(const_cast<char *>(arg.c_str()));
	args.push_back(nullptr);
	for (const std::string &setting : extra_environment)
		putenv(const_cast<char *>(setting.c_str()));
	if (sim_root.empty())
		unsetenv("COOLRUNG_SIM_ROOT");
	else
		setenv("COOLRUNG_SIM_ROOT", sim_root.c_str(), 1);
	int null_in = open("/dev/null", O_RDONLY);
	int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
	int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
	dup2(null_in, STDIN_FILENO);
	dup2(out, STDOUT_FILENO);
	dup2(stderr_at_start != -1 ? stderr_at_start : err, STDERR_FILENO);
	/* Holding none of the test's descriptors, it never keeps a pipe open. */
	closefrom(3);
	/* The test runner may have blocked or ignored signals: start clean. */
	sigset_t start_mask;
	sigemptyset(&start_mask);
	for (int signo : blocked_at_start)
		sigaddset(&start_mask, signo);
	sigprocmask(SIG_SETMASK, &start_mask, nullptr);
	for (int signo = 1; signo < NSIG; signo++)
		signal(signo, SIG_DFL);
	execv(program.c_str(), args.data());
	_exit(127);
}

running_daemon
start_program(const std::string &program, const std::vector<std::string> &argv,
    const std::string &sim_root)
{
	static int serial;
	running_daemon process;
	std::string base = "/tmp/coolrung-out-" + std::to_string(getpid()) + "-" +
	    std::to_string(serial++);
	process.out_path = base + ".out";
	process.err_path = base + ".err";
	process.pid = spawn(program, argv, sim_root, process.out_path,
	    process.err_path);
	return process;
}

running_daemon
start_coolrung(const std::vector<std::string> &argv, const std::string &sim_root)
{
	return start_program(COOLRUNG_BINARY, argv, sim_root);
}

running_daemon
start_coolrung_blocking(const std::vector<std::string> &argv,
    const std::string &sim_root, const std::vector<int> &blocked)
{
	blocked_at_start = blocked;
	running_daemon daemon = start_program(COOLRUNG_BINARY, argv, sim_root);
	blocked_at_start.clear();
	return daemon;
}

running_daemon
start_coolrung_with_stderr(const std::vector<std::string> &argv,
    const std::string &sim_root, int err_fd)
{
	stderr_at_start = err_fd;
	running_daemon daemon = start_program(COOLRUNG_BINARY, argv, sim_root);
	stderr_at_start = -1;
	return daemon;
}

run_result
wait_daemon(running_daemon &daemon, int timeout_seconds)
{
	run_result result;
	int status = 0;
	if (!eventually([&] {
		return waitpid(daemon.pid, &status, WNOHANG) == daemon.pid;
	}, timeout_seconds)) {
		kill(daemon.pid, SIGKILL);
		waitpid(daemon.pid, &status, 0);
	}
	if (WIFEXITED(status))
		result.status = WEXITSTATUS(status);
	else if (WIFSIGNALED(status))
		result.signal = WTERMSIG(status);
	result.out = read_file(daemon.out_path);
	result.err = read_file(daemon.err_path);
	unlink(daemon.out_path.c_str());
	unlink(daemon.err_path.c_str());
	daemon.pid = -1;
	return result;
}

void
end_daemon(running_daemon &daemon)
{
	if (daemon.pid > 0) {
		kill(daemon.pid, SIGKILL);
		wait_daemon(daemon, 5);
	}
}

owned_daemon::owned_daemon(const running_daemon &started)
    : running_daemon(started)
{
}

owned_daemon::~owned_daemon()
{
	end_daemon(*this);
}

owned_daemon &
owned_daemon::operator=(const running_daemon &started)
{
	end_daemon(*this);
	running_daemon::operator=(started);
	return *this;
}

/* The child stays waitable: its end is still collected by wait_daemon. */
bool
is_stopped(pid_t pid)
{
	siginfo_t info = {};

	return waitid(P_PID, static_cast<id_t>(pid), &info,
	    WSTOPPED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid &&
	    info.si_code == CLD_STOPPED;
}

run_result
run_program(const std::string &program, const std::vector<std::string> &argv,
    const std::string &sim_root, int timeout_seconds)
{
	running_daemon process = start_program(program, argv, sim_root);
	return wait_daemon(process, timeout_seconds);
}

run_result
run_coolrung_with(const std::vector<std::string> &argv,
    const std::string &sim_root, const std::vector<std::string> &environment)
{
	extra_environment = environment;
	run_result result = run_coolrung(argv, sim_root);
	extra_environment.clear();
	return result;
}

run_result
run_coolrung(const std::vector<std::string> &argv, const std::string &sim_root,
    int timeout_seconds)
{
	return run_program(COOLRUNG_BINARY, argv, sim_root, timeout_seconds);
}
