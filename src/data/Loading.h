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

// What writing a field's cells needs, copied from the field, so that a
// worker fetching the rows shares nothing with the record set's fields.
struct FieldShape {
    int index = 0;
    TFieldType kind = TFieldType::ftUnknown;
    int size = 0;
};

// Writes rows into a snapshot; the thread that writes the snapshot uses it.
class Loader final : public RowSink {
public:
    Loader(Snapshot& rows, const std::vector<std::unique_ptr<FieldImpl>>& fields,
           const std::vector<int>& fieldOfColumn)
        : rows_(rows), fieldOfColumn_(fieldOfColumn)
    {
        shapes_.reserve(fields.size());
        for (const auto& f : fields)
            shapes_.push_back(FieldShape{f->Index(), f->DataType(), f->Size()});
    }

    Loader(Snapshot& rows, std::vector<FieldShape> shapes, std::vector<int> fieldOfColumn)
        : rows_(rows), shapes_(std::move(shapes)), fieldOfColumn_(std::move(fieldOfColumn))
    {
    }

    void BeginRow() override { row_ = rows_.AddRow(); }
    void Null(int) override {}
    void Int(int c, std::int64_t v) override { if (const FieldShape* f = At(c)) Writer(*f).Int(v); }
    void UInt(int c, std::uint64_t v) override { if (const FieldShape* f = At(c)) Writer(*f).UInt(v); }
    void Double(int c, double v) override { if (const FieldShape* f = At(c)) Writer(*f).Double(v); }
    void Bool(int c, bool v) override { if (const FieldShape* f = At(c)) Writer(*f).Bool(v); }
    void Text(int c, std::string_view v) override { if (const FieldShape* f = At(c)) Writer(*f).Text(v); }
    void Bytes(int c, std::string_view v) override { if (const FieldShape* f = At(c)) Writer(*f).Bytes(v); }
    void Decimal(int c, std::string_view v) override { if (const FieldShape* f = At(c)) Writer(*f).Decimal(v); }
    void Date(int c, const DateParts& v) override { if (const FieldShape* f = At(c)) Writer(*f).Date(v); }
    void Time(int c, const TimeParts& v) override { if (const FieldShape* f = At(c)) Writer(*f).Time(v); }
    void Timestamp(int c, const TimestampParts& v) override
    {
        if (const FieldShape* f = At(c))
            Writer(*f).Timestamp(v);
    }
    void EndRow() override {}

private:
    const FieldShape* At(int column) const
    {
        if (column < 0 || static_cast<std::size_t>(column) >= fieldOfColumn_.size())
            return nullptr;
        const int field = fieldOfColumn_[static_cast<std::size_t>(column)];
        return field < 0 ? nullptr : &shapes_[static_cast<std::size_t>(field)];
    }
    CellWriter Writer(const FieldShape& f) { return CellWriter(rows_, f.index, row_, f.kind, f.size); }

    Snapshot& rows_;
    std::vector<FieldShape> shapes_;
    std::vector<int> fieldOfColumn_;
    std::int64_t row_ = -1;
};

std::unique_ptr<Snapshot> EmptySnapshotFor(const std::vector<std::unique_ptr<FieldImpl>>& fields);

// Rows asked of the provider at a time.
inline constexpr std::size_t kFetchBlock = 1024;

} // namespace querlin::data
