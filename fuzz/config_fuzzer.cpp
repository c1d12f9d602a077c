/*
 * libFuzzer target for the configuration reader: every input is written to
 * one scratch file and read back through load_config, as the daemon reads
 * the administrator's file.  A refused file is a fatal_error, which is the
 * expected outcome for most inputs; anything else the sanitizers catch is a
 * fault of the reader.
 */
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "config.h"
#include "fatal.h"

/* One scratch file per process, removed at exit. */
static char scratch_path[64];

static void
remove_scratch()
{
	if (scratch_path[0] != '\0')
		unlink(scratch_path);
}

static const char *
scratch_file()
{
	if (scratch_path[0] == '\0') {
		const char *dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
		snprintf(scratch_path, sizeof(scratch_path),
		    "%s/coolrung-fuzz-%ld.conf", dir, static_cast<long>(getpid()));
		atexit(remove_scratch);
	}
	return scratch_path;
}

static bool
write_input(const char *path, const uint8_t *data, size_t size)
{
	int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
	if (fd == -1)
		return false;
	while (size > 0) {
		ssize_t n = write(fd, data, size);
		if (n <= 0) {
			close(fd);
			return false;
		}
		data += n;
		size -= static_cast<size_t>(n);
	}
	return close(fd) == 0;
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const char *path = scratch_file();

	if (!write_input(path, data, size)) {
		perror(path);
		abort();
	}
	try {
		(void)load_config(path);
	} catch (const fatal_error &) {
		/* A refused file: the reader did its job. */
	}
	return 0;
}
