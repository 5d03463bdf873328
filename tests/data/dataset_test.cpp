// Record sets over a real local store file: fields, text forms, failures,
// storing and deleting rows.

#include "testsupport/LocalStoreFile.h"
#include "data/DataSet.h"
#include "platform/Error.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace querlin;
using namespace querlin::data;
using querlin::test::FixedLocale;
using querlin::test::LocalStoreFile;

using querlin::test::ErrorOf;

namespace {

std::vector<std::string> NamesOf(TADOQuery& q)
{
    std::vector<std::string> names;
    for (int i = 0; i < q.FieldCount(); ++i)
        names.push_back(q.FieldAt(i).FieldName());
    return names;
}

TEST(RecordSetFields, RepeatedAndEmptyNamesAreMadeUnique)
{
    LocalStoreFile store;
    struct Case {
        const char* sql;
        std::vector<std::string> names;
    } cases[] = {
        {"SELECT 1 AS NAME, 2 AS NAME, 3 AS \"\"", {"NAME", "NAME_1", "COLUMN1"}},
        {"SELECT 1 AS NAME, 2 AS NAME_1, 3 AS name", {"NAME", "NAME_1", "name_2"}},
        {"SELECT 1 AS \"\", 2 AS COLUMN1, 3 AS \"\"", {"COLUMN1", "COLUMN1_1", "COLUMN2"}},
    };
    for (const Case& c : cases) {
        TADOQuery q("q");
        store.OpenQuery(q, c.sql);
        EXPECT_EQ(NamesOf(q), c.names) << c.sql;
        EXPECT_EQ(q.FieldAt(1).DisplayLabel(), c.names[1]);
    }
}

TEST(RecordSetFields, NumericPrecisionDecidesBetweenIntegerAndFixedPoint)
{
    LocalStoreFile store;
    store.Run("CREATE TABLE n (p9 numeric(9,0), p10 numeric(10,0), money currency, scaled numeric(12,6))");
    store.Run("INSERT INTO n VALUES (12, 12, 2.5, 2.5)");
    store.Run("INSERT INTO n VALUES (-7, 3, 3, 3)");
    store.Run("INSERT INTO n VALUES (0, 0, 1.23456, 1.23456)");
    TADOQuery q("q");
    store.OpenQuery(q, "SELECT * FROM n");
    TField& p9 = q.FieldNamed("p9");
    TField& p10 = q.FieldNamed("P10");
    EXPECT_EQ(p9.DataType(), TFieldType::ftInteger);
    EXPECT_EQ(p9.DisplayWidth(), 10);
    EXPECT_EQ(p10.DataType(), TFieldType::ftBCD);
    EXPECT_EQ(p10.DisplayWidth(), 11);
    EXPECT_EQ(p10.Alignment(), TAlignment::taRightJustify);
    EXPECT_EQ(p9.DisplayText(), "12");
    EXPECT_EQ(p10.DisplayText(), "12");

    const std::vector<std::string> expected[] = {{"2.5", "2.5"}, {"3", "3"}, {"1.2346", "1.2346"}};
    for (const auto& row : expected) {
        EXPECT_EQ(q.FieldNamed("money").DisplayText(), row[0]);
        EXPECT_EQ(q.FieldNamed("money").PlainText(), row[0]);
        EXPECT_EQ(q.FieldNamed("scaled").DisplayText(), row[1]);
        q.MoveNext();
    }
}

TEST(RecordSetFields, DateTimeAtMidnightShowsTheDateAlone)
{
    FixedLocale locale;
    LocalStoreFile store;
    store.Run("CREATE TABLE d (at datetime)");
    store.Run("INSERT INTO d VALUES ('2024-01-05 00:00:00')");
    store.Run("INSERT INTO d VALUES ('2024-01-05 13:05:09')");
    TADOQuery q;
    store.OpenQuery(q, "SELECT at FROM d");
    EXPECT_EQ(q.FieldAt(0).DataType(), TFieldType::ftDateTime);
    EXPECT_EQ(q.FieldAt(0).DisplayWidth(), 18);
    EXPECT_EQ(q.FieldAt(0).DisplayText(), "2024-1-5");
    q.MoveNext();
    EXPECT_EQ(q.FieldAt(0).DisplayText(), "2024-1-5 13:05:09");

    platform::LocaleSettings german{",", "dd.mm.yyyy", "hh:nn:ss", ""};
    FixedLocale other(german);
    EXPECT_EQ(q.FieldAt(0).PlainText(), "05.01.2024 13:05:09");
}

TEST(RecordSetFields, NullTextsPerKind)
{
    LocalStoreFile store;
    store.Run("CREATE TABLE k (id Counter, i integer, s smallint, b byte, l bigint, f double, c currency, "
              "y bit, d datetime, w varchar(20), m memo, v varbinary(8), o image, g guid, PRIMARY KEY (id))");
    store.Run("INSERT INTO k (i) VALUES (NULL)");
    TADOQuery q("q");
    store.OpenQuery(q, "SELECT i, s, b, l, f, c, y, d, w, m, v, o, g FROM k");
    struct Expect {
        TFieldType kind;
        const char* display;
    } expected[] = {
        {TFieldType::ftInteger, ""},  {TFieldType::ftSmallint, ""},     {TFieldType::ftWord, ""},
        {TFieldType::ftLargeint, ""}, {TFieldType::ftFloat, ""},        {TFieldType::ftBCD, ""},
        {TFieldType::ftBoolean, ""},  {TFieldType::ftDateTime, ""},     {TFieldType::ftWideString, ""},
        {TFieldType::ftMemo, "(Memo)"}, {TFieldType::ftVarBytes, "(VarBytes)"}, {TFieldType::ftBlob, "(Blob)"},
        {TFieldType::ftGuid, ""},
    };
    ASSERT_EQ(q.FieldCount(), static_cast<int>(std::size(expected)));
    for (int i = 0; i < q.FieldCount(); ++i) {
        TField& f = q.FieldAt(i);
        EXPECT_EQ(f.DataType(), expected[i].kind) << f.FieldName();
        EXPECT_TRUE(f.IsNull()) << f.FieldName();
        EXPECT_EQ(f.DisplayText(), expected[i].display) << f.FieldName();
        EXPECT_EQ(f.PlainText(), "") << f.FieldName();
    }
}

TEST(RecordSetFields, ValuesPerKind)
{
    FixedLocale locale;
    LocalStoreFile store;
    store.Run("CREATE TABLE k (id Counter, i integer, l bigint, f double, y bit, w varchar(20), m memo, "
              "v varbinary(8), PRIMARY KEY (id))");
    store.Run("INSERT INTO k (i, l, f, y, w, m, v) VALUES (-42, 9007199254740993, 0.00005, 1, '数据表', "
              "'long text', x'41FF')");
    TADOQuery q;
    store.OpenQuery(q, "SELECT * FROM k");
    EXPECT_EQ(q.FieldNamed("id").DataType(), TFieldType::ftAutoInc);
    EXPECT_TRUE(q.FieldNamed("id").ReadOnly());
    EXPECT_EQ(q.FieldNamed("id").DisplayText(), "1");
    EXPECT_EQ(q.FieldNamed("i").DisplayText(), "-42");
    EXPECT_EQ(q.FieldNamed("l").DisplayText(), "9007199254740993");
    EXPECT_EQ(q.FieldNamed("f").DisplayText(), "5E-5");
    EXPECT_EQ(q.FieldNamed("y").DisplayText(), "True");
    EXPECT_EQ(q.FieldNamed("w").DisplayText(), "数据表");
    EXPECT_EQ(q.FieldNamed("m").DisplayText(), "(MEMO)");
    EXPECT_EQ(q.FieldNamed("m").PlainText(), "long text");
    EXPECT_EQ(q.FieldNamed("v").DisplayText(), "(VARBYTES)");
    EXPECT_EQ(q.FieldNamed("v").PlainText(), "A\xC3\xBF");
}

TEST(RecordSet, RecordNumbersAndAppending)
{
    LocalStoreFile store;
    store.MakeNumbered(5);
    TADOQuery q("q");
    store.OpenQuery(q, "SELECT n, name FROM t ORDER BY n");
    q.MoveNext();
    q.MoveNext();
    EXPECT_EQ(q.RecordNumber(), 3);
    EXPECT_EQ(q.FieldNamed("n").DisplayText(), "3");
    q.AppendRow();
    EXPECT_EQ(q.State(), TDataSetState::dsInsert);
    for (int i = 0; i < q.HeldCount(); ++i) {
        q.SetActiveIndex(i);
        EXPECT_EQ(q.RecordNumber(), -1) << "held row " << i;
    }
}

TEST(RecordSet, AssigningSqlAlwaysCloses)
{
    LocalStoreFile store;
    store.MakeNumbered(3);
    TADOQuery q("q");
    store.OpenQuery(q, "SELECT * FROM t");
    ASSERT_TRUE(q.Active());
    q.SetSQL(q.SQL());
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(q.FieldCount(), 0);
}

TEST(RecordSet, FieldNamesOnAClosedSetLeaveItClosed)
{
    LocalStoreFile store;
    store.MakeNumbered(3);
    TADOQuery q("q");
    q.SetConnectionString(store.ConnectionString());
    q.SetSQL("SELECT name, n AS NAME FROM t");
    std::vector<std::string> names{"old"};
    q.FieldNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"name", "NAME_1"}));
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(q.FieldCount(), 0);
    q.Open();
    q.FieldNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"name", "NAME_1"}));
}

TEST(RecordSet, FailuresCarryTheNamePrefix)
{
    LocalStoreFile store;
    store.MakeNumbered(0);
    TADOQuery named("qry2");
    TADOQuery unnamed;
    for (TADOQuery* q : {&named, &unnamed})
        q->SetConnectionString(store.ConnectionString());
    const std::string prefix = "qry2: ";

    EXPECT_EQ(ErrorOf([&] { named.FieldNamed("用户表"); }), "qry2: Field '用户表' not found");
    EXPECT_EQ(ErrorOf([&] { unnamed.FieldNamed("x"); }), "Field 'x' not found");

    struct Case {
        const char* label;
        std::function<void(TADOQuery&)> action;
        std::string message;
    } cases[] = {
        {"open without SQL", [](TADOQuery& q) { q.SetSQL(""); q.Open(); }, "Missing SQL property"},
        {"execute without SQL", [](TADOQuery& q) { q.SetSQL(""); q.Execute(); }, "Missing SQL property"},
        {"statement without rows", [](TADOQuery& q) { q.SetSQL("DELETE FROM t WHERE 0 = 1"); q.Open(); },
         "CommandText does not return a result set"},
        {"move on closed", [](TADOQuery& q) { q.SetSQL("SELECT * FROM t"); q.MoveFirst(); },
         "Cannot perform this operation on a closed dataset"},
        {"next on closed", [](TADOQuery& q) { q.Close(); q.MoveNext(); },
         "Cannot perform this operation on a closed dataset"},
        {"record number on closed", [](TADOQuery& q) { q.Close(); q.RecordNumber(); },
         "Cannot perform this operation on a closed dataset"},
        {"append on closed", [](TADOQuery& q) { q.Close(); q.AppendRow(); },
         "Cannot perform this operation on a closed dataset"},
        {"delete on closed", [](TADOQuery& q) { q.Close(); q.DeleteRow(); },
         "Cannot perform this operation on a closed dataset"},
        {"record count on closed", [](TADOQuery& q) { q.Close(); q.RecordCount(); },
         "Cannot perform this operation on a closed dataset"},
        {"delete on empty", [](TADOQuery& q) { q.SetSQL("SELECT * FROM t"); q.Open(); q.DeleteRow(); },
         "Cannot perform this operation on an empty dataset"},
        {"connection string while open",
         [](TADOQuery& q) { q.SetSQL("SELECT * FROM t"); q.Open(); q.SetConnectionString("Provider=Other"); },
         "Cannot perform this operation on an open dataset"},
        {"unknown field", [](TADOQuery& q) { q.SetSQL("SELECT * FROM t"); q.Open(); q.FieldNamed("nope"); },
         "Field 'nope' not found"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ErrorOf([&] { c.action(named); }), prefix + c.message) << c.label;
        EXPECT_EQ(ErrorOf([&] { c.action(unnamed); }), c.message) << c.label;
        named.Close();
        unnamed.Close();
    }
}

TEST(RecordSet, FailedOpenLeavesItClosedWithoutFields)
{
    LocalStoreFile store;
    store.MakeNumbered(2);
    TADOQuery q("qry4");
    store.OpenQuery(q, "SELECT * FROM t");
    q.SetSQL("SELECT * FROM missing_table");
    const std::string message = ErrorOf([&] { q.Open(); });
    EXPECT_EQ(message.rfind("qry4: ", 0), 0u) << message;
    EXPECT_GT(message.size(), 6u);
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(q.FieldCount(), 0);

    TADOQuery elsewhere("q");
    elsewhere.SetConnectionString("Provider=Unknown.Provider;Data Source=x");
    elsewhere.SetSQL("SELECT 1");
    EXPECT_NE(ErrorOf([&] { elsewhere.Open(); }).find("Unknown.Provider"), std::string::npos);
    EXPECT_FALSE(elsewhere.Active());
}

TEST(RecordSet, ConnectionStringRules)
{
    LocalStoreFile store;
    store.MakeNumbered(1);
    TADOQuery q("q");
    store.OpenQuery(q, "SELECT * FROM t");
    q.SetConnectionString(store.ConnectionString());  // the same text: nothing happens
    EXPECT_TRUE(q.Active());
}

TEST(RecordSet, WideTextKeepsAtMostSizeCharacters)
{
    LocalStoreFile store;
    store.Run("CREATE TABLE f (id Counter, name varchar(200), PRIMARY KEY (id))");
    TADOQuery q("q");
    store.OpenQuery(q, "SELECT * FROM f");
    ASSERT_EQ(q.FieldNamed("name").DataType(), TFieldType::ftWideString);
    ASSERT_EQ(q.FieldNamed("name").Size(), 200);
    std::string value;
    for (int i = 0; i < 250; ++i)
        value += i % 2 ? "表" : "a";
    q.AppendRow();
    q.FieldNamed("name").SetValue(value);
    EXPECT_EQ(q.FieldNamed("name").PlainText(), value.substr(0, 100 * 4));
    q.PostRow();
    q.Close();
    q.Open();
    EXPECT_EQ(q.FieldNamed("name").PlainText(), value.substr(0, 100 * 4));
}

TEST(RecordSet, AppendPostAndDeleteWriteThrough)
{
    LocalStoreFile store;
    store.MakeNumbered(3);
    TADOQuery q("q");
    store.OpenQuery(q, "SELECT * FROM t ORDER BY n DESC");
    q.AppendRow();
    q.FieldNamed("n").SetValue("0");
    q.FieldNamed("name").SetValue("new");
    q.PostRow();
    EXPECT_EQ(q.State(), TDataSetState::dsBrowse);
    // The new row stays at the end, whatever the order of the SQL text, and
    // carries the number the store gave it.
    EXPECT_EQ(q.RecordNumber(), 4);
    EXPECT_EQ(q.RecordCount(), 4);
    EXPECT_EQ(q.FieldNamed("name").DisplayText(), "new");
    EXPECT_EQ(q.FieldNamed("id").DisplayText(), "4");

    q.MoveFirst();
    EXPECT_EQ(q.FieldNamed("n").DisplayText(), "3");
    q.DeleteRow();
    EXPECT_EQ(q.RecordCount(), 3);
    EXPECT_EQ(q.FieldNamed("n").DisplayText(), "2");  // the next row is current
    q.MoveLast();
    q.DeleteRow();
    EXPECT_EQ(q.FieldNamed("n").DisplayText(), "1");  // the new last row
    EXPECT_EQ(q.RecordNumber(), 2);

    TADOQuery check;
    store.OpenQuery(check, "SELECT n FROM t ORDER BY n");
    std::vector<std::string> left;
    for (; !check.AtEnd(); check.MoveNext())
        left.push_back(check.FieldAt(0).DisplayText());
    EXPECT_EQ(left, (std::vector<std::string>{"1", "2"}));
}

TEST(RecordSet, FailedPostKeepsTheRowPendingAndCarriesNoPrefix)
{
    LocalStoreFile store;
    store.Run("CREATE TABLE r (id Counter, name varchar(20) NOT NULL, note varchar(20), PRIMARY KEY (id))");
    TADOQuery q("qry3");
    store.OpenQuery(q, "SELECT * FROM r");
    q.AppendRow();
    q.FieldNamed("note").SetValue("kept");
    const std::string message = ErrorOf([&] { q.PostRow(); });
    EXPECT_NE(message, "(no error)");
    EXPECT_NE(message.rfind("qry3: ", 0), 0u) << message;
    EXPECT_EQ(q.State(), TDataSetState::dsInsert);
    EXPECT_EQ(q.FieldNamed("note").PlainText(), "kept");
    q.FieldNamed("name").SetValue("now complete");
    q.PostRow();
    EXPECT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.FieldNamed("name").PlainText(), "now complete");
}

TEST(RecordSet, FailedDeleteLeavesTheRowAndCarriesNoPrefix)
{
    LocalStoreFile store;
    store.MakeNumbered(2);
    TADOQuery q("qry3");
    store.OpenQuery(q, "SELECT * FROM t ORDER BY n");
    store.Run("DELETE FROM t WHERE n = 1");  // behind the record set's back
    const std::string message = ErrorOf([&] { q.DeleteRow(); });
    EXPECT_NE(message, "(no error)");
    EXPECT_NE(message.rfind("qry3: ", 0), 0u) << message;
    EXPECT_EQ(q.RecordCount(), 2);
    EXPECT_EQ(q.FieldNamed("n").DisplayText(), "1");
}

TEST(RecordSet, AppendingAgainStoresAnAssignedRowAndDropsAnEmptyOne)
{
    LocalStoreFile store;
    store.MakeNumbered(1);
    TADOQuery q;
    store.OpenQuery(q, "SELECT * FROM t");
    q.AppendRow();
    q.AppendRow();  // the first new row had no value: dropped
    q.FieldNamed("n").SetValue("7");
    q.AppendRow();  // stored
    q.MoveFirst();  // the last new row had no value: dropped
    EXPECT_EQ(q.RecordCount(), 2);
    TADOQuery check;
    store.OpenQuery(check, "SELECT COUNT(*) FROM t");
    EXPECT_EQ(check.FieldAt(0).DisplayText(), "2");
}

TEST(RecordSet, SetValueNeedsAnAppendedRow)
{
    LocalStoreFile store;
    store.MakeNumbered(1);
    TADOQuery q("q");
    store.OpenQuery(q, "SELECT * FROM t");
    EXPECT_EQ(ErrorOf([&] { q.FieldNamed("n").SetValue("1"); }), "q: Dataset not in edit or insert mode");
    q.AppendRow();
    EXPECT_EQ(ErrorOf([&] { q.FieldNamed("n").SetValue("x1"); }), "q: 'x1' is not a valid integer value");
    EXPECT_EQ(ErrorOf([&] { q.FieldNamed("id").SetValue("5"); }), "q: Field 'id' cannot be modified");
}

TEST(RecordSet, ExecuteReportsRowsAffected)
{
    LocalStoreFile store;
    store.MakeNumbered(4);
    TADOQuery q;
    q.SetConnectionString(store.ConnectionString());
    q.SetSQL("UPDATE t SET name = 'x' WHERE n > 1");
    EXPECT_EQ(q.Execute(), 3);
    EXPECT_FALSE(q.Active());
}

TEST(Connection, TableNamesWithAndWithoutSystemTables)
{
    LocalStoreFile store;
    store.MakeNumbered(0, "tablecy");
    store.Run("CREATE VIEW v AS SELECT * FROM tablecy");
    TADOConnection con;
    con.SetConnectionString(store.ConnectionString());
    EXPECT_FALSE(con.Connected());
    std::vector<std::string> names{"stale"};
    con.TableNames(names, false);
    EXPECT_TRUE(con.Connected());
    EXPECT_EQ(names, (std::vector<std::string>{"tablecy", "v"}));
    con.TableNames(names, true);
    EXPECT_NE(std::find(names.begin(), names.end(), "sqlite_master"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "tablecy"), names.end());
}

} // namespace

namespace {

TEST(RecordSet, EmptyResultStillHasItsFields)
{
    LocalStoreFile store;
    store.MakeNumbered(0);
    TADOQuery q("q");
    store.OpenQuery(q, "SELECT * FROM t");
    EXPECT_EQ(NamesOf(q), (std::vector<std::string>{"id", "n", "name"}));
    EXPECT_TRUE(q.AtEnd());
    EXPECT_EQ(q.RecordNumber(), -1);
    EXPECT_EQ(q.FieldNamed("name").DisplayText(), "");
}

} // namespace

namespace {

TEST(RecordSetBadInput, ColumnsWithoutAKindAreLeftOut)
{
    LocalStoreFile store;
    store.Run("CREATE TABLE u (a integer, shape geometry, b varchar(5))");
    store.Run("INSERT INTO u VALUES (1, 'POINT(0 0)', 'x')");
    TADOQuery q;
    store.OpenQuery(q, "SELECT * FROM u");
    EXPECT_EQ(NamesOf(q), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(q.FieldNamed("b").DisplayText(), "x");
    EXPECT_EQ(q.FieldAt(1).Index(), 1);
}

TEST(RecordSetBadInput, TenMegabyteMemo)
{
    LocalStoreFile store;
    store.Run("CREATE TABLE m (id Counter, body memo, PRIMARY KEY (id))");
    store.Run("INSERT INTO m (body) VALUES (printf('%.*c', 10485760, 'x'))");
    store.Run("INSERT INTO m (body) VALUES ('short')");
    TADOQuery q;
    store.OpenQuery(q, "SELECT * FROM m ORDER BY id");
    EXPECT_EQ(q.FieldNamed("body").DisplayText(), "(MEMO)");
    EXPECT_EQ(q.FieldNamed("body").PlainText().size(), 10485760u);
    q.MoveNext();
    EXPECT_EQ(q.FieldNamed("body").PlainText(), "short");
}

} // namespace

namespace {

TEST(RecordSet, SetValueReadsTheLocaleSeparator)
{
    FixedLocale locale(platform::LocaleSettings{",", "dd.mm.yyyy", "hh:nn:ss", ""});
    LocalStoreFile store;
    store.Run("CREATE TABLE v (id Counter, c currency, f double, at datetime, PRIMARY KEY (id))");
    TADOQuery q("q");
    store.OpenQuery(q, "SELECT * FROM v");
    q.AppendRow();
    q.FieldNamed("c").SetValue("2,5");
    q.FieldNamed("f").SetValue("0,00005");
    q.FieldNamed("at").SetValue("2024-01-05 13:05:09");
    q.PostRow();
    q.Close();
    q.Open();
    EXPECT_EQ(q.FieldNamed("c").DisplayText(), "2,5");
    EXPECT_EQ(q.FieldNamed("f").DisplayText(), "5E-5");
    EXPECT_EQ(q.FieldNamed("at").DisplayText(), "05.01.2024 13:05:09");
}

} // namespace

namespace {

TEST(RecordSetBadInput, SourceErrorInTheMiddleOfTheRows)
{
    LocalStoreFile store;
    store.MakeNumbered(2000);
    TADOQuery q("q");
    q.SetConnectionString(store.ConnectionString());
    // The store fails on row 1500 only, after the first blocks were delivered.
    q.SetSQL("SELECT n, CASE WHEN n = 1500 THEN abs(-9223372036854775807 - 1) ELSE n END AS v FROM t ORDER BY n");
    const std::string message = ErrorOf([&] { q.Open(); });
    EXPECT_EQ(message.rfind("q: ", 0), 0u) << message;
    EXPECT_NE(message.find("overflow"), std::string::npos) << message;
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(q.FieldCount(), 0);
    // The same set opens again once the text is sound.
    q.SetSQL("SELECT n FROM t");
    q.Open();
    EXPECT_EQ(q.RecordCount(), 2000);
}

} // namespace
