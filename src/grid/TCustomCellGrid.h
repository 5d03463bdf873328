#pragma once
// TCustomCellGrid: a grid of cells in a scroll area, knowing nothing of data.
// It owns the geometry (GridGeometry), the grid options, the colours of data
// and fixed cells, the current cell, and the scroll style; it turns window
// events into calls and leaves all drawing to PaintGrid, which a derived grid
// overrides. GUI thread only.
//
// Errors: an exception that escapes painting never reaches Qt. The grid
// reports it through its OnError callback when set, else through the
// process-wide reporter set with SetErrorReporter (the application points it
// at its error report); with neither, it is written to standard error.

#include "grid/GridColors.h"
#include "grid/GridGeometry.h"
#include "grid/GridTypes.h"

#include <QAbstractScrollArea>

#include <exception>
#include <functional>

namespace querlin::grid {

class TCustomCellGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    using ErrorReporter = std::function<void(const std::exception&)>;

    explicit TCustomCellGrid(QWidget* parent = nullptr);
    ~TCustomCellGrid() override;

    const GridGeometry& Geometry() const { return geometry_; }

    int ColCount() const { return geometry_.ColCount(); }
    int RowCount() const { return geometry_.RowCount(); }
    int FixedCols() const { return geometry_.FixedCols(); }
    int FixedRows() const { return geometry_.FixedRows(); }
    int DefaultColWidth() const { return geometry_.DefaultColWidth(); }
    int DefaultRowHeight() const { return geometry_.DefaultRowHeight(); }
    int ColWidths(int col) const { return geometry_.ColWidth(col); }
    int RowHeights(int row) const { return geometry_.RowHeight(row); }
    int GridLineWidth() const { return gridLineWidth_; }
    int LeftCol() const { return geometry_.LeftCol(); }
    int TopRow() const { return geometry_.TopRow(); }

    // The current cell (grid column and row).
    int Col() const { return col_; }
    int Row() const { return row_; }

    TGridOptions GridOptions() const { return gridOptions_; }
    TScrollStyle ScrollBars() const { return scrollBars_; }

    TColor Color() const { return color_; }
    void SetColor(TColor color);
    TColor FixedColor() const { return fixedColor_; }
    void SetFixedColor(TColor color);

    // Cells in viewport pixels (see GridGeometry).
    QRect cellRect(int col, int row) const { return geometry_.CellRect(col, row); }
    QPoint cellAt(QPoint point) const { return geometry_.CellAt(point); }

    void InvalidateCell(int col, int row);
    void InvalidateRow(int row);  // the full client width
    void InvalidateGrid();

    ErrorReporter OnError;
    static void SetErrorReporter(ErrorReporter reporter);
    // Hands an error to OnError, else to the process-wide reporter.
    void ReportError(const std::exception& error) const;
    // Runs the work of an event handler and reports whatever it throws, so
    // Qt never sees an exception; `what` names the event for an exception
    // that carries no text.
    void Guarded(const std::function<void()>& work, const char* what) const;

    // Paints the grid onto a painter, only where it meets the region. A
    // derived grid paints its cells; this one fills with Color.
    virtual void PaintGrid(QPainter& painter, const QRegion& region);

protected:
    // Setters for the grid that derives: the cell grid's own counts and sizes.
    void SetColCount(int count);
    void SetRowCount(int count);
    void SetFixedCols(int count);
    void SetFixedRows(int count);
    void SetDefaultColWidth(int width);
    void SetDefaultRowHeight(int height);
    void SetColWidths(int col, int width);
    void SetRowHeights(int row, int height);
    void SetGridOptions(TGridOptions options);
    void SetScrollBars(TScrollStyle style);
    void SetLeftCol(int col);
    void SetTopRow(int row);
    // Moves the current cell without scrolling anything into view; raises
    // "Grid index out of range" for a cell outside the grid. The old and the
    // new cell are marked for repainting unless the caller does it.
    void MoveCurrent(int col, int row, bool invalidate = true);

    // The horizontal bar follows LeftCol: 0..127 while there is anything to
    // scroll, else hidden.
    void UpdateHorzScrollBar();

    // Called after the client area changed size.
    virtual void GridResized() {}
    virtual void FocusChanged() {}

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void ApplyLineWidths();

    GridGeometry geometry_;
    TGridOptions gridOptions_{goFixedVertLine, goFixedHorzLine, goVertLine, goHorzLine,
                              goRangeSelect};
    TScrollStyle scrollBars_ = TScrollStyle::ssHorizontal;
    TColor color_ = clWindow;
    TColor fixedColor_ = clBtnFace;
    int gridLineWidth_ = 1;
    int col_ = 1;
    int row_ = 1;
    bool settingHorzBar_ = false;
};

} // namespace querlin::grid
