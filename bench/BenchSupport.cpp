#include "BenchSupport.h"

#include "data/ConnectionString.h"
#include "data/DataSet.h"
#include "testsupport/TestDatabaseEnv.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

namespace querlin::bench {

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

void EnsureOpenTable()
{
    const BenchDatabase& db = RequireBenchDatabase();
    data::TADOQuery run("bench");
    run.SetConnectionString("Provider=MSDASQL.1;Extended Properties=" +
                            data::QuoteAdoValue(db.OdbcConnectionString() + ";"));
    run.SetSQL("SELECT count(*) AS n FROM pg_tables WHERE schemaname = 'qlbench' AND tablename = 'open1m'");
    run.Open();
    const bool there = run.FieldAt(0).PlainText() != "0";
    run.Close();
    if (there)
        return;
    std::cerr << "creating qlbench.open1m (1,000,000 rows)\n";
    for (const std::string& sql :
         {std::string("CREATE SCHEMA IF NOT EXISTS qlbench"),
          std::string("CREATE TABLE qlbench.open1m (id integer, code varchar(20), amount numeric(12,2), "
                      "ratio double precision, created timestamp, qty smallint)"),
          "INSERT INTO qlbench.open1m SELECT n, 'C' || lpad(n::text, 9, '0'), (n % 1000000) / 100.0, n * 0.25, "
          "timestamp '2020-01-01' + n * interval '1 second', n % 1000 FROM generate_series(1, " +
              std::to_string(kOpenTableRows) + ") n",
          std::string("VACUUM ANALYZE qlbench.open1m")}) {
        run.SetSQL(sql);
        run.Execute();
    }
}

} // namespace querlin::bench
