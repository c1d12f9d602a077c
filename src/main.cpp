/*
 * coolrung: runs a ThinkPad's fan by a table of temperature ranges, and
 * hands it back to the firmware on a signal.
 */
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "config.h"
#include "fan.h"
#include "loop.h"
#include "fatal.h"
#include "report.h"

constexpr int EXIT_BAD_OPTION = 1;

/*
 * The options end at "--", a lone "-" or the first operand.  glibc's getopt
 * reorders the words unless the option string begins with '+'; elsewhere a
 * '+' would be taken for an option letter.  The leading ':' tells a
 * missing argument from an unknown letter.
 */
#ifdef __GLIBC__
static const char OPTION_STRING[] = "+:vdc:";
#else
static const char OPTION_STRING[] = ":vdc:";
#endif

struct settings {
	const char *config_path;
	bool detach;
};

/*
 * The version line; a line that cannot be written (a full device, a pipe
 * whose reader has gone) is a failure to say so, not a death by SIGPIPE.
 */
[[noreturn]] static void
print_version()
{
	signal(SIGPIPE, SIG_IGN);
	if (printf("Version: %s\n", COOLRUNG_VERSION) < 0 ||
	    fflush(stdout) == EOF)
		fail_with(EX_IOERR, errno, "stdout");
	exit(0);
}

static settings
read_options(int argc, char *argv[])
{
	settings chosen = {DEFAULT_CONFIG_PATH, false};
	int option;

	opterr = 0;
	while ((option = getopt(argc, argv, OPTION_STRING)) != -1) {
		switch (option) {
		case 'v':
			print_version();
		case 'd':
			chosen.detach = true;
			break;
		case 'c':
			chosen.config_path = optarg;
			break;
		default:
			/* getopt's complaints, worded alike on every system. */
			if (option == ':')
				report(LOG_ERR, 0,
				    "option requires an argument -- %c", optopt);
			else
				report(LOG_ERR, 0, "illegal option -- %c",
				    optopt);
			fail(EXIT_BAD_OPTION, "Arugment not recognised");
		}
	}
	return chosen;
}

int
main(int argc, char *argv[])
{
	set_program_name(argc > 0 ? argv[0] : nullptr);
	try {
		ensure_fan_driver();
		settings chosen = read_options(argc, argv);
		level_table table = load_config(chosen.config_path);
		run_control_loop(&table, chosen.detach);
	} catch (const fatal_error &fault) {
		exit_with(fault);
	} catch (const std::bad_alloc &) {
		/* Told without a fatal_error, whose text would need memory. */
		report(LOG_ERR, ENOMEM, "Memory allocation error");
		exit(EX_SOFTWARE);
	}
}
