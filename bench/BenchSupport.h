#pragma once
// Helpers shared by the benchmarks: the test server's settings (from the
// file scripts/testdb wrote, named by QUERLIN_TESTDB_ENV), timing, and the
// process's memory high-water mark.

#include <map>
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
// Processor time of this process, all its threads, user and system.
double CpuSeconds();

// Peak and current resident set size of this process, in bytes.
long long PeakRssBytes();
long long CurrentRssBytes();
// Starts a new peak from the current size (Linux: clear_refs 5).
void ResetPeakRss();

// Makes the million-row table qlbench.open1m (id, code, amount, ratio,
// created, qty) on the test server unless it is there already.
constexpr int kOpenTableRows = 1000000;
void EnsureOpenTable();
// The same columns, ten million rows: qlbench.open10m. Made once (it takes
// a minute or so) and kept with the server's data like the million rows.
constexpr int kBigOpenTableRows = 10000000;
void EnsureBigOpenTable();

// The baseline the record set is measured against: a plain unixODBC loop
// (wide calls, columns bound by column, 1,024-row blocks) over one of the
// open tables, keeping nothing.
struct RawFetchRun {
    double seconds = 0;        // connect to disconnect
    long long rows = 0;
    // The bytes received per value, text counted in UTF-8: 4 (integer) +
    // the code's characters + the amount's digits + 8 (double) + 16
    // (timestamp structure) + 2 (smallint).
    long long payload = 0;
    long long peakRssBytes = 0;  // the process's peak, taken before the handles are freed
};
RawFetchRun RawBoundFetch(const std::string& sql);
// Connects and disconnects once, so the driver's libraries are loaded
// before anything is measured.
void LoadOdbcDriver();

// Prints one figure as "name: value" on standard output.
void Figure(const std::string& name, double value);

// Runs this program again with the arguments (and the environment settings
// before it, "NAME=value ..."), each run in a fresh process, and reads the
// "name value" lines it prints; throws naming the run when it fails.
std::map<std::string, double> RunChild(const std::string& environment, const std::string& arguments,
                                       const std::string& what);

} // namespace querlin::bench
