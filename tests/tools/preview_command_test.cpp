/*
 * The coolrung-preview binary as an administrator meets it: the messages
 * and statuses of bad input, the same refusal of a bad table as the
 * daemon's, and a picture that parses.
 */
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char *const TABLE = "level(0,0,50)\nlevel(3,45,60)\nlevel(7,55,150)\n";

struct outcome {
	int status;
	std::string out;
	std::string err;
};

std::string
slurp(const std::string &path)
{
	std::ifstream file(path);
	std::stringstream text;
	text << file.rdbuf();
	return text.str();
}

void
spill(const std::string &path, const std::string &text)
{
	std::ofstream(path) << text;
}

class PreviewCommand : public ::testing::Test {
protected:
	void SetUp() override
	{
		char pattern[] = "/tmp/preview-test.XXXXXX";
		ASSERT_NE(mkdtemp(pattern), nullptr);
		dir = pattern;
		spill(dir + "/table.conf", TABLE);
	}

	void TearDown() override
	{
		std::filesystem::remove_all(dir);
	}

	/* Runs the binary in the scratch directory, input on its stdin. */
	outcome run(std::vector<std::string> args, const std::string &input = "")
	{
		spill(dir + "/.stdin", input);
		pid_t pid = fork();
		if (pid == 0) {
			std::vector<char *> argv{
			    const_cast<char *>(PREVIEW_BINARY)};
			for (std::string &arg : args)
				argv.push_back(arg.data());
			argv.push_back(nullptr);
			if (chdir(dir.c_str()) == -1)
				_exit(127);
			dup2(open(".stdin", O_RDONLY), 0);
			int flags = O_WRONLY | O_CREAT | O_TRUNC;
			dup2(open(".stdout", flags, 0644), 1);
			dup2(open(".stderr", flags, 0644), 2);
			execv(PREVIEW_BINARY, argv.data());
			_exit(127);
		}
		int status = 0;
		waitpid(pid, &status, 0);
		EXPECT_TRUE(WIFEXITED(status));
		return {WEXITSTATUS(status), slurp(dir + "/.stdout"),
		    slurp(dir + "/.stderr")};
	}

	std::string dir;
};

struct refusal {
	const char *what;
	std::vector<std::string> args;
	const char *trace;	/* written to trace.csv and given on stdin */
	int status;
	const char *message;	/* all of stderr, or its first line */
};

const refusal refusals[] = {
	{"bad temperature", {"-t", "trace.csv", "table.conf"}, "0,40\n1,x\n", 65,
	    "coolrung-preview: trace.csv:2: bad temperature: x\n"},
	{"stdin", {"--trace", "-", "table.conf"}, "0 40\n", 65,
	    "coolrung-preview: stdin:1: expected seconds,celsius\n"},
	{"missing trace", {"--trace", "none.csv", "table.conf"}, "", 66,
	    "coolrung-preview: none.csv: No such file or directory\n"},
	{"missing model", {"-s", "idle", "-m", "none", "table.conf"}, "", 66,
	    "coolrung-preview: none: No such file or directory\n"},
	{"missing table", {"-s", "idle", "none.conf"}, "", 78,
	    "coolrung-preview: Could not find config file: "
	    "No such file or directory\n"},
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
	    "", 73, "coolrung-preview: no/such.svg: No such file or directory\n"},
};

TEST_F(PreviewCommand, RefusesBadInputWithItsStatus)
{
	for (const refusal &c : refusals) {
		SCOPED_TRACE(c.what);
		spill(dir + "/trace.csv", c.trace);
		outcome result = run(c.args, c.trace);
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
	spill(dir + "/bad.conf", "level(0,0,40)\n");
	outcome result = run({"-s", "idle", "bad.conf"});
	EXPECT_EQ(result.status, 78);
	EXPECT_EQ(result.err, "coolrung-preview: First level min temperature >0 "
	    "or last level max temperature <150, dangerous\n");

	spill(dir + "/bad.conf", "level(1,0,40)\nlevel(0,40,150)\n");
	result = run({"--trace", "-", "bad.conf"}, "0,40\n");
	EXPECT_EQ(result.status, 78);
	EXPECT_EQ(result.err, "coolrung-preview: The levels defined in the "
	    "config are not in an ascending order by level_number \n");
}

TEST_F(PreviewCommand, HelpAndEvents)
{
	outcome help = run({"--help"});
	EXPECT_EQ(help.status, 0);
	EXPECT_EQ(help.out.rfind("usage: coolrung-preview", 0), 0u);

	outcome events = run({"--events", "--trace", "-", "table.conf"},
	    "0,40\n10,70\n12.5,40\n");
	EXPECT_EQ(events.status, 0);
	EXPECT_EQ(events.out, "0 40 0\n2 40 0\n4 40 0\n6 40 0\n8 40 0\n"
	    "10 70 3\n12 70 7\n");

	outcome summary = run({"-s", "compile", "table.conf"});
	EXPECT_EQ(summary.status, 0);
	EXPECT_NE(summary.out.find("run: 1200 s, "), std::string::npos);
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
	spill(dir + "/a&b<c>.conf", TABLE);
	for (const char *scenario : {"idle", "compile", "spiky", "full"}) {
		SCOPED_TRACE(scenario);
		outcome result = run({"-s", scenario, "-o", "run.svg",
		    "a&b<c>.conf"});
		ASSERT_EQ(result.status, 0) << result.err;
		std::string svg = slurp(dir + "/run.svg");
		std::string why;
		EXPECT_TRUE(well_formed(svg, &why)) << why;
		EXPECT_NE(svg.find("a&amp;b&lt;c&gt;.conf"), std::string::npos);
		EXPECT_EQ(svg.find("nan"), std::string::npos);
		EXPECT_EQ(svg.find("inf"), std::string::npos);
	}
	outcome one = run({"-t", "-", "-o", "one.svg", "table.conf"}, "7,40\n");
	ASSERT_EQ(one.status, 0) << one.err;
	std::string why;
	EXPECT_TRUE(well_formed(slurp(dir + "/one.svg"), &why)) << why;
}

}  // namespace
