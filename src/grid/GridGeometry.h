#pragma once
// The arithmetic of a cell grid: column widths, row heights, fixed columns
// and rows, the top-left scrollable cell, and the mapping between cells and
// client pixels. No window and no painting: the widget keeps one and asks it,
// tests build one by hand.
//
// Layout of the client area: the fixed columns from x = 0, then the
// scrollable columns from LeftCol on; the fixed rows from y = 0, then the
// scrollable rows from TopRow on. Each cell is followed by its grid line
// (to the right and below), as wide as the line width of its direction. A
// column of width -1 with a 1-pixel line therefore takes no space at all.

#include <QPoint>
#include <QRect>
#include <QSize>

#include <algorithm>
#include <vector>

namespace querlin::grid {

class GridGeometry {
public:
    int ColCount() const { return int(colWidths_.size()); }
    int RowCount() const { return int(rowHeights_.size()); }
    void SetColCount(int count);   // new columns take the default width
    void SetRowCount(int count);   // new rows take the default height

    int FixedCols() const { return fixedCols_; }
    int FixedRows() const { return fixedRows_; }
    void SetFixedCols(int count);  // clamped to 0 .. ColCount - 1 (or 0)
    void SetFixedRows(int count);  // clamped to 0 .. RowCount - 1 (or 0)

    int DefaultColWidth() const { return defaultColWidth_; }
    void SetDefaultColWidth(int width) { defaultColWidth_ = width; }
    int DefaultRowHeight() const { return defaultRowHeight_; }
    void SetDefaultRowHeight(int height);  // every row takes it again

    int ColWidth(int col) const;
    void SetColWidth(int col, int width);
    int RowHeight(int row) const;
    void SetRowHeight(int row, int height);

    // Width of the vertical lines (between columns) and of the horizontal
    // lines (between rows); 0 when the grid draws no such lines.
    int VertLineWidth() const { return vertLineWidth_; }
    int HorzLineWidth() const { return horzLineWidth_; }
    void SetLineWidths(int vertical, int horizontal);

    int LeftCol() const { return leftCol_; }
    int TopRow() const { return topRow_; }
    void SetLeftCol(int col);  // clamped to FixedCols .. ColCount - 1
    void SetTopRow(int row);   // clamped to FixedRows .. RowCount - 1

    QSize ClientSize() const { return client_; }
    void SetClientSize(QSize size) { client_ = size; }

    // Space a column or row takes, with its line (never negative).
    int ColSpan(int col) const;
    int RowSpan(int row) const;
    int FixedWidth() const;   // the fixed columns with their lines
    int FixedHeight() const;  // the fixed rows with their lines

    // The x of a column's left edge, or the y of a row's top edge, in client
    // pixels; -1 for a scrollable column left of LeftCol (or row above TopRow).
    int ColLeft(int col) const;
    int RowTop(int row) const;

    // The cell's rectangle in client pixels without its lines; an empty
    // rectangle when the cell is scrolled out of view or out of range. It may
    // reach past the client area.
    QRect CellRect(int col, int row) const;
    // The cell under a client point, a cell's line counting with the cell;
    // (-1, -1) when no cell is there.
    QPoint CellAt(QPoint point) const;

    // Where the last shown column ends (with its line), and the last row.
    int GridRight() const;
    int GridBottom() const;

    // Scrollable rows from TopRow that fit wholly in the client height.
    int FullyVisibleRows() const;
    // The last scrollable column that fits wholly in the client width from
    // LeftCol (at least LeftCol).
    int LastFullyVisibleCol() const;
    // The smallest LeftCol with which the last column is shown in full.
    int MaxLeftCol() const;

    // How many whole rows of the given pitch (height with line) fit below a
    // fixed part in a client height: at least 1.
    static int RowWindowSize(int clientHeight, int fixedPart, int rowPitch);

    // The column whose sizing zone holds client x in the title band, or -1.
    // A boundary at x (the first pixel after a column's cells) owns the
    // pixels x - b .. x - b + 7, b = (7 - line width) / 2, so that a thin
    // line still gets a grip of 8 pixels; a line wider than 6 pixels is its
    // own grip. Only scrollable columns are sized; the leftmost zone wins.
    int ColumnEdgeAt(int x) const;

    // The left column shown when the horizontal bar stands at a position of
    // 0..127, and back; rounded to the nearest.
    int LeftColForHorzPosition(int position) const;
    int HorzPositionForLeftCol(int leftCol) const;
    // Whether there is anything to scroll sideways (the bar runs 0..127).
    bool HorzScrollable() const { return MaxLeftCol() > fixedCols_; }
    static constexpr int kHorzScrollMax = 127;

    // The left column after a horizontal bar message, from the present one:
    // a column of width 0 is stepped past in the direction of the move, and
    // the result is clamped to FixedCols .. MaxLeftCol.
    int ClampLeftCol(int leftCol, int direction) const;
    // How many scrollable columns left of LeftCol would fit in the scrollable
    // width (a page to the left), at least 1.
    int ColsFittingLeftOfLeftCol() const;
    // The left column that shows a column: unchanged when it is shown in
    // full, the column itself when it is left of LeftCol, else the smallest
    // left column with which it is shown in full. Fixed columns leave it be.
    int LeftColToShow(int col) const;
    // The horizontal pixel shift that moves the scrollable columns from
    // LeftCol to another left column: negative to the left.
    int HorzShiftTo(int leftCol) const;

    // ---- hit-testing for the mouse

    // The grid column under client x, by x alone (a line counts with the
    // column left of it); -1 left of 0 or right of the last column.
    int ColAtX(int x) const;
    // Where a point lands: the column-sizing zone (title band only, right of
    // the fixed columns, with column sizing allowed), else the cell under it
    // by its area. Outside: not in the client area, or in no cell (below the
    // last row, right of the last column).
    enum class Zone { Outside, ColumnEdge, TopLeft, Title, Indicator, Data };
    struct Hit {
        Zone Where = Zone::Outside;
        int Col = -1;
        int Row = -1;
    };
    Hit HitTest(QPoint point, int indicatorOffset, int titleOffset, bool columnSizing) const;
    // The scrollable cells shown: from the fixed part to the last shown
    // column and row (with their lines), cut at the client area.
    QRect DataArea() const;
    // The x of a column's right boundary (the first pixel after its cells).
    int ColRightEdge(int col) const { return ColLeft(col) < 0 ? -1 : ColLeft(col) + std::max(ColWidth(col), 0); }
    // Where a column move stands with the pointer at client x: left of the
    // scrollable area the left column steps one left (when it can) and the
    // target is the first scrollable column shown; right of the last fully
    // visible column it steps one right and the target is the last fully
    // visible one; otherwise the left column stays and the target is the
    // column under x.
    struct MoveTrack {
        int LeftCol = 0;
        int Target = 0;
    };
    MoveTrack ColumnMoveTrack(int x) const;
    // The x of the move marker: the target's right edge when it lies right
    // of the source, else its left edge.
    int MoveMarkerX(int source, int target) const;

private:
    std::vector<int> colWidths_{64, 64};
    std::vector<int> rowHeights_{24, 24};
    int fixedCols_ = 1;
    int fixedRows_ = 1;
    int defaultColWidth_ = 64;
    int defaultRowHeight_ = 24;
    int vertLineWidth_ = 1;
    int horzLineWidth_ = 1;
    int leftCol_ = 1;
    int topRow_ = 1;
    QSize client_;
};

// The vertical bar as a view of the record numbers: Minimum..Maximum with a
// thumb of Page positions, so the thumb can stand at Minimum..Maximum-Page+1.
// A closed set gives 0..1 with a page of 2 (nothing to scroll); a set that
// knows positions gives 1..R+V-1 with a page of V, the thumb at the current
// record's number; one that does not gives five positions 0..4 (start 0, end
// 4, anywhere else 2).
// The five thumb positions of a record set that does not know its positions:
// a thumb dragged to one of them moves first, a page up, nowhere, a page
// down or last.
inline constexpr int kThumbFirst = 0;
inline constexpr int kThumbPageUp = 1;
inline constexpr int kThumbMiddle = 2;
inline constexpr int kThumbPageDown = 3;
inline constexpr int kThumbLast = 4;

struct VertScrollValues {
    int Minimum = 0;
    int Maximum = 1;
    int Page = 2;
    int Position = 0;
    // The highest thumb position, which is what a Qt bar calls its maximum.
    int ThumbMaximum() const { return Maximum - (Page > 1 ? Page - 1 : 0); }
    bool Scrollable() const { return ThumbMaximum() > Minimum; }
    bool operator==(const VertScrollValues&) const = default;
};

// What the vertical bar needs to know of the record set.
struct VertScrollInput {
    bool Open = false;
    bool KnowsPositions = false;
    int RecordCount = 0;
    int RecordNumber = 0;
    bool KeepPosition = false;  // appending or editing: the thumb stays where it was
    int OldPosition = 0;
    bool AtStart = false;
    bool AtEnd = false;
    int FullyVisibleRows = 0;
};

VertScrollValues VertScrollFor(const VertScrollInput& input);

// One step of drag tracking with the pointer at a point, the data area given:
// inside it the cell under the pointer becomes current; outside it d, the
// larger of the vertical and the horizontal distance to the area in pixels,
// moves min(d / 6, 8) records toward the side above or below, one column
// toward the side left or right, and the step repeats every
// max(0, 200 - 15 d) milliseconds.
struct AutoScrollStep {
    bool Inside = true;
    int Distance = 0;
    int Records = 0;   // signed: negative upwards
    int Columns = 0;   // -1, 0 or +1
    int IntervalMs = 0;
    bool operator==(const AutoScrollStep&) const = default;
};
AutoScrollStep AutoScrollFor(QPoint point, const QRect& dataArea);

// The height metrics of a font, as integers, so row heights can be worked out
// without a window.
struct FontHeights {
    int Height = 0;   // ascent + descent
    int Leading = 0;  // space between lines
};

// The rules for a data row's height and the title row's height.
struct RowHeightRules {
    bool Flat = false;
    bool HorzLines = false;      // dgRowLines: the line below counts with the row
    int LineWidth = 1;
    int RowHeight = 0;           // the grid's RowHeight, 0 when unset
    int RowLineCount = 0;        // the grid's RowLines, 0 when unset
    bool FitRowHeightToText = false;
    int TitleHeight = 0;         // the grid's TitleHeight, 0 when unset
    int TitleLineCount = 0;      // the grid's TitleLines, 0 when unset
};

// Data rows: the font's full height (that of "Wg") and a margin of 3 pixels
// for the raised look (1 flat) and the line below.
int DataRowHeightFor(FontHeights font, const RowHeightRules& rules);
// The title row: the tallest title font and 4 pixels (2 flat), or the
// explicit title height and lines in the grid's title font.
int TitleRowHeightFor(int tallestTitleFont, FontHeights gridTitleFont, const RowHeightRules& rules);

// A default column shows DisplayWidth digits and 4 pixels: the 2-pixel text
// inset on the left and 2 pixels that keep a full-width text off the line on
// the right. Qt's fonts add no overhang per character, so none is added.
int WidthForDisplayWidth(int digitWidth, int displayWidth);
// A width set by hand is fed back as a DisplayWidth, rounded to the nearest
// digit, so that the default width of that DisplayWidth gives the same width
// back: (width + average char width / 2 - 3) / digit width. -1 when it
// cannot be worked out (no digit width, a negative width).
int DisplayWidthForWidth(int width, int averageCharWidth, int digitWidth);
// A hidden column keeps its place in the cell grid: width -1 with column
// lines, so its line goes too and it takes no space, else 0.
int ShownColumnWidth(bool visible, int width, bool colLines);

} // namespace querlin::grid
