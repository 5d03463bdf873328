#include "grid/GridGeometry.h"

#include <algorithm>
#include <cmath>

namespace querlin::grid {

void GridGeometry::SetColCount(int count)
{
    colWidths_.resize(std::size_t(std::max(count, 0)), defaultColWidth_);
    SetFixedCols(fixedCols_);
    SetLeftCol(leftCol_);
}

void GridGeometry::SetRowCount(int count)
{
    rowHeights_.resize(std::size_t(std::max(count, 0)), defaultRowHeight_);
    SetFixedRows(fixedRows_);
    SetTopRow(topRow_);
}

void GridGeometry::SetFixedCols(int count)
{
    fixedCols_ = std::clamp(count, 0, std::max(ColCount() - 1, 0));
    SetLeftCol(leftCol_);
}

void GridGeometry::SetFixedRows(int count)
{
    fixedRows_ = std::clamp(count, 0, std::max(RowCount() - 1, 0));
    SetTopRow(topRow_);
}

void GridGeometry::SetDefaultRowHeight(int height)
{
    defaultRowHeight_ = height;
    std::fill(rowHeights_.begin(), rowHeights_.end(), height);
}

int GridGeometry::ColWidth(int col) const
{
    return col >= 0 && col < ColCount() ? colWidths_[std::size_t(col)] : 0;
}

void GridGeometry::SetColWidth(int col, int width)
{
    if (col >= 0 && col < ColCount())
        colWidths_[std::size_t(col)] = width;
}

int GridGeometry::RowHeight(int row) const
{
    return row >= 0 && row < RowCount() ? rowHeights_[std::size_t(row)] : 0;
}

void GridGeometry::SetRowHeight(int row, int height)
{
    if (row >= 0 && row < RowCount())
        rowHeights_[std::size_t(row)] = height;
}

void GridGeometry::SetLineWidths(int vertical, int horizontal)
{
    vertLineWidth_ = std::max(vertical, 0);
    horzLineWidth_ = std::max(horizontal, 0);
}

void GridGeometry::SetLeftCol(int col)
{
    leftCol_ = std::clamp(col, fixedCols_, std::max(ColCount() - 1, fixedCols_));
}

void GridGeometry::SetTopRow(int row)
{
    topRow_ = std::clamp(row, fixedRows_, std::max(RowCount() - 1, fixedRows_));
}

int GridGeometry::ColSpan(int col) const
{
    return std::max(ColWidth(col) + vertLineWidth_, 0);
}

int GridGeometry::RowSpan(int row) const
{
    return std::max(RowHeight(row) + horzLineWidth_, 0);
}

int GridGeometry::FixedWidth() const
{
    int width = 0;
    for (int c = 0; c < fixedCols_; ++c)
        width += ColSpan(c);
    return width;
}

int GridGeometry::FixedHeight() const
{
    int height = 0;
    for (int r = 0; r < fixedRows_; ++r)
        height += RowSpan(r);
    return height;
}

int GridGeometry::ColLeft(int col) const
{
    if (col < 0 || col >= ColCount())
        return -1;
    int x = 0;
    if (col < fixedCols_) {
        for (int c = 0; c < col; ++c)
            x += ColSpan(c);
        return x;
    }
    if (col < leftCol_)
        return -1;
    x = FixedWidth();
    for (int c = leftCol_; c < col; ++c)
        x += ColSpan(c);
    return x;
}

int GridGeometry::RowTop(int row) const
{
    if (row < 0 || row >= RowCount())
        return -1;
    int y = 0;
    if (row < fixedRows_) {
        for (int r = 0; r < row; ++r)
            y += RowSpan(r);
        return y;
    }
    if (row < topRow_)
        return -1;
    y = FixedHeight();
    for (int r = topRow_; r < row; ++r)
        y += RowSpan(r);
    return y;
}

QRect GridGeometry::CellRect(int col, int row) const
{
    int x = ColLeft(col);
    int y = RowTop(row);
    if (x < 0 || y < 0)
        return {};
    return QRect(x, y, std::max(ColWidth(col), 0), std::max(RowHeight(row), 0));
}

QPoint GridGeometry::CellAt(QPoint point) const
{
    auto find = [](int pos, int count, int fixed, int first, auto span) {
        if (pos < 0)
            return -1;
        int edge = 0;
        for (int i = 0; i < fixed; ++i) {
            edge += span(i);
            if (pos < edge)
                return i;
        }
        for (int i = first; i < count; ++i) {
            edge += span(i);
            if (pos < edge)
                return i;
        }
        return -1;
    };
    int col = find(point.x(), ColCount(), fixedCols_, leftCol_, [this](int c) { return ColSpan(c); });
    int row = find(point.y(), RowCount(), fixedRows_, topRow_, [this](int r) { return RowSpan(r); });
    if (col < 0 || row < 0)
        return {-1, -1};
    return {col, row};
}

int GridGeometry::GridRight() const
{
    int x = FixedWidth();
    for (int c = leftCol_; c < ColCount() && x < client_.width(); ++c)
        x += ColSpan(c);
    return x;
}

int GridGeometry::GridBottom() const
{
    int y = FixedHeight();
    for (int r = topRow_; r < RowCount() && y < client_.height(); ++r)
        y += RowSpan(r);
    return y;
}

int GridGeometry::FullyVisibleRows() const
{
    int y = FixedHeight();
    int rows = 0;
    for (int r = topRow_; r < RowCount(); ++r) {
        y += RowHeight(r);
        if (y > client_.height())
            break;
        y += horzLineWidth_;
        ++rows;
    }
    return rows;
}

int GridGeometry::LastFullyVisibleCol() const
{
    int x = FixedWidth();
    int last = leftCol_;
    for (int c = leftCol_; c < ColCount(); ++c) {
        if (x + std::max(ColWidth(c), 0) > client_.width())
            break;
        x += ColSpan(c);
        last = c;
    }
    return last;
}

int GridGeometry::MaxLeftCol() const
{
    int room = client_.width() - FixedWidth();
    int col = ColCount() - 1;
    int used = 0;
    for (int c = ColCount() - 1; c >= fixedCols_; --c) {
        used += ColSpan(c);
        // The line after the last column may fall past the edge.
        if (used - vertLineWidth_ > room)
            break;
        col = c;
    }
    return std::max(col, fixedCols_);
}

int GridGeometry::RowWindowSize(int clientHeight, int fixedPart, int rowPitch)
{
    if (rowPitch <= 0)
        return 1;
    return std::max((clientHeight - fixedPart) / rowPitch, 1);
}

} // namespace querlin::grid

namespace querlin::grid {

int GridGeometry::ColumnEdgeAt(int x) const
{
    int line = vertLineWidth_;
    int left = FixedWidth();
    for (int c = leftCol_; c < ColCount() && left <= client_.width(); ++c) {
        int width = ColWidth(c);
        if (width >= 0) {
            int boundary = left + width;  // the first pixel after the cells
            int from = boundary, to = boundary + line - 1;
            if (line <= 6) {
                int b = (7 - line) / 2;
                from = boundary - b;
                to = boundary - b + 7;
            }
            if (x >= from && x <= to)
                return c;
        }
        left += ColSpan(c);
    }
    return -1;
}

int GridGeometry::LeftColForHorzPosition(int position) const
{
    int maxLeft = MaxLeftCol();
    if (maxLeft <= fixedCols_)
        return fixedCols_;
    position = std::clamp(position, 0, kHorzScrollMax);
    return fixedCols_ + int(std::lround(double(position) * double(maxLeft - fixedCols_) /
                                        double(kHorzScrollMax)));
}

int GridGeometry::HorzPositionForLeftCol(int leftCol) const
{
    int maxLeft = MaxLeftCol();
    if (maxLeft <= fixedCols_)
        return 0;
    leftCol = std::clamp(leftCol, fixedCols_, maxLeft);
    return int(std::lround(double(leftCol - fixedCols_) * double(kHorzScrollMax) /
                           double(maxLeft - fixedCols_)));
}

int GridGeometry::ClampLeftCol(int leftCol, int direction) const
{
    int maxLeft = MaxLeftCol();
    if (direction != 0)
        while (leftCol >= fixedCols_ && leftCol <= maxLeft && ColWidth(leftCol) <= 0)
            leftCol += direction;
    return std::clamp(leftCol, fixedCols_, std::max(maxLeft, fixedCols_));
}

int GridGeometry::ColsFittingLeftOfLeftCol() const
{
    int room = client_.width() - FixedWidth();
    int used = 0;
    int count = 0;
    for (int c = leftCol_ - 1; c >= fixedCols_; --c) {
        used += ColSpan(c);
        if (used > room)
            break;
        ++count;
    }
    return std::max(count, 1);
}

int GridGeometry::LeftColToShow(int col) const
{
    if (col < fixedCols_ || col >= ColCount())
        return leftCol_;
    if (col < leftCol_)
        return col;
    if (col <= LastFullyVisibleCol())
        return leftCol_;
    int room = client_.width() - FixedWidth();
    int used = std::max(ColWidth(col), 0);
    int left = col;
    for (int c = col - 1; c >= fixedCols_; --c) {
        used += ColSpan(c);
        if (used > room)
            break;
        left = c;
    }
    return left;
}

int GridGeometry::HorzShiftTo(int leftCol) const
{
    int shift = 0;
    for (int c = std::min(leftCol, leftCol_); c < std::max(leftCol, leftCol_); ++c)
        shift += ColSpan(c);
    return leftCol > leftCol_ ? -shift : shift;
}

VertScrollValues VertScrollFor(const VertScrollInput& input)
{
    VertScrollValues values;
    if (!input.Open)
        return values;  // 0..1, page 2: nothing to scroll
    if (input.KnowsPositions) {
        int visible = std::max(input.FullyVisibleRows, 1);
        values.Minimum = 1;
        values.Maximum = std::max(input.RecordCount, 1) + visible - 1;
        values.Page = visible;
        values.Position = input.KeepPosition ? input.OldPosition : input.RecordNumber;
    } else {
        values.Minimum = kThumbFirst;
        values.Maximum = kThumbLast;
        values.Page = 0;
        values.Position = input.AtStart ? kThumbFirst : input.AtEnd ? kThumbLast : kThumbMiddle;
    }
    return values;
}

int DataRowHeightFor(FontHeights font, const RowHeightRules& rules)
{
    int margin = rules.Flat ? 1 : 3;
    if (rules.HorzLines)
        margin += rules.LineWidth;
    int line = font.Height + font.Leading;
    int height;
    if (rules.RowHeight > 0 || rules.RowLineCount > 0)
        height = rules.RowHeight + line * rules.RowLineCount;
    else
        height = font.Height + margin;
    if (rules.FitRowHeightToText && rules.RowHeight > 0 && line > 0) {
        int lines = std::max((height - margin + line / 2) / line, 1);
        height = lines * line + margin;
    }
    return height;
}

int TitleRowHeightFor(int tallestTitleFont, FontHeights gridTitleFont, const RowHeightRules& rules)
{
    if (rules.TitleHeight > 0 || rules.TitleLineCount > 0)
        return rules.TitleLineCount * gridTitleFont.Height + gridTitleFont.Leading +
               rules.TitleHeight + 2 + (rules.HorzLines ? 1 : 0);
    return tallestTitleFont + (rules.Flat ? 2 : 4);
}

int WidthForDisplayWidth(int digitWidth, int displayWidth)
{
    return digitWidth * displayWidth + 4;
}

int DisplayWidthForWidth(int width, int averageCharWidth, int digitWidth)
{
    if (digitWidth <= 0 || width < 0)
        return -1;
    return (width + averageCharWidth / 2 - 3) / digitWidth;
}

int ShownColumnWidth(bool visible, int width, bool colLines)
{
    if (visible)
        return width;
    return colLines ? -1 : 0;
}

} // namespace querlin::grid

// ---------------------------------------------------------------- hit-testing

namespace querlin::grid {

int GridGeometry::ColAtX(int x) const
{
    if (x < 0)
        return -1;
    int edge = 0;
    for (int c = 0; c < fixedCols_; ++c) {
        edge += ColSpan(c);
        if (x < edge)
            return c;
    }
    for (int c = leftCol_; c < ColCount(); ++c) {
        edge += ColSpan(c);
        if (x < edge)
            return c;
    }
    return -1;
}

GridGeometry::Hit GridGeometry::HitTest(QPoint point, int indicatorOffset, int titleOffset,
                                        bool columnSizing) const
{
    Hit hit;
    if (point.x() < 0 || point.y() < 0 || point.x() >= client_.width() ||
        point.y() >= client_.height())
        return hit;
    if (columnSizing && point.y() < FixedHeight() && point.x() >= FixedWidth()) {
        int edge = ColumnEdgeAt(point.x());
        if (edge >= 0) {
            hit.Where = Zone::ColumnEdge;
            hit.Col = edge;
            hit.Row = CellAt(point).y();
            return hit;
        }
    }
    QPoint cell = CellAt(point);
    if (cell.x() < 0 || cell.y() < 0)
        return hit;
    hit.Col = cell.x();
    hit.Row = cell.y();
    bool title = cell.y() < titleOffset;
    bool indicator = cell.x() < indicatorOffset;
    hit.Where = title ? (indicator ? Zone::TopLeft : Zone::Title)
                      : (indicator ? Zone::Indicator : Zone::Data);
    return hit;
}

QRect GridGeometry::DataArea() const
{
    int left = FixedWidth();
    int top = FixedHeight();
    int right = std::min(GridRight(), client_.width());
    int bottom = std::min(GridBottom(), client_.height());
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

GridGeometry::MoveTrack GridGeometry::ColumnMoveTrack(int x) const
{
    MoveTrack track{leftCol_, leftCol_};
    if (x < FixedWidth()) {
        if (leftCol_ > fixedCols_)
            track.LeftCol = ClampLeftCol(leftCol_ - 1, -1);
        track.Target = track.LeftCol;
        return track;
    }
    int last = LastFullyVisibleCol();
    int lastRight = ColLeft(last) + ColSpan(last);
    if (x >= lastRight) {
        GridGeometry moved = *this;
        if (last < ColCount() - 1)
            moved.SetLeftCol(ClampLeftCol(leftCol_ + 1, 1));
        track.LeftCol = moved.LeftCol();
        track.Target = moved.LastFullyVisibleCol();
        return track;
    }
    int col = ColAtX(x);
    track.Target = col >= 0 ? col : last;
    return track;
}

int GridGeometry::MoveMarkerX(int source, int target) const
{
    int left = ColLeft(target);
    if (left < 0)
        return -1;
    return target > source ? left + std::max(ColWidth(target), 0) : left;
}

AutoScrollStep AutoScrollFor(QPoint point, const QRect& dataArea)
{
    AutoScrollStep step;
    int dx = 0, dy = 0, sx = 0, sy = 0;
    if (point.x() < dataArea.left()) {
        dx = dataArea.left() - point.x();
        sx = -1;
    } else if (point.x() > dataArea.right()) {
        dx = point.x() - dataArea.right();
        sx = 1;
    }
    if (point.y() < dataArea.top()) {
        dy = dataArea.top() - point.y();
        sy = -1;
    } else if (point.y() > dataArea.bottom()) {
        dy = point.y() - dataArea.bottom();
        sy = 1;
    }
    if (sx == 0 && sy == 0)
        return step;
    step.Inside = false;
    step.Distance = std::max(dx, dy);
    step.Records = sy * std::min(step.Distance / 6, 8);
    step.Columns = sx;
    step.IntervalMs = std::max(0, 200 - 15 * step.Distance);
    return step;
}

} // namespace querlin::grid
