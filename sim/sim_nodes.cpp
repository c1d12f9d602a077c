#include "sim_nodes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>	/* rename, which is async-signal-safe */
#include <cstdlib>
#include <cstring>

#include "sim_faults.h"
#include "sim_files.h"

namespace sim {

namespace {

constexpr size_t WORD_SIZE = 32;	/* longer words are no integers */

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

/* ---- the machine in memory ---- */

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
memory_node_exists(const char *name)
{
	return find_memory_node(name) != nullptr;
}

int
memory_load_node(const char *name, int *values, int room)
{
	memory_node *node = find_memory_node(name);

	if (node == nullptr)
		return fail_call(ENOENT);
	int count = node->count < room ? node->count : room;
	memcpy(values, node->values, sizeof(int) * static_cast<size_t>(count));
	return count;
}

int
memory_store_node(const char *name, int value)
{
	memory_node *node = find_memory_node(name);

	if (node == nullptr)
		return fail_call(ENOENT);
	node->values[0] = value;
	node->count = 1;
	return 0;
}

/* acpi_ibm is there from the start, as if compiled into the kernel. */
bool
memory_module_loaded(const char * /* module */)
{
	return true;
}

int
memory_load_module(const char * /* module */)
{
	return EEXIST;
}

int
no_fault(const char * /* op */, const char * /* name */)
{
	return 0;
}

int
no_file(const char * /* name */)
{
	return -1;
}

const machine_calls memory_machine = {
	memory_node_exists, memory_load_node, memory_store_node,
	memory_module_loaded, memory_load_module, no_fault, no_file,
};

/* ---- the machine in a directory ---- */

bool
valid_node_name(const char *name)
{
	return name[0] != '\0' && name[0] != '.' && strchr(name, '/') == nullptr &&
	    strlen(name) < NAME_SIZE;
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

bool
file_node_exists(const char *name)
{
	return valid_node_name(name) && root_file_exists(name, nullptr);
}

int
file_load_node(const char *name, int *values, int room)
{
	file_reader content;
	char word[WORD_SIZE];
	int count = 0;

	if (!valid_node_name(name) || !open_root_file(&content, name))
		return fail_call(ENOENT);
	for (size_t length; count < room &&
	    (length = next_word(&content, word, sizeof(word))) != 0; count++) {
		if (length >= sizeof(word) ||
		    !word_integer(word, length, &values[count]))
			break;
	}
	close(content.fd);
	return count;
}

/* Written aside, then renamed in, so no reader sees half a node. */
int
file_store_node(const char *name, int value)
{
	sim_text path, aside, content = {};

	if (!file_node_exists(name) || !path_in_root(&path, name, nullptr) ||
	    !path_in_root(&aside, ".", name))
		return fail_call(ENOENT);
	safe_append(&aside, ".");
	safe_append_number(&aside, getpid());
	safe_append_number(&content, value);
	safe_append(&content, "\n");
	int fd = open(aside.text, O_WRONLY | O_CREAT | O_TRUNC, 0644);
	if (fd == -1)
		return -1;
	bool written = write(fd, content.text, content.length) ==
	    static_cast<ssize_t>(content.length);
	int error = errno;
	close(fd);
	if (!written || rename(aside.text, path.text) == -1) {
		error = written ? errno : error;
		unlink(aside.text);
		return fail_call(error);
	}
	return 0;
}

bool
file_module_loaded(const char *module)
{
	return root_file_exists("kld/", module);
}

/* Loads DIR/kld/<module>.ko by creating DIR/kld/<module>. */
int
file_load_module(const char *module)
{
	sim_text file = {}, path;

	if (file_module_loaded(module))
		return EEXIST;
	safe_append(&file, module);
	safe_append(&file, ".ko");
	if (!valid_node_name(module) || file.cut ||
	    !root_file_exists("kld/", file.text) ||
	    !path_in_root(&path, "kld/", module))
		return ENOENT;
	int fd = open(path.text, O_WRONLY | O_CREAT, 0644);
	if (fd == -1)
		return errno;
	close(fd);
	return 0;
}

const machine_calls directory_machine = {
	file_node_exists, file_load_node, file_store_node,
	file_module_loaded, file_load_module, fault_in_file, open_for_appending,
};

const machine_calls *chosen_machine;

}  // namespace

void
choose_backing()
{
	if (chosen_machine != nullptr)
		return;
	const char *root = getenv("COOLRUNG_SIM_ROOT");
	if (root == nullptr || root[0] == '\0') {
		chosen_machine = &memory_machine;
		return;
	}
	chosen_machine = &directory_machine;
	set_root(root);
}

void
forget_backing()
{
	chosen_machine = nullptr;
}

const machine_calls *
machine()
{
	return chosen_machine;
}

int
injected_fault(const char *op, const char *name)
{
	return chosen_machine->fault(op, name);
}

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
fail_call(int error)
{
	errno = error;
	return -1;
}

}  // namespace sim
