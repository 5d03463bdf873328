// Row window speed: walking a snapshot with MoveNext and jumping by record
// number must cost the same per step on a million rows as on a thousand,
// with the same window. Record sets are filled from local store files.
//
// Prints: walk_ratio, jump_ratio (time per step on 1,000,000 rows / on
// 1,000 rows; target at most 1.2) and walk_vs_loop (time per MoveNext / time
// per step of a plain loop over the same values, for information).

#include "data/DataSet.h"
#include "data/Provider.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace querlin::data;

// The thread's own CPU time: the machine is shared, and time spent waiting
// for a core is not time spent moving through rows.
struct Clock {
    using duration = std::chrono::nanoseconds;
    static std::chrono::nanoseconds now()
    {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
    }
};

namespace {

constexpr int kWindow = 30;  // about what a grid of ordinary height asks for
constexpr int kJumps = 1000;

// A link like a grid's: it takes every notification and does a little with it.
class CountingLink : public TDataLink {
public:
    long long events = 0;

protected:
    void DataSetChanged() override { ++events; }
    void DataSetScrolled(int distance) override { events += distance + 1; }
};

struct Set {
    std::filesystem::path file;
    TADOQuery query;
    TDataSource source;
    CountingLink link;
    int rows = 0;

    Set(const std::filesystem::path& folder, int count) : file(folder / ("rows" + std::to_string(count) + ".mdb")), rows(count)
    {
        std::filesystem::remove(file);
        const std::string cs = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file.string() + ";";
        CreateLocalStore(cs);
        TADOQuery make;
        make.SetConnectionString(cs);
        make.SetSQL("CREATE TABLE t (id Counter, n integer, name varchar(50), PRIMARY KEY (id))");
        make.Execute();
        make.SetSQL("INSERT INTO t (n, name) WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
                    "WHERE x < " + std::to_string(count) + ") SELECT x, 'row ' || x FROM c");
        make.Execute();
        source.SetDataSet(&query);
        link.SetBufferCount(kWindow);
        link.SetDataSource(&source);
        query.SetConnectionString(cs);
        query.SetSQL("SELECT * FROM t ORDER BY id");
        query.Open();
    }
    ~Set()
    {
        query.Close();
        std::error_code ec;
        std::filesystem::remove(file, ec);
    }
};

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Seconds per MoveNext, walking towards the end (from the first row again
// when the end is reached) until `steps` steps were timed.
double WalkPerStep(Set& set, long long steps)
{
    const auto start = Clock::now();
    for (long long i = 0; i < steps; ++i) {
        if (set.query.AtEnd())
            set.query.MoveFirst();
        set.query.MoveNext();
    }
    return Seconds(Clock::now() - start) / static_cast<double>(steps);
}

// Seconds per jump to one of 1,000 random record numbers.
double JumpPerStep(Set& set, int repeats)
{
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> pick(1, set.rows);
    std::vector<int> targets(kJumps);
    for (int& t : targets)
        t = pick(random);
    const auto start = Clock::now();
    for (int r = 0; r < repeats; ++r) {
        for (int t : targets)
            set.query.SetRecordNumber(t);
    }
    return Seconds(Clock::now() - start) / (static_cast<double>(kJumps) * repeats);
}

// A plain loop over the same values: what a step costs without a record set.
double PlainLoopPerStep(const std::vector<long long>& values, long long minSteps)
{
    double best = 1e9;
    volatile long long sink = 0;
    for (int round = 0; round < 5; ++round) {
        long long steps = 0;
        long long sum = 0;
        const auto start = Clock::now();
        while (steps < minSteps) {
            for (long long v : values) {
                sum += v;
                ++steps;
                asm volatile("" : : "r"(sum) : "memory");
            }
        }
        sink = sum;
        best = std::min(best, Seconds(Clock::now() - start) / static_cast<double>(steps));
    }
    (void)sink;
    return best;
}

} // namespace

int main()
{
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "querlin-rowwindow-bench";
    std::filesystem::create_directories(folder);

    Set small(folder, 1000);
    Set large(folder, 1000000);

    // The two sizes take turns, and each keeps its best round, so that load
    // from elsewhere on the machine does not fall on one of them only.
    double walkSmall = 1e9, walkLarge = 1e9, jumpSmall = 1e9, jumpLarge = 1e9;
    for (int round = 0; round < 21; ++round) {
        walkSmall = std::min(walkSmall, WalkPerStep(small, 300000));
        walkLarge = std::min(walkLarge, WalkPerStep(large, 300000));
        jumpSmall = std::min(jumpSmall, JumpPerStep(small, 3));
        jumpLarge = std::min(jumpLarge, JumpPerStep(large, 3));
    }

    std::vector<long long> values;
    values.reserve(static_cast<std::size_t>(large.rows));
    for (int i = 1; i <= large.rows; ++i)
        values.push_back(i);
    const double loop = PlainLoopPerStep(values, 2000000);

    std::printf("walk_ns_1000: %.2f\n", walkSmall * 1e9);
    std::printf("walk_ns_1000000: %.2f\n", walkLarge * 1e9);
    std::printf("jump_ns_1000: %.2f\n", jumpSmall * 1e9);
    std::printf("jump_ns_1000000: %.2f\n", jumpLarge * 1e9);
    std::printf("walk_ratio: %.3f\n", walkLarge / walkSmall);
    std::printf("jump_ratio: %.3f\n", jumpLarge / jumpSmall);
    std::printf("walk_vs_loop: %.1f\n", walkLarge / loop);

    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
