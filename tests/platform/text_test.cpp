#include <gtest/gtest.h>

#include "platform/AsciiText.h"
#include "platform/CodePage.h"
#include "platform/Utf8.h"

#include <optional>
#include <string>

using namespace querlin::platform;

namespace {

const std::string kFffd = "\xEF\xBF\xBD";

struct Utf8Case {
    const char* label;
    std::string bytes;
    bool valid;
    std::string eachSequence;  // repaired one U+FFFD per broken sequence
    std::string eachByte;      // repaired one U+FFFD per broken byte
};

const Utf8Case kUtf8Cases[] = {
    {.label = "Ascii", .bytes = "plain", .valid = true, .eachSequence = "plain", .eachByte = "plain"},
    {.label = "Chinese", .bytes = "数据库", .valid = true, .eachSequence = "数据库", .eachByte = "数据库"},
    {.label = "FourByteEmoji",
     .bytes = "a\xF0\x9F\x98\x80",
     .valid = true,
     .eachSequence = "a\xF0\x9F\x98\x80",
     .eachByte = "a\xF0\x9F\x98\x80"},
    {.label = "HighestScalar",
     .bytes = "\xF4\x8F\xBF\xBF",
     .valid = true,
     .eachSequence = "\xF4\x8F\xBF\xBF",
     .eachByte = "\xF4\x8F\xBF\xBF"},
    {.label = "LoneContinuation",
     .bytes = "a\x80"
              "b",
     .valid = false,
     .eachSequence = "a" + kFffd + "b",
     .eachByte = "a" + kFffd + "b"},
    {.label = "CutAtTheEnd",
     .bytes = "ab\xE4\xB8",
     .valid = false,
     .eachSequence = "ab" + kFffd,
     .eachByte = "ab" + kFffd + kFffd},
    {.label = "CutBeforeAscii",
     .bytes = "\xE4\xB8x",
     .valid = false,
     .eachSequence = kFffd + "x",
     .eachByte = kFffd + kFffd + "x"},
    {.label = "Overlong", .bytes = "\xC0\xAF", .valid = false, .eachSequence = kFffd, .eachByte = kFffd + kFffd},
    {.label = "OverlongThreeBytes",
     .bytes = "\xE0\x80\xAF",
     .valid = false,
     .eachSequence = kFffd,
     .eachByte = kFffd + kFffd + kFffd},
    {.label = "Surrogate",
     .bytes = "\xED\xA0\x80",
     .valid = false,
     .eachSequence = kFffd,
     .eachByte = kFffd + kFffd + kFffd},
    {.label = "AboveUnicode",
     .bytes = "\xF4\x90\x80\x80",
     .valid = false,
     .eachSequence = kFffd,
     .eachByte = kFffd + kFffd + kFffd + kFffd},
    {.label = "NeverALeadByte",
     .bytes = "\xFF\xFE",
     .valid = false,
     .eachSequence = kFffd + kFffd,
     .eachByte = kFffd + kFffd},
    {.label = "GbkBytes",
     .bytes = "\xD6\xD0\xCE\xC4",
     .valid = false,
     .eachSequence = kFffd + kFffd + kFffd + kFffd,
     .eachByte = kFffd + kFffd + kFffd + kFffd},
    {.label = "NulIsText",
     .bytes = std::string("a\0b", 3),
     .valid = true,
     .eachSequence = std::string("a\0b", 3),
     .eachByte = std::string("a\0b", 3)},
};

TEST(Utf8, CheckAndBothRepairs)
{
    for (const auto& c : kUtf8Cases) {
        EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << c.label;
        EXPECT_EQ(RepairUtf8(c.bytes, Utf8Repair::EachSequence), c.eachSequence) << c.label;
        EXPECT_EQ(RepairUtf8(c.bytes, Utf8Repair::EachByte), c.eachByte) << c.label;
        EXPECT_TRUE(IsValidUtf8(RepairUtf8(c.bytes))) << c.label;
    }
}

TEST(Utf8, SequenceAtDecodesEveryLength)
{
    const struct {
        const char* label;
        std::string bytes;
        std::size_t length;
        char32_t codePoint;
    } cases[] = {
        {"One", "A", 1, U'A'},
        {"Two", "\xC3\xA4", 2, U'ä'},
        {"Three", "数", 3, U'数'},
        {"Four", "\xF0\x9F\x98\x80", 4, U'\U0001F600'},
        {"Broken", "\xC3", 0, 0},
    };
    for (const auto& c : cases) {
        char32_t cp = 0;
        EXPECT_EQ(Utf8SequenceAt(c.bytes, 0, &cp), c.length) << c.label;
        if (c.length) {
            EXPECT_EQ(cp, c.codePoint) << c.label;
        }
    }
}

TEST(Utf8, Utf16RoundTripAndBrokenUnits)
{
    const std::string text = "a数😀ä";
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
    EXPECT_EQ(Utf8ToUtf16("a😀\xFF"), (std::u16string{u'a', 0xD83D, 0xDE00, 0xFFFD}));
    // A lone low surrogate, and a high one at the end with nothing after it.
    const char16_t units[] = {u'a', 0xDC00, u'b', 0xD800};
    EXPECT_EQ(Utf16ToUtf8(std::u16string_view(units, 4)), "a" + kFffd + "b" + kFffd);
    EXPECT_EQ(Utf8Length("a数😀"), 3u);
    std::string out;
    AppendUtf8(out, U'数');
    EXPECT_EQ(out, "数");
}

TEST(AsciiText, CaseFoldsOnlyAsciiLetters)
{
    EXPECT_EQ(AsciiUpper("Host = db-1.example; ä 数"), "HOST = DB-1.EXAMPLE; ä 数");
    EXPECT_EQ(AsciiLower("DSN=Ä;UID=SCOTT"), "dsn=Ä;uid=scott");
    EXPECT_TRUE(EqualsAsciiNoCase("Extended Properties", "EXTENDED properties"));
    EXPECT_FALSE(EqualsAsciiNoCase("Ä", "ä"));
    EXPECT_FALSE(EqualsAsciiNoCase("user", "users"));
    EXPECT_TRUE(HasAsciiNoCaseAt("hh:nn AM/PM", 6, "am/pm"));
    EXPECT_FALSE(HasAsciiNoCaseAt("hh:nn AM/P", 6, "am/pm"));
    EXPECT_FALSE(HasAsciiNoCaseAt("AM", 5, "am"));
}

TEST(AsciiText, TrimDropsOnlyTheGivenBlanks)
{
    const struct {
        const char* label;
        std::string text;
        std::string_view blanks;
        std::string left, right, both;
    } cases[] = {
        {"SpaceAndTab", " \t a b \t", kSpaceAndTab, "a b \t", " \t a b", "a b"},
        {"LineEndsKeptByDefault", "\r\nx\n", kSpaceAndTab, "\r\nx\n", "\r\nx\n", "\r\nx\n"},
        {"LineEnds", "\r\n x \n", kSpaceTabAndLineEnds, "x \n", "\r\n x", "x"},
        {"WhiteSpace", "\v\f1.5\r", kWhiteSpace, "1.5\r", "\v\f1.5", "1.5"},
        {"Controls", std::string("\0\x01 h\x1F", 5), kControlsAndSpace, "h\x1F", std::string("\0\x01 h", 4), "h"},
        {"DeleteIsNoControlHere", "\x7F" "h", kControlsAndSpace, "\x7F" "h", "\x7F" "h", "\x7F" "h"},
        {"AllBlank", " \t ", kSpaceAndTab, "", "", ""},
        {"Empty", "", kSpaceAndTab, "", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TrimLeft(c.text, c.blanks), c.left) << c.label;
        EXPECT_EQ(TrimRight(c.text, c.blanks), c.right) << c.label;
        EXPECT_EQ(Trim(c.text, c.blanks), c.both) << c.label;
    }
}

TEST(AsciiText, EncloseDoublesTheClosingCharacterOnly)
{
    EXPECT_EQ(Enclose("O'Hara", '\''), "'O''Hara'");
    EXPECT_EQ(Enclose("say \"hi\"", '"'), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(Enclose("a{b}c", '{', '}'), "{a{b}}c}");
    EXPECT_EQ(Enclose("", '"'), "\"\"");
    EXPECT_EQ(DoubleEvery("a==b", '='), "a====b");
    EXPECT_EQ(DoubleEvery("none", '\''), "none");
}

TEST(CodePage, ChineseCodePageReadsAsUtf8)
{
    const struct {
        const char* label;
        std::string bytes;
        std::optional<std::string> text;
        std::size_t badAt;
    } cases[] = {
        {"Ascii", "C:\\Querlin;", "C:\\Querlin;", 0},
        {"Gbk", "\xCA\xFD\xBE\xDD\xBF\xE2 ok", "数据库 ok", 0},
        {"NulKept", std::string("a\0\xB6\xFE\0", 5), std::string("a\0二\0", 6), 0},
        {"BadTrailByte", "ab\x81\x20", std::nullopt, 2},
        {"CutAtTheEnd", "\xCA\xFD\xBE", std::nullopt, 2},
    };
    for (const auto& c : cases) {
        std::size_t badAt = 99;
        EXPECT_EQ(CodePageToUtf8(c.bytes, kProgramCodePage, &badAt), c.text) << c.label;
        if (!c.text) {
            EXPECT_EQ(badAt, c.badAt) << c.label;
        }
    }
    EXPECT_EQ(CodePageToUtf8("\xCA\xFD", 99999), std::nullopt) << "an unknown code page reads nothing";
}

} // namespace
