/*
 * The manual pages list exactly the messages the daemon can give: every
 * message format in src/ has an entry in a page's diagnostics that it
 * prints, and every entry is printed by some format.  Formats are found in
 * the calls that raise or report them; a "%s" filled with a node's or a
 * file's name is filled here too, from the constant or the name function
 * that gives it, so that each name the daemon can print is listed.
 *
 * usage: diagnostics_test SRC_DIR PAGE...
 */
#include <dirent.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "source_text.h"

namespace {

/* A name a "%s" may hold; empty for a run-time value (a path found). */
using names = std::vector<std::string>;

struct message {
	std::string format;	/* as the code writes it, "%s" names filled */
	std::string where;
	std::regex pattern;
};

/* The call and the index of its format among its arguments. */
const std::pair<const char *, size_t> reporters[] = {
	{"fail(", 1}, {"fail_with(", 2}, {"report(", 2},
	{"hand_back_and_fail(", 2},
};

bool
word_char(char c)
{
	return isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

/* The arguments of the call whose "(" is at open, split at top level. */
std::vector<std::string>
arguments(const std::string &source, size_t open)
{
	std::vector<std::string> found(1);
	int depth = 0;

	for (size_t at = open + 1; at < source.size(); at++) {
		char c = source[at];
		if (c == '"') {
			size_t end = at + 1;
			while (end < source.size() && source[end] != '"')
				end += source[end] == '\\' ? 2 : 1;
			found.back() += source.substr(at, end + 1 - at);
			at = end;
			continue;
		}
		if (c == '(')
			depth++;
		if (c == ')' && depth-- == 0)
			break;
		if (c == ',' && depth == 0)
			found.emplace_back();
		else
			found.back() += c;
	}
	for (std::string &argument : found) {
		size_t first = argument.find_first_not_of(" \t\n");
		size_t last = argument.find_last_not_of(" \t\n");
		argument = first == std::string::npos ? "" :
		    argument.substr(first, last + 1 - first);
	}
	return found;
}

/* constexpr const char *NAME = "..."; and static const char *const NAME. */
std::map<std::string, std::string>
constants_of(const std::string &source)
{
	std::map<std::string, std::string> found;
	std::regex declaration(R"(const char \*(?:const )?(\w+) =\s*")");

	for (std::sregex_iterator it(source.begin(), source.end(), declaration),
	    end; it != end; ++it)
		found[(*it)[1]] = literals_from(source,
		    static_cast<size_t>(it->position(0)));
	return found;
}

/* What each NAME() that returns a name can return, from its return line. */
std::map<std::string, names>
name_functions_of(const std::string &source,
    const std::map<std::string, std::string> &constants)
{
	std::map<std::string, names> found;
	std::regex function(R"(const char \*\n(\w+)\(\)\n\{\n\treturn ([^;]*);)");
	std::regex word(R"([A-Za-z_]\w*)");

	for (std::sregex_iterator it(source.begin(), source.end(), function),
	    end; it != end; ++it) {
		std::string body = (*it)[2];
		for (std::sregex_iterator w(body.begin(), body.end(), word);
		    w != end; ++w) {
			auto constant = constants.find(w->str());
			if (constant != constants.end())
				found[(*it)[1]].push_back(constant->second);
			else if (body.find('?') != std::string::npos &&
			    w->str().find("use_") != 0)
				found[(*it)[1]].push_back("");
		}
	}
	return found;
}

/* What an argument gives: a literal, a constant, a name function's. */
names
values_of(const std::string &argument,
    const std::map<std::string, std::string> &constants,
    const std::map<std::string, names> &functions)
{
	if (!argument.empty() && argument[0] == '"')
		return {literals_from(argument, 0)};
	auto constant = constants.find(argument);
	if (constant != constants.end())
		return {constant->second};
	std::string call = argument.substr(0, argument.find('('));
	auto function = functions.find(call);
	if (function != functions.end())
		return function->second;
	return {};
}

/* A format as a pattern: any value for a conversion, ": %m" for an errno. */
std::regex
pattern_of(const std::string &format)
{
	static const std::regex conversion(R"(%(\.\d+)?(l{0,2}d|s|c))");
	std::string text;
	std::string rest = format;
	std::smatch m;

	auto literal = [](const std::string &s) {
		std::string out;
		for (char c : s) {
			if (std::string("\\^$.|?*+()[]{}").find(c) !=
			    std::string::npos)
				out += '\\';
			out += c;
		}
		return out;
	};
	while (std::regex_search(rest, m, conversion)) {
		text += literal(m.prefix());
		std::string kind = m[2];
		text += kind == "s" ? ".+" : kind == "c" ? "(?:.|%c)" :
		    "(?:-?[0-9]+|%l{0,2}d)";
		rest = m.suffix();
	}
	return std::regex(text + literal(rest) + "(?:: %m)?");
}

/* Every format in the source, with each name its "%s" may take. */
void
collect(const std::string &source, const std::string &file,
    const std::map<std::string, std::string> &constants,
    const std::map<std::string, names> &functions,
    std::vector<message> *messages)
{
	for (const auto &[opener, index] : reporters) {
		for (size_t at = source.find(opener); at != std::string::npos;
		    at = source.find(opener, at + 1)) {
			if (at > 0 && word_char(source[at - 1]))
				continue;
			std::vector<std::string> args = arguments(source,
			    at + strlen(opener) - 1);
			if (args.size() <= index)
				continue;
			names formats = values_of(args[index], constants, functions);
			for (const std::string &format : formats) {
				names fillings = {""};
				size_t s = format.find("%s");
				if (s != std::string::npos && args.size() > index + 1 &&
				    format.find('%') == s)
					fillings = values_of(args[index + 1], constants,
					    functions);
				if (fillings.empty())
					fillings = {""};	/* a run-time text */
				for (const std::string &filling : fillings) {
					std::string text = format;
					if (!filling.empty())
						text.replace(s, 2, filling);
					if (text.empty() || text == "%s")
						continue;	/* a format passed on */
					messages->push_back({text, file, pattern_of(text)});
				}
			}
		}
	}
}

/* The entries of the pages' .Bl -diag lists, mdoc's escapes undone. */
std::vector<std::string>
entries_of(const std::string &page)
{
	std::vector<std::string> found;
	std::regex entry("\n\\.It \"([^\n]*)\"");
	std::string text = read_whole(page.c_str());

	for (std::sregex_iterator it(text.begin(), text.end(), entry), end;
	    it != end; ++it) {
		std::string line = (*it)[1];
		line = std::regex_replace(line, std::regex(R"(\\&)"), "");
		line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
		line = std::regex_replace(line, std::regex(R"(\\e)"), "\\");
		found.push_back(line);
	}
	return found;
}

}  // namespace

int
main(int argc, char *argv[])
{
	if (argc < 3) {
		fprintf(stderr, "usage: %s SRC_DIR PAGE...\n", argv[0]);
		return 2;
	}
	std::string all;
	std::map<std::string, std::string> sources;
	DIR *dir = opendir(argv[1]);
	if (dir == nullptr) {
		perror(argv[1]);
		return 2;
	}
	for (struct dirent *e; (e = readdir(dir)) != nullptr;) {
		std::string name = e->d_name;
		if (name.size() > 4 && name.compare(name.size() - 4, 4, ".cpp") == 0)
			sources[name] = read_whole((std::string(argv[1]) + "/" +
			    name).c_str());
	}
	closedir(dir);
	for (const auto &[name, text] : sources)
		all += text;
	auto constants = constants_of(all);
	auto functions = name_functions_of(all, constants);
	std::vector<message> messages;
	/* A format held apart for several calls: "..._FORMAT = ". */
	for (const auto &[name, text] : constants) {
		if (name.size() > 7 && name.compare(name.size() - 7, 7, "_FORMAT") == 0)
			messages.push_back({text, "a constant", pattern_of(text)});
	}
	for (const auto &[name, text] : sources)
		collect(text, name, constants, functions, &messages);

	std::vector<std::string> entries;
	for (int i = 2; i < argc; i++) {
		std::vector<std::string> more = entries_of(argv[i]);
		entries.insert(entries.end(), more.begin(), more.end());
	}

	bool ok = !messages.empty() && !entries.empty();
	for (const message &m : messages) {
		bool listed = false;
		for (const std::string &entry : entries)
			listed = listed || std::regex_match(entry, m.pattern);
		if (!listed) {
			printf("not in the pages: \"%s\" (src/%s)\n",
			    m.format.c_str(), m.where.c_str());
			ok = false;
		}
	}
	for (const std::string &entry : entries) {
		bool given = false;
		for (const message &m : messages)
			given = given || std::regex_match(entry, m.pattern);
		if (!given) {
			printf("no such message in src/: \"%s\"\n", entry.c_str());
			ok = false;
		}
	}
	printf("%zu message formats, %zu entries in the pages%s\n",
	    messages.size(), entries.size(), ok ? ": they agree" : "");
	return ok ? 0 : 1;
}
