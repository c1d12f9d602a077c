#include "background.h"

#include <fcntl.h>
#include <paths.h>
#include <unistd.h>

#include <cerrno>

static bool
null_device_on_standard_streams()
{
	int null = open(_PATH_DEVNULL, O_RDWR);

	if (null == -1)
		return false;
	for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++) {
		if (dup2(null, fd) == -1) {
			int error = errno;
			close(null);
			errno = error;
			return false;
		}
	}
	if (null > STDERR_FILENO)
		close(null);
	return true;
}

pid_t
fork_into_background()
{
	pid_t child = fork();

	if (child != 0)
		return child;
	if (setsid() == -1 || chdir("/") == -1 ||
	    !null_device_on_standard_streams())
		return -1;
	return 0;
}
