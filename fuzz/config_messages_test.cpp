/*
 * Reads every file of the fuzzer's seed corpus through load_config and checks
 * that the seeds, together, reach every message of the configuration reader
 * (and a table it accepts).  The fuzzer starts from these seeds, so a message
 * no seed reaches is a branch it may never find.
 *
 * The messages are also looked up in the reader's source: a message added
 * there but missing from the table below fails the check, so it gets a seed.
 *
 * Usage: config_messages_test CORPUS_DIR
 */
#include <dirent.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config.h"
#include "fatal.h"
#include "source_text.h"

constexpr int ANY_ERROR = -1;

struct reader_message {
	const char *text;	/* the message begins with this */
	int error;		/* errno carried, 0 for none, ANY_ERROR */
	bool from_content;	/* reachable by the file's content */
	int seen;
};

static reader_message messages[] = {
	/* The file exists and can be read: no content can reach these. */
	{"Could not find config file", ANY_ERROR, false, 0},
	{"Could not read config file", ANY_ERROR, false, 0},

	{"NUL byte in config file line ", 0, true, 0},

	{"Could not parse level value: ", EINVAL, true, 0},
	{"Could not parse level value: ", ERANGE, true, 0},
	{"Character not found: ,", 0, true, 0},
	{"Character not found: )", 0, true, 0},
	{"Don't be negative (", 0, true, 0},
	{"Value ", 0, true, 0},
	{"Could not find '('", 0, true, 0},
	{"Level out of range: ", 0, true, 0},
	{"This parsed range is not admissible: ", 0, true, 0},
	{"Error parsing conifg, the following argument was not understood: ", 0,
	    true, 0},
	{"No level lines found in config file", 0, true, 0},
	{"First level min temperature >0 or last level max temperature <150, "
	    "dangerous", 0, true, 0},
	{"The levels defined in the config are not in an ascending order by "
	    "level_number ", 0, true, 0},
	{"There's a gap between the temperatures defined (level n.max<n+1.min)",
	    0, true, 0},
};

static int accepted_files;

static reader_message *
find_message(const fatal_error &fault)
{
	for (reader_message &m : messages) {
		if (fault.message.compare(0, strlen(m.text), m.text) == 0 &&
		    (m.error == ANY_ERROR || m.error == fault.error))
			return &m;
	}
	return nullptr;
}

/* Returns whether the file ended in a known way. */
static bool
load_seed(const std::string &path)
{
	try {
		(void)load_config(path.c_str());
		accepted_files++;
	} catch (const fatal_error &fault) {
		reader_message *m = find_message(fault);
		if (m == nullptr) {
			fprintf(stderr, "%s: unknown message \"%s\" (errno %d)\n",
			    path.c_str(), fault.message.c_str(), fault.error);
			return false;
		}
		if (fault.status != EX_CONFIG) {
			fprintf(stderr, "%s: \"%s\" with status %d, not %d\n",
			    path.c_str(), fault.message.c_str(), fault.status,
			    EX_CONFIG);
			return false;
		}
		m->seen++;
	}
	return true;
}

/* Every message format in the reader's source must be in the table. */
static bool
source_formats_known(const char *source_path)
{
	static const char *const openers[] = {"fail(", "fail_with(",
	    "_FORMAT = "};
	std::string source = read_whole(source_path);
	bool known = true;
	int formats = 0;

	if (source.empty()) {
		fprintf(stderr, "%s: cannot read the reader's source\n",
		    source_path);
		return false;
	}
	for (const char *opener : openers) {
		for (size_t at = source.find(opener); at != std::string::npos;
		    at = source.find(opener, at + 1)) {
			std::string format = literals_from(source, at);
			if (format.empty())
				continue;	/* a format held elsewhere */
			std::string head = format.substr(0, format.find('%'));
			bool found = false;
			for (const reader_message &m : messages)
				found = found || strncmp(m.text, head.c_str(),
				    head.size()) == 0;
			if (!found) {
				fprintf(stderr, "%s: message \"%s\" is not in the "
				    "table of this check: add it and a seed\n",
				    source_path, format.c_str());
				known = false;
			}
			formats++;
		}
	}
	if (formats == 0) {
		fprintf(stderr, "%s: no message found in the source\n",
		    source_path);
		return false;
	}
	return known;
}

int
main(int argc, char *argv[])
{
	std::vector<std::string> seeds;
	bool ok = true;

	if (argc != 2) {
		fprintf(stderr, "usage: %s corpus-dir\n", argv[0]);
		return 2;
	}
	DIR *dir = opendir(argv[1]);
	if (dir == nullptr) {
		perror(argv[1]);
		return 2;
	}
	for (struct dirent *entry; (entry = readdir(dir)) != nullptr;) {
		if (entry->d_name[0] != '.')
			seeds.push_back(std::string(argv[1]) + "/" + entry->d_name);
	}
	closedir(dir);

	for (const std::string &seed : seeds)
		ok = load_seed(seed) && ok;
	for (const reader_message &m : messages) {
		if (m.from_content && m.seen == 0) {
			fprintf(stderr, "no seed reaches \"%s\" (errno %d)\n",
			    m.text, m.error);
			ok = false;
		}
	}
	if (accepted_files == 0) {
		fprintf(stderr, "no seed is an accepted table\n");
		ok = false;
	}
	ok = source_formats_known(COOLRUNG_CONFIG_SOURCE) && ok;
	printf("%zu seeds, %d accepted\n", seeds.size(), accepted_files);
	return ok ? 0 : 1;
}
