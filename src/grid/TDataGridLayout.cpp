// The layout pass of the data grid: the field map, the columns built from
// the fields, the row heights, the column widths and the row window. It runs
// whenever the record set opens or closes, its field layout changes, or a
// setting that shapes the grid changes (see LayoutChanged and the locks).

#include "grid/TDataGrid.h"

#include <QFontMetrics>

#include <algorithm>

namespace querlin::grid {

using data::TField;

namespace {

// The indicator column: the 6-pixel glyph with its inset and the raised edge.
constexpr int kIndicatorWidth = 11;

} // namespace

// ---------------------------------------------------------------- layout pass

void TCustomDataGrid::RunLayoutPass()
{
    if (destroying_)
        return;
    // Mixed collections: a stored column after a default one drops the defaults.
    bool seenDefault = false;
    bool mixed = false;
    for (int i = 0; i < columns_.Count(); ++i) {
        if (!columns_[i].Stored())
            seenDefault = true;
        else if (seenDefault)
            mixed = true;
    }
    if (mixed)
        for (int i = columns_.Count() - 1; i >= 0; --i)
            if (!columns_[i].Stored())
                columns_.RemoveAt(i);

    indicatorOffset_ = options_.Contains(dgIndicator) ? 1 : 0;
    BuildFieldMap();
    BuildColumns();

    visibleColumns_.clear();
    for (int i = 0; i < columns_.Count(); ++i)
        if (columns_[i].Visible())
            visibleColumns_.push_back(&columns_[i]);

    SetColCount(columns_.Count() + indicatorOffset_);
    int fixedCols = indicatorOffset_ - (visibleColumns_.empty() ? 1 : 0);
    SetFixedCols(std::clamp(fixedCols, 0, ColCount() - 1));

    titleOffset_ = options_.Contains(dgTitles) ? 1 : 0;

    ApplyRowHeights();
    SetScrollBars(horzScrollBar_.Visible ? TScrollStyle::ssHorizontal : TScrollStyle::ssNone);
    ApplyColumnAttributes();
    UpdateRowCount();
    UpdateCurrentRow();
    UpdateVertScrollBar();
    UpdateHorzScrollBar();
    InvalidateGrid();
}

void TCustomDataGrid::BuildFieldMap()
{
    dataLink_.ClearMapping();
    data::TADOQuery* dataSet = dataLink_.DataSet();
    if (!dataLink_.Active() || !dataSet)
        return;
    if (columns_.State() == TColumnsState::csDefault) {
        // A field a column already shows keeps that column's place, so a
        // column the user moved stays where it was put; the other fields
        // follow in the record set's order. Pointers are only compared.
        std::vector<bool> taken(std::size_t(dataSet->FieldCount()), false);
        for (int c = 0; c < columns_.Count(); ++c) {
            TField* shown = columns_[c].field_;
            for (int i = 0; shown && i < dataSet->FieldCount(); ++i)
                if (&dataSet->FieldAt(i) == shown && !taken[std::size_t(i)] &&
                    dataSet->FieldAt(i).Visible()) {
                    taken[std::size_t(i)] = true;
                    dataLink_.AddMapping(i);
                    break;
                }
        }
        for (int i = 0; i < dataSet->FieldCount(); ++i)
            if (!taken[std::size_t(i)] && dataSet->FieldAt(i).Visible())
                dataLink_.AddMapping(i);
    } else {
        dataLink_.sparse_ = true;
        for (int i = 0; i < columns_.Count(); ++i) {
            TField* field = dataSet->FindField(columns_[i].FieldName());
            dataLink_.AddMapping(field ? field->Index() : -1);
        }
    }
}

void TCustomDataGrid::BuildColumns()
{
    if (columns_.State() == TColumnsState::csCustomized) {
        for (int i = 0; i < columns_.Count(); ++i)
            columns_[i].field_ = nullptr;
        return;
    }
    const std::vector<int>& map = dataLink_.FieldMap();
    if (!dataLink_.Active()) {
        columns_.items_.clear();
    } else {
        // Pointers are only compared, never followed: a column may still
        // hold a field of an earlier opening.
        for (int i = columns_.Count() - 1; i >= 0; --i) {
            TField* field = columns_[i].field_;
            bool mapped = false;
            for (int p = 0; field && !mapped && p < int(map.size()); ++p)
                mapped = dataLink_.Fields(p) == field;
            if (!mapped)
                columns_.RemoveAt(i);
        }
    }
    int positions = std::max<int>(int(map.size()), columns_.Count() == 0 ? 1 : 0);
    for (int p = 0; p < positions; ++p) {
        TField* field = p < int(map.size()) ? dataLink_.Fields(p) : nullptr;
        int found = -1;
        if (field)
            for (int i = p; i < columns_.Count(); ++i)
                if (columns_[i].field_ == field) {
                    found = i;
                    break;
                }
        if (found >= 0) {
            columns_.Move(found, p);
        } else {
            TDataGridColumn& column = columns_.Insert(std::min(p, columns_.Count()), false);
            column.SetField(field);
        }
    }
}

namespace {

FontHeights HeightsOf(const QFont& font)
{
    QFontMetrics metrics(font);
    return {metrics.height(), metrics.leading()};
}

} // namespace

void TCustomDataGrid::ApplyRowHeights()
{
    RowHeightRules rules;
    rules.Flat = flat_;
    rules.HorzLines = options_.Contains(dgRowLines);
    rules.LineWidth = GridLineWidth();
    rules.RowHeight = rowHeight_;
    rules.RowLineCount = rowLines_;
    rules.FitRowHeightToText = optionsEx_.Contains(dgxFitRowHeightToText);
    rules.TitleHeight = titleHeight_;
    rules.TitleLineCount = titleLines_;
    int dataHeight = DataRowHeightFor(HeightsOf(Font().Font), rules);

    int titleHeight = 0;
    if (titleOffset_ > 0) {
        int tallest = 0;
        if (columns_.Count() == 0)
            tallest = HeightsOf(titleFont_.Font).Height;
        for (int i = 0; i < columns_.Count(); ++i)
            tallest = std::max(tallest, HeightsOf(columns_[i].Title().Font().Font).Height);
        titleHeight = TitleRowHeightFor(tallest, HeightsOf(titleFont_.Font), rules);
    }
    SetDefaultRowHeight(dataHeight);
    if (titleOffset_ > 0)
        SetRowHeights(0, titleHeight);
    titleRowHeight_ = titleHeight;
}

void TCustomDataGrid::ApplyColumnAttributes()
{
    for (int i = 0; i < columns_.Count(); ++i) {
        const TDataGridColumn& column = columns_[i];
        SetColWidths(i + indicatorOffset_,
                     ShownColumnWidth(column.Visible(), column.Width(), options_.Contains(dgColLines)));
    }
    if (indicatorOffset_ > 0)
        SetColWidths(0, kIndicatorWidth);
}

int TCustomDataGrid::DefaultColumnWidth(const TGridColumn& column) const
{
    TField* field = column.Field();
    if (!field)
        return DefaultColWidth();
    QFontMetrics metrics(column.Font().Font);
    return WidthForDisplayWidth(metrics.horizontalAdvance(QLatin1Char('0')), field->DisplayWidth());
}

void TCustomDataGrid::ColumnWidthSet(TGridColumn& column, int width, bool fromLayoutChange)
{
    TField* field = column.Field();
    if (!column.Stored() && field) {
        // The pixel width goes back to the field as a DisplayWidth; a column
        // at its default width gives back the same one, so nothing moves.
        QFontMetrics metrics(column.Font().Font);
        int displayWidth = DisplayWidthForWidth(width, metrics.averageCharWidth(),
                                                metrics.horizontalAdvance(QLatin1Char('0')));
        if (displayWidth >= 0 && displayWidth != field->DisplayWidth())
            field->SetDisplayWidth(displayWidth);
    }
    if (fromLayoutChange && !column.Stored() && !column.WidthAssigned())
        return;
    column.StoreWidth(width);
}

void TCustomDataGrid::ColumnChanged(TGridColumn& column)
{
    int index = columns_.IndexOf(column);
    if (index < 0)
        return;
    int width = ShownColumnWidth(column.Visible(), column.Width(), options_.Contains(dgColLines));
    if (ColWidths(index + indicatorOffset_) != width) {
        SetColWidths(index + indicatorOffset_, width);
        UpdateHorzScrollBar();
    }
    InvalidateGrid();
}

void TCustomDataGrid::UpdateRowCount()
{
    if (inRowCountUpdate_ || destroying_)
        return;
    inRowCountUpdate_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{inRowCountUpdate_};

    if (titleOffset_ >= RowCount())
        SetRowCount(titleOffset_ + 1);
    SetFixedRows(titleOffset_);
    ApplyRowHeights();
    SetTopRow(titleOffset_);

    int lineWidth = options_.Contains(dgRowLines) ? GridLineWidth() : 0;
    data::TADOQuery* dataSet = dataLink_.DataSet();
    int records = 0;
    if (dataLink_.Active() && dataSet && dataSet->HeldCount() > 0) {
        int fixedPart = titleOffset_ > 0 ? titleRowHeight_ + lineWidth : 0;
        rowWindowSize_ = GridGeometry::RowWindowSize(viewport()->height(), fixedPart,
                                                     DataRowHeight() + lineWidth);
        dataLink_.SetBufferCount(rowWindowSize_);
        records = dataLink_.RecordCount();
    }
    int rows = titleOffset_ + std::max(records, 1);
    if (Row() >= rows)
        MoveCurrent(Col(), rows - 1);
    SetRowCount(rows);
    ApplyRowHeights();
}

} // namespace querlin::grid
