// The grid over record sets of the PostgreSQL test server through ODBC:
// the same columns, numbers and row colours as over the local store.
#include "data/DataSet.h"
#include "grid/TDataGrid.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>

using namespace querlin;
using namespace querlin::grid;

namespace {

struct GridOverServer {
    data::TADOQuery query{"qry1"};
    data::TDataSource source;
    TDataGrid grid;

    GridOverServer()
    {
        query.SetConnectionString(test::RequireTestDatabase().AdoConnectionString());
        source.SetDataSet(&query);
        grid.SetDataSource(&source);
        grid.resize(600, 300);
        grid.show();
    }
};

} // namespace

TEST(GridOverServer, ColumnsFollowTheFieldsOfEachQuery)
{
    GridOverServer t;
    t.query.SetSQL("SELECT * FROM qltest.allkinds");
    t.query.Open();
    ASSERT_EQ(t.grid.Columns().Count(), t.query.FieldCount());
    for (int i = 0; i < t.query.FieldCount(); ++i) {
        EXPECT_EQ(t.grid.Columns()[i].Field(), &t.query.FieldAt(i));
        EXPECT_EQ(t.grid.Columns()[i].Title().Caption(), t.query.FieldAt(i).DisplayLabel());
    }
    t.query.SetSQL("SELECT letter FROM qltest.letters");
    t.query.Open();
    ASSERT_EQ(t.grid.Columns().Count(), 1);
    EXPECT_EQ(t.grid.Columns()[0].Title().Caption(), "letter");
    EXPECT_EQ(t.grid.RowCount(), 1 + 4);
}

TEST(GridOverServer, HookSeesEachRowsOwnNumberInABigSet)
{
    GridOverServer t;
    t.query.SetSQL("SELECT g AS n, g * 2 AS twice FROM generate_series(1, 5000) g");
    t.query.Open();
    t.query.SetRecordNumber(2500);
    std::vector<std::pair<int, int>> seen;  // (grid row, record number)
    t.grid.OnDrawColumnCell = [&](TCustomDataGrid* Sender, const QRect& Rect, int DataCol,
                                  TGridColumn* Column, TGridDrawState State) {
        if (DataCol == 0)
            seen.push_back({Sender->cellAt(Rect.center()).y(), t.query.RecordNumber()});
        Sender->Canvas().Font.Color = t.query.RecordNumber() % 2 != 0 ? clRed : clBlue;
        Sender->DrawFieldText(Rect, Column->Field(), State);
    };
    t.grid.viewport()->grab();
    int rows = t.grid.DataLink().RecordCount();
    ASSERT_EQ(int(seen.size()), rows);
    int first = seen.front().second;
    for (const auto& [row, number] : seen)
        EXPECT_EQ(number, first + row - 1) << "grid row " << row;
    EXPECT_LE(first, 2500);
    EXPECT_GE(first + rows - 1, 2500);
    EXPECT_EQ(t.query.RecordNumber(), 2500) << "the current record is restored";
    EXPECT_EQ(t.grid.Row(), 1 + t.grid.DataLink().ActiveRecord());
}
