#include "grid/GridDataLink.h"

#include "grid/TDataGrid.h"
#include "platform/Error.h"

namespace querlin::grid {

using data::TField;

namespace {

// 0x0FFFFFFF: the most entries a field map of 32-bit indexes may hold, an
// eighth of the signed range, so that its byte size (4 bytes each, doubled as
// the vector grows) can never overflow a signed 32-bit size. The message
// speaks of 256 columns because no screen shows more; no table this program
// reads comes anywhere near the limit, so the guard only stops a runaway.
constexpr std::size_t kMaxMappedFields = 268435455;

} // namespace

// ---------------------------------------------------------------- TGridDataLink

TField* TGridDataLink::Fields(int position) const
{
    if (position < 0 || position >= int(fieldMap_.size()) || !Active())
        return nullptr;
    int index = fieldMap_[std::size_t(position)];
    data::TADOQuery* dataSet = DataSet();
    if (index < 0 || !dataSet || index >= dataSet->FieldCount())
        return nullptr;
    return &dataSet->FieldAt(index);
}

void TGridDataLink::ClearMapping()
{
    fieldMap_.clear();
    // Room for 8 at the start; the vector doubles as it fills.
    fieldMap_.reserve(8);
}

void TGridDataLink::AddMapping(int fieldIndex)
{
    if (fieldMap_.size() >= kMaxMappedFields)
        throw Error("Grid requested to display more than 256 columns");
    fieldMap_.push_back(fieldIndex);
}

void TGridDataLink::MoveMapping(int from, int to)
{
    if (from < 0 || to < 0 || from >= int(fieldMap_.size()) || to >= int(fieldMap_.size()))
        return;
    int field = fieldMap_[std::size_t(from)];
    fieldMap_.erase(fieldMap_.begin() + from);
    fieldMap_.insert(fieldMap_.begin() + to, field);
}

void TGridDataLink::ActiveChanged() { listener_.LinkActiveChanged(); }
void TGridDataLink::EditingChanged() { listener_.LinkEditingChanged(); }
void TGridDataLink::DataSetChanged() { listener_.LinkDataChanged(); }
void TGridDataLink::DataSetScrolled(int distance) { listener_.LinkScrolled(distance); }
void TGridDataLink::RecordChanged(TField* field) { listener_.LinkRecordChanged(field); }
void TGridDataLink::LayoutChanged() { listener_.LinkLayoutChanged(); }

} // namespace querlin::grid
