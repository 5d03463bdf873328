// The browser window's SQL forms and caption, written exactly.
#include <gtest/gtest.h>

#include "windows/BrowserSql.h"

using namespace querlin::browser;

TEST(DatabaseSql, FormsAreWrittenExactly)
{
    EXPECT_EQ(UsersSql(), "SELECT username as 用户 FROM ALL_USERS  order by 用户");
    EXPECT_EQ(TablesSql("SCOTT"),
              "SELECT TABLE_NAME as 用户表 FROM SYS.ALL_TABLES WHERE OWNER = 'SCOTT' order by 用户表");
    EXPECT_EQ(RowsSql("TELMIR.KJBASEUNITINFO"), "SELECT * FROM TELMIR.KJBASEUNITINFO");
    EXPECT_EQ(DataCaptionFor("TELMIR.KJBASEUNITINFO"), "数据表：TELMIR.KJBASEUNITINFO");
}

TEST(DatabaseSql, QuoteInUserNameIsDoubledInsideTheLiteral)
{
    EXPECT_EQ(TablesSql("O'HARA"),
              "SELECT TABLE_NAME as 用户表 FROM SYS.ALL_TABLES WHERE OWNER = 'O''HARA' order by 用户表");
    EXPECT_EQ(TablesSql("X' OR '1'='1"),
              "SELECT TABLE_NAME as 用户表 FROM SYS.ALL_TABLES WHERE OWNER = 'X'' OR ''1''=''1' order by 用户表");
}

TEST(DatabaseSql, TableNamesStayVerbatim)
{
    EXPECT_EQ(RowsSql("a'b.\"C\""), "SELECT * FROM a'b.\"C\"");
}
