#include "BenchSupport.h"

#include "data/ConnectionString.h"
#include "data/DataSet.h"
#include "data/ProviderText.h"
#include "platform/RowMemory.h"
#include "testsupport/TestDatabaseEnv.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <vector>

#include <sql.h>
#include <sys/resource.h>
#include <unistd.h>
#include <sqlext.h>

namespace querlin::bench {

namespace {
// Every benchmark's process keeps its heap as the program's does.
[[maybe_unused]] const bool oneHeap = (platform::ShareOneHeap(), true);
} // namespace

std::string BenchDatabase::OdbcConnectionString() const
{
    return data::OdbcSignOn({dsn, user, password, {}});
}

std::string BenchDatabase::AdoConnectionString() const
{
    return data::ReadOnlyConnectionString({dsn, user, password, {}});
}

const BenchDatabase& RequireBenchDatabase()
{
    static BenchDatabase db;
    static bool loaded = false;
    if (loaded)
        return db;
    const char* envFile = std::getenv("QUERLIN_TESTDB_ENV");
    auto settings = test::LoadTestDatabaseEnv(envFile ? envFile : "");
    if (!settings) {
        std::cerr << "test server not running: set QUERLIN_TESTDB_ENV to the env file of scripts/testdb "
                     "(scripts/bench does)\n";
        std::exit(2);
    }
    auto& values = *settings;
    db.dsn = values["QUERLIN_TESTDB_DSN"];
    db.user = values["QUERLIN_TESTDB_USER"];
    db.password = values["QUERLIN_TESTDB_PASSWORD"];
    loaded = true;
    return db;
}

double NowSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

namespace {

long long StatusKilobytes(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0)
            return std::atoll(line.c_str() + prefix.size());
    return 0;
}

} // namespace

long long PeakRssBytes()
{
    return StatusKilobytes("VmHWM") * 1024;
}

long long CurrentRssBytes()
{
    return StatusKilobytes("VmRSS") * 1024;
}

void ResetPeakRss()
{
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
}

void Figure(const std::string& name, double value)
{
    std::printf("%s: %.3f\n", name.c_str(), value);
    std::fflush(stdout);
}

namespace {

// Makes qlbench.<table> with the open benchmark's columns and this many
// rows unless it is there already.
void EnsureRowsTable(const std::string& table, int rows)
{
    const BenchDatabase& db = RequireBenchDatabase();
    data::TADOQuery run("bench");
    run.SetConnectionString("Provider=MSDASQL.1;Extended Properties=" +
                            data::QuoteAdoValue(db.OdbcConnectionString() + ";"));
    run.SetSQL("SELECT count(*) AS n FROM pg_tables WHERE schemaname = 'qlbench' AND tablename = '" + table + "'");
    run.Open();
    const bool there = run.FieldAt(0).PlainText() != "0";
    run.Close();
    if (there)
        return;
    std::cerr << "creating qlbench." << table << " (" << rows << " rows)\n";
    for (const std::string& sql :
         {std::string("CREATE SCHEMA IF NOT EXISTS qlbench"),
          "CREATE TABLE qlbench." + table + " (id integer, code varchar(20), amount numeric(12,2), "
                                            "ratio double precision, created timestamp, qty smallint)",
          "INSERT INTO qlbench." + table +
              " SELECT n, 'C' || lpad(n::text, 9, '0'), (n % 1000000) / 100.0, n * 0.25, "
              "timestamp '2020-01-01' + n * interval '1 second', n % 1000 FROM generate_series(1, " +
              std::to_string(rows) + ") n",
          "VACUUM ANALYZE qlbench." + table}) {
        run.SetSQL(sql);
        run.Execute();
    }
}

[[noreturn]] void FailRaw(SQLSMALLINT type, SQLHANDLE handle, const char* what)
{
    SQLCHAR state[6], text[1024];
    SQLINTEGER native;
    SQLSMALLINT length;
    std::string message = what;
    if (SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof text, &length)))
        message += std::string(": ") + reinterpret_cast<const char*>(text);
    throw std::runtime_error(message);
}

// A connection of the raw loop's own; the caller frees it.
void RawConnect(SQLHENV& env, SQLHDBC& dbc)
{
    const BenchDatabase& db = RequireBenchDatabase();
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    std::u16string connect = data::Utf8ToUtf16(db.OdbcConnectionString());
    if (!SQL_SUCCEEDED(SQLDriverConnectW(dbc, nullptr, reinterpret_cast<SQLWCHAR*>(connect.data()),
                                         static_cast<SQLSMALLINT>(connect.size()), nullptr, 0, nullptr,
                                         SQL_DRIVER_NOPROMPT)))
        FailRaw(SQL_HANDLE_DBC, dbc, "raw connect");
}

} // namespace

void EnsureOpenTable()
{
    EnsureRowsTable("open1m", kOpenTableRows);
}

void EnsureBigOpenTable()
{
    EnsureRowsTable("open10m", kBigOpenTableRows);
}

void LoadOdbcDriver()
{
    SQLHENV env;
    SQLHDBC dbc;
    RawConnect(env, dbc);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
}

RawFetchRun RawBoundFetch(const std::string& query)
{
    RawFetchRun run;
    const double start = NowSeconds();
    SQLHENV env;
    SQLHDBC dbc;
    SQLHSTMT stmt;
    RawConnect(env, dbc);
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    std::u16string sql = data::Utf8ToUtf16(query);
    if (!SQL_SUCCEEDED(SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(sql.data()), static_cast<SQLINTEGER>(sql.size()))))
        FailRaw(SQL_HANDLE_STMT, stmt, "raw query");

    constexpr SQLULEN kBlock = 1024;
    SQLULEN fetched = 0;
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kBlock), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    std::vector<SQLINTEGER> id(kBlock);
    std::vector<SQLWCHAR> code(kBlock * 41);
    std::vector<SQLCHAR> amount(kBlock * 64);
    std::vector<SQLDOUBLE> ratio(kBlock);
    std::vector<SQL_TIMESTAMP_STRUCT> created(kBlock);
    std::vector<SQLSMALLINT> qty(kBlock);
    std::vector<SQLLEN> len[6];
    for (auto& l : len)
        l.resize(kBlock);
    SQLBindCol(stmt, 1, SQL_C_SLONG, id.data(), sizeof(SQLINTEGER), len[0].data());
    SQLBindCol(stmt, 2, SQL_C_WCHAR, code.data(), 41 * sizeof(SQLWCHAR), len[1].data());
    SQLBindCol(stmt, 3, SQL_C_CHAR, amount.data(), 64, len[2].data());
    SQLBindCol(stmt, 4, SQL_C_DOUBLE, ratio.data(), sizeof(SQLDOUBLE), len[3].data());
    SQLBindCol(stmt, 5, SQL_C_TYPE_TIMESTAMP, created.data(), sizeof(SQL_TIMESTAMP_STRUCT), len[4].data());
    SQLBindCol(stmt, 6, SQL_C_SSHORT, qty.data(), sizeof(SQLSMALLINT), len[5].data());
    const long long fixed[6] = {4, 0, 0, 8, 16, 2};
    SQLRETURN rc;
    while ((rc = SQLFetch(stmt)) != SQL_NO_DATA) {
        if (!SQL_SUCCEEDED(rc))
            FailRaw(SQL_HANDLE_STMT, stmt, "raw fetch");
        for (SQLULEN r = 0; r < fetched; ++r) {
            for (int c = 0; c < 6; ++c) {
                SQLLEN l = len[c][r];
                if (l == SQL_NULL_DATA)
                    continue;
                run.payload += fixed[c] ? fixed[c] : (c == 1 ? l / static_cast<SQLLEN>(sizeof(SQLWCHAR)) : l);
            }
        }
        run.rows += static_cast<long long>(fetched);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
    run.seconds = NowSeconds() - start;
    run.peakRssBytes = PeakRssBytes();
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return run;
}

std::map<std::string, double> RunChild(const std::string& environment, const std::string& arguments,
                                       const std::string& what)
{
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        throw std::runtime_error("cannot find this program");
    self[n] = '\0';
    const std::string command = environment + " '" + self + "' " + arguments;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot start the " + what);
    std::map<std::string, double> figures;
    char name[128];
    double value;
    while (std::fscanf(pipe, "%127s %lf", name, &value) == 2)
        figures[name] = value;
    if (pclose(pipe) != 0 || figures.empty())
        throw std::runtime_error("the " + what + " failed");
    return figures;
}

} // namespace querlin::bench
