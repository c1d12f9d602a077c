/*
 * The process services on a real system, FreeBSD or Linux: the fork into
 * the background, pselect(2) for the sleep, and the system log spoken to
 * directly on its socket.
 */
#include "platform.h"

#include <sys/select.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include "background.h"
#include "safe_text.h"

constexpr size_t LOG_IDENT_SIZE = 32;

/*
 * The log socket and the ident, set up in ordinary code so that a fault
 * handler can log with socket calls alone: syslog(3) formats with stdio
 * and is not async-signal-safe.
 */
static int log_socket = -1;
static char log_ident[LOG_IDENT_SIZE] = "coolrung";

pid_t
platform_daemon()
{
	return fork_into_background();
}

int
platform_sleep(unsigned int seconds, const sigset_t *wait_mask)
{
	struct timespec interval = {static_cast<time_t>(seconds), 0};

	return pselect(0, nullptr, nullptr, nullptr, &interval, wait_mask);
}

static bool
connect_to(const char *path)
{
	struct sockaddr_un where = {};

	where.sun_family = AF_UNIX;
	strncpy(where.sun_path, path, sizeof(where.sun_path) - 1);
	return connect(log_socket, reinterpret_cast<struct sockaddr *>(&where),
	    sizeof(where)) == 0;
}

/*
 * As syslog(3) does: root's own socket first, which syslogd reads before
 * the one everybody may write to.  A full socket drops the message rather
 * than hold up the loop with the fan in manual mode.
 */
static void
connect_log()
{
	if (log_socket == -1)
		log_socket = socket(AF_UNIX,
		    SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
	if (log_socket == -1)
		return;
#ifdef _PATH_LOG_PRIV
	if (connect_to(_PATH_LOG_PRIV))
		return;
#endif
	if (!connect_to(_PATH_LOG)) {
		close(log_socket);
		log_socket = -1;
	}
}

void
platform_openlog(const char *ident)
{
	strncpy(log_ident, ident, sizeof(log_ident) - 1);
	log_ident[sizeof(log_ident) - 1] = '\0';
	connect_log();
}

/*
 * The datagram syslog(3) sends, "<PRI>ident[pid]: message", without its
 * time stamp: syslogd stamps a message that comes without one.
 */
void
platform_syslog(int priority, const char *message)
{
	safe_text line = {};

	safe_append(&line, "<");
	safe_append_number(&line, LOG_DAEMON | priority);
	safe_append(&line, ">");
	safe_append(&line, log_ident);
	safe_append(&line, "[");
	safe_append_number(&line, getpid());
	safe_append(&line, "]: ");
	safe_append(&line, message);
	/* syslogd may have restarted since: connect once more. */
	if (log_socket == -1 ||
	    send(log_socket, line.text, line.length, 0) == -1) {
		connect_log();
		if (log_socket != -1)
			(void)send(log_socket, line.text, line.length, 0);
	}
}
