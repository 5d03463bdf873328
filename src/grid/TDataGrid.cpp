#include "grid/TDataGrid.h"

#include "grid/GridAccessible.h"
#include "grid/GridPainter.h"
#include "grid/TDataGridInplaceEdit.h"
#include "grid/TDataGridPrivate.h"
#include "platform/Error.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <optional>

namespace querlin::grid {

using data::TAlignment;
using data::TField;
using data::TFieldType;

// ---------------------------------------------------------------- TCustomDataGrid

TCustomDataGrid::TCustomDataGrid(QWidget* parent)
    : TCustomCellGrid(parent),
      state_(std::make_unique<TDataGridState>(*this, static_cast<GridLinkListener&>(*this)))
{
    state_->TitleFont = TFont{font(), clWindowText};
    state_->FooterFont = state_->TitleFont;
    // The bars' messages move the record set and the left column; the bars
    // then show what came of it.
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this](int action) { Guarded([&] { VertScrollAction(action); }, "scrolling"); });
    // Qt sends the release of a tracked thumb only when it stands elsewhere
    // than the value the tracking set; the skip ends with the release anyway.
    connect(verticalScrollBar(), &QAbstractSlider::sliderReleased, this,
            [this] { state_->SkipThumbRelease = false; });
    connect(horizontalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this](int action) { Guarded([&] { HorzScrollAction(action); }, "scrolling"); });
    // Moves without a button show the sizing cursor over a column edge.
    viewport()->setMouseTracking(true);
    InstallGridAccessibility();
    ApplyOptions();
    LayoutChanged();
}

TCustomDataGrid::~TCustomDataGrid()
{
    state_->Destroying = true;
    state_->DataLink.SetDataSource(nullptr);
}

// ---------------------------------------------------------------- settings

data::TDataSource* TCustomDataGrid::DataSource() const { return state_->DataLink.DataSource(); }
TGridDataLink& TCustomDataGrid::DataLink() { return state_->DataLink; }
const TGridDataLink& TCustomDataGrid::DataLink() const { return state_->DataLink; }
TDataGridColumns& TCustomDataGrid::Columns() { return state_->Columns; }
const TDataGridColumns& TCustomDataGrid::Columns() const { return state_->Columns; }
const std::vector<TDataGridColumn*>& TCustomDataGrid::VisibleColumns() const
{
    return state_->VisibleColumns;
}

TDataGridOptions TCustomDataGrid::Options() const { return state_->Options; }
TDataGridOptionsEx TCustomDataGrid::OptionsEx() const { return state_->OptionsEx; }
bool TCustomDataGrid::ReadOnly() const { return state_->ReadOnly; }
void TCustomDataGrid::SetReadOnly(bool readOnly) { state_->ReadOnly = readOnly; }
bool TCustomDataGrid::Flat() const { return state_->Flat; }
bool TCustomDataGrid::DefaultDrawing() const { return state_->DefaultDrawing; }
void TCustomDataGrid::SetDefaultDrawing(bool on)
{
    state_->DefaultDrawing = on;
    InvalidateGrid();
}

bool TCustomDataGrid::ParentFont() const { return state_->ParentFont; }
TFont TCustomDataGrid::TitleFont() const { return state_->TitleFont; }
TFont TCustomDataGrid::FooterFont() const { return state_->FooterFont; }
void TCustomDataGrid::SetFooterFont(const TFont& font) { state_->FooterFont = font; }
TColor TCustomDataGrid::FooterColor() const { return state_->FooterColor; }
void TCustomDataGrid::SetFooterColor(TColor color) { state_->FooterColor = color; }

int TCustomDataGrid::RowHeight() const { return state_->RowHeight; }
int TCustomDataGrid::RowLines() const { return state_->RowLines; }
int TCustomDataGrid::TitleHeight() const { return state_->TitleHeight; }
int TCustomDataGrid::TitleLines() const { return state_->TitleLines; }
TScrollBarSettings& TCustomDataGrid::HorzScrollBar() { return state_->HorzScrollBar; }
TScrollBarSettings& TCustomDataGrid::VertScrollBar() { return state_->VertScrollBar; }

TColor TCustomDataGrid::EvenRowColor() const { return state_->EvenRowColor.value_or(Color()); }
void TCustomDataGrid::SetEvenRowColor(TColor color)
{
    state_->EvenRowColor = color;
    InvalidateGrid();
}
TColor TCustomDataGrid::OddRowColor() const { return state_->OddRowColor.value_or(Color()); }
void TCustomDataGrid::SetOddRowColor(TColor color)
{
    state_->OddRowColor = color;
    InvalidateGrid();
}
bool TCustomDataGrid::RowColorsAssigned() const
{
    return state_->EvenRowColor || state_->OddRowColor;
}

int TCustomDataGrid::IndicatorOffset() const { return state_->IndicatorOffset; }
int TCustomDataGrid::TitleOffset() const { return state_->TitleOffset; }
int TCustomDataGrid::TitleRowHeight() const { return state_->TitleRowHeight; }
int TCustomDataGrid::RowWindowSize() const { return state_->RowWindowSize; }
TCanvas& TCustomDataGrid::Canvas() { return state_->Canvas; }

TGridState TCustomDataGrid::GridState() const { return state_->Mouse.State; }
bool TCustomDataGrid::DragTracking() const { return state_->Mouse.Tracking; }
bool TCustomDataGrid::EditorMode() const { return state_->EditorMode; }
TDataGridInplaceEdit* TCustomDataGrid::InplaceEditor() const { return state_->Editor; }
const VertScrollValues& TCustomDataGrid::VertScrollInfo() const { return state_->VertValues; }

void TCustomDataGrid::SetDataSource(data::TDataSource* source)
{
    if (source == state_->DataLink.DataSource())
        return;
    state_->DataLink.SetDataSource(source);
    // The link reports an active-state change only when it changes; a switch
    // between two closed sets still needs fresh columns.
    LayoutChanged();
}

TDataGridColumn* TCustomDataGrid::ColumnAt(int gridCol) const
{
    int index = gridCol - state_->IndicatorOffset;
    if (index < 0 || index >= state_->Columns.Count())
        return nullptr;
    return &state_->Columns[index];
}

void TCustomDataGrid::SetOptions(TDataGridOptions options)
{
    const TDataGridOptions layoutOptions{dgEditing, dgAlwaysShowEditor, dgTitles, dgIndicator,
                                         dgColLines, dgRowLines, dgRowSelect,
                                         dgAlwaysShowSelection};
    bool layout = !((options * layoutOptions) == (state_->Options * layoutOptions));
    state_->Options = options;
    ApplyOptions();
    if (layout)
        LayoutChanged();
    else
        InvalidateGrid();
}

void TCustomDataGrid::ApplyOptions()
{
    TGridOptions grid{goRangeSelect};
    if (state_->Options.Contains(dgColLines))
        grid = grid + goFixedVertLine + goVertLine;
    if (state_->Options.Contains(dgRowLines))
        grid = grid + goFixedHorzLine + goHorzLine;
    if (state_->Options.Contains(dgColumnResize))
        grid = grid + goColSizing + goColMoving;
    if (state_->Options.Contains(dgTabs))
        grid += goTabs;
    if (state_->Options.Contains(dgRowSelect))
        grid += goRowSelect;
    // Whole-row selection leaves no cell to edit.
    if (state_->Options.Contains(dgEditing) && !state_->Options.Contains(dgRowSelect))
        grid += goEditing;
    if (state_->Options.Contains(dgAlwaysShowEditor) && !state_->Options.Contains(dgRowSelect))
        grid += goAlwaysShowEditor;
    SetGridOptions(grid);
}

void TCustomDataGrid::SetOptionsEx(TDataGridOptionsEx options)
{
    state_->OptionsEx = options;
    LayoutChanged();
}

void TCustomDataGrid::SetFlat(bool flat)
{
    if (state_->Flat == flat)
        return;
    state_->Flat = flat;
    LayoutChanged();
}

TFont TCustomDataGrid::Font() const { return TFont{font(), state_->FontColor}; }

void TCustomDataGrid::SetFont(const TFont& font)
{
    state_->ParentFont = false;
    state_->FontColor = font.Color;
    setFont(font.Font);
    InvalidateGrid();
}

void TCustomDataGrid::SetParentFont(bool on)
{
    state_->ParentFont = on;
    if (on) {
        setFont(QFont());
        setAttribute(Qt::WA_SetFont, false);
        state_->TitleFont.Font = font();
        state_->FooterFont.Font = font();
        LayoutChanged();
    }
}

void TCustomDataGrid::SetTitleFont(const TFont& font)
{
    state_->TitleFont = font;
    state_->ParentFont = false;
    if (state_->Options.Contains(dgTitles))
        LayoutChanged();
}

void TCustomDataGrid::SetRowHeight(int height) { state_->RowHeight = height; LayoutChanged(); }
void TCustomDataGrid::SetRowLines(int lines) { state_->RowLines = lines; LayoutChanged(); }
void TCustomDataGrid::SetTitleHeight(int height) { state_->TitleHeight = height; LayoutChanged(); }
void TCustomDataGrid::SetTitleLines(int lines) { state_->TitleLines = lines; LayoutChanged(); }

void TCustomDataGrid::changeEvent(QEvent* event)
{
    TCustomCellGrid::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        if (state_->ParentFont) {
            state_->TitleFont.Font = font();
            state_->FooterFont.Font = font();
        }
        Guarded([this] { LayoutChanged(); }, "changing the font");
    } else if (event->type() == QEvent::PaletteChange) {
        InvalidateGrid();
    }
}

// ---------------------------------------------------------------- locks

void TCustomDataGrid::BeginUpdate() { ++state_->UpdateLock; }

void TCustomDataGrid::EndUpdate()
{
    if (state_->UpdateLock == 0)
        return;
    if (--state_->UpdateLock > 0)
        return;
    // A layout request or a resize that arrived under the lock would
    // otherwise be lost, leaving columns of fields that no longer exist.
    if (state_->LayoutPending) {
        state_->LayoutPending = false;
        LayoutChanged();
    }
    if (state_->ResizePending) {
        state_->ResizePending = false;
        GridResized();
    }
    InvalidateGrid();
}

void TCustomDataGrid::BeginLayout() { ++state_->LayoutLock; }

void TCustomDataGrid::EndLayout()
{
    if (state_->LayoutLock == 0)
        return;
    if (--state_->LayoutLock > 0)
        return;
    RunLayoutPass();
}

void TCustomDataGrid::LayoutChanged()
{
    if (state_->Destroying)
        return;
    if (state_->LayoutLock > 0)
        return;  // the holder runs the pass when it lets go
    if (state_->UpdateLock > 0) {
        state_->LayoutPending = true;
        return;
    }
    BeginLayout();
    EndLayout();
}

// ---------------------------------------------------------------- row window

void TCustomDataGrid::GridResized()
{
    if (state_->UpdateLock > 0) {
        state_->ResizePending = true;
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
    if (GridFocused() != state_->PaintedFocused)
        InvalidateRow(Row());
    GridAccessibleChanged(*this);
}

bool TCustomDataGrid::GridFocused() const
{
    return hasFocus() || (state_->Editor && state_->Editor->hasFocus());
}

// ---------------------------------------------------------------- notifications

void TCustomDataGrid::LinkActiveChanged()
{
    if (state_->Destroying)
        return;
    if (!state_->DataLink.Active()) {
        // The fields are gone with the closing record set: no column may
        // keep pointing at one, whether or not the pass runs now.
        for (int i = 0; i < state_->Columns.Count(); ++i)
            state_->Columns[i].field_ = nullptr;
    }
    LayoutChanged();
    UpdateVertScrollBar();
}

void TCustomDataGrid::LinkEditingChanged()
{
    if (state_->IndicatorOffset > 0)
        InvalidateCell(0, state_->IndicatorRow >= 0 ? state_->IndicatorRow : Row());
}

void TCustomDataGrid::LinkDataChanged()
{
    if (state_->Destroying)
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
    for (const TDataGridColumn* column : state_->VisibleColumns)
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
    state.Options = state_->Options;
    state.OptionsEx = state_->OptionsEx;
    state.Color = Color();
    state.FixedColor = FixedColor();
    state.Flat = state_->Flat;
    state.DefaultDrawing = state_->DefaultDrawing;
    state.Focused = GridFocused();
    state.UpdateLocked = state_->UpdateLock > 0;
    state.Col = Col();
    state.Row = Row();
    state.IndicatorOffset = state_->IndicatorOffset;
    state.TitleOffset = state_->TitleOffset;
    state.RowColorsAssigned = RowColorsAssigned();
    state.EvenRowColor = EvenRowColor();
    state.OddRowColor = OddRowColor();
    state.Columns = &state_->Columns;
    state.Link = &state_->DataLink;
    state.Canvas = &state_->Canvas;
    state.Sender = this;
    state.OnDrawColumnCell = &OnDrawColumnCell;
    state.OnDrawDataCell = &OnDrawDataCell;
    state.OnGetCellParams = &OnGetCellParams;
    return state;
}

void TCustomDataGrid::PaintGrid(QPainter& painter, const QRegion& region)
{
    GridPaintState state = PaintState();
    state_->PaintedFocused = state.Focused;
    GridPainter gridPainter(state, painter);
    // Whatever way the paint ends (a hook or a display text may throw), the
    // canvas and the painter of this paint are gone with it: a later
    // DrawFieldText must not find them.
    struct Active {
        TCustomDataGrid& grid;
        ~Active()
        {
            grid.state_->ActivePainter = nullptr;
            grid.state_->Canvas.Painter = nullptr;
        }
    } active{*this};
    state_->ActivePainter = &gridPainter;
    gridPainter.Paint(region);
    PaintMouseMarks(painter);
}

void TCustomDataGrid::DrawFieldText(const QRect& Rect, TField* Field, TGridDrawState State)
{
    (void)State;
    if (!state_->Canvas.Painter)
        return;
    // Inside a paint the grid's own painter writes, with its measured fonts.
    std::optional<GridPaintState> state;
    std::optional<GridPainter> own;
    GridPainter* painter = state_->ActivePainter;
    if (!painter || !painter->Paints(*state_->Canvas.Painter)) {
        state.emplace(PaintState());
        painter = &own.emplace(*state, *state_->Canvas.Painter);
    }
    painter->FillRect(Rect, state_->Canvas.Brush.Color);
    if (!Field)
        return;
    painter->WriteText(Rect, 2, 2,
                       TextToLayOut(Field->DisplayText(), Field->Alignment(), Rect.width(),
                                    painter->Metrics(state_->Canvas.Font.Font)),
                       Field->Alignment(), state_->Canvas.Font, state_->Canvas.Brush.Color, true);
}

} // namespace querlin::grid
