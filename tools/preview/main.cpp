/*
 * coolrung-preview: shows what a level table would do, on a recorded trace
 * or on a thermal model, before the daemon runs a fan by it.  The table is
 * read and stepped by the daemon's own code; nothing here reaches the
 * hardware, so it runs anywhere and needs no privilege.
 */
#include <err.h>
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "config.h"
#include "fatal.h"
#include "input.h"
#include "model.h"
#include "seconds.h"
#include "summary.h"
#include "svg.h"
#include "trace.h"
#include "report.h"

struct options {
	const char *config;
	const char *trace;
	const char *scenario;
	const char *model;
	const char *svg;
	int64_t duration;	/* 0 when not given */
	bool events;
};

static const struct option long_options[] = {
	{"trace", required_argument, nullptr, 't'},
	{"scenario", required_argument, nullptr, 's'},
	{"model", required_argument, nullptr, 'm'},
	{"duration", required_argument, nullptr, 'd'},
	{"svg", required_argument, nullptr, 'o'},
	{"events", no_argument, nullptr, 'e'},
	{"help", no_argument, nullptr, 'h'},
	{nullptr, 0, nullptr, 0},
};

static void
print_usage(FILE *out)
{
	fprintf(out,
	    "usage: coolrung-preview [-e] [-o picture.svg] -t trace config\n"
	    "       coolrung-preview [-e] [-o picture.svg] [-m model] "
	    "[-d seconds]\n"
	    "                        -s idle|compile|spiky|full config\n"
	    "  -t, --trace FILE     replay \"seconds,celsius\" lines "
	    "(- for stdin)\n"
	    "  -s, --scenario NAME  run the thermal model under a load\n"
	    "  -m, --model FILE     model parameters, \"name = value\" lines\n"
	    "  -d, --duration SECS  length of the scenario\n"
	    "  -o, --svg FILE       draw temperature and fan level\n"
	    "  -e, --events         print \"seconds celsius level\" per poll "
	    "instead of the summary\n"
	    "  -h, --help           print this and exit\n");
}

/* What the standard output could not take is an error, as for a file. */
static void
flush_stdout()
{
	if (fflush(stdout) == EOF || ferror(stdout))
		fail_with(EX_IOERR, errno, "stdout");
}

[[noreturn]] static void
usage_error(const char *message, const char *detail)
{
	if (message != nullptr)
		warnx("%s%s", message, detail);
	print_usage(stderr);
	exit(EX_USAGE);
}

static void
check_options(const options &chosen)
{
	if ((chosen.trace == nullptr) == (chosen.scenario == nullptr))
		usage_error("give one of --trace and --scenario", "");
	if (chosen.trace != nullptr &&
	    (chosen.model != nullptr || chosen.duration != 0))
		usage_error("--model and --duration go with --scenario", "");
	if (chosen.scenario != nullptr && !known_scenario(chosen.scenario))
		usage_error("unknown scenario: ", chosen.scenario);
}

static options
read_options(int argc, char *argv[])
{
	options chosen = {};
	int option;

	while ((option = getopt_long(argc, argv, "t:s:m:d:o:eh", long_options,
	    nullptr)) != -1) {
		switch (option) {
		case 't': chosen.trace = optarg; break;
		case 's': chosen.scenario = optarg; break;
		case 'm': chosen.model = optarg; break;
		case 'o': chosen.svg = optarg; break;
		case 'e': chosen.events = true; break;
		case 'd':
			if (!parse_seconds(optarg, &chosen.duration) ||
			    !valid_duration(chosen.duration))
				usage_error("bad duration: ", optarg);
			break;
		case 'h':
			print_usage(stdout);
			flush_stdout();
			exit(0);
		default:
			usage_error(nullptr, "");
		}
	}
	if (argc - optind != 1)
		usage_error("expected one configuration file", "");
	chosen.config = argv[optind];
	check_options(chosen);
	return chosen;
}

/* "-" is standard input, named so in the messages. */
static owned_file
open_input(const char *path, const char **name)
{
	if (strcmp(path, "-") == 0) {
		*name = "stdin";
		return owned_file(stdin);
	}
	*name = path;
	owned_file file(fopen(path, "r"));
	if (file == nullptr)
		fail_with(EX_NOINPUT, errno, "%s", path);
	return file;
}

static run_record
run_trace(const options &chosen, const level_table *table)
{
	const char *name;
	owned_file file = open_input(chosen.trace, &name);

	return replay_trace(table, read_trace(file.get(), name));
}

static run_record
run_scenario(const options &chosen, const level_table *table)
{
	model_params params = default_model();

	if (chosen.model != nullptr) {
		const char *name;
		owned_file file = open_input(chosen.model, &name);
		read_model(file.get(), name, &params);
	}
	if (chosen.duration != 0) {
		params.duration = chosen.duration;
		params.duration_set = true;
	}
	settle_model(&params, chosen.scenario);
	return run_model(table, params,
	    scenario_load(chosen.scenario, params));
}

static void
draw(const options &chosen, const run_record &run, const level_table *table,
    const char *title)
{
	owned_file out(fopen(chosen.svg, "w"));

	if (out == nullptr)
		fail_with(EX_CANTCREAT, errno, "%s", chosen.svg);
	write_svg(out.get(), run, table, title);
	bool failed = ferror(out.get()) != 0;
	if (fclose(out.release()) == EOF || failed)
		fail_with(EX_IOERR, errno, "%s", chosen.svg);
}

/* "scenario compile, table new.conf": heads the summary and the picture. */
static std::string
title_of(const options &chosen)
{
	if (chosen.trace != nullptr)
		return std::string("trace ") + chosen.trace + ", table " +
		    chosen.config;
	return std::string("scenario ") + chosen.scenario + ", table " +
	    chosen.config;
}

static void
show(const options &chosen, const level_table *table)
{
	run_record run = chosen.trace != nullptr ? run_trace(chosen, table) :
	    run_scenario(chosen, table);
	std::string title = title_of(chosen);

	if (chosen.svg != nullptr)
		draw(chosen, run, table, title.c_str());
	if (chosen.events)
		print_events(stdout, run, table);
	else
		print_summary(stdout, summarize(run, table), table,
		    title.c_str());
	flush_stdout();
}

int
main(int argc, char *argv[])
{
	set_program_name(argv[0]);
	try {
		options chosen = read_options(argc, argv);
		level_table table = load_config(chosen.config);
		show(chosen, &table);
	} catch (const fatal_error &fault) {
		exit_with(fault);
	} catch (const std::bad_alloc &) {
		/* As the daemon reports it; report() itself needs no memory. */
		report(LOG_ERR, ENOMEM, "Memory allocation error");
		exit(EX_SOFTWARE);
	}
	return 0;
}
