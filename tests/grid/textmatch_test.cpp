// The comparison of cell texts with a search text, and the letter-case rules
// under it, without any window or record set.
#include "grid/GridFind.h"
#include "platform/LetterCase.h"
#include "platform/LetterCaseCases.h"
#include "platform/Locale.h"

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

INSTANTIATE_TEST_SUITE_P(Find, TextMatch,
                         testing::Values(MatchCase{.name = "AnyPartInTheMiddle",
                                                   .search = "pp",
                                                   .matching = kAny,
                                                   .caseInsensitive = false,
                                                   .cell = "apple",
                                                   .matches = true},
                                         MatchCase{.name = "AnyPartCaseCounts",
                                                   .search = "PP",
                                                   .matching = kAny,
                                                   .caseInsensitive = false,
                                                   .cell = "apple",
                                                   .matches = false},
                                         MatchCase{.name = "AnyPartCaseIgnored",
                                                   .search = "PP",
                                                   .matching = kAny,
                                                   .caseInsensitive = true,
                                                   .cell = "apple",
                                                   .matches = true},
                                         MatchCase{.name = "AnyPartLongerThanTheCell",
                                                   .search = "apples",
                                                   .matching = kAny,
                                                   .caseInsensitive = true,
                                                   .cell = "apple",
                                                   .matches = false},
                                         MatchCase{.name = "WholeFieldEqual",
                                                   .search = "apple",
                                                   .matching = kWhole,
                                                   .caseInsensitive = false,
                                                   .cell = "apple",
                                                   .matches = true},
                                         MatchCase{.name = "WholeFieldPartIsNotEnough",
                                                   .search = "appl",
                                                   .matching = kWhole,
                                                   .caseInsensitive = false,
                                                   .cell = "apple",
                                                   .matches = false},
                                         MatchCase{.name = "WholeFieldCaseCounts",
                                                   .search = "Apple",
                                                   .matching = kWhole,
                                                   .caseInsensitive = false,
                                                   .cell = "apple",
                                                   .matches = false},
                                         MatchCase{.name = "WholeFieldCaseIgnored",
                                                   .search = "APPLE",
                                                   .matching = kWhole,
                                                   .caseInsensitive = true,
                                                   .cell = "apple",
                                                   .matches = true},
                                         MatchCase{.name = "BeginningSmallFindsCapitalsCaseIgnored",
                                                   .search = "ro",
                                                   .matching = kBegin,
                                                   .caseInsensitive = true,
                                                   .cell = "ROW 5",
                                                   .matches = true},
                                         MatchCase{.name = "BeginningSmallMissesCapitalsWithCase",
                                                   .search = "ro",
                                                   .matching = kBegin,
                                                   .caseInsensitive = false,
                                                   .cell = "ROW 5",
                                                   .matches = false},
                                         MatchCase{.name = "BeginningNotInTheMiddle",
                                                   .search = "ow",
                                                   .matching = kBegin,
                                                   .caseInsensitive = true,
                                                   .cell = "row",
                                                   .matches = false},
                                         MatchCase{.name = "BeginningCellShorterThanTheText",
                                                   .search = "rows",
                                                   .matching = kBegin,
                                                   .caseInsensitive = true,
                                                   .cell = "row",
                                                   .matches = false},
                                         // An empty search text occurs in nothing, equals only an empty cell
                                         // and begins every cell.
                                         MatchCase{.name = "EmptyAnyPartNeverOccurs",
                                                   .search = "",
                                                   .matching = kAny,
                                                   .caseInsensitive = true,
                                                   .cell = "row",
                                                   .matches = false},
                                         MatchCase{.name = "EmptyAnyPartNotEvenInAnEmptyCell",
                                                   .search = "",
                                                   .matching = kAny,
                                                   .caseInsensitive = false,
                                                   .cell = "",
                                                   .matches = false},
                                         MatchCase{.name = "EmptyWholeFieldAnEmptyCell",
                                                   .search = "",
                                                   .matching = kWhole,
                                                   .caseInsensitive = true,
                                                   .cell = "",
                                                   .matches = true},
                                         MatchCase{.name = "EmptyWholeFieldNotAFilledCell",
                                                   .search = "",
                                                   .matching = kWhole,
                                                   .caseInsensitive = false,
                                                   .cell = "row",
                                                   .matches = false},
                                         MatchCase{.name = "EmptyBeginningEveryCell",
                                                   .search = "",
                                                   .matching = kBegin,
                                                   .caseInsensitive = false,
                                                   .cell = "row",
                                                   .matches = true},
                                         MatchCase{.name = "EmptyBeginningAnEmptyCell",
                                                   .search = "",
                                                   .matching = kBegin,
                                                   .caseInsensitive = true,
                                                   .cell = "",
                                                   .matches = true},
                                         // Letters beyond ASCII follow the locale's case rules.
                                         MatchCase{.name = "AccentedCapitalsCaseIgnored",
                                                   .search = "café",
                                                   .matching = kWhole,
                                                   .caseInsensitive = true,
                                                   .cell = "CAFÉ",
                                                   .matches = true},
                                         MatchCase{.name = "AccentedCapitalsWithCase",
                                                   .search = "café",
                                                   .matching = kWhole,
                                                   .caseInsensitive = false,
                                                   .cell = "CAFÉ",
                                                   .matches = false},
                                         MatchCase{.name = "CyrillicCaseIgnored",
                                                   .search = "москва",
                                                   .matching = kAny,
                                                   .caseInsensitive = true,
                                                   .cell = "Город МОСКВА",
                                                   .matches = true},
                                         // Chinese has no letter case: turning to capitals leaves it whole,
                                         // beside Latin letters that do change.
                                         MatchCase{.name = "ChineseAmongLatin",
                                                   .search = "王五",
                                                   .matching = kAny,
                                                   .caseInsensitive = true,
                                                   .cell = "Wang 王五 li",
                                                   .matches = true},
                                         MatchCase{.name = "LatinAmongChinese",
                                                   .search = "LI",
                                                   .matching = kAny,
                                                   .caseInsensitive = true,
                                                   .cell = "李四 li",
                                                   .matches = true},
                                         MatchCase{.name = "ChineseWholeFieldCaseIgnored",
                                                   .search = "张三",
                                                   .matching = kWhole,
                                                   .caseInsensitive = true,
                                                   .cell = "张三",
                                                   .matches = true},
                                         MatchCase{.name = "ChineseNotInAnother",
                                                   .search = "王",
                                                   .matching = kAny,
                                                   .caseInsensitive = true,
                                                   .cell = "张三 Wang",
                                                   .matches = false},
                                         // "中" is E4 B8 AD: its last two bytes are no character, and are not
                                         // found inside it.
                                         MatchCase{.name = "NeverAcrossACharacterBoundary",
                                                   .search = "\xB8\xAD",
                                                   .matching = kAny,
                                                   .caseInsensitive = false,
                                                   .cell = "中文",
                                                   .matches = false},
                                         MatchCase{.name = "FoundAfterAFalseStart",
                                                   .search = "ab",
                                                   .matching = kAny,
                                                   .caseInsensitive = false,
                                                   .cell = "aab",
                                                   .matches = true}),
                         [](const testing::TestParamInfo<MatchCase> &info) { return info.param.name; });

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

// The find dialog's comparison ignoring case (a whole cell, so that it
// answers the question the other look-ups answer), under the user's locale.
TEST(LetterCase, FindGivesTheOneAnswer)
{
    const platform::LocaleSettings saved = platform::UserLocale();
    for (const char* locale : {"", "tr_TR.UTF-8"}) {
        platform::LocaleSettings settings;
        settings.letterCaseLocale = locale;
        platform::SetUserLocaleForTesting(settings);
        const bool turkish = *locale != 0;
        for (const auto& c : test::kLetterCaseCases) {
            TextMatcher matcher(c.a, TLocateMatching::WholeField, true);
            EXPECT_EQ(matcher.Matches(c.b), turkish ? c.equalInTurkish : c.equal) << c.label << " in " << locale;
        }
    }
    platform::SetUserLocaleForTesting(saved);
}

} // namespace
