/*
 * A simulated kernel behind the platform calls, for systems other than
 * FreeBSD.  Without COOLRUNG_SIM_ROOT it is a healthy machine held in
 * memory.  With COOLRUNG_SIM_ROOT=DIR every sysctl node is the file
 * DIR/<node name> holding decimal integers, the module is DIR/kld/<module>,
 * DIR/faults makes chosen calls fail, and DIR/trace, when present, gets a
 * line for every call.  See doc/simulated-kernel.md.
 *
 * The fan mode is also written from a signal handler, so everything here
 * works in fixed buffers with open/read/write/close: no stdio, no
 * allocation.
 */
#include <fcntl.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "background.h"
#include "platform.h"
#include "platform_freebsd.h"
#include "safe_text.h"
#include "sim_kernel.h"

namespace {

constexpr int SIM_MIB_TAG = 0x5117;	/* first component of every sim MIB */
constexpr int MAX_NODES = 32;		/* names that can be resolved to MIBs */
constexpr size_t NAME_SIZE = 128;
constexpr size_t PATH_SIZE = 4096;
constexpr size_t CHUNK_SIZE = 512;	/* files are read this much at a time */
constexpr size_t WORD_SIZE = 32;	/* longer words are no integers */
constexpr size_t LINE_SIZE = 512;	/* longer faults lines are no faults */
constexpr int MAX_VALUES = 64;
constexpr int LOADED_MODULE_ID = 1;

enum class backing { unset, memory, directory };
backing sim_backing = backing::unset;
char sim_root[PATH_SIZE];

struct memory_node {
	const char *name;
	int values[8];
	int count;
};

memory_node memory_nodes[] = {
	{"dev.acpi_ibm.0.fan", {1}, 1},
	{"dev.acpi_ibm.0.fan_level", {0}, 1},
	{"dev.acpi_ibm.0.thermal", {45, 42, -1, -1, -1, -1, -1, -1}, 8},
	{"hw.acpi.thermal.tz0.temperature", {3182}, 1},
};

/* The values the driver's nodes take; the others are read-only. */
struct node_rule {
	const char *name;
	bool writable;
	int lowest;
	int highest;
};

const node_rule node_rules[] = {
	{"dev.acpi_ibm.0.fan", true, 0, 1},		/* manual, firmware */
	{"dev.acpi_ibm.0.fan_level", true, 0, 7},
	{"dev.acpi_ibm.0.thermal", false, 0, 0},
	{"hw.acpi.thermal.tz0.temperature", false, 0, 0},
};

struct resolved_node {
	char name[NAME_SIZE];
	unsigned int length;
};
resolved_node resolved[MAX_NODES];
int resolved_count;

struct errno_name {
	const char *name;
	int value;
};

const errno_name errno_names[] = {
	{"EPERM", EPERM}, {"ENOENT", ENOENT}, {"ESRCH", ESRCH},
	{"EINTR", EINTR}, {"EIO", EIO}, {"ENXIO", ENXIO}, {"E2BIG", E2BIG},
	{"ENOEXEC", ENOEXEC}, {"EBADF", EBADF}, {"ECHILD", ECHILD},
	{"EAGAIN", EAGAIN}, {"ENOMEM", ENOMEM}, {"EACCES", EACCES},
	{"EFAULT", EFAULT}, {"EBUSY", EBUSY}, {"EEXIST", EEXIST},
	{"EXDEV", EXDEV}, {"ENODEV", ENODEV}, {"ENOTDIR", ENOTDIR},
	{"EISDIR", EISDIR}, {"EINVAL", EINVAL}, {"ENFILE", ENFILE},
	{"EMFILE", EMFILE}, {"ENOTTY", ENOTTY}, {"EFBIG", EFBIG},
	{"ENOSPC", ENOSPC}, {"ESPIPE", ESPIPE}, {"EROFS", EROFS},
	{"EMLINK", EMLINK}, {"EPIPE", EPIPE}, {"EDOM", EDOM},
	{"ERANGE", ERANGE}, {"ENAMETOOLONG", ENAMETOOLONG},
	{"ENOSYS", ENOSYS}, {"ENOTSUP", ENOTSUP}, {"ETIMEDOUT", ETIMEDOUT},
};

/* ---- fixed-buffer text helpers (async-signal-safe) ---- */

struct text_buffer {
	char data[PATH_SIZE];
	size_t length;
	bool overflow;
};

/* Empties text; cheaper than zeroing the whole buffer at every call. */
void
start_text(text_buffer *text)
{
	text->data[0] = '\0';
	text->length = 0;
	text->overflow = false;
}

void
append(text_buffer *text, const char *part)
{
	for (; *part != '\0'; part++) {
		if (text->length + 1 >= sizeof(text->data)) {
			text->overflow = true;
			break;
		}
		text->data[text->length++] = *part;
	}
	text->data[text->length] = '\0';
}

void
append_number(text_buffer *text, long long value)
{
	safe_text digits = {};

	safe_append_number(&digits, value);
	append(text, digits.text);
}

void
append_errno(text_buffer *text, int error)
{
	for (const errno_name &known : errno_names) {
		if (known.value == error) {
			append(text, known.name);
			return;
		}
	}
	append_number(text, error);
}

bool
is_space(char c)
{
	return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' ||
	    c == '\f';
}

/*
 * The integer a whole word spells: an optional sign and decimal digits,
 * within int.  False for any other word, "45abc" among them.
 */
bool
word_integer(const char *word, size_t length, int *value)
{
	size_t at = word[0] == '-' || word[0] == '+' ? 1 : 0;
	long long magnitude = 0;

	if (at == length)
		return false;
	for (; at < length; at++) {
		if (word[at] < '0' || word[at] > '9')
			return false;
		magnitude = magnitude * 10 + (word[at] - '0');
		if (magnitude > static_cast<long long>(INT_MAX) + 1)
			return false;
	}
	long long signed_value = word[0] == '-' ? -magnitude : magnitude;
	if (signed_value > INT_MAX || signed_value < INT_MIN)
		return false;
	*value = static_cast<int>(signed_value);
	return true;
}

int
errno_by_name(const char *word, size_t length)
{
	size_t digits = 0;
	int value = 0;

	while (digits < length && word[digits] >= '0' && word[digits] <= '9' &&
	    value < 100000)
		value = value * 10 + (word[digits++] - '0');
	/* A number must be all digits, and 0 would be no failure at all. */
	if (digits > 0)
		return digits == length && value > 0 ? value : EIO;
	for (const errno_name &known : errno_names) {
		if (strlen(known.name) == length &&
		    strncmp(known.name, word, length) == 0)
			return known.value;
	}
	return EIO;	/* an unknown name still fails the call */
}

/* ---- the backing store ---- */

void
choose_backing()
{
	if (sim_backing != backing::unset)
		return;
	const char *root = getenv("COOLRUNG_SIM_ROOT");
	if (root == nullptr || root[0] == '\0') {
		sim_backing = backing::memory;
		return;
	}
	sim_backing = backing::directory;
	/* Absolute now: the daemon changes to / when it detaches. */
	sim_root[0] = '\0';
	if (root[0] != '/' && getcwd(sim_root, sizeof(sim_root) - 1) != nullptr)
		strncat(sim_root, "/", sizeof(sim_root) - strlen(sim_root) - 1);
	strncat(sim_root, root, sizeof(sim_root) - strlen(sim_root) - 1);
}

bool
path_in_root(text_buffer *path, const char *first, const char *second)
{
	path->length = 0;
	path->overflow = false;
	path->data[0] = '\0';
	append(path, sim_root);
	append(path, "/");
	append(path, first);
	if (second != nullptr)
		append(path, second);
	return !path->overflow;
}

bool
root_file_exists(const char *first, const char *second)
{
	text_buffer path;
	struct stat info;

	return path_in_root(&path, first, second) &&
	    stat(path.data, &info) == 0 && S_ISREG(info.st_mode);
}

/*
 * A file of the root read a chunk at a time, so that a file of any length
 * is read whole in fixed memory.
 */
struct file_reader {
	int fd;
	ssize_t filled;
	ssize_t at;
	char chunk[CHUNK_SIZE];
};

/* False when the file is absent. */
bool
open_root_file(file_reader *reader, const char *name)
{
	text_buffer path;

	reader->filled = 0;
	reader->at = 0;
	reader->fd = path_in_root(&path, name, nullptr) ?
	    open(path.data, O_RDONLY) : -1;
	return reader->fd != -1;
}

/* The next byte, or -1 at the end of the file (or a read error). */
int
next_byte(file_reader *reader)
{
	if (reader->at == reader->filled) {
		reader->filled = read(reader->fd, reader->chunk,
		    sizeof(reader->chunk));
		reader->at = 0;
		if (reader->filled <= 0) {
			reader->filled = 0;
			return -1;
		}
	}
	return static_cast<unsigned char>(reader->chunk[reader->at++]);
}

/*
 * Reads the next word, up to room - 1 bytes of it, into word; returns its
 * whole length, which is larger when it did not fit, and 0 at the end.
 */
size_t
next_word(file_reader *reader, char *word, size_t room)
{
	int c;
	size_t length = 0;

	while ((c = next_byte(reader)) != -1 && is_space(static_cast<char>(c)))
		;
	for (; c != -1 && !is_space(static_cast<char>(c));
	    c = next_byte(reader)) {
		if (length + 1 < room)
			word[length] = static_cast<char>(c);
		length++;
	}
	word[length + 1 < room ? length : room - 1] = '\0';
	return length;
}

/*
 * Reads the next line without its line end into line; false at the end.
 * *fits is false for a line longer than room - 1 bytes, of which only the
 * start is kept.
 */
bool
next_text_line(file_reader *reader, char *line, size_t room, bool *fits)
{
	int c = next_byte(reader);
	size_t length = 0;

	if (c == -1)
		return false;
	*fits = true;
	for (; c != -1 && c != '\n'; c = next_byte(reader)) {
		if (length + 1 < room)
			line[length++] = static_cast<char>(c);
		else
			*fits = false;
	}
	line[length] = '\0';
	return true;
}

bool
valid_node_name(const char *name)
{
	return name[0] != '\0' && name[0] != '.' && strchr(name, '/') == nullptr &&
	    strlen(name) < NAME_SIZE;
}

/*
 * The errno a line "OP NAME ERRNO" gives a call, or 0 when not for it.  Of
 * a line that was cut, an ERRNO running to the cut is malformed.
 */
int
fault_of_line(char *line, bool cut, const char *op, const char *name)
{
	const char *word[3];
	size_t length[3];
	int words = 0;

	for (char *at = line; words < 3;) {
		while (*at == ' ' || *at == '\t' || *at == '\r')
			at++;
		if (*at == '\0')
			break;
		word[words] = at;
		while (*at != '\0' && !is_space(*at))
			at++;
		length[words] = static_cast<size_t>(at - word[words]);
		words++;
	}
	if (words < 3 || length[0] != strlen(op) ||
	    strncmp(word[0], op, length[0]) != 0 ||
	    length[1] != strlen(name) || strncmp(word[1], name, length[1]) != 0)
		return 0;
	if (cut && word[2][length[2]] == '\0')
		return EIO;
	return errno_by_name(word[2], length[2]);
}

/* The errno the first line of the faults file for this call gives, or 0. */
int
injected_fault(const char *op, const char *name)
{
	file_reader faults;
	char line[LINE_SIZE];
	bool fits;
	int error = 0;

	if (sim_backing != backing::directory || !open_root_file(&faults, "faults"))
		return 0;
	/*
	 * To the end even after a match: a test may feed the file through a
	 * FIFO, whose writer must be done before the next call opens it.
	 */
	while (next_text_line(&faults, line, sizeof(line), &fits)) {
		if (error == 0)
			error = fault_of_line(line, !fits, op, name);
	}
	close(faults.fd);
	return error;
}

/* DIR/<name> open for appending, or -1 when that file does not exist. */
int
open_for_appending(const char *name)
{
	text_buffer path;

	if (sim_backing != backing::directory ||
	    !path_in_root(&path, name, nullptr))
		return -1;
	return open(path.data, O_WRONLY | O_APPEND);
}

/* Appends "PID OP NAME VALUE RESULT" to the open trace and closes it. */
void
write_trace(int fd, const char *op, const char *name, const char *value,
    int error)
{
	text_buffer line;

	start_text(&line);
	append_number(&line, getpid());
	append(&line, " ");
	append(&line, op);
	append(&line, " ");
	append(&line, name);
	append(&line, " ");
	append(&line, value);
	append(&line, " ");
	if (error == 0)
		append(&line, "ok");
	else
		append_errno(&line, error);
	append(&line, "\n");
	(void)write(fd, line.data, line.length);
	close(fd);
}

/* A line is formatted only when DIR/trace exists: most runs trace nothing. */
void
trace(const char *op, const char *name, const char *value, int error)
{
	int fd = open_for_appending("trace");

	if (fd != -1)
		write_trace(fd, op, name, value, error);
}

void
trace_number(const char *op, const char *name, long long value, int error)
{
	int fd = open_for_appending("trace");
	text_buffer number;

	if (fd == -1)
		return;
	start_text(&number);
	append_number(&number, value);
	write_trace(fd, op, name, number.data, error);
}

int
fail_call(int error)
{
	errno = error;
	return -1;
}

memory_node *
find_memory_node(const char *name)
{
	for (memory_node &node : memory_nodes) {
		if (strcmp(node.name, name) == 0)
			return &node;
	}
	return nullptr;
}

bool
node_exists(const char *name)
{
	if (sim_backing == backing::memory)
		return find_memory_node(name) != nullptr;
	return valid_node_name(name) && root_file_exists(name, nullptr);
}

/*
 * Reads the node's integers, stopping at the first word that is not one;
 * -1 with errno when the node is missing.
 */
int
load_node(const char *name, int *values, int room)
{
	if (sim_backing == backing::memory) {
		memory_node *node = find_memory_node(name);
		if (node == nullptr)
			return fail_call(ENOENT);
		int count = node->count < room ? node->count : room;
		memcpy(values, node->values, sizeof(int) * static_cast<size_t>(count));
		return count;
	}
	file_reader content;
	if (!valid_node_name(name) || !open_root_file(&content, name))
		return fail_call(ENOENT);
	char word[WORD_SIZE];
	int count = 0;
	for (size_t length; count < room &&
	    (length = next_word(&content, word, sizeof(word))) != 0; count++) {
		if (length >= sizeof(word) ||
		    !word_integer(word, length, &values[count]))
			break;
	}
	close(content.fd);
	return count;
}

/* Replaces the node's content with value; written aside, then renamed in. */
int
store_node(const char *name, int value)
{
	if (sim_backing == backing::memory) {
		memory_node *node = find_memory_node(name);
		if (node == nullptr)
			return fail_call(ENOENT);
		node->values[0] = value;
		node->count = 1;
		return 0;
	}
	text_buffer path, aside, content;
	start_text(&content);
	if (!node_exists(name) || !path_in_root(&path, name, nullptr) ||
	    !path_in_root(&aside, ".", name))
		return fail_call(ENOENT);
	append(&aside, ".");
	append_number(&aside, getpid());
	append_number(&content, value);
	append(&content, "\n");
	int fd = open(aside.data, O_WRONLY | O_CREAT | O_TRUNC, 0644);
	if (fd == -1)
		return -1;
	bool written = write(fd, content.data, content.length) ==
	    static_cast<ssize_t>(content.length);
	int error = errno;
	close(fd);
	if (!written || rename(aside.data, path.data) == -1) {
		error = written ? errno : error;
		unlink(aside.data);
		return fail_call(error);
	}
	return 0;
}

int
read_node(const char *name, void *oldp, size_t *oldlenp)
{
	int values[MAX_VALUES];
	int error = injected_fault("read", name);
	int count = error == 0 ? load_node(name, values, MAX_VALUES) : -1;

	if (error == 0 && count == -1)
		error = errno;
	if (error != 0) {
		trace("read", name, "-", error);
		return fail_call(error);
	}
	/* As the kernel does: the size wanted without a buffer, else what fits. */
	int copied = count;
	if (oldp != nullptr) {
		size_t slots = *oldlenp / sizeof(int);
		if (slots < static_cast<size_t>(count))
			copied = static_cast<int>(slots);
		memcpy(oldp, values, sizeof(int) * static_cast<size_t>(copied));
		error = copied < count ? ENOMEM : 0;
	}
	*oldlenp = sizeof(int) * static_cast<size_t>(copied);
	if (count > 0)
		trace_number("read", name, values[0], error);
	else
		trace("read", name, "-", error);
	return error == 0 ? 0 : fail_call(error);
}

/*
 * As the kernel answers a write of value to a known node: EPERM for a
 * read-only one, EINVAL for a value its handler refuses, else 0.
 */
int
refused_write(const char *name, int value)
{
	for (const node_rule &rule : node_rules) {
		if (strcmp(rule.name, name) != 0)
			continue;
		if (!rule.writable)
			return EPERM;
		return value < rule.lowest || value > rule.highest ? EINVAL : 0;
	}
	return 0;
}

int
write_node(const char *name, const void *newp, size_t newlen)
{
	int value;

	if (newlen != sizeof(value)) {
		trace("write", name, "-", EINVAL);
		return fail_call(EINVAL);
	}
	memcpy(&value, newp, sizeof(value));
	int error = injected_fault("write", name);
	if (error == 0 && node_exists(name))
		error = refused_write(name, value);
	if (error == 0 && store_node(name, value) == -1)
		error = errno;
	trace_number("write", name, value, error);
	return error == 0 ? 0 : fail_call(error);
}

/* One sysctl on a node already named: a read, a write, or both. */
int
node_call(const char *name, void *oldp, size_t *oldlenp, const void *newp,
    size_t newlen)
{
	if (oldlenp != nullptr && read_node(name, oldp, oldlenp) == -1)
		return -1;
	if (newp != nullptr)
		return write_node(name, newp, newlen);
	return 0;
}

/* Loads DIR/kld/<module>.ko by creating DIR/kld/<module>; an errno or 0. */
int
load_module(const char *module)
{
	text_buffer file, path;

	start_text(&file);
	if (sim_backing == backing::memory || root_file_exists("kld/", module))
		return EEXIST;
	append(&file, module);
	append(&file, ".ko");
	if (!valid_node_name(module) || file.overflow ||
	    !root_file_exists("kld/", file.data) ||
	    !path_in_root(&path, "kld/", module))
		return ENOENT;
	int fd = open(path.data, O_WRONLY | O_CREAT, 0644);
	if (fd == -1)
		return errno;
	close(fd);
	return 0;
}

unsigned int
name_components(const char *name)
{
	unsigned int count = 1;

	for (; *name != '\0'; name++)
		count += *name == '.' ? 1 : 0;
	return count;
}

const resolved_node *
resolved_by_mib(const int *mib, unsigned int namelen)
{
	if (namelen < 2 || mib[0] != SIM_MIB_TAG || mib[1] < 0 ||
	    mib[1] >= resolved_count || resolved[mib[1]].length != namelen)
		return nullptr;
	return &resolved[mib[1]];
}

}  // namespace

void
sim_kernel_reset()
{
	sim_backing = backing::unset;
	resolved_count = 0;
}

int
platform_kldfind(const char *module)
{
	choose_backing();
	int error = injected_fault("kldfind", module);
	if (error == 0) {
		bool loaded = sim_backing == backing::memory ||
		    root_file_exists("kld/", module);
		error = loaded ? 0 : ENOENT;
	}
	trace("kldfind", module, "-", error);
	return error == 0 ? LOADED_MODULE_ID : fail_call(error);
}

int
platform_kldload(const char *module)
{
	choose_backing();
	int error = injected_fault("kldload", module);
	if (error == 0)
		error = load_module(module);
	trace("kldload", module, "-", error);
	return error == 0 ? LOADED_MODULE_ID : fail_call(error);
}

int
platform_sysctlbyname(const char *name, void *oldp, size_t *oldlenp,
    const void *newp, size_t newlen)
{
	choose_backing();
	return node_call(name, oldp, oldlenp, newp, newlen);
}

int
platform_sysctlnametomib(const char *name, int *mibp, size_t *sizep)
{
	choose_backing();
	int error = injected_fault("lookup", name);
	unsigned int length = name_components(name);
	int index = -1;

	if (error == 0 && !node_exists(name))
		error = ENOENT;
	if (error == 0 && *sizep < length)
		error = ENOMEM;
	for (int i = 0; error == 0 && i < resolved_count && index == -1; i++)
		index = strcmp(resolved[i].name, name) == 0 ? i : -1;
	if (error == 0 && index == -1) {
		if (resolved_count == MAX_NODES)
			error = ENOMEM;
		else {
			index = resolved_count++;
			strncpy(resolved[index].name, name, NAME_SIZE - 1);
			resolved[index].length = length;
		}
	}
	trace("lookup", name, "-", error);
	if (error != 0)
		return fail_call(error);
	for (unsigned int i = 0; i < length; i++)
		mibp[i] = 0;
	mibp[0] = SIM_MIB_TAG;
	mibp[1] = index;
	*sizep = length;
	return 0;
}

int
platform_sysctl(const int *mib, unsigned int namelen, void *oldp,
    size_t *oldlenp, const void *newp, size_t newlen)
{
	choose_backing();
	const resolved_node *node = resolved_by_mib(mib, namelen);
	if (node == nullptr) {
		trace(newp != nullptr ? "write" : "read", "-", "-", ENOENT);
		return fail_call(ENOENT);
	}
	return node_call(node->name, oldp, oldlenp, newp, newlen);
}

/* Traced by the detached daemon, with its pid; a fault fails the fork. */
pid_t
platform_daemon()
{
	choose_backing();
	int error = injected_fault("daemon", "-");
	if (error != 0) {
		trace("daemon", "-", "-", error);
		return fail_call(error);
	}
	pid_t child = fork_into_background();
	if (child > 0)
		return child;
	error = child == 0 ? 0 : errno;
	trace("daemon", "-", "-", error);
	return error == 0 ? 0 : fail_call(error);
}

int
platform_sleep(unsigned int seconds, const sigset_t *wait_mask)
{
	struct timespec interval = {static_cast<time_t>(seconds), 0};

	choose_backing();
	trace_number("sleep", "-", seconds, 0);
	return pselect(0, nullptr, nullptr, nullptr, &interval, wait_mask);
}

void
platform_openlog(const char * /* ident */)
{
	choose_backing();
}

/* Appends "PID PRIORITY TEXT" to DIR/syslog when that file exists. */
void
platform_syslog(int priority, const char *message)
{
	text_buffer line;
	const char *name = priority == LOG_ERR ? "err" :
	    priority == LOG_WARNING ? "warning" :
	    priority == LOG_NOTICE ? "notice" : "info";

	choose_backing();
	int fd = open_for_appending("syslog");
	if (fd == -1)
		return;
	start_text(&line);
	append_number(&line, getpid());
	append(&line, " ");
	append(&line, name);
	append(&line, " ");
	append(&line, message);
	append(&line, "\n");
	(void)write(fd, line.data, line.length);
	close(fd);
}
