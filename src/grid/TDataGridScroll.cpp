// Scrolling of the data grid: following the record set's moves (the scroll
// step), the vertical bar as a view of the record numbers, the horizontal
// bar over the left column, and the bars' messages. The arithmetic is the
// geometry's; this file only carries it out on the window.

#include "grid/GridAccessible.h"
#include "grid/TDataGrid.h"
#include "grid/TDataGridInplaceEdit.h"
#include "grid/TDataGridPrivate.h"

#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>

namespace querlin::grid {

void TCustomDataGrid::UpdateCurrentRow(bool invalidate)
{
    int col = std::clamp(Col(), FixedCols(), std::max(ColCount() - 1, 0));
    int row = state_->TitleOffset;
    if (state_->DataLink.Active())
        row = state_->TitleOffset + std::max(state_->DataLink.ActiveRecord(), 0);
    row = std::clamp(row, 0, RowCount() - 1);
    if (col != Col() || row != Row()) {
        // The record landed in another row: the editor showed the old one.
        if (row != Row())
            HideEditor();
        // The indicator of the old row and the new one both change.
        if (invalidate)
            InvalidateRow(Row());
        MoveCurrent(col, row, invalidate);
        if (invalidate)
            InvalidateRow(Row());
    }
    if (state_->DataLink.Active() && state_->IndicatorOffset > 0)
        state_->IndicatorRow = Row();
    RefreshEditor();
    // Every move of the record set, rows arriving and a new layout end here.
    GridAccessibleChanged(*this);
}

void TCustomDataGrid::UpdateVertScrollBar()
{
    QScrollBar* bar = verticalScrollBar();
    data::TADOQuery* dataSet = state_->DataLink.DataSet();
    VertScrollInput input;
    if (state_->DataLink.Active() && dataSet) {
        input.Open = true;
        input.KnowsPositions = dataSet->KnowsPositions();
        input.RecordCount = input.KnowsPositions ? dataSet->RecordCount() : 0;
        input.RecordNumber = input.KnowsPositions ? dataSet->RecordNumber() : 0;
        input.KeepPosition = dataSet->State() != data::TDataSetState::dsBrowse;
        input.OldPosition = bar->value();
        input.AtStart = dataSet->AtStart();
        input.AtEnd = dataSet->AtEnd();
        input.FullyVisibleRows = Geometry().FullyVisibleRows();
    }
    VertScrollValues values = VertScrollFor(input);
    if (!state_->VertScrollBar.Visible)
        values.Maximum = values.Minimum;
    state_->VertValues = values;
    Qt::ScrollBarPolicy policy = Qt::ScrollBarAsNeeded;
    if (!state_->VertScrollBar.Visible ||
        state_->VertScrollBar.VisibleMode == TScrollBarVisibleMode::sbNeverShow)
        policy = Qt::ScrollBarAlwaysOff;
    else if (state_->VertScrollBar.VisibleMode == TScrollBarVisibleMode::sbAlwaysShow)
        policy = Qt::ScrollBarAlwaysOn;
    if (verticalScrollBarPolicy() != policy)
        setVerticalScrollBarPolicy(policy);
    bool tracking = state_->VertScrollBar.Tracking;
    if (bar->hasTracking() != tracking)
        bar->setTracking(tracking);
    // A Qt bar runs over the positions the thumb can take, so its maximum is
    // the last such position; the page only sizes the thumb.
    int maximum = std::max(values.ThumbMaximum(), values.Minimum);
    int page = std::max(values.Page, 1);
    bar->setEnabled(maximum > values.Minimum);
    if (bar->minimum() == values.Minimum && bar->maximum() == maximum && bar->pageStep() == page &&
        bar->value() == values.Position)
        return;
    bar->setRange(values.Minimum, maximum);
    bar->setPageStep(page);
    bar->setValue(values.Position);
}

void TCustomDataGrid::LinkScrolled(int distance)
{
    if (state_->Destroying)
        return;
    int oldRow = Row();
    int oldIndicator = state_->IndicatorRow;
    int oldRows = RowCount();
    if (state_->DataLink.ActiveRecord() >= RowCount() - state_->TitleOffset)
        UpdateRowCount();
    UpdateVertScrollBar();
    bool shift = distance != 0 && std::abs(distance) <= Geometry().FullyVisibleRows() &&
                 RowCount() == oldRows;
    UpdateCurrentRow(!shift);
    if (distance == 0) {
        InvalidateRow(oldRow);
        InvalidateRow(Row());
        return;
    }
    HideEditor();
    if (!shift) {
        InvalidateGrid();
        return;
    }
    // The data rows' pixels move by d rows; Qt marks the strip they uncover.
    // Marks made here are in the moved picture: the old current record now
    // stands d rows higher, and its row loses the current-row look.
    const GridGeometry& g = Geometry();
    int top = g.FixedHeight();
    int pitch = g.RowSpan(state_->TitleOffset);
    QRect rows(0, top, viewport()->width(), g.GridBottom() - top);
    viewport()->scroll(0, -distance * pitch, rows);
    int movedOld = oldRow - distance;
    if (movedOld >= state_->TitleOffset && movedOld < RowCount())
        InvalidateRow(movedOld);
    if (state_->IndicatorOffset > 0 && oldIndicator >= 0) {
        int movedIndicator = oldIndicator - distance;
        if (movedIndicator >= state_->TitleOffset && movedIndicator < RowCount())
            InvalidateCell(0, movedIndicator);
    }
    InvalidateRow(Row());
}

// ---------------------------------------------------------------- vertical bar

void TCustomDataGrid::VertScrollAction(int action)
{
    QScrollBar* bar = verticalScrollBar();
    data::TADOQuery* dataSet = state_->DataLink.DataSet();
    if (state_->InVertAction || !state_->DataLink.Active() || !dataSet) {
        bar->setSliderPosition(bar->value());
        return;
    }
    state_->InVertAction = true;
    struct Reset {
        TCustomDataGrid& grid;
        ~Reset()
        {
            grid.state_->InVertAction = false;
            // The bar shows the record set's position, whatever it did itself.
            grid.verticalScrollBar()->setSliderPosition(grid.verticalScrollBar()->value());
        }
    } reset{*this};

    int position = bar->sliderPosition();
    if (focusPolicy() != Qt::NoFocus && isVisible())
        setFocus(Qt::OtherFocusReason);
    if (!GridFocused())
        return;
    int visible = std::max(Geometry().FullyVisibleRows(), 1);
    int active = state_->DataLink.ActiveRecord();
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        dataSet->MoveRows(-(active + 1));
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        dataSet->MoveRows(state_->DataLink.RecordCount() - active);
        break;
    case QAbstractSlider::SliderPageStepSub: dataSet->MoveRows(-visible); break;
    case QAbstractSlider::SliderPageStepAdd: dataSet->MoveRows(visible); break;
    case QAbstractSlider::SliderToMinimum: dataSet->MoveFirst(); break;
    case QAbstractSlider::SliderToMaximum: dataSet->MoveLast(); break;
    case QAbstractSlider::SliderMove:
        if (bar->isSliderDown()) {
            // A dragged thumb reaches here only with Tracking on.
            if (dataSet->KnowsPositions())
                dataSet->MoveRows(position - dataSet->RecordNumber());
            state_->SkipThumbRelease = true;
            break;
        }
        if (state_->SkipThumbRelease) {
            state_->SkipThumbRelease = false;
            break;
        }
        if (dataSet->KnowsPositions()) {
            if (position <= 1)
                dataSet->MoveFirst();
            else if (position >= dataSet->RecordCount())
                dataSet->MoveLast();
            else
                dataSet->SetRecordNumber(position);
        } else {
            switch (position) {
            case kThumbFirst: dataSet->MoveFirst(); break;
            case kThumbPageUp: dataSet->MoveRows(-visible); break;
            case kThumbPageDown: dataSet->MoveRows(visible); break;
            case kThumbLast: dataSet->MoveLast(); break;
            default: break;
            }
        }
        break;
    default: break;
    }
}

// ---------------------------------------------------------------- horizontal bar

void TCustomDataGrid::HorzScrollAction(int action)
{
    QScrollBar* bar = horizontalScrollBar();
    int position = bar->sliderPosition();
    if (focusPolicy() != Qt::NoFocus && isVisible())
        setFocus(Qt::OtherFocusReason);
    const GridGeometry& g = Geometry();
    int left = g.LeftCol();
    int wanted = left;
    int direction = 0;
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub: wanted = left - 1; direction = -1; break;
    case QAbstractSlider::SliderSingleStepAdd: wanted = left + 1; direction = 1; break;
    case QAbstractSlider::SliderPageStepSub:
        wanted = left - g.ColsFittingLeftOfLeftCol();
        direction = -1;
        break;
    case QAbstractSlider::SliderPageStepAdd:
        wanted = left + std::max(g.LastFullyVisibleCol() - left, 1);
        direction = 1;
        break;
    case QAbstractSlider::SliderToMinimum: wanted = g.FixedCols(); direction = 1; break;
    case QAbstractSlider::SliderToMaximum: wanted = g.MaxLeftCol(); direction = -1; break;
    case QAbstractSlider::SliderMove:
        if (bar->isSliderDown() && !state_->HorzScrollBar.Tracking)
            break;
        wanted = g.LeftColForHorzPosition(position);
        direction = wanted < left ? -1 : 1;
        break;
    default: break;
    }
    MoveLeftCol(Geometry().ClampLeftCol(wanted, direction));
    bar->setSliderPosition(Geometry().HorzPositionForLeftCol(LeftCol()));
}

void TCustomDataGrid::MoveLeftCol(int leftCol)
{
    const GridGeometry& g = Geometry();
    leftCol = std::clamp(leftCol, g.FixedCols(), std::max(g.MaxLeftCol(), g.FixedCols()));
    if (leftCol == g.LeftCol())
        return;
    int shift = g.HorzShiftTo(leftCol);
    int fixedWidth = g.FixedWidth();
    QRect scrollable(fixedWidth, 0, viewport()->width() - fixedWidth, viewport()->height());
    SetLeftCol(leftCol);
    if (std::abs(shift) >= scrollable.width())
        InvalidateGrid();
    else
        viewport()->scroll(shift, 0, scrollable);
    UpdateHorzScrollBar();
    PlaceEditor();
}

void TCustomDataGrid::MakeColumnVisible(int col)
{
    int left = Geometry().LeftColToShow(col);
    if (left != LeftCol())
        MoveLeftCol(left);
}

void TCustomDataGrid::scrollContentsBy(int dx, int dy)
{
    // Both bars are driven by their messages (VertScrollAction,
    // HorzScrollAction), which set the values they show; a value set that
    // way must not move anything a second time.
    (void)dx;
    (void)dy;
}

void TCustomDataGrid::HandleWheel(QWheelEvent* event)
{
    event->accept();
    data::TADOQuery* dataSet = state_->DataLink.DataSet();
    if (!state_->DataLink.Active() || !dataSet)
        return;
    // Turns are summed; each full notch toward the user is one record on.
    state_->WheelSum += event->angleDelta().y();
    int records = 0;
    while (state_->WheelSum <= -120) {
        state_->WheelSum += 120;
        ++records;
    }
    while (state_->WheelSum >= 120) {
        state_->WheelSum -= 120;
        --records;
    }
    if (records != 0)
        dataSet->MoveRows(records);
}

void TCustomDataGrid::wheelEvent(QWheelEvent* event)
{
    Guarded([&] { HandleWheel(event); }, "turning the wheel");
}

} // namespace querlin::grid
