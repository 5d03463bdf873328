// Letter case through every look-up that ignores it, against one table; on
// Linux and, in the Windows pass, under Wine, where the same rows must hold.
#include <gtest/gtest.h>

#include "platform/LetterCase.h"
#include "platform/Locale.h"
#include "LetterCaseCases.h"
#include "testsupport/TestSupport.h"

#ifdef _WIN32
#include "platform/Utf8.h"

#include <windows.h>
#else
#include "platform/FileRegistry.h"

#include <cstdlib>
#endif

#include <functional>
#include <string>
#include <vector>

using namespace querlin::platform;
using querlin::test::kLetterCaseCases;

namespace {

using SameName = std::function<bool(const std::string&, const std::string&)>;

struct Path {
    const char* name;
    SameName same;
    bool turkish;  // follows Turkish rules: answers equalInTurkish
};

// The user's locale settings with letter case of the named locale, for
// the life of the object.
class CaseLocale {
public:
    explicit CaseLocale(const char* name) : saved_(UserLocale())
    {
        LocaleSettings settings;
        settings.letterCaseLocale = name;
        SetUserLocaleForTesting(settings);
    }
    ~CaseLocale() { SetUserLocaleForTesting(saved_); }

private:
    LocaleSettings saved_;
};

bool SameCapitals(const LetterCase& rules, const std::string& a, const std::string& b)
{
    return rules.ToUpper(a) == rules.ToUpper(b);
}

} // namespace

TEST(LetterCase, EveryLookUpGivesTheOneAnswer)
{
    std::vector<Path> paths = {
        {"ordinal", [](auto& a, auto& b) { return LetterCase::Ordinal().Equal(a, b); }, false},
        {"ordinal capitals", [](auto& a, auto& b) { return SameCapitals(LetterCase::Ordinal(), a, b); }, false},
        {"German locale", [](auto& a, auto& b) { return LetterCase::ForLocale("de_DE.UTF-8").Equal(a, b); }, false},
        {"English locale by its Windows name",
         [](auto& a, auto& b) { return LetterCase::ForLocale("en-US").Equal(a, b); }, false},
        {"user's locale Russian",
         [](auto& a, auto& b) {
             CaseLocale russian("ru_RU.UTF-8");
             return LetterCase::User().Equal(a, b);
         },
         false},
        {"Turkish locale", [](auto& a, auto& b) { return LetterCase::ForLocale("tr_TR").Equal(a, b); }, true},
        {"Turkish capitals", [](auto& a, auto& b) { return SameCapitals(LetterCase::ForLocale("tr-TR"), a, b); },
         true},
        {"user's locale Turkish",
         [](auto& a, auto& b) {
             CaseLocale turkish("tr_TR.UTF-8");
             return LetterCase::User().Equal(a, b);
         },
         true},
        {"Azeri locale", [](auto& a, auto& b) { return LetterCase::ForLocale("az-Latn-AZ").Equal(a, b); }, true},
    };
#ifdef _WIN32
    paths.push_back({"the system's ordinal comparison",
                     [](auto& a, auto& b) {
                         const std::u16string wa = Utf8ToUtf16(a), wb = Utf8ToUtf16(b);
                         return CompareStringOrdinal(reinterpret_cast<const wchar_t*>(wa.data()), int(wa.size()),
                                                     reinterpret_cast<const wchar_t*>(wb.data()), int(wb.size()),
                                                     TRUE) == CSTR_EQUAL;
                     },
                     false});
#else
    // The Linux hive holds the registry names: Windows' rules whatever the
    // user's language, so under Turkish rules too.
    querlin::test::TempDir dir;
    FileRegistry hive(dir.File("registry.reg"));
    int keyNumber = 0;
    paths.push_back({"hive value name",
                     [&](auto& a, auto& b) {
                         const std::string key = "\\Names\\" + std::to_string(++keyNumber);
                         hive.OpenOrCreateKey(key)->WriteString(a, "1", RegType::Sz);
                         return hive.Peek(key, b).has_value();
                     },
                     false});
    paths.push_back({"hive key path",
                     [&](auto& a, auto& b) {
                         CaseLocale turkish("tr_TR.UTF-8");
                         const std::string key = "\\Paths\\" + std::to_string(++keyNumber) + "\\";
                         hive.OpenOrCreateKey(key + a)->WriteString("v", "1", RegType::Sz);
                         return hive.Peek(key + b, "v").has_value();
                     },
                     false});
#endif
    for (const auto& c : kLetterCaseCases) {
        for (const Path& path : paths) {
            const bool expected = path.turkish ? c.equalInTurkish : c.equal;
            EXPECT_EQ(path.same(c.a, c.b), expected) << c.label << " through " << path.name;
            EXPECT_EQ(path.same(c.b, c.a), expected) << c.label << " (the other way) through " << path.name;
        }
    }
}

TEST(LetterCase, LocaleNamesGiveTheirLanguage)
{
    const std::pair<const char*, const char*> cases[] = {
        {"tr_TR.UTF-8", "tr_TR"}, {"de_DE@euro", "de_DE"}, {"tr-TR", "tr-TR"},
        {"C", ""},                {"C.UTF-8", ""},         {"POSIX", ""},
        {"", ""},
    };
    for (const auto& [name, language] : cases)
        EXPECT_EQ(LetterCaseLocaleName(name), language) << name;
#ifndef _WIN32
    const char* all = std::getenv("LC_ALL");
    const std::string savedAll = all ? all : "";
    const char* ctype = std::getenv("LC_CTYPE");
    const std::string savedCtype = ctype ? ctype : "";
    unsetenv("LC_ALL");
    setenv("LC_CTYPE", "tr_TR.UTF-8", 1);
    EXPECT_EQ(ReadSystemLocale().letterCaseLocale, "tr_TR");
    if (ctype)
        setenv("LC_CTYPE", savedCtype.c_str(), 1);
    else
        unsetenv("LC_CTYPE");
    if (all)
        setenv("LC_ALL", savedAll.c_str(), 1);
#endif
}
