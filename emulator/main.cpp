/*
 * thinkpad-emulator MOUNTPOINT STATEDIR
 *
 * Serves the emulated thinkpad_acpi over FUSE at MOUNTPOINT until it is
 * unmounted or sent SIGTERM, SIGINT or SIGHUP, logging to STATEDIR/log.
 * The tests bind its acpi, class, module and devices/platform directories
 * over the real ones in a mount namespace of their own (see
 * doc/emulated-driver.md).
 *
 * FUSE calls come one at a time from the main thread; a second thread
 * only wakes to run the watchdog out on time.  One mutex holds the state
 * for both, and every call first runs out whatever timer is due, so an
 * access never sees a watchdog that should have fired.
 */
#define FUSE_USE_VERSION 31

#include <fuse.h>

#include <err.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

#include "control.h"
#include "driver.h"
#include "log.h"
#include "tree.h"

namespace {

constexpr off_t SYSFS_SIZE = 4096;

std::mutex state_lock;
std::condition_variable timer_changed;
emulator_state state;
bool stopping;
time_t started;

/* What an open file stays bound to: the file, and the load it belongs to. */
struct handle {
	file_id file;
	int sensor;
	unsigned generation;
};

uint64_t
handle_value(const handle &h)
{
	return static_cast<uint64_t>(h.generation) << 32 |
	    static_cast<uint64_t>(h.file) << 8 | static_cast<uint64_t>(h.sensor);
}

handle
handle_of(const fuse_file_info *fi)
{
	return {static_cast<file_id>((fi->fh >> 8) & 0xff),
	    static_cast<int>(fi->fh & 0xff),
	    static_cast<unsigned>(fi->fh >> 32)};
}

std::string
file_name(file_id file, int sensor)
{
	if (file == file_id::hwmon_temp)
		return "temp" + std::to_string(sensor + 1) + "_input";
	return kind_of(file).name;
}

/* Called with the lock held at every FUSE call, and by the timer. */
int64_t
run_timers()
{
	int64_t now = monotonic_ns();
	if (watchdog_expired(state.driver, now))
		log_record(now, "watchdog", 0, "expired");
	return now;
}

/*
 * A driver file opened before an unload stays dead, a reload or not:
 * procfs fails it with EIO, sysfs with ENODEV.
 */
int
stale_error(const handle &h)
{
	const file_kind &kind = kind_of(h.file);
	if (!kind.driver_owned || (state.driver.loaded &&
	    h.generation == state.driver.generation))
		return 0;
	return kind.sysfs ? ENODEV : EIO;
}

/* procfs directories are 0555, sysfs ones 0755. */
void
fill_stat(struct stat *st, const std::string &path, node_type type,
    file_id file)
{
	memset(st, 0, sizeof(*st));
	st->st_nlink = 1;
	st->st_atime = st->st_mtime = st->st_ctime = started;
	if (type == node_type::directory) {
		st->st_mode = S_IFDIR | (path.compare(0, 5, "/acpi") == 0 ?
		    0555 : 0755);
		st->st_nlink = 2;
	} else if (type == node_type::symlink)
		st->st_mode = S_IFLNK | 0777;
	else {
		const file_kind &kind = kind_of(file);
		st->st_mode = kind.mode;
		st->st_size = kind.sysfs ? SYSFS_SIZE : 0;
	}
}

int
emu_getattr(const char *path, struct stat *st, fuse_file_info *fi)
{
	std::lock_guard<std::mutex> guard(state_lock);
	run_timers();
	if (fi != nullptr) {
		fill_stat(st, path, node_type::file, handle_of(fi).file);
		return 0;
	}
	std::vector<tree_node> tree = current_tree(state.driver);
	const tree_node *node = find_node(tree, path);
	if (node == nullptr)
		return -ENOENT;
	fill_stat(st, path, node->type, node->file);
	return 0;
}

int
emu_readlink(const char *path, char *buffer, size_t size)
{
	std::lock_guard<std::mutex> guard(state_lock);
	run_timers();
	std::vector<tree_node> tree = current_tree(state.driver);
	const tree_node *node = find_node(tree, path);
	if (node == nullptr || node->type != node_type::symlink)
		return -ENOENT;
	snprintf(buffer, size, "%s", node->target.c_str());
	return 0;
}

int
emu_readdir(const char *path, void *buffer, fuse_fill_dir_t filler, off_t,
    fuse_file_info *, fuse_readdir_flags)
{
	std::lock_guard<std::mutex> guard(state_lock);
	run_timers();
	std::vector<tree_node> tree = current_tree(state.driver);
	const tree_node *directory = find_node(tree, path);
	if (directory == nullptr || directory->type != node_type::directory)
		return -ENOENT;
	filler(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
	filler(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
	for (const tree_node *entry : directory_entries(tree, path)) {
		struct stat st = {};
		fill_stat(&st, entry->path, entry->type, entry->file);
		std::string name = entry->path.substr(entry->path.rfind('/') + 1);
		filler(buffer, name.c_str(), &st, 0,
		    static_cast<fuse_fill_dir_flags>(0));
	}
	return 0;
}

/* Read-only sysfs attributes refuse an open for writing, root or not. */
int
emu_open(const char *path, fuse_file_info *fi)
{
	std::lock_guard<std::mutex> guard(state_lock);
	int64_t now = run_timers();
	std::vector<tree_node> tree = current_tree(state.driver);
	const tree_node *node = find_node(tree, path);
	if (node == nullptr || node->type != node_type::file)
		return -ENOENT;
	int error = take_fault(state, fault_op::open, node->file, node->sensor);
	if (error != 0) {
		log_record(now, "fault", error, "open " +
		    file_name(node->file, node->sensor));
		return -error;
	}
	const file_kind &kind = kind_of(node->file);
	if ((fi->flags & O_ACCMODE) != O_RDONLY && kind.sysfs && !kind.writable)
		return -EACCES;
	fi->direct_io = 1;
	fi->fh = handle_value({node->file, node->sensor,
	    state.driver.generation});
	return 0;
}

/* The text is made afresh at every read, at any offset. */
int
emu_read(const char *, char *buffer, size_t size, off_t offset,
    fuse_file_info *fi)
{
	std::lock_guard<std::mutex> guard(state_lock);
	int64_t now = run_timers();
	handle h = handle_of(fi);
	int error = stale_error(h);
	if (error != 0)
		return -error;
	error = take_fault(state, fault_op::read, h.file, h.sensor);
	if (error != 0) {
		log_record(now, "fault", error, "read " +
		    file_name(h.file, h.sensor));
		return -error;
	}
	std::string text;
	if (h.file == file_id::control)
		text = control_text(state);
	else if ((error = file_text(state.driver, h.file, h.sensor, now,
	    &text)) != 0)
		return -error;
	if (offset >= static_cast<off_t>(text.size()))
		return 0;
	size_t count = std::min(size, text.size() - static_cast<size_t>(offset));
	text.copy(buffer, count, static_cast<size_t>(offset));
	return static_cast<int>(count);
}

/* One write(2), one command (or one line of commands for the control). */
int
emu_write(const char *, const char *buffer, size_t size, off_t,
    fuse_file_info *fi)
{
	std::lock_guard<std::mutex> guard(state_lock);
	int64_t now = run_timers();
	handle h = handle_of(fi);
	std::string text(buffer, size);
	if (h.file == file_id::control) {
		int error = control_write(state, text, now);
		timer_changed.notify_one();
		return error != 0 ? -error : static_cast<int>(size);
	}
	int error = stale_error(h);
	if (error == 0)
		error = take_fault(state, fault_op::write, h.file, h.sensor,
		    text);
	if (error == 0)
		error = h.file == file_id::fan ?
		    fan_write(state.driver, text, now) : EINVAL;
	log_record(now, file_name(h.file, h.sensor), error, text);
	timer_changed.notify_one();
	return error != 0 ? -error : static_cast<int>(size);
}

/* procfs ignores the truncation of a shell's "> file"; sysfs refused the open. */
int
emu_truncate(const char *path, off_t, fuse_file_info *fi)
{
	std::lock_guard<std::mutex> guard(state_lock);
	file_id file = file_id::none;
	if (fi != nullptr)
		file = handle_of(fi).file;
	else {
		std::vector<tree_node> tree = current_tree(state.driver);
		const tree_node *node = find_node(tree, path);
		if (node == nullptr)
			return -ENOENT;
		file = node->file;
	}
	return kind_of(file).sysfs ? -EACCES : 0;
}

void *
emu_init(fuse_conn_info *, fuse_config *config)
{
	/* Nothing cached: every lookup and read comes here. */
	config->entry_timeout = 0;
	config->negative_timeout = 0;
	config->attr_timeout = 0;
	config->direct_io = 1;
	config->kernel_cache = 0;
	return nullptr;
}

void
watch_timers()
{
	std::unique_lock<std::mutex> lock(state_lock);
	while (!stopping) {
		if (state.driver.watchdog_armed) {
			int64_t wait = state.driver.watchdog_expiry - monotonic_ns();
			if (wait > 0)
				timer_changed.wait_for(lock,
				    std::chrono::nanoseconds(wait));
		} else
			timer_changed.wait(lock);
		run_timers();
	}
}

/* The timer thread takes none of the signals that end the loop. */
std::thread
start_timer_thread()
{
	sigset_t blocked, old;
	sigemptyset(&blocked);
	sigaddset(&blocked, SIGTERM);
	sigaddset(&blocked, SIGINT);
	sigaddset(&blocked, SIGHUP);
	pthread_sigmask(SIG_BLOCK, &blocked, &old);
	std::thread timer(watch_timers);
	pthread_sigmask(SIG_SETMASK, &old, nullptr);
	return timer;
}

fuse_operations
operations()
{
	fuse_operations ops = {};
	ops.getattr = emu_getattr;
	ops.readlink = emu_readlink;
	ops.truncate = emu_truncate;
	ops.open = emu_open;
	ops.read = emu_read;
	ops.write = emu_write;
	ops.readdir = emu_readdir;
	ops.init = emu_init;
	return ops;
}

}

int
main(int argc, char **argv)
{
	if (argc != 3)
		errx(2, "usage: thinkpad-emulator MOUNTPOINT STATEDIR");
	if (!open_log(argv[2]))
		err(1, "%s/log", argv[2]);
	started = time(nullptr);
	char program[] = "thinkpad-emulator";
	char option[] = "-o";
	char names[] = "fsname=thinkpad_acpi,subtype=emulated";
	char *fuse_argv[] = {program, option, names, nullptr};
	fuse_args args = FUSE_ARGS_INIT(3, fuse_argv);
	fuse_operations ops = operations();
	fuse *fs = fuse_new(&args, &ops, sizeof(ops), nullptr);
	fuse_opt_free_args(&args);
	if (fs == nullptr)
		errx(1, "cannot set up FUSE");
	if (fuse_mount(fs, argv[1]) != 0)
		errx(1, "cannot mount on %s", argv[1]);
	fuse_set_signal_handlers(fuse_get_session(fs));
	std::thread timer = start_timer_thread();
	int status = fuse_loop(fs);
	{
		std::lock_guard<std::mutex> guard(state_lock);
		stopping = true;
	}
	timer_changed.notify_one();
	timer.join();
	fuse_remove_signal_handlers(fuse_get_session(fs));
	fuse_unmount(fs);
	fuse_destroy(fs);
	/* A signal that ended the loop is its number: a clean end too. */
	return status >= 0 ? 0 : 1;
}
