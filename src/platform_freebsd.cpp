/* The platform calls on FreeBSD: straight through to the system. */
#include "platform.h"

#include <sys/param.h>
#include <sys/linker.h>
#include <sys/select.h>
#include <sys/sysctl.h>
#include <sys/types.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

constexpr size_t LOG_LINE_SIZE = 1024;
constexpr size_t LOG_IDENT_SIZE = 32;

/*
 * The log socket and the ident, set up in ordinary code so that a fault
 * handler can log with socket calls alone: syslog(3) formats with stdio
 * and is not async-signal-safe.
 */
static int log_socket = -1;
static char log_ident[LOG_IDENT_SIZE] = "coolrung";

int
platform_kldfind(const char *module)
{
	return kldfind(module);
}

int
platform_kldload(const char *module)
{
	return kldload(module);
}

int
platform_sysctlbyname(const char *name, void *oldp, size_t *oldlenp,
    const void *newp, size_t newlen)
{
	return sysctlbyname(name, oldp, oldlenp, newp, newlen);
}

int
platform_sysctlnametomib(const char *name, int *mibp, size_t *sizep)
{
	return sysctlnametomib(name, mibp, sizep);
}

int
platform_sysctl(const int *mib, unsigned int namelen, void *oldp,
    size_t *oldlenp, const void *newp, size_t newlen)
{
	return sysctl(mib, namelen, oldp, oldlenp, newp, newlen);
}

int
platform_daemon(int nochdir, int noclose)
{
	return daemon(nochdir, noclose);
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

static void
append_text(char *line, size_t *length, const char *text)
{
	while (*text != '\0' && *length + 1 < LOG_LINE_SIZE)
		line[(*length)++] = *text++;
	line[*length] = '\0';
}

static void
append_decimal(char *line, size_t *length, unsigned int value)
{
	char digits[16];
	size_t at = sizeof(digits) - 1;

	digits[at] = '\0';
	do {
		digits[--at] = static_cast<char>('0' + value % 10);
		value /= 10;
	} while (value != 0);
	append_text(line, length, digits + at);
}

/*
 * The datagram syslog(3) sends, "<PRI>ident[pid]: message", without its
 * time stamp: syslogd stamps a message that comes without one.
 */
void
platform_syslog(int priority, const char *message)
{
	char line[LOG_LINE_SIZE];
	size_t length = 0;

	line[0] = '\0';
	append_text(line, &length, "<");
	append_decimal(line, &length,
	    static_cast<unsigned int>(LOG_DAEMON | priority));
	append_text(line, &length, ">");
	append_text(line, &length, log_ident);
	append_text(line, &length, "[");
	append_decimal(line, &length, static_cast<unsigned int>(getpid()));
	append_text(line, &length, "]: ");
	append_text(line, &length, message);
	/* syslogd may have restarted since: connect once more. */
	if (log_socket == -1 || send(log_socket, line, length, 0) == -1) {
		connect_log();
		if (log_socket != -1)
			(void)send(log_socket, line, length, 0);
	}
}
