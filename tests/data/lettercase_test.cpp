// Field names and the other texts of the record sets that ignore letter
// case, against the one table every such look-up is held to.
#include "data/DataSet.h"
#include "data/FieldText.h"
#include "platform/LetterCaseCases.h"
#include "platform/Locale.h"
#include "testsupport/LocalStoreFile.h"

#include <gtest/gtest.h>

using namespace querlin;
using namespace querlin::data;
using querlin::test::FixedLocale;
using querlin::test::kLetterCaseCases;

namespace {

platform::LocaleSettings WithLetterCaseOf(const char* locale)
{
    platform::LocaleSettings settings;
    settings.letterCaseLocale = locale;
    return settings;
}

} // namespace

TEST(TextValues, EqualNoCaseGivesTheOneAnswer)
{
    for (const char* locale : {"", "de_DE.UTF-8", "tr_TR.UTF-8"}) {
        FixedLocale fixed(WithLetterCaseOf(locale));
        const bool turkish = std::string(locale).rfind("tr", 0) == 0;
        for (const auto& c : kLetterCaseCases)
            EXPECT_EQ(text::EqualNoCase(c.a, c.b), turkish ? c.equalInTurkish : c.equal) << c.label << " in " << locale;
    }
}

TEST(RecordSetFields, FieldNamedGivesTheOneAnswer)
{
    test::LocalStoreFile store;
    for (const char* locale : {"", "tr_TR.UTF-8"}) {
        FixedLocale fixed(WithLetterCaseOf(locale));
        const bool turkish = std::string(locale).rfind("tr", 0) == 0;
        for (const auto& c : kLetterCaseCases) {
            TADOQuery q;
            store.OpenQuery(q, std::string("SELECT 1 AS \"") + c.a + "\"");
            bool found = true;
            try {
                EXPECT_EQ(q.FieldNamed(c.b).FieldName(), c.a) << c.label;
            } catch (const Error&) {
                found = false;
            }
            EXPECT_EQ(found, turkish ? c.equalInTurkish : c.equal) << c.label << " in " << locale;
        }
    }
}
