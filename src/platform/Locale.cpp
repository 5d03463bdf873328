#include "platform/Locale.h"

#include "platform/AsciiText.h"
#include "platform/LetterCase.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <memory>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <langinfo.h>
#include <locale.h>
#endif

namespace querlin::platform {

namespace {

// Read on every value shown, so reading takes no lock once settled. Settings
// once handed out are never freed: a caller may still hold a reference.
std::mutex localeMutex;
std::atomic<const LocaleSettings*> currentLocale{nullptr};
std::vector<std::unique_ptr<LocaleSettings>> injectedLocales;

#ifndef _WIN32
// The locale name that governs one category, resolved the way the C library
// does: LC_ALL, then the category's own variable, then LANG.
std::string LocaleNameFor(const char* categoryVariable)
{
    for (const char* name : {"LC_ALL", categoryVariable, "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return value;
    }
    return "C";
}

bool IsPlainLocale(const std::string& name)
{
    return name.empty() || name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}
#endif

const char* const shortMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const longMonthNames[] = {"January", "February", "March", "April", "May", "June",
                                      "July", "August", "September", "October", "November",
                                      "December"};
const char* const shortDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const longDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday",
                                    "Friday", "Saturday"};

int DayOfWeek(int year, int month, int day)  // 0 = Sunday
{
    static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 1 || month > 12)
        return 0;
    if (month < 3)
        year -= 1;
    int w = (year + year / 4 - year / 100 + year / 400 + offsets[month - 1] + day) % 7;
    return w < 0 ? w + 7 : w;
}

void AppendNumber(std::string& out, int value, int width)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
    out += buffer;
}

bool StartsWithNoCase(const std::string& text, std::size_t at, const char* word)
{
    return HasAsciiNoCaseAt(text, at, word);
}

} // namespace

const LocaleSettings& UserLocale()
{
    if (const LocaleSettings* settled = currentLocale.load(std::memory_order_acquire))
        return *settled;
    std::lock_guard lock(localeMutex);
    if (!currentLocale.load(std::memory_order_relaxed)) {
        static const LocaleSettings system = ReadSystemLocale();
        currentLocale.store(&system, std::memory_order_release);
    }
    return *currentLocale.load(std::memory_order_relaxed);
}

void SetUserLocaleForTesting(const LocaleSettings& settings)
{
    std::lock_guard lock(localeMutex);
    injectedLocales.push_back(std::make_unique<LocaleSettings>(settings));
    currentLocale.store(injectedLocales.back().get(), std::memory_order_release);
}

#ifdef _WIN32
namespace {
// One of the user's regional settings as UTF-8; empty when unavailable.
std::string UserLocaleInfo(LCTYPE type)
{
    wchar_t wide[128];
    const int length = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, wide, int(std::size(wide)));
    if (length <= 1)
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, length - 1, nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, length - 1, out.data(), size, nullptr, nullptr);
    return out;
}
} // namespace

LocaleSettings ReadSystemLocale()
{
    LocaleSettings settings;
    const std::string separator = UserLocaleInfo(LOCALE_SDECIMAL);
    const std::string date = UserLocaleInfo(LOCALE_SSHORTDATE);
    const std::string time = UserLocaleInfo(LOCALE_STIMEFORMAT);
    if (!separator.empty())
        settings.decimalSeparator = separator;
    if (!date.empty())
        settings.shortDateFormat = FormatFromWindowsPicture(date);
    if (!time.empty())
        settings.longTimeFormat = FormatFromWindowsPicture(time);
    wchar_t name[LOCALE_NAME_MAX_LENGTH];
    const int length = GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH);
    for (int i = 0; i + 1 < length; ++i)
        settings.letterCaseLocale += char(name[i]);  // names are ASCII ("tr-TR")
    return settings;
}
#else
LocaleSettings ReadSystemLocale()
{
    LocaleSettings settings;
    const std::string numericName = LocaleNameFor("LC_NUMERIC");
    const std::string timeName = LocaleNameFor("LC_TIME");
    if (!IsPlainLocale(numericName)) {
        if (locale_t loc = newlocale(LC_NUMERIC_MASK, numericName.c_str(), locale_t(nullptr))) {
            const char* radix = nl_langinfo_l(RADIXCHAR, loc);
            if (radix && *radix)
                settings.decimalSeparator = radix;
            freelocale(loc);
        }
    }
    if (!IsPlainLocale(timeName)) {
        if (locale_t loc = newlocale(LC_TIME_MASK, timeName.c_str(), locale_t(nullptr))) {
            const char* dateFormat = nl_langinfo_l(D_FMT, loc);
            const char* timeFormat = nl_langinfo_l(T_FMT, loc);
            if (dateFormat && *dateFormat)
                settings.shortDateFormat = FormatFromStrftime(dateFormat);
            if (timeFormat && *timeFormat)
                settings.longTimeFormat = FormatFromStrftime(timeFormat);
            freelocale(loc);
        }
    }
    settings.letterCaseLocale = LetterCaseLocaleName(LocaleNameFor("LC_CTYPE"));
    return settings;
}
#endif

namespace {

// Appends a run of literal characters to a format, quoted when a letter in
// it (or, from a Windows picture, a quote mark) would read as a specifier.
void FlushLiteral(std::string& out, std::string& literal, bool quoteMarkIsLetter)
{
    if (literal.empty())
        return;
    bool hasLetter = false;
    for (char c : literal)
        hasLetter = hasLetter || std::isalpha(static_cast<unsigned char>(c)) || (quoteMarkIsLetter && c == '\'');
    out += hasLetter ? "\"" + literal + "\"" : literal;
    literal.clear();
}

} // namespace

std::string FormatFromWindowsPicture(const std::string& picture)
{
    std::string out;
    std::string literal;
    auto flushLiteral = [&] { FlushLiteral(out, literal, true); };
    std::size_t i = 0;
    while (i < picture.size()) {
        const char c = picture[i];
        if (c == '\'' && i + 1 < picture.size() && picture[i + 1] == '\'') {
            literal += '\'';
            i += 2;
            continue;
        }
        if (c == '\'') {
            // Quoted text; two quotes stand for one.
            std::size_t j = i + 1;
            while (j < picture.size()) {
                if (picture[j] == '\'' && j + 1 < picture.size() && picture[j + 1] == '\'') {
                    literal += '\'';
                    j += 2;
                } else if (picture[j] == '\'') {
                    break;
                } else {
                    literal += picture[j++];
                }
            }
            i = j + 1;
            continue;
        }
        std::size_t run = 1;
        while (i + run < picture.size() && picture[i + run] == c)
            ++run;
        const char* piece = nullptr;
        std::string repeated;
        switch (c) {
        case 'd': repeated.assign(std::min<std::size_t>(run, 4), 'd'); break;
        case 'M': repeated.assign(std::min<std::size_t>(run, 4), 'm'); break;
        case 'y': piece = run <= 2 ? "yy" : "yyyy"; break;
        case 'h': case 'H': piece = run == 1 ? "h" : "hh"; break;
        case 'm': piece = run == 1 ? "n" : "nn"; break;
        case 's': piece = run == 1 ? "s" : "ss"; break;
        case 't': piece = run == 1 ? "A/P" : "ampm"; break;
        case 'g': piece = ""; break;  // the era has no counterpart
        default: literal.append(run, c); break;
        }
        i += run;
        if (piece || !repeated.empty()) {
            flushLiteral();
            out += piece ? piece : repeated.c_str();
        }
    }
    flushLiteral();
    // Trim what a dropped era left at the ends.
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    out.erase(0, out.find_first_not_of(' ') == std::string::npos ? out.size() : out.find_first_not_of(' '));
    return out;
}

std::string FormatFromStrftime(const std::string& pattern)
{
    std::string out;
    std::string literal;
    auto flushLiteral = [&] { FlushLiteral(out, literal, false); };
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%' || i + 1 >= pattern.size()) {
            literal += pattern[i];
            continue;
        }
        char c = pattern[++i];
        // Flags and widths of the GNU extensions ("%-d", "%Ey") change nothing here.
        while ((c == '-' || c == '_' || c == '0' || c == '^' || c == '#' || c == 'E' ||
                c == 'O') && i + 1 < pattern.size())
            c = pattern[++i];
        const char* piece = nullptr;
        switch (c) {
        case 'd': piece = "dd"; break;
        case 'e': piece = "d"; break;
        case 'm': piece = "mm"; break;
        case 'y': piece = "yy"; break;
        case 'Y': piece = "yyyy"; break;
        case 'b': case 'h': piece = "mmm"; break;
        case 'B': piece = "mmmm"; break;
        case 'a': piece = "ddd"; break;
        case 'A': piece = "dddd"; break;
        case 'H': piece = "hh"; break;
        case 'k': piece = "h"; break;
        case 'I': piece = "hh"; break;
        case 'l': piece = "h"; break;
        case 'M': piece = "nn"; break;
        case 'S': piece = "ss"; break;
        case 'p': case 'P': piece = "ampm"; break;
        case 'T': piece = "hh:nn:ss"; break;
        case 'R': piece = "hh:nn"; break;
        case 'D': piece = "mm/dd/yy"; break;
        case 'F': piece = "yyyy-mm-dd"; break;
        case 'r': piece = "hh:nn:ss ampm"; break;
        case '%': literal += '%'; break;
        case 'n': case 't': literal += ' '; break;
        default: break;  // a field with no counterpart is left out
        }
        if (piece) {
            flushLiteral();
            out += piece;
        }
    }
    flushLiteral();
    // Trim what a dropped field left at the ends.
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::string FormatDateTime(const std::string& format, int year, int month, int day,
                           int hour, int minute, int second, int millisecond)
{
    bool twelveHour = false;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (StartsWithNoCase(format, i, "am/pm") || StartsWithNoCase(format, i, "a/p") ||
            StartsWithNoCase(format, i, "ampm"))
            twelveHour = true;
    }
    std::string out;
    bool afterHour = false;
    std::size_t i = 0;
    while (i < format.size()) {
        const char raw = format[i];
        const char c = AsciiLower(raw);
        if (raw == '"' || raw == '\'') {
            std::size_t end = format.find(raw, i + 1);
            if (end == std::string::npos)
                end = format.size();
            out.append(format, i + 1, end - i - 1);
            i = end + 1;
            continue;
        }
        if (c == 'a') {
            const bool pm = hour >= 12;
            if (StartsWithNoCase(format, i, "am/pm")) {
                const bool upper = std::isupper(static_cast<unsigned char>(raw));
                out += pm ? (upper ? "PM" : "pm") : (upper ? "AM" : "am");
                i += 5;
            } else if (StartsWithNoCase(format, i, "a/p")) {
                const bool upper = std::isupper(static_cast<unsigned char>(raw));
                out += pm ? (upper ? "P" : "p") : (upper ? "A" : "a");
                i += 3;
            } else if (StartsWithNoCase(format, i, "ampm")) {
                out += pm ? "PM" : "AM";
                i += 4;
            } else {
                out += raw;
                ++i;
            }
            continue;
        }
        if (c != 'd' && c != 'm' && c != 'y' && c != 'h' && c != 'n' && c != 's' && c != 'z') {
            out += raw;
            ++i;
            continue;
        }
        std::size_t run = 1;
        while (i + run < format.size() &&
               AsciiLower(format[i + run]) == c)
            ++run;
        i += run;
        switch (c) {
        case 'd':
            afterHour = false;
            if (run == 1) AppendNumber(out, day, 1);
            else if (run == 2) AppendNumber(out, day, 2);
            else if (run == 3) out += shortDayNames[DayOfWeek(year, month, day)];
            else out += longDayNames[DayOfWeek(year, month, day)];
            break;
        case 'm':
            if (afterHour && run <= 2) {
                AppendNumber(out, minute, static_cast<int>(run));
                afterHour = false;
                break;
            }
            if (run <= 2) AppendNumber(out, month, static_cast<int>(run));
            else if (month >= 1 && month <= 12)
                out += run == 3 ? shortMonthNames[month - 1] : longMonthNames[month - 1];
            break;
        case 'y':
            afterHour = false;
            if (run <= 2) AppendNumber(out, ((year % 100) + 100) % 100, 2);
            else AppendNumber(out, year, 4);
            break;
        case 'h': {
            int shown = hour;
            if (twelveHour)
                shown = hour % 12 == 0 ? 12 : hour % 12;
            AppendNumber(out, shown, run >= 2 ? 2 : 1);
            afterHour = true;
            break;
        }
        case 'n':
            AppendNumber(out, minute, run >= 2 ? 2 : 1);
            afterHour = false;
            break;
        case 's':
            AppendNumber(out, second, run >= 2 ? 2 : 1);
            afterHour = false;
            break;
        case 'z':
            AppendNumber(out, millisecond, run >= 3 ? 3 : 1);
            afterHour = false;
            break;
        }
    }
    return out;
}

} // namespace querlin::platform
