#include <gtest/gtest.h>

#include "data/ConnectionString.h"
#include "login/Database.h"

using namespace querlin::login;

namespace {

// The connection string as the unquoted template writes it.
std::string Template(const std::string& pass, const std::string& user, const std::string& sid)
{
    return "Provider=MSDASQL.1;Password=" + pass + ";Persist Security Info=True;User ID=" + user +
           ";Mode=Read;Extended Properties=\"DSN=" + sid + ";UID=" + user + ";PWD=" + pass +
           ";SERVER=" + sid + ";\"";
}

struct OrdinaryCase {
    const char* label;
    const char* password;
    const char* user;
    const char* sid;
};

} // namespace

TEST(DatabaseConnectionString, OrdinaryValuesAreWrittenAsTheTemplateWritesThem)
{
    const OrdinaryCase cases[] = {
        {"typical", "manager", "system", "site042"},
        {"empty password", "", "system", "site042"},
        {"punctuation that needs no quotes", "p@ss-w0rd!#%", "SCOTT", "ORCL"},
        {"inner blank", "two words", "system", "site042"},
        {"chinese", "密码", "用户", "站点"},
        {"quote not leading", "ab'c", "system", "site042"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DatabaseConnectionString(c.password, c.user, c.sid), Template(c.password, c.user, c.sid))
            << c.label;
}

TEST(DatabaseConnectionString, HostileValuesAreQuotedOnBothLevels)
{
    struct Case {
        const char* label;
        const char* password;
        const char* user;
        const char* expected;
    };
    const Case cases[] = {
        {"semicolon", "a;b", "system",
         "Provider=MSDASQL.1;Password=\"a;b\";Persist Security Info=True;User ID=system;Mode=Read;"
         "Extended Properties=\"DSN=site042;UID=system;PWD={a;b};SERVER=site042;\""},
        {"smuggled attribute", "x;DSN=other", "system",
         "Provider=MSDASQL.1;Password=\"x;DSN=other\";Persist Security Info=True;User ID=system;Mode=Read;"
         "Extended Properties=\"DSN=site042;UID=system;PWD={x;DSN=other};SERVER=site042;\""},
        {"double quote", "a\"b", "system",
         "Provider=MSDASQL.1;Password=a\"b;Persist Security Info=True;User ID=system;Mode=Read;"
         "Extended Properties=\"DSN=site042;UID=system;PWD=a\"\"b;SERVER=site042;\""},
        {"braces", "{x}}y", "system",
         "Provider=MSDASQL.1;Password={x}}y;Persist Security Info=True;User ID=system;Mode=Read;"
         "Extended Properties=\"DSN=site042;UID=system;PWD={{x}}}}y};SERVER=site042;\""},
        {"leading quote and semicolon in user", "pw", "'o;k",
         "Provider=MSDASQL.1;Password=pw;Persist Security Info=True;User ID=\"'o;k\";Mode=Read;"
         "Extended Properties=\"DSN=site042;UID={'o;k};PWD=pw;SERVER=site042;\""},
        {"leading double quote", "\"x", "system",
         "Provider=MSDASQL.1;Password=\"\"\"x\";Persist Security Info=True;User ID=system;Mode=Read;"
         "Extended Properties=\"DSN=site042;UID=system;PWD=\"\"x;SERVER=site042;\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DatabaseConnectionString(c.password, c.user, "site042"), c.expected) << c.label;
}

TEST(DatabaseConnectionString, EveryValueReadsBackWholeThroughBothLevels)
{
    struct Case {
        const char* label;
        const char* password;
        const char* user;
    };
    const Case cases[] = {
        {"plain", "manager", "system"},
        {"semicolon", "pa;ss", "system"},
        {"smuggled attributes", "x;DSN=nosuch;UID=postgres", "system"},
        {"double quotes", "\"quoted\"", "system"},
        {"single quotes", "'x'", "it's"},
        {"braces", "{a}b}", "system"},
        {"closing brace then semicolon", "a};b", "system"},
        {"outer blanks", " pad ", "system"},
        {"everything", "'\";{}=; x", "fav;o'k\"u"},
        {"chinese", "密码;{}", "用户"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto outer = querlin::data::ConnectionString::ParseAdo(
            DatabaseConnectionString(c.password, c.user, "site042"));
        EXPECT_EQ(outer.Value("Password"), c.password);
        EXPECT_EQ(outer.Value("User ID"), c.user);
        EXPECT_EQ(outer.Value("Provider"), "MSDASQL.1");
        EXPECT_EQ(outer.Value("Mode"), "Read");
        EXPECT_EQ(outer.Entries().size(), 6u);
        const auto inner = querlin::data::ConnectionString::ParseOdbc(*outer.Value("Extended Properties"));
        ASSERT_EQ(inner.Entries().size(), 4u);
        EXPECT_EQ(inner.Value("DSN"), "site042");
        EXPECT_EQ(inner.Value("UID"), c.user);
        EXPECT_EQ(inner.Value("PWD"), c.password);
        EXPECT_EQ(inner.Value("SERVER"), "site042");
    }
}
