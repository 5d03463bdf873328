// Column types as the OLE DB provider for ODBC reported them, and the
// conversions of values the drivers deliver as text or structures.
#include "data/OdbcInternal.h"
#include "data/OdbcProvider.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace querlin::data {

AdoType AdoTypeForSqlType(int sqlType, bool isUnsigned)
{
    switch (sqlType) {
    case SQL_CHAR: return AdoType::Char;
    case SQL_VARCHAR: return AdoType::VarChar;
    case SQL_LONGVARCHAR: return AdoType::LongVarChar;
    case SQL_WCHAR: return AdoType::WChar;
    case SQL_WVARCHAR: return AdoType::VarWChar;
    case SQL_WLONGVARCHAR: return AdoType::LongVarWChar;
    case SQL_DECIMAL:
    case SQL_NUMERIC: return AdoType::Numeric;
    case SQL_SMALLINT: return isUnsigned ? AdoType::UnsignedSmallInt : AdoType::SmallInt;
    case SQL_INTEGER: return isUnsigned ? AdoType::UnsignedInt : AdoType::Integer;
    case SQL_BIGINT: return isUnsigned ? AdoType::UnsignedBigInt : AdoType::BigInt;
    case SQL_TINYINT: return isUnsigned ? AdoType::UnsignedTinyInt : AdoType::TinyInt;
    case SQL_REAL: return AdoType::Single;
    case SQL_FLOAT:
    case SQL_DOUBLE: return AdoType::Double;
    case SQL_BIT: return AdoType::Boolean;
    case SQL_BINARY: return AdoType::Binary;
    case SQL_VARBINARY: return AdoType::VarBinary;
    case SQL_LONGVARBINARY: return AdoType::LongVarBinary;
    case SQL_TYPE_DATE:
    case SQL_DATE: return AdoType::DBDate;
    case SQL_TYPE_TIME:
    case SQL_TIME: return AdoType::DBTime;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP: return AdoType::DBTimeStamp;
    case SQL_GUID: return AdoType::Guid;
    default: return AdoType::Unsupported;
    }
}

namespace odbc {

// A decimal number as the sink wants it: optional "-", digits, optional
// "." and digits. Drivers may send "+1.5", ".5", "1.", "1E+3".
std::optional<std::string> PlainDecimal(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::string digits;
    long pointAt = -1;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c >= '0' && c <= '9')
            digits += c;
        else if (c == '.' && pointAt < 0)
            pointAt = static_cast<long>(digits.size());
        else
            break;
    }
    if (digits.empty())
        return std::nullopt;
    if (pointAt < 0)
        pointAt = static_cast<long>(digits.size());
    if (i < text.size()) {
        if (text[i] != 'e' && text[i] != 'E')
            return std::nullopt;
        long exponent = 0;
        std::size_t e = i + 1;
        if (e < text.size() && text[e] == '+')
            ++e;
        auto [end, ec] = std::from_chars(text.data() + e, text.data() + text.size(), exponent);
        if (ec != std::errc() || end != text.data() + text.size() || exponent > 4000 || exponent < -4000)
            return std::nullopt;
        pointAt += exponent;
    }
    if (pointAt < 0) {
        digits.insert(0, static_cast<std::size_t>(-pointAt), '0');
        pointAt = 0;
    } else if (pointAt > static_cast<long>(digits.size())) {
        digits.append(static_cast<std::size_t>(pointAt) - digits.size(), '0');
    }
    std::string intPart = digits.substr(0, static_cast<std::size_t>(pointAt));
    std::string fracPart = digits.substr(static_cast<std::size_t>(pointAt));
    std::size_t nonZero = intPart.find_first_not_of('0');
    intPart = nonZero == std::string::npos ? "0" : intPart.substr(nonZero);
    std::string out = intPart;
    if (!fracPart.empty())
        out += "." + fracPart;
    bool zero = out.find_first_not_of("0.") == std::string::npos;
    if (negative && !zero)
        out.insert(0, 1, '-');
    return out;
}

std::string FormatGuid(const SQLGUID& g)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// A single-precision value as the double the user would read: 1.1 stays 1.1
// instead of becoming 1.10000002384186.
double WidenFloat(float value)
{
    char text[32];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    if (ec != std::errc())
        return value;
    *end = '\0';
    return std::strtod(text, nullptr);
}

// Already plain: "-", digits, "." and digits, no blanks or exponent.
bool IsPlainDecimal(std::string_view text)
{
    std::size_t i = (!text.empty() && text[0] == '-') ? 1 : 0;
    if (i >= text.size() || text[i] < '0' || text[i] > '9')
        return false;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch == '.' && !point && i + 1 < text.size())
            point = true;
        else if (ch < '0' || ch > '9')
            return false;
    }
    return true;
}

} // namespace odbc

} // namespace querlin::data
