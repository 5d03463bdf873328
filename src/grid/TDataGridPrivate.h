#pragma once
// The data grid's own state, behind its public header: only the grid's .cpp
// files (TDataGrid*.cpp) include this. Everything a window, a test or a
// benchmark needs is a query or a setter of TCustomDataGrid.

#include "grid/GridColumns.h"
#include "grid/GridDataLink.h"
#include "grid/GridGeometry.h"
#include "grid/GridTypes.h"

#include <QPoint>

#include <optional>
#include <vector>

namespace querlin::grid {

class GridPainter;
class TCustomDataGrid;
class TDataGridInplaceEdit;

// The press/move/release machine of the grid's mouse (TDataGridMouse.cpp).
struct TDataGridMouseMode {
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
};

struct TDataGridState {
    TDataGridState(TCustomDataGrid& grid, GridLinkListener& listener)
        : Columns(grid), DataLink(listener)
    {
    }

    TDataGridColumns Columns;
    std::vector<TDataGridColumn*> VisibleColumns;
    TDataGridOptions Options{dgEditing, dgTitles, dgIndicator, dgColumnResize, dgColLines,
                             dgRowLines, dgTabs, dgConfirmDelete, dgCancelOnExit};
    TDataGridOptionsEx OptionsEx{dgxFixed3D, dgxHighlightFocus, dgxClearSelection, dgxDialogFind};
    bool ReadOnly = false;
    bool Flat = false;
    bool DefaultDrawing = true;
    bool ParentFont = true;
    TColor FontColor = clWindowText;
    TFont TitleFont;
    TFont FooterFont;
    TColor FooterColor = clWindow;
    int RowHeight = 0;
    int RowLines = 0;
    int TitleHeight = 0;
    int TitleLines = 0;
    TScrollBarSettings HorzScrollBar;
    TScrollBarSettings VertScrollBar;
    std::optional<TColor> EvenRowColor;
    std::optional<TColor> OddRowColor;
    int IndicatorOffset = 1;
    int TitleOffset = 1;
    int RowWindowSize = 1;
    int TitleRowHeight = 0;
    int UpdateLock = 0;
    int LayoutLock = 0;
    bool LayoutPending = false;
    bool ResizePending = false;
    bool InRowCountUpdate = false;
    bool Destroying = false;
    bool PaintedFocused = false;
    TCanvas Canvas;
    TDataGridInplaceEdit* Editor = nullptr;  // a child of the viewport, made on first use
    bool EditorMode = false;
    bool InColExit = false;
    bool InVertAction = false;
    bool SkipThumbRelease = false;
    int WheelSum = 0;
    int IndicatorRow = -1;  // the row whose indicator last showed the glyph
    VertScrollValues VertValues;
    GridPainter* ActivePainter = nullptr;  // the painter of the paint under way
    TDataGridMouseMode Mouse;
    // Last: released first, so no notification reaches a half-destroyed grid.
    TGridDataLink DataLink;
};

} // namespace querlin::grid
