#include "platform/LetterCase.h"

#include "platform/Locale.h"
#include "platform/Utf8.h"

#include <map>
#include <mutex>

#ifdef _WIN32
#include <windows.h>

#include <vector>
#else
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#endif

namespace querlin::platform {

namespace {

constexpr std::size_t kPlane = 0x10000;

bool IsSurrogate(char32_t c)
{
    return c >= 0xD800 && c <= 0xDFFF;
}

#ifdef _WIN32
// The system's mapping of every unit of the basic plane at once; false when
// it refuses (an unknown locale) or does not give one unit for each.
bool MapPlane(const wchar_t* locale, DWORD flags, const std::vector<wchar_t>& in, std::vector<wchar_t>& out)
{
    out.assign(kPlane, 0);
    const int n = LCMapStringEx(locale, flags, in.data(), int(kPlane), out.data(), int(kPlane), nullptr, nullptr, 0);
    return n == int(kPlane);
}

void BuildTable(char16_t* upper, const std::string& language)
{
    // NUL and the surrogates, which are no characters, go through as blanks
    // and keep themselves.
    std::vector<wchar_t> plane(kPlane);
    for (std::size_t c = 0; c < kPlane; ++c)
        plane[c] = c == 0 || IsSurrogate(char32_t(c)) ? L' ' : wchar_t(c);
    std::vector<wchar_t> ordinal;
    if (!MapPlane(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, plane, ordinal))
        ordinal = plane;
    for (std::size_t c = 0; c < kPlane; ++c)
        upper[c] = c == 0 || IsSurrogate(char32_t(c)) ? char16_t(c) : char16_t(ordinal[c]);
    if (language.empty())
        return;
    std::wstring tag(language.begin(), language.end());
    for (wchar_t& w : tag)
        if (w == L'_')
            w = L'-';
    std::vector<wchar_t> capitals, smalls;
    const DWORD linguistic = LCMAP_LINGUISTIC_CASING;
    if (!MapPlane(tag.c_str(), LCMAP_UPPERCASE | linguistic, plane, capitals) ||
        !MapPlane(tag.c_str(), LCMAP_LOWERCASE | linguistic, capitals, smalls))
        return;
    for (std::size_t c = 1; c < kPlane; ++c)
        if (!IsSurrogate(char32_t(c)) && smalls[c] == wchar_t(c))
            upper[c] = char16_t(capitals[c]);
}
#else
// The one character the locale's full mapping makes of c, or U_SENTINEL when
// it makes none or several.
UChar32 MapOne(UChar32 c, const char* locale, bool toUpper)
{
    UChar in[2];
    int32_t inLength = 0;
    U16_APPEND_UNSAFE(in, inLength, c);
    UChar out[8];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = toUpper ? u_strToUpper(out, 8, in, inLength, locale, &status)
                              : u_strToLower(out, 8, in, inLength, locale, &status);
    if (U_FAILURE(status) || n < 1 || n > 2)
        return U_SENTINEL;
    int32_t at = 0;
    UChar32 result;
    U16_NEXT(out, at, n, result);
    return at == n ? result : U_SENTINEL;
}

void BuildTable(char16_t* upper, const std::string& language)
{
    for (std::size_t i = 0; i < kPlane; ++i) {
        const UChar32 c = UChar32(i);
        const UChar32 capital = IsSurrogate(char32_t(c)) ? c : u_toupper(c);
        upper[i] = capital != c && capital < UChar32(kPlane) && u_tolower(capital) == c ? char16_t(capital)
                                                                                        : char16_t(c);
    }
    if (language.empty())
        return;
    // The language's own capitals: where its mapping of a character is one
    // character whose small letter, in the same language, is the first one.
    for (std::size_t i = 1; i < kPlane; ++i) {
        const UChar32 c = UChar32(i);
        if (IsSurrogate(char32_t(c)) || !u_hasBinaryProperty(c, UCHAR_CASED))
            continue;
        const UChar32 capital = MapOne(c, language.c_str(), true);
        if (capital == U_SENTINEL || capital == upper[i] || capital >= UChar32(kPlane))
            continue;
        if (MapOne(capital, language.c_str(), false) == c)
            upper[i] = char16_t(capital);
    }
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

} // namespace

std::string LetterCaseLocaleName(std::string_view localeName)
{
    std::string_view language = localeName.substr(0, localeName.find_first_of(".@"));
    if (language == "C" || language == "POSIX")
        return {};
    return std::string(language);
}

LetterCase::LetterCase(const std::string& language) : upper_(new char16_t[kPlane])
{
    BuildTable(upper_.get(), language);
}

const LetterCase& LetterCase::ForLocale(std::string_view localeName)
{
    // Built once per locale and kept, so a reference handed out stays good.
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<LetterCase>, std::less<>> rules;
    const std::string language = LetterCaseLocaleName(localeName);
    std::lock_guard<std::mutex> lock(mutex);
    auto found = rules.find(language);
    if (found == rules.end())
        found = rules.emplace(language, std::unique_ptr<LetterCase>(new LetterCase(language))).first;
    return *found->second;
}

const LetterCase& LetterCase::Ordinal()
{
    static const LetterCase& rules = ForLocale({});
    return rules;
}

const LetterCase& LetterCase::User()
{
    // Asked for every field name compared and every cell a boolean is read
    // from: each thread remembers the rules of the settings it saw last.
    // Settings are never freed, so one address is one set of settings.
    thread_local const LocaleSettings* lastSettings = nullptr;
    thread_local const LetterCase* lastRules = nullptr;
    const LocaleSettings& settings = UserLocale();
    if (&settings != lastSettings) {
        lastRules = &ForLocale(settings.letterCaseLocale);
        lastSettings = &settings;
    }
    return *lastRules;
}

char32_t LetterCase::Upper(char32_t character) const
{
    return character < kPlane ? char32_t(upper_[character]) : character;
}

std::string_view LetterCase::ToUpper(std::string_view text, std::string& buffer) const
{
    // No capital is written in more than three bytes for one byte of the
    // text, and the buffer keeps its size, so after the first long text
    // nothing is allocated or cleared.
    const std::size_t need = text.size() * 3;
    if (buffer.size() < need)
        buffer.resize(need);
    char* out = buffer.data();
    for (std::size_t at = 0; at < text.size();) {
        const unsigned char b = static_cast<unsigned char>(text[at]);
        if (b < 0x80) {
            out += PutUtf8(Upper(b), out);
            ++at;
            continue;
        }
        char32_t c = 0;
        const std::size_t length = Utf8SequenceAt(text, at, &c);
        if (length == 0) {
            *out++ = char(b);
            ++at;
            continue;
        }
        out += PutUtf8(Upper(c), out);
        at += length;
    }
    return std::string_view(buffer.data(), std::size_t(out - buffer.data()));
}

std::string LetterCase::ToUpper(std::string_view text) const
{
    std::string buffer;
    buffer.resize(ToUpper(text, buffer).size());
    return buffer;
}

bool LetterCase::Equal(std::string_view a, std::string_view b) const
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        char32_t ca = 0, cb = 0;
        const std::size_t la = Utf8SequenceAt(a, i, &ca);
        const std::size_t lb = Utf8SequenceAt(b, j, &cb);
        // A byte that starts no character stands for itself.
        if (la == 0 || lb == 0) {
            if (la != lb || a[i] != b[j])
                return false;
            ++i;
            ++j;
            continue;
        }
        if (Upper(ca) != Upper(cb))
            return false;
        i += la;
        j += lb;
    }
    return i == a.size() && j == b.size();
}

} // namespace querlin::platform
