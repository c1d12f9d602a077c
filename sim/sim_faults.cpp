#include "sim_faults.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim_files.h"

namespace sim {

namespace {

constexpr size_t LINE_SIZE = 512;	/* longer faults lines are no faults */

struct errno_name {
	const char *name;
	int value;
};

const errno_name errno_names[] = {
	{"EPERM", EPERM}, {"ENOENT", ENOENT}, {"ESRCH", ESRCH},
	{"EINTR", EINTR}, {"EIO", EIO}, {"ENXIO", ENXIO}, {"E2BIG", E2BIG},
	{"ENOEXEC", ENOEXEC}, {"EBADF", EBADF}, {"ECHILD", ECHILD},
	{"EAGAIN", EAGAIN}, {"ENOMEM", ENOMEM}, {"EACCES", EACCES},
	{"EFAULT", EFAULT}, {"EBUSY", EBUSY}, {"EEXIST", EEXIST},
	{"EXDEV", EXDEV}, {"ENODEV", ENODEV}, {"ENOTDIR", ENOTDIR},
	{"EISDIR", EISDIR}, {"EINVAL", EINVAL}, {"ENFILE", ENFILE},
	{"EMFILE", EMFILE}, {"ENOTTY", ENOTTY}, {"EFBIG", EFBIG},
	{"ENOSPC", ENOSPC}, {"ESPIPE", ESPIPE}, {"EROFS", EROFS},
	{"EMLINK", EMLINK}, {"EPIPE", EPIPE}, {"EDOM", EDOM},
	{"ERANGE", ERANGE}, {"ENAMETOOLONG", ENAMETOOLONG},
	{"ENOSYS", ENOSYS}, {"ENOTSUP", ENOTSUP}, {"ETIMEDOUT", ETIMEDOUT},
};

int
errno_by_name(const char *word, size_t length)
{
	size_t digits = 0;
	int value = 0;

	while (digits < length && word[digits] >= '0' && word[digits] <= '9' &&
	    value < 100000)
		value = value * 10 + (word[digits++] - '0');
	/* A number must be all digits, and 0 would be no failure at all. */
	if (digits > 0)
		return digits == length && value > 0 ? value : EIO;
	for (const errno_name &known : errno_names) {
		if (strlen(known.name) == length &&
		    strncmp(known.name, word, length) == 0)
			return known.value;
	}
	return EIO;	/* an unknown name still fails the call */
}

/*
 * The errno a line "OP NAME ERRNO" gives a call, or 0 when not for it.  Of
 * a line that was cut, an ERRNO running to the cut is malformed.
 */
int
fault_of_line(char *line, bool cut, const char *op, const char *name)
{
	const char *word[3];
	size_t length[3];
	int words = 0;

	for (char *at = line; words < 3;) {
		while (*at == ' ' || *at == '\t' || *at == '\r')
			at++;
		if (*at == '\0')
			break;
		word[words] = at;
		while (*at != '\0' && !is_space(*at))
			at++;
		length[words] = static_cast<size_t>(at - word[words]);
		words++;
	}
	if (words < 3 || length[0] != strlen(op) ||
	    strncmp(word[0], op, length[0]) != 0 ||
	    length[1] != strlen(name) || strncmp(word[1], name, length[1]) != 0)
		return 0;
	if (cut && word[2][length[2]] == '\0')
		return EIO;
	return errno_by_name(word[2], length[2]);
}

}  // namespace

int
fault_in_file(const char *op, const char *name)
{
	file_reader faults;
	char line[LINE_SIZE];
	bool fits;
	int error = 0;

	if (!open_root_file(&faults, "faults"))
		return 0;
	/*
	 * To the end even after a match: a test may feed the file through a
	 * FIFO, whose writer must be done before the next call opens it.
	 */
	while (next_text_line(&faults, line, sizeof(line), &fits)) {
		if (error == 0)
			error = fault_of_line(line, !fits, op, name);
	}
	close(faults.fd);
	return error;
}

const char *
errno_symbol(int error)
{
	for (const errno_name &known : errno_names) {
		if (known.value == error)
			return known.name;
	}
	return nullptr;
}

}  // namespace sim
