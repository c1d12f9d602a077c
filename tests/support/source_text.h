/*
 * Reading the project's own sources as text, for the checks that hold the
 * documents and the tests to the messages the code can give.
 */
#ifndef COOLRUNG_TEST_SOURCE_TEXT_H
#define COOLRUNG_TEST_SOURCE_TEXT_H

#include <cstdio>
#include <string>

inline std::string
read_whole(const char *path)
{
	std::string text;
	FILE *file = fopen(path, "r");
	char buffer[4096];
	size_t n;

	if (file == nullptr)
		return text;
	while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0)
		text.append(buffer, n);
	fclose(file);
	return text;
}

/*
 * The string literals of one call or declaration starting at at, joined as
 * the compiler joins adjacent literals; stops at the ';' that ends it.
 */
inline std::string
literals_from(const std::string &source, size_t at)
{
	std::string joined;

	while (at < source.size() && source[at] != ';') {
		if (source[at] != '"') {
			at++;
			continue;
		}
		for (at++; at < source.size() && source[at] != '"'; at++) {
			if (source[at] == '\\' && at + 1 < source.size())
				at++;
			joined += source[at];
		}
		at++;
	}
	return joined;
}

#endif
