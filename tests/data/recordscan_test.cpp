// Reading a record set's stored rows in place: the rows it walks (deleted
// ones skipped), the texts it reads (the fields' own), and the move to a row
// it chose (the same window as single steps would leave).
#include "testsupport/LocalStoreFile.h"
#include "data/RecordScan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace querlin;
using namespace querlin::data;
using querlin::test::LocalStoreFile;

namespace {

struct WindowLink : TDataLink {};

std::vector<int> HeldNumbers(TADOQuery& q)
{
    std::vector<int> numbers;
    const int active = q.ActiveIndex();
    for (int i = 0; i < q.HeldCount(); ++i) {
        q.SetActiveIndex(i);
        numbers.push_back(std::stoi(q.FieldNamed("n").PlainText()));
    }
    q.SetActiveIndex(active);
    return numbers;
}

TEST(RecordScan, WalksTheLiveRowsAndReadsTheFieldsTexts)
{
    test::FixedLocale locale;
    LocalStoreFile store;
    store.MakeNumbered(8);
    store.Run("CREATE TABLE k (n INTEGER, f DOUBLE, m TEXT, d DATETIME)");
    store.Run("INSERT INTO k VALUES (1, 1.5, 'memo text', '2024-05-01 13:45:00'), (-7, NULL, NULL, NULL)");
    TADOQuery q("qryScan");
    store.OpenQuery(q, "SELECT * FROM k");
    TRecordScan scan(q);
    std::string scratch;
    TRecordScan::Row row = scan.First();
    ASSERT_TRUE(row.Valid());
    do {
        q.SetRecordNumber(int(row.position) + 1);
        for (int f = 0; f < q.FieldCount(); ++f) {
            SCOPED_TRACE(q.FieldAt(f).FieldName() + " of row " + std::to_string(row.position + 1));
            EXPECT_EQ(scan.Text(f, row, true, scratch), q.FieldAt(f).DisplayText());
            EXPECT_EQ(scan.Text(f, row, false, scratch), q.FieldAt(f).PlainText());
        }
    } while (scan.Next(row));

    TADOQuery numbers("qryNumbers");
    store.OpenQuery(numbers, "SELECT * FROM t");
    numbers.MoveRows(2);
    numbers.DeleteRow();  // n = 3
    numbers.MoveRows(2);
    numbers.DeleteRow();  // n = 6
    TRecordScan walk(numbers);
    std::vector<std::string> seen;
    std::vector<std::int64_t> positions;
    for (TRecordScan::Row r = walk.First(); r.Valid();) {
        seen.emplace_back(walk.Text(1, r, false, scratch));
        positions.push_back(r.position);
        if (!walk.Next(r))
            break;
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "4", "5", "7", "8"}));
    EXPECT_EQ(positions, (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5}));
    TRecordScan::Row last = walk.Current();
    EXPECT_EQ(walk.Text(1, last, false, scratch), numbers.FieldNamed("n").PlainText());
    EXPECT_FALSE(walk.Prior(last = walk.First())) << "nothing before the first";
}

TEST(RecordScan, MovingToARowLeavesTheWindowAsSingleStepsWould)
{
    struct Case {
        const char* name;
        int start, target;
        bool fromFirst;
    } cases[] = {
        {"ForwardInsideTheWindow", 3, 5, false},
        {"ForwardFarPastIt", 3, 35, false},
        {"BackFarPastIt", 35, 4, false},
        {"FromTheFirst", 20, 12, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LocalStoreFile store;
        store.MakeNumbered(40);
        TADOQuery stepped("qryA"), jumped("qryB");
        TDataSource sa, sb;
        WindowLink la, lb;
        for (auto [q, s, l] : {std::tuple{&stepped, &sa, &la}, std::tuple{&jumped, &sb, &lb}}) {
            s->SetDataSet(q);
            l->SetDataSource(s);
            l->SetBufferCount(7);
            store.OpenQuery(*q, "SELECT * FROM t");
            q->MoveRows(c.start - 1);
        }
        if (c.fromFirst)
            stepped.MoveFirst();
        int at = c.fromFirst ? 1 : c.start;
        while (at != c.target) {
            stepped.MoveRows(at < c.target ? 1 : -1);
            at += at < c.target ? 1 : -1;
        }
        TRecordScan scan(jumped);
        TRecordScan::Row row = scan.First();
        for (int i = 1; i < c.target; ++i)
            scan.Next(row);
        scan.MoveTo(row, c.fromFirst);
        EXPECT_EQ(jumped.RecordNumber(), c.target);
        EXPECT_EQ(HeldNumbers(jumped), HeldNumbers(stepped));
        EXPECT_EQ(jumped.ActiveIndex(), stepped.ActiveIndex());
        EXPECT_EQ(lb.FirstOffset(), la.FirstOffset());
    }
}

} // namespace
