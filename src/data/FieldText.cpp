#include "data/FieldText.h"

#include "platform/AsciiText.h"
#include "platform/LetterCase.h"
#include "platform/Utf8.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace querlin::data::text {

TFieldType KindFor(const ColumnInfo& column)
{
    using T = TFieldType;
    switch (column.type) {
    case AdoType::TinyInt:
    case AdoType::SmallInt: return T::ftSmallint;
    case AdoType::Integer:
    case AdoType::UnsignedInt:
    case AdoType::Error: return column.autoIncrement ? T::ftAutoInc : T::ftInteger;
    case AdoType::UnsignedTinyInt:
    case AdoType::UnsignedSmallInt: return T::ftWord;
    case AdoType::BigInt:
    case AdoType::UnsignedBigInt: return T::ftLargeint;
    case AdoType::Single:
    case AdoType::Double: return T::ftFloat;
    case AdoType::Currency:
    case AdoType::Decimal:
    case AdoType::VarNumeric: return T::ftBCD;
    case AdoType::Numeric:
        // A precision of 0 means the provider did not say: such a column may
        // hold fractions, so it is kept exact rather than cut to integers.
        return column.scale == 0 && column.precision > 0 && column.precision < 10 ? T::ftInteger
                                                                                  : T::ftBCD;
    case AdoType::Boolean: return T::ftBoolean;
    case AdoType::DBDate: return T::ftDate;
    case AdoType::DBTime: return T::ftTime;
    case AdoType::Date:
    case AdoType::DBTimeStamp:
    case AdoType::FileTime:
    case AdoType::DBFileTime: return T::ftDateTime;
    case AdoType::VarChar: return T::ftString;
    case AdoType::Char: return T::ftFixedChar;
    case AdoType::BSTR:
    case AdoType::WChar:
    case AdoType::VarWChar: return T::ftWideString;
    case AdoType::LongVarChar:
    case AdoType::LongVarWChar: return T::ftMemo;
    case AdoType::Binary: return T::ftBytes;
    case AdoType::VarBinary: return T::ftVarBytes;
    case AdoType::LongVarBinary: return T::ftBlob;
    case AdoType::Guid: return T::ftGuid;
    case AdoType::Variant:
    case AdoType::PropVariant: return T::ftVariant;
    case AdoType::Unsupported: break;
    }
    return T::ftUnknown;
}

int SizeFor(TFieldType kind, const ColumnInfo& column)
{
    using T = TFieldType;
    auto clampSize = [](std::int64_t size) {
        return size < 0 ? 0 : size > INT32_MAX ? INT32_MAX : static_cast<int>(size);
    };
    switch (kind) {
    case T::ftString:
    case T::ftFixedChar:
    case T::ftWideString:
    case T::ftBytes:
    case T::ftVarBytes: return clampSize(column.size);
    case T::ftGuid: return 38;
    case T::ftBCD: return column.scale < 0 ? 4 : column.scale;
    default: return 0;
    }
}

int PrecisionFor(TFieldType kind, const ColumnInfo& column)
{
    if (kind == TFieldType::ftBCD)
        return column.precision < 0 ? 0 : column.precision;
    if (kind == TFieldType::ftFloat)
        return 15;
    return 0;
}

int DefaultDisplayWidth(TFieldType kind, int size, int precision)
{
    using T = TFieldType;
    switch (kind) {
    case T::ftString:
    case T::ftFixedChar:
    case T::ftWideString: return size;
    case T::ftGuid: return 38;
    case T::ftLargeint: return 15;
    case T::ftBCD: return precision == 0 ? 10 : precision + 1;
    case T::ftBoolean: return 5;
    case T::ftDateTime: return 18;
    case T::ftVariant: return 15;
    default: return 10;
    }
}

TAlignment AlignmentFor(TFieldType kind)
{
    using T = TFieldType;
    switch (kind) {
    case T::ftSmallint:
    case T::ftInteger:
    case T::ftWord:
    case T::ftAutoInc:
    case T::ftLargeint:
    case T::ftFloat:
    case T::ftBCD: return TAlignment::taRightJustify;
    default: return TAlignment::taLeftJustify;
    }
}

bool IsEightBitText(TFieldType kind)
{
    return kind == TFieldType::ftString || kind == TFieldType::ftFixedChar ||
           kind == TFieldType::ftGuid;
}

const char* KindName(TFieldType kind)
{
    using T = TFieldType;
    switch (kind) {
    case T::ftUnknown: return "Unknown";
    case T::ftString: return "String";
    case T::ftSmallint: return "Smallint";
    case T::ftInteger: return "Integer";
    case T::ftWord: return "Word";
    case T::ftBoolean: return "Boolean";
    case T::ftFloat: return "Float";
    case T::ftBCD: return "BCD";
    case T::ftDate: return "Date";
    case T::ftTime: return "Time";
    case T::ftDateTime: return "DateTime";
    case T::ftBytes: return "Bytes";
    case T::ftVarBytes: return "VarBytes";
    case T::ftAutoInc: return "AutoInc";
    case T::ftBlob: return "Blob";
    case T::ftMemo: return "Memo";
    case T::ftFixedChar: return "FixedChar";
    case T::ftWideString: return "WideString";
    case T::ftLargeint: return "Largeint";
    case T::ftVariant: return "Variant";
    case T::ftGuid: return "Guid";
    }
    return "Unknown";
}

std::string TypeLabel(TFieldType kind, bool isNull)
{
    std::string label = "(";
    label += KindName(kind);
    label += ")";
    return isNull ? label : platform::AsciiUpper(label);
}

std::string FormatGeneral(double value, const std::string& decimalSeparator)
{
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value > 0 ? "INF" : "-INF";
    if (value == 0)
        return "0";
    // Rounding to 15 significant digits first decides the notation, so a
    // value that rounds up to 1E15 is shown as such.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14e", value);
    const char* p = buffer;
    std::string sign;
    if (*p == '-') {
        sign = "-";
        ++p;
    }
    std::string digits;
    for (; *p && *p != 'e'; ++p) {
        if (std::isdigit(static_cast<unsigned char>(*p)))
            digits += *p;
    }
    const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    std::string out = sign;
    if (exponent >= -4 && exponent < 15) {
        std::string integerPart, fraction;
        if (exponent >= 0) {
            const std::size_t integerDigits = static_cast<std::size_t>(exponent) + 1;
            if (digits.size() <= integerDigits) {
                integerPart = digits;
                integerPart.append(integerDigits - digits.size(), '0');
            } else {
                integerPart = digits.substr(0, integerDigits);
                fraction = digits.substr(integerDigits);
            }
        } else {
            integerPart = "0";
            fraction.assign(static_cast<std::size_t>(-exponent - 1), '0');
            fraction += digits;
        }
        out += integerPart;
        if (!fraction.empty()) {
            out += decimalSeparator;
            out += fraction;
        }
        return out;
    }
    out += digits[0];
    if (digits.size() > 1) {
        out += decimalSeparator;
        out.append(digits, 1, std::string::npos);
    }
    out += "E";
    if (exponent < 0)
        out += "-";
    out += std::to_string(std::abs(exponent));
    return out;
}

bool BcdFromDouble(double value, std::int64_t& scaled)
{
    if (!std::isfinite(value))
        return false;
    const double s = std::round(value * static_cast<double>(kBcdScale));
    // 2^63 is exactly representable; anything at or beyond it cannot be held.
    if (s >= 9223372036854775808.0 || s <= -9223372036854775808.0)
        return false;
    scaled = static_cast<std::int64_t>(s);
    return true;
}

bool ParseBcd(std::string_view text, std::int64_t& scaled)
{
    text = platform::Trim(text, platform::kWhiteSpace);
    std::size_t i = 0;
    const std::size_t end = text.size();
    if (i == end)
        return false;
    for (std::size_t k = i; k < end; ++k) {
        if (text[k] == 'e' || text[k] == 'E') {
            const std::string copy(text.substr(i, end - i));
            char* stop = nullptr;
            const double value = std::strtod(copy.c_str(), &stop);
            if (stop != copy.c_str() + copy.size())
                return false;
            return BcdFromDouble(value, scaled);
        }
    }
    bool negative = false;
    if (text[i] == '-' || text[i] == '+') {
        negative = text[i] == '-';
        ++i;
    }
    // Every step only grows the number, so one beyond the limit on the way
    // is beyond it at the end: 64 bits suffice (no 128-bit type on 32-bit
    // targets).
    const std::uint64_t limit = static_cast<std::uint64_t>(INT64_MAX);
    std::uint64_t magnitude = 0;
    auto append = [&](unsigned digit) {
        if (magnitude > (limit - digit) / 10)
            return false;
        magnitude = magnitude * 10 + digit;
        return true;
    };
    bool anyDigit = false;
    for (; i < end && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (!append(static_cast<unsigned>(text[i] - '0')))
            return false;
        anyDigit = true;
    }
    int decimals = 0;
    bool roundUp = false;
    if (i < end && text[i] == '.') {
        ++i;
        for (; i < end && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
            anyDigit = true;
            if (decimals < 4) {
                if (!append(static_cast<unsigned>(text[i] - '0')))
                    return false;
                ++decimals;
            } else if (decimals == 4) {
                roundUp = text[i] >= '5';
                ++decimals;
            }
        }
    }
    if (i != end || !anyDigit)
        return false;
    for (; decimals < 4; ++decimals) {
        if (!append(0))
            return false;
    }
    if (roundUp) {
        if (magnitude == limit)
            return false;
        magnitude += 1;
    }
    scaled = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

std::string FormatBcd(std::int64_t scaled, const std::string& decimalSeparator)
{
    const bool negative = scaled < 0;
    const std::uint64_t magnitude =
        negative ? static_cast<std::uint64_t>(-(scaled + 1)) + 1 : static_cast<std::uint64_t>(scaled);
    std::string out = negative ? "-" : "";
    out += FormatUnsigned(magnitude / kBcdScale);
    std::uint64_t fraction = magnitude % kBcdScale;
    if (fraction != 0) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04u", static_cast<unsigned>(fraction));
        std::string f(digits);
        while (!f.empty() && f.back() == '0')
            f.pop_back();
        out += decimalSeparator;
        out += f;
    }
    return out;
}

std::string BcdToDecimalText(std::int64_t scaled)
{
    return FormatBcd(scaled, ".");
}

std::string FormatInteger(std::int64_t value)
{
    return std::to_string(value);
}

std::string FormatUnsigned(std::uint64_t value)
{
    return std::to_string(value);
}

std::int32_t PackDate(int year, int month, int day)
{
    return year * 10000 + month * 100 + day;
}

namespace {
// Division rounding down, so that the month and day of a year before year 0
// (the driver's year is a signed number) come back positive.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}
} // namespace

void UnpackDate(std::int32_t packed, int& year, int& month, int& day)
{
    year = static_cast<int>(FloorDiv(packed, 10000));
    const int monthDay = packed - year * 10000;
    month = monthDay / 100;
    day = monthDay % 100;
}

std::int32_t PackTime(int hour, int minute, int second, int millisecond)
{
    return ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
}

void UnpackTime(std::int32_t packed, int& hour, int& minute, int& second, int& millisecond)
{
    millisecond = packed % 1000;
    packed /= 1000;
    second = packed % 60;
    packed /= 60;
    minute = packed % 60;
    hour = packed / 60;
}

namespace {
constexpr std::int64_t kTimestampDateFactor = 100000000;  // above the milliseconds of a day
}

std::int64_t PackTimestamp(std::int32_t date, std::int32_t time)
{
    return static_cast<std::int64_t>(date) * kTimestampDateFactor + time;
}

std::int32_t TimestampDate(std::int64_t packed)
{
    return static_cast<std::int32_t>(FloorDiv(packed, kTimestampDateFactor));
}

std::int32_t TimestampTime(std::int64_t packed)
{
    return static_cast<std::int32_t>(packed - FloorDiv(packed, kTimestampDateFactor) * kTimestampDateFactor);
}

std::string FormatDate(std::int32_t packed, const platform::LocaleSettings& locale)
{
    int y, m, d;
    UnpackDate(packed, y, m, d);
    return platform::FormatDateTime(locale.shortDateFormat, y, m, d, 0, 0, 0, 0);
}

std::string FormatTime(std::int32_t packed, const platform::LocaleSettings& locale)
{
    int h, n, s, z;
    UnpackTime(packed, h, n, s, z);
    return platform::FormatDateTime(locale.longTimeFormat, kZeroDayYear, kZeroDayMonth, kZeroDayDay, h, n, s, z);
}

std::string FormatTimestamp(std::int64_t packed, const platform::LocaleSettings& locale)
{
    std::string out = FormatDate(TimestampDate(packed), locale);
    int h, n, s, z;
    UnpackTime(TimestampTime(packed), h, n, s, z);
    if (h != 0 || n != 0 || s != 0) {
        out += ' ';
        out += FormatTime(TimestampTime(packed), locale);
    }
    return out;
}

std::string IsoDate(std::int32_t packed)
{
    int y, m, d;
    UnpackDate(packed, y, m, d);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", y, m, d);
    return buffer;
}

std::string IsoTime(std::int32_t packed)
{
    int h, n, s, z;
    UnpackTime(packed, h, n, s, z);
    char buffer[32];
    if (z != 0)
        std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", h, n, s, z);
    else
        std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", h, n, s);
    return buffer;
}

std::string IsoTimestamp(std::int64_t packed)
{
    std::string out = IsoDate(TimestampDate(packed));
    out += ' ';
    out += IsoTime(TimestampTime(packed));
    return out;
}

namespace {

bool ReadNumber(std::string_view text, std::size_t& at, int digits, int& value)
{
    value = 0;
    for (int k = 0; k < digits; ++k, ++at) {
        if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at])))
            return false;
        value = value * 10 + (text[at] - '0');
    }
    return true;
}

bool ReadDate(std::string_view text, std::size_t& at, std::int32_t& packed)
{
    int y, m, d;
    if (!ReadNumber(text, at, 4, y) || at >= text.size() || text[at++] != '-' ||
        !ReadNumber(text, at, 2, m) || at >= text.size() || text[at++] != '-' ||
        !ReadNumber(text, at, 2, d))
        return false;
    if (m < 1 || m > 12 || d < 1 || d > 31)
        return false;
    packed = PackDate(y, m, d);
    return true;
}

bool ReadTime(std::string_view text, std::size_t& at, std::int32_t& packed)
{
    int h, n, s = 0, z = 0;
    if (!ReadNumber(text, at, 2, h) || at >= text.size() || text[at++] != ':' ||
        !ReadNumber(text, at, 2, n))
        return false;
    if (at < text.size() && text[at] == ':') {
        ++at;
        if (!ReadNumber(text, at, 2, s))
            return false;
        if (at < text.size() && text[at] == '.') {
            ++at;
            int scale = 100;
            while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
                z += (text[at] - '0') * scale;
                scale /= 10;
                ++at;
            }
        }
    }
    if (h > 23 || n > 59 || s > 59)
        return false;
    packed = PackTime(h, n, s, z);
    return true;
}

} // namespace

bool ParseIsoDate(std::string_view text, std::int32_t& packed)
{
    std::size_t at = 0;
    return ReadDate(text, at, packed) && at == text.size();
}

bool ParseIsoTime(std::string_view text, std::int32_t& packed)
{
    std::size_t at = 0;
    return ReadTime(text, at, packed) && at == text.size();
}

bool ParseIsoTimestamp(std::string_view text, std::int64_t& packed)
{
    std::size_t at = 0;
    std::int32_t date = 0, time = 0;
    if (!ReadDate(text, at, date))
        return false;
    if (at < text.size()) {
        if (text[at] != ' ' && text[at] != 'T')
            return false;
        ++at;
        if (!ReadTime(text, at, time) || at != text.size())
            return false;
    }
    packed = PackTimestamp(date, time);
    return true;
}

std::size_t Utf8PrefixBytes(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text.size();
    std::size_t at = maxBytes;
    // Step back over continuation bytes so that no character is split.
    while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
        --at;
    return at;
}

std::size_t Utf8PrefixChars(std::string_view text, std::size_t maxChars)
{
    std::size_t at = 0, chars = 0;
    while (at < text.size() && chars < maxChars) {
        ++at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
            ++at;
        ++chars;
    }
    return at;
}

std::string BytesToText(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char b : bytes) {
        if (b < 0x80) {
            out += static_cast<char>(b);
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

namespace {

// Decodes one character; an invalid byte decodes as U+DC00 plus the byte,
// so that TextToBytes gives it back as it was.
char32_t DecodeOne(std::string_view text, std::size_t& at)
{
    char32_t c;
    const std::size_t length = platform::Utf8SequenceAt(text, at, &c);
    if (length == 0) {
        c = 0xDC00 + static_cast<unsigned char>(text[at]);
        at += 1;
        return c;
    }
    at += length;
    return c;
}

} // namespace

std::string TextToBytes(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const char32_t c = DecodeOne(text, at);
        out += static_cast<char>(c >= 0xDC00 && c <= 0xDCFF ? c - 0xDC00 : c & 0xFF);
    }
    return out;
}

std::string_view StoredText(TFieldType kind, int size, std::string_view value, std::string& scratch)
{
    const bool eightBit = IsEightBitText(kind);
    if (eightBit) {
        // The driver may pad or terminate inside its buffer: cut at the first NUL.
        const std::size_t nul = value.find('\0');
        if (nul != std::string_view::npos)
            value = value.substr(0, nul);
    }
    if (!platform::IsValidUtf8(value)) {
        scratch = platform::RepairUtf8(value, platform::Utf8Repair::EachByte);
        value = scratch;
    }
    if (eightBit && size > 0)
        value = value.substr(0, Utf8PrefixBytes(value, static_cast<std::size_t>(size)));
    return value;
}

std::string AssignedText(TFieldType kind, int size, std::string_view value)
{
    std::string text = platform::RepairUtf8(value, platform::Utf8Repair::EachByte);
    if (size > 0) {
        if (IsEightBitText(kind))
            text.resize(Utf8PrefixBytes(text, static_cast<std::size_t>(size)));
        else if (kind == TFieldType::ftWideString)
            text.resize(Utf8PrefixChars(text, static_cast<std::size_t>(size)));
    }
    return text;
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return platform::LetterCase::User().Equal(a, b);
}

// ---------------------------------------------------------------------------
// Numbers given as text

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
            if (!ParseBcd(text.substr(i, end - i), scaled))
                return false;
            const std::int64_t whole = scaled / kBcdScale;
            const std::int64_t rest = scaled % kBcdScale;
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

} // namespace querlin::data::text
