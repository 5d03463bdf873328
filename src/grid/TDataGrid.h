#pragma once
// The data grid: a cell grid bound to a record set through a TDataSource.
//
// TCustomDataGrid owns its column collection (TDataGridColumns) and its data
// link (TGridDataLink); the window that creates the grid owns the data source
// and the record set, which must outlive the binding. Columns are built from
// the record set's fields by the layout pass whenever the record set opens or
// closes or its field layout changes (TDataGridLayout.cpp). Painting is
// GridPainter's, from a GridPaintState this grid fills for each paint.
// The grid's fields live in TDataGridState (TDataGridPrivate.h), which only
// the grid's own .cpp files see. GUI thread only.
//
// Settings follow a stored-value-or-default rule: a column or title property
// never assigned reads its default each time from its owner (a column from
// its grid and field, a title from its grid).

#include "data/DataSet.h"
#include "grid/GridColumns.h"
#include "grid/GridDataLink.h"
#include "grid/GridPaintState.h"
#include "grid/TCustomCellGrid.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace querlin::grid {

class TCustomDataGrid;
class TGridColumn;
class GridPainter;
class TDataGridInplaceEdit;
struct NavMove;
struct TDataGridState;

class TCustomDataGrid : public TCustomCellGrid, private GridLinkListener {
    Q_OBJECT
public:
    explicit TCustomDataGrid(QWidget* parent = nullptr);
    ~TCustomDataGrid() override;

    data::TDataSource* DataSource() const;
    void SetDataSource(data::TDataSource* source);
    TGridDataLink& DataLink();
    const TGridDataLink& DataLink() const;
    TDataGridColumns& Columns();
    const TDataGridColumns& Columns() const;
    // The visible columns in collection order.
    const std::vector<TDataGridColumn*>& VisibleColumns() const;
    // The column shown in a grid column, or nullptr for the indicator.
    TDataGridColumn* ColumnAt(int gridCol) const;

    TDataGridOptions Options() const;
    void SetOptions(TDataGridOptions options);
    TDataGridOptionsEx OptionsEx() const;
    void SetOptionsEx(TDataGridOptionsEx options);
    bool ReadOnly() const;
    void SetReadOnly(bool readOnly);
    bool Flat() const;
    void SetFlat(bool flat);
    bool DefaultDrawing() const;
    void SetDefaultDrawing(bool on);

    // The grid's font with its colour; the font itself is the widget's.
    TFont Font() const;
    void SetFont(const TFont& font);
    bool ParentFont() const;
    void SetParentFont(bool on);
    TFont TitleFont() const;
    void SetTitleFont(const TFont& font);  // clears ParentFont
    TFont FooterFont() const;
    void SetFooterFont(const TFont& font);
    TColor FooterColor() const;
    void SetFooterColor(TColor color);

    int RowHeight() const;
    void SetRowHeight(int height);
    int RowLines() const;
    void SetRowLines(int lines);
    int TitleHeight() const;
    void SetTitleHeight(int height);
    int TitleLines() const;
    void SetTitleLines(int lines);

    // Settings these grids keep at their defaults, which the layout and the
    // painting take as given: no footer rows, one title row, no vertical
    // titles, no stretching to the client, no memo text, no frozen or
    // right-fixed data columns.
    int FooterRowCount() const { return 0; }
    bool UseMultiTitle() const { return false; }
    int VTitleMargin() const { return 10; }
    bool AutoFitColWidths() const { return false; }
    int MinAutoFitWidth() const { return 0; }
    bool DrawMemoText() const { return false; }
    int FrozenCols() const { return 0; }
    int ContraColCount() const { return 0; }

    TScrollBarSettings& HorzScrollBar();
    TScrollBarSettings& VertScrollBar();

    // Row colours; unassigned they follow Color.
    TColor EvenRowColor() const;
    void SetEvenRowColor(TColor color);
    TColor OddRowColor() const;
    void SetOddRowColor(TColor color);
    bool RowColorsAssigned() const;

    // Fixed columns left of the first data column, fixed rows above the first
    // data row.
    int IndicatorOffset() const;
    int TitleOffset() const;
    int TitleRowHeight() const;
    int DataRowHeight() const { return DefaultRowHeight(); }
    // Records the link asked to buffer (the rows that fit in the client).
    int RowWindowSize() const;

    void BeginUpdate();
    void EndUpdate();
    void BeginLayout();
    void EndLayout();
    // A request for a layout pass: runs it unless a lock is held.
    void LayoutChanged();

    // The events of the painting.
    TDrawColumnCellEvent OnDrawColumnCell;
    TDrawDataCellEvent OnDrawDataCell;
    TGetCellParamsEvent OnGetCellParams;

    // The canvas of the cell being painted: valid inside the draw events.
    TCanvas& Canvas();
    // Fills Rect with the canvas brush and writes the field's display text
    // in the canvas font, at the place the grid's own painting puts it.
    void DrawFieldText(const QRect& Rect, data::TField* Field, TGridDrawState State);

    // Default width of a column showing the field (see the .cpp).
    int DefaultColumnWidth(const TGridColumn& column) const;
    // Width set by program or by column sizing: the field feedback and the
    // storing rules.
    void ColumnWidthSet(TGridColumn& column, int width, bool fromLayoutChange = false);
    // A column's notice that a setting of its own changed (width, visibility,
    // alignment ...): its grid column follows and the grid repaints.
    void ColumnChanged(TGridColumn& column);

    void PaintGrid(QPainter& painter, const QRegion& region) override;

    // Whether the grid paints as focused (it or its cell editor has the
    // keyboard focus); the value used for the last paint is kept to repaint
    // on a change.
    bool GridFocused() const;

    // ---- keyboard (TDataGridKeys.cpp)
    // Key is the Windows virtual-key code (TVirtualKey: vkTab, vkReturn,
    // vkEscape, vkPrior ... vkDown) and may be changed by the handler;
    // OnKeyDown setting it to vkNone takes the key from the grid. They fire
    // also while the record set is closed. A held key repeats OnKeyDown (and
    // the key's action) and fires OnKeyUp once, at the release.
    using TKeyEvent = std::function<void(TCustomDataGrid* Sender, std::uint16_t& Key, TShiftState Shift)>;
    using TKeyPressEvent = std::function<void(TCustomDataGrid* Sender, char16_t& Key)>;
    using TNotifyEvent = std::function<void(TCustomDataGrid* Sender)>;
    TKeyEvent OnKeyDown;
    TKeyPressEvent OnKeyPress;
    TKeyEvent OnKeyUp;
    // Around each change of the current column.
    TNotifyEvent OnColExit;
    TNotifyEvent OnColEnter;

    // ---- mouse (TDataGridMouse.cpp)
    // Column is the column under the pointer at the release: OnCellClick for
    // a left release over a data cell (not after a press that opened the
    // editor, nor after column sizing), OnTitleClick over a title cell.
    using TDBGridClickEvent = std::function<void(TGridColumn* Column)>;
    TDBGridClickEvent OnCellClick;
    TDBGridClickEvent OnTitleClick;
    // The second press of a double click.
    TNotifyEvent OnDblClick;
    // After the user moved a column, with data-column indexes.
    using TMovedEvent = std::function<void(TCustomDataGrid* Sender, int FromIndex, int ToIndex)>;
    TMovedEvent OnColumnMoved;
    // The platform's press and release, after the grid's own handling; X and
    // Y in client pixels.
    using TMouseEvent = std::function<void(TCustomDataGrid* Sender, TMouseButton Button,
                                           TShiftState Shift, int X, int Y)>;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;

    // The column move the keys, the mouse and the find dialog share: to a
    // grid column, stepping past columns of width 0 in a direction of +1 or
    // -1 (0: none).
    void MoveColumn(int target, int direction);

    // The find dialog's entry: the dialog plugs itself in here once, and the
    // grid calls it with the search text for Ctrl+F (empty from the grid, the
    // selected text from the cell editor). Only with dgxDialogFind.
    using FindDialogEntry = std::function<void(TCustomDataGrid& Grid, const std::string& SearchText)>;
    static void SetFindDialogEntry(FindDialogEntry entry);
    void ShowFindDialog(const std::string& searchText);

    // Key and wheel handling, for the grid's own events and for the keys its
    // cell editor hands on.
    void HandleKeyPress(QKeyEvent* event);
    void HandleKeyRelease(QKeyEvent* event);
    void HandleWheel(QWheelEvent* event);

    // ---- mouse state (TDataGridMouse.cpp)
    TGridState GridState() const;
    // Whether a press on a data cell is being tracked while the button is held.
    bool DragTracking() const;
    // Ends whatever the mouse is doing: drag tracking stops, a column sizing
    // keeps the old width, a column move is abandoned, the capture is let
    // go. Esc, a menu opening and the focus leaving the grid call it.
    void CancelMouseMode();
    // Moves the column at one data index to another, the current column
    // following it; fires OnColumnMoved.
    void MoveDataColumn(int fromIndex, int toIndex);
    // The keyboard's context-menu request (menu key, Shift+F10): it moves
    // nothing and goes to the parent control, at the parent's top-left.
    void KeyboardContextMenu();

    // ---- cell editor (TDataGridInplaceEdit.cpp)
    bool EditorMode() const;
    // Sets editor mode and shows the editor when the grid may (dgEditing,
    // no dgRowSelect, the focus, no layout lock, no check-box column).
    void ShowEditor(bool caretAtEnd = false);
    void HideEditor();
    // The editor, once it was first wanted; nullptr before.
    TDataGridInplaceEdit* InplaceEditor() const;

    // ---- scrolling (TDataGridScroll.cpp)
    // The vertical bar's values as last written (range, page, position).
    const VertScrollValues& VertScrollInfo() const;
    // Makes a column shown in full, moving the left column.
    void MakeColumnVisible(int col);
    // Moves the first scrollable column shown, shifting the pixels of the
    // scrollable columns.
    void MoveLeftCol(int leftCol);
    // The scroll-bar messages, as the bars send them.
    void VertScrollAction(int action);
    void HorzScrollAction(int action);

protected:
    void GridResized() override;
    void FocusChanged() override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void RunLayoutPass();
    void BuildFieldMap();
    void BuildColumns();
    void ApplyColumnAttributes();
    void ApplyRowHeights();
    void UpdateRowCount();
    void UpdateCurrentRow(bool invalidate = true);
    void UpdateVertScrollBar();
    void PlaceEditor();
    // Fills the shown editor again when its field now shows another text.
    void RefreshEditor();
    void ApplyMove(const NavMove& move, QKeyEvent* event);
    void ApplyOptions();
    // What a paint needs to know, as it stands now: the one place the
    // painter's snapshot is filled from the grid's state.
    GridPaintState PaintState();

    bool TakeFocusForPress();
    void MousePress(QMouseEvent* event);
    void MouseMove(QPoint point);
    void MouseRelease(QMouseEvent* event);
    void MouseDoubleClick(QMouseEvent* event);
    void MouseTimer();
    void PressData(const GridGeometry::Hit& hit, TMouseButton button);
    void TrackDrag(QPoint point);
    void TrackColumnMove(QPoint point);
    void FinishColumnSizing(bool apply);
    void FinishColumnMove(bool apply);
    void ColumnWidthsChangedByUser();
    void ForwardContextMenu(QPoint parentPos, bool keyboard, Qt::KeyboardModifiers modifiers);
    void StartMouseTimer(int intervalMs);
    void PaintMouseMarks(QPainter& painter);

    // The record set's notifications, from the data link.
    void LinkActiveChanged() override;
    void LinkEditingChanged() override;
    void LinkDataChanged() override;
    void LinkScrolled(int distance) override;
    void LinkRecordChanged(data::TField* field) override;
    void LinkLayoutChanged() override;

    std::unique_ptr<TDataGridState> state_;
};

class TDataGrid : public TCustomDataGrid {
    Q_OBJECT
public:
    explicit TDataGrid(QWidget* parent = nullptr) : TCustomDataGrid(parent) {}
};

} // namespace querlin::grid
