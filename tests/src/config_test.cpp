/* The configuration reader, driven in-process through load_config. */
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "config.h"
#include "fatal.h"
#include "harness.h"

namespace {

using table_cases::PrintTo;

struct outcome {
	bool loaded = false;
	std::vector<level_entry> rows;
	fatal_error fault{0, 0, ""};
};

outcome
load_text(const std::string &text)
{
	sim_machine scratch;
	std::string path = scratch.config(text);
	outcome result;
	std::optional<fatal_error> fault = fault_raised_by([&] {
		result.rows = load_config(path.c_str()).entries;
	});
	result.loaded = !fault;
	if (fault)
		result.fault = *fault;
	return result;
}

const std::string VALID_TAIL = "level(7,60,150)\n";

struct refusal {
	const char *name;
	std::string text;
	std::string message;
	int error;
	int status;
};

class ConfigRefusal : public testing::TestWithParam<refusal> {};

TEST_P(ConfigRefusal, ReportsTheFault)
{
	const refusal &c = GetParam();
	outcome result = load_text(c.text);
	ASSERT_FALSE(result.loaded);
	EXPECT_EQ(result.fault.message, c.message);
	EXPECT_EQ(result.fault.error, c.error);
	EXPECT_EQ(result.fault.status, c.status);
}

const std::string LONG_X = "level(0,0,150) " + std::string(285, 'x') + "\n";
/* The max field's digits straddle the end of the first 254-character piece. */
const std::string CUT_FIELD = "level(0,0," + std::string(242, ' ') + "150)\n";

const refusal refusals[] = {
	{"KeywordCase", "Level(0,0,150)\n",
	    "Error parsing conifg, the following argument was not understood: Level", 0, 78},
	{"CarriageReturnLine", "\r\n",
	    "Error parsing conifg, the following argument was not understood: \r\n", 0, 78},
	{"ShortLine", "lev\n",
	    "Error parsing conifg, the following argument was not understood: lev\n", 0, 78},
	{"NoParenthesis", "level 0,0,150\n", "Could not find '('", 0, 78},
	{"EmptyField", "level(,0,150)\n",
	    "Could not parse level value: ,0,150)\n", EINVAL, 78},
	{"SignOnly", "level(0,+,150)\n",
	    "Could not parse level value: +,150)\n", EINVAL, 78},
	{"HugeField", "level(0,0,99999999999999999999)\n",
	    "Could not parse level value: 99999999999999999999)\n", ERANGE, 78},
	{"BlankBeforeComma", "level(0 ,0,150)\n", "Character not found: ,", 0, 78},
	{"BlankBeforeParen", "level(0,0,150 )\n", "Character not found: )", 0, 78},
	{"NegativeBadlyEnded", "level(0,-5 ,150)\n", "Character not found: ,", 0, 78},
	{"Negative", "level(-1,0,150)\n", "Don't be negative (-1)", 0, 78},
	{"TooLarge", "level(0,0,2147483648)\n",
	    "Value 2147483648 is entirely too large", 0, 78},
	{"LevelEight", "level(8,junk\n", "Level out of range: 8", 0, 78},
	{"EmptyRange", "  level(1,60,60) # note\n",
	    "This parsed range is not admissible: level(1,60,60) # note\n", 0, 78},
	{"FirstMinAboveZero", "level(0,5,150)\n",
	    "First level min temperature >0 or last level max temperature <150, dangerous", 0, 78},
	{"LastMaxBelow150", "level(0,0,60)\nlevel(7,55,149)\n",
	    "First level min temperature >0 or last level max temperature <150, dangerous", 0, 78},
	{"RepeatedLevel", "level(0,0,60)\nlevel(2,55,70)\nlevel(2,65,150)\n",
	    "The levels defined in the config are not in an ascending order by level_number ", 0, 78},
	{"FallingLevel", "level(3,0,60)\nlevel(1,55,150)\n",
	    "The levels defined in the config are not in an ascending order by level_number ", 0, 78},
	{"Gap", "level(0,0,55)\nlevel(7,56,150)\n",
	    "There's a gap between the temperatures defined (level n.max<n+1.min)", 0, 78},
	{"NineLevels",
	    "level(0,0,10)\nlevel(1,10,20)\nlevel(2,20,30)\nlevel(3,30,40)\n"
	    "level(4,40,50)\nlevel(5,50,60)\nlevel(6,60,70)\nlevel(7,70,80)\n"
	    "level(8,80,150)\n", "Level out of range: 8", 0, 78},
	{"SecondPieceOfLongLine", LONG_X,
	    "Error parsing conifg, the following argument was not understood: xxxxx", 0, 78},
	{"FieldCutByPiece", CUT_FIELD, "Character not found: )", 0, 78},
	{"EmptyFile", "", "No level lines found in config file", 0, 78},
	{"OnlyComments", "# nothing\n\n   \t\n\t# here\n",
	    "No level lines found in config file", 0, 78},
	/* A NUL byte would hide the rest of its line: the reading stops there. */
	{"NulAfterARow", std::string("level(0,0,150)\0(8,", 19) + "\n",
	    "NUL byte in config file line 1", 0, 78},
	{"NulOpensALineOfJunk", "# table\n" + std::string("\0junk", 5) + "\n" +
	    VALID_TAIL, "NUL byte in config file line 2", 0, 78},
	{"NulInTheSecondPieceOfALine", "level(0,0,150)\n" + LONG_X.substr(0, 260) +
	    std::string(1, '\0') + "\n", "NUL byte in config file line 2", 0, 78},
};

INSTANTIATE_TEST_SUITE_P(Messages, ConfigRefusal, testing::ValuesIn(refusals),
    table_cases::by_name);

struct acceptance {
	const char *name;
	std::string text;
	std::vector<level_entry> rows;
};

class ConfigAcceptance : public testing::TestWithParam<acceptance> {};

TEST_P(ConfigAcceptance, ReadsTheRows)
{
	const acceptance &c = GetParam();
	outcome result = load_text(c.text);
	ASSERT_TRUE(result.loaded) << result.fault.message;
	ASSERT_EQ(result.rows.size(), c.rows.size());
	for (size_t i = 0; i < c.rows.size(); i++) {
		EXPECT_EQ(result.rows[i].level_number, c.rows[i].level_number) << i;
		EXPECT_EQ(result.rows[i].min, c.rows[i].min) << i;
		EXPECT_EQ(result.rows[i].max, c.rows[i].max) << i;
	}
}

const acceptance acceptances[] = {
	{"OneRow", "level(7,0,150)\n", {{7, 0, 150}}},
	{"NoLineEnd", "level(7,0,150)", {{7, 0, 150}}},
	{"BlanksBeforeNumbers", "level (0, 0,\t150)\n", {{0, 0, 150}}},
	{"PlusSign", "level(+3,0,150)\n", {{3, 0, 150}}},
	{"TrailingComment", "level(0,0,150) # quiet\n", {{0, 0, 150}}},
	{"KeywordPrefix", "levelX(0,0,150)\n", {{0, 0, 150}}},
	{"Indented", " \t level(0,0,150)\n", {{0, 0, 150}}},
	{"Comments", "#a\n   # b\n\t\t# c\n\n \t \nlevel(0,0,150)\n#end", {{0, 0, 150}}},
	{"RangesMeet", "level(0,0,55)\nlevel(2,55,70)\nlevel(7,70,150)\n",
	    {{0, 0, 55}, {2, 55, 70}, {7, 70, 150}}},
	{"RangesOverlap", "level(0,0,55)\nlevel(2,50,70)\nlevel(7,65,150)\n",
	    {{0, 0, 55}, {2, 50, 70}, {7, 65, 150}}},
	{"LargestField", "level(0,0,2147483647)\n", {{0, 0, 2147483647}}},
	{"BlankSecondPiece", "level(0,0,150) " + std::string(285, ' ') + "\n",
	    {{0, 0, 150}}},
	{"LineOfExactlyAPiece", "level(0,0,150)" + std::string(240, ' ') + "\n",
	    {{0, 0, 150}}},
};

INSTANTIATE_TEST_SUITE_P(Tables, ConfigAcceptance, testing::ValuesIn(acceptances),
    table_cases::by_name);

TEST(ConfigFile, MissingFileCarriesTheSystemError)
{
	std::optional<fatal_error> fault = fault_raised_by([] {
		(void)load_config("/nonexistent/coolrung.conf");
	});
	ASSERT_TRUE(fault.has_value()) << "loaded a missing file";
	EXPECT_EQ(fault->message, "Could not find config file");
	EXPECT_EQ(fault->error, ENOENT);
	EXPECT_EQ(fault->status, 78);
}

/* A read error is a fault of the file, not its end. */
TEST(ConfigFile, ReadErrorIsReported)
{
	sim_machine scratch;
	std::optional<fatal_error> fault = fault_raised_by([&] {
		(void)load_config(scratch.root.c_str());
	});
	ASSERT_TRUE(fault.has_value()) << "loaded a directory";
	EXPECT_EQ(fault->message, "Could not read config file");
	EXPECT_EQ(fault->error, EISDIR);
	EXPECT_EQ(fault->status, 78);
}

TEST(ReadField, LeavesTheCursorBehindTheTerminator)
{
	const char *text = " 42,rest";
	const char *cursor = nullptr;
	EXPECT_EQ(read_field(text, ',', "%s", &cursor), 42);
	EXPECT_STREQ(cursor, "rest");
}

TEST(LineClasses, BlankAndSkip)
{
	EXPECT_TRUE(is_blank_line(""));
	EXPECT_TRUE(is_blank_line(" \t\n"));
	EXPECT_FALSE(is_blank_line("\r\n"));
	EXPECT_STREQ(skip_blanks(" \t x "), "x ");
}

}  // namespace
