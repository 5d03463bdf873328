// The layout pass of the data grid: the field map, the columns built from
// the fields, the row heights, the column widths and the row window. It runs
// whenever the record set opens or closes, its field layout changes, or a
// setting that shapes the grid changes (see LayoutChanged and the locks).

#include "grid/TDataGrid.h"
#include "grid/TDataGridPrivate.h"

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
    if (state_->Destroying)
        return;
    // Mixed collections: a stored column after a default one drops the defaults.
    bool seenDefault = false;
    bool mixed = false;
    for (int i = 0; i < state_->Columns.Count(); ++i) {
        if (!state_->Columns[i].Stored())
            seenDefault = true;
        else if (seenDefault)
            mixed = true;
    }
    if (mixed)
        for (int i = state_->Columns.Count() - 1; i >= 0; --i)
            if (!state_->Columns[i].Stored())
                state_->Columns.RemoveAt(i);

    state_->IndicatorOffset = state_->Options.Contains(dgIndicator) ? 1 : 0;
    BuildFieldMap();
    BuildColumns();

    state_->VisibleColumns.clear();
    for (int i = 0; i < state_->Columns.Count(); ++i)
        if (state_->Columns[i].Visible())
            state_->VisibleColumns.push_back(&state_->Columns[i]);

    SetColCount(state_->Columns.Count() + state_->IndicatorOffset);
    int fixedCols = state_->IndicatorOffset - (state_->VisibleColumns.empty() ? 1 : 0);
    SetFixedCols(std::clamp(fixedCols, 0, ColCount() - 1));

    state_->TitleOffset = state_->Options.Contains(dgTitles) ? 1 : 0;

    ApplyRowHeights();
    SetScrollBars(state_->HorzScrollBar.Visible ? TScrollStyle::ssHorizontal
                                                : TScrollStyle::ssNone);
    ApplyColumnAttributes();
    UpdateRowCount();
    UpdateCurrentRow();
    UpdateVertScrollBar();
    UpdateHorzScrollBar();
    InvalidateGrid();
}

void TCustomDataGrid::BuildFieldMap()
{
    state_->DataLink.ClearMapping();
    data::TADOQuery* dataSet = state_->DataLink.DataSet();
    if (!state_->DataLink.Active() || !dataSet)
        return;
    if (state_->Columns.State() == TColumnsState::csDefault) {
        // A field a column already shows keeps that column's place, so a
        // column the user moved stays where it was put; the other fields
        // follow in the record set's order. Pointers are only compared.
        std::vector<bool> taken(std::size_t(dataSet->FieldCount()), false);
        for (int c = 0; c < state_->Columns.Count(); ++c) {
            TField* shown = state_->Columns[c].field_;
            for (int i = 0; shown && i < dataSet->FieldCount(); ++i)
                if (&dataSet->FieldAt(i) == shown && !taken[std::size_t(i)] &&
                    dataSet->FieldAt(i).Visible()) {
                    taken[std::size_t(i)] = true;
                    state_->DataLink.AddMapping(i);
                    break;
                }
        }
        for (int i = 0; i < dataSet->FieldCount(); ++i)
            if (!taken[std::size_t(i)] && dataSet->FieldAt(i).Visible())
                state_->DataLink.AddMapping(i);
    } else {
        for (int i = 0; i < state_->Columns.Count(); ++i) {
            TField* field = dataSet->FindField(state_->Columns[i].FieldName());
            state_->DataLink.AddMapping(field ? field->Index() : -1);
        }
    }
}

void TCustomDataGrid::BuildColumns()
{
    if (state_->Columns.State() == TColumnsState::csCustomized) {
        for (int i = 0; i < state_->Columns.Count(); ++i)
            state_->Columns[i].field_ = nullptr;
        return;
    }
    const std::vector<int>& map = state_->DataLink.FieldMap();
    if (!state_->DataLink.Active()) {
        state_->Columns.items_.clear();
    } else {
        // Pointers are only compared, never followed: a column may still
        // hold a field of an earlier opening.
        for (int i = state_->Columns.Count() - 1; i >= 0; --i) {
            TField* field = state_->Columns[i].field_;
            bool mapped = false;
            for (int p = 0; field && !mapped && p < int(map.size()); ++p)
                mapped = state_->DataLink.Fields(p) == field;
            if (!mapped)
                state_->Columns.RemoveAt(i);
        }
    }
    int positions = std::max<int>(int(map.size()), state_->Columns.Count() == 0 ? 1 : 0);
    for (int p = 0; p < positions; ++p) {
        TField* field = p < int(map.size()) ? state_->DataLink.Fields(p) : nullptr;
        int found = -1;
        if (field)
            for (int i = p; i < state_->Columns.Count(); ++i)
                if (state_->Columns[i].field_ == field) {
                    found = i;
                    break;
                }
        if (found >= 0) {
            state_->Columns.Move(found, p);
        } else {
            TDataGridColumn& column =
                state_->Columns.Insert(std::min(p, state_->Columns.Count()), false);
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
    rules.Flat = state_->Flat;
    rules.HorzLines = state_->Options.Contains(dgRowLines);
    rules.LineWidth = GridLineWidth();
    rules.RowHeight = state_->RowHeight;
    rules.RowLineCount = state_->RowLines;
    rules.FitRowHeightToText = state_->OptionsEx.Contains(dgxFitRowHeightToText);
    rules.TitleHeight = state_->TitleHeight;
    rules.TitleLineCount = state_->TitleLines;
    int dataHeight = DataRowHeightFor(HeightsOf(Font().Font), rules);

    int titleHeight = 0;
    if (state_->TitleOffset > 0) {
        int tallest = 0;
        if (state_->Columns.Count() == 0)
            tallest = HeightsOf(state_->TitleFont.Font).Height;
        for (int i = 0; i < state_->Columns.Count(); ++i)
            tallest = std::max(tallest, HeightsOf(state_->Columns[i].Title().Font().Font).Height);
        titleHeight = TitleRowHeightFor(tallest, HeightsOf(state_->TitleFont.Font), rules);
    }
    SetDefaultRowHeight(dataHeight);
    if (state_->TitleOffset > 0)
        SetRowHeights(0, titleHeight);
    state_->TitleRowHeight = titleHeight;
}

void TCustomDataGrid::ApplyColumnAttributes()
{
    for (int i = 0; i < state_->Columns.Count(); ++i) {
        const TDataGridColumn& column = state_->Columns[i];
        SetColWidths(i + state_->IndicatorOffset,
                     ShownColumnWidth(column.Visible(), column.Width(),
                                      state_->Options.Contains(dgColLines)));
    }
    if (state_->IndicatorOffset > 0)
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
    int index = state_->Columns.IndexOf(column);
    if (index < 0)
        return;
    int width =
        ShownColumnWidth(column.Visible(), column.Width(), state_->Options.Contains(dgColLines));
    if (ColWidths(index + state_->IndicatorOffset) != width) {
        SetColWidths(index + state_->IndicatorOffset, width);
        UpdateHorzScrollBar();
    }
    InvalidateGrid();
}

void TCustomDataGrid::UpdateRowCount()
{
    if (state_->InRowCountUpdate || state_->Destroying)
        return;
    state_->InRowCountUpdate = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{state_->InRowCountUpdate};

    if (state_->TitleOffset >= RowCount())
        SetRowCount(state_->TitleOffset + 1);
    SetFixedRows(state_->TitleOffset);
    ApplyRowHeights();
    SetTopRow(state_->TitleOffset);

    int lineWidth = state_->Options.Contains(dgRowLines) ? GridLineWidth() : 0;
    data::TADOQuery* dataSet = state_->DataLink.DataSet();
    int records = 0;
    if (state_->DataLink.Active() && dataSet && dataSet->HeldCount() > 0) {
        int fixedPart = state_->TitleOffset > 0 ? state_->TitleRowHeight + lineWidth : 0;
        state_->RowWindowSize = GridGeometry::RowWindowSize(viewport()->height(), fixedPart,
                                                     DataRowHeight() + lineWidth);
        state_->DataLink.SetBufferCount(state_->RowWindowSize);
        records = state_->DataLink.RecordCount();
    }
    int rows = state_->TitleOffset + std::max(records, 1);
    if (Row() >= rows)
        MoveCurrent(Col(), rows - 1);
    SetRowCount(rows);
    ApplyRowHeights();
}

} // namespace querlin::grid
