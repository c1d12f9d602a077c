#include "sim_lines.h"

#include <syslog.h>
#include <unistd.h>

#include "safe_text.h"
#include "sim_faults.h"
#include "sim_files.h"
#include "sim_nodes.h"

namespace sim {

namespace {

constexpr size_t NUMBER_SIZE = 24;	/* any long long, signed */

using number_text = safe_text_of<NUMBER_SIZE>;

/*
 * Appends "PID" and then each field after a space, and a line end, to the
 * open file fd, and closes it.
 */
void
write_line(int fd, const char *const fields[], int count)
{
	sim_text line = {};

	safe_append_number(&line, getpid());
	for (int i = 0; i < count; i++) {
		safe_append(&line, " ");
		safe_append(&line, fields[i]);
	}
	safe_append(&line, "\n");
	(void)write(fd, line.text, line.length);
	close(fd);
}

void
write_trace(int fd, const char *op, const char *name, const char *value,
    int error)
{
	number_text result = {};
	const char *symbol = errno_symbol(error);

	if (error == 0)
		safe_append(&result, "ok");
	else if (symbol != nullptr)
		safe_append(&result, symbol);
	else
		safe_append_number(&result, error);
	const char *fields[] = {op, name, value, result.text};
	write_line(fd, fields, 4);
}

}  // namespace

/* A line is put together only when DIR/trace exists: most runs trace nothing. */
void
trace(const char *op, const char *name, const char *value, int error)
{
	int fd = machine()->open_for_appending("trace");

	if (fd != -1)
		write_trace(fd, op, name, value, error);
}

void
trace_number(const char *op, const char *name, long long value, int error)
{
	int fd = machine()->open_for_appending("trace");
	number_text number = {};

	if (fd == -1)
		return;
	safe_append_number(&number, value);
	write_trace(fd, op, name, number.text, error);
}

void
log_line(int priority, const char *message)
{
	const char *name = priority == LOG_ERR ? "err" :
	    priority == LOG_WARNING ? "warning" :
	    priority == LOG_NOTICE ? "notice" : "info";
	int fd = machine()->open_for_appending("syslog");

	if (fd == -1)
		return;
	const char *fields[] = {name, message};
	write_line(fd, fields, 2);
}

}  // namespace sim
