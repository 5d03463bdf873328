// The grid's arithmetic without a window: cell rectangles, hit testing,
// hidden columns, visible rows and the row window size.
#include "grid/GridGeometry.h"

#include <gtest/gtest.h>

using querlin::grid::GridGeometry;

namespace {

// An indicator column of 11, three data columns, a title row of 20 and five
// data rows of 18, 1-pixel lines, in a 300 x 200 client.
GridGeometry SampleGrid()
{
    GridGeometry g;
    g.SetColCount(4);
    g.SetRowCount(6);
    g.SetFixedCols(1);
    g.SetFixedRows(1);
    g.SetDefaultRowHeight(18);
    g.SetRowHeight(0, 20);
    g.SetColWidth(0, 11);
    g.SetColWidth(1, 64);
    g.SetColWidth(2, 100);
    g.SetColWidth(3, 40);
    g.SetClientSize(QSize(300, 200));
    return g;
}

} // namespace

TEST(GridGeometry, CellRectsFollowWidthsAndLines)
{
    struct Case {
        const char* name;
        int col, row;
        QRect expected;
    } cases[] = {
        {"top-left corner", 0, 0, QRect(0, 0, 11, 20)},
        {"first title", 1, 0, QRect(12, 0, 64, 20)},
        {"second title", 2, 0, QRect(77, 0, 100, 20)},
        {"first indicator", 0, 1, QRect(0, 21, 11, 18)},
        {"first data cell", 1, 1, QRect(12, 21, 64, 18)},
        {"last data cell", 3, 5, QRect(178, 21 + 4 * 19, 40, 18)},
        {"column out of range", 4, 1, QRect()},
        {"row out of range", 1, 6, QRect()},
    };
    GridGeometry g = SampleGrid();
    for (const Case& c : cases)
        EXPECT_EQ(g.CellRect(c.col, c.row), c.expected) << c.name;
}

TEST(GridGeometry, CellAtFindsTheCellOfEveryCentreAndLine)
{
    GridGeometry g = SampleGrid();
    for (int col = 0; col < g.ColCount(); ++col)
        for (int row = 0; row < g.RowCount(); ++row) {
            QRect rect = g.CellRect(col, row);
            EXPECT_EQ(g.CellAt(rect.center()), QPoint(col, row)) << col << "," << row;
            // The line right of and below a cell counts with the cell.
            EXPECT_EQ(g.CellAt(QPoint(rect.right() + 1, rect.bottom() + 1)), QPoint(col, row));
        }
    EXPECT_EQ(g.CellAt(QPoint(250, 10)), QPoint(-1, -1)) << "right of the last column";
    EXPECT_EQ(g.CellAt(QPoint(20, 190)), QPoint(-1, -1)) << "below the last row";
    EXPECT_EQ(g.CellAt(QPoint(-1, 5)), QPoint(-1, -1));
}

TEST(GridGeometry, HiddenColumnTakesNoSpace)
{
    GridGeometry g = SampleGrid();
    g.SetColWidth(2, -1);  // hidden with column lines: its line goes too
    EXPECT_EQ(g.CellRect(3, 1).left(), 77);
    EXPECT_EQ(g.CellAt(QPoint(80, 30)), QPoint(3, 1));
    EXPECT_EQ(g.GridRight(), 77 + 41);
}

TEST(GridGeometry, ScrolledColumnsLeaveTheFixedOnesInPlace)
{
    GridGeometry g = SampleGrid();
    g.SetLeftCol(2);
    EXPECT_EQ(g.CellRect(0, 1), QRect(0, 21, 11, 18));
    EXPECT_TRUE(g.CellRect(1, 1).isEmpty()) << "scrolled out";
    EXPECT_EQ(g.CellRect(2, 1).left(), 12);
    EXPECT_EQ(g.CellAt(QPoint(15, 25)), QPoint(2, 1));
    g.SetLeftCol(0);
    EXPECT_EQ(g.LeftCol(), 1) << "never left of the fixed columns";
}

TEST(GridGeometry, FullyVisibleRowsCountOnlyWholeRows)
{
    struct Case {
        const char* name;
        int clientHeight;
        int expected;
    } cases[] = {
        {"all five fit", 200, 5},
        {"exactly three", 21 + 3 * 19 - 1, 3},
        {"one pixel short of three", 21 + 3 * 19 - 2, 2},
        {"title only", 21, 0},
    };
    for (const Case& c : cases) {
        GridGeometry g = SampleGrid();
        g.SetClientSize(QSize(300, c.clientHeight));
        EXPECT_EQ(g.FullyVisibleRows(), c.expected) << c.name;
    }
}

TEST(GridGeometry, RowWindowSizeIsWholeRowsAndAtLeastOne)
{
    struct Case {
        const char* name;
        int clientHeight, fixedPart, pitch, expected;
    } cases[] = {
        {"ten rows", 21 + 190, 21, 19, 10},
        {"a partial row does not count", 21 + 189, 21, 19, 9},
        {"no room", 10, 21, 19, 1},
        {"no pitch", 100, 21, 0, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GridGeometry::RowWindowSize(c.clientHeight, c.fixedPart, c.pitch), c.expected)
            << c.name;
}

TEST(GridGeometry, HorizontalScrollLimits)
{
    GridGeometry g = SampleGrid();
    EXPECT_EQ(g.MaxLeftCol(), 1) << "everything fits";
    struct Case {
        int clientWidth, expected;
    } cases[] = {
        {12 + 40, 3},          // only the last column fits
        {12 + 40 + 100, 3},    // one pixel short of the last two
        {12 + 141, 2},         // the last two, the line after the last past the edge
        {12 + 205, 2},         // one pixel short of all three
        {12 + 206, 1},
    };
    for (const Case& c : cases) {
        g.SetClientSize(QSize(c.clientWidth, 200));
        EXPECT_EQ(g.MaxLeftCol(), c.expected) << c.clientWidth;
    }
    g.SetClientSize(QSize(80, 200));
    g.SetLeftCol(1);
    EXPECT_EQ(g.LastFullyVisibleCol(), 1);
}
