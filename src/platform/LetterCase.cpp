#include "platform/LetterCase.h"

#include <cstdlib>
#include <cstring>
#include <cwctype>

#ifdef _WIN32
#include <windows.h>
#else
#include <locale.h>
#endif

namespace querlin::platform {

namespace {

#ifndef _WIN32
bool IsPlainLocaleName(const char* name)
{
    return !name || !*name || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0;
}

// The locale name that governs letter case, resolved as the C library does.
const char* CaseLocaleName()
{
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return value;
    }
    return "C";
}
#endif

// Writes one code point as UTF-8; returns the bytes written (at most 4).
int PutUtf8(char32_t c, char* out)
{
    if (c < 0x80) {
        out[0] = char(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = char(0xC0 | (c >> 6));
        out[1] = char(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = char(0xE0 | (c >> 12));
        out[1] = char(0x80 | ((c >> 6) & 0x3F));
        out[2] = char(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (c >> 18));
    out[1] = char(0x80 | ((c >> 12) & 0x3F));
    out[2] = char(0x80 | ((c >> 6) & 0x3F));
    out[3] = char(0x80 | (c & 0x3F));
    return 4;
}

// Reads one character starting with a byte of 0x80 or above; 0 bytes when
// the sequence is not valid UTF-8.
int GetUtf8(const unsigned char* p, std::size_t left, char32_t& c)
{
    unsigned char b = p[0];
    int length;
    char32_t min;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
        c = b & 0x1F;
        min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        c = b & 0x0F;
        min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        c = b & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (left < std::size_t(length))
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (p[i] & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

const LetterCase& LetterCase::User()
{
    static const LetterCase rules;
    return rules;
}

LetterCase::LetterCase()
{
#ifndef _WIN32
    const char* name = CaseLocaleName();
    locale_t rules = IsPlainLocaleName(name) ? nullptr : newlocale(LC_CTYPE_MASK, name, nullptr);
    if (!rules)
        rules = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    locale_ = rules;  // kept for the life of the process
#endif
    for (int c = 0; c < 128; ++c) {
        char32_t upper = Upper(char32_t(c));
        asciiUpper_[c] = upper < 0x80 ? char(upper) : char(c);
        if (upper >= 0x80)
            asciiStaysAscii_ = false;
    }
}

char32_t LetterCase::Upper(char32_t character) const
{
#ifdef _WIN32
    if (character > 0xFFFF)
        return character;
    wchar_t text[2] = {wchar_t(character), 0};
    CharUpperBuffW(text, 1);
    return char32_t(text[0]);
#else
    if (locale_)
        return char32_t(towupper_l(wint_t(character), static_cast<locale_t>(locale_)));
    return character < 0x80 ? char32_t(std::towupper(wint_t(character))) : character;
#endif
}

std::string_view LetterCase::ToUpper(std::string_view text, std::string& buffer) const
{
    // No character is written in more than four bytes, and the buffer keeps
    // its size, so after the first long text nothing is allocated or cleared.
    const std::size_t need = text.size() * 4;
    if (buffer.size() < need)
        buffer.resize(need);
    char* out = buffer.data();
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        unsigned char b = *p;
        if (b < 0x80) {
            if (asciiStaysAscii_)
                *out++ = asciiUpper_[b];
            else
                out += PutUtf8(Upper(b), out);
            ++p;
            continue;
        }
        char32_t c;
        int length = GetUtf8(p, std::size_t(end - p), c);
        if (length == 0) {
            *out++ = char(b);
            ++p;
            continue;
        }
        char32_t upper = Upper(c);
        if (upper == c) {
            std::memcpy(out, p, std::size_t(length));
            out += length;
        } else {
            out += PutUtf8(upper, out);
        }
        p += length;
    }
    return std::string_view(buffer.data(), std::size_t(out - buffer.data()));
}

} // namespace querlin::platform
