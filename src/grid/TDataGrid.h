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

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace querlin::grid {

class TCustomDataGrid;
class TGridColumn;
class GridPainter;

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

    // Whether the grid paints as focused (has the keyboard focus); the
    // value used for the last paint is kept to repaint on a change.
    bool GridFocused() const;

protected:
    void GridResized() override;
    void FocusChanged() override;
    void changeEvent(QEvent* event) override;

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
    void UpdateCurrentRow();
    void UpdateVertScrollBar();
    void ApplyOptions();
    void ColumnChanged(TGridColumn& column);

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
    GridPainter* activePainter_ = nullptr;  // the painter of the paint under way
    // Last: released first, so no notification reaches a half-destroyed grid.
    TGridDataLink dataLink_;
};

class TDataGrid : public TCustomDataGrid {
    Q_OBJECT
public:
    explicit TDataGrid(QWidget* parent = nullptr) : TCustomDataGrid(parent) {}
};

} // namespace querlin::grid
