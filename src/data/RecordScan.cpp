#include "data/RecordScan.h"

#include "data/DataSetImpl.h"

#include <climits>

namespace querlin::data {

TRecordScan::TRecordScan(TADOQuery& dataSet) : dataSet_(dataSet)
{
    TADOQuery::Impl& d = *dataSet_.d_;
    d.CheckOpen();
    d.CheckNotNotifying("a search");
    d.LeaveRow();
}

std::int64_t TRecordScan::RowCount() const
{
    return dataSet_.d_->LiveCount();
}

TRecordScan::Row TRecordScan::Current() const
{
    const TADOQuery::Impl& d = *dataSet_.d_;
    if (d.window.Empty())
        return {};
    const std::int64_t physical = d.window.Active().physical;
    if (physical < 0)
        return {};
    return Row{physical, d.PositionOf(physical)};
}

TRecordScan::Row TRecordScan::First() const
{
    const std::int64_t physical = dataSet_.d_->NextLive(-1);
    return physical < 0 ? Row{} : Row{physical, 0};
}

bool TRecordScan::Next(Row& row) const
{
    const std::int64_t physical = dataSet_.d_->NextLive(row.physical);
    if (physical < 0)
        return false;
    row.physical = physical;
    ++row.position;
    return true;
}

bool TRecordScan::Prior(Row& row) const
{
    const std::int64_t physical = dataSet_.d_->PriorLive(row.physical);
    if (physical < 0)
        return false;
    row.physical = physical;
    --row.position;
    return true;
}

std::string_view TRecordScan::Text(int fieldIndex, const Row& row, bool display,
                                   std::string& scratch) const
{
    return dataSet_.d_->CellText(fieldIndex, row.physical, display, scratch);
}

void TRecordScan::MoveTo(const Row& row, bool fromFirst)
{
    if (!row.Valid())
        return;
    std::int64_t from = 0;
    if (fromFirst)
        dataSet_.MoveFirst();
    else
        from = Current().position;
    // Record counts fit an int (RecordCount is one); stepping in pieces keeps
    // that true for the distance too.
    std::int64_t distance = row.position - from;
    while (distance != 0) {
        const int step = distance > INT_MAX ? INT_MAX : distance < -INT_MAX ? -INT_MAX : int(distance);
        if (dataSet_.MoveRows(step) == 0)
            break;
        distance -= step;
    }
}

} // namespace querlin::data
