#include "data/FieldText.h"
#include "platform/Locale.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

using namespace querlin;
using namespace querlin::data;

namespace {

struct NumberCase {
    const char* label;
    double value;
    const char* shown;
};

// Found by fuzzing: the driver's year is a signed number, and a year before
// year 0 came back from its packed form with a negative month and day.
TEST(PackedDates, YearsBeforeZeroComeBackFromTheirPackedForms)
{
    struct Case {
        int year, month, day, hour, minute, second, millisecond;
    };
    for (const Case c : {Case{-44, 3, 15, 12, 0, 0, 0}, Case{-1, 12, 31, 23, 59, 59, 999},
                         Case{0, 1, 1, 0, 0, 0, 0}, Case{-32768, 1, 1, 0, 0, 0, 1}, Case{2024, 2, 29, 1, 2, 3, 4}}) {
        SCOPED_TRACE(c.year);
        const std::int32_t date = text::PackDate(c.year, c.month, c.day);
        int y, m, d;
        text::UnpackDate(date, y, m, d);
        EXPECT_EQ(y, c.year);
        EXPECT_EQ(m, c.month);
        EXPECT_EQ(d, c.day);
        const std::int32_t time = text::PackTime(c.hour, c.minute, c.second, c.millisecond);
        const std::int64_t stamp = text::PackTimestamp(date, time);
        EXPECT_EQ(text::TimestampDate(stamp), date);
        EXPECT_EQ(text::TimestampTime(stamp), time);
    }
}

TEST(GeneralNumberForm, FifteenDigitsFixedOrScientific)
{
    const NumberCase cases[] = {
        {"zero", 0.0, "0"},
        {"negative zero", -0.0, "0"},
        {"smallest fixed", 0.0001, "0.0001"},
        {"just below fixed", 0.00005, "5E-5"},
        {"negative small", -0.00005, "-5E-5"},
        {"small with digits", 0.00012345, "0.00012345"},
        {"below 0.0001 with digits", 0.000099999, "9.9999E-5"},
        {"decimal", 1234.5, "1234.5"},
        {"negative decimal", -1234.5, "-1234.5"},
        {"whole", 100, "100"},
        {"binary fraction hidden", 0.1, "0.1"},
        {"third", 1.0 / 3, "0.333333333333333"},
        {"two thirds rounds up", 2.0 / 3, "0.666666666666667"},
        {"fifteen integer digits", 999999999999999.0, "999999999999999"},
        {"sixteen integer digits", 1e15, "1E15"},
        {"rounds up to 1E15", 999999999999999.9, "1E15"},
        {"rounding at the 15th digit", 123456.7890123456, "123456.789012346"},
        {"large with digits", 123456789012345678.0, "1.23456789012346E17"},
        {"1E20", 1e20, "1E20"},
        {"negative 1E20", -1e20, "-1E20"},
        {"tiny", 1.5e-10, "1.5E-10"},
    };
    for (const NumberCase& c : cases)
        EXPECT_EQ(text::FormatGeneral(c.value, "."), c.shown) << c.label;
}

TEST(GeneralNumberForm, UsesTheLocaleSeparator)
{
    EXPECT_EQ(text::FormatGeneral(1234.5, ","), "1234,5");
    EXPECT_EQ(text::FormatGeneral(1.5e-10, ","), "1,5E-10");
    EXPECT_EQ(text::FormatGeneral(1e20, ","), "1E20");
}

TEST(FixedPointValues, HeldWithFourDecimals)
{
    struct Case {
        const char* input;
        bool ok;
        const char* shown;
    } cases[] = {
        {"2.5", true, "2.5"},
        {"3", true, "3"},
        {"1.23456", true, "1.2346"},
        {"1.23454", true, "1.2345"},
        {"-1.23455", true, "-1.2346"},
        {"0.00005", true, "0.0001"},
        {"0.00004", true, "0"},
        {"-0.5", true, "-0.5"},
        {"1.10", true, "1.1"},
        {"100", true, "100"},
        {"12.", true, "12"},
        {".5", true, "0.5"},
        {" 7 ", true, "7"},
        {"1e3", true, "1000"},
        {"922337203685477.5807", true, "922337203685477.5807"},
        {"-922337203685477.5807", true, "-922337203685477.5807"},
        {"922337203685477.5808", false, ""},
        {"123456789012345678901234567890", false, ""},
        {"abc", false, ""},
        {"", false, ""},
        {"NaN", false, ""},
        {"1.2.3", false, ""},
    };
    for (const Case& c : cases) {
        std::int64_t scaled = 0;
        EXPECT_EQ(text::ParseBcd(c.input, scaled), c.ok) << c.input;
        if (c.ok) {
            EXPECT_EQ(text::FormatBcd(scaled, "."), c.shown) << c.input;
        }
    }
    std::int64_t scaled = 0;
    ASSERT_TRUE(text::ParseBcd("2.5", scaled));
    EXPECT_EQ(text::FormatBcd(scaled, ","), "2,5");
    EXPECT_FALSE(text::BcdFromDouble(1e300, scaled));
    ASSERT_TRUE(text::BcdFromDouble(1.23456, scaled));
    EXPECT_EQ(scaled, 12346);
}

TEST(DateForms, LetterFormats)
{
    struct Case {
        const char* format;
        int y, m, d, h, n, s;
        const char* shown;
    } cases[] = {
        {"yyyy-m-d", 2024, 1, 5, 0, 0, 0, "2024-1-5"},
        {"dd/mm/yyyy", 2024, 1, 5, 0, 0, 0, "05/01/2024"},
        {"yy.mm.dd", 2009, 12, 31, 0, 0, 0, "09.12.31"},
        {"mmm d, yyyy", 2024, 1, 5, 0, 0, 0, "Jan 5, 2024"},
        {"dddd mmmm d", 2024, 1, 5, 0, 0, 0, "Friday January 5"},
        {"yyyy'年'm'月'd'日'", 2024, 1, 5, 0, 0, 0, "2024年1月5日"},
        {"h:nn:ss", 2024, 1, 5, 9, 5, 7, "9:05:07"},
        {"hh:nn:ss", 2024, 1, 5, 9, 5, 7, "09:05:07"},
        {"h:mm", 2024, 1, 5, 13, 5, 7, "13:05"},
        {"hh:nn:ss am/pm", 2024, 1, 5, 13, 5, 9, "01:05:09 pm"},
        {"h:nn AMPM", 2024, 1, 5, 0, 30, 0, "12:30 AM"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::FormatDateTime(c.format, c.y, c.m, c.d, c.h, c.n, c.s, 0), c.shown) << c.format;
}

TEST(DateForms, TimestampLeavesOutMidnight)
{
    platform::LocaleSettings locale;  // "yyyy-m-d", "h:nn:ss"
    const std::int32_t date = text::PackDate(2024, 1, 5);
    EXPECT_EQ(text::FormatTimestamp(text::PackTimestamp(date, 0), locale), "2024-1-5");
    EXPECT_EQ(text::FormatTimestamp(text::PackTimestamp(date, text::PackTime(0, 0, 0, 500)), locale), "2024-1-5");
    EXPECT_EQ(text::FormatTimestamp(text::PackTimestamp(date, text::PackTime(0, 0, 1, 0)), locale),
              "2024-1-5 0:00:01");
    EXPECT_EQ(text::FormatTimestamp(text::PackTimestamp(date, text::PackTime(13, 5, 9, 0)), locale),
              "2024-1-5 13:05:09");
}

TEST(DateForms, StrftimePatternsBecomeLetterFormats)
{
    EXPECT_EQ(platform::FormatFromStrftime("%m/%d/%y"), "mm/dd/yy");
    EXPECT_EQ(platform::FormatFromStrftime("%d.%m.%Y"), "dd.mm.yyyy");
    EXPECT_EQ(platform::FormatFromStrftime("%H:%M:%S"), "hh:nn:ss");
    EXPECT_EQ(platform::FormatFromStrftime("%I:%M:%S %p"), "hh:nn:ss ampm");
    EXPECT_EQ(platform::FormatFromStrftime("%F"), "yyyy-mm-dd");
    EXPECT_EQ(platform::FormatFromStrftime("%Y年%m月%d日"), "yyyy年mm月dd日");
    EXPECT_EQ(platform::FormatFromStrftime("%Hh%M"), "hh\"h\"nn");
}

TEST(DateForms, WindowsPicturesBecomeLetterFormats)
{
    const struct {
        const char* picture;
        const char* letters;
    } cases[] = {
        {"M/d/yyyy", "m/d/yyyy"},
        {"dd.MM.yyyy", "dd.mm.yyyy"},
        {"yyyy-MM-dd", "yyyy-mm-dd"},
        {"d MMMM yyyy", "d mmmm yyyy"},
        {"dddd, MMMM d, yyyy", "dddd, mmmm d, yyyy"},
        {"yy/M/d", "yy/m/d"},
        {"yyyy'年'M'月'd'日'", "yyyy年m月d日"},
        {"'Day' d", "\"Day \"d"},
        {"h:mm:ss tt", "h:nn:ss ampm"},
        {"HH:mm:ss", "hh:nn:ss"},
        {"H:mm", "h:nn"},
        {"tt h:mm:ss", "ampm h:nn:ss"},
        {"h:mm t", "h:nn A/P"},
        {"gg yyyy/M/d", "yyyy/m/d"},
        {"HH'h'mm", "hh\"h\"nn"},
        {"d''M", "d\"'\"m"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::FormatFromWindowsPicture(c.picture), c.letters) << c.picture;
    // A converted format shows what the regional settings would.
    EXPECT_EQ(platform::FormatDateTime(platform::FormatFromWindowsPicture("h:mm:ss tt"), 2024, 2, 29, 13, 5, 9, 0),
              "1:05:09 PM");
    EXPECT_EQ(platform::FormatDateTime(platform::FormatFromWindowsPicture("dd.MM.yyyy"), 2024, 2, 9, 0, 0, 0, 0),
              "09.02.2024");
}

#ifdef _WIN32
// Wine's default user settings are those of English (United States).
TEST(DateForms, RegionalSettingsAreRead)
{
    const platform::LocaleSettings settings = platform::ReadSystemLocale();
    EXPECT_EQ(settings.decimalSeparator, ".");
    EXPECT_EQ(settings.shortDateFormat, "m/d/yyyy");
    EXPECT_EQ(settings.longTimeFormat, "h:nn:ss ampm");
}
#else
TEST(DateForms, PlainLocaleGivesTheDefaults)
{
    const char* saved = std::getenv("LC_ALL");
    const std::string keep = saved ? saved : "";
    setenv("LC_ALL", "C", 1);
    const platform::LocaleSettings settings = platform::ReadSystemLocale();
    if (saved)
        setenv("LC_ALL", keep.c_str(), 1);
    else
        unsetenv("LC_ALL");
    EXPECT_EQ(settings.decimalSeparator, ".");
    EXPECT_EQ(settings.shortDateFormat, "yyyy-m-d");
    EXPECT_EQ(settings.longTimeFormat, "h:nn:ss");
}
#endif

TEST(TextValues, EightBitKindsCutAtNulAndSizeWithoutSplittingACharacter)
{
    struct Case {
        const char* label;
        TFieldType kind;
        int size;
        std::string input;
        std::string stored;
    } cases[] = {
        {"fits", TFieldType::ftString, 10, "abc", "abc"},
        {"cut to size", TFieldType::ftString, 5, "abcdefg", "abcde"},
        {"cut at NUL", TFieldType::ftFixedChar, 10, std::string("ab\0cd", 5), "ab"},
        {"no half character", TFieldType::ftString, 4, "ab中", "ab"},
        {"whole character fits", TFieldType::ftString, 5, "ab中", "ab中"},
        {"guid", TFieldType::ftGuid, 38, "{6F9619FF-8B86-D011-B42D-00C04FC964FF}",
         "{6F9619FF-8B86-D011-B42D-00C04FC964FF}"},
        {"invalid bytes repaired", TFieldType::ftString, 10, "a\xff" "b", "a\xEF\xBF\xBD" "b"},
        {"wide text is not cut", TFieldType::ftWideString, 2, "abcdef", "abcdef"},
        {"wide keeps NUL", TFieldType::ftWideString, 10, std::string("a\0b", 3), std::string("a\0b", 3)},
        {"truncated sequence", TFieldType::ftMemo, 0, "ab\xe4\xb8", "ab\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        std::string scratch;
        EXPECT_EQ(std::string(text::StoredText(c.kind, c.size, c.input, scratch)), c.stored) << c.label;
    }
}

TEST(TextValues, CharacterCountsAndCase)
{
    EXPECT_EQ(text::Utf8PrefixChars("数据表abc", 2), 6u);
    EXPECT_EQ(text::Utf8PrefixChars("abc", 10), 3u);
    EXPECT_EQ(text::BytesToText(std::string("A\xff", 2)), "A\xC3\xBF");
    EXPECT_EQ(text::TextToBytes("A\xC3\xBF"), std::string("A\xff", 2));
    EXPECT_TRUE(text::EqualNoCase("Name", "NAME"));
    EXPECT_TRUE(text::EqualNoCase("用户表", "用户表"));
    EXPECT_TRUE(text::EqualNoCase("Ä", "ä"));
    EXPECT_FALSE(text::EqualNoCase("a", "ab"));
    EXPECT_FALSE(text::EqualNoCase("用户", "用户表"));
}

ColumnInfo Column(AdoType type, std::int64_t size = 0, int precision = 0, int scale = -1, bool autoInc = false)
{
    ColumnInfo c;
    c.type = type;
    c.size = size;
    c.precision = precision;
    c.scale = scale;
    c.autoIncrement = autoInc;
    return c;
}

TEST(FieldKinds, ChosenFromTheProviderType)
{
    using T = TFieldType;
    struct Case {
        const char* label;
        ColumnInfo column;
        T kind;
        int size, precision, width;
        TAlignment alignment;
    } cases[] = {
        {"numeric 9,0", Column(AdoType::Numeric, 0, 9, 0), T::ftInteger, 0, 0, 10, TAlignment::taRightJustify},
        {"numeric 10,0", Column(AdoType::Numeric, 0, 10, 0), T::ftBCD, 0, 10, 11, TAlignment::taRightJustify},
        {"numeric 12,2", Column(AdoType::Numeric, 0, 12, 2), T::ftBCD, 2, 12, 13, TAlignment::taRightJustify},
        {"numeric of unknown precision", Column(AdoType::Numeric, 0, 0, 0), T::ftBCD, 0, 0, 10,
         TAlignment::taRightJustify},
        {"decimal without scale", Column(AdoType::Decimal, 0, 20, -1), T::ftBCD, 4, 20, 21,
         TAlignment::taRightJustify},
        {"currency", Column(AdoType::Currency, 0, 19, 4), T::ftBCD, 4, 19, 20, TAlignment::taRightJustify},
        {"tinyint", Column(AdoType::TinyInt), T::ftSmallint, 0, 0, 10, TAlignment::taRightJustify},
        {"integer", Column(AdoType::Integer), T::ftInteger, 0, 0, 10, TAlignment::taRightJustify},
        {"counter", Column(AdoType::Integer, 0, 0, -1, true), T::ftAutoInc, 0, 0, 10, TAlignment::taRightJustify},
        {"unsigned int", Column(AdoType::UnsignedInt), T::ftInteger, 0, 0, 10, TAlignment::taRightJustify},
        {"error", Column(AdoType::Error), T::ftInteger, 0, 0, 10, TAlignment::taRightJustify},
        {"unsigned small", Column(AdoType::UnsignedSmallInt), T::ftWord, 0, 0, 10, TAlignment::taRightJustify},
        {"bigint", Column(AdoType::BigInt), T::ftLargeint, 0, 0, 15, TAlignment::taRightJustify},
        {"single", Column(AdoType::Single), T::ftFloat, 0, 15, 10, TAlignment::taRightJustify},
        {"boolean", Column(AdoType::Boolean), T::ftBoolean, 0, 0, 5, TAlignment::taLeftJustify},
        {"date", Column(AdoType::DBDate), T::ftDate, 0, 0, 10, TAlignment::taLeftJustify},
        {"time", Column(AdoType::DBTime), T::ftTime, 0, 0, 10, TAlignment::taLeftJustify},
        {"timestamp", Column(AdoType::DBTimeStamp), T::ftDateTime, 0, 0, 18, TAlignment::taLeftJustify},
        {"filetime", Column(AdoType::FileTime), T::ftDateTime, 0, 0, 18, TAlignment::taLeftJustify},
        {"varchar", Column(AdoType::VarChar, 20), T::ftString, 20, 0, 20, TAlignment::taLeftJustify},
        {"char", Column(AdoType::Char, 5), T::ftFixedChar, 5, 0, 5, TAlignment::taLeftJustify},
        {"wide", Column(AdoType::VarWChar, 200), T::ftWideString, 200, 0, 200, TAlignment::taLeftJustify},
        {"bstr", Column(AdoType::BSTR, 30), T::ftWideString, 30, 0, 30, TAlignment::taLeftJustify},
        {"long text", Column(AdoType::LongVarChar, 1 << 30), T::ftMemo, 0, 0, 10, TAlignment::taLeftJustify},
        {"long wide", Column(AdoType::LongVarWChar), T::ftMemo, 0, 0, 10, TAlignment::taLeftJustify},
        {"binary", Column(AdoType::Binary, 16), T::ftBytes, 16, 0, 10, TAlignment::taLeftJustify},
        {"varbinary", Column(AdoType::VarBinary, 16), T::ftVarBytes, 16, 0, 10, TAlignment::taLeftJustify},
        {"long binary", Column(AdoType::LongVarBinary), T::ftBlob, 0, 0, 10, TAlignment::taLeftJustify},
        {"guid", Column(AdoType::Guid, 16), T::ftGuid, 38, 0, 38, TAlignment::taLeftJustify},
        {"variant", Column(AdoType::Variant), T::ftVariant, 0, 0, 15, TAlignment::taLeftJustify},
        {"unsupported", Column(AdoType::Unsupported), T::ftUnknown, 0, 0, 10, TAlignment::taLeftJustify},
    };
    for (const Case& c : cases) {
        const T kind = text::KindFor(c.column);
        EXPECT_EQ(kind, c.kind) << c.label;
        const int size = text::SizeFor(kind, c.column);
        const int precision = text::PrecisionFor(kind, c.column);
        EXPECT_EQ(size, c.size) << c.label;
        EXPECT_EQ(precision, c.precision) << c.label;
        EXPECT_EQ(text::DefaultDisplayWidth(kind, size, precision), c.width) << c.label;
        EXPECT_EQ(text::AlignmentFor(kind), c.alignment) << c.label;
    }
}

TEST(FieldKinds, TypeLabels)
{
    EXPECT_EQ(text::TypeLabel(TFieldType::ftMemo, false), "(MEMO)");
    EXPECT_EQ(text::TypeLabel(TFieldType::ftMemo, true), "(Memo)");
    EXPECT_EQ(text::TypeLabel(TFieldType::ftVarBytes, false), "(VARBYTES)");
    EXPECT_EQ(text::TypeLabel(TFieldType::ftBlob, true), "(Blob)");
}

} // namespace

namespace {

TEST(TextValues, AssignedTextKeepsAtMostSize)
{
    std::string wide250;
    for (int i = 0; i < 250; ++i)
        wide250 += i % 2 ? "表" : "a";
    struct Case {
        const char* label;
        TFieldType kind;
        int size;
        std::string input;
        std::string kept;
    } cases[] = {
        {"250 characters into 200", TFieldType::ftWideString, 200, wide250, wide250.substr(0, 100 * 4)},
        {"wide counts characters", TFieldType::ftWideString, 3, "数据表格", "数据表"},
        {"8-bit counts bytes", TFieldType::ftString, 7, "数据表格", "数据"},
        {"8-bit exact", TFieldType::ftFixedChar, 3, "abc", "abc"},
        {"memo keeps all", TFieldType::ftMemo, 3, "abcdef", "abcdef"},
        {"invalid repaired", TFieldType::ftWideString, 10, "a\xc3", "a\xEF\xBF\xBD"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(text::AssignedText(c.kind, c.size, c.input), c.kept) << c.label;
}

} // namespace
