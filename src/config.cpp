#include "config.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fatal.h"

static const char *const CONVERSION_FORMAT = "Could not parse level value: %s";

const char *
skip_blanks(const char *text)
{
	while (*text == ' ' || *text == '\t')
		text++;
	return text;
}

bool
is_blank_line(const char *text)
{
	return text[strspn(text, " \t\n")] == '\0';
}

int32_t
read_field(const char *text, char terminator, const char *conv_format,
    const char **cursor)
{
	char *end;

	errno = 0;
	long long value = strtoll(text, &end, 10);
	/* No digit taken is always an invalid field, never a zero. */
	if (end == text)
		fail_with(EX_CONFIG, EINVAL, conv_format, text);
	if (errno == ERANGE)
		fail_with(EX_CONFIG, ERANGE, conv_format, text);
	if (*end != terminator)
		fail(EX_CONFIG, "Character not found: %c", terminator);
	if (value < 0)
		fail(EX_CONFIG, "Don't be negative (%lld)", value);
	if (value > INT32_MAX)
		fail(EX_CONFIG, "Value %lld is entirely too large", value);
	*cursor = end + 1;
	return static_cast<int32_t>(value);
}

static bool
is_comment_or_blank(const char *line)
{
	return line[0] == '#' || is_blank_line(line) ||
	    *skip_blanks(line) == '#';
}

/* The array grows before the line is parsed: one row per level line. */
static void
grow_entries(level_table *table)
{
	size_t rows = static_cast<size_t>(table->count) + 1;
	void *grown = realloc(table->entries.get(), rows * sizeof(level_entry));
	if (grown == nullptr)
		fail_with(EX_SOFTWARE, errno, "Memory allocation error");
	/* realloc has freed the old rows or kept them in place. */
	(void)table->entries.release();
	table->entries.reset(static_cast<level_entry *>(grown));
}

static level_entry
parse_level_line(const char *line)
{
	const char *cursor;
	level_entry row;

	cursor = strchr(line, '(');
	if (cursor == nullptr)
		fail(EX_CONFIG, "Could not find '('");
	cursor++;
	row.level_number = read_field(cursor, ',', CONVERSION_FORMAT, &cursor);
	if (row.level_number >= LEVEL_LIMIT)
		fail(EX_CONFIG, "Level out of range: %d", row.level_number);
	row.min = read_field(cursor, ',', CONVERSION_FORMAT, &cursor);
	row.max = read_field(cursor, ')', CONVERSION_FORMAT, &cursor);
	if (row.min >= row.max)
		fail(EX_CONFIG, "This parsed range is not admissible: %s", line);
	return row;
}

static void
read_level_line(level_table *table, const char *line)
{
	line = skip_blanks(line);
	if (strncmp(line, "level", 5) != 0)
		fail(EX_CONFIG, "Error parsing conifg, the following "
		    "argument was not understood: %.5s", line);
	grow_entries(table);
	table->entries[table->count] = parse_level_line(line);
	table->count++;
}

static void
check_table(const level_table *table)
{
	const level_entry *row = table->entries.get();
	int32_t last = table->count - 1;

	/* The checks below look at the first and the last row. */
	if (table->count == 0)
		fail(EX_CONFIG, "No level lines found in config file");
	if (row[0].min > 0 || row[last].max < SAFE_TOP_MAX)
		fail(EX_CONFIG, "First level min temperature >0 or last level "
		    "max temperature <150, dangerous");
	for (int32_t i = 0; i < last; i++) {
		if (row[i + 1].level_number <= row[i].level_number)
			fail(EX_CONFIG, "The levels defined in the config are "
			    "not in an ascending order by level_number ");
		if (row[i].max < row[i + 1].min)
			fail(EX_CONFIG, "There's a gap between the temperatures "
			    "defined (level n.max<n+1.min)");
	}
}

/* Closes the file however the reading ends. */
struct close_file {
	void operator()(FILE *file) const { fclose(file); }
};
using owned_file = std::unique_ptr<FILE, close_file>;

/* Reads every line of the stream; a read error is a fault of the file. */
static void
read_lines(FILE *file, level_table *table)
{
	char line[MAX_LINE];

	while (fgets(line, sizeof(line), file) != nullptr) {
		if (!is_comment_or_blank(line))
			read_level_line(table, line);
	}
	if (ferror(file))
		fail_with(EX_CONFIG, errno, "Could not read config file");
}

level_table
load_config(const char *path)
{
	owned_file file(fopen(path, "r"));
	if (file == nullptr)
		fail_with(EX_CONFIG, errno, "Could not find config file");

	level_table table = {nullptr, 0};
	read_lines(file.get(), &table);
	file.reset();
	check_table(&table);
	return table;
}
