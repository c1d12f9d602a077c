/*
 * coolrung: runs a ThinkPad's fan by a table of temperature ranges through
 * the acpi_ibm driver, and hands it back to the firmware on a signal.
 */
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config.h"
#include "fatal.h"
#include "loop.h"
#include "platform.h"
#include "report.h"

constexpr const char *DRIVER_MODULE = "acpi_ibm";
constexpr int EXIT_START_FAILED = 1;

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

static void
ensure_driver()
{
	if (platform_kldfind(DRIVER_MODULE) != -1)
		return;
	/* A driver compiled into the kernel is no loaded file, but present. */
	if (platform_kldload(DRIVER_MODULE) == -1 && errno != EEXIST)
		fail_with(EXIT_START_FAILED, errno,
		    "Module acpi_ibm.ko load failed");
}

static const char *
program_name(int argc, char *argv[])
{
	if (argc < 1 || argv[0] == nullptr)
		return "coolrung";
	const char *slash = strrchr(argv[0], '/');
	return slash != nullptr ? slash + 1 : argv[0];
}

/* getopt's complaints, worded alike on every system. */
static void
complain(const char *name, int letter)
{
	if (letter == ':')
		fprintf(stderr, "%s: option requires an argument -- %c\n", name,
		    optopt);
	else
		fprintf(stderr, "%s: illegal option -- %c\n", name, optopt);
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
			if (printf("Version: %s\n", COOLRUNG_VERSION) < 0 ||
			    fflush(stdout) == EOF)
				fail_with(EX_IOERR, errno, "stdout");
			exit(0);
		case 'd':
			chosen.detach = true;
			break;
		case 'c':
			chosen.config_path = optarg;
			break;
		default:
			complain(program_name(argc, argv), option);
			fail(EXIT_START_FAILED, "Arugment not recognised");
		}
	}
	return chosen;
}

int
main(int argc, char *argv[])
{
	try {
		ensure_driver();
		settings chosen = read_options(argc, argv);
		level_table table = load_config(chosen.config_path);
		run_control_loop(&table, chosen.detach, program_name(argc, argv));
	} catch (const fatal_error &fault) {
		report_fatal(fault);
	}
}
