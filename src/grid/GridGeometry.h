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

} // namespace querlin::grid
