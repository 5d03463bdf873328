#pragma once
// What one paint of a data grid needs to know, gathered by the widget before
// it paints: a plain snapshot, as a style option is for a delegate, so the
// painter never reaches into the widget. Its pointers (geometry, columns,
// link, canvas, hooks) are the widget's own and valid for that paint only.
//
// The draw hooks are the grid's events; they receive the grid as Sender,
// which the painter only hands on.

#include "grid/GridColumns.h"
#include "grid/GridGeometry.h"
#include "grid/GridTypes.h"

#include <QPalette>
#include <QRect>

#include <functional>

namespace querlin::data {
class TDataLink;
class TField;
} // namespace querlin::data

namespace querlin::grid {

class TCustomDataGrid;
class TGridColumn;
class TDataGridColumns;

using TDrawColumnCellEvent = std::function<void(TCustomDataGrid* Sender, const QRect& Rect,
                                                int DataCol, TGridColumn* Column,
                                                TGridDrawState State)>;
using TDrawDataCellEvent = std::function<void(TCustomDataGrid* Sender, const QRect& Rect,
                                              data::TField* Field, TGridDrawState State)>;
using TGetCellParamsEvent = std::function<void(TCustomDataGrid* Sender, TGridColumn* Column,
                                               TFont& AFont, TColor& Background,
                                               TGridDrawState State)>;

struct GridPaintState {
    const GridGeometry* Geometry = nullptr;
    QPalette Palette;
    TGridOptions GridOptions;
    TDataGridOptions Options;
    TDataGridOptionsEx OptionsEx;
    TColor Color = clWindow;
    TColor FixedColor = clBtnFace;
    bool Flat = false;
    bool DefaultDrawing = true;
    bool Focused = false;  // the grid paints as having the keyboard focus
    bool UpdateLocked = false;
    int Col = 1;  // the current cell
    int Row = 1;
    int IndicatorOffset = 1;
    int TitleOffset = 1;
    bool RowColorsAssigned = false;
    TColor EvenRowColor = clWindow;
    TColor OddRowColor = clWindow;

    // The columns in collection order; grid column c shows column
    // c - IndicatorOffset.
    const TDataGridColumns* Columns = nullptr;
    // The link's window: its active record is moved to each painted row.
    data::TDataLink* Link = nullptr;
    TCanvas* Canvas = nullptr;

    TCustomDataGrid* Sender = nullptr;
    const TDrawColumnCellEvent* OnDrawColumnCell = nullptr;
    const TDrawDataCellEvent* OnDrawDataCell = nullptr;
    const TGetCellParamsEvent* OnGetCellParams = nullptr;

    // The column shown in a grid column, or nullptr (the indicator).
    TDataGridColumn* ColumnAt(int gridCol) const
    {
        int index = gridCol - IndicatorOffset;
        if (!Columns || index < 0 || index >= Columns->Count())
            return nullptr;
        return &(*Columns)[index];
    }
};

} // namespace querlin::grid
