// The connection-string parser and builders, provider choice, and the local
// store behind the favourites.
#include "data/ConnectionString.h"
#include "data/OdbcProvider.h"
#include "data/Provider.h"
#include "data/ProviderText.h"
#include "data/SqliteProvider.h"
#include "platform/Error.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace querlin::data;
using querlin::test::TempDir;

using querlin::test::ErrorOf;
using querlin::test::ReadFile;

namespace {

// Keeps every value it receives as text, one row per line-like vector.
class TextSink : public RowSink {
public:
    std::vector<std::vector<std::string>> rows;
    void BeginRow() override { rows.emplace_back(); }
    void Null(int) override { rows.back().push_back("<null>"); }
    void Int(int, std::int64_t v) override { rows.back().push_back(std::to_string(v)); }
    void UInt(int, std::uint64_t v) override { rows.back().push_back(std::to_string(v)); }
    void Double(int, double v) override
    {
        std::ostringstream s;
        s << v;
        rows.back().push_back(s.str());
    }
    void Bool(int, bool v) override { rows.back().push_back(v ? "true" : "false"); }
    void Text(int, std::string_view v) override { rows.back().emplace_back(v); }
    void Bytes(int, std::string_view v) override { rows.back().push_back("bytes:" + std::string(v)); }
    void Decimal(int, std::string_view v) override { rows.back().push_back("dec:" + std::string(v)); }
    void Date(int, const DateParts& d) override
    {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
        rows.back().push_back(buf);
    }
    void Time(int, const TimeParts& t) override
    {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
        rows.back().push_back(buf);
    }
    void Timestamp(int, const TimestampParts& ts) override
    {
        char buf[48];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", ts.date.year, ts.date.month,
                      ts.date.day, ts.time.hour, ts.time.minute, ts.time.second);
        rows.back().push_back(buf);
    }
    void EndRow() override {}
};

std::vector<std::vector<std::string>> ReadAll(Connection& connection, const std::string& sql,
                                              std::vector<ColumnInfo>* columns = nullptr)
{
    auto reader = connection.Query(sql);
    EXPECT_TRUE(reader);
    TextSink sink;
    if (!reader)
        return {};
    if (columns)
        *columns = reader->Columns();
    while (reader->Read(sink, 3) > 0) {
    }
    return sink.rows;
}


NamedValue TextValue(const std::string& column, const std::string& text)
{
    NamedValue v;
    v.column = column;
    v.value.kind = ParamValue::Kind::Text;
    v.value.text = text;
    return v;
}

const char* const kCreateTable = "Create table tablecy (ID  Counter,常用数据表 varchar(200),primary key (id))";
const char* const kFavourites = "select 常用数据表,id from tablecy  order by 常用数据表";

} // namespace

// ---------------------------------------------------------------------------
// Connection strings

struct AdoParseCase {
    const char* label;
    const char* text;
    const char* key;
    const char* expected;  // nullptr: key absent
};

void PrintTo(const AdoParseCase& c, std::ostream* os)
{
    *os << c.label;
}

class AdoParse : public ::testing::TestWithParam<AdoParseCase> {};

TEST_P(AdoParse, FindsTheValue)
{
    const auto& c = GetParam();
    auto value = ConnectionString::ParseAdo(c.text).Value(c.key);
    if (!c.expected) {
        EXPECT_FALSE(value.has_value());
    } else {
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(*value, c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AdoParse,
    ::testing::Values(
        AdoParseCase{"Plain", "Provider=MSDASQL.1;Password=abc;", "Password", "abc"},
        AdoParseCase{"KeyIgnoresCase", "PROVIDER=x;data source=table.mdb", "Data Source", "table.mdb"},
        AdoParseCase{"BlanksTrimmed", "  User ID =  scott  ;", "user id", "scott"},
        AdoParseCase{"DoubleQuoted", "Extended Properties=\"DSN=a;UID=b;\";Mode=Read", "Extended Properties",
                     "DSN=a;UID=b;"},
        AdoParseCase{"DoubledQuoteInside", "Password=\"a\"\"b\";", "Password", "a\"b"},
        AdoParseCase{"SingleQuoted", "Password='a;\"b''c';", "Password", "a;\"b'c"},
        AdoParseCase{"QuotedKeepsBlanks", "Password=\" x \";", "Password", " x "},
        AdoParseCase{"QuoteInsideBareValue", "Password=ab\"c;", "Password", "ab\"c"},
        AdoParseCase{"EqualsInValue", "Password=a=b;", "Password", "a=b"},
        AdoParseCase{"DoubledEqualsInKey", "a==b=1;", "a=b", "1"},
        AdoParseCase{"LastOneWins", "Mode=Read;Mode=ReadWrite", "Mode", "ReadWrite"},
        AdoParseCase{"EmptyValue", "Password=;User ID=x", "Password", ""},
        AdoParseCase{"Missing", "Provider=x", "Password", nullptr},
        AdoParseCase{"ChineseValue", "Data Source=收藏.mdb;", "Data Source", "收藏.mdb"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(AdoParseErrors, MalformedStringsAreRefusedWithoutShowingTheValue)
{
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"Password=\"secret", "Invalid connection string: the quoted value of \"Password\" is not closed."},
        {"Password='secret", "Invalid connection string: the quoted value of \"Password\" is not closed."},
        {"Password=\"se\"cret;", "Invalid connection string: text follows the closing quote of \"Password\"."},
        {"NoEquals;", "Invalid connection string: the first part has no \"=\"."},
        // Found by fuzzing: the text without "=" was quoted, and it may be
        // the rest of a password holding a ";".
        {"Password=se;cret;User ID=x", "Invalid connection string: the part after \"Password\" has no \"=\"."},
        {"=secret;", "Invalid connection string: a value has no key."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ErrorOf([&] { ConnectionString::ParseAdo(c.text); }), c.message);
    }
}

TEST(OdbcParse, BracesAndFirstWins)
{
    auto cs = ConnectionString::ParseOdbc("DRIVER={PostgreSQL Unicode};PWD={a;b}}c=d};UID=x;uid=y;SERVER=s");
    EXPECT_EQ(cs.Value("driver"), "PostgreSQL Unicode");
    EXPECT_EQ(cs.Value("PWD"), "a;b}c=d");
    EXPECT_EQ(cs.Value("UID"), "x");
    EXPECT_EQ(cs.Value("Server"), "s");
    EXPECT_NE(ErrorOf([] { ConnectionString::ParseOdbc("PWD={abc"); }), "(no error)");
}

// The database connection string as the login builds it: the password and
// user name once bare in the ADO part and once inside the ODBC part.
TEST(HostilePasswords, SurviveBothLevels)
{
    const std::string passwords[] = {
        "plain", "a;b", "a\"b", "a'b", "{a", "a}", "}", "{}", "a=b", " lead", "trail ", "a b",
        "密码;\"'{}=", "\"", "'", ";", "=", "\"quoted\"", "'quoted'", "x}}y", "{x}", "",
    };
    for (const std::string& pw : passwords) {
        SCOPED_TRACE("password [" + pw + "]");
        const std::string odbc = "DSN=ORCL;UID=scott;PWD=" + QuoteOdbcValue(pw) + ";SERVER=ORCL;";
        const std::string ado = "Provider=MSDASQL.1;Password=" + QuoteAdoValue(pw) +
                                ";Persist Security Info=True;User ID=scott;Mode=Read;Extended Properties=" +
                                QuoteAdoValue(odbc);
        SCOPED_TRACE(ado);
        ConnectionString parsed;
        ASSERT_NO_THROW(parsed = ConnectionString::ParseAdo(ado));
        EXPECT_EQ(parsed.Value("Password"), pw);
        EXPECT_EQ(parsed.Value("Mode"), "Read");
        EXPECT_EQ(parsed.Value("Provider"), "MSDASQL.1");
        const auto inner = ConnectionString::ParseOdbc(parsed.Value("Extended Properties").value());
        EXPECT_EQ(inner.Value("PWD"), pw);
        EXPECT_EQ(inner.Value("UID"), "scott");
        EXPECT_EQ(inner.Value("SERVER"), "ORCL");
    }
}

// The tests and the benchmarks open the test server through the same
// builder; a password holding ";" once cut their string short.
TEST(Builders, ReadOnlyConnectionStringWithoutServerReadsBackWhole)
{
    const std::string passwords[] = {"plain", "a;b", "a\"b;c", "{x}};", "密码 ", ""};
    for (const std::string& pw : passwords) {
        SCOPED_TRACE("password [" + pw + "]");
        querlin::test::TestDatabase db;
        db.dsn = "querlin test";
        db.user = "o'k";
        db.password = pw;
        const auto outer = ConnectionString::ParseAdo(db.AdoConnectionString());
        EXPECT_EQ(outer.Value("Password"), pw);
        EXPECT_EQ(outer.Value("User ID"), "o'k");
        EXPECT_EQ(outer.Value("Mode"), "Read");
        const auto inner = ConnectionString::ParseOdbc(outer.Value("Extended Properties").value());
        ASSERT_EQ(inner.Entries().size(), 3u);
        EXPECT_EQ(inner.Value("DSN"), "querlin test");
        EXPECT_EQ(inner.Value("PWD"), pw);
        EXPECT_EQ(ConnectionString::ParseOdbc(db.OdbcConnectionString()).Entries(), inner.Entries());
    }
    EXPECT_EQ(ReadOnlyConnectionString({"site", "scott", "tiger", {}}),
              "Provider=MSDASQL.1;Password=tiger;Persist Security Info=True;User ID=scott;Mode=Read;"
              "Extended Properties=\"DSN=site;UID=scott;PWD=tiger;\"");
}

TEST(Builders, OrdinaryValuesMatchTheTemplate)
{
    const std::string odbc = "DSN=ORCL;UID=scott;PWD=" + QuoteOdbcValue("tiger") + ";SERVER=ORCL;";
    const std::string built = "Provider=MSDASQL.1;Password=" + QuoteAdoValue("tiger") +
                              ";Persist Security Info=True;User ID=" + QuoteAdoValue("scott") +
                              ";Mode=Read;Extended Properties=" + QuoteAdoValue(odbc);
    EXPECT_EQ(built,
              "Provider=MSDASQL.1;Password=tiger;Persist Security Info=True;User ID=scott;Mode=Read;"
              "Extended Properties=\"DSN=ORCL;UID=scott;PWD=tiger;SERVER=ORCL;\"");
    EXPECT_EQ(BuildOdbc({{"DSN", "a b"}, {"PWD", "x;y"}}), "DSN=a b;PWD={x;y};");
    EXPECT_EQ(BuildAdo({{"Data Source", "table.mdb"}, {"Password", " x"}}),
              "Data Source=table.mdb;Password=\" x\";");
}

TEST(OdbcConnectText, UserAndPasswordFillOnlyWhatIsMissing)
{
    struct Case {
        const char* ado;
        const char* odbc;
    } cases[] = {
        // Beside a data source, SERVER (a net service name) is left to it.
        {"Provider=MSDASQL.1;Password=p;User ID=u;Extended Properties=\"DSN=d;UID=x;PWD=y;SERVER=s;\"",
         "DSN=d;UID=x;PWD=y;"},
        {"Provider=MSDASQL.1;Extended Properties=\"DSN=d;UID=x;PWD={a;b};server=s\"", "DSN=d;UID=x;PWD={a;b};"},
        {"Provider=MSDASQL.1;Extended Properties=\"DRIVER=x;SERVER=h;UID=x\"", "DRIVER=x;SERVER=h;UID=x"},
        {"Provider=MSDASQL.1;Password= a b ;User ID=u;Extended Properties=\"DSN=d\"", "DSN=d;UID=u;PWD=a b;"},
        {"Provider=MSDASQL.1;Password=\"a;b}\";User ID=u;Extended Properties=\"DSN=d;\"",
         "DSN=d;UID=u;PWD={a;b}}};"},
        {"Provider=MSDASQL.1;Data Source=orcl;User ID=u", "DSN=orcl;UID=u;"},
        {"Provider=MSDASQL.1;Extended Properties=\"DRIVER={PostgreSQL Unicode};uid=x\";User ID=u",
         "DRIVER={PostgreSQL Unicode};uid=x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ado);
        EXPECT_EQ(OdbcConnectText(ConnectionString::ParseAdo(c.ado)), c.odbc);
    }
}

// Only PostgreSQL's driver is told to stream through a cursor; what the
// text asks for itself stays, and other drivers get the text unchanged.
TEST(OdbcConnectText, CursorOptionsOnlyForPostgreSqlsDriver)
{
    const std::string streamed = "DSN=d;UID=u;PWD={a;b};UseDeclareFetch=1;Fetch=10000;";
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> drivers;
        std::string expected;
    } cases[] = {
        {"installed name", "DSN=d;UID=u;PWD={a;b};", {"PostgreSQL Unicode"}, streamed},
        {"library", "DSN=d;UID=u;PWD={a;b}", {"/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so"}, streamed},
        {"library of an installed name", "DSN=d;UID=u;PWD={a;b}", {"PG", "/opt/lib/psqlodbca.so"}, streamed},
        {"Microsoft's Oracle driver", "DSN=d;UID=u;PWD=p;", {"Microsoft ODBC for Oracle"}, "DSN=d;UID=u;PWD=p;"},
        {"Oracle's own", "DSN=d;UID=u;PWD=p;", {"Oracle in OraClient11g_home1", "/opt/oracle/libsqora.so.11.1"},
         "DSN=d;UID=u;PWD=p;"},
        {"driver unknown", "DSN=d;UID=u;PWD=p;", {}, "DSN=d;UID=u;PWD=p;"},
        {"the text's own options", "DSN=d;usedeclarefetch=0;A7=50", {"PostgreSQL ANSI"}, "DSN=d;usedeclarefetch=0;A7=50"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(WithCursorOptions(c.text, c.drivers), c.expected);
    }
}

TEST(OdbcTypes, MappedAsTheOdbcProviderDid)
{
    struct Case {
        int sqlType;
        bool isUnsigned;
        AdoType type;
    } cases[] = {
        {1, false, AdoType::Char},           {12, false, AdoType::VarChar},       {-1, false, AdoType::LongVarChar},
        {-8, false, AdoType::WChar},         {-9, false, AdoType::VarWChar},      {-10, false, AdoType::LongVarWChar},
        {2, false, AdoType::Numeric},        {3, false, AdoType::Numeric},        {5, false, AdoType::SmallInt},
        {5, true, AdoType::UnsignedSmallInt}, {4, false, AdoType::Integer},       {4, true, AdoType::UnsignedInt},
        {-5, false, AdoType::BigInt},        {-5, true, AdoType::UnsignedBigInt}, {7, false, AdoType::Single},
        {6, false, AdoType::Double},         {8, false, AdoType::Double},         {-7, false, AdoType::Boolean},
        {-6, false, AdoType::TinyInt},       {-6, true, AdoType::UnsignedTinyInt}, {-2, false, AdoType::Binary},
        {-3, false, AdoType::VarBinary},     {-4, false, AdoType::LongVarBinary}, {91, false, AdoType::DBDate},
        {92, false, AdoType::DBTime},        {93, false, AdoType::DBTimeStamp},   {-11, false, AdoType::Guid},
        {103, false, AdoType::Unsupported},  {-152, false, AdoType::Unsupported}, {0, false, AdoType::Unsupported},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sqlType);
        EXPECT_EQ(AdoTypeForSqlType(c.sqlType, c.isUnsigned), c.type);
    }
}

// ---------------------------------------------------------------------------
// Text from the sources

TEST(ProviderText, InvalidInputBecomesReplacementCharacters)
{
    struct Case {
        const char* label;
        std::string in;
        std::string out;
    } cases[] = {
        {"valid", "汉字abc", "汉字abc"},
        {"lone continuation", "a\x80" "b", "a\xEF\xBF\xBD" "b"},
        {"cut sequence", "a\xE6\xB1", "a\xEF\xBF\xBD"},
        {"overlong", "\xC0\xAF", "\xEF\xBF\xBD"},
        {"surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD"},
        {"GBK bytes", "\xD6\xD0\xCE\xC4", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(ValidUtf8(c.in), c.out);
        EXPECT_TRUE(IsValidUtf8(ValidUtf8(c.in)));
    }
    const char16_t units[] = {u'a', 0xD83D, 0xDE00, 0xDC00, u'b', 0xD800};
    std::string out;
    AppendUtf16AsUtf8(out, units, 6);
    EXPECT_EQ(out, "a\xF0\x9F\x98\x80\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToUtf16("a😀\xFF"), (std::u16string{u'a', 0xD83D, 0xDE00, 0xFFFD}));
}

// ---------------------------------------------------------------------------
// Provider choice

TEST(Connect, UnknownOrMissingProviderIsNamed)
{
    EXPECT_NE(ErrorOf([] { Connect("Provider=SQLOLEDB;Data Source=x"); }).find("'SQLOLEDB'"),
              std::string::npos);
    EXPECT_NE(ErrorOf([] { Connect("Provider=MSDASQLX;Data Source=x"); }).find("'MSDASQLX'"),
              std::string::npos);
    EXPECT_NE(ErrorOf([] { Connect("Data Source=x"); }).find("no provider"), std::string::npos);
}

// ---------------------------------------------------------------------------
// The local store

struct TranslateCase {
    const char* label;
    const char* input;
    const char* expected;
};

void PrintTo(const TranslateCase& c, std::ostream* os)
{
    *os << c.label;
}

class Translate : public ::testing::TestWithParam<TranslateCase> {};

TEST_P(Translate, RewritesTableDefinitions)
{
    EXPECT_EQ(TranslateLocalStoreStatement(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Translate,
    ::testing::Values(
        TranslateCase{"StoreTable", kCreateTable,
                      "Create table tablecy (ID INTEGER PRIMARY KEY AUTOINCREMENT, 常用数据表 varchar(200) "
                      "COLLATE NOCASE)"},
        TranslateCase{"ColumnKey", "CREATE TABLE t ([n] COUNTER PRIMARY KEY NOT NULL, b text(5))",
                      "CREATE TABLE t ([n] INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, b text(5) COLLATE "
                      "NOCASE)"},
        TranslateCase{"CounterWithoutKey", "create table t (a autoincrement(1,1), b int)",
                      "create table t (a INTEGER PRIMARY KEY AUTOINCREMENT, b int)"},
        TranslateCase{"KeepsOwnCollation", "create table t (a varchar(9) collate binary)",
                      "create table t (a varchar(9) collate binary)"},
        TranslateCase{"OtherKeyKept", "create table t (a int, b char(3), primary key (a))",
                      "create table t (a int, b char(3) COLLATE NOCASE, primary key (a))"},
        TranslateCase{"CommaInsideQuotes", "create table t (\"a,b\" memo, c double)",
                      "create table t (\"a,b\" memo COLLATE NOCASE, c double)"},
        TranslateCase{"NotATable", "select * from tablecy", "select * from tablecy"},
        TranslateCase{"Insert", "insert into t values ('Counter')", "insert into t values ('Counter')"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Translate, CounterBesideAnotherKeyIsRefused)
{
    EXPECT_NE(ErrorOf([] { TranslateLocalStoreStatement("create table t (a counter, b int, primary key (b))"); }),
              "(no error)");
    EXPECT_NE(ErrorOf([] { TranslateLocalStoreStatement("create table t (a counter, b counter)"); }),
              "(no error)");
}

struct ColumnTypeCase {
    const char* declared;
    AdoType type;
    std::int64_t size;
};

TEST(LocalStoreColumns, ReportedAsTheJetProviderDid)
{
    const ColumnTypeCase cases[] = {
        {"varchar(200)", AdoType::VarWChar, 200}, {"text(50)", AdoType::VarWChar, 50},
        {"char(3)", AdoType::WChar, 3},           {"memo", AdoType::LongVarWChar, 536870910},
        {"integer", AdoType::Integer, 0},         {"long", AdoType::Integer, 0},
        {"smallint", AdoType::SmallInt, 0},       {"byte", AdoType::UnsignedTinyInt, 0},
        {"double", AdoType::Double, 0},           {"real", AdoType::Single, 0},
        {"currency", AdoType::Currency, 0},       {"yesno", AdoType::Boolean, 0},
        {"datetime", AdoType::Date, 0},           {"longbinary", AdoType::LongVarBinary, 1073741823},
        {"guid", AdoType::Guid, 16},              {"geometry", AdoType::Unsupported, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.declared);
        ColumnInfo info = LocalStoreColumnFromDeclaredType(c.declared);
        EXPECT_EQ(info.type, c.type);
        EXPECT_EQ(info.size, c.size);
    }
    ColumnInfo numeric = LocalStoreColumnFromDeclaredType("decimal(12, 3)");
    EXPECT_EQ(numeric.type, AdoType::Numeric);
    EXPECT_EQ(numeric.precision, 12);
    EXPECT_EQ(numeric.scale, 3);
}

class LocalStore : public ::testing::Test {
protected:
    TempDir dir;
    std::string file = dir.File("table.mdb");
    std::string createString = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file + ";";
    std::string openString =
        "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file + ";Mode=ReadWrite;Persist Security Info=false;";

    std::unique_ptr<Connection> CreateSeeded()
    {
        CreateLocalStore(createString);
        auto connection = Connect(openString);
        connection->Execute(kCreateTable);
        for (const char* seed : {"BRAVEL.T_RUDATASOURCETYPE", "TELMIR.KJBASEUNITINFO", "TELMIR.KJASSISTANTREF",
                                 "TELMIR.KJBASEUNITACCOUNT"})
            connection->InsertRow("tablecy", {TextValue("常用数据表", seed)});
        return connection;
    }
};

TEST_F(LocalStore, CreatedOnceAndNeverReplaced)
{
    CreateLocalStore(createString);
    ASSERT_TRUE(std::filesystem::exists(file));
    const std::string bytes = ReadFile(file);
    EXPECT_GT(bytes.size(), 0u);
    EXPECT_EQ(ErrorOf([&] { CreateLocalStore(createString); }), "Database already exists.");
    EXPECT_EQ(ReadFile(file), bytes);
    // Nothing but the store itself is left in the folder.
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST_F(LocalStore, DataSourceIsRelativeToTheCurrentDirectory)
{
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    CreateLocalStore("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=table.mdb;");
    EXPECT_NO_THROW(Connect("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=table.mdb;Mode=ReadWrite;"));
    std::filesystem::current_path(previous);
    EXPECT_TRUE(std::filesystem::exists(file));
}

TEST_F(LocalStore, MissingOrForeignFileIsAClearErrorAndStaysUntouched)
{
    EXPECT_NE(ErrorOf([&] { Connect(openString); }).find("Could not find file"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(file));

    const std::string foreign = std::string("Standard Jet DB\0\0\0 not really", 30) + std::string(4000, 'x');
    {
        std::ofstream out(file, std::ios::binary);
        out << foreign;
    }
    EXPECT_EQ(ErrorOf([&] { Connect(openString); }), "Unrecognized database format '" + file + "'.");
    EXPECT_EQ(ReadFile(file), foreign);
}

TEST_F(LocalStore, FavouritesSortWithoutRegardToCaseAndReportJetColumns)
{
    auto connection = CreateSeeded();
    connection->InsertRow("tablecy", {TextValue("常用数据表", "abc.lower")});
    std::vector<ColumnInfo> columns;
    auto rows = ReadAll(*connection, kFavourites, &columns);
    ASSERT_EQ(rows.size(), 5u);
    std::vector<std::string> names;
    for (const auto& row : rows)
        names.push_back(row[0]);
    EXPECT_EQ(names, (std::vector<std::string>{"abc.lower", "BRAVEL.T_RUDATASOURCETYPE", "TELMIR.KJASSISTANTREF",
                                               "TELMIR.KJBASEUNITACCOUNT", "TELMIR.KJBASEUNITINFO"}));
    EXPECT_EQ(rows[1][1], "1");
    EXPECT_EQ(rows[0][1], "5");

    ASSERT_EQ(columns.size(), 2u);
    EXPECT_EQ(columns[0].name, "常用数据表");
    EXPECT_EQ(columns[0].type, AdoType::VarWChar);
    EXPECT_EQ(columns[0].size, 200);
    EXPECT_TRUE(columns[0].updatable);
    EXPECT_EQ(columns[0].baseTable, "tablecy");
    EXPECT_EQ(columns[0].baseColumn, "常用数据表");
    EXPECT_EQ(columns[1].type, AdoType::Integer);
    EXPECT_TRUE(columns[1].autoIncrement);
    EXPECT_FALSE(columns[1].updatable);
    EXPECT_TRUE(columns[1].isKey);
    EXPECT_EQ(columns[1].baseColumn, "ID");
}

TEST_F(LocalStore, InsertReturnsTheNumberAndDeleteIsOptimistic)
{
    auto connection = CreateSeeded();
    auto assigned = connection->InsertRow("tablecy", {TextValue("常用数据表", "USERA.T1")});
    ASSERT_EQ(assigned.size(), 1u);
    EXPECT_EQ(assigned[0].column, "ID");
    EXPECT_EQ(assigned[0].value.intValue, 5);
    // The same text twice: two rows, two numbers.
    EXPECT_EQ(connection->InsertRow("tablecy", {TextValue("常用数据表", "USERA.T1")})[0].value.intValue, 6);

    NamedValue id;
    id.column = "ID";
    id.value.kind = ParamValue::Kind::Int;
    id.value.intValue = 5;
    connection->DeleteRow("tablecy", {id, TextValue("常用数据表", "USERA.T1")});
    const std::string gone =
        "Row cannot be located for updating. Some values may have been changed since it was last read.";
    EXPECT_EQ(ErrorOf([&] { connection->DeleteRow("tablecy", {id, TextValue("常用数据表", "USERA.T1")}); }), gone);
    // Letter case matters when finding the row to delete.
    id.value.intValue = 6;
    EXPECT_EQ(ErrorOf([&] { connection->DeleteRow("tablecy", {id, TextValue("常用数据表", "usera.t1")}); }), gone);
    EXPECT_EQ(ReadAll(*connection, "select count(*) from tablecy")[0][0], "5");
    // A number deleted is not handed out again.
    EXPECT_EQ(connection->InsertRow("tablecy", {TextValue("常用数据表", "X.Y")})[0].value.intValue, 7);
}

TEST_F(LocalStore, TextLongerThanTheColumnIsRefused)
{
    auto connection = CreateSeeded();
    std::string text;
    for (int i = 0; i < 201; ++i)
        text += "表";
    EXPECT_NE(ErrorOf([&] { connection->InsertRow("tablecy", {TextValue("常用数据表", text)}); }).find("too small"),
              std::string::npos);
    text.resize(text.size() - 3);
    EXPECT_NO_THROW(connection->InsertRow("tablecy", {TextValue("常用数据表", text)}));
}

TEST_F(LocalStore, TablesAreListedByKind)
{
    auto connection = CreateSeeded();
    connection->Execute("create view fav as select * from tablecy");
    std::vector<std::string> listed;
    for (const auto& entry : connection->Tables())
        listed.push_back(entry.type + ":" + entry.name);
    EXPECT_EQ(listed, (std::vector<std::string>{"SYSTEM TABLE:sqlite_master", "SYSTEM TABLE:sqlite_sequence",
                                                "TABLE:tablecy", "VIEW:fav"}));
}

TEST_F(LocalStore, StatementsAndQueriesTellTheirKind)
{
    auto connection = CreateSeeded();
    EXPECT_EQ(connection->Query("update tablecy set 常用数据表 = 'X' where id = 1"), nullptr);
    EXPECT_EQ(connection->Execute("delete from tablecy where id > 2"), 2);
    EXPECT_NE(ErrorOf([&] { connection->Query("select * from nosuchtable"); }).find("nosuchtable"),
              std::string::npos);
    EXPECT_EQ(ErrorOf([&] { connection->Query("select 1; select 2"); }),
              "Characters found after end of SQL statement.");
}

TEST_F(LocalStore, ValuesOfEveryKindArrive)
{
    auto connection = CreateSeeded();
    connection->Execute("create table kinds (a integer, b double, c yesno, d datetime, e currency, "
                        "f longbinary, g memo, h decimal(9,2))");
    connection->Execute("insert into kinds values (-7, 2.5, 1, '2024-02-29 13:14:15', 12.5, x'00ff', "
                        "'备注', '-12.34')");
    connection->Execute("insert into kinds values (null, null, null, '2024-03-01', null, null, null, null)");
    connection->Execute("insert into kinds (g) values (x'e4b8ff')");  // not UTF-8
    auto rows = ReadAll(*connection, "select * from kinds");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"-7", "2.5", "true", "2024-02-29 13:14:15", "dec:12.5000",
                                                 std::string("bytes:\0\xff", 8), "备注", "dec:-12.34"}));
    EXPECT_EQ(rows[1][0], "<null>");
    EXPECT_EQ(rows[1][3], "2024-03-01 00:00:00");
    EXPECT_EQ(rows[2][6], "\xEF\xBF\xBD\xEF\xBF\xBD");

    connection->Execute("insert into kinds (d) values ('not a date')");
    EXPECT_NE(ErrorOf([&] { ReadAll(*connection, "select d from kinds"); }).find("not a date"), std::string::npos);
}

TEST_F(LocalStore, ReadOnlyModeRefusesWrites)
{
    CreateSeeded();
    auto reader = Connect("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file + ";Mode=Read;");
    EXPECT_EQ(ReadAll(*reader, "select count(*) from tablecy")[0][0], "4");
    EXPECT_NE(ErrorOf([&] { reader->Execute("delete from tablecy"); }), "(no error)");
}

// The favourites record set and the catalogue connection each hold a
// connection to the same file: a result read to its end must not keep the
// other from writing.
TEST_F(LocalStore, AFinishedResultLetsAnotherConnectionWrite)
{
    auto first = CreateSeeded();
    auto second = Connect(openString);
    auto reader = first->Query(kFavourites);
    TextSink sink;
    while (reader->Read(sink, 2) > 0) {
    }
    EXPECT_EQ(sink.rows.size(), 4u);
    EXPECT_NO_THROW(second->InsertRow("tablecy", {TextValue("常用数据表", "X.Y")}));
    auto empty = first->Query("select * from tablecy where id < 0");
    EXPECT_EQ(empty->Columns().size(), 2u);
    EXPECT_NO_THROW(second->InsertRow("tablecy", {TextValue("常用数据表", "X.Z")}));
}
