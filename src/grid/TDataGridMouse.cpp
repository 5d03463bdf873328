// The mouse side of the data grid, as a press/move/release machine in the
// manner of a header view's: a press picks the mode by where it lands (the
// geometry's HitTest), moves carry the mode on, the release ends it and
// decides which click event fires.
//
// Modes: normal; column sizing (a dotted XOR line follows the pointer, the
// width is set at the release); column moving (a 5-pixel XOR marker at the
// target's edge, a 60 ms timer scrolling the columns at the edges, the move
// applied at the release); and, beside them, drag tracking after a press on
// a data cell (the cell under the pointer becomes current; outside the data
// area the timer scrolls toward the pointer). Esc, a menu opening and the
// focus leaving the grid cancel whatever is under way.
//
// A right release first hands a context-menu request to the parent control,
// which opens its own menu; the grid has none.

#include "grid/GridAccessible.h"
#include "grid/TDataGrid.h"
#include "grid/TDataGridInplaceEdit.h"
#include "grid/TDataGridPrivate.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTimerEvent>

#include <algorithm>

namespace querlin::grid {

namespace {

constexpr int kColumnMoveIntervalMs = 60;
constexpr int kMarkerWidth = 5;

bool ButtonOf(Qt::MouseButton qt, TMouseButton& button)
{
    switch (qt) {
    case Qt::LeftButton: button = TMouseButton::mbLeft; return true;
    case Qt::RightButton: button = TMouseButton::mbRight; return true;
    case Qt::MiddleButton: button = TMouseButton::mbMiddle; return true;
    default: return false;
    }
}

// While the parent handles a context-menu request: the moment a popup
// window shows, the grid's mouse mode is cancelled, so no drag survives into
// the menu.
class PopupWatch : public QObject {
public:
    explicit PopupWatch(TCustomDataGrid& grid) : grid_(&grid) { qApp->installEventFilter(this); }
    ~PopupWatch() override { qApp->removeEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType() && grid_) {
            auto* widget = static_cast<QWidget*>(watched);
            if (widget->isWindow() && widget->windowType() == Qt::Popup)
                grid_->CancelMouseMode();
        }
        return false;
    }

private:
    QPointer<TCustomDataGrid> grid_;
};

// A strip around a vertical mark, for repainting it away.
QRect MarkStrip(int x, int width, int height)
{
    return QRect(x - width / 2 - 1, 0, width + 2, height);
}

} // namespace

// ---------------------------------------------------------------- events in

void TCustomDataGrid::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    Guarded([&] { MousePress(event); }, "pressing the mouse");
}

void TCustomDataGrid::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    Guarded([&] { MouseMove(event->position().toPoint()); }, "moving the mouse");
}

void TCustomDataGrid::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    Guarded([&] {
        if (event->button() == Qt::RightButton) {
            // The context menu comes first: the parent's menu runs to its end,
            // then the grid finishes the release.
            QPoint point = event->position().toPoint();
            if (viewport()->rect().contains(point)) {
                QPointer<TCustomDataGrid> self(this);
                ForwardContextMenu(mapToParent(viewport()->mapTo(this, point)), false,
                                   event->modifiers());
                if (!self)
                    return;
            }
        }
        MouseRelease(event);
    }, "releasing the mouse");
}

void TCustomDataGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    Guarded([&] { MouseDoubleClick(event); }, "double-clicking");
}

void TCustomDataGrid::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();
    // A request the platform raises for a right press is the grid's to make,
    // at the release; one from the keyboard goes on at once.
    if (event->reason() == QContextMenuEvent::Mouse)
        return;
    Guarded([&] { KeyboardContextMenu(); }, "opening the context menu");
}

void TCustomDataGrid::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != state_->Mouse.TimerId) {
        TCustomCellGrid::timerEvent(event);
        return;
    }
    Guarded([&] { MouseTimer(); }, "scrolling with the mouse");
}

// ---------------------------------------------------------------- press

bool TCustomDataGrid::TakeFocusForPress()
{
    if (focusPolicy() != Qt::NoFocus && isEnabled())
        setFocus(Qt::MouseFocusReason);
    if (GridFocused())
        return true;
    // A press may reach a window before the window manager has made it
    // active; the grid then holds its window's focus and gets the keyboard
    // with the activation, so the click counts.
    QWidget* focus = window()->focusWidget();
    return !isActiveWindow() && focus && (focus == this || focus == state_->Editor);
}

void TCustomDataGrid::MousePress(QMouseEvent* event)
{
    TMouseButton button;
    if (!ButtonOf(event->button(), button))
        return;
    QPoint point = event->position().toPoint();
    if (!TakeFocusForPress())
        return;
    state_->Mouse.LastPoint = point;
    data::TADOQuery* dataSet = state_->DataLink.DataSet();
    bool open = state_->DataLink.Active() && dataSet;

    if (button == TMouseButton::mbMiddle) {
        // Record and column, nothing else: no capture, no tracking, no
        // editor, no event.
        if (!open)
            return;
        GridGeometry::Hit hit =
            Geometry().HitTest(point, state_->IndicatorOffset, state_->TitleOffset, false);
        if (hit.Where == GridGeometry::Zone::Data || hit.Where == GridGeometry::Zone::Indicator)
            PressData(hit, button);
        return;
    }

    state_->Mouse.Captured = true;
    if (open) {
        bool sizing = GridOptions().Contains(goColSizing);
        bool moving = GridOptions().Contains(goColMoving);
        // A right press in the title band is a left press on the title cell:
        // it moves a column, never sizes one.
        GridGeometry::Hit hit = Geometry().HitTest(point, state_->IndicatorOffset,
                                                   state_->TitleOffset,
                                                   sizing && button == TMouseButton::mbLeft);
        bool leftLike = button == TMouseButton::mbLeft;
        if (button == TMouseButton::mbRight && hit.Where == GridGeometry::Zone::Title && sizing) {
            state_->Mouse.RightAsLeft = true;
            leftLike = true;
        }
        switch (hit.Where) {
        case GridGeometry::Zone::ColumnEdge:
            HideEditor();
            state_->Mouse.State = TGridState::gsColSizing;
            state_->Mouse.SizingCol = hit.Col;
            state_->Mouse.SizingOffset = Geometry().ColRightEdge(hit.Col) - point.x();
            state_->Mouse.SizingPos = point.x() + state_->Mouse.SizingOffset;
            viewport()->update(MarkStrip(state_->Mouse.SizingPos, 1, viewport()->height()));
            break;
        case GridGeometry::Zone::Title:
            if (leftLike && moving) {
                state_->Mouse.State = TGridState::gsColMoving;
                state_->Mouse.MoveFrom = state_->Mouse.MoveTo = hit.Col;
                int x = Geometry().MoveMarkerX(hit.Col, hit.Col);
                viewport()->update(MarkStrip(x, kMarkerWidth, viewport()->height()));
                StartMouseTimer(kColumnMoveIntervalMs);
            }
            break;
        case GridGeometry::Zone::TopLeft: break;
        case GridGeometry::Zone::Indicator:
        case GridGeometry::Zone::Data: PressData(hit, button); break;
        case GridGeometry::Zone::Outside: HideEditor(); break;
        }
    }
    if (OnMouseDown)
        OnMouseDown(this, button, ShiftOf(event->modifiers()), point.x(), point.y());
}

void TCustomDataGrid::PressData(const GridGeometry::Hit& hit, TMouseButton button)
{
    data::TADOQuery* dataSet = state_->DataLink.DataSet();
    HideEditor();
    bool wasCurrent = hit.Col == Col() && hit.Row == Row();
    if (hit.Row != Row())
        dataSet->MoveRows(hit.Row - Row());
    if (hit.Where != GridGeometry::Zone::Data)
        return;  // the indicator only moves the record
    MoveColumn(hit.Col, 0);
    if (button == TMouseButton::mbMiddle)
        return;
    if (state_->Mouse.Captured)
        state_->Mouse.Tracking = true;
    if (button == TMouseButton::mbLeft && wasCurrent)
        ShowEditor();
}

void TCustomDataGrid::MouseDoubleClick(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        MousePress(event);
        return;
    }
    // The second press of a double click moves nothing and opens nothing.
    if (!TakeFocusForPress())
        return;
    state_->Mouse.Captured = true;
    QPoint point = event->position().toPoint();
    QPointer<TCustomDataGrid> self(this);
    if (OnDblClick) {
        OnDblClick(this);
        if (!self)
            return;  // the handler closed the grid's window for good
    }
    if (OnMouseDown)
        OnMouseDown(this, TMouseButton::mbLeft, ShiftOf(event->modifiers()), point.x(), point.y());
}

// ---------------------------------------------------------------- move

void TCustomDataGrid::MouseMove(QPoint point)
{
    state_->Mouse.LastPoint = point;
    switch (state_->Mouse.State) {
    case TGridState::gsColSizing: {
        int pos = point.x() + state_->Mouse.SizingOffset;
        if (pos != state_->Mouse.SizingPos) {
            int height = viewport()->height();
            viewport()->update(MarkStrip(state_->Mouse.SizingPos, 1, height));
            state_->Mouse.SizingPos = pos;
            viewport()->update(MarkStrip(pos, 1, height));
        }
        return;
    }
    case TGridState::gsColMoving: TrackColumnMove(point); return;
    default: break;
    }
    if (state_->Mouse.Tracking) {
        TrackDrag(point);
        return;
    }
    // No button held: the sizing cursor over a column edge.
    bool edge =
        state_->DataLink.Active() && GridOptions().Contains(goColSizing) &&
        Geometry().HitTest(point, state_->IndicatorOffset, state_->TitleOffset, true).Where ==
            GridGeometry::Zone::ColumnEdge;
    if (edge)
        viewport()->setCursor(Qt::SplitHCursor);
    else
        viewport()->unsetCursor();
}

void TCustomDataGrid::TrackDrag(QPoint point)
{
    data::TADOQuery* dataSet = state_->DataLink.DataSet();
    if (!state_->DataLink.Active() || !dataSet) {
        CancelMouseMode();
        return;
    }
    AutoScrollStep step = AutoScrollFor(point, Geometry().DataArea());
    if (step.Inside) {
        StartMouseTimer(-1);
        QPoint cell = cellAt(point);
        if (cell.y() >= state_->TitleOffset && cell.y() != Row())
            dataSet->MoveRows(cell.y() - Row());
        if (cell.x() >= state_->IndicatorOffset && cell.x() != Col())
            MoveColumn(cell.x(), cell.x() > Col() ? 1 : -1);
        return;
    }
    {
        // One step toward the pointer, painted once at its end.
        BeginUpdate();
        struct Deferred {
            TCustomDataGrid& grid;
            ~Deferred() { grid.EndUpdate(); }
        } deferred{*this};
        if (step.Records != 0)
            dataSet->MoveRows(step.Records);
        if (step.Columns != 0) {
            MoveLeftCol(Geometry().ClampLeftCol(LeftCol() + step.Columns, step.Columns));
            MoveColumn(Col() + step.Columns, step.Columns);
        }
    }
    if (state_->Mouse.Tracking)
        StartMouseTimer(step.IntervalMs);
}

void TCustomDataGrid::TrackColumnMove(QPoint point)
{
    GridGeometry::MoveTrack track = Geometry().ColumnMoveTrack(point.x());
    int height = viewport()->height();
    if (track.LeftCol != LeftCol()) {
        // Scrolling would carry the marker's pixels along: paint it all anew.
        MoveLeftCol(track.LeftCol);
        InvalidateGrid();
    }
    int target = std::max(track.Target, state_->IndicatorOffset);
    if (target == state_->Mouse.MoveTo)
        return;
    viewport()->update(
        MarkStrip(Geometry().MoveMarkerX(state_->Mouse.MoveFrom, state_->Mouse.MoveTo),
                  kMarkerWidth, height));
    state_->Mouse.MoveTo = target;
    viewport()->update(
        MarkStrip(Geometry().MoveMarkerX(state_->Mouse.MoveFrom, target), kMarkerWidth, height));
}

void TCustomDataGrid::MouseTimer()
{
    if (state_->Mouse.State == TGridState::gsColMoving)
        TrackColumnMove(state_->Mouse.LastPoint);
    else if (state_->Mouse.Tracking)
        TrackDrag(state_->Mouse.LastPoint);
    else
        StartMouseTimer(-1);
}

void TCustomDataGrid::StartMouseTimer(int intervalMs)
{
    if (state_->Mouse.TimerId != 0)
        killTimer(state_->Mouse.TimerId);
    state_->Mouse.TimerId = 0;
    if (intervalMs >= 0)
        state_->Mouse.TimerId = startTimer(intervalMs);
}

// ---------------------------------------------------------------- release

void TCustomDataGrid::MouseRelease(QMouseEvent* event)
{
    TMouseButton button;
    if (!ButtonOf(event->button(), button) || button == TMouseButton::mbMiddle)
        return;
    QPoint point = event->position().toPoint();
    bool left = button == TMouseButton::mbLeft || state_->Mouse.RightAsLeft;
    state_->Mouse.RightAsLeft = false;
    state_->Mouse.Captured = false;
    state_->Mouse.Tracking = false;
    StartMouseTimer(-1);
    bool endedSizing = state_->Mouse.State == TGridState::gsColSizing;
    if (endedSizing)
        FinishColumnSizing(true);
    else if (state_->Mouse.State == TGridState::gsColMoving)
        FinishColumnMove(true);
    QPointer<TCustomDataGrid> self(this);
    if (OnMouseUp) {
        OnMouseUp(this, button, ShiftOf(event->modifiers()), point.x(), point.y());
        if (!self)
            return;
    }
    if (endedSizing)
        return;
    if (state_->Editor && state_->Editor->isVisible() && state_->Editor->geometry().contains(point))
        return;
    if (!left)
        return;
    GridGeometry::Hit hit =
        Geometry().HitTest(point, state_->IndicatorOffset, state_->TitleOffset, false);
    if (hit.Col < state_->IndicatorOffset || hit.Row < 0)
        return;
    TGridColumn* column = ColumnAt(hit.Col);
    if (hit.Row < state_->TitleOffset) {
        if (OnTitleClick)
            OnTitleClick(column);
    } else if (hit.Row < RowCount()) {
        if (OnCellClick)
            OnCellClick(column);
    }
}

// ---------------------------------------------------------------- sizing

void TCustomDataGrid::FinishColumnSizing(bool apply)
{
    int col = state_->Mouse.SizingCol;
    state_->Mouse.State = TGridState::gsNormal;
    state_->Mouse.SizingCol = -1;
    viewport()->update(MarkStrip(state_->Mouse.SizingPos, 1, viewport()->height()));
    viewport()->unsetCursor();
    if (!apply || col < 0 || col >= ColCount())
        return;
    int width = state_->Mouse.SizingPos - Geometry().ColLeft(col);
    if (width <= 1)
        return;  // a column sized away keeps its width
    SetColWidths(col, width);
    ColumnWidthsChangedByUser();
    PlaceEditor();
}

void TCustomDataGrid::ColumnWidthsChangedByUser()
{
    // Every visible column takes its cell-grid width as Width, so each
    // default column's field gets its DisplayWidth back from the pixels; the
    // layout requests this raises wait for the lock, which runs one pass.
    BeginLayout();
    struct Unlock {
        TCustomDataGrid& grid;
        ~Unlock() { grid.EndLayout(); }
    } unlock{*this};
    for (int i = 0; i < state_->Columns.Count(); ++i) {
        TDataGridColumn& column = state_->Columns[i];
        if (!column.Visible())
            continue;  // a hidden column keeps taking no space
        int gridCol = i + state_->IndicatorOffset;
        int width = ColWidths(gridCol);
        if (column.MaxWidth() > 0)
            width = std::min(width, column.MaxWidth());
        if (column.MinWidth() > 0)
            width = std::max(width, column.MinWidth());
        SetColWidths(gridCol, width);
    }
    for (int i = 0; i < state_->Columns.Count(); ++i) {
        TDataGridColumn& column = state_->Columns[i];
        if (column.Visible())
            column.SetWidth(ColWidths(i + state_->IndicatorOffset));
    }
}

// ---------------------------------------------------------------- moving

void TCustomDataGrid::FinishColumnMove(bool apply)
{
    int from = state_->Mouse.MoveFrom;
    int to = state_->Mouse.MoveTo;
    state_->Mouse.State = TGridState::gsNormal;
    state_->Mouse.MoveFrom = state_->Mouse.MoveTo = -1;
    StartMouseTimer(-1);
    viewport()->update(MarkStrip(Geometry().MoveMarkerX(from, to), kMarkerWidth,
                                 viewport()->height()));
    if (apply && from != to && from >= state_->IndicatorOffset && to >= state_->IndicatorOffset)
        MoveDataColumn(from - state_->IndicatorOffset, to - state_->IndicatorOffset);
}

void TCustomDataGrid::MoveDataColumn(int fromIndex, int toIndex)
{
    int count = state_->Columns.Count();
    if (fromIndex < 0 || fromIndex >= count || toIndex < 0 || toIndex >= count ||
        fromIndex == toIndex)
        return;
    TDataGridColumn* current = ColumnAt(Col());
    state_->Columns.Move(fromIndex, toIndex);
    state_->DataLink.MoveMapping(fromIndex, toIndex);
    state_->VisibleColumns.clear();
    for (int i = 0; i < state_->Columns.Count(); ++i)
        if (state_->Columns[i].Visible())
            state_->VisibleColumns.push_back(&state_->Columns[i]);
    ApplyColumnAttributes();
    if (current) {
        int col = state_->Columns.IndexOf(*current) + state_->IndicatorOffset;
        if (col != Col())
            MoveCurrent(col, Row(), false);
    }
    UpdateHorzScrollBar();
    InvalidateGrid();
    GridAccessibleChanged(*this);
    QPointer<TCustomDataGrid> self(this);
    if (OnColumnMoved) {
        OnColumnMoved(this, fromIndex, toIndex);
        if (!self)
            return;
    }
    if (state_->Editor && state_->Editor->isVisible()) {
        if (TDataGridColumn* column = ColumnAt(Col()))
            state_->Editor->Fill(column->Field(), false);
        PlaceEditor();
    }
}

// ---------------------------------------------------------------- cancel

void TCustomDataGrid::CancelMouseMode()
{
    if (state_->Mouse.State == TGridState::gsColSizing)
        FinishColumnSizing(false);
    else if (state_->Mouse.State == TGridState::gsColMoving)
        FinishColumnMove(false);
    state_->Mouse.Tracking = false;
    state_->Mouse.Captured = false;
    StartMouseTimer(-1);
}

// ---------------------------------------------------------------- context menu

void TCustomDataGrid::KeyboardContextMenu()
{
    ForwardContextMenu(QPoint(0, 0), true, QApplication::keyboardModifiers());
}

void TCustomDataGrid::ForwardContextMenu(QPoint parentPos, bool keyboard,
                                         Qt::KeyboardModifiers modifiers)
{
    // The grid has no menu of its own: the parent control gets the request
    // (and, if it has none either, its parents in turn).
    QWidget* parent = parentWidget();
    if (!parent)
        return;
    PopupWatch watch(*this);
    QContextMenuEvent request(keyboard ? QContextMenuEvent::Keyboard : QContextMenuEvent::Mouse,
                              parentPos, parent->mapToGlobal(parentPos), modifiers);
    QCoreApplication::sendEvent(parent, &request);
}

// ---------------------------------------------------------------- marks

void TCustomDataGrid::PaintMouseMarks(QPainter& painter)
{
    // Drawn over the freshly painted cells with XOR, so each mark shows on
    // any colour; a mark goes away by repainting the strip it stood on.
    if (state_->Mouse.State != TGridState::gsColSizing &&
        state_->Mouse.State != TGridState::gsColMoving)
        return;
    painter.save();
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (state_->Mouse.State == TGridState::gsColSizing) {
        QPen pen(Qt::white, 1);
        pen.setDashPattern({1.0, 1.0});
        pen.setCapStyle(Qt::FlatCap);
        painter.setPen(pen);
        int bottom = std::min(Geometry().GridBottom(), viewport()->height());
        double x = state_->Mouse.SizingPos + 0.5;
        painter.drawLine(QPointF(x, 0), QPointF(x, bottom));
    } else {
        int x = Geometry().MoveMarkerX(state_->Mouse.MoveFrom, state_->Mouse.MoveTo);
        if (x >= 0)
            painter.fillRect(QRect(x - kMarkerWidth / 2, 0, kMarkerWidth, viewport()->height()),
                             Qt::white);
    }
    painter.restore();
}

} // namespace querlin::grid
