// The row storage under record sets: values of every slot kind survive
// growth across chunk and arena boundaries, and nulls stay where they were.

#include "data/Snapshot.h"

#include <gtest/gtest.h>

#include <atomic>
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

TEST(Snapshot, ValuesSurviveGrowth)
{
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
}

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
