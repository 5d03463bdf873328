// A data source someone else registered for PostgreSQL's driver, without
// the cursor options the Login writes: results still stream a block at a
// time instead of landing whole in the driver's memory first.
//
// Linux only: the test's own data source file reaches the driver manager
// through the process environment, which the Windows build's driver
// manager under Wine does not read from the program.
#ifndef _WIN32

#include "data/ConnectionString.h"
#include "data/DataSet.h"
#include "platform/Error.h"
#include "testsupport/TaskQueue.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

using namespace querlin;
using namespace querlin::data;
using Clock = std::chrono::steady_clock;

namespace {

// A data source file of the test's own with the shared test server's data
// source under another name, its cursor options left out and these lines
// added; the driver manager reads it while the object lives.
class BareDataSource {
public:
    static constexpr const char* kName = "QUERLIN_BARE";

    explicit BareDataSource(const std::vector<std::string>& extraLines)
    {
        const auto& db = test::RequireTestDatabase();
        std::istringstream shared(test::ReadFile(db.odbcIni));
        std::string file = std::string("[") + kName + "]\n";
        bool inSection = false;
        for (std::string line; std::getline(shared, line);) {
            if (!line.empty() && line[0] == '[') {
                inSection = line == "[" + db.dsn + "]";
                continue;
            }
            const std::string key = line.substr(0, line.find('='));
            if (inSection && !SameKey(key, "UseDeclareFetch") && !SameKey(key, "Fetch"))
                file += line + "\n";
        }
        for (const std::string& line : extraLines)
            file += line + "\n";
        test::WriteFile(dir_.File("odbc.ini"), file);
        previous_ = db.odbcIni;
        setenv("ODBCINI", dir_.File("odbc.ini").c_str(), 1);
    }
    ~BareDataSource() { setenv("ODBCINI", previous_.c_str(), 1); }
    BareDataSource(const BareDataSource&) = delete;
    BareDataSource& operator=(const BareDataSource&) = delete;

    // The program's own read-only connection string, as the Login makes it.
    static std::string ConnectionString()
    {
        const auto& db = test::RequireTestDatabase();
        return ReadOnlyConnectionString({kName, db.user, db.password, kName});
    }

private:
    test::TempDir dir_;
    std::string previous_;
};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUERLIN_SANITIZED_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUERLIN_SANITIZED_ALLOCATOR 1
#endif
#endif
#ifdef QUERLIN_SANITIZED_ALLOCATOR
// The sanitizers' allocators hold freed blocks back and shadow every byte,
// so resident memory no longer tells who holds the rows.
constexpr bool kResidentMemoryTellsWhoHoldsTheRows = false;
#else
constexpr bool kResidentMemoryTellsWhoHoldsTheRows = true;
#endif

// The process's resident memory in bytes.
std::size_t ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// Rows whose last one fails on the server: a driver that read the whole
// result before handing over the first row fails the Open itself; one that
// streams shows the first rows and fails later, while fetching.
std::string FailingAtTheEnd(int rows)
{
    const std::string n = std::to_string(rows);
    return "SELECT g AS n, 1 / (" + n + " - g) AS q FROM generate_series(1, " + n + ") g";
}

TEST(StreamSourceDb, ADataSourceWithoutCursorOptionsStillStreams)
{
    const struct {
        const char* name;
        std::vector<std::string> lines;
    } cases[] = {
        {"options left out", {}},
        {"options set against streaming", {"UseDeclareFetch=0", "Fetch=100"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BareDataSource source(c.lines);
        test::TaskQueue gui;
        TADOQuery q;
        q.SetConnectionString(BareDataSource::ConnectionString());
        q.SetSQL(FailingAtTheEnd(50000));
        ASSERT_EQ(test::ErrorOf([&] { q.Open(); }), "(no error)");
        EXPECT_EQ(q.FieldNamed("n").PlainText(), "1");
        ASSERT_TRUE(gui.RunUntil([&] { return q.FetchState() != TFetchState::fsFetching; }));
        EXPECT_EQ(q.FetchState(), TFetchState::fsFailed);
        EXPECT_NE(q.FetchFailure().find("division by zero"), std::string::npos) << q.FetchFailure();
        EXPECT_GE(q.RecordCount(), 1024);
        EXPECT_LT(q.RecordCount(), 50000);
    }
}

// A million rows: the first at once, and the memory the process takes for
// them is the snapshot's (4 bytes a row for the one integer column, and a
// null bit), not a second copy of the result in the driver.
TEST(StreamSourceDb, AMillionRowsCostTheSnapshotAloneAndShowBeforeTheEnd)
{
    constexpr int kRows = 1000000;
    BareDataSource source({});
    test::TaskQueue gui;
    TADOQuery q;
    q.SetConnectionString(BareDataSource::ConnectionString());
    // The driver and its libraries are loaded by a first small open, so
    // only the rows count.
    q.SetSQL("SELECT 1 AS n");
    q.Open();
    q.Close();

    q.SetSQL("SELECT g AS n FROM generate_series(1, " + std::to_string(kRows) + ") g");
    const std::size_t before = ResidentBytes();
    std::size_t peak = before;
    q.Open();
    peak = std::max(peak, ResidentBytes());
    EXPECT_EQ(q.FetchState(), TFetchState::fsFetching);
    EXPECT_EQ(q.RecordCount(), 1024);
    EXPECT_EQ(q.FieldNamed("n").PlainText(), "1");
    ASSERT_TRUE(gui.RunUntil([&] {
        peak = std::max(peak, ResidentBytes());
        return q.FetchState() != TFetchState::fsFetching;
    }));
    ASSERT_EQ(q.FetchState(), TFetchState::fsComplete) << q.FetchFailure();
    EXPECT_EQ(q.RecordCount(), kRows);
    q.MoveLast();
    EXPECT_EQ(q.FieldNamed("n").PlainText(), std::to_string(kRows));

    const std::size_t snapshot = kRows * 4 + kRows / 8;
    const std::size_t growth = peak - before;
    std::printf("resident growth %zu bytes for a snapshot of %zu\n", growth, snapshot);
    // Room for the slack of the heap, the reader's and the driver's blocks
    // of rows; a driver holding the whole result needs several times more.
    if (kResidentMemoryTellsWhoHoldsTheRows) {
        EXPECT_LT(growth, 2 * snapshot + 16u * 1024 * 1024);
    }
}

} // namespace

#endif
