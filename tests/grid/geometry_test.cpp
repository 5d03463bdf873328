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

namespace {

using querlin::grid::DataRowHeightFor;
using querlin::grid::DisplayWidthForWidth;
using querlin::grid::FontHeights;
using querlin::grid::RowHeightRules;
using querlin::grid::ShownColumnWidth;
using querlin::grid::TitleRowHeightFor;
using querlin::grid::VertScrollFor;
using querlin::grid::VertScrollInput;
using querlin::grid::VertScrollValues;
using querlin::grid::WidthForDisplayWidth;

// Three data columns of 64, 100 and 40 after the indicator, in a client too
// narrow for all of them: the largest left column is 2.
GridGeometry NarrowGrid()
{
    GridGeometry g = SampleGrid();
    g.SetClientSize(QSize(12 + 141, 200));
    return g;
}

} // namespace

TEST(GridGeometry, HorizontalBarPositionsMapToLeftColumnsAndBack)
{
    GridGeometry g = NarrowGrid();
    ASSERT_EQ(g.MaxLeftCol(), 2);
    ASSERT_TRUE(g.HorzScrollable());
    struct Case {
        int position, leftCol;
    } toLeft[] = {{0, 1}, {63, 1}, {64, 2}, {127, 2}, {-5, 1}, {500, 2}};
    for (const Case& c : toLeft)
        EXPECT_EQ(g.LeftColForHorzPosition(c.position), c.leftCol) << c.position;
    struct Back {
        int leftCol, position;
    } toPosition[] = {{1, 0}, {2, 127}, {3, 127}, {0, 0}};
    for (const Back& c : toPosition)
        EXPECT_EQ(g.HorzPositionForLeftCol(c.leftCol), c.position) << c.leftCol;

    g.SetClientSize(QSize(300, 200));
    EXPECT_FALSE(g.HorzScrollable()) << "everything fits";
    EXPECT_EQ(g.HorzPositionForLeftCol(1), 0);
    EXPECT_EQ(g.LeftColForHorzPosition(127), 1);
}

TEST(GridGeometry, ColumnEdgeZonesAreEightPixelsAroundEachBoundary)
{
    // Boundaries (first pixel after the cells): column 1 at 76, 2 at 177,
    // 3 at 218. With 1-pixel lines a zone runs from boundary - 3 to + 4.
    GridGeometry g = SampleGrid();
    struct Case {
        const char* name;
        int x, col;
    } cases[] = {
        {"inside the first column", 50, -1},
        {"first pixel of the first zone", 73, 1},
        {"on the first line", 76, 1},
        {"last pixel of the first zone", 80, 1},
        {"just past it", 81, -1},
        {"on the second line", 177, 2},
        {"the third zone", 222, 3},
        {"past the last column", 260, -1},
        {"on the indicator's line: fixed columns are not sized", 11, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(g.ColumnEdgeAt(c.x), c.col) << c.name;

    g.SetLineWidths(8, 8);
    // Column 1 now ends at 11 + 8 + 64 = 83 and its line runs 83..90.
    EXPECT_EQ(g.ColumnEdgeAt(82), -1) << "a wide line is its own grip";
    EXPECT_EQ(g.ColumnEdgeAt(83), 1);
    EXPECT_EQ(g.ColumnEdgeAt(90), 1);
    EXPECT_EQ(g.ColumnEdgeAt(91), -1);
}

TEST(GridGeometry, VerticalBarValues)
{
    struct Case {
        const char* name;
        VertScrollInput input;
        VertScrollValues expected;
        bool scrollable;
    } cases[] = {
        {"closed", {}, {0, 1, 2, 0}, false},
        {"100 records, 10 visible, on the 50th",
         {true, true, 100, 50, false, 0, false, false, 10}, {1, 109, 10, 50}, true},
        {"one record", {true, true, 1, 1, false, 0, true, true, 10}, {1, 10, 10, 1}, false},
        {"two records, both visible", {true, true, 2, 2, false, 0, false, true, 10}, {1, 11, 10, 2},
         true},
        {"empty", {true, true, 0, 0, false, 0, true, true, 10}, {1, 10, 10, 0}, false},
        {"appending keeps the thumb", {true, true, 100, 101, true, 37, false, false, 10},
         {1, 109, 10, 37}, true},
        {"no positions, at the start", {true, false, 0, 0, false, 0, true, false, 10}, {0, 4, 0, 0},
         true},
        {"no positions, in between", {true, false, 0, 0, false, 0, false, false, 10}, {0, 4, 0, 2},
         true},
        {"no positions, at the end", {true, false, 0, 0, false, 0, false, true, 10}, {0, 4, 0, 4},
         true},
    };
    for (const Case& c : cases) {
        VertScrollValues values = VertScrollFor(c.input);
        EXPECT_EQ(values, c.expected) << c.name << ": " << values.Minimum << ".." << values.Maximum
                                      << " page " << values.Page << " at " << values.Position;
        EXPECT_EQ(values.Scrollable(), c.scrollable) << c.name;
    }
    VertScrollValues hundred = VertScrollFor({true, true, 100, 50, false, 0, false, false, 10});
    EXPECT_EQ(hundred.ThumbMaximum(), 100) << "the thumb's last position is the last record";
}

TEST(GridGeometry, RowHeightsFromFontMetrics)
{
    FontHeights font{13, 1};
    struct Case {
        const char* name;
        RowHeightRules rules;
        int data, title;
    } cases[] = {
        {"raised with row lines", {false, true, 1}, 13 + 3 + 1, 13 + 4},
        {"raised without row lines", {false, false, 1}, 13 + 3, 13 + 4},
        {"flat", {true, true, 1}, 13 + 1 + 1, 13 + 2},
        {"explicit row height", {false, true, 1, 30}, 30, 13 + 4},
        {"row lines of text", {false, true, 1, 2, 2}, 2 + 2 * 14, 13 + 4},
        {"fit to text rounds to whole lines", {false, true, 1, 40, 0, true}, 3 * 14 + 4, 13 + 4},
        {"title lines", {false, true, 1, 0, 0, false, 0, 2}, 13 + 3 + 1, 2 * 13 + 1 + 2 + 1},
        {"title height", {false, false, 1, 0, 0, false, 5, 0}, 13 + 3, 1 + 5 + 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DataRowHeightFor(font, c.rules), c.data) << c.name;
        EXPECT_EQ(TitleRowHeightFor(13, font, c.rules), c.title) << c.name;
    }
}

TEST(GridGeometry, ColumnWidthsAndDisplayWidths)
{
    struct Case {
        int digit, average, displayWidth, width;
    } cases[] = {{7, 6, 10, 74}, {6, 5, 30, 184}, {8, 7, 1, 12}, {7, 7, 0, 4}};
    for (const Case& c : cases) {
        EXPECT_EQ(WidthForDisplayWidth(c.digit, c.displayWidth), c.width) << c.displayWidth;
        EXPECT_EQ(DisplayWidthForWidth(c.width, c.average, c.digit), c.displayWidth)
            << "a default width gives its DisplayWidth back: " << c.displayWidth;
    }
    EXPECT_EQ(DisplayWidthForWidth(100, 6, 7), (100 + 3 - 3) / 7) << "rounded down to a digit";
    EXPECT_EQ(DisplayWidthForWidth(-1, 6, 7), -1) << "a hidden width is not fed back";
    EXPECT_EQ(DisplayWidthForWidth(100, 6, 0), -1) << "no digit width";

    EXPECT_EQ(ShownColumnWidth(true, 80, true), 80);
    EXPECT_EQ(ShownColumnWidth(false, 80, true), -1) << "with column lines the line goes too";
    EXPECT_EQ(ShownColumnWidth(false, 80, false), 0);
}

TEST(GridGeometry, LeftColumnMovesOfTheHorizontalBar)
{
    GridGeometry g = NarrowGrid();  // room 141 right of the indicator; largest left column 2
    struct Clamp {
        int leftCol, direction, expected;
    } clamps[] = {{3, 1, 2}, {0, -1, 1}, {2, 0, 2}, {-4, 1, 1}};
    for (const Clamp& c : clamps)
        EXPECT_EQ(g.ClampLeftCol(c.leftCol, c.direction), c.expected) << c.leftCol;

    EXPECT_EQ(g.HorzShiftTo(2), -65) << "column 1 and its line leave to the left";
    EXPECT_EQ(g.ColsFittingLeftOfLeftCol(), 1) << "at least one, even with none left";
    EXPECT_EQ(g.LeftColToShow(3), 2) << "the smallest left column showing column 3 in full";
    EXPECT_EQ(g.LeftColToShow(1), 1) << "already shown";
    EXPECT_EQ(g.LeftColToShow(0), 1) << "a fixed column moves nothing";

    g.SetLeftCol(2);
    EXPECT_EQ(g.HorzShiftTo(1), 65);
    EXPECT_EQ(g.ColsFittingLeftOfLeftCol(), 1);
    EXPECT_EQ(g.LeftColToShow(1), 1) << "left of the left column: it becomes the left column";
}
