#pragma once
// Value forms of the data layer, with no record set around them: the field
// kind for a provider column, the default display settings of each kind,
// the text forms of numbers, fixed-point values and dates, and the UTF-8
// handling of text values. Internal to the data layer (and its tests).

#include "data/DataSet.h"
#include "data/Provider.h"
#include "data/ZeroDay.h"
#include "platform/Locale.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace querlin::data::text {

// The field kind for a provider column; ftUnknown leaves the column out.
TFieldType KindFor(const ColumnInfo& column);
int SizeFor(TFieldType kind, const ColumnInfo& column);
int PrecisionFor(TFieldType kind, const ColumnInfo& column);
int DefaultDisplayWidth(TFieldType kind, int size, int precision);
TAlignment AlignmentFor(TFieldType kind);
bool IsEightBitText(TFieldType kind);
// "(MEMO)" for a value, "(Memo)" for a null; empty for kinds without a label.
std::string TypeLabel(TFieldType kind, bool isNull);
const char* KindName(TFieldType kind);

// General number form: 15 significant digits, fixed notation for magnitudes
// from 0.0001 up to 15 integer digits, scientific ("5E-5", "1E20") otherwise.
std::string FormatGeneral(double value, const std::string& decimalSeparator);

// Fixed-point values with four decimals, held as an integer scaled by 10^4.
constexpr std::int64_t kBcdScale = 10000;
// Marks a value the provider delivered but that cannot be held this way.
constexpr std::int64_t kBcdOverflow = INT64_MIN;
// "-123.456789" (also "+", leading/trailing blanks, an exponent) rounded half
// away from zero to four decimals; false when malformed or out of range.
bool ParseBcd(std::string_view text, std::int64_t& scaled);
bool BcdFromDouble(double value, std::int64_t& scaled);
std::string FormatBcd(std::int64_t scaled, const std::string& decimalSeparator);
// "123.45" with a point whatever the locale, for handing to a provider.
std::string BcdToDecimalText(std::int64_t scaled);

// A whole number: an optional sign and digits, blanks around it; a decimal
// ("12.5", "1e3") rounds half away from zero as the providers round. False
// when malformed or beyond 64 bits.
bool ParseInteger(std::string_view text, std::int64_t& value);
// A floating-point number written with the given decimal separator (or a
// point), blanks around it; false when anything else is left over.
bool ParseFloat(std::string_view text, const std::string& separator, double& value);
// The text with the locale's decimal separator turned into a point.
std::string WithPoint(std::string_view text, const std::string& separator);

std::string FormatInteger(std::int64_t value);
std::string FormatUnsigned(std::uint64_t value);

// Dates and times packed into integers for compact storage.
std::int32_t PackDate(int year, int month, int day);

// The zero day (data/ZeroDay.h) is the date of a time without a date.
void UnpackDate(std::int32_t packed, int& year, int& month, int& day);
std::int32_t PackTime(int hour, int minute, int second, int millisecond);
void UnpackTime(std::int32_t packed, int& hour, int& minute, int& second, int& millisecond);
std::int64_t PackTimestamp(std::int32_t date, std::int32_t time);
std::int32_t TimestampDate(std::int64_t packed);
std::int32_t TimestampTime(std::int64_t packed);

std::string FormatDate(std::int32_t packed, const platform::LocaleSettings& locale);
std::string FormatTime(std::int32_t packed, const platform::LocaleSettings& locale);
// Short date, a blank and the long time; the date alone at midnight.
std::string FormatTimestamp(std::int64_t packed, const platform::LocaleSettings& locale);
// "2024-05-01 13:45:00" forms, for handing values to a provider.
std::string IsoDate(std::int32_t packed);
std::string IsoTime(std::int32_t packed);
std::string IsoTimestamp(std::int64_t packed);
// Reads "yyyy-mm-dd", "hh:nn[:ss[.zzz]]" and both joined by a blank or "T".
bool ParseIsoDate(std::string_view text, std::int32_t& packed);
bool ParseIsoTime(std::string_view text, std::int32_t& packed);
bool ParseIsoTimestamp(std::string_view text, std::int64_t& packed);

// UTF-8 handling (checking and repair: platform/Utf8.h).
// The longest prefix of at most maxBytes bytes that does not split a character.
std::size_t Utf8PrefixBytes(std::string_view text, std::size_t maxBytes);
// The byte length of the first maxChars characters.
std::size_t Utf8PrefixChars(std::string_view text, std::size_t maxChars);
// Binary values as text: one character per byte (U+0000..U+00FF).
std::string BytesToText(std::string_view bytes);
// The reverse; characters above U+00FF keep their low byte.
std::string TextToBytes(std::string_view text);
// A text value from a provider as a field of the kind holds it: 8-bit kinds
// cut at an embedded NUL and to Size bytes without splitting a character;
// invalid UTF-8 repaired. The result views value or scratch.
std::string_view StoredText(TFieldType kind, int size, std::string_view value, std::string& scratch);
// Text given to SetValue as the field keeps it: at most Size bytes for the
// 8-bit kinds (never half a character), at most Size characters for
// ftWideString, the rest dropped; invalid UTF-8 repaired.
std::string AssignedText(TFieldType kind, int size, std::string_view value);
// Equality without regard to letter case, under the user's locale
// (platform::LetterCase::User()).
bool EqualNoCase(std::string_view a, std::string_view b);

} // namespace querlin::data::text
