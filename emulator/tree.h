/*
 * The files the emulator serves, as the driver's state lays them out: the
 * procfs directory acpi/ibm, sysfs's class/hwmon, class/thermal and
 * module/thinkpad_acpi, the devices the hwmon links point to, and the
 * control file at the root.  The tree is built afresh from the state at
 * every lookup, so a load or unload shows at once.
 */
#ifndef THINKPAD_EMULATOR_TREE_H
#define THINKPAD_EMULATOR_TREE_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "driver.h"

enum class node_type { directory, symlink, file };

enum class file_id {
	none,
	control,
	fan,
	thermal,
	fan_control,
	hwmon_name,
	hwmon_temp,	/* temp1_input to temp8_input of the driver's hwmon */
	other_name,	/* the name and temp1_input of another hwmon device */
	other_temp,
	zone_temp,
	zone_type,
};

struct tree_node {
	std::string path;	/* from the root of the mount, "/" first */
	node_type type = node_type::directory;
	file_id file = file_id::none;
	int sensor = 0;		/* hwmon_temp: 0 to 7; other_*: the device */
	std::string target;	/* a symlink's */
};

/* What kind of file a file_id is, as the kernel would present it. */
struct file_kind {
	file_id file;
	const char *name;	/* in faults and in the log */
	mode_t mode;
	bool sysfs;		/* else procfs, or the emulator's own */
	bool driver_owned;	/* goes away, and goes stale, with an unload */
	bool writable;
};

const file_kind &kind_of(file_id file);
/* The file a fault names: "fan", "temp1_input", ...; file_id::none if none. */
file_id file_named(const std::string &name, int *sensor);

/* Whether another hwmon device has the number. */
bool hwmon_number_taken(int number);

std::vector<tree_node> current_tree(const emulated_driver &driver);
/* The node at path, or nullptr. */
const tree_node *find_node(const std::vector<tree_node> &tree,
    const std::string &path);
/* The names in a directory, with their nodes. */
std::vector<const tree_node *> directory_entries(
    const std::vector<tree_node> &tree, const std::string &path);

/* A file's text now: 0, or the errno its read fails with. */
int file_text(const emulated_driver &driver, file_id file, int sensor,
    int64_t now, std::string *text);

#endif
