#include "tree.h"

#include <sys/stat.h>

#include <cerrno>
#include <iterator>

namespace {

/* The machine's other hwmon devices: their numbers never change. */
struct other_hwmon {
	const char *device, *name, *temp1;	/* temp1 nullptr: none */
	int number;
};
const other_hwmon OTHER_HWMONS[] = {
	{"coretemp.0", "coretemp\n", "61000\n", 0},
	{"PNP0C0B:00", "acpi_fan\n", nullptr, 5},
};

/*
 * procfs shows the driver's files with the modes it creates them with;
 * sysfs attributes are 0444 unless they can be written.
 */
const file_kind KINDS[] = {
	{file_id::none, "-", 0, false, false, false},
	{file_id::control, "ctl", S_IFREG | 0600, false, false, true},
	{file_id::fan, "fan", S_IFREG | 0644, false, true, true},
	{file_id::thermal, "thermal", S_IFREG | 0444, false, true, false},
	{file_id::fan_control, "fan_control", S_IFREG | 0444, true, true, false},
	{file_id::hwmon_name, "name", S_IFREG | 0444, true, true, false},
	{file_id::hwmon_temp, "temp_input", S_IFREG | 0444, true, true, false},
	{file_id::other_name, "other_name", S_IFREG | 0444, true, false, false},
	{file_id::other_temp, "other_temp", S_IFREG | 0444, true, false, false},
	{file_id::zone_temp, "tz0", S_IFREG | 0444, true, false, false},
	{file_id::zone_type, "tz0_type", S_IFREG | 0444, true, false, false},
};

void
add_directory(std::vector<tree_node> &tree, const std::string &path)
{
	tree.push_back({path, node_type::directory, file_id::none, 0, ""});
}

void
add_file(std::vector<tree_node> &tree, const std::string &path, file_id file,
    int sensor = 0)
{
	tree.push_back({path, node_type::file, file, sensor, ""});
}

/*
 * /sys/class/hwmon/hwmonN is a link to the device's own directory, whose
 * path is returned.
 */
std::string
add_hwmon(std::vector<tree_node> &tree, const std::string &device, int number)
{
	std::string hwmon = "hwmon" + std::to_string(number);
	std::string directory = "/devices/platform/" + device + "/hwmon/" + hwmon;
	tree.push_back({"/class/hwmon/" + hwmon, node_type::symlink,
	    file_id::none, 0, "../.." + directory});
	add_directory(tree, "/devices/platform/" + device);
	add_directory(tree, "/devices/platform/" + device + "/hwmon");
	add_directory(tree, directory);
	return directory;
}

void
add_driver(std::vector<tree_node> &tree, const emulated_driver &driver)
{
	add_directory(tree, "/acpi/ibm");
	add_file(tree, "/acpi/ibm/fan", file_id::fan);
	if (driver.has_sensors)
		add_file(tree, "/acpi/ibm/thermal", file_id::thermal);
	add_directory(tree, "/module/thinkpad_acpi");
	add_directory(tree, "/module/thinkpad_acpi/parameters");
	add_file(tree, "/module/thinkpad_acpi/parameters/fan_control",
	    file_id::fan_control);
	std::string hwmon = add_hwmon(tree, "thinkpad_hwmon",
	    driver.hwmon_number);
	add_file(tree, hwmon + "/name", file_id::hwmon_name);
	for (int i = 0; driver.has_sensors && i < SENSOR_COUNT; i++)
		add_file(tree, hwmon + "/temp" + std::to_string(i + 1) + "_input",
		    file_id::hwmon_temp, i);
}

std::string
parent_of(const std::string &path)
{
	size_t slash = path.rfind('/');
	return slash == 0 ? "/" : path.substr(0, slash);
}

std::string
milli(int celsius)
{
	return std::to_string(celsius * 1000) + "\n";
}

}

const file_kind &
kind_of(file_id file)
{
	for (const file_kind &kind : KINDS) {
		if (kind.file == file)
			return kind;
	}
	return KINDS[0];
}

bool
hwmon_number_taken(int number)
{
	for (const other_hwmon &other : OTHER_HWMONS) {
		if (other.number == number)
			return true;
	}
	return false;
}

file_id
file_named(const std::string &name, int *sensor)
{
	for (int i = 0; i < SENSOR_COUNT; i++) {
		if (name == "temp" + std::to_string(i + 1) + "_input") {
			*sensor = i;
			return file_id::hwmon_temp;
		}
	}
	for (const file_kind &kind : KINDS) {
		if (kind.file != file_id::none && kind.file != file_id::hwmon_temp &&
		    name == kind.name)
			return kind.file;
	}
	return file_id::none;
}

std::vector<tree_node>
current_tree(const emulated_driver &driver)
{
	std::vector<tree_node> tree;
	add_directory(tree, "/");
	add_file(tree, "/ctl", file_id::control);
	add_directory(tree, "/acpi");
	add_directory(tree, "/module");
	add_directory(tree, "/class");
	add_directory(tree, "/class/hwmon");
	add_directory(tree, "/class/thermal");
	add_directory(tree, "/devices");
	add_directory(tree, "/devices/platform");
	for (int i = 0; i < static_cast<int>(std::size(OTHER_HWMONS)); i++) {
		const other_hwmon &other = OTHER_HWMONS[i];
		std::string hwmon = add_hwmon(tree, other.device, other.number);
		add_file(tree, hwmon + "/name", file_id::other_name, i);
		if (other.temp1 != nullptr)
			add_file(tree, hwmon + "/temp1_input", file_id::other_temp, i);
	}
	if (driver.has_tz0) {
		add_directory(tree, "/class/thermal/thermal_zone0");
		add_file(tree, "/class/thermal/thermal_zone0/temp",
		    file_id::zone_temp);
		add_file(tree, "/class/thermal/thermal_zone0/type",
		    file_id::zone_type);
	}
	if (driver.loaded)
		add_driver(tree, driver);
	return tree;
}

const tree_node *
find_node(const std::vector<tree_node> &tree, const std::string &path)
{
	for (const tree_node &node : tree) {
		if (node.path == path)
			return &node;
	}
	return nullptr;
}

std::vector<const tree_node *>
directory_entries(const std::vector<tree_node> &tree, const std::string &path)
{
	std::vector<const tree_node *> entries;
	for (const tree_node &node : tree) {
		if (node.path != "/" && parent_of(node.path) == path)
			entries.push_back(&node);
	}
	return entries;
}

int
file_text(const emulated_driver &driver, file_id file, int sensor,
    int64_t now, std::string *text)
{
	int celsius = 0;
	int error = 0;

	switch (file) {
	case file_id::fan:
		*text = fan_text(driver);
		return 0;
	case file_id::thermal:
		return thermal_text(driver, now, text);
	case file_id::fan_control:
		*text = driver.fan_control ? "Y\n" : "N\n";
		return 0;
	case file_id::hwmon_name:
		*text = "thinkpad\n";
		return 0;
	case file_id::hwmon_temp:
		error = sensor_reading(driver, sensor, now, &celsius);
		if (error == 0)
			*text = milli(celsius);
		return error;
	case file_id::other_name:
		*text = OTHER_HWMONS[sensor].name;
		return 0;
	case file_id::other_temp:
		*text = OTHER_HWMONS[sensor].temp1;
		return 0;
	case file_id::zone_temp:
		*text = std::to_string(driver.tz0_millidegrees) + "\n";
		return 0;
	case file_id::zone_type:
		*text = "acpitz\n";
		return 0;
	default:
		return EIO;
	}
}
