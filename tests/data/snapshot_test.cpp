// The row storage under record sets: values of every slot kind survive
// growth across chunk and arena boundaries, and nulls stay where they were.

#include "data/Snapshot.h"
#include "platform/CacheFile.h"
#include "platform/RowMemory.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>

using querlin::data::Snapshot;
using querlin::data::SlotKind;

namespace {

std::string TextFor(std::int64_t row)
{
    // Lengths that cross the one-byte length prefix, small and big arena blocks.
    static const std::size_t lengths[] = {0, 1, 7, 127, 128, 4095, 5000, 70000, 300000};
    const std::size_t length = row % 97 == 0 ? lengths[(row / 97) % 9] : static_cast<std::size_t>(row % 13);
    return std::string(length, static_cast<char>('a' + row % 26));
}

namespace platform = querlin::platform;

// The process's row budget for one test: the bytes in use now and extra.
class Budget {
public:
    explicit Budget(std::uint64_t extra) { platform::SetRowMemoryBudgetForTesting(platform::RowMemoryInUse() + extra); }
    ~Budget() { platform::SetRowMemoryBudgetForTesting(0); }
};

// In memory, past the budget part-way (the rest in the cache file), and all
// in the cache file: the same values read back.
struct StorageCase {
    const char* name;
    std::uint64_t budget;  // bytes beyond those in use
};

class SnapshotStorage : public ::testing::TestWithParam<StorageCase> {};

INSTANTIATE_TEST_SUITE_P(Budgets, SnapshotStorage,
                         ::testing::Values(StorageCase{"InMemory", std::uint64_t(1) << 40},
                                           StorageCase{"PartlySpilled", 200000}, StorageCase{"AllSpilled", 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(SnapshotStorage, ValuesSurviveGrowth)
{
    Budget budget(GetParam().budget);
    Snapshot s({SlotKind::Int32, SlotKind::Int64, SlotKind::Float64, SlotKind::Ref});
    const std::int64_t rows = 10000;  // past the first chunk's doublings and into the third chunk
    for (std::int64_t r = 0; r < rows; ++r) {
        const std::int64_t row = s.AddRow();
        ASSERT_EQ(row, r);
        if (r % 5 == 0)
            continue;  // a row of nulls
        s.SetInt32(0, row, static_cast<std::int32_t>(-r));
        s.SetInt64(1, row, r * 1000000007LL);
        s.SetFloat64(2, row, static_cast<double>(r) / 4);
        s.SetRef(3, row, TextFor(r));
    }
    EXPECT_EQ(s.RowCount(), rows);
    for (std::int64_t r = 0; r < rows; ++r) {
        if (r % 5 == 0) {
            for (int c = 0; c < 4; ++c)
                ASSERT_TRUE(s.IsNull(c, r)) << r;
            continue;
        }
        ASSERT_FALSE(s.IsNull(0, r)) << r;
        ASSERT_EQ(s.Int32(0, r), -r);
        ASSERT_EQ(s.Int64(1, r), r * 1000000007LL);
        ASSERT_EQ(s.Float64(2, r), static_cast<double>(r) / 4);
        ASSERT_EQ(s.Ref(3, r), TextFor(r)) << r;
    }
    if (GetParam().budget < 1000000)
        EXPECT_GT(s.SpilledBytes(), 0u);
    else
        EXPECT_EQ(s.SpilledBytes(), 0u);
}

// Memory that runs out, whichever allocation it hits (a chunk, the first
// chunk's growth, an arena block): what was written stays whole and
// readable, and once memory is back the writer goes on where it stopped.
TEST(Snapshot, AFailedAllocationKeepsEveryRowWrittenBefore)
{
    for (const std::uint64_t limit : {100u, 3000u, 40000u, 70000u, 300000u}) {
        Snapshot s({SlotKind::Int32, SlotKind::Ref, SlotKind::Int64});
        std::int64_t done = 0;
        platform::FailRowAllocationsBeyondForTesting(limit);
        try {
            for (;; ++done) {
                const std::int64_t row = s.AddRow();
                s.SetInt32(0, row, static_cast<std::int32_t>(row));
                s.SetRef(1, row, TextFor(row));
                s.SetInt64(2, row, row * 3);
            }
        } catch (const std::bad_alloc&) {
        }
        platform::FailRowAllocationsBeyondForTesting(0);
        // The row being written when memory ran out is dropped.
        s.Truncate(done);
        for (std::int64_t r = done; r < done + 5000; ++r) {
            const std::int64_t row = s.AddRow();
            ASSERT_EQ(row, r) << limit;
            s.SetInt32(0, row, static_cast<std::int32_t>(row));
            s.SetRef(1, row, TextFor(row));
            s.SetInt64(2, row, row * 3);
        }
        ASSERT_EQ(s.RowCount(), done + 5000) << limit;
        for (std::int64_t r = 0; r < s.RowCount(); ++r) {
            ASSERT_EQ(s.Int32(0, r), r) << limit;
            ASSERT_EQ(s.Ref(1, r), TextFor(r)) << limit << " row " << r;
            ASSERT_EQ(s.Int64(2, r), r * 3) << limit;
        }
    }
}

#ifndef _WIN32
// Past the budget with no cache file to be had: the writer hears why, and
// the rows before stay.
TEST(Snapshot, NoCacheFolderStopsTheWriterWithTheReason)
{
    querlin::test::TempDir dir;
    querlin::test::WriteFile(dir.Path() / "plain", "not a folder");
    const char* const old = std::getenv("XDG_CACHE_HOME");
    const std::string kept = old ? old : "";
    ::setenv("XDG_CACHE_HOME", (dir.Path() / "plain").c_str(), 1);
    Snapshot s({SlotKind::Int64});
    std::int64_t rows = 0;
    {
        Budget budget(100000);
        try {
            for (;; ++rows)
                s.SetInt64(0, s.AddRow(), rows);
        } catch (const platform::CacheFileError& e) {
            EXPECT_FALSE(e.DiskFull());
            EXPECT_EQ(std::string(e.what()).rfind(platform::kCacheUnwritableText, 0), 0u);
        }
    }
    if (old)
        ::setenv("XDG_CACHE_HOME", kept.c_str(), 1);
    else
        ::unsetenv("XDG_CACHE_HOME");
    EXPECT_GT(rows, 4096);
    for (std::int64_t r = 0; r < rows; ++r)
        ASSERT_EQ(s.Int64(0, r), r);
}
#endif

TEST(Snapshot, ShortResultsStaySmall)
{
    Snapshot s(std::vector<SlotKind>(200, SlotKind::Int64));
    s.AddRow();
    // 200 columns of one row: the first chunk holds 64 rows, not 4,096.
    EXPECT_LT(s.AllocatedBytes(), 200u * 1024u);
}

TEST(Snapshot, CopyRowAndNulls)
{
    Snapshot pending({SlotKind::Int32, SlotKind::Ref, SlotKind::Ref});
    pending.AddRow();
    pending.SetInt32(0, 0, 7);
    pending.SetRef(1, 0, "x");
    pending.SetRef(1, 0, "second value");  // assigned twice: the last counts
    Snapshot rows({SlotKind::Int32, SlotKind::Ref, SlotKind::Ref});
    for (int i = 0; i < 70; ++i)
        rows.AddRow();
    rows.CopyRow(pending, 0, 69);
    EXPECT_EQ(rows.Int32(0, 69), 7);
    EXPECT_EQ(rows.Ref(1, 69), "second value");
    EXPECT_TRUE(rows.IsNull(2, 69));
    rows.SetNull(0, 69);
    EXPECT_TRUE(rows.IsNull(0, 69));
    EXPECT_FALSE(rows.IsNull(1, 69));
}

// A writer appends and publishes block by block while a reader walks every
// published row, from the first chunk's doublings on: what is published
// reads whole and never moves under the reader (the thread pass checks the
// publication itself).
TEST(Snapshot, PublishedRowsReadWhileTheWriterAppends)
{
    Snapshot s({SlotKind::Int32, SlotKind::Ref});
    s.AddRow();
    s.SetInt32(0, 0, 0);
    s.SetRef(1, 0, TextFor(0));
    s.Share();
    const std::int64_t rows = 20000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (std::int64_t r = 1; r < rows; ++r) {
            const std::int64_t row = s.AddRow();
            if (r % 7 != 0) {
                s.SetInt32(0, row, static_cast<std::int32_t>(r));
                s.SetRef(1, row, TextFor(r));
            }
            if (r % 100 == 0)
                s.Publish();
        }
        // Written past the last block: seen by nobody, dropped below.
        s.Publish();
        done = true;
    });
    std::int64_t checked = 0;
    std::int64_t mismatches = 0;
    while (!done || checked < s.RowCount()) {
        const std::int64_t published = s.RowCount();
        for (; checked < published; ++checked) {
            const bool empty = checked % 7 == 0 && checked != 0;
            if (s.IsNull(0, checked) != empty || (!empty && (s.Int32(0, checked) != checked ||
                                                             s.Ref(1, checked) != TextFor(checked))))
                ++mismatches;
        }
        // Rereading the first rows while the first chunk is replaced.
        if (published > 0 && s.Int32(0, 0) != 0)
            ++mismatches;
    }
    writer.join();
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(checked, rows);

    // Rows written and never published are forgotten, their cells null again.
    s.AddRow();
    s.AddRow();
    s.SetInt32(0, rows, 5);
    s.Truncate(rows);
    s.Unshare();
    EXPECT_EQ(s.RowCount(), rows);
    EXPECT_EQ(s.AddRow(), rows);
    EXPECT_TRUE(s.IsNull(0, rows));
    EXPECT_EQ(s.RowCount(), rows + 1);
}

} // namespace
