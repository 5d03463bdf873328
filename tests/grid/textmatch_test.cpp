// The comparison of cell texts with a search text, and the letter-case rules
// under it, without any window or record set.
#include "grid/GridFind.h"
#include "platform/LetterCase.h"

#include <gtest/gtest.h>

#include <string>

using namespace querlin;
using namespace querlin::grid;

namespace {

struct MatchCase {
    const char* name;
    const char* search;
    TLocateMatching matching;
    bool caseInsensitive;
    const char* cell;
    bool matches;
};

void PrintTo(const MatchCase& c, std::ostream* out) { *out << c.name; }

class TextMatch : public testing::TestWithParam<MatchCase> {};

TEST_P(TextMatch, ComparesAsTheMatchTypeAndCaseSay)
{
    const MatchCase& c = GetParam();
    TextMatcher matcher(c.search, c.matching, c.caseInsensitive);
    EXPECT_EQ(matcher.Matches(c.cell), c.matches);
    // A matcher keeps no trace of an earlier, longer cell.
    matcher.Matches("a much longer cell text than any of the cases uses");
    EXPECT_EQ(matcher.Matches(c.cell), c.matches);
}

constexpr auto kAny = TLocateMatching::AnyPart;
constexpr auto kWhole = TLocateMatching::WholeField;
constexpr auto kBegin = TLocateMatching::FromBeginning;

INSTANTIATE_TEST_SUITE_P(
    Find, TextMatch,
    testing::Values(
        MatchCase{"AnyPartInTheMiddle", "pp", kAny, false, "apple", true},
        MatchCase{"AnyPartCaseCounts", "PP", kAny, false, "apple", false},
        MatchCase{"AnyPartCaseIgnored", "PP", kAny, true, "apple", true},
        MatchCase{"AnyPartLongerThanTheCell", "apples", kAny, true, "apple", false},
        MatchCase{"WholeFieldEqual", "apple", kWhole, false, "apple", true},
        MatchCase{"WholeFieldPartIsNotEnough", "appl", kWhole, false, "apple", false},
        MatchCase{"WholeFieldCaseCounts", "Apple", kWhole, false, "apple", false},
        MatchCase{"WholeFieldCaseIgnored", "APPLE", kWhole, true, "apple", true},
        MatchCase{"BeginningSmallFindsCapitalsCaseIgnored", "ro", kBegin, true, "ROW 5", true},
        MatchCase{"BeginningSmallMissesCapitalsWithCase", "ro", kBegin, false, "ROW 5", false},
        MatchCase{"BeginningNotInTheMiddle", "ow", kBegin, true, "row", false},
        MatchCase{"BeginningCellShorterThanTheText", "rows", kBegin, true, "row", false},
        // An empty search text occurs in nothing, equals only an empty cell
        // and begins every cell.
        MatchCase{"EmptyAnyPartNeverOccurs", "", kAny, true, "row", false},
        MatchCase{"EmptyAnyPartNotEvenInAnEmptyCell", "", kAny, false, "", false},
        MatchCase{"EmptyWholeFieldAnEmptyCell", "", kWhole, true, "", true},
        MatchCase{"EmptyWholeFieldNotAFilledCell", "", kWhole, false, "row", false},
        MatchCase{"EmptyBeginningEveryCell", "", kBegin, false, "row", true},
        MatchCase{"EmptyBeginningAnEmptyCell", "", kBegin, true, "", true},
        // Letters beyond ASCII follow the locale's case rules.
        MatchCase{"AccentedCapitalsCaseIgnored", "café", kWhole, true, "CAFÉ", true},
        MatchCase{"AccentedCapitalsWithCase", "café", kWhole, false, "CAFÉ", false},
        MatchCase{"CyrillicCaseIgnored", "москва", kAny, true, "Город МОСКВА", true},
        // Chinese has no letter case: turning to capitals leaves it whole,
        // beside Latin letters that do change.
        MatchCase{"ChineseAmongLatin", "王五", kAny, true, "Wang 王五 li", true},
        MatchCase{"LatinAmongChinese", "LI", kAny, true, "李四 li", true},
        MatchCase{"ChineseWholeFieldCaseIgnored", "张三", kWhole, true, "张三", true},
        MatchCase{"ChineseNotInAnother", "王", kAny, true, "张三 Wang", false},
        // "中" is E4 B8 AD: its last two bytes are no character, and are not
        // found inside it.
        MatchCase{"NeverAcrossACharacterBoundary", "\xB8\xAD", kAny, false, "中文", false},
        MatchCase{"FoundAfterAFalseStart", "ab", kAny, false, "aab", true}),
    [](const testing::TestParamInfo<MatchCase>& info) { return info.param.name; });

TEST(LetterCase, CapitalsOfMixedTextKeepEveryCharacterThatHasNone)
{
    const platform::LetterCase& rules = platform::LetterCase::User();
    std::string buffer;
    EXPECT_EQ(rules.ToUpper("abc 123 é ß 中文 ДОМ дом", buffer), "ABC 123 É ß 中文 ДОМ ДОМ");
    EXPECT_EQ(rules.ToUpper("", buffer), "");
    // A byte that starts no character is kept, and what follows is read on.
    EXPECT_EQ(rules.ToUpper("a\xFF" "b\xC3", buffer), "A\xFF" "B\xC3");
}

TEST(LetterCase, TheBufferGrowsOnceAndIsReused)
{
    const platform::LetterCase& rules = platform::LetterCase::User();
    std::string buffer;
    rules.ToUpper(std::string(100, 'a'), buffer);
    const char* storage = buffer.data();
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(rules.ToUpper("short text " + std::to_string(i), buffer).data(), storage);
}

} // namespace
