// The mouse's arithmetic without a window: where a point lands, the data
// area, the steps of drag tracking outside it, and where a column move
// stands with the pointer at an x.
#include "grid/GridGeometry.h"

#include <gtest/gtest.h>

#include <ostream>

using querlin::grid::AutoScrollFor;
using querlin::grid::AutoScrollStep;
using querlin::grid::GridGeometry;

namespace querlin::grid {
std::ostream& operator<<(std::ostream& out, const AutoScrollStep& s)
{
    return out << "{inside " << s.Inside << ", d " << s.Distance << ", records " << s.Records
               << ", columns " << s.Columns << ", " << s.IntervalMs << " ms}";
}
} // namespace querlin::grid

namespace {

// An indicator column of 11, data columns of 64, 100 and 40, a title row of
// 20 and five data rows of 18, 1-pixel lines, in a 300 x 200 client. Columns
// start at x = 0, 12, 77, 178 and end (line included) at 219; rows start at
// y = 0, 21, 40, ... and end at 116.
GridGeometry SampleGrid(int clientWidth = 300)
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
    g.SetClientSize(QSize(clientWidth, 200));
    return g;
}

using Zone = GridGeometry::Zone;

} // namespace

TEST(GridHitTest, WhereAPressLands)
{
    struct Case {
        const char* name;
        QPoint point;
        bool sizing;
        Zone zone;
        int col, row;
    } cases[] = {
        {"top-left cell", {5, 5}, true, Zone::TopLeft, 0, 0},
        {"indicator's edge is not sized", {9, 5}, true, Zone::TopLeft, 0, 0},
        {"title", {40, 5}, true, Zone::Title, 1, 0},
        {"3 left of the first column's boundary", {73, 5}, true, Zone::ColumnEdge, 1, 0},
        {"4 right of it", {80, 5}, true, Zone::ColumnEdge, 1, 0},
        {"just outside the zone, left", {72, 5}, true, Zone::Title, 1, 0},
        {"just outside the zone, right", {81, 5}, true, Zone::Title, 2, 0},
        {"last column's boundary", {221, 5}, true, Zone::ColumnEdge, 3, 0},
        {"edge without column sizing", {76, 5}, false, Zone::Title, 1, 0},
        {"edge level with a data row is a cell", {76, 30}, true, Zone::Data, 1, 1},
        {"indicator cell", {5, 30}, true, Zone::Indicator, 0, 1},
        {"data cell", {100, 50}, true, Zone::Data, 2, 2},
        {"line below a cell counts with it", {100, 39}, true, Zone::Data, 2, 1},
        {"below the last row", {100, 150}, true, Zone::Outside, -1, -1},
        {"right of the last column", {250, 30}, true, Zone::Outside, -1, -1},
        {"right of the last column, title band", {250, 5}, true, Zone::Outside, -1, -1},
        {"outside the client", {100, 250}, true, Zone::Outside, -1, -1},
        {"left of the client", {-1, 30}, true, Zone::Outside, -1, -1},
    };
    GridGeometry g = SampleGrid();
    for (const Case& c : cases) {
        GridGeometry::Hit hit = g.HitTest(c.point, 1, 1, c.sizing);
        EXPECT_EQ(hit.Where, c.zone) << c.name;
        EXPECT_EQ(hit.Col, c.col) << c.name;
        if (c.zone != Zone::ColumnEdge) {
            EXPECT_EQ(hit.Row, c.row) << c.name;
        }
    }
}

TEST(GridHitTest, ColumnUnderX)
{
    GridGeometry g = SampleGrid();
    struct Case {
        int x, col;
    } cases[] = {{-1, -1}, {0, 0}, {11, 0}, {12, 1}, {76, 1}, {77, 2}, {218, 3}, {219, -1}};
    for (const Case& c : cases)
        EXPECT_EQ(g.ColAtX(c.x), c.col) << "x " << c.x;
    g.SetLeftCol(2);
    EXPECT_EQ(g.ColAtX(12), 2) << "scrolled: column 2 follows the indicator";
}

TEST(GridHitTest, DataAreaEndsAtTheLastCellOrTheClient)
{
    EXPECT_EQ(SampleGrid().DataArea(), QRect(QPoint(12, 21), QPoint(218, 115)));
    EXPECT_EQ(SampleGrid(150).DataArea(), QRect(QPoint(12, 21), QPoint(149, 115)));
}

TEST(GridHitTest, AutoScrollByDistance)
{
    const QRect area(QPoint(12, 21), QPoint(218, 115));
    struct Case {
        const char* name;
        QPoint point;
        AutoScrollStep expected;
    } cases[] = {
        {"inside", {100, 50}, {true, 0, 0, 0, 0}},
        {"on the last row's line", {100, 115}, {true, 0, 0, 0, 0}},
        {"1 below: no record yet", {100, 116}, {false, 1, 0, 0, 185}},
        {"5 below", {100, 120}, {false, 5, 0, 0, 125}},
        {"6 below: one record", {100, 121}, {false, 6, 1, 0, 110}},
        {"12 below", {100, 127}, {false, 12, 2, 0, 20}},
        {"14 below: no wait", {100, 129}, {false, 14, 2, 0, 0}},
        {"far below: 8 at most", {100, 400}, {false, 285, 8, 0, 0}},
        {"7 above", {100, 14}, {false, 7, -1, 0, 95}},
        {"3 left", {9, 50}, {false, 3, 0, -1, 155}},
        {"right and below: the larger distance", {238, 123}, {false, 20, 3, 1, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AutoScrollFor(c.point, area), c.expected) << c.name;
}

TEST(GridHitTest, ColumnMoveTargets)
{
    // 150 wide: column 1 is the last one shown in full; the largest left
    // column is 3.
    struct Case {
        const char* name;
        int leftCol;
        int x;
        int wantLeft, wantTarget;
    } cases[] = {
        {"over column 1", 1, 40, 1, 1},
        {"right of the last fully visible: one right", 1, 100, 2, 2},
        {"left of the scrollable area, nothing to the left", 1, 5, 1, 1},
        {"left of the scrollable area: one left", 3, 5, 2, 2},
        {"at the largest left column, right edge", 3, 149, 3, 3},
    };
    for (const Case& c : cases) {
        GridGeometry g = SampleGrid(150);
        g.SetLeftCol(c.leftCol);
        GridGeometry::MoveTrack track = g.ColumnMoveTrack(c.x);
        EXPECT_EQ(track.LeftCol, c.wantLeft) << c.name;
        EXPECT_EQ(track.Target, c.wantTarget) << c.name;
    }
}

TEST(GridHitTest, MoveMarkerStandsAtTheTargetsFarEdge)
{
    GridGeometry g = SampleGrid();
    EXPECT_EQ(g.MoveMarkerX(1, 3), 218) << "moving right: the target's right edge";
    EXPECT_EQ(g.MoveMarkerX(3, 1), 12) << "moving left: its left edge";
    EXPECT_EQ(g.MoveMarkerX(2, 2), 77) << "in place: its left edge";
}
