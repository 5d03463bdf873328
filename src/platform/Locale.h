#pragma once
// The user's locale settings that the text forms of values depend on: the
// decimal separator, the short date format and the long time format, and
// the locale whose letter-case rules name comparisons follow. They
// are read once, at the first use, and stay for the life of the process;
// tests inject their own. Formats use the day/month/year letters of the
// desktop's regional settings ("yyyy-m-d", "h:nn:ss", "dd/mm/yyyy",
// "hh:nn:ss am/pm"). Plain C++; any thread may read, only start-up and tests
// write.

#include <string>

namespace querlin::platform {

struct LocaleSettings {
    std::string decimalSeparator = ".";
    std::string shortDateFormat = "yyyy-m-d";
    std::string longTimeFormat = "h:nn:ss";
    // "tr_TR", "de-DE", ...; empty: no language's own capitals (see
    // LetterCase.h).
    std::string letterCaseLocale;
};

// The settings in force: those injected last, else those read from the
// system at the first call.
const LocaleSettings& UserLocale();
void SetUserLocaleForTesting(const LocaleSettings& settings);

// Reads the settings from the process environment's locale (LC_NUMERIC for
// the separator, LC_TIME for the formats, LC_CTYPE for letter case; on
// Windows the user's regional settings and locale). The plain C/POSIX locale gives the defaults of LocaleSettings.
LocaleSettings ReadSystemLocale();

// Turns a strftime pattern ("%d/%m/%Y") into the letter form used above.
std::string FormatFromStrftime(const std::string& pattern);

// Turns a Windows regional-settings picture ("M/d/yyyy", "h:mm:ss tt",
// "yyyy'年'M'月'd'日'") into the letter form used above.
std::string FormatFromWindowsPicture(const std::string& picture);

// Formats a date and a time of day with a letter-form format.
// Letters: d dd ddd dddd, m mm mmm mmmm (minutes when right after an hour),
// yy yyyy, h hh, n nn, s ss, z zzz, am/pm a/p ampm; text in quotes is copied.
std::string FormatDateTime(const std::string& format, int year, int month, int day,
                           int hour, int minute, int second, int millisecond);

} // namespace querlin::platform
