/*
 * The directory machine's files, DIR/<name> under COOLRUNG_SIM_ROOT: their
 * paths, a reader that takes them a chunk at a time, and appending to them.
 * A signal handler gets here, so all of it is open, read, write and close
 * into fixed buffers.
 */
#ifndef COOLRUNG_SIM_FILES_H
#define COOLRUNG_SIM_FILES_H

#include <sys/types.h>

#include <cstddef>

#include "safe_text.h"

namespace sim {

constexpr size_t PATH_SIZE = 4096;
constexpr size_t CHUNK_SIZE = 512;	/* files are read this much at a time */

/* A path, or a trace or log line, which may hold one. */
using sim_text = safe_text_of<PATH_SIZE>;

/* Takes DIR, made absolute: the daemon changes to / when it detaches. */
void set_root(const char *root);

/* DIR/<first><second> (second may be null); false when it does not fit. */
bool path_in_root(sim_text *path, const char *first, const char *second);
/* Whether DIR/<first><second> is a regular file. */
bool root_file_exists(const char *first, const char *second);
/* DIR/<name> open for appending, or -1 when that file does not exist. */
int open_for_appending(const char *name);

bool is_space(char c);

/*
 * A file of the root read a chunk at a time, so that a file of any length
 * is read whole in fixed memory.  The caller closes fd when done.
 */
struct file_reader {
	int fd;
	ssize_t filled;
	ssize_t at;
	char chunk[CHUNK_SIZE];
};

/* False when the file is absent. */
bool open_root_file(file_reader *reader, const char *name);
/*
 * Reads the next word, up to room - 1 bytes of it, into word; returns its
 * whole length, which is larger when it did not fit, and 0 at the end.
 */
size_t next_word(file_reader *reader, char *word, size_t room);
/*
 * Reads the next line without its line end into line; false at the end.
 * *fits is false for a line longer than room - 1 bytes, of which only the
 * start is kept.
 */
bool next_text_line(file_reader *reader, char *line, size_t room, bool *fits);

}  // namespace sim

#endif
