/*
 * The manual pages list exactly the messages the daemon can give: every
 * message format in src/ has an entry in a page's diagnostics that it
 * prints, and every entry is printed by some format.  A format is the first
 * text a reporting call gives, a literal, a constant or what a name
 * function returns; a "%s" leading it is filled from the next argument the
 * same way, so that each name the daemon can print is listed.
 *
 * usage: diagnostics_test SRC_DIR PAGE...
 */
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "source_text.h"

namespace {

using texts = std::vector<std::string>;
using match_iterator = std::sregex_iterator;

/*
 * The names the sources define: a constant's text (constexpr const char
 * *NAME = "...", static const char *const NAME = "..."), and as NAME() the
 * constants a function that returns a name can return, "" for a name found
 * at run time.
 */
std::map<std::string, texts>
names_of(const std::string &source)
{
	std::map<std::string, texts> found;
	std::regex constant(R"(const char \*(?:const )?(\w+) =\s*")");
	std::regex function(
	    R"(const char \*\n(\w+)\(\)\n\{\n\treturn ([^;]*);)");
	std::regex word(R"([A-Za-z_]\w*)");
	match_iterator end;

	for (match_iterator it(source.begin(), source.end(), constant);
	    it != end; ++it)
		found[(*it)[1]] = {literals_from(source,
		    static_cast<size_t>(it->position(0)))};
	for (match_iterator it(source.begin(), source.end(), function);
	    it != end; ++it) {
		std::string body = (*it)[2];
		body.erase(0, body.find('?') + 1);	/* the values */
		texts &values = found[(*it)[1].str() + "()"];
		for (match_iterator w(body.begin(), body.end(), word); w != end;
		    ++w)
			values.push_back(found.contains(w->str()) ?
			    found[w->str()][0] : "");
	}
	return found;
}

/* A format as a pattern: any value for a conversion, ": %m" for an errno. */
std::regex
pattern_of(const std::string &format)
{
	std::string text = std::regex_replace(format,
	    std::regex(R"([\\^$.|?*+()[\]{}])"), R"(\$&)");
	text = std::regex_replace(text, std::regex(R"(%(\\\.\d+)?s)"), ".+");
	text = std::regex_replace(text, std::regex("%c"), "(?:.|%c)");
	text = std::regex_replace(text, std::regex(R"(%(\\\.\d+)?l{0,2}d)"),
	    "(?:-?[0-9]+|%l{0,2}d)");
	return std::regex(text + "(?:: %m)?");
}

/*
 * Every format of a reporting call in the source, its "%s" names filled,
 * and each held apart for several calls ("..._FORMAT = ").
 */
std::set<std::string>
messages_of(const std::string &source)
{
	std::map<std::string, texts> known = names_of(source);
	std::set<std::string> messages;
	std::string names;
	for (const auto &[name, values] : known)
		names += (names.empty() ? "" : "|") +
		    std::regex_replace(name, std::regex(R"(\(\))"), R"(\(\))");
	std::string value = R"re(((?:"(?:[^"\\]|\\.)*"\s*)+|\b(?:)re" +
	    names + R"re()(?!\w)))re";
	/* The arguments before a format give no text; "{" starts a body. */
	std::regex call(R"(\b(?:(?:fail|fail_with|report|hand_back_and_fail)\()"
	    R"(|\w+_FORMAT =)[^;"{]*?)" + value + R"((?:,\s*)" + value + ")?");
	auto values_of = [&](const std::string &token) {
		return token.empty() ? texts{""} : token[0] == '"' ?
		    texts{literals_from(token, 0)} : known.at(token);
	};

	for (match_iterator it(source.begin(), source.end(), call), end;
	    it != end; ++it) {
		for (const std::string &format : values_of((*it)[1])) {
			size_t s = format.find("%s");
			bool named = s != std::string::npos &&
			    format.find('%') == s;
			for (const std::string &filling :
			    named ? values_of((*it)[2]) : texts{""}) {
				std::string text = format;
				if (!filling.empty())
					text.replace(s, 2, filling);
				/* A format passed on is no message. */
				if (!text.empty() && text != "%s")
					messages.insert(text);
			}
		}
	}
	return messages;
}

/* The entries of a page's .Bl -diag lists, mdoc's escapes undone. */
void
add_entries(const char *page, texts *entries)
{
	std::string text = read_whole(page);
	std::regex entry("\n\\.It \"([^\n]*)\"");

	for (match_iterator it(text.begin(), text.end(), entry), end; it != end;
	    ++it) {
		std::string line = std::regex_replace((*it)[1].str(),
		    std::regex(R"(\\&)"), "");
		line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
		entries->push_back(std::regex_replace(line,
		    std::regex(R"(\\e)"), "\\"));
	}
}

}  // namespace

int
main(int argc, char *argv[])
{
	if (argc < 3) {
		fprintf(stderr, "usage: %s SRC_DIR PAGE...\n", argv[0]);
		return 2;
	}
	std::set<std::filesystem::path> files;
	for (const auto &file : std::filesystem::directory_iterator(argv[1]))
		if (file.path().extension() == ".cpp")
			files.insert(file.path());
	std::string sources;
	for (const std::filesystem::path &file : files)
		sources += read_whole(file.c_str());
	std::set<std::string> messages = messages_of(sources);
	texts entries;
	for (int i = 2; i < argc; i++)
		add_entries(argv[i], &entries);

	bool ok = !messages.empty() && !entries.empty();
	std::vector<bool> given(entries.size());
	for (const std::string &format : messages) {
		std::regex pattern = pattern_of(format);
		bool listed = false;
		for (size_t i = 0; i < entries.size(); i++)
			if (std::regex_match(entries[i], pattern))
				listed = given[i] = true;
		if (!listed) {
			printf("not in the pages: \"%s\"\n", format.c_str());
			ok = false;
		}
	}
	for (size_t i = 0; i < entries.size(); i++) {
		if (!given[i]) {
			printf("no such message in src/: \"%s\"\n",
			    entries[i].c_str());
			ok = false;
		}
	}
	printf("%zu message formats, %zu entries in the pages%s\n",
	    messages.size(), entries.size(), ok ? ": they agree" : "");
	return ok ? 0 : 1;
}
