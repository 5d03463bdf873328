// The SQL lexer as the local store reads its statements, and where the
// dialects part ways; the read-only check's readings are tested through
// IsSingleQuery in querytext_test.
#include "data/SqlLexer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace querlin::data;

namespace {

// "W:word N:name S:string P:punct ;" for each token.
std::string Shape(std::string_view sql, const SqlDialect& dialect)
{
    std::string out;
    for (const SqlToken& t : LexSql(sql, dialect)) {
        if (!out.empty())
            out += ' ';
        switch (t.kind) {
        case SqlToken::Word: out += "W:"; break;
        case SqlToken::Name: out += "N:"; break;
        case SqlToken::String: out += "S:"; break;
        case SqlToken::Punct: out += "P:"; break;
        case SqlToken::Semicolon: out += ";"; continue;
        }
        out += t.text;
    }
    return out;
}

constexpr SqlDialect kLocalStore{.backtickNames = true, .bracketNames = true, .dotInWords = true,
                                 .hashInWords = false};
constexpr SqlDialect kHash{.backslashEscapes = true, .hashComments = true, .backtickNames = true};
constexpr SqlDialect kPostgres{.dollarQuotes = true, .nestedComments = true};

} // namespace

TEST(SqlLexer, TokensAsEachDialectReadsThem)
{
    struct Case {
        const char* label;
        const char* sql;
        SqlDialect dialect;
        const char* shape;
    };
    const Case cases[] = {
        {"quoted names of three kinds", "create table [a b] (\"c\"\"d\" int, `e` text)", kLocalStore,
         "W:create W:table N:a b P:( N:c\"d W:int P:, N:e W:text P:)"},
        {"brackets take no doubling", "[a]]b]", kLocalStore, "N:a P:] W:b P:]"},
        {"dotted owner and comments", "select x.y -- gone\n/* gone */from o.t;", kLocalStore,
         "W:select W:x.y W:from W:o.t ;"},
        {"hash is punctuation in the local store", "a#b", kLocalStore, "W:a P:# W:b"},
        {"hash opens a comment where the server says so", "select 1 # ; drop", kHash, "W:select W:1"},
        {"backslash escapes keep the literal open", "'it\\'s' ;", kHash, "S:it's ;"},
        {"unclosed literal runs to the end", "select 'abc", kLocalStore, "W:select S:abc"},
        {"dollar quotes hold a semicolon", "select $x$;drop$x$ ;", kPostgres, "W:select S:;drop ;"},
        {"nested comments", "/* a /* b */ c */ select", kPostgres, "W:select"},
        {"the same nested comment ends early elsewhere", "/* a /* b */ c */ select", kLocalStore,
         "W:c P:* P:/ W:select"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Shape(c.sql, c.dialect), c.shape);
    }
}

TEST(SqlLexer, OffsetsCoverEachTokenAsWritten)
{
    const std::string sql = "create  table [x] ('a''b');";
    const std::vector<SqlToken> tokens = LexSql(sql, kLocalStore);
    ASSERT_EQ(tokens.size(), 7u);
    EXPECT_EQ(sql.substr(tokens[2].begin, tokens[2].end - tokens[2].begin), "[x]");
    EXPECT_EQ(sql.substr(tokens[4].begin, tokens[4].end - tokens[4].begin), "'a''b'");
    EXPECT_EQ(tokens[4].text, "a'b");
    EXPECT_EQ(tokens[6].kind, SqlToken::Semicolon);
}
