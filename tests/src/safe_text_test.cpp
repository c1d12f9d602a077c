/* The fixed-buffer line: where it cuts, and that it says so. */
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "safe_text.h"

namespace {

/* Room for seven characters and the terminating NUL. */
using small_text = safe_text_of<8>;

TEST(SafeText, CutsAtTheEndAndSaysSo)
{
	const struct {
		std::vector<const char *> parts;
		const char *text;
		bool cut;
	} cases[] = {
		{{}, "", false},
		{{"abc", "", "defg"}, "abcdefg", false},
		{{"abcdefgh"}, "abcdefg", true},
		{{"abcd", "efgh", "i"}, "abcdefg", true},
		{{"abcdefg", ""}, "abcdefg", false},
	};
	for (const auto &c : cases) {
		small_text line = {};
		for (const char *part : c.parts)
			safe_append(&line, part);
		SCOPED_TRACE(c.text);
		EXPECT_STREQ(line.text, c.text);
		EXPECT_EQ(line.length, std::string(c.text).size());
		EXPECT_EQ(line.cut, c.cut);
	}
}

TEST(SafeText, Numbers)
{
	const struct {
		long long value;
		const char *text;
	} cases[] = {
		{0, "0"},
		{-1, "-1"},
		{4711, "4711"},
		{LLONG_MAX, "9223372036854775807"},
		{LLONG_MIN, "-9223372036854775808"},
	};
	for (const auto &c : cases) {
		safe_text line = {};
		safe_append(&line, "n=");
		safe_append_number(&line, c.value);
		EXPECT_EQ(std::string(line.text), std::string("n=") + c.text);
		EXPECT_FALSE(line.cut);
	}
	small_text line = {};
	safe_append_number(&line, -1234567);
	EXPECT_STREQ(line.text, "-123456");
	EXPECT_TRUE(line.cut);
}

}  // namespace
