#include "grid/TCustomCellGrid.h"

#include "platform/Error.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <cstdio>

namespace querlin::grid {

namespace {
TCustomCellGrid::ErrorReporter& GlobalReporter()
{
    static TCustomCellGrid::ErrorReporter reporter;
    return reporter;
}
} // namespace

TCustomCellGrid::TCustomCellGrid(QWidget* parent) : QAbstractScrollArea(parent)
{
    // A sunken edge two pixels deep sets the cells off from the window around them.
    setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    setFocusPolicy(Qt::StrongFocus);
    // Every pixel is painted by lines, cells or the fill beyond them.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    horizontalScrollBar()->setTracking(false);
    verticalScrollBar()->setTracking(false);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    horizontalScrollBar()->setRange(0, 0);
    verticalScrollBar()->setRange(0, 0);
    geometry_.SetClientSize(viewport()->size());
    ApplyLineWidths();
}

TCustomCellGrid::~TCustomCellGrid() = default;

void TCustomCellGrid::SetColor(TColor color)
{
    if (color_ == color)
        return;
    color_ = color;
    InvalidateGrid();
}

void TCustomCellGrid::SetFixedColor(TColor color)
{
    if (fixedColor_ == color)
        return;
    fixedColor_ = color;
    InvalidateGrid();
}

void TCustomCellGrid::InvalidateCell(int col, int row)
{
    QRect rect = cellRect(col, row);
    if (!rect.isEmpty())
        viewport()->update(rect.adjusted(0, 0, geometry_.VertLineWidth(), geometry_.HorzLineWidth()));
}

void TCustomCellGrid::InvalidateRow(int row)
{
    int top = geometry_.RowTop(row);
    if (top >= 0)
        viewport()->update(QRect(0, top, viewport()->width(), geometry_.RowSpan(row)));
}

void TCustomCellGrid::InvalidateGrid()
{
    viewport()->update();
}

void TCustomCellGrid::SetErrorReporter(ErrorReporter reporter)
{
    GlobalReporter() = std::move(reporter);
}

void TCustomCellGrid::ReportError(const std::exception& error) const
{
    try {
        if (OnError)
            OnError(error);
        else if (GlobalReporter())
            GlobalReporter()(error);
        else
            std::fprintf(stderr, "%s\n", error.what());
    } catch (...) {
        // A reporter that fails has nobody left to tell; Qt must not see it.
    }
}

void TCustomCellGrid::Guarded(const std::function<void()>& work, const char* what) const
{
    try {
        work();
    } catch (const std::exception& error) {
        ReportError(error);
    } catch (...) {
        ReportError(Error(std::string("Unknown error while ") + what));
    }
}

void TCustomCellGrid::PaintGrid(QPainter& painter, const QRegion& region)
{
    painter.fillRect(region.boundingRect(), ResolveColor(color_, palette()));
}

void TCustomCellGrid::SetColCount(int count)
{
    geometry_.SetColCount(count);
    if (col_ >= count)
        col_ = std::max(count - 1, 0);
}

void TCustomCellGrid::SetRowCount(int count)
{
    geometry_.SetRowCount(count);
    if (row_ >= count)
        row_ = std::max(count - 1, 0);
}

void TCustomCellGrid::SetFixedCols(int count)
{
    if (count < 0)
        throw Error("Grid index out of range");
    if (count >= ColCount())
        throw Error("Fixed column count must be less than column count");
    geometry_.SetFixedCols(count);
    if (col_ < count)
        col_ = count;
}

void TCustomCellGrid::SetFixedRows(int count)
{
    if (count < 0)
        throw Error("Grid index out of range");
    if (count >= RowCount())
        throw Error("Fixed row count must be less than row count");
    geometry_.SetFixedRows(count);
    if (row_ < count)
        row_ = count;
}

void TCustomCellGrid::SetDefaultColWidth(int width) { geometry_.SetDefaultColWidth(width); }
void TCustomCellGrid::SetDefaultRowHeight(int height) { geometry_.SetDefaultRowHeight(height); }
void TCustomCellGrid::SetColWidths(int col, int width) { geometry_.SetColWidth(col, width); }
void TCustomCellGrid::SetRowHeights(int row, int height) { geometry_.SetRowHeight(row, height); }

void TCustomCellGrid::SetGridOptions(TGridOptions options)
{
    gridOptions_ = options;
    ApplyLineWidths();
}

void TCustomCellGrid::ApplyLineWidths()
{
    bool vertical = gridOptions_.Contains(goFixedVertLine) || gridOptions_.Contains(goVertLine);
    bool horizontal = gridOptions_.Contains(goFixedHorzLine) || gridOptions_.Contains(goHorzLine);
    geometry_.SetLineWidths(vertical ? gridLineWidth_ : 0, horizontal ? gridLineWidth_ : 0);
}

void TCustomCellGrid::SetScrollBars(TScrollStyle style)
{
    scrollBars_ = style;
    bool horizontal = style == TScrollStyle::ssHorizontal;
    setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

void TCustomCellGrid::SetLeftCol(int col)
{
    geometry_.SetLeftCol(col);
}

void TCustomCellGrid::SetTopRow(int row)
{
    geometry_.SetTopRow(row);
}

void TCustomCellGrid::MoveCurrent(int col, int row, bool invalidate)
{
    if (col < 0 || col >= ColCount() || row < 0 || row >= RowCount())
        throw Error("Grid index out of range");
    if (col == col_ && row == row_)
        return;
    if (invalidate)
        InvalidateCell(col_, row_);
    col_ = col;
    row_ = row;
    if (invalidate)
        InvalidateCell(col_, row_);
}

void TCustomCellGrid::UpdateHorzScrollBar()
{
    // Measure as if the bar were hidden, so its own presence does not decide
    // whether it is needed.
    GridGeometry probe = geometry_;
    QSize size = viewport()->size();
    if (horizontalScrollBar()->isVisible())
        size.rheight() += horizontalScrollBar()->height();
    probe.SetClientSize(size);
    int maxLeft = probe.MaxLeftCol();
    if (LeftCol() > maxLeft)
        geometry_.SetLeftCol(maxLeft);
    settingHorzBar_ = true;
    if (probe.HorzScrollable()) {
        horizontalScrollBar()->setRange(0, GridGeometry::kHorzScrollMax);
        horizontalScrollBar()->setPageStep(1);
        horizontalScrollBar()->setValue(probe.HorzPositionForLeftCol(LeftCol()));
    } else {
        horizontalScrollBar()->setRange(0, 0);
    }
    settingHorzBar_ = false;
}

void TCustomCellGrid::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    Guarded([&] { PaintGrid(painter, event->region()); }, "painting");
}

void TCustomCellGrid::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    geometry_.SetClientSize(viewport()->size());
    Guarded([this] {
        GridResized();
        UpdateHorzScrollBar();
    }, "resizing");
}

void TCustomCellGrid::scrollContentsBy(int dx, int dy)
{
    (void)dy;
    if (dx == 0 || settingHorzBar_)
        return;
    if (!geometry_.HorzScrollable())
        return;
    geometry_.SetLeftCol(geometry_.LeftColForHorzPosition(horizontalScrollBar()->value()));
    InvalidateGrid();
}

void TCustomCellGrid::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    FocusChanged();
}

void TCustomCellGrid::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    FocusChanged();
}

} // namespace querlin::grid
