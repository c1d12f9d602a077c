#include "config.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fatal.h"
#include "owned_file.h"

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
	/* The room comes before the line is parsed: one row per level line. */
	table->entries.reserve(table->entries.size() + 1);
	table->entries.push_back(parse_level_line(line));
	table->count++;
}

static void
check_table(const level_table *table)
{
	const level_entry *row = table->entries.data();
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

/*
 * The next piece of a line into line: up to MAX_LINE - 1 characters, its
 * line end kept if it fits.  False at the end of the file.  A line is a C
 * string for every test that follows, so a NUL byte would hide the rest of
 * it: that is a fault of the file, and the reading stops there.
 */
static bool
read_piece(FILE *file, char *line, int *line_number, bool *line_start)
{
	int length = 0;
	int c = getc(file);

	if (c == EOF)
		return false;
	if (*line_start)
		++*line_number;
	for (; c != EOF; c = getc(file)) {
		if (c == '\0')
			fail(EX_CONFIG, "NUL byte in config file line %d",
			    *line_number);
		line[length++] = static_cast<char>(c);
		if (c == '\n' || length == MAX_LINE - 1)
			break;
	}
	line[length] = '\0';
	*line_start = c == '\n';
	return true;
}

/* Reads every line of the stream; a read error is a fault of the file. */
static void
read_lines(FILE *file, level_table *table)
{
	char line[MAX_LINE];
	int line_number = 0;
	bool line_start = true;

	while (read_piece(file, line, &line_number, &line_start)) {
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

	level_table table = {{}, 0};
	read_lines(file.get(), &table);
	file.reset();
	check_table(&table);
	return table;
}
