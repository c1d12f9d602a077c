/*
 * The coolrung-preview binary as an administrator meets it: the messages
 * and statuses of bad input, the same refusal of a bad table as the
 * daemon's, and a picture that parses.
 */
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"
#include "svg.h"
#include "trace.h"
#include "table.h"

namespace {

const char *const TABLE = "level(0,0,50)\nlevel(3,45,60)\nlevel(7,55,150)\n";

/* In the scratch directory, with .stdin on the standard input. */
const char *const IN_DIR = "cd \"$1\" && shift && exec \"$@\" < .stdin";

class PreviewCommand : public ::testing::Test {
protected:
	void SetUp() override
	{
		char pattern[] = "/tmp/preview-test.XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		dir = pattern;
		write_file(dir + "/table.conf", TABLE);
	}

	void TearDown() override
	{
		std::filesystem::remove_all(dir);
	}

	std::string slurp(const std::string &name) const
	{
		return read_file(dir + "/" + name);
	}

	void spill(const std::string &name, const std::string &text) const
	{
		write_file(dir + "/" + name, text);
	}

	/* Runs the binary in the scratch directory, input on its stdin. */
	run_result run(const std::vector<std::string> &args,
	    const std::string &input = "", const char *shell = IN_DIR)
	{
		spill(".stdin", input);
		std::vector<std::string> argv{"sh", "-c", shell, "sh", dir,
		    PREVIEW_BINARY};
		argv.insert(argv.end(), args.begin(), args.end());
		run_result result = run_program("/bin/sh", argv, "");
		EXPECT_EQ(result.signal, 0);
		return result;
	}

	std::string dir;
};

struct refusal {
	const char *what;
	std::vector<std::string> args;
	const char *trace;	/* written to trace.csv and given on stdin */
	int status;
	std::string message;	/* all of stderr, or its first line */
};

const refusal refusals[] = {
	{"bad temperature", {"-t", "trace.csv", "table.conf"}, "0,40\n1,x\n", 65,
	    "coolrung-preview: trace.csv:2: bad temperature: x\n"},
	{"stdin", {"--trace", "-", "table.conf"}, "0 40\n", 65,
	    "coolrung-preview: stdin:1: expected seconds,celsius\n"},
	{"missing trace", {"--trace", "none.csv", "table.conf"}, "", 66,
	    "coolrung-preview: none.csv: " + error_text(ENOENT) + "\n"},
	{"missing model", {"-s", "idle", "-m", "none", "table.conf"}, "", 66,
	    "coolrung-preview: none: " + error_text(ENOENT) + "\n"},
	{"missing table", {"-s", "idle", "none.conf"}, "", 78,
	    "coolrung-preview: Could not find config file: " +
	    error_text(ENOENT) + "\n"},
	{"no input", {"table.conf"}, "", 64,
	    "coolrung-preview: give one of --trace and --scenario\n"},
	{"two inputs", {"-t", "-", "-s", "idle", "table.conf"}, "", 64,
	    "coolrung-preview: give one of --trace and --scenario\n"},
	{"unknown scenario", {"-s", "gaming", "table.conf"}, "", 64,
	    "coolrung-preview: unknown scenario: gaming\n"},
	{"model on a trace", {"-t", "-", "-d", "60", "table.conf"}, "", 64,
	    "coolrung-preview: --model and --duration go with --scenario\n"},
	{"bad duration", {"-s", "idle", "-d", "soon", "table.conf"}, "", 64,
	    "coolrung-preview: bad duration: soon\n"},
	{"no table", {"-s", "idle"}, "", 64,
	    "coolrung-preview: expected one configuration file\n"},
	{"picture nowhere", {"-s", "idle", "-o", "no/such.svg", "table.conf"},
	    "", 73, "coolrung-preview: no/such.svg: " + error_text(ENOENT) + "\n"},
};

TEST_F(PreviewCommand, RefusesBadInputWithItsStatus)
{
	for (const refusal &c : refusals) {
		SCOPED_TRACE(c.what);
		spill("trace.csv", c.trace);
		run_result result = run(c.args, c.trace);
		EXPECT_EQ(result.status, c.status);
		std::string first = result.err.substr(0,
		    result.err.find('\n') + 1);
		EXPECT_EQ(first, c.message);
		EXPECT_EQ(result.out, "");
	}
}

/* The table is read by the daemon's reader: the same words, status 78. */
TEST_F(PreviewCommand, RefusesABadTableAsTheDaemonDoes)
{
	spill("bad.conf", "level(0,0,40)\n");
	run_result result = run({"-s", "idle", "bad.conf"});
	EXPECT_EQ(result.status, 78);
	EXPECT_EQ(result.err, "coolrung-preview: First level min temperature >0 "
	    "or last level max temperature <150, dangerous\n");

	spill("bad.conf", "level(1,0,40)\nlevel(0,40,150)\n");
	result = run({"--trace", "-", "bad.conf"}, "0,40\n");
	EXPECT_EQ(result.status, 78);
	EXPECT_EQ(result.err, "coolrung-preview: The levels defined in the "
	    "config are not in an ascending order by level_number \n");
}

/* Input without end, or beyond memory, ends soon in a message. */
TEST_F(PreviewCommand, BoundsItsInput)
{
	const std::string longest = "0,40" + std::string(4092, ' ') + "\n";
	const struct {
		const char *what;
		std::vector<std::string> args;
		std::string input;
		int status;
		const char *message;
	} cases[] = {
		{"a trace of zeros", {"-t", "/dev/zero", "table.conf"}, "", 65,
		    "coolrung-preview: /dev/zero:1: line longer than 4096 bytes\n"},
		{"a model of zeros", {"-s", "idle", "-m", "/dev/zero",
		    "table.conf"}, "", 65,
		    "coolrung-preview: /dev/zero:1: line longer than 4096 bytes\n"},
		{"the longest line", {"-t", "-", "table.conf"}, longest, 0, ""},
		{"a byte more", {"-t", "-", "table.conf"}, "0,40\n1" + longest,
		    65, "coolrung-preview: stdin:2: line longer than 4096 bytes\n"},
		{"a NUL byte", {"-s", "idle", "-m", "-", "table.conf"},
		    std::string("seed = 1\n\nseed = 2\0 3\n", 22), 65,
		    "coolrung-preview: stdin:3: NUL byte in the line\n"},
		/* The daemon's reader, with the daemon's message. */
		{"a table of zeros", {"-s", "idle", "/dev/zero"}, "", 78,
		    "coolrung-preview: NUL byte in config file line 1\n"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.what);
		run_result result = run(c.args, c.input);
		EXPECT_EQ(result.status, c.status);
		EXPECT_EQ(result.err, c.message);
	}
}

TEST_F(PreviewCommand, RunningOutOfMemoryIsReported)
{
#if defined(__SANITIZE_ADDRESS__)
	GTEST_SKIP() << "ASan maps more than the limit leaves";
#endif
	/* Samples without end, each at an instant of its own. */
	const char *endless = "ulimit -v 100000 && cd \"$1\" && shift && "
	    "awk 'BEGIN { for (i = 0;; i++) printf \"%d.%06d,40\\n\", "
	    "i / 1000000, i % 1000000 }' | exec \"$@\"";
	run_result result = run({"-t", "-", "table.conf"}, "", endless);
	EXPECT_EQ(result.status, 70);
	EXPECT_EQ(result.err, "coolrung-preview: Memory allocation error: " +
	    error_text(ENOMEM) + "\n");
	EXPECT_EQ(result.out, "");
}

TEST_F(PreviewCommand, HelpAndEvents)
{
	run_result help = run({"--help"});
	EXPECT_EQ(help.status, 0);
	EXPECT_EQ(help.out.rfind("usage: coolrung-preview", 0), 0u);

	run_result events = run({"--events", "--trace", "-", "table.conf"},
	    "0,40\n10,70\n12.5,40\n");
	EXPECT_EQ(events.status, 0);
	EXPECT_EQ(events.out, "0 40 0\n2 40 0\n4 40 0\n6 40 0\n8 40 0\n"
	    "10 70 3\n12 70 7\n");

	run_result summary = run({"-s", "compile", "table.conf"});
	EXPECT_EQ(summary.status, 0);
	EXPECT_NE(summary.out.find("run: 1200 s, "), std::string::npos);
}

/* Whatever goes to the standard output, its loss is a write error. */
TEST_F(PreviewCommand, AFullStandardOutputFails)
{
	const char *full = "cd \"$1\" && shift && exec \"$@\" < .stdin > /dev/full";
	const std::vector<std::string> writers[] = {
		{"-h"},
		{"--help"},
		{"-s", "idle", "table.conf"},
		{"--events", "-t", "-", "table.conf"},
	};
	for (const std::vector<std::string> &args : writers) {
		SCOPED_TRACE(args[0]);
		run_result result = run(args, "0,40\n", full);
		EXPECT_EQ(result.status, 74);
		EXPECT_EQ(result.err,
		    "coolrung-preview: stdout: No space left on device\n");
	}
}

/* Every '&' starts one of the entities the picture may use; no '<'. */
bool
plain_text(const std::string &text)
{
	static const char *const entities[] = {"&amp;", "&lt;", "&gt;",
	    "&quot;"};

	if (text.find('<') != std::string::npos)
		return false;
	for (size_t amp = text.find('&'); amp != std::string::npos;
	    amp = text.find('&', amp + 1)) {
		bool known = false;
		for (const char *entity : entities)
			known |= text.compare(amp, strlen(entity), entity) == 0;
		if (!known)
			return false;
	}
	return true;
}

/* name="value" pairs, each value quoted and plain. */
bool
attributes_ok(const std::string &body)
{
	size_t at = body.find_first_of(" \n");

	while (at != std::string::npos && at < body.size()) {
		at = body.find_first_not_of(" \n", at);
		if (at == std::string::npos)
			break;
		size_t eq = body.find('=', at);
		if (eq == std::string::npos || eq + 1 >= body.size() ||
		    body[eq + 1] != '"')
			return false;
		size_t close = body.find('"', eq + 2);
		if (close == std::string::npos ||
		    !plain_text(body.substr(eq + 2, close - eq - 2)))
			return false;
		at = close + 1;
		if (at < body.size() && body[at] != ' ' && body[at] != '\n')
			return false;
	}
	return true;
}

/*
 * Enough of XML to catch what a hand-written SVG gets wrong: tags that do
 * not nest, attributes without quotes, a bare '&' or '<' in text.
 */
bool
well_formed(const std::string &xml, std::string *why)
{
	std::vector<std::string> open;
	size_t at = 0, roots = 0;

	if (xml.rfind("<?xml ", 0) == 0)
		at = xml.find("?>") + 2;
	for (;;) {
		size_t lt = xml.find('<', at);
		std::string text = xml.substr(at, lt - at);
		if (!plain_text(text) || text.find('>') != std::string::npos)
			return *why = "bad text: " + text, false;
		if (lt == std::string::npos)
			break;
		size_t gt = xml.find('>', lt);
		if (gt == std::string::npos)
			return *why = "unclosed tag", false;
		std::string tag = xml.substr(lt + 1, gt - lt - 1);
		bool closing = tag[0] == '/', empty = tag.back() == '/';
		std::string body = tag.substr(closing ? 1 : 0,
		    tag.size() - (closing || empty ? 1 : 0));
		std::string name = body.substr(0, body.find_first_of(" \n"));
		if (closing) {
			if (open.empty() || open.back() != name)
				return *why = "mismatched </" + name + ">", false;
			open.pop_back();
		} else {
			if (open.empty() && roots++ > 0)
				return *why = "second root <" + name + ">", false;
			if (!attributes_ok(body))
				return *why = "bad attributes: " + body, false;
			if (!empty)
				open.push_back(name);
		}
		at = gt + 1;
	}
	if (!open.empty())
		return *why = "<" + open.back() + "> left open", false;
	return *why = "no root", roots == 1;
}

TEST(PreviewXmlCheck, CatchesWhatItShould)
{
	std::string why;

	EXPECT_TRUE(well_formed("<a x=\"1\"><b/>t &amp; u</a>\n", &why)) << why;
	EXPECT_FALSE(well_formed("<a><b></a></b>", &why));
	EXPECT_FALSE(well_formed("<a>t & u</a>", &why));
	EXPECT_FALSE(well_formed("<a x=1/>", &why));
	EXPECT_FALSE(well_formed("<a>", &why));
	EXPECT_FALSE(well_formed("<a/><b/>", &why));
	EXPECT_FALSE(well_formed("<a x=\"<\"/>", &why));
	EXPECT_FALSE(well_formed("<a x=\"1\"y=\"2\"/>", &why));
}

TEST_F(PreviewCommand, DrawsAWellFormedPicture)
{
	/* A name that must be escaped in the title. */
	spill("a&b<c>.conf", TABLE);
	for (const char *scenario : {"idle", "compile", "spiky", "full"}) {
		SCOPED_TRACE(scenario);
		run_result result = run({"-s", scenario, "-o", "run.svg",
		    "a&b<c>.conf"});
		ASSERT_EQ(result.status, 0) << result.err;
		std::string svg = slurp("run.svg");
		std::string why;
		EXPECT_TRUE(well_formed(svg, &why)) << why;
		EXPECT_NE(svg.find("a&amp;b&lt;c&gt;.conf"), std::string::npos);
		EXPECT_EQ(svg.find("nan"), std::string::npos);
		EXPECT_EQ(svg.find("inf"), std::string::npos);
	}
	run_result one = run({"-t", "-", "-o", "one.svg", "table.conf"}, "7,40\n");
	ASSERT_EQ(one.status, 0) << one.err;
	std::string why;
	EXPECT_TRUE(well_formed(slurp("one.svg"), &why)) << why;
}

#define FFFD "\xef\xbf\xbd"

/* A file name of any bytes becomes text that XML takes, and readers can. */
TEST(PreviewPicture, TitleOfAnyBytes)
{
	const level_table table = table_of({{0, 0, 150}});
	const run_record run = replay_trace(&table, {{0, 40}});
	const struct {
		const char *title, *shown;
	} cases[] = {
		{"a&b<c>\"d", "a&amp;b&lt;c&gt;&quot;d"},
		{"tab\there\n", "tab\\x09here\\x0a"},
		{"\x1b[0m\x7f back\\slash", "\\x1b[0m\\x7f back\\\\slash"},
		{"caf\xc3\xa9 \xf0\x9f\x99\x82", "caf\xc3\xa9 \xf0\x9f\x99\x82"},
		{"\xff\x80.conf", FFFD FFFD ".conf"},
		{"\xc0\xaf", FFFD FFFD},			/* overlong */
		{"\xed\xa0\x80", FFFD FFFD FFFD},		/* a surrogate */
		{"\xef\xbf\xbe", FFFD FFFD FFFD},		/* U+FFFE */
		{"\xf4\x90\x80\x80", FFFD FFFD FFFD FFFD},	/* beyond U+10FFFF */
		{"\xf8\x88\x80\x80\x80", FFFD FFFD FFFD FFFD FFFD},
		{"cut \xe2\x82", "cut " FFFD FFFD},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.title);
		char *text = nullptr;
		size_t size = 0;
		FILE *out = open_memstream(&text, &size);
		write_svg(out, run, &table, c.title);
		fclose(out);
		std::string svg(text, size);
		free(text);
		const std::string head = "font-size=\"14\">";
		size_t from = svg.find(head) + head.size();
		EXPECT_EQ(svg.substr(from, svg.find("</text>", from) - from),
		    c.shown);
	}
}

/* Failed reads leave gaps, the firmware's time a band; none read at all. */
TEST_F(PreviewCommand, DrawsTheSensorLost)
{
	for (const char *trace : {"0,40\n2,-\n9,70\n12,-\n14,50\n",
	    "0,-\n8,-\n"}) {
		SCOPED_TRACE(trace);
		run_result result = run({"-t", "-", "-o", "lost.svg",
		    "table.conf"}, trace);
		ASSERT_EQ(result.status, 0) << result.err;
		std::string svg = slurp("lost.svg"), why;
		EXPECT_TRUE(well_formed(svg, &why)) << why;
		EXPECT_NE(svg.find(">firmware</text>"), std::string::npos);
		EXPECT_EQ(svg.find("nan"), std::string::npos);
		EXPECT_NE(result.out.find("\nfirmware "), std::string::npos);
	}
}

}  // namespace
