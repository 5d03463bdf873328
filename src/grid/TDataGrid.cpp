#include "grid/TDataGrid.h"

#include "grid/GridPainter.h"
#include "grid/TDataGridInplaceEdit.h"
#include "platform/Error.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace querlin::grid {

using data::TAlignment;
using data::TField;
using data::TFieldType;

// ---------------------------------------------------------------- TCustomDataGrid

TCustomDataGrid::TCustomDataGrid(QWidget* parent)
    : TCustomCellGrid(parent),
      columns_(*this),
      options_{dgEditing, dgTitles, dgIndicator, dgColumnResize, dgColLines,
               dgRowLines, dgTabs, dgConfirmDelete, dgCancelOnExit},
      optionsEx_{dgxFixed3D, dgxHighlightFocus, dgxClearSelection, dgxDialogFind},
      dataLink_(*this)
{
    titleFont_ = TFont{font(), clWindowText};
    footerFont_ = titleFont_;
    // The bars' messages move the record set and the left column; the bars
    // then show what came of it.
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this](int action) { Guarded([&] { VertScrollAction(action); }, "scrolling"); });
    // Qt sends the release of a tracked thumb only when it stands elsewhere
    // than the value the tracking set; the skip ends with the release anyway.
    connect(verticalScrollBar(), &QAbstractSlider::sliderReleased, this,
            [this] { skipThumbRelease_ = false; });
    connect(horizontalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this](int action) { Guarded([&] { HorzScrollAction(action); }, "scrolling"); });
    // Moves without a button show the sizing cursor over a column edge.
    viewport()->setMouseTracking(true);
    ApplyOptions();
    LayoutChanged();
}

TCustomDataGrid::~TCustomDataGrid()
{
    destroying_ = true;
    dataLink_.SetDataSource(nullptr);
}

void TCustomDataGrid::SetDataSource(data::TDataSource* source)
{
    if (source == dataLink_.DataSource())
        return;
    dataLink_.SetDataSource(source);
    // The link reports an active-state change only when it changes; a switch
    // between two closed sets still needs fresh columns.
    LayoutChanged();
}

TDataGridColumn* TCustomDataGrid::ColumnAt(int gridCol) const
{
    int index = gridCol - indicatorOffset_;
    if (index < 0 || index >= columns_.Count())
        return nullptr;
    return &columns_[index];
}

void TCustomDataGrid::SetOptions(TDataGridOptions options)
{
    const TDataGridOptions layoutOptions{dgEditing, dgAlwaysShowEditor, dgTitles, dgIndicator,
                                         dgColLines, dgRowLines, dgRowSelect,
                                         dgAlwaysShowSelection};
    bool layout = !((options * layoutOptions) == (options_ * layoutOptions));
    options_ = options;
    ApplyOptions();
    if (layout)
        LayoutChanged();
    else
        InvalidateGrid();
}

void TCustomDataGrid::ApplyOptions()
{
    TGridOptions grid{goRangeSelect};
    if (options_.Contains(dgColLines))
        grid = grid + goFixedVertLine + goVertLine;
    if (options_.Contains(dgRowLines))
        grid = grid + goFixedHorzLine + goHorzLine;
    if (options_.Contains(dgColumnResize))
        grid = grid + goColSizing + goColMoving;
    if (options_.Contains(dgTabs))
        grid += goTabs;
    if (options_.Contains(dgRowSelect))
        grid += goRowSelect;
    // Whole-row selection leaves no cell to edit.
    if (options_.Contains(dgEditing) && !options_.Contains(dgRowSelect))
        grid += goEditing;
    if (options_.Contains(dgAlwaysShowEditor) && !options_.Contains(dgRowSelect))
        grid += goAlwaysShowEditor;
    SetGridOptions(grid);
}

void TCustomDataGrid::SetOptionsEx(TDataGridOptionsEx options)
{
    optionsEx_ = options;
    LayoutChanged();
}

void TCustomDataGrid::SetFlat(bool flat)
{
    if (flat_ == flat)
        return;
    flat_ = flat;
    LayoutChanged();
}

TFont TCustomDataGrid::Font() const { return TFont{font(), fontColor_}; }

void TCustomDataGrid::SetFont(const TFont& font)
{
    parentFont_ = false;
    fontColor_ = font.Color;
    setFont(font.Font);
    InvalidateGrid();
}

void TCustomDataGrid::SetParentFont(bool on)
{
    parentFont_ = on;
    if (on) {
        setFont(QFont());
        setAttribute(Qt::WA_SetFont, false);
        titleFont_.Font = font();
        footerFont_.Font = font();
        LayoutChanged();
    }
}

void TCustomDataGrid::SetTitleFont(const TFont& font)
{
    titleFont_ = font;
    parentFont_ = false;
    if (options_.Contains(dgTitles))
        LayoutChanged();
}

void TCustomDataGrid::SetRowHeight(int height) { rowHeight_ = height; LayoutChanged(); }
void TCustomDataGrid::SetRowLines(int lines) { rowLines_ = lines; LayoutChanged(); }
void TCustomDataGrid::SetTitleHeight(int height) { titleHeight_ = height; LayoutChanged(); }
void TCustomDataGrid::SetTitleLines(int lines) { titleLines_ = lines; LayoutChanged(); }

void TCustomDataGrid::changeEvent(QEvent* event)
{
    TCustomCellGrid::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        if (parentFont_) {
            titleFont_.Font = font();
            footerFont_.Font = font();
        }
        Guarded([this] { LayoutChanged(); }, "changing the font");
    } else if (event->type() == QEvent::PaletteChange) {
        InvalidateGrid();
    }
}

// ---------------------------------------------------------------- locks

void TCustomDataGrid::BeginUpdate() { ++updateLock_; }

void TCustomDataGrid::EndUpdate()
{
    if (updateLock_ == 0)
        return;
    if (--updateLock_ > 0)
        return;
    // A layout request or a resize that arrived under the lock would
    // otherwise be lost, leaving columns of fields that no longer exist.
    if (layoutPending_) {
        layoutPending_ = false;
        LayoutChanged();
    }
    if (resizePending_) {
        resizePending_ = false;
        GridResized();
    }
    InvalidateGrid();
}

void TCustomDataGrid::BeginLayout() { ++layoutLock_; }

void TCustomDataGrid::EndLayout()
{
    if (layoutLock_ == 0)
        return;
    if (--layoutLock_ > 0)
        return;
    RunLayoutPass();
}

void TCustomDataGrid::LayoutChanged()
{
    if (destroying_)
        return;
    if (layoutLock_ > 0)
        return;  // the holder runs the pass when it lets go
    if (updateLock_ > 0) {
        layoutPending_ = true;
        return;
    }
    BeginLayout();
    EndLayout();
}

// ---------------------------------------------------------------- row window

void TCustomDataGrid::GridResized()
{
    if (updateLock_ > 0) {
        resizePending_ = true;
        return;
    }
    UpdateRowCount();
    UpdateCurrentRow();
    UpdateVertScrollBar();
}

void TCustomDataGrid::FocusChanged()
{
    // The focus gone elsewhere takes the mouse's drag with it.
    if (!GridFocused())
        CancelMouseMode();
    if (GridFocused() != paintedFocused_)
        InvalidateRow(Row());
}

bool TCustomDataGrid::GridFocused() const
{
    return hasFocus() || (editor_ && editor_->hasFocus());
}

// ---------------------------------------------------------------- notifications

void TCustomDataGrid::LinkActiveChanged()
{
    if (destroying_)
        return;
    if (!dataLink_.Active()) {
        // The fields are gone with the closing record set: no column may
        // keep pointing at one, whether or not the pass runs now.
        for (int i = 0; i < columns_.Count(); ++i)
            columns_[i].field_ = nullptr;
    }
    LayoutChanged();
    UpdateVertScrollBar();
}

void TCustomDataGrid::LinkEditingChanged()
{
    if (indicatorOffset_ > 0)
        InvalidateCell(0, indicatorRow_ >= 0 ? indicatorRow_ : Row());
}

void TCustomDataGrid::LinkDataChanged()
{
    if (destroying_)
        return;
    UpdateRowCount();
    UpdateVertScrollBar();
    UpdateCurrentRow();
    InvalidateGrid();
}

void TCustomDataGrid::LinkRecordChanged(TField* field)
{
    RefreshEditor();
    if (!field) {
        InvalidateGrid();
        return;
    }
    for (const TDataGridColumn* column : visibleColumns_)
        if (column->field_ == field) {
            InvalidateRow(Row());
            return;
        }
}

void TCustomDataGrid::LinkLayoutChanged()
{
    LayoutChanged();
}

// ---------------------------------------------------------------- painting

GridPaintState TCustomDataGrid::PaintState()
{
    GridPaintState state;
    state.Geometry = &Geometry();
    state.Palette = palette();
    state.GridOptions = GridOptions();
    state.Options = options_;
    state.OptionsEx = optionsEx_;
    state.Color = Color();
    state.FixedColor = FixedColor();
    state.Flat = flat_;
    state.DefaultDrawing = defaultDrawing_;
    state.Focused = GridFocused();
    state.UpdateLocked = updateLock_ > 0;
    state.Col = Col();
    state.Row = Row();
    state.IndicatorOffset = indicatorOffset_;
    state.TitleOffset = titleOffset_;
    state.RowColorsAssigned = RowColorsAssigned();
    state.EvenRowColor = EvenRowColor();
    state.OddRowColor = OddRowColor();
    state.Columns = &columns_;
    state.Link = &dataLink_;
    state.Canvas = &canvas_;
    state.Sender = this;
    state.OnDrawColumnCell = &OnDrawColumnCell;
    state.OnDrawDataCell = &OnDrawDataCell;
    state.OnGetCellParams = &OnGetCellParams;
    return state;
}

void TCustomDataGrid::PaintGrid(QPainter& painter, const QRegion& region)
{
    GridPaintState state = PaintState();
    paintedFocused_ = state.Focused;
    GridPainter gridPainter(state, painter);
    // Whatever way the paint ends (a hook or a display text may throw), the
    // canvas and the painter of this paint are gone with it: a later
    // DrawFieldText must not find them.
    struct Active {
        TCustomDataGrid& grid;
        ~Active()
        {
            grid.activePainter_ = nullptr;
            grid.canvas_.Painter = nullptr;
        }
    } active{*this};
    activePainter_ = &gridPainter;
    gridPainter.Paint(region);
    PaintMouseMarks(painter);
}

void TCustomDataGrid::DrawFieldText(const QRect& Rect, TField* Field, TGridDrawState State)
{
    (void)State;
    if (!canvas_.Painter)
        return;
    // Inside a paint the grid's own painter writes, with its measured fonts.
    std::optional<GridPaintState> state;
    std::optional<GridPainter> own;
    GridPainter* painter = activePainter_;
    if (!painter || !painter->Paints(*canvas_.Painter)) {
        state.emplace(PaintState());
        painter = &own.emplace(*state, *canvas_.Painter);
    }
    painter->FillRect(Rect, canvas_.Brush.Color);
    if (!Field)
        return;
    painter->WriteText(Rect, 2, 2,
                       TextToLayOut(Field->DisplayText(), Field->Alignment(), Rect.width(),
                                    painter->Metrics(canvas_.Font.Font)),
                       Field->Alignment(), canvas_.Font, canvas_.Brush.Color, true);
}

} // namespace querlin::grid
