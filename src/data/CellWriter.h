#pragma once
// Cells: every value that reaches a field goes through the cell writer,
// whether it comes from a provider, from SetValue or back from a stored row.
// Internal to the data layer.

#include "data/DataSet.h"
#include "data/FieldText.h"
#include "data/Snapshot.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"
#include "platform/Utf8.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace querlin::data {

// The storage slot a field kind takes in the snapshot, and the kinds whose
// values are bytes or show a type label ("(MEMO)") instead of their text.
SlotKind SlotFor(TFieldType kind, AdoType source);
bool IsBinaryKind(TFieldType kind);
bool HasTypeLabel(TFieldType kind);


class CellWriter {
public:
    CellWriter(Snapshot& store, int column, std::int64_t row, TFieldType kind, int size)
        : store_(store), column_(column), row_(row), kind_(kind), size_(size)
    {
    }

    void Null() { store_.SetNull(column_, row_); }

    void Int(std::int64_t v)
    {
        switch (store_.KindOf(column_)) {
        case SlotKind::Int32:
            if (kind_ == TFieldType::ftDate || kind_ == TFieldType::ftTime)
                return Null();
            return store_.SetInt32(column_, row_,
                                   kind_ == TFieldType::ftBoolean ? (v != 0) : static_cast<std::int32_t>(v));
        case SlotKind::Int64:
            if (kind_ == TFieldType::ftDateTime)
                return Null();
            if (kind_ == TFieldType::ftBCD) {
                const bool fits = v <= INT64_MAX / text::kBcdScale && v >= -(INT64_MAX / text::kBcdScale);
                return store_.SetInt64(column_, row_, fits ? v * text::kBcdScale : text::kBcdOverflow);
            }
            return store_.SetInt64(column_, row_, v);
        case SlotKind::Float64: return store_.SetFloat64(column_, row_, static_cast<double>(v));
        case SlotKind::Ref: return TextValue(text::FormatInteger(v));
        }
    }

    void UInt(std::uint64_t v)
    {
        if (v > static_cast<std::uint64_t>(INT64_MAX)) {
            switch (store_.KindOf(column_)) {
            case SlotKind::Int64:
                // Unsigned 64-bit columns keep the bit pattern and show it unsigned.
                if (kind_ == TFieldType::ftLargeint)
                    return store_.SetInt64(column_, row_, static_cast<std::int64_t>(v));
                if (kind_ == TFieldType::ftBCD)
                    return store_.SetInt64(column_, row_, text::kBcdOverflow);
                return Null();
            case SlotKind::Float64: return store_.SetFloat64(column_, row_, static_cast<double>(v));
            case SlotKind::Ref: return TextValue(text::FormatUnsigned(v));
            case SlotKind::Int32: return Null();
            }
        }
        Int(static_cast<std::int64_t>(v));
    }

    void Double(double v)
    {
        switch (store_.KindOf(column_)) {
        case SlotKind::Int32:
        case SlotKind::Int64:
            if (kind_ == TFieldType::ftBCD) {
                std::int64_t scaled;
                return store_.SetInt64(column_, row_, text::BcdFromDouble(v, scaled) ? scaled : text::kBcdOverflow);
            }
            if (!std::isfinite(v) || std::fabs(v) >= 9.2e18)
                return Null();
            return Int(std::llround(v));
        case SlotKind::Float64: return store_.SetFloat64(column_, row_, v);
        case SlotKind::Ref: return TextValue(text::FormatGeneral(v, "."));
        }
    }

    void Bool(bool v)
    {
        if (store_.KindOf(column_) == SlotKind::Ref)
            return TextValue(v ? "True" : "False");
        Int(v ? 1 : 0);
    }

    void Decimal(std::string_view digits)
    {
        switch (store_.KindOf(column_)) {
        case SlotKind::Int32:
        case SlotKind::Int64:
            if (kind_ == TFieldType::ftBCD) {
                std::int64_t scaled;
                return store_.SetInt64(column_, row_, text::ParseBcd(digits, scaled) ? scaled : text::kBcdOverflow);
            }
            return Text(digits);
        case SlotKind::Float64: return Text(digits);
        case SlotKind::Ref: return TextValue(digits);
        }
    }

    // Text as the provider or the user gave it; numbers and dates are read from it.
    void Text(std::string_view value)
    {
        switch (store_.KindOf(column_)) {
        case SlotKind::Ref: return TextValue(value);
        case SlotKind::Float64: {
            double v;
            if (text::ParseFloat(value, ".", v))
                return store_.SetFloat64(column_, row_, v);
            return Null();
        }
        case SlotKind::Int32:
        case SlotKind::Int64: break;
        }
        switch (kind_) {
        case TFieldType::ftBCD: {
            std::int64_t scaled;
            return store_.SetInt64(column_, row_, text::ParseBcd(value, scaled) ? scaled : text::kBcdOverflow);
        }
        case TFieldType::ftDate: {
            std::int32_t packed;
            std::int64_t stamp;
            if (text::ParseIsoDate(value, packed))
                return store_.SetInt32(column_, row_, packed);
            if (text::ParseIsoTimestamp(value, stamp))
                return store_.SetInt32(column_, row_, text::TimestampDate(stamp));
            return Null();
        }
        case TFieldType::ftTime: {
            std::int32_t packed;
            if (text::ParseIsoTime(value, packed))
                return store_.SetInt32(column_, row_, packed);
            return Null();
        }
        case TFieldType::ftDateTime: {
            std::int64_t packed;
            if (text::ParseIsoTimestamp(value, packed))
                return store_.SetInt64(column_, row_, packed);
            return Null();
        }
        case TFieldType::ftBoolean: {
            const bool yes = text::EqualNoCase(value, "true") || value == "1" || text::EqualNoCase(value, "t");
            const bool no = text::EqualNoCase(value, "false") || value == "0" || text::EqualNoCase(value, "f");
            if (yes || no)
                return store_.SetInt32(column_, row_, yes ? 1 : 0);
            return Null();
        }
        default: {
            std::int64_t v;
            if (text::ParseInteger(value, v))
                return Int(v);
            return Null();
        }
        }
    }

    void Bytes(std::string_view bytes)
    {
        if (store_.KindOf(column_) != SlotKind::Ref)
            return Null();
        if (IsBinaryKind(kind_))
            return store_.SetRef(column_, row_, bytes);
        TextValue(bytes);
    }

    void Date(const DateParts& d)
    {
        const std::int32_t packed = text::PackDate(d.year, d.month, d.day);
        switch (kind_) {
        case TFieldType::ftDate: return store_.SetInt32(column_, row_, packed);
        case TFieldType::ftDateTime: return store_.SetInt64(column_, row_, text::PackTimestamp(packed, 0));
        default:
            if (store_.KindOf(column_) == SlotKind::Ref)
                return TextValue(text::IsoDate(packed));
            return Null();
        }
    }

    void Time(const TimeParts& t)
    {
        const std::int32_t packed = text::PackTime(t.hour, t.minute, t.second, t.millisecond);
        switch (kind_) {
        case TFieldType::ftTime: return store_.SetInt32(column_, row_, packed);
        case TFieldType::ftDateTime:
            // A time alone stands on the zero date of the desktop's date arithmetic.
            return store_.SetInt64(
                column_, row_,
                text::PackTimestamp(text::PackDate(kZeroDayYear, kZeroDayMonth, kZeroDayDay), packed));
        default:
            if (store_.KindOf(column_) == SlotKind::Ref)
                return TextValue(text::IsoTime(packed));
            return Null();
        }
    }

    void Timestamp(const TimestampParts& ts)
    {
        const std::int32_t date = text::PackDate(ts.date.year, ts.date.month, ts.date.day);
        const std::int32_t time =
            text::PackTime(ts.time.hour, ts.time.minute, ts.time.second, ts.time.millisecond);
        switch (kind_) {
        case TFieldType::ftDate: return store_.SetInt32(column_, row_, date);
        case TFieldType::ftTime: return store_.SetInt32(column_, row_, time);
        case TFieldType::ftDateTime: return store_.SetInt64(column_, row_, text::PackTimestamp(date, time));
        default:
            if (store_.KindOf(column_) == SlotKind::Ref)
                return TextValue(text::IsoTimestamp(text::PackTimestamp(date, time)));
            return Null();
        }
    }

private:
    // A text value for a text, binary or variant column.
    void TextValue(std::string_view value)
    {
        if (IsBinaryKind(kind_))
            return store_.SetRef(column_, row_, value);
        std::string scratch;
        value = text::StoredText(kind_, size_, value, scratch);
        store_.SetRef(column_, row_, value);
    }

    Snapshot& store_;
    int column_;
    std::int64_t row_;
    TFieldType kind_;
    int size_;
};


} // namespace querlin::data
