// Record sets: opening a query into a snapshot, fields and their text forms,
// storing and deleting rows. The row window and the links are in
// RowWindow.cpp.

#include "data/DataSet.h"
#include "data/DataSetImpl.h"
#include "data/FieldText.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"
#include "platform/Locale.h"
#include "platform/Utf8.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace querlin::data {

using text::kBcdOverflow;

namespace {

SlotKind SlotFor(TFieldType kind, AdoType source)
{
    using T = TFieldType;
    switch (kind) {
    case T::ftSmallint:
    case T::ftWord:
    case T::ftBoolean:
    case T::ftDate:
    case T::ftTime: return SlotKind::Int32;
    case T::ftInteger:
    case T::ftAutoInc:
        // Unsigned 32-bit values do not fit a signed 32-bit slot.
        return source == AdoType::UnsignedInt ? SlotKind::Int64 : SlotKind::Int32;
    case T::ftLargeint:
    case T::ftBCD:
    case T::ftDateTime: return SlotKind::Int64;
    case T::ftFloat: return SlotKind::Float64;
    default: return SlotKind::Ref;
    }
}

bool IsBinaryKind(TFieldType kind)
{
    return kind == TFieldType::ftBytes || kind == TFieldType::ftVarBytes ||
           kind == TFieldType::ftBlob;
}

bool HasTypeLabel(TFieldType kind)
{
    return kind == TFieldType::ftMemo || IsBinaryKind(kind);
}

bool ParseInteger(std::string_view text, std::int64_t& value)
{
    text = platform::Trim(text, platform::kSpaceAndTab);
    std::size_t i = 0;
    const std::size_t end = text.size();
    if (i == end)
        return false;
    // Whole numbers written as decimals ("12.0", "12.5") round like the source would.
    for (std::size_t k = i; k < end; ++k) {
        if (text[k] == '.' || text[k] == 'e' || text[k] == 'E') {
            std::int64_t scaled;
            if (!text::ParseBcd(text.substr(i, end - i), scaled))
                return false;
            const std::int64_t whole = scaled / text::kBcdScale;
            const std::int64_t rest = scaled % text::kBcdScale;
            value = whole + (rest >= 5000 ? 1 : rest <= -5000 ? -1 : 0);
            return true;
        }
    }
    bool negative = false;
    if (text[i] == '-' || text[i] == '+') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == end)
        return false;
    // Up to 2^63 (the magnitude of the smallest value), checked before each
    // step so 64 bits suffice (no 128-bit type on 32-bit targets).
    const std::uint64_t limit = static_cast<std::uint64_t>(INT64_MAX) + 1;
    std::uint64_t magnitude = 0;
    for (; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (magnitude > (limit - digit) / 10)
            return false;
        magnitude = magnitude * 10 + digit;
    }
    if (!negative && magnitude > static_cast<std::uint64_t>(INT64_MAX))
        return false;
    value = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

// The text with the locale's decimal separator turned into a point.
std::string WithPoint(std::string_view text, const std::string& separator)
{
    const std::size_t at = separator == "." || separator.empty() ? std::string_view::npos : text.find(separator);
    std::string out;
    out.reserve(text.size());
    if (at == std::string_view::npos) {
        out.append(text);
    } else {
        out.append(text.substr(0, at));
        out.push_back('.');
        out.append(text.substr(at + separator.size()));
    }
    return out;
}

bool ParseFloat(std::string_view text, const std::string& separator, double& value)
{
    std::string copy = WithPoint(text, separator);
    while (!copy.empty() && copy.back() == ' ')
        copy.pop_back();
    std::size_t start = 0;
    while (start < copy.size() && copy[start] == ' ')
        ++start;
    if (start == copy.size())
        return false;
    char* stop = nullptr;
    value = std::strtod(copy.c_str() + start, &stop);
    return stop == copy.c_str() + copy.size();
}

} // namespace

// ---------------------------------------------------------------------------
// Cells: every value that reaches a field goes through these, whether it
// comes from a provider, from SetValue or back from a stored row.

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
                return store_.SetInt64(column_, row_, fits ? v * text::kBcdScale : kBcdOverflow);
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
                    return store_.SetInt64(column_, row_, kBcdOverflow);
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
                return store_.SetInt64(column_, row_, text::BcdFromDouble(v, scaled) ? scaled : kBcdOverflow);
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
                return store_.SetInt64(column_, row_, text::ParseBcd(digits, scaled) ? scaled : kBcdOverflow);
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
            if (ParseFloat(value, ".", v))
                return store_.SetFloat64(column_, row_, v);
            return Null();
        }
        case SlotKind::Int32:
        case SlotKind::Int64: break;
        }
        switch (kind_) {
        case TFieldType::ftBCD: {
            std::int64_t scaled;
            return store_.SetInt64(column_, row_, text::ParseBcd(value, scaled) ? scaled : kBcdOverflow);
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
            if (ParseInteger(value, v))
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
                text::PackTimestamp(text::PackDate(text::kZeroDayYear, text::kZeroDayMonth, text::kZeroDayDay), packed));
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

// ---------------------------------------------------------------------------
// Fields

class FieldImpl final : public TField {
public:
    FieldImpl(TADOQuery::Impl& owner, int index, std::string name, TFieldType kind,
              const ColumnInfo& column)
        : owner_(owner), index_(index), name_(std::move(name)), kind_(kind), column_(column),
          slot_(SlotFor(kind, column.type)), size_(text::SizeFor(kind, column)),
          precision_(text::PrecisionFor(kind, column)),
          displayWidth_(text::DefaultDisplayWidth(kind, size_, precision_)),
          readOnly_(kind == TFieldType::ftAutoInc || !column.updatable),
          unsignedValues_(column.type == AdoType::UnsignedBigInt)
    {
    }

    const std::string& FieldName() const override { return name_; }
    TFieldType DataType() const override { return kind_; }
    int Index() const override { return index_; }
    int Size() const override { return size_; }
    int Precision() const override { return precision_; }
    int DisplayWidth() const override { return displayWidth_; }
    void SetDisplayWidth(int width) override
    {
        if (width == displayWidth_)
            return;
        displayWidth_ = width;
        if (owner_.state != TDataSetState::dsInactive && !detached_)
            owner_.Notify(LinkEvent::LayoutChange);
    }
    const std::string& DisplayLabel() const override { return name_; }
    TAlignment Alignment() const override { return text::AlignmentFor(kind_); }
    bool ReadOnly() const override { return readOnly_; }
    bool Visible() const override { return true; }
    bool IsNull() const override
    {
        const Snapshot* store;
        std::int64_t row;
        return detached_ || !owner_.ActiveCell(store, row) || store->IsNull(index_, row);
    }
    std::string DisplayText() const override { return Text(true); }
    std::string PlainText() const override { return Text(false); }
    void SetValue(const std::string& value) override;
    TADOQuery& DataSet() const override { return owner_.self; }

    SlotKind Slot() const { return slot_; }
    const ColumnInfo& Column() const { return column_; }
    const std::string& BaseColumn() const { return column_.baseColumn.empty() ? name_ : column_.baseColumn; }
    void Detach() { detached_ = true; }
    CellWriter Writer(Snapshot& store, std::int64_t row) const
    {
        return CellWriter(store, index_, row, kind_, size_);
    }
    ParamValue ToParam(const Snapshot& store, std::int64_t row) const;

    // The text of the cell at a row of a snapshot, without the active row:
    // a view of the stored bytes where the text is the value itself, else
    // of `scratch`.
    std::string_view TextAt(const Snapshot& store, std::int64_t row, bool display,
                            std::string& scratch) const;

private:
    std::string Text(bool display) const;

    TADOQuery::Impl& owner_;
    int index_;
    std::string name_;
    TFieldType kind_;
    ColumnInfo column_;
    SlotKind slot_;
    int size_;
    int precision_;
    int displayWidth_;
    bool readOnly_;
    bool unsignedValues_;
    bool detached_ = false;  // the record set closed while someone still held this field
};

std::string FieldImpl::Text(bool display) const
{
    const Snapshot* store;
    std::int64_t row;
    if (detached_ || !owner_.ActiveCell(store, row))
        return display && HasTypeLabel(kind_) ? text::TypeLabel(kind_, true) : std::string();
    std::string scratch;
    std::string_view text = TextAt(*store, row, display, scratch);
    if (text.data() != scratch.data())
        return std::string(text);
    scratch.resize(text.size());  // the view starts the scratch, which may hold more
    return scratch;
}

std::string_view FieldImpl::TextAt(const Snapshot& store, std::int64_t row, bool display,
                                   std::string& scratch) const
{
    using T = TFieldType;
    if (store.IsNull(index_, row)) {
        if (display && HasTypeLabel(kind_)) {
            scratch = text::TypeLabel(kind_, true);
            return scratch;
        }
        return {};
    }
    const platform::LocaleSettings& locale = platform::UserLocale();
    auto put = [&scratch](std::string formed) -> std::string_view {
        scratch.assign(formed);  // keeps the scratch's own buffer
        return scratch;
    };
    switch (kind_) {
    case T::ftSmallint:
    case T::ftWord:
    case T::ftInteger:
    case T::ftAutoInc:
    case T::ftLargeint: {
        // Written in place: a search reads numbers of every row.
        const std::int64_t v = slot_ == SlotKind::Int32 ? store.Int32(index_, row) : store.Int64(index_, row);
        if (scratch.size() < 24)
            scratch.resize(24);
        char* begin = scratch.data();
        std::to_chars_result r = unsignedValues_
                                     ? std::to_chars(begin, begin + 24, static_cast<std::uint64_t>(v))
                                     : std::to_chars(begin, begin + 24, v);
        return std::string_view(begin, std::size_t(r.ptr - begin));
    }
    case T::ftFloat: return put(text::FormatGeneral(store.Float64(index_, row), locale.decimalSeparator));
    case T::ftBCD: {
        const std::int64_t v = store.Int64(index_, row);
        if (v == kBcdOverflow) {
            if (display)
                return "BCD overflow";
            owner_.Fail("BCD overflow");
        }
        return put(text::FormatBcd(v, locale.decimalSeparator));
    }
    case T::ftBoolean: return store.Int32(index_, row) ? "True" : "False";
    case T::ftDate: return put(text::FormatDate(store.Int32(index_, row), locale));
    case T::ftTime: return put(text::FormatTime(store.Int32(index_, row), locale));
    case T::ftDateTime: return put(text::FormatTimestamp(store.Int64(index_, row), locale));
    case T::ftMemo:
        if (display)
            return "(MEMO)";
        return store.Ref(index_, row);
    case T::ftBlob:
    case T::ftBytes:
    case T::ftVarBytes:
        if (display)
            return put(text::TypeLabel(kind_, false));
        return put(text::BytesToText(store.Ref(index_, row)));
    default: return store.Ref(index_, row);
    }
}

std::string_view TADOQuery::Impl::CellText(int field, std::int64_t physical, bool display,
                                           std::string& scratch) const
{
    return fields[static_cast<std::size_t>(field)]->TextAt(*rows, physical, display, scratch);
}

ParamValue FieldImpl::ToParam(const Snapshot& store, std::int64_t row) const
{
    using T = TFieldType;
    ParamValue p;
    if (store.IsNull(index_, row))
        return p;
    auto asText = [&](std::string s) {
        p.kind = ParamValue::Kind::Text;
        p.text = std::move(s);
        return p;
    };
    switch (kind_) {
    case T::ftDate: return asText(text::IsoDate(store.Int32(index_, row)));
    case T::ftTime: return asText(text::IsoTime(store.Int32(index_, row)));
    case T::ftDateTime: return asText(text::IsoTimestamp(store.Int64(index_, row)));
    case T::ftBCD: {
        const std::int64_t v = store.Int64(index_, row);
        if (v == kBcdOverflow)
            owner_.Fail("BCD overflow");
        return asText(text::BcdToDecimalText(v));
    }
    case T::ftFloat:
        p.kind = ParamValue::Kind::Double;
        p.doubleValue = store.Float64(index_, row);
        return p;
    default: break;
    }
    switch (slot_) {
    case SlotKind::Int32:
        p.kind = ParamValue::Kind::Int;
        p.intValue = store.Int32(index_, row);
        return p;
    case SlotKind::Int64: {
        const std::int64_t v = store.Int64(index_, row);
        if (unsignedValues_ && v < 0)
            return asText(text::FormatUnsigned(static_cast<std::uint64_t>(v)));
        p.kind = ParamValue::Kind::Int;
        p.intValue = v;
        return p;
    }
    case SlotKind::Float64:
        p.kind = ParamValue::Kind::Double;
        p.doubleValue = store.Float64(index_, row);
        return p;
    case SlotKind::Ref:
        p.kind = IsBinaryKind(kind_) ? ParamValue::Kind::Bytes : ParamValue::Kind::Text;
        p.text = std::string(store.Ref(index_, row));
        return p;
    }
    return p;
}

void FieldImpl::SetValue(const std::string& value)
{
    using T = TFieldType;
    if (detached_ || owner_.state == TDataSetState::dsInactive)
        owner_.Fail("Cannot perform this operation on a closed dataset");
    if (owner_.state != TDataSetState::dsInsert)
        owner_.Fail("Dataset not in edit or insert mode");
    if (readOnly_)
        owner_.Fail("Field '" + name_ + "' cannot be modified");

    Snapshot& store = *owner_.pending;
    CellWriter writer = Writer(store, 0);
    std::string text = platform::RepairUtf8(value, platform::Utf8Repair::EachByte);
    const auto invalid = [&](const char* what) {
        owner_.Fail("'" + text + "' is not a valid " + what);
    };
    switch (kind_) {
    case T::ftString:
    case T::ftFixedChar:
    case T::ftGuid:
    case T::ftWideString: store.SetRef(index_, 0, text::AssignedText(kind_, size_, text)); break;
    case T::ftMemo:
    case T::ftVariant: store.SetRef(index_, 0, text); break;
    case T::ftBlob:
    case T::ftBytes:
    case T::ftVarBytes: store.SetRef(index_, 0, text::TextToBytes(text)); break;
    case T::ftSmallint:
    case T::ftWord:
    case T::ftInteger:
    case T::ftAutoInc:
    case T::ftLargeint: {
        std::int64_t v;
        if (!ParseInteger(text, v) || text.find_first_of(".eE") != std::string::npos)
            invalid("integer value");
        writer.Int(v);
        break;
    }
    case T::ftFloat: {
        double v;
        if (!ParseFloat(text, platform::UserLocale().decimalSeparator, v) && !ParseFloat(text, ".", v))
            invalid("floating point value");
        writer.Double(v);
        break;
    }
    case T::ftBCD: {
        const std::string normal = WithPoint(text, platform::UserLocale().decimalSeparator);
        std::int64_t scaled;
        if (!text::ParseBcd(normal, scaled))
            invalid("BCD value");
        store.SetInt64(index_, 0, scaled);
        break;
    }
    case T::ftBoolean: {
        if (text::EqualNoCase(text, "true"))
            store.SetInt32(index_, 0, 1);
        else if (text::EqualNoCase(text, "false"))
            store.SetInt32(index_, 0, 0);
        else
            invalid("boolean value");
        break;
    }
    case T::ftDate: {
        std::int32_t packed;
        if (!text::ParseIsoDate(text, packed))
            invalid("date");
        store.SetInt32(index_, 0, packed);
        break;
    }
    case T::ftTime: {
        std::int32_t packed;
        if (!text::ParseIsoTime(text, packed))
            invalid("time");
        store.SetInt32(index_, 0, packed);
        break;
    }
    case T::ftDateTime: {
        std::int64_t packed;
        if (!text::ParseIsoTimestamp(text, packed))
            invalid("date and time");
        store.SetInt64(index_, 0, packed);
        break;
    }
    case T::ftUnknown: break;
    }
    owner_.pendingAssigned[static_cast<std::size_t>(index_)] = true;
    owner_.pendingModified = true;
    owner_.NotifyRecordChange(this);
}

// ---------------------------------------------------------------------------
// Loading a result

namespace {

// Builds the fields of a result: names made unique, unsupported columns left out.
struct FieldPlan {
    std::vector<int> fieldOfColumn;  // provider column -> field index, -1 when left out
    std::vector<std::string> names;
    std::vector<TFieldType> kinds;
    std::vector<int> columns;        // field index -> provider column
};

FieldPlan PlanFields(const std::vector<ColumnInfo>& columns)
{
    FieldPlan plan;
    auto taken = [&](const std::string& name) {
        for (const std::string& n : plan.names) {
            if (text::EqualNoCase(n, name))
                return true;
        }
        return false;
    };
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const TFieldType kind = text::KindFor(columns[c]);
        if (kind == TFieldType::ftUnknown) {
            plan.fieldOfColumn.push_back(-1);
            continue;
        }
        std::string name = columns[c].name;
        if (name.empty() || taken(name)) {
            char buffer[32];
            for (int counter = 1;; ++counter) {
                std::string candidate;
                if (name.empty()) {
                    std::snprintf(buffer, sizeof buffer, "COLUMN%d", counter);
                    candidate = buffer;
                } else {
                    std::snprintf(buffer, sizeof buffer, "_%d", counter);
                    candidate = name + buffer;
                }
                if (!taken(candidate)) {
                    name = candidate;
                    break;
                }
            }
        }
        plan.fieldOfColumn.push_back(static_cast<int>(plan.names.size()));
        plan.names.push_back(name);
        plan.kinds.push_back(kind);
        plan.columns.push_back(static_cast<int>(c));
    }
    return plan;
}

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

std::unique_ptr<Snapshot> EmptySnapshotFor(const std::vector<std::unique_ptr<FieldImpl>>& fields)
{
    std::vector<SlotKind> slots;
    slots.reserve(fields.size());
    for (const auto& f : fields)
        slots.push_back(f->Slot());
    return std::make_unique<Snapshot>(std::move(slots));
}

constexpr std::size_t kFetchBlock = 1024;

} // namespace

// ---------------------------------------------------------------------------
// TADOQuery::Impl helpers

TADOQuery::Impl::Impl(TADOQuery& owner) : self(owner) {}
TADOQuery::Impl::~Impl() = default;

void TADOQuery::Impl::Fail(const std::string& message) const
{
    throw Error(Prefixed(message));
}

void TADOQuery::Impl::CheckOpen() const
{
    if (state == TDataSetState::dsInactive)
        Fail("Cannot perform this operation on a closed dataset");
}

void TADOQuery::Impl::CheckNotNotifying(const char* operation) const
{
#ifndef NDEBUG
    if (notifying > 0) {
        std::fprintf(stderr,
                     "querlin: %s called on record set '%s' while a link handled a notification\n",
                     operation, name.c_str());
        std::abort();
    }
#else
    (void)operation;
#endif
}

std::int64_t TADOQuery::Impl::LiveCount() const
{
    return rows ? rows->RowCount() - static_cast<std::int64_t>(deleted.size()) : 0;
}

bool TADOQuery::Impl::IsDeleted(std::int64_t physical) const
{
    return !deleted.empty() && std::binary_search(deleted.begin(), deleted.end(), physical);
}

std::int64_t TADOQuery::Impl::NextLive(std::int64_t physical) const
{
    if (!rows)
        return -1;
    for (std::int64_t p = physical + 1; p < rows->RowCount(); ++p) {
        if (!IsDeleted(p))
            return p;
    }
    return -1;
}

std::int64_t TADOQuery::Impl::PriorLive(std::int64_t physical) const
{
    if (!rows)
        return -1;
    for (std::int64_t p = std::min(physical, rows->RowCount()) - 1; p >= 0; --p) {
        if (!IsDeleted(p))
            return p;
    }
    return -1;
}

std::int64_t TADOQuery::Impl::PhysicalAt(std::int64_t position) const
{
    std::int64_t physical = position;
    for (std::int64_t d : deleted) {
        if (d <= physical)
            ++physical;
        else
            break;
    }
    return rows && physical < rows->RowCount() ? physical : -1;
}

std::int64_t TADOQuery::Impl::PositionOf(std::int64_t physical) const
{
    return physical - (std::lower_bound(deleted.begin(), deleted.end(), physical) - deleted.begin());
}

bool TADOQuery::Impl::ActiveCell(const Snapshot*& store, std::int64_t& row) const
{
    if (state == TDataSetState::dsInactive || window.empty())
        return false;
    const HeldRow& held = window[static_cast<std::size_t>(activeIndex)];
    if (held.physical < 0) {
        if (!pending)
            return false;
        store = pending.get();
        row = 0;
    } else {
        store = rows.get();
        row = held.physical;
    }
    return true;
}

void TADOQuery::Impl::NewPending()
{
    pending = EmptySnapshotFor(fields);
    pending->AddRow();
    pendingAssigned.assign(fields.size(), false);
    pendingModified = false;
}

void TADOQuery::Impl::DropPending()
{
    pending.reset();
    pendingAssigned.clear();
    pendingModified = false;
}

namespace {

// The table that stored and deleted rows go to: the first base table named.
std::string BaseTableOf(const std::vector<std::unique_ptr<FieldImpl>>& fields)
{
    for (const auto& f : fields) {
        if (!f->Column().baseTable.empty())
            return f->Column().baseTable;
    }
    return {};
}

const char* const kNoBaseTable = "Insufficient base table information for updating or refreshing.";

} // namespace

std::int64_t TADOQuery::Impl::StorePending()
{
    const std::string table = BaseTableOf(fields);
    if (table.empty() || !connection)
        throw Error(kNoBaseTable);
    std::vector<NamedValue> values;
    for (const auto& f : fields) {
        if (!pendingAssigned[static_cast<std::size_t>(f->Index())] || f->ReadOnly())
            continue;
        if (!f->Column().baseTable.empty() && f->Column().baseTable != table)
            continue;
        values.push_back(NamedValue{f->BaseColumn(), f->ToParam(*pending, 0)});
    }
    // Throws the provider's own text; the row stays pending.
    const std::vector<NamedValue> assigned = connection->InsertRow(table, values);

    const std::int64_t physical = rows->AddRow();
    rows->CopyRow(*pending, 0, physical);
    for (const NamedValue& v : assigned) {
        for (const auto& f : fields) {
            if (!text::EqualNoCase(f->BaseColumn(), v.column))
                continue;
            CellWriter writer = f->Writer(*rows, physical);
            switch (v.value.kind) {
            case ParamValue::Kind::Null: writer.Null(); break;
            case ParamValue::Kind::Int: writer.Int(v.value.intValue); break;
            case ParamValue::Kind::Double: writer.Double(v.value.doubleValue); break;
            case ParamValue::Kind::Text: writer.Text(v.value.text); break;
            case ParamValue::Kind::Bytes: writer.Bytes(v.value.text); break;
            }
        }
    }
    DropPending();
    return physical;
}

void TADOQuery::Impl::DeleteCurrent()
{
    const HeldRow held = window[static_cast<std::size_t>(activeIndex)];
    const std::string table = BaseTableOf(fields);
    if (table.empty() || !connection)
        throw Error(kNoBaseTable);
    // The key singles the row out, unless a key value is missing: a source
    // that does not tell the numbers it assigned leaves them empty in rows
    // stored through this set. Then every comparable value is matched, and
    // the missing ones are left out rather than matched as null.
    bool keyUsable = false;
    for (const auto& f : fields) {
        if (!f->Column().isKey)
            continue;
        keyUsable = true;
        if (rows->IsNull(f->Index(), held.physical)) {
            keyUsable = false;
            break;
        }
    }
    std::vector<NamedValue> match;
    for (const auto& f : fields) {
        if (!f->Column().baseTable.empty() && f->Column().baseTable != table)
            continue;
        const TFieldType kind = f->DataType();
        if (keyUsable) {
            if (!f->Column().isKey)
                continue;
        } else {
            if (kind == TFieldType::ftMemo || IsBinaryKind(kind) || kind == TFieldType::ftFloat)
                continue;
            if ((f->Column().isKey || f->ReadOnly()) && rows->IsNull(f->Index(), held.physical))
                continue;
        }
        match.push_back(NamedValue{f->BaseColumn(), f->ToParam(*rows, held.physical)});
    }
    // Throws the provider's own text; the row stays.
    connection->DeleteRow(table, match);
    deleted.insert(std::upper_bound(deleted.begin(), deleted.end(), held.physical), held.physical);
}

// ---------------------------------------------------------------------------
// TADOQuery

TADOQuery::TADOQuery(std::string name) : d_(std::make_unique<Impl>(*this))
{
    d_->name = std::move(name);
}

TADOQuery::~TADOQuery()
{
    try {
        Close();
    } catch (...) {
        // A link that fails while being told of the close cannot stop destruction.
    }
    for (TDataSource* source : d_->sources) {
        source->d_->dataSet = nullptr;
        for (TDataLink* link : source->d_->links) {
            link->d_->active = false;
            link->d_->editing = false;
        }
    }
}

const std::string& TADOQuery::Name() const { return d_->name; }
const std::string& TADOQuery::ConnectionString() const { return d_->connectionString; }

void TADOQuery::SetConnectionString(const std::string& text)
{
    if (text == d_->connectionString)
        return;
    if (d_->state != TDataSetState::dsInactive)
        d_->Fail("Cannot perform this operation on an open dataset");
    d_->connectionString = text;
}

const std::string& TADOQuery::SQL() const { return d_->sql; }

void TADOQuery::SetSQL(const std::string& text)
{
    Close();
    d_->sql = text;
}

TDataSetState TADOQuery::State() const { return d_->state; }
bool TADOQuery::Active() const { return d_->state != TDataSetState::dsInactive; }

void TADOQuery::Open()
{
    Impl& d = *d_;
    if (d.state != TDataSetState::dsInactive)
        return;
    d.CheckNotNotifying("Open");
    if (d.sql.empty())
        d.Fail("Missing SQL property");
    std::unique_ptr<Connection> connection;
    try {
        connection = Connect(d.connectionString);
        std::unique_ptr<ResultReader> reader = connection->Query(d.sql);
        if (!reader)
            throw Error("CommandText does not return a result set");
        const std::vector<ColumnInfo>& columns = reader->Columns();
        FieldPlan plan = PlanFields(columns);
        for (std::size_t i = 0; i < plan.names.size(); ++i) {
            d.fields.push_back(std::make_unique<FieldImpl>(
                d, static_cast<int>(i), plan.names[i], plan.kinds[i],
                columns[static_cast<std::size_t>(plan.columns[i])]));
        }
        d.rows = EmptySnapshotFor(d.fields);
        Loader loader(*d.rows, d.fields, plan.fieldOfColumn);
        while (reader->Read(loader, kFetchBlock) > 0) {
        }
    } catch (const std::bad_alloc&) {
        d.fields.clear();
        d.rows.reset();
        d.Fail("Out of memory");
    } catch (const std::exception& e) {
        // A failed open leaves no fields and no rows behind.
        d.fields.clear();
        d.rows.reset();
        d.Fail(e.what());
    }
    d.connection = std::move(connection);
    d.deleted.clear();
    d.state = TDataSetState::dsBrowse;
    d.windowSize = d.DesiredWindowSize();
    d.FillFromStart();
    d.UpdateLinkStates();
}

void TADOQuery::Close()
{
    Impl& d = *d_;
    if (d.state == TDataSetState::dsInactive)
        return;
    d.CheckNotNotifying("Close");
    // Links hear of the close while the old fields still exist (they may
    // hold pointers to them); the fields go right after.
    std::vector<std::unique_ptr<FieldImpl>> closing = std::move(d.fields);
    d.fields.clear();
    for (auto& f : closing)
        f->Detach();
    d.state = TDataSetState::dsInactive;
    d.window.clear();
    d.activeIndex = 0;
    d.atStart = d.atEnd = false;
    d.DropPending();
    d.rows.reset();
    d.deleted.clear();
    d.connection.reset();
    d.UpdateLinkStates();
}

TField& TADOQuery::FieldNamed(const std::string& name) const
{
    if (TField* f = FindField(name))
        return *f;
    d_->Fail("Field '" + name + "' not found");
}

TField* TADOQuery::FindField(const std::string& name) const
{
    for (const auto& f : d_->fields) {
        if (text::EqualNoCase(f->FieldName(), name))
            return f.get();
    }
    return nullptr;
}

void TADOQuery::FieldNames(std::vector<std::string>& list)
{
    Impl& d = *d_;
    if (d.state != TDataSetState::dsInactive) {
        list.clear();
        for (const auto& f : d.fields)
            list.push_back(f->FieldName());
        return;
    }
    if (d.sql.empty())
        d.Fail("Missing SQL property");
    FieldPlan plan;
    try {
        // Only the columns are wanted: no row is fetched, the set stays closed.
        std::unique_ptr<Connection> connection = Connect(d.connectionString);
        std::unique_ptr<ResultReader> reader = connection->Query(d.sql);
        if (!reader)
            throw Error("CommandText does not return a result set");
        plan = PlanFields(reader->Columns());
    } catch (const std::exception& e) {
        d.Fail(e.what());
    }
    list = std::move(plan.names);
}

int TADOQuery::FieldCount() const { return static_cast<int>(d_->fields.size()); }

TField& TADOQuery::FieldAt(int index) const
{
    if (index < 0 || index >= FieldCount())
        d_->Fail("List index out of bounds (" + std::to_string(index) + ")");
    return *d_->fields[static_cast<std::size_t>(index)];
}

std::int64_t TADOQuery::Execute()
{
    Impl& d = *d_;
    if (d.sql.empty())
        d.Fail("Missing SQL property");
    try {
        std::unique_ptr<Connection> connection = Connect(d.connectionString);
        return connection->Execute(d.sql);
    } catch (const std::exception& e) {
        d.Fail(e.what());
    }
}

// ---------------------------------------------------------------------------
// TADOConnection

struct TADOConnection::Impl {
    std::string connectionString;
    std::unique_ptr<Connection> connection;
};

TADOConnection::TADOConnection() : d_(std::make_unique<Impl>()) {}
TADOConnection::~TADOConnection() = default;

const std::string& TADOConnection::ConnectionString() const { return d_->connectionString; }

void TADOConnection::SetConnectionString(const std::string& text)
{
    if (text == d_->connectionString)
        return;
    // A new data source: the next use connects to it.
    d_->connection.reset();
    d_->connectionString = text;
}

bool TADOConnection::Connected() const { return d_->connection != nullptr; }

void TADOConnection::TableNames(std::vector<std::string>& list, bool systemTables)
{
    if (!d_->connection)
        d_->connection = Connect(d_->connectionString);
    const std::vector<CatalogEntry> entries = d_->connection->Tables();
    list.clear();
    for (const CatalogEntry& e : entries) {
        if (e.type == "TABLE" || e.type == "VIEW" || (systemTables && e.type == "SYSTEM TABLE"))
            list.push_back(e.name);
    }
}

} // namespace querlin::data
