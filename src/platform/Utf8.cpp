#include "platform/Utf8.h"

namespace querlin::platform {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

unsigned char Byte(std::string_view text, std::size_t at)
{
    return static_cast<unsigned char>(text[at]);
}

// How many bytes a lead byte announces, whether or not they follow; 1 for
// a byte that can lead nothing.
std::size_t AnnouncedLength(unsigned char lead)
{
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 1;
}

bool IsContinuation(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}

} // namespace

std::size_t Utf8SequenceAt(std::string_view text, std::size_t at, char32_t* codePoint)
{
    const unsigned char b0 = Byte(text, at);
    if (b0 < 0x80) {
        if (codePoint)
            *codePoint = b0;
        return 1;
    }
    // The second byte's range rules out overlong forms (E0, F0), surrogates
    // (ED) and values above U+10FFFF (F4) without decoding first.
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) length = 2;
    else if (b0 == 0xE0) { length = 3; low = 0xA0; }
    else if (b0 >= 0xE1 && b0 <= 0xEC) length = 3;
    else if (b0 == 0xED) { length = 3; high = 0x9F; }
    else if (b0 >= 0xEE && b0 <= 0xEF) length = 3;
    else if (b0 == 0xF0) { length = 4; low = 0x90; }
    else if (b0 >= 0xF1 && b0 <= 0xF3) length = 4;
    else if (b0 == 0xF4) { length = 4; high = 0x8F; }
    else return 0;
    if (at + length > text.size())
        return 0;
    if (Byte(text, at + 1) < low || Byte(text, at + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (!IsContinuation(Byte(text, at + k)))
            return 0;
    if (codePoint) {
        char32_t c = b0 & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k)
            c = (c << 6) | (Byte(text, at + k) & 0x3F);
        *codePoint = c;
    }
    return length;
}

bool IsValidUtf8(std::string_view text)
{
    std::size_t at = 0;
    while (at < text.size()) {
        if (Byte(text, at) < 0x80) {
            ++at;
            continue;
        }
        const std::size_t length = Utf8SequenceAt(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

std::string RepairUtf8(std::string_view text, Utf8Repair repair)
{
    if (IsValidUtf8(text))
        return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = Utf8SequenceAt(text, at);
        if (length != 0) {
            out.append(text, at, length);
            at += length;
            continue;
        }
        out += kReplacement;
        std::size_t skip = 1;
        if (repair == Utf8Repair::EachSequence) {
            const std::size_t announced = AnnouncedLength(Byte(text, at));
            while (skip < announced && at + skip < text.size() && IsContinuation(Byte(text, at + skip)))
                ++skip;
        }
        at += skip;
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::size_t Utf8Length(std::string_view text)
{
    std::size_t count = 0;
    for (char c : text)
        if (!IsContinuation(static_cast<unsigned char>(c)))
            ++count;
    return count;
}

std::size_t Utf16ToUtf8(const char16_t* units, std::size_t count, char* out)
{
    char* start = out;
    std::size_t i = 0;
    while (i < count) {
        const char16_t u = units[i];
        if (u < 0x80) {
            *out++ = static_cast<char>(u);
            ++i;
            continue;
        }
        char32_t cp = u;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(units[i + 1]) - 0xDC00);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            cp = 0xFFFD;
        }
        ++i;
        if (cp < 0x800) {
            *out++ = static_cast<char>(0xC0 | (cp >> 6));
            *out++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *out++ = static_cast<char>(0xE0 | (cp >> 12));
            *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *out++ = static_cast<char>(0xF0 | (cp >> 18));
            *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return static_cast<std::size_t>(out - start);
}

void AppendUtf16AsUtf8(std::string& out, const char16_t* units, std::size_t count)
{
    const std::size_t old = out.size();
    out.resize(old + 3 * count);
    out.resize(old + Utf16ToUtf8(units, count, out.data() + old));
}

std::string Utf16ToUtf8(std::u16string_view units)
{
    std::string out;
    AppendUtf16AsUtf8(out, units.data(), units.size());
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        char32_t cp;
        std::size_t length = Utf8SequenceAt(text, at, &cp);
        if (length == 0) {
            cp = 0xFFFD;
            length = 1;
        }
        at += length;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

} // namespace querlin::platform
