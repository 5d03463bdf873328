#pragma once
// The data grid: a cell grid bound to a record set through a TDataSource.
//
// TCustomDataGrid owns its column collection (TDataGridColumns) and its data
// link (TGridDataLink); the window that creates the grid owns the data source
// and the record set, which must outlive the binding. Columns are built from
// the record set's fields by the layout pass whenever the record set opens or
// closes or its field layout changes (TDataGridLayout.cpp). Painting is
// GridPainter's, from a GridPaintState this grid fills for each paint.
// GUI thread only.
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
#include <optional>
#include <string>
#include <vector>

namespace querlin::grid {

class TCustomDataGrid;
class TGridColumn;
class GridPainter;
class TDataGridInplaceEdit;
struct NavMove;

class TCustomDataGrid : public TCustomCellGrid {
    Q_OBJECT
public:
    explicit TCustomDataGrid(QWidget* parent = nullptr);
    ~TCustomDataGrid() override;

    data::TDataSource* DataSource() const { return dataLink_.DataSource(); }
    void SetDataSource(data::TDataSource* source);
    TGridDataLink& DataLink() { return dataLink_; }
    const TGridDataLink& DataLink() const { return dataLink_; }
    TDataGridColumns& Columns() { return columns_; }
    const TDataGridColumns& Columns() const { return columns_; }
    // The visible columns in collection order.
    const std::vector<TDataGridColumn*>& VisibleColumns() const { return visibleColumns_; }
    // The column shown in a grid column, or nullptr for the indicator.
    TDataGridColumn* ColumnAt(int gridCol) const;

    TDataGridOptions Options() const { return options_; }
    void SetOptions(TDataGridOptions options);
    TDataGridOptionsEx OptionsEx() const { return optionsEx_; }
    void SetOptionsEx(TDataGridOptionsEx options);
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
    bool Flat() const { return flat_; }
    void SetFlat(bool flat);
    bool DefaultDrawing() const { return defaultDrawing_; }
    void SetDefaultDrawing(bool on) { defaultDrawing_ = on; InvalidateGrid(); }

    // The grid's font with its colour; the font itself is the widget's.
    TFont Font() const;
    void SetFont(const TFont& font);
    bool ParentFont() const { return parentFont_; }
    void SetParentFont(bool on);
    TFont TitleFont() const { return titleFont_; }
    void SetTitleFont(const TFont& font);  // clears ParentFont
    TFont FooterFont() const { return footerFont_; }
    void SetFooterFont(const TFont& font) { footerFont_ = font; }
    TColor FooterColor() const { return footerColor_; }
    void SetFooterColor(TColor color) { footerColor_ = color; }
    int FooterRowCount() const { return 0; }

    int RowHeight() const { return rowHeight_; }
    void SetRowHeight(int height);
    int RowLines() const { return rowLines_; }
    void SetRowLines(int lines);
    int TitleHeight() const { return titleHeight_; }
    void SetTitleHeight(int height);
    int TitleLines() const { return titleLines_; }
    void SetTitleLines(int lines);
    bool UseMultiTitle() const { return false; }
    int VTitleMargin() const { return 10; }
    bool AutoFitColWidths() const { return false; }
    int MinAutoFitWidth() const { return 0; }
    bool DrawMemoText() const { return false; }
    TScrollBarSettings& HorzScrollBar() { return horzScrollBar_; }
    TScrollBarSettings& VertScrollBar() { return vertScrollBar_; }
    int FrozenCols() const { return 0; }
    int ContraColCount() const { return 0; }

    // Row colours; unassigned they follow Color.
    TColor EvenRowColor() const { return evenRowColor_.value_or(Color()); }
    void SetEvenRowColor(TColor color) { evenRowColor_ = color; InvalidateGrid(); }
    TColor OddRowColor() const { return oddRowColor_.value_or(Color()); }
    void SetOddRowColor(TColor color) { oddRowColor_ = color; InvalidateGrid(); }
    bool RowColorsAssigned() const { return evenRowColor_ || oddRowColor_; }

    // Fixed columns left of the first data column, fixed rows above the first
    // data row.
    int IndicatorOffset() const { return indicatorOffset_; }
    int TitleOffset() const { return titleOffset_; }
    int TitleRowHeight() const { return titleRowHeight_; }
    int DataRowHeight() const { return DefaultRowHeight(); }
    // Records the link asked to buffer (the rows that fit in the client).
    int RowWindowSize() const { return rowWindowSize_; }
    int UpdateLock() const { return updateLock_; }

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
    TCanvas& Canvas() { return canvas_; }
    // Fills Rect with the canvas brush and writes the field's display text
    // in the canvas font, at the place the grid's own painting puts it.
    void DrawFieldText(const QRect& Rect, data::TField* Field, TGridDrawState State);

    // Default width of a column showing the field (see the .cpp).
    int DefaultColumnWidth(const TGridColumn& column) const;
    // Width set by program or by column sizing: the field feedback and the
    // storing rules.
    void ColumnWidthSet(TGridColumn& column, int width, bool fromLayoutChange = false);

    void PaintGrid(QPainter& painter, const QRegion& region) override;
    // What a paint needs to know, as it stands now.
    GridPaintState PaintState();

    // Whether the grid paints as focused (it or its cell editor has the
    // keyboard focus); the value used for the last paint is kept to repaint
    // on a change.
    bool GridFocused() const;

    // ---- keyboard (TDataGridKeys.cpp)
    // Key is the Windows virtual-key code (Tab 9, Enter 13, Esc 27, Page Up
    // 33 ... Down 40) and may be changed by the handler; OnKeyDown setting it
    // to 0 takes the key from the grid. They fire also while the record set
    // is closed. A held key repeats OnKeyDown (and the key's action) and
    // fires OnKeyUp once, at the release.
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
    TGridState GridState() const { return mouse_.State; }
    // Whether a press on a data cell is being tracked while the button is held.
    bool DragTracking() const { return mouse_.Tracking; }
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
    bool EditorMode() const { return editorMode_; }
    // Sets editor mode and shows the editor when the grid may (dgEditing,
    // no dgRowSelect, the focus, no layout lock, no check-box column).
    void ShowEditor(bool caretAtEnd = false);
    void HideEditor();
    // The editor, once it was first wanted; nullptr before.
    TDataGridInplaceEdit* InplaceEditor() const { return editor_; }

    // ---- scrolling (TDataGridScroll.cpp)
    // The vertical bar's values as last written (range, page, position).
    const VertScrollValues& VertScrollInfo() const { return vertValues_; }
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
    friend class TGridDataLink;
    friend class TGridColumn;
    friend class TColumnTitle;
    friend class TDataGridColumns;

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
    void ColumnChanged(TGridColumn& column);

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

    void LinkActiveChanged();
    void LinkEditingChanged();
    void LinkDataChanged();
    void LinkScrolled(int distance);
    void LinkRecordChanged(data::TField* field);
    void LinkLayoutChanged();

    TDataGridColumns columns_;
    std::vector<TDataGridColumn*> visibleColumns_;
    TDataGridOptions options_;
    TDataGridOptionsEx optionsEx_;
    bool readOnly_ = false;
    bool flat_ = false;
    bool defaultDrawing_ = true;
    bool parentFont_ = true;
    TColor fontColor_ = clWindowText;
    TFont titleFont_;
    TFont footerFont_;
    TColor footerColor_ = clWindow;
    int rowHeight_ = 0;
    int rowLines_ = 0;
    int titleHeight_ = 0;
    int titleLines_ = 0;
    TScrollBarSettings horzScrollBar_;
    TScrollBarSettings vertScrollBar_;
    std::optional<TColor> evenRowColor_;
    std::optional<TColor> oddRowColor_;
    int indicatorOffset_ = 1;
    int titleOffset_ = 1;
    int rowWindowSize_ = 1;
    int titleRowHeight_ = 0;
    int updateLock_ = 0;
    int layoutLock_ = 0;
    bool layoutPending_ = false;
    bool resizePending_ = false;
    bool inRowCountUpdate_ = false;
    bool destroying_ = false;
    bool paintedFocused_ = false;
    TCanvas canvas_;
    TDataGridInplaceEdit* editor_ = nullptr;  // a child of the viewport, made on first use
    bool editorMode_ = false;
    bool inColExit_ = false;
    bool inVertAction_ = false;
    bool skipThumbRelease_ = false;
    int wheelSum_ = 0;
    int indicatorRow_ = -1;  // the row whose indicator last showed the glyph
    VertScrollValues vertValues_;
    GridPainter* activePainter_ = nullptr;  // the painter of the paint under way
    // The mouse: the state of the press/move/release machine.
    struct MouseMode {
        TGridState State = TGridState::gsNormal;
        bool Tracking = false;      // drag tracking after a press on a data cell
        bool Captured = false;      // the grid holds the mouse (left or right press)
        bool RightAsLeft = false;   // a right press on the title acting as a left one
        int SizingCol = -1;         // column sizing: the column, the line's x and
        int SizingPos = 0;          // the pointer's offset from the right edge
        int SizingOffset = 0;
        int MoveFrom = -1;          // column moving: source and target grid columns
        int MoveTo = -1;
        QPoint LastPoint;           // for the timer's steps
        int TimerId = 0;
    } mouse_;
    // Last: released first, so no notification reaches a half-destroyed grid.
    TGridDataLink dataLink_;
};

class TDataGrid : public TCustomDataGrid {
    Q_OBJECT
public:
    explicit TDataGrid(QWidget* parent = nullptr) : TCustomDataGrid(parent) {}
};

} // namespace querlin::grid
