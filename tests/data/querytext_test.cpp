// What a read-only connection lets through: one query, whatever quotes and
// comments hide a ';' or a second statement in any server's reading.
#include "data/QueryText.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

using querlin::data::IsSingleQuery;

namespace {

struct QueryCase {
    const char* label;
    std::string sql;
    bool allowed;
};

void PrintTo(const QueryCase& c, std::ostream* os)
{
    *os << c.label;
}

class SingleQuery : public ::testing::TestWithParam<QueryCase> {};

TEST_P(SingleQuery, AllowsOnlyOneQuery)
{
    const QueryCase& c = GetParam();
    EXPECT_EQ(IsSingleQuery(c.sql), c.allowed) << c.sql;
}

const QueryCase kCases[] = {
    // What the program itself sends.
    {"UserList", "SELECT username as 用户 FROM ALL_USERS  order by 用户", true},
    {"TablesOfAUser", "SELECT TABLE_NAME as 用户表 FROM SYS.ALL_TABLES WHERE OWNER = 'O''BRIEN' order by 用户表", true},
    {"RowsOfATable", "SELECT * FROM BRAVEL.T_RUDATASOURCETYPE", true},
    {"LowerCaseSelect", "select 1 from dual", true},
    {"MixedCaseWith", "WiTh t AS (SELECT 1 AS n) SELECT n FROM t", true},
    {"LeadingBlanksAndComments", " \t\r\n-- why\n/* what */ SELECT 1", true},
    {"TrailingSemicolon", "SELECT 1;", true},
    {"TrailingSemicolonBlanksAndComments", "SELECT 1 ;  -- done\n /* really */ \n", true},
    {"SemicolonInLiteral", "SELECT ';DROP TABLE v' FROM dual", true},
    {"SemicolonAfterDoubledQuote", "SELECT 'it''s;DROP TABLE v' FROM dual", true},
    {"SemicolonInQuotedName", "SELECT \"a;b\" FROM \"x;\"\"DROP\"", true},
    {"SemicolonInLineComment", "SELECT 1 -- ;DROP TABLE v\nFROM dual", true},
    {"SemicolonInBlockComment", "SELECT 1 /* ;DROP TABLE v */ FROM dual", true},
    {"ChineseNamesAndHash", "SELECT 用户#1, a$b FROM SYS.ALL_TABLES", true},
    {"WriteWordInsideALiteral", "SELECT * FROM t WHERE c = 'DELETE INTO'", true},
    {"WriteWordAsPartOfAName", "SELECT UPDATED_AT, DELETED, INTO_X FROM t", true},

    // Other statements.
    {"Update", "UPDATE ZED.VICTIM SET V = 1", false},
    {"Drop", "drop table zed.victim", false},
    {"Empty", "", false},
    {"OnlyComments", "-- SELECT\n/* SELECT */", false},
    {"SelectInsideAComment", "/* SELECT */ DELETE FROM t", false},
    {"ParenthesisFirst", "(SELECT 1)", false},
    {"CommentGlueingAWord", "SEL/**/ECT 1", false},

    // A second statement.
    {"SecondStatement", "SELECT * FROM ZED.X;DROP TABLE ZED.VICTIM", false},
    {"SecondStatementAfterNewline", "SELECT * FROM ZED.X;\nDROP TABLE ZED.VICTIM", false},
    {"SecondSelect", "SELECT 1; SELECT 2", false},
    {"SecondStatementAfterAComment", "SELECT 1; /* x */ DROP TABLE v", false},
    {"SecondStatementAfterTwoSemicolons", "SELECT 1;; DROP TABLE v", false},
    {"SemicolonThenAPunctuation", "SELECT 1; (", false},
    {"LiteralAfterTheSemicolon", "SELECT 1; 'x'", false},
    {"SecondStatementAfterAClosedLiteral", "SELECT 'a'';'; DROP TABLE v", false},
    {"LineCommentEndsAtTheNewline", "SELECT 1 -- x\n; DROP TABLE v", false},

    // Writes inside one statement.
    {"WithDelete", "WITH gone AS (DELETE FROM v RETURNING *) SELECT * FROM gone", false},
    {"WithInsert", "with t as (insert into v values (1) returning *) select * from t", false},
    {"SelectInto", "SELECT * INTO copy_of_v FROM v", false},
    {"SelectForUpdate", "SELECT * FROM v FOR UPDATE", false},

    // Readings of servers that quote otherwise: a ';' hidden from one
    // reading but not from another is refused.
    {"BackslashEscapedQuote", "SELECT '\\''; DROP TABLE v; --'", false},
    {"BackslashBeforeTheClosingQuote", "SELECT 'a\\'; DROP TABLE v; --'", false},
    {"DollarQuoteHidingAQuote", "SELECT $a$ ' $a$; DROP TABLE v; --'", false},
    {"DollarQuotedSemicolon", "SELECT $$;$$", false},
    {"EscapeStringLiteral", "SELECT E'\\''; DROP TABLE v; --'", false},
    {"NestedCommentHidingNothing", "SELECT 1 /* /* */ ; DROP TABLE v */", false},
    {"OracleQQuote", "SELECT q'[ ' ]'; DROP TABLE v; --'", false},
    {"HashComment", "SELECT 1 # '\n; DROP TABLE v; -- '", false},
    {"HashCommentAfterAWord", "SELECT 1#'\n; DROP TABLE v; -- '", false},
    {"DashesWithoutABlank", "SELECT 1 --x ; DROP TABLE v", false},
    {"BangComment", "SELECT 1 /*! ; DROP TABLE v */", false},
    {"BacktickName", "SELECT `'` FROM t; DROP TABLE v; -- '", false},

    // Texts that never end their quote or comment run no further statement.
    {"UnterminatedLiteral", "SELECT 'abc;DROP TABLE v", true},
    {"UnterminatedComment", "SELECT 1 /* ;DROP TABLE v", true},
};

INSTANTIATE_TEST_SUITE_P(ReadOnly, SingleQuery, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<QueryCase>& info) { return std::string(info.param.label); });

} // namespace
