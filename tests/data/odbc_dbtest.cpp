// The ODBC provider against the PostgreSQL test server through psqlODBC:
// types, values, the dictionary queries, failures in the middle of results.
#include "data/ConnectionString.h"
#include "data/Provider.h"
#include "platform/Error.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <unistd.h>

using namespace querlin::data;

using querlin::test::ErrorOf;

namespace {

// Every value as a tagged text, so a test states the kind of call too.
class TaggedSink : public RowSink {
public:
    std::vector<std::vector<std::string>> rows;
    void BeginRow() override { rows.emplace_back(); }
    void Null(int) override { Add("null"); }
    void Int(int, std::int64_t v) override { Add("int:" + std::to_string(v)); }
    void UInt(int, std::uint64_t v) override { Add("uint:" + std::to_string(v)); }
    void Double(int, double v) override
    {
        char text[40];
        std::snprintf(text, sizeof text, "double:%.15g", v);
        Add(text);
    }
    void Bool(int, bool v) override { Add(v ? "bool:true" : "bool:false"); }
    void Text(int, std::string_view v) override { Add("text:" + std::string(v)); }
    void Bytes(int, std::string_view v) override
    {
        std::string hex = "bytes:";
        for (unsigned char c : v) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", c);
            hex += two;
        }
        Add(hex);
    }
    void Decimal(int, std::string_view v) override { Add("dec:" + std::string(v)); }
    void Date(int, const DateParts& d) override
    {
        char text[32];
        std::snprintf(text, sizeof text, "date:%04d-%02d-%02d", d.year, d.month, d.day);
        Add(text);
    }
    void Time(int, const TimeParts& t) override
    {
        char text[32];
        std::snprintf(text, sizeof text, "time:%02d:%02d:%02d", t.hour, t.minute, t.second);
        Add(text);
    }
    void Timestamp(int, const TimestampParts& ts) override
    {
        char text[48];
        std::snprintf(text, sizeof text, "ts:%04d-%02d-%02d %02d:%02d:%02d.%03d", ts.date.year, ts.date.month,
                      ts.date.day, ts.time.hour, ts.time.minute, ts.time.second, ts.time.millisecond);
        Add(text);
    }
    void EndRow() override {}

private:
    void Add(std::string v) { rows.back().push_back(std::move(v)); }
};

// Keeps only the sizes and a few characters of long values.
class LongValueSink : public TaggedSink {
public:
    std::string text;
    std::string bytes;
    void Text(int, std::string_view v) override { text = v; }
    void Bytes(int, std::string_view v) override { bytes = v; }
};

const querlin::test::TestDatabase& Db()
{
    return querlin::test::RequireTestDatabase();
}

// Read-write, for setting up and for watching the server.
std::string AdminString()
{
    return "Provider=MSDASQL.1;Extended Properties=" + QuoteAdoValue(Db().OdbcConnectionString() + ";");
}

std::vector<std::vector<std::string>> ReadAll(Connection& connection, const std::string& sql,
                                              std::vector<ColumnInfo>* columns = nullptr)
{
    auto reader = connection.Query(sql);
    if (!reader)
        throw std::runtime_error("no result set for " + sql);
    if (columns)
        *columns = reader->Columns();
    TaggedSink sink;
    while (reader->Read(sink, 100) > 0) {
    }
    return sink.rows;
}

std::string Contains(const std::string& haystack, const std::string& needle)
{
    return haystack.find(needle) != std::string::npos ? needle : haystack;
}

struct KindCase {
    const char* column;
    AdoType type;
    std::int64_t size;
    int precision;
    int scale;
    const char* value;    // row 1
    const char* extreme;  // row 3
};

void PrintTo(const KindCase& c, std::ostream* os)
{
    *os << c.column;
}

class EveryKind : public ::testing::TestWithParam<KindCase> {
protected:
    static void SetUpTestSuite()
    {
        auto connection = Connect(Db().AdoConnectionString());
        rows_ = ReadAll(*connection, "SELECT * FROM QLTEST.ALLKINDS order by id", &columns_);
    }
    static std::vector<ColumnInfo> columns_;
    static std::vector<std::vector<std::string>> rows_;
};
std::vector<ColumnInfo> EveryKind::columns_;
std::vector<std::vector<std::string>> EveryKind::rows_;

} // namespace

TEST_P(EveryKind, ArrivesWithItsTypeAndValues)
{
    const KindCase& c = GetParam();
    ASSERT_EQ(rows_.size(), 3u);
    std::size_t index = 0;
    while (index < columns_.size() && columns_[index].name != c.column)
        ++index;
    ASSERT_LT(index, columns_.size()) << "no column " << c.column;
    const ColumnInfo& info = columns_[index];
    EXPECT_EQ(info.type, c.type);
    EXPECT_EQ(info.size, c.size);
    EXPECT_EQ(info.precision, c.precision);
    if (c.type == AdoType::Numeric) {
        EXPECT_EQ(info.scale, c.scale);
    }
    EXPECT_EQ(info.baseTable, "qltest.allkinds");
    EXPECT_EQ(info.baseColumn, c.column);
    EXPECT_FALSE(info.autoIncrement);
    EXPECT_EQ(rows_[0][index], c.value);
    EXPECT_EQ(rows_[1][index], "null");
    EXPECT_EQ(rows_[2][index], c.extreme);
}

INSTANTIATE_TEST_SUITE_P(Columns, EveryKind,
                         ::testing::Values(KindCase{.column = "n9",
                                                    .type = AdoType::Numeric,
                                                    .size = 0,
                                                    .precision = 9,
                                                    .scale = 0,
                                                    .value = "dec:123456789",
                                                    .extreme = "dec:-999999999"},
                                           KindCase{.column = "n10",
                                                    .type = AdoType::Numeric,
                                                    .size = 0,
                                                    .precision = 10,
                                                    .scale = 0,
                                                    .value = "dec:1234567890",
                                                    .extreme = "dec:-9999999999"},
                                           KindCase{.column = "n12_4",
                                                    .type = AdoType::Numeric,
                                                    .size = 0,
                                                    .precision = 12,
                                                    .scale = 4,
                                                    .value = "dec:12345678.1234",
                                                    .extreme = "dec:-0.0001"},
                                           KindCase{.column = "n6_2",
                                                    .type = AdoType::Numeric,
                                                    .size = 0,
                                                    .precision = 6,
                                                    .scale = 2,
                                                    .value = "dec:-1234.50",
                                                    .extreme = "dec:0.01"},
                                           KindCase{.column = "r",
                                                    .type = AdoType::Single,
                                                    .size = 0,
                                                    .precision = 0,
                                                    .scale = 0,
                                                    .value = "double:1.5",
                                                    .extreme = "double:-3.25e-05"},
                                           KindCase{.column = "d",
                                                    .type = AdoType::Double,
                                                    .size = 0,
                                                    .precision = 0,
                                                    .scale = 0,
                                                    .value = "double:0.1",
                                                    .extreme = "double:1e+20"},
                                           KindCase{.column = "s",
                                                    .type = AdoType::SmallInt,
                                                    .size = 0,
                                                    .precision = 0,
                                                    .scale = 0,
                                                    .value = "int:12",
                                                    .extreme = "int:-32768"},
                                           KindCase{.column = "i",
                                                    .type = AdoType::Integer,
                                                    .size = 0,
                                                    .precision = 0,
                                                    .scale = 0,
                                                    .value = "int:123",
                                                    .extreme = "int:-2147483648"},
                                           KindCase{.column = "b",
                                                    .type = AdoType::BigInt,
                                                    .size = 0,
                                                    .precision = 0,
                                                    .scale = 0,
                                                    .value = "int:1234567890123",
                                                    .extreme = "int:-9223372036854775808"},
                                           KindCase{.column = "flag",
                                                    .type = AdoType::Boolean,
                                                    .size = 0,
                                                    .precision = 0,
                                                    .scale = 0,
                                                    .value = "bool:true",
                                                    .extreme = "bool:false"},
                                           KindCase{.column = "day",
                                                    .type = AdoType::DBDate,
                                                    .size = 0,
                                                    .precision = 0,
                                                    .scale = 0,
                                                    .value = "date:2024-02-29",
                                                    .extreme = "date:1899-12-30"},
                                           KindCase{.column = "clock",
                                                    .type = AdoType::DBTime,
                                                    .size = 0,
                                                    .precision = 0,
                                                    .scale = 0,
                                                    .value = "time:13:14:15",
                                                    .extreme = "time:00:00:00"},
                                           KindCase{.column = "stamp",
                                                    .type = AdoType::DBTimeStamp,
                                                    .size = 0,
                                                    .precision = 0,
                                                    .scale = 0,
                                                    .value = "ts:2024-02-29 13:14:15.500",
                                                    .extreme = "ts:2000-01-01 00:00:00.000"},
                                           KindCase{.column = "code",
                                                    .type = AdoType::WChar,
                                                    .size = 5,
                                                    .precision = 0,
                                                    .scale = 0,
                                                    .value = "text:007  ",
                                                    .extreme = "text:abcde"},
                                           KindCase{.column = "name",
                                                    .type = AdoType::VarWChar,
                                                    .size = 20,
                                                    .precision = 0,
                                                    .scale = 0,
                                                    .value = "text:00420",
                                                    .extreme = "text:中文字符"},
                                           KindCase{.column = "note",
                                                    .type = AdoType::LongVarWChar,
                                                    .size = 8190,
                                                    .precision = 0,
                                                    .scale = 0,
                                                    .value = "text:备注：汉字",
                                                    .extreme = "text:"},
                                           KindCase{.column = "bin",
                                                    .type = AdoType::LongVarBinary,
                                                    .size = 0,
                                                    .precision = 0,
                                                    .scale = 0,
                                                    .value = "bytes:00ff10",
                                                    .extreme = "bytes:"},
                                           KindCase{.column = "uid",
                                                    .type = AdoType::Guid,
                                                    .size = 16,
                                                    .precision = 0,
                                                    .scale = 0,
                                                    .value = "text:{0E37DF36-F698-11E6-8DD4-CB9CED3DF976}",
                                                    .extreme = "text:{00000000-0000-0000-0000-000000000000}"}),
                         [](const auto &info) { return std::string(info.param.column); });

TEST(OdbcDictionary, TheProgramsQueriesRunUnchanged)
{
    auto connection = Connect(Db().AdoConnectionString());
    std::vector<ColumnInfo> columns;
    auto users = ReadAll(*connection, "SELECT username as 用户 FROM ALL_USERS  order by 用户", &columns);
    ASSERT_EQ(columns.size(), 1u);
    EXPECT_EQ(columns[0].name, "用户");
    EXPECT_EQ(columns[0].type, AdoType::VarWChar);  // bounded: not a memo
    EXPECT_EQ(users, (std::vector<std::vector<std::string>>{
                         {"text:BRAVEL"}, {"text:HOSTILE"}, {"text:QLTEST"}, {"text:TELMIR"}, {"text:ZZEMPTY"}}));

    auto tables = ReadAll(*connection,
                          "SELECT TABLE_NAME as 用户表 FROM SYS.ALL_TABLES WHERE OWNER = 'TELMIR' order by 用户表",
                          &columns);
    EXPECT_EQ(columns[0].name, "用户表");
    EXPECT_EQ(columns[0].type, AdoType::VarWChar);
    EXPECT_EQ(tables, (std::vector<std::vector<std::string>>{
                          {"text:KJASSISTANTREF"}, {"text:KJBASEUNITACCOUNT"}, {"text:KJBASEUNITINFO"}}));
    EXPECT_TRUE(ReadAll(*connection, "SELECT TABLE_NAME as 用户表 FROM SYS.ALL_TABLES WHERE OWNER = 'ZZEMPTY' "
                                     "order by 用户表")
                    .empty());

    for (const char* favourite : {"BRAVEL.T_RUDATASOURCETYPE", "TELMIR.KJBASEUNITINFO", "TELMIR.KJASSISTANTREF",
                                  "TELMIR.KJBASEUNITACCOUNT"}) {
        SCOPED_TRACE(favourite);
        EXPECT_FALSE(ReadAll(*connection, std::string("SELECT * FROM ") + favourite).empty());
    }
    auto units = ReadAll(*connection, "SELECT * FROM TELMIR.KJBASEUNITINFO", &columns);
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(units[0], (std::vector<std::string>{"text:0001", "text:总公司", "dec:1"}));
    EXPECT_EQ(columns[2].precision, 9);
}

TEST(OdbcConnect, FailuresCarryTheDriversMessage)
{
    Db();
    EXPECT_EQ(Contains(ErrorOf([] {
                  Connect("Provider=MSDASQL.1;Password=wrong;User ID=" + Db().user + ";Extended Properties=\"DSN=" +
                          Db().dsn + ";\"");
              }),
                       "password authentication failed"),
              "password authentication failed");
    EXPECT_EQ(Contains(ErrorOf([] { Connect("Provider=MSDASQL.1;Extended Properties=\"DSN=NO_SUCH_SOURCE;\""); }),
                       "Data source name not found"),
              "Data source name not found");
    // The ODBC part's own UID and PWD win over User ID and Password.
    EXPECT_NO_THROW(Connect("Provider=MSDASQL.1;Password=wrong;User ID=nobody;Extended Properties=" +
                            QuoteAdoValue(Db().OdbcConnectionString())));
    // User ID and Password fill in what the ODBC part lacks.
    EXPECT_NO_THROW(Connect("Provider=MSDASQL;Password=" + Db().password + ";User ID=" + Db().user +
                            ";Extended Properties=\"DSN=" + Db().dsn + "\""));
}

// The login's connection string names the SID both as the data source and
// as SERVER; the data source's own server must win, or the driver looks for
// a host called like the SID.
TEST(OdbcConnect, ServerBesideADataSourceDoesNotSendTheDriverToAHostNamedLikeTheSid)
{
    auto connection = Connect("Provider=MSDASQL.1;Password=" + Db().password + ";Persist Security Info=True;User ID=" +
                              Db().user + ";Mode=Read;Extended Properties=\"DSN=" + Db().dsn + ";UID=" + Db().user +
                              ";PWD=" + Db().password + ";SERVER=" + Db().dsn + ";\"");
    EXPECT_EQ(ReadAll(*connection, "SELECT count(*) AS n FROM QLTEST.LETTERS")[0][0], "int:4");
}

TEST(OdbcConnect, ReadOnlyModeIsARequestTheDriverMayIgnore)
{
    auto connection = Connect(Db().AdoConnectionString());  // carries Mode=Read
    EXPECT_EQ(ReadAll(*connection, "SELECT count(*) AS n FROM QLTEST.LETTERS")[0][0], "int:4");
}

// The driver takes Mode=Read as a wish; the connection itself keeps to it.
TEST(OdbcReadOnly, OnlySingleQueriesRunAndNoRowIsStoredOrDeleted)
{
    auto admin = Connect(AdminString());
    const std::string table = "qltest.readonly" + std::to_string(getpid());
    admin->Execute("CREATE TABLE " + table + " (id integer)");
    admin->Execute("INSERT INTO " + table + " VALUES (1)");
    auto connection = Connect(Db().AdoConnectionString());
    const std::string refused = "only a single SELECT statement can run on a read-only connection";
    for (const std::string& sql : {"DELETE FROM " + table, "SELECT 1;DROP TABLE " + table,
                                   "SELECT 1;\nDELETE FROM " + table,
                                   "WITH d AS (DELETE FROM " + table + " RETURNING id) SELECT id FROM d"}) {
        SCOPED_TRACE(sql);
        EXPECT_EQ(ErrorOf([&] { connection->Query(sql); }), refused);
        EXPECT_EQ(ErrorOf([&] { connection->Execute(sql); }), refused);
    }
    NamedValue id;
    id.column = "id";
    id.value.kind = ParamValue::Kind::Int;
    id.value.intValue = 1;
    const std::string unchanged = "rows cannot be stored or deleted on a read-only connection";
    EXPECT_EQ(ErrorOf([&] { connection->InsertRow(table, {id}); }), unchanged);
    EXPECT_EQ(ErrorOf([&] { connection->DeleteRow(table, {id}); }), unchanged);
    // Still a working connection for what it may do.
    EXPECT_EQ(ReadAll(*connection, "SELECT count(*) AS n FROM " + table + " ; -- done")[0][0], "int:1");
    EXPECT_EQ(ReadAll(*admin, "SELECT count(*) AS n FROM " + table)[0][0], "int:1");
    admin->Execute("DROP TABLE " + table);
}

// A single SELECT can still write through a function it calls; the server
// itself must refuse, also when the function first tries to lift the
// read-only mode for its own transaction or for the ones after it.
TEST(OdbcReadOnly, FunctionsCalledFromASelectWriteNothing)
{
    auto admin = Connect(AdminString());
    const std::string s = "qltest.rofn" + std::to_string(getpid());
    const std::string t = s + "_t";
    admin->Execute("CREATE TABLE " + t + " (id integer)");
    admin->Execute("INSERT INTO " + t + " VALUES (1), (2), (3)");
    auto function = [&](const std::string& name, const std::string& body) {
        admin->Execute("CREATE FUNCTION " + s + "_" + name + "() RETURNS integer LANGUAGE plpgsql AS $f$ BEGIN " +
                       body + " RETURN 1; END $f$");
        return "SELECT " + s + "_" + name + "() AS r";
    };
    const std::string unlock =
        function("unlock", "PERFORM set_config('default_transaction_read_only', 'off', false);");
    struct Case {
        const char* label;
        std::string sql;
    };
    const Case writes[] = {
        {"delete", function("del", "DELETE FROM " + t + ";")},
        {"insert", function("ins", "INSERT INTO " + t + " VALUES (9);")},
        {"drop", function("drop", "DROP TABLE " + t + ";")},
        {"default off, then delete",
         function("offdel", "PERFORM set_config('default_transaction_read_only', 'off', false); DELETE FROM " + t +
                                ";")},
        {"transaction read write, then delete",
         function("rwdel", "SET TRANSACTION READ WRITE; DELETE FROM " + t + ";")},
        {"transaction_read_only off, then delete",
         function("trodel", "PERFORM set_config('transaction_read_only', 'off', true); DELETE FROM " + t + ";")},
    };
    auto connection = Connect(Db().AdoConnectionString());  // Mode=Read
    for (const Case& c : writes) {
        SCOPED_TRACE(c.label);
        const std::string error = ErrorOf([&] { ReadAll(*connection, c.sql); });
        EXPECT_NE(error, "(no error)");
        EXPECT_EQ(ReadAll(*admin, "SELECT count(*) AS n FROM " + t)[0][0], "int:3");
        // The next query on the same connection, after a function that did
        // turn the session's default off and returned normally.
        EXPECT_EQ(ReadAll(*connection, unlock)[0][0], "int:1");
        EXPECT_NE(ErrorOf([&] { ReadAll(*connection, c.sql); }), "(no error)");
        EXPECT_NE(ErrorOf([&] { connection->Execute(c.sql); }), "(no error)");
        EXPECT_EQ(ReadAll(*admin, "SELECT count(*) AS n FROM " + t)[0][0], "int:3");
    }
    // The server's own words reach the caller.
    EXPECT_EQ(Contains(ErrorOf([&] { ReadAll(*connection, writes[0].sql); }), "read-only transaction"),
              "read-only transaction");
    // Reading still works on that connection.
    EXPECT_EQ(ReadAll(*connection, "SELECT count(*) AS n FROM " + t)[0][0], "int:3");
    admin->Execute("DROP TABLE " + t);
}

// User names travel as the password does: any character reaches the server.
TEST(OdbcConnect, HostileUserNamesReachTheServerWhole)
{
    auto admin = Connect(AdminString());
    const std::string names[] = {"we;ird", "br{ace}", "eq=ual", "sp ace"};
    int n = 0;
    for (const std::string& base : names) {
        const std::string role = base + std::to_string(getpid()) + "_" + std::to_string(n++);
        SCOPED_TRACE("user [" + role + "]");
        admin->Execute("CREATE ROLE \"" + role + "\" LOGIN PASSWORD 'p;w'");
        const std::string odbc = "DSN=" + QuoteOdbcValue(Db().dsn) + ";UID=" + QuoteOdbcValue(role) +
                                 ";PWD=" + QuoteOdbcValue("p;w") + ";SERVER=" + QuoteOdbcValue(Db().dsn) + ";";
        const std::string ado = "Provider=MSDASQL.1;Password=" + QuoteAdoValue("p;w") +
                                ";Persist Security Info=True;User ID=" + QuoteAdoValue(role) +
                                ";Mode=Read;Extended Properties=" + QuoteAdoValue(odbc);
        std::string result = ErrorOf([&] {
            auto connection = Connect(ado);
            EXPECT_EQ(ReadAll(*connection, "SELECT current_user AS u")[0][0], "text:" + role);
        });
        EXPECT_EQ(result, "(no error)");
        admin->Execute("DROP ROLE \"" + role + "\"");
    }
}

TEST(OdbcConnect, HostilePasswordsReachTheServerWhole)
{
    auto admin = Connect(AdminString());
    const std::string passwords[] = {"a;b", "x\"y", "it's", "{brace", "brace}", "}}{{", "a=b;c=d", " spaced ",
                                     "密码;\"'{}= ", "PWD=evil;UID=x"};
    int n = 0;
    for (const std::string& password : passwords) {
        SCOPED_TRACE("password [" + password + "]");
        const std::string role = "hostile" + std::to_string(getpid()) + "_" + std::to_string(n++);
        std::string literal;
        for (char c : password) {
            literal += c;
            if (c == '\'')
                literal += c;
        }
        admin->Execute("CREATE ROLE " + role + " LOGIN PASSWORD '" + literal + "'");
        const std::string odbc = "DSN=" + QuoteOdbcValue(Db().dsn) + ";UID=" + QuoteOdbcValue(role) +
                                 ";PWD=" + QuoteOdbcValue(password) + ";";
        const std::string ado = "Provider=MSDASQL.1;Password=" + QuoteAdoValue(password) +
                                ";Persist Security Info=True;User ID=" + QuoteAdoValue(role) +
                                ";Mode=Read;Extended Properties=" + QuoteAdoValue(odbc);
        std::string result = ErrorOf([&] {
            auto connection = Connect(ado);
            EXPECT_EQ(ReadAll(*connection, "SELECT current_user AS u")[0][0], "text:" + role);
        });
        EXPECT_EQ(result, "(no error)");
        // And only the whole password does.
        const std::string cut = "Provider=MSDASQL.1;Extended Properties=" +
                                QuoteAdoValue("DSN=" + Db().dsn + ";UID=" + role + ";PWD=" +
                                              QuoteOdbcValue(password.substr(0, password.size() - 1)) + ";");
        EXPECT_NE(ErrorOf([&] { Connect(cut); }), "(no error)");
        admin->Execute("DROP ROLE " + role);
    }
}

TEST(OdbcCatalog, TablesListsTablesAndViews)
{
    auto connection = Connect(Db().AdoConnectionString());
    bool table = false, view = false;
    for (const auto& entry : connection->Tables()) {
        table = table || (entry.name == "allkinds" && entry.type == "TABLE");
        view = view || (entry.name == "all_users" && entry.type == "VIEW");
    }
    EXPECT_TRUE(table);
    EXPECT_TRUE(view);
}

TEST(OdbcLongValues, TenMegabyteMemoArrivesWhole)
{
    auto connection = Connect(Db().AdoConnectionString());
    // 10 MB of characters, with characters outside the basic plane that
    // take two UTF-16 units and so straddle the pieces they are read in.
    auto reader = connection->Query("SELECT repeat('汉字abc😀', 1747627) AS memo, 7 AS after");
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->Columns()[0].type, AdoType::LongVarWChar);
    LongValueSink sink;
    EXPECT_EQ(reader->Read(sink, 10), 1u);
    EXPECT_EQ(reader->Read(sink, 10), 0u);
    const std::string unit = "汉字abc😀";
    ASSERT_EQ(sink.text.size(), unit.size() * 1747627);
    bool whole = true;
    for (std::size_t at = 0; at < sink.text.size() && whole; at += unit.size())
        whole = sink.text.compare(at, unit.size(), unit) == 0;
    EXPECT_TRUE(whole);
    EXPECT_EQ(sink.rows[0], (std::vector<std::string>{"int:7"}));
}

TEST(OdbcLongValues, LargeBinaryArrivesWhole)
{
    auto connection = Connect(Db().AdoConnectionString());
    auto reader = connection->Query("SELECT decode(repeat('00ff7f80', 300000), 'hex') AS blob");
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->Columns()[0].type, AdoType::LongVarBinary);
    LongValueSink sink;
    reader->Read(sink, 1);
    ASSERT_EQ(sink.bytes.size(), 1200000u);
    EXPECT_EQ(sink.bytes.substr(0, 4), std::string("\x00\xff\x7f\x80", 4));
    EXPECT_EQ(sink.bytes.substr(1199996), std::string("\x00\xff\x7f\x80", 4));
}

// In a block of rows, a date, a time or a bit sits at its own size from the
// one before: the second row on must not come out garbled.
TEST(OdbcBlocks, DatesTimesAndBitsOfEveryRowOfABlock)
{
    auto connection = Connect(Db().AdoConnectionString());
    auto rows = ReadAll(*connection,
                        "SELECT (date '1980-12-17' + n) AS d, (time '10:20:30' + n * interval '1 minute') AS t, "
                        "(n % 2 = 0) AS b FROM generate_series(0, 2) n ORDER BY n");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][0], "date:1980-12-17");
    EXPECT_EQ(rows[1][0], "date:1980-12-18");
    EXPECT_EQ(rows[2][0], "date:1980-12-19");
    EXPECT_EQ(rows[2][1], "time:10:22:30");
    EXPECT_EQ(rows[1][2], "bool:false");
    EXPECT_EQ(rows[2][2], "bool:true");
}

TEST(OdbcLongValues, TextLongerThanTheDriverDeclaredIsNotCut)
{
    // psqlODBC declares varchar without a length as 255 characters.
    auto connection = Connect(Db().AdoConnectionString());
    auto rows = ReadAll(*connection,
                        "SELECT repeat('长', n)::varchar AS v, n FROM generate_series(250, 1250, 500) n ORDER BY n");
    ASSERT_EQ(rows.size(), 3u);
    std::string expected;
    for (int i = 0; i < 1250; ++i)
        expected += "长";
    EXPECT_EQ(rows[2][0], "text:" + expected);
    EXPECT_EQ(rows[2][1], "int:1250");
    EXPECT_EQ(rows[0][0].size(), 5u + 250 * 3);
}

// The long values sit in blocks of their own among short ones: each is
// read through the cursor on its own block, not on a block fetched after it.
TEST(OdbcLongValues, LongerTextsInLaterBlocksAreReadFromTheirOwnRows)
{
    auto connection = Connect(Db().AdoConnectionString());
    auto rows = ReadAll(*connection,
                        "SELECT repeat('长', CASE WHEN n % 997 = 0 THEN 300 + n % 7 ELSE 3 END)::varchar AS v, n "
                        "FROM generate_series(1, 5000) n ORDER BY n");
    ASSERT_EQ(rows.size(), 5000u);
    int wrong = 0;
    for (int n = 1; n <= 5000; ++n) {
        std::string expected = "text:";
        for (int i = 0; i < (n % 997 == 0 ? 300 + n % 7 : 3); ++i)
            expected += "长";
        const auto& row = rows[static_cast<std::size_t>(n - 1)];
        if (row.size() != 2 || row[0] != expected || row[1] != "int:" + std::to_string(n))
            ++wrong;
    }
    EXPECT_EQ(wrong, 0);
}

TEST(OdbcFailures, ErrorInTheMiddleOfAResult)
{
    auto connection = Connect(Db().AdoConnectionString());
    // The whole result is fetched at once: the error surfaces on running it.
    EXPECT_EQ(Contains(ErrorOf([&] { connection->Query("SELECT 1 / (1500 - n) AS q FROM generate_series(1, 2000) n"); }),
                       "division by zero"),
              "division by zero");
    // The connection goes on working.
    EXPECT_EQ(ReadAll(*connection, "SELECT 1 AS one")[0][0], "int:1");

    // Past the first slice of a streamed result, the error comes while rows
    // are being read, after the rows before it.
    auto reader = connection->Query("SELECT 1 / (25000 - n) AS q FROM generate_series(1, 30000) n");
    ASSERT_TRUE(reader);
    TaggedSink sink;
    std::string error = ErrorOf([&] {
        while (reader->Read(sink, 50) > 0) {
        }
    });
    EXPECT_EQ(Contains(error, "division by zero"), "division by zero");
    EXPECT_GT(sink.rows.size(), 0u);
    EXPECT_LT(sink.rows.size(), 25000u);
    // Once failed, the reader keeps saying so.
    EXPECT_EQ(ErrorOf([&] { reader->Read(sink, 50); }), error);
}

// A numeric the server holds that is no number ('NaN'; 'Infinity' too on
// newer servers) is one unreadable value, not an unreadable table: it
// arrives as its text, and the field's kind decides what to make of it.
TEST(OdbcValues, ANumericThatIsNoNumberArrivesAsItsText)
{
    auto connection = Connect(Db().AdoConnectionString());
    std::vector<ColumnInfo> columns;
    const auto rows = ReadAll(*connection,
                              "SELECT id, wide, CASE WHEN id = 5 THEN CAST('NaN' AS numeric(9,0)) END AS n9 "
                              "FROM HOSTILE.NUMBERS WHERE id IN (1, 5, 6) ORDER BY id",
                              &columns);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][1], "dec:922337203685477.5807");
    EXPECT_EQ(rows[1][1], "text:NaN");
    EXPECT_EQ(rows[1][2], "text:NaN");
    EXPECT_EQ(rows[2][1], "dec:0.00005");
    EXPECT_EQ(rows[0][2], "null");
}

TEST(OdbcFailures, LostConnectionInTheMiddleOfAFetch)
{
    auto admin = Connect(AdminString());
    auto victim = Connect("Provider=MSDASQL.1;Extended Properties=" +
                          QuoteAdoValue(Db().OdbcConnectionString() + ";UseDeclareFetch=1;Fetch=100"));
    const std::string pid = ReadAll(*victim, "SELECT pg_backend_pid() AS pid")[0][0].substr(4);
    auto reader = victim->Query("SELECT n, repeat('x', 100) AS pad FROM generate_series(1, 100000) n");
    ASSERT_TRUE(reader);
    TaggedSink sink;
    EXPECT_EQ(reader->Read(sink, 150), 150u);
    ReadAll(*admin, "SELECT pg_terminate_backend(" + pid + ") AS gone");
    std::string error = ErrorOf([&] {
        while (reader->Read(sink, 1000) > 0) {
        }
    });
    EXPECT_NE(error, "(no error)");
    EXPECT_FALSE(error.empty());
    EXPECT_LT(sink.rows.size(), 100000u);
    // The dead connection answers with errors, not crashes.
    EXPECT_NE(ErrorOf([&] { victim->Query("SELECT 1"); }), "(no error)");

    // Lost before the result is fetched at all.
    auto second = Connect(Db().AdoConnectionString());
    const std::string pid2 = ReadAll(*second, "SELECT pg_backend_pid() AS pid")[0][0].substr(4);
    ReadAll(*admin, "SELECT pg_terminate_backend(" + pid2 + ") AS gone");
    EXPECT_NE(ErrorOf([&] { second->Query("SELECT * FROM QLTEST.ALLKINDS"); }), "(no error)");
}

// Through ODBC the program only reads: a connection that may write still
// stores and deletes no row, and says so.
TEST(OdbcRows, AreNeverStoredOrDeleted)
{
    auto admin = Connect(AdminString());
    const std::string table = "qltest.scratch" + std::to_string(getpid());
    admin->Execute("CREATE TABLE " + table + " (id integer, label varchar(20))");
    admin->Execute("INSERT INTO " + table + " VALUES (1, 'one')");
    NamedValue id;
    id.column = "id";
    id.value.kind = ParamValue::Kind::Int;
    id.value.intValue = 1;
    const std::string refused =
        "rows cannot be stored or deleted through an ODBC connection: it only reads the database";
    EXPECT_EQ(ErrorOf([&] { admin->InsertRow(table, {id}); }), refused);
    EXPECT_EQ(ErrorOf([&] { admin->DeleteRow(table, {id}); }), refused);
    EXPECT_EQ(ReadAll(*admin, "SELECT count(*) AS n FROM " + table)[0][0], "int:1");
    admin->Execute("DROP TABLE " + table);
}
