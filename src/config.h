/*
 * The level table: which fan level to run at in which range of temperatures,
 * read from the administrator's configuration file.
 */
#ifndef COOLRUNG_CONFIG_H
#define COOLRUNG_CONFIG_H

#include <cstdint>
#include <vector>

constexpr const char *DEFAULT_CONFIG_PATH = "/usr/local/etc/coolrung.conf";
/* Line buffer, terminating zero included: a longer line is read in pieces. */
constexpr int MAX_LINE = 255;
constexpr int32_t LEVEL_LIMIT = 8;		/* fan levels are 0 to 7 */
constexpr int32_t SAFE_TOP_MAX = 150;	/* the last row must reach this far */

struct level_entry {
	int32_t level_number;
	int32_t min;	/* whole degrees Celsius, inclusive */
	int32_t max;
};

struct level_table {
	std::vector<level_entry> entries;	/* in the order of the file */
	int32_t count;
};

/*
 * Reads and validates the file at path.  Returns only a table that is safe
 * to run the fan by; the daemon keeps it until it exits.  Every fault of the
 * file is raised as a fatal_error (see report.h), memory running out as
 * std::bad_alloc, and nothing of a refused file is kept.
 */
level_table load_config(const char *path);

int32_t read_field(const char *text, char terminator, const char *conv_format,
    const char **cursor);
const char *skip_blanks(const char *text);
bool is_blank_line(const char *text);

#endif
