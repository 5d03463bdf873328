#include "grid/GridLocate.h"

#include "grid/TDataGrid.h"
#include "platform/Error.h"
#include "platform/LetterCase.h"

#include <algorithm>

namespace querlin::grid {

namespace {

bool SameName(const std::string& a, const std::string& b)
{
    return platform::LetterCase::User().Equal(a, b);
}

} // namespace

bool LocateText(TCustomDataGrid& grid, const TLocateRequest& request)
{
    return LocateTextAfter(grid, request, nullptr).Found;
}

FindHit LocateTextAfter(TCustomDataGrid& grid, const TLocateRequest& request, const FindHit* after)
{
    data::TADOQuery* dataSet = grid.DataLink().DataSet();
    if (!dataSet || !dataSet->Active())
        return {};

    const std::vector<TDataGridColumn*>& visible = grid.VisibleColumns();
    const TGridColumn* start = nullptr;
    if (!request.FieldName.empty()) {
        const TDataGridColumns& columns = grid.Columns();
        for (int i = 0; i < columns.Count() && !start; ++i) {
            if (SameName(columns[i].FieldName(), request.FieldName))
                start = &columns[i];
        }
        if (!start)
            throw Error("Field name '" + request.FieldName + "' not found");
    } else {
        start = grid.ColumnAt(grid.Col());
    }
    auto at = std::find(visible.begin(), visible.end(), start);
    if (visible.empty() || (!request.FieldName.empty() && at == visible.end()))
        return {};
    const int p = at == visible.end() ? 0 : int(at - visible.begin());

    std::vector<int> fields;
    fields.reserve(visible.size());
    for (const TDataGridColumn* column : visible) {
        const data::TField* field = column->Field();
        fields.push_back(field && &field->DataSet() == dataSet ? field->Index() : -1);
    }
    FindHit hit = LocateInRecordSet(*dataSet, fields, p, request, {}, after);
    if (hit.Found)
        grid.MoveColumn(visible[std::size_t(hit.Column)]->Index() + grid.IndicatorOffset(), 0);
    return hit;
}

} // namespace querlin::grid
