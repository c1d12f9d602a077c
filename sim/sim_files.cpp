#include "sim_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace sim {

namespace {

char sim_root[PATH_SIZE];

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

}  // namespace

void
set_root(const char *root)
{
	sim_root[0] = '\0';
	if (root[0] != '/' && getcwd(sim_root, sizeof(sim_root) - 1) != nullptr)
		strncat(sim_root, "/", sizeof(sim_root) - strlen(sim_root) - 1);
	strncat(sim_root, root, sizeof(sim_root) - strlen(sim_root) - 1);
}

bool
path_in_root(sim_text *path, const char *first, const char *second)
{
	/* Emptied, not zeroed: cheaper at every call. */
	path->text[0] = '\0';
	path->length = 0;
	path->cut = false;
	safe_append(path, sim_root);
	safe_append(path, "/");
	safe_append(path, first);
	if (second != nullptr)
		safe_append(path, second);
	return !path->cut;
}

bool
root_file_exists(const char *first, const char *second)
{
	sim_text path;
	struct stat info;

	return path_in_root(&path, first, second) &&
	    stat(path.text, &info) == 0 && S_ISREG(info.st_mode);
}

int
open_for_appending(const char *name)
{
	sim_text path;

	if (!path_in_root(&path, name, nullptr))
		return -1;
	return open(path.text, O_WRONLY | O_APPEND);
}

bool
is_space(char c)
{
	return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' ||
	    c == '\f';
}

bool
open_root_file(file_reader *reader, const char *name)
{
	sim_text path;

	reader->filled = 0;
	reader->at = 0;
	reader->fd = path_in_root(&path, name, nullptr) ?
	    open(path.text, O_RDONLY) : -1;
	return reader->fd != -1;
}

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

}  // namespace sim
