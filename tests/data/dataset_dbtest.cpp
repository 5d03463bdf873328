// Record sets against the PostgreSQL test server through the ODBC provider.

#include "testsupport/LocalStoreFile.h"
#include "data/ConnectionString.h"
#include "data/DataSet.h"
#include "platform/Error.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

using namespace querlin;
using namespace querlin::data;
using querlin::test::FixedLocale;

namespace {

std::string Writable()
{
    const auto& db = querlin::test::RequireTestDatabase();
    return "Provider=MSDASQL.1;Password=" + querlin::data::QuoteAdoValue(db.password) +
           ";User ID=" + querlin::data::QuoteAdoValue(db.user) +
           ";Extended Properties=" + querlin::data::QuoteAdoValue(db.OdbcConnectionString() + ";");
}

TEST(RecordSetDb, EveryKindWithItsTexts)
{
    FixedLocale locale;
    TADOQuery q("qry4");
    q.SetConnectionString(querlin::test::RequireTestDatabase().AdoConnectionString());
    q.SetSQL("SELECT * FROM qltest.allkinds ORDER BY id");
    q.Open();
    using T = TFieldType;
    struct Column {
        const char* name;
        T kind;
        int width;
        const char* values[3];  // display texts of the rows: values, NULLs, extremes
    } columns[] = {
        {"n9", T::ftInteger, 10, {"123456789", "", "-999999999"}},
        {"n10", T::ftBCD, 11, {"1234567890", "", "-9999999999"}},
        {"n12_4", T::ftBCD, 13, {"12345678.1234", "", "-0.0001"}},
        {"n6_2", T::ftBCD, 7, {"-1234.5", "", "0.01"}},
        {"r", T::ftFloat, 10, {"1.5", "", "-3.25E-5"}},
        {"d", T::ftFloat, 10, {"0.1", "", "1E20"}},
        {"s", T::ftSmallint, 10, {"12", "", "-32768"}},
        {"i", T::ftInteger, 10, {"123", "", "-2147483648"}},
        {"b", T::ftLargeint, 15, {"1234567890123", "", "-9223372036854775808"}},
        {"flag", T::ftBoolean, 5, {"True", "", "False"}},
        {"day", T::ftDate, 10, {"2024-2-29", "", "1899-12-30"}},
        {"clock", T::ftTime, 10, {"13:14:15", "", "0:00:00"}},
        {"stamp", T::ftDateTime, 18, {"2024-2-29 13:14:15", "", "2000-1-1"}},
        {"name", T::ftWideString, 20, {"00420", "", "中文字符"}},
        {"note", T::ftMemo, 10, {"(MEMO)", "(Memo)", "(MEMO)"}},
        {"bin", T::ftBlob, 10, {"(BLOB)", "(Blob)", "(BLOB)"}},
        {"uid", T::ftGuid, 38,
         {"{0E37DF36-F698-11E6-8DD4-CB9CED3DF976}", "", "{00000000-0000-0000-0000-000000000000}"}},
    };
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(q.RecordNumber(), row + 1);
        for (const Column& c : columns) {
            TField& f = q.FieldNamed(c.name);
            EXPECT_EQ(f.DataType(), c.kind) << c.name;
            EXPECT_EQ(f.DisplayWidth(), c.width) << c.name;
            EXPECT_EQ(f.DisplayText(), c.values[row]) << c.name << " row " << row + 1;
        }
        q.MoveNext();
    }
    EXPECT_TRUE(q.AtEnd());
    q.MoveFirst();
    EXPECT_EQ(q.FieldNamed("note").PlainText(), "备注：汉字");
    EXPECT_EQ(q.FieldNamed("bin").PlainText(), std::string("\0\xC3\xBF\x10", 4));
    EXPECT_EQ(q.FieldNamed("n10").Alignment(), TAlignment::taRightJustify);
}

// A numeric that is no number opens with the rest of its table: a
// fixed-point field shows the overflow mark (and has no plain text), an
// integer field holds a null.
TEST(RecordSetDb, ANumericThatIsNoNumberIsOneUnreadableValue)
{
    FixedLocale locale;
    TADOQuery q("qry4");
    q.SetConnectionString(querlin::test::RequireTestDatabase().AdoConnectionString());
    q.SetSQL("SELECT CAST('NaN' AS numeric) AS any, CAST('NaN' AS numeric(12,4)) AS fixed, "
             "CAST('NaN' AS numeric(9,0)) AS whole, 7 AS seven");
    q.Open();
    ASSERT_EQ(q.FieldCount(), 4);
    for (const char* name : {"any", "fixed"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(q.FieldNamed(name).DataType(), TFieldType::ftBCD);
        EXPECT_EQ(q.FieldNamed(name).DisplayText(), "BCD overflow");
        EXPECT_THROW(q.FieldNamed(name).PlainText(), querlin::Error);
    }
    EXPECT_EQ(q.FieldNamed("whole").DataType(), TFieldType::ftInteger);
    EXPECT_EQ(q.FieldNamed("whole").DisplayText(), "");
    EXPECT_EQ(q.FieldNamed("seven").DisplayText(), "7");
}

TEST(RecordSetDb, RepeatedColumnNamesAndClosedFieldNames)
{
    TADOQuery q("q");
    q.SetConnectionString(querlin::test::RequireTestDatabase().AdoConnectionString());
    q.SetSQL("SELECT a.name, b.name, '' || a.other FROM qltest.pairs a, qltest.pairs b");
    std::vector<std::string> names;
    q.FieldNames(names);
    EXPECT_FALSE(q.Active());
    ASSERT_EQ(names.size(), 3u);
    EXPECT_TRUE(names[1] == names[0] + "_1") << names[0] << " " << names[1];
    q.Open();
    EXPECT_EQ(q.FieldAt(0).DisplayText(), "左");
}

TEST(RecordSetDb, ProviderFailuresKeepTheSetClosed)
{
    TADOQuery q("qry2");
    q.SetConnectionString(querlin::test::RequireTestDatabase().AdoConnectionString());
    q.SetSQL("SELECT * FROM no_such_table");
    const std::string error = querlin::test::ErrorOf([&] { q.Open(); });
    EXPECT_EQ(error.rfind("qry2: ", 0), 0u) << error;
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(q.FieldCount(), 0);

    TADOQuery wrong("q");
    std::string cs = querlin::test::RequireTestDatabase().AdoConnectionString();
    const std::string pwd = "PWD=" + querlin::test::RequireTestDatabase().password;
    cs.replace(cs.find(pwd), pwd.size(), "PWD=wrong");
    wrong.SetConnectionString(cs);
    wrong.SetSQL("SELECT 1");
    EXPECT_THROW(wrong.Open(), Error);
    EXPECT_FALSE(wrong.Active());
}

// Rows are stored and deleted in the local store only: over ODBC the set
// says so, and the pending row and the stored ones stay as they were.
TEST(RecordSetDb, AppendPostAndDeleteAreRefusedOverOdbc)
{
    TADOQuery setup;
    setup.SetConnectionString(Writable());
    setup.SetSQL("CREATE TABLE qltest.rs_writes (id serial PRIMARY KEY, name varchar(20) NOT NULL)");
    setup.Execute();
    setup.SetSQL("INSERT INTO qltest.rs_writes (name) VALUES ('first')");
    setup.Execute();

    TADOQuery q("q");
    q.SetConnectionString(Writable());
    q.SetSQL("SELECT * FROM qltest.rs_writes ORDER BY id");
    q.Open();
    q.AppendRow();
    q.FieldNamed("name").SetValue("second");
    const std::string refused =
        "rows cannot be stored or deleted through an ODBC connection: it only reads the database";
    EXPECT_EQ(querlin::test::ErrorOf([&] { q.PostRow(); }), refused);
    EXPECT_EQ(q.State(), TDataSetState::dsInsert);
    EXPECT_EQ(q.FieldNamed("name").PlainText(), "second");
    q.DeleteRow();  // drops the pending row
    EXPECT_EQ(q.State(), TDataSetState::dsBrowse);
    q.MoveFirst();
    EXPECT_EQ(querlin::test::ErrorOf([&] { q.DeleteRow(); }), refused);
    EXPECT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.FieldNamed("name").PlainText(), "first");

    setup.SetSQL("DROP TABLE qltest.rs_writes");
    setup.Execute();
}

TEST(ConnectionDb, TableNamesListTablesAndViews)
{
    auto has = [](const std::vector<std::string>& names, const char* name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    TADOConnection con;
    con.SetConnectionString(querlin::test::RequireTestDatabase().AdoConnectionString());
    std::vector<std::string> plain, withSystem;
    con.TableNames(plain, false);
    con.TableNames(withSystem, true);
    EXPECT_TRUE(has(plain, "allkinds"));
    EXPECT_TRUE(has(plain, "all_users")) << "views are listed";
    EXPECT_FALSE(has(plain, "pg_class")) << "the server's own tables are not";
    // The driver reports the server's tables only when its data source asks
    // for them, and then as plain tables: asking for system tables adds none.
    EXPECT_EQ(withSystem, plain);
}

} // namespace
