#pragma once
// Loading a result into a record set's snapshot: the fields planned from the
// provider's columns, the rows written cell by cell. Internal to the data
// layer.

#include "data/Fields.h"
#include "data/Provider.h"
#include "data/Snapshot.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace querlin::data {

// Builds the fields of a result: names made unique, unsupported columns left out.
struct FieldPlan {
    std::vector<int> fieldOfColumn;  // provider column -> field index, -1 when left out
    std::vector<std::string> names;
    std::vector<TFieldType> kinds;
    std::vector<int> columns;        // field index -> provider column
};

FieldPlan PlanFields(const std::vector<ColumnInfo>& columns);

class Loader final : public RowSink {
public:
    Loader(Snapshot& rows, const std::vector<std::unique_ptr<FieldImpl>>& fields,
           const std::vector<int>& fieldOfColumn)
        : rows_(rows), fields_(fields), fieldOfColumn_(fieldOfColumn)
    {
    }

    void BeginRow() override { row_ = rows_.AddRow(); }
    void Null(int) override {}
    void Int(int c, std::int64_t v) override { if (FieldImpl* f = At(c)) f->Writer(rows_, row_).Int(v); }
    void UInt(int c, std::uint64_t v) override { if (FieldImpl* f = At(c)) f->Writer(rows_, row_).UInt(v); }
    void Double(int c, double v) override { if (FieldImpl* f = At(c)) f->Writer(rows_, row_).Double(v); }
    void Bool(int c, bool v) override { if (FieldImpl* f = At(c)) f->Writer(rows_, row_).Bool(v); }
    void Text(int c, std::string_view v) override { if (FieldImpl* f = At(c)) f->Writer(rows_, row_).Text(v); }
    void Bytes(int c, std::string_view v) override { if (FieldImpl* f = At(c)) f->Writer(rows_, row_).Bytes(v); }
    void Decimal(int c, std::string_view v) override { if (FieldImpl* f = At(c)) f->Writer(rows_, row_).Decimal(v); }
    void Date(int c, const DateParts& v) override { if (FieldImpl* f = At(c)) f->Writer(rows_, row_).Date(v); }
    void Time(int c, const TimeParts& v) override { if (FieldImpl* f = At(c)) f->Writer(rows_, row_).Time(v); }
    void Timestamp(int c, const TimestampParts& v) override
    {
        if (FieldImpl* f = At(c))
            f->Writer(rows_, row_).Timestamp(v);
    }
    void EndRow() override {}

private:
    FieldImpl* At(int column) const
    {
        if (column < 0 || static_cast<std::size_t>(column) >= fieldOfColumn_.size())
            return nullptr;
        const int field = fieldOfColumn_[static_cast<std::size_t>(column)];
        return field < 0 ? nullptr : fields_[static_cast<std::size_t>(field)].get();
    }

    Snapshot& rows_;
    const std::vector<std::unique_ptr<FieldImpl>>& fields_;
    const std::vector<int>& fieldOfColumn_;
    std::int64_t row_ = -1;
};

std::unique_ptr<Snapshot> EmptySnapshotFor(const std::vector<std::unique_ptr<FieldImpl>>& fields);

// Rows asked of the provider at a time.
inline constexpr std::size_t kFetchBlock = 1024;

} // namespace querlin::data
