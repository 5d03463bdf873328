// Fields: their kinds, text forms and values.

#include "data/Fields.h"

#include "data/FieldText.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"
#include "platform/Locale.h"
#include "platform/Utf8.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace querlin::data {

using text::kBcdOverflow;

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
    if (detached_ || owner_.DataSetState() == TDataSetState::dsInactive)
        owner_.Fail("Cannot perform this operation on a closed dataset");
    if (owner_.DataSetState() != TDataSetState::dsInsert)
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
        if (!text::ParseInteger(text, v) || text.find_first_of(".eE") != std::string::npos)
            invalid("integer value");
        writer.Int(v);
        break;
    }
    case T::ftFloat: {
        double v;
        if (!text::ParseFloat(text, platform::UserLocale().decimalSeparator, v) && !text::ParseFloat(text, ".", v))
            invalid("floating point value");
        writer.Double(v);
        break;
    }
    case T::ftBCD: {
        const std::string normal = text::WithPoint(text, platform::UserLocale().decimalSeparator);
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

} // namespace querlin::data
