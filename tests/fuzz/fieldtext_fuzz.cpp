// Feeds provider-like values to the field text forms. The first byte picks
// the kind of value, the rest is its text or its bytes:
//   0: fixed-point decimal text, as numerics arrive from a provider
//   1: a double (8 bytes, any bit pattern) as a float column delivers it
//   2: date/time text in the ISO forms a provider or the local store uses
//   3: date and time parts as the driver's structures give them (16-bit
//      year, month, day, hour, minute, second, fraction), through the packed
//      forms the record set stores
//   4: text for the 8-bit and wide text kinds (size from the next byte)
// Invariants besides the sanitizers' own:
//  - a decimal text that reads formats back to text that reads the same,
//    equals the input's own value where it is plain (four decimals or
//    fewer), is never taken for the overflow mark and stays within 21
//    characters;
//  - the general number form reads back as the value rounded to 15
//    significant digits, and stays within 22 characters;
//  - dates and times that read give ISO text that reads the same (dates
//    exactly as written), and the locale forms stay bounded;
//  - date and time parts come back unchanged from their packed forms;
//  - stored and assigned texts are valid UTF-8 within their size.
#include "FuzzCheck.h"
#include "data/FieldText.h"
#include "platform/Utf8.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace text = querlin::data::text;
using querlin::data::TFieldType;
using querlin::platform::LocaleSettings;

namespace {

const LocaleSettings kLocales[] = {
    {".", "yyyy-m-d", "h:nn:ss", ""},
    {",", "dd.mm.yyyy", "hh:nn:ss", ""},
    {".", "dddd, mmmm d, yyyy", "h:nn:ss.zzz am/pm", ""},
    {"\xE3\x80\x82", "yyyy\"\xE5\xB9\xB4\"m\"\xE6\x9C\x88\"d\"\xE6\x97\xA5\"", "AMPM h:nn", ""},
};

// "-007.2500" -> "-7.25"; empty when the text is not a plain decimal of at
// most four decimals and 14 integer digits (what the fixed point surely holds).
std::string PlainDecimal(std::string_view t)
{
    std::string sign;
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
        if (t[0] == '-')
            sign = "-";
        t.remove_prefix(1);
    }
    const std::size_t point = t.find('.');
    std::string_view whole = t.substr(0, point);
    std::string_view fraction = point == std::string_view::npos ? std::string_view() : t.substr(point + 1);
    if ((whole.empty() && fraction.empty()) || fraction.size() > 4)
        return {};
    for (char c : whole)
        if (c < '0' || c > '9')
            return {};
    for (char c : fraction)
        if (c < '0' || c > '9')
            return {};
    while (!whole.empty() && whole.front() == '0')
        whole.remove_prefix(1);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.remove_suffix(1);
    if (whole.size() > 14)
        return {};
    std::string out = std::string(whole.empty() ? "0" : whole);
    if (!fraction.empty())
        out += "." + std::string(fraction);
    if (out == "0")
        return out;
    return sign + out;
}

void CheckDecimal(std::string_view input)
{
    std::int64_t scaled = 0;
    if (!text::ParseBcd(input, scaled)) {
        FUZZ_CHECK(PlainDecimal(input).empty());
        return;
    }
    FUZZ_CHECK(scaled != text::kBcdOverflow);
    const std::string written = text::BcdToDecimalText(scaled);
    FUZZ_CHECK(written.size() <= 21);
    std::int64_t again = 0;
    FUZZ_CHECK(text::ParseBcd(written, again) && again == scaled);
    const std::string plain = PlainDecimal(input);
    if (!plain.empty())
        FUZZ_CHECK(written == plain);
    for (const auto& locale : kLocales)
        FUZZ_CHECK(text::FormatBcd(scaled, locale.decimalSeparator).size() <= 20 + locale.decimalSeparator.size());
}

void CheckDouble(std::string_view bytes)
{
    double value = 0;
    std::memcpy(&value, bytes.data(), std::min(bytes.size(), sizeof value));
    const std::string shown = text::FormatGeneral(value, ".");
    FUZZ_CHECK(!shown.empty() && shown.size() <= 22);
    if (std::isfinite(value)) {
        char rounded[64];
        std::snprintf(rounded, sizeof rounded, "%.14e", value);
        FUZZ_CHECK(std::strtod(shown.c_str(), nullptr) == std::strtod(rounded, nullptr));
    }
    std::int64_t scaled = 0;
    if (text::BcdFromDouble(value, scaled)) {
        FUZZ_CHECK(scaled != text::kBcdOverflow);
        FUZZ_CHECK(std::fabs(static_cast<double>(scaled) / text::kBcdScale - value) <= 0.5 / text::kBcdScale + std::fabs(value) * 1e-15);
    }
}

void CheckLocaleForms(std::int64_t timestamp)
{
    for (const auto& locale : kLocales) {
        FUZZ_CHECK(text::FormatDate(text::TimestampDate(timestamp), locale).size() <= 64);
        FUZZ_CHECK(text::FormatTime(text::TimestampTime(timestamp), locale).size() <= 64);
        FUZZ_CHECK(text::FormatTimestamp(timestamp, locale).size() <= 128);
    }
}

void CheckDateText(std::string_view input)
{
    std::int32_t date = 0, time = 0;
    std::int64_t timestamp = 0;
    if (text::ParseIsoDate(input, date)) {
        FUZZ_CHECK(text::IsoDate(date) == input);
        CheckLocaleForms(text::PackTimestamp(date, 0));
    }
    if (text::ParseIsoTime(input, time)) {
        std::int32_t again = -1;
        FUZZ_CHECK(text::ParseIsoTime(text::IsoTime(time), again) && again == time);
    }
    if (text::ParseIsoTimestamp(input, timestamp)) {
        std::int64_t again = -1;
        FUZZ_CHECK(text::ParseIsoTimestamp(text::IsoTimestamp(timestamp), again) && again == timestamp);
        CheckLocaleForms(timestamp);
    }
}

void CheckDateParts(std::string_view bytes)
{
    unsigned char b[10] = {};
    std::memcpy(b, bytes.data(), std::min(bytes.size(), sizeof b));
    // The ranges the driver's date and time structures allow for a valid
    // value: a signed 16-bit year, month 1..12, day 1..31 and so on.
    const int year = static_cast<std::int16_t>(b[0] | b[1] << 8);
    const int month = 1 + b[2] % 12, day = 1 + b[3] % 31;
    const int hour = b[4] % 24, minute = b[5] % 60, second = b[6] % 60;
    const int millisecond = (b[7] | b[8] << 8) % 1000;

    int y, m, d, h, n, s, z;
    const std::int32_t date = text::PackDate(year, month, day);
    text::UnpackDate(date, y, m, d);
    FUZZ_CHECK(y == year && m == month && d == day);
    const std::int32_t time = text::PackTime(hour, minute, second, millisecond);
    text::UnpackTime(time, h, n, s, z);
    FUZZ_CHECK(h == hour && n == minute && s == second && z == millisecond);
    const std::int64_t timestamp = text::PackTimestamp(date, time);
    FUZZ_CHECK(text::TimestampDate(timestamp) == date && text::TimestampTime(timestamp) == time);
    CheckLocaleForms(timestamp);
    if (year >= 0 && year <= 9999) {
        std::int64_t again = -1;
        FUZZ_CHECK(text::ParseIsoTimestamp(text::IsoTimestamp(timestamp), again) && again == timestamp);
    }
}

void CheckText(std::string_view bytes)
{
    if (bytes.empty())
        return;
    const int size = static_cast<unsigned char>(bytes[0]);
    const std::string_view value = bytes.substr(1);
    for (TFieldType kind : {TFieldType::ftString, TFieldType::ftFixedChar, TFieldType::ftGuid,
                            TFieldType::ftWideString, TFieldType::ftMemo}) {
        std::string scratch;
        const std::string_view stored = text::StoredText(kind, size, value, scratch);
        FUZZ_CHECK(querlin::platform::IsValidUtf8(stored));
        if (text::IsEightBitText(kind)) {
            FUZZ_CHECK(size == 0 || stored.size() <= static_cast<std::size_t>(size));
            FUZZ_CHECK(stored.find('\0') == std::string_view::npos);
        }
        const std::string assigned = text::AssignedText(kind, size, value);
        FUZZ_CHECK(querlin::platform::IsValidUtf8(assigned));
        if (text::IsEightBitText(kind) && size > 0)
            FUZZ_CHECK(assigned.size() <= static_cast<std::size_t>(size));
        if (kind == TFieldType::ftWideString && size > 0)
            FUZZ_CHECK(text::Utf8PrefixChars(assigned, size) == assigned.size());
    }
    const std::string asText = text::BytesToText(value);
    FUZZ_CHECK(querlin::platform::IsValidUtf8(asText));
    FUZZ_CHECK(text::TextToBytes(asText) == value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 5) {
    case 0: CheckDecimal(body); break;
    case 1: CheckDouble(body); break;
    case 2: CheckDateText(body); break;
    case 3: CheckDateParts(body); break;
    default: CheckText(body); break;
    }
    return 0;
}
