#include "detach.h"

#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "fan.h"
#include "platform.h"
#include "fatal.h"
#include "report.h"
#include "signals.h"

/* The daemon's end of the pipe to the starter, until it has told it. */
static int starter_pipe = -1;

/*
 * The daemon points descriptors 0 to 2 at the null device, so a pipe end
 * there (a daemon started with one of them closed) would be lost.
 */
static int
above_standard_streams(int fd)
{
	if (fd > STDERR_FILENO)
		return fd;
	int moved = fcntl(fd, F_DUPFD, STDERR_FILENO + 1);
	int error = errno;
	close(fd);
	errno = error;
	return moved;
}

/* How the daemon ended, as the starter's own exit status. */
static int
daemon_status(pid_t daemon)
{
	int status = 0;

	while (waitpid(daemon, &status, 0) == -1) {
		if (errno != EINTR)
			return EXIT_BY_SIGNAL;
	}
	return WIFEXITED(status) ? WEXITSTATUS(status) : EXIT_BY_SIGNAL;
}

/*
 * The starter holds no fan: it passes ending signals and faults on to the
 * daemon, stops for job control as the shell asks, and leaves once the
 * daemon has spoken.  A signal that went on to the daemon ends it, so the
 * starter then waits for that end and tells it.
 */
[[noreturn]] static void
wait_for_daemon(pid_t daemon, int fd)
{
	for (;;) {
		if (take_job_stop() != 0) {
			stop_process();
			continue;
		}
		if (!wait_for_input(fd))
			continue;
		unsigned char word;
		ssize_t n = read(fd, &word, 1);
		if (n == -1 && errno == EINTR)
			continue;
		/* One that came with the word must still go on. */
		let_held_signals_in();
		_exit(n == 1 && ending_signal() == 0 ? 0 :
		    daemon_status(daemon));
	}
}

bool
detach()
{
	int ends[2];

	if (ending_signal_held())
		return false;
	if (pipe(ends) == -1)
		hand_back_and_fail(EX_OSERR, errno, "pipe");
	ends[0] = above_standard_streams(ends[0]);
	ends[1] = above_standard_streams(ends[1]);
	if (ends[0] == -1 || ends[1] == -1)
		hand_back_and_fail(EX_OSERR, errno, "fcntl");
	hold_faults();
	pid_t daemon = platform_daemon();
	int error = errno;
	if (daemon > 0)
		relay_signals_to(daemon);
	release_faults();
	if (daemon == -1)
		hand_back_and_fail(EX_OSERR, error, "daemon");
	if (daemon > 0) {
		close(ends[1]);
		wait_for_daemon(daemon, ends[0]);
	}
	close(ends[0]);
	starter_pipe = ends[1];
	if (!forget_job_stops())
		hand_back_and_fail(EX_OSERR, errno, "sigaction");
	return true;
}

void
tell_starter()
{
	const unsigned char running = 0;

	if (starter_pipe == -1)
		return;
	(void)write(starter_pipe, &running, 1);
	close(starter_pipe);
	starter_pipe = -1;
}
