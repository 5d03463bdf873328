#pragma once
// Helpers shared by the benchmarks: the test server's settings (from the
// file scripts/testdb wrote, named by QUERLIN_TESTDB_ENV), timing, and the
// process's memory high-water mark.

#include <string>

namespace querlin::bench {

struct BenchDatabase {
    std::string dsn;
    std::string user;
    std::string password;
    // "DSN=...;UID=...;PWD=..."
    std::string OdbcConnectionString() const;
    // The program's read-only form: "Provider=MSDASQL.1;...;Mode=Read;Extended Properties=..."
    std::string AdoConnectionString() const;
};

// Reads QUERLIN_TESTDB_ENV and points unixODBC at the server's odbc.ini.
// Exits the program with a message when the server is not there.
const BenchDatabase& RequireBenchDatabase();

double NowSeconds();

// Peak and current resident set size of this process, in bytes.
long long PeakRssBytes();
long long CurrentRssBytes();
// Starts a new peak from the current size (Linux: clear_refs 5).
void ResetPeakRss();

// Makes the million-row table qlbench.open1m (id, code, amount, ratio,
// created, qty) on the test server unless it is there already.
constexpr int kOpenTableRows = 1000000;
void EnsureOpenTable();

// Prints one figure as "name: value" on standard output.
void Figure(const std::string& name, double value);

} // namespace querlin::bench
