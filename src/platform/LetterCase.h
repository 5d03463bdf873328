#pragma once
// Letter case for the whole program, in one place: which letter is the
// capital of which, for the UTF-8 text the program holds. Every comparison
// "without regard to letter case" goes through here, so a name matches or
// does not match the same way wherever it is looked up.
//
// The rules are Windows' own capitals table: the simple (one character for
// one) capital of each character of the basic plane, taken only where the
// capital's small letter is that character again. So "ä" and "Ä", "σ" and
// "Σ", "ａ" and "Ａ" are one letter, while "ς", "ı", "ſ" and "µ" keep their
// own (their capitals belong to "σ", "i", "s" and "μ"), "ß" has no capital
// and "ẞ" is a letter of its own; characters outside the basic plane are
// left as they are, as Windows' table holds none of them. On Linux the table
// is built from ICU's character properties, on Windows asked of the system
// (LCMapStringEx), and the two agree.
//
// Two sets of rules:
//   - Ordinal(): those alone, as Windows compares registry key and value
//     names (CompareStringOrdinal ignoring case), whatever the user's
//     language;
//   - ForLocale(name) / User(): those with the language's own capitals where
//     it has them (Turkish and Azeri: "i" to "İ", "ı" to "I"), for the texts
//     the user's locale governs: field names and the grids' find. In any
//     other language they are exactly Ordinal().
//
// Each set is built once (a table of the basic plane) and then only read:
// any thread may use it. The instances live for the life of the process.

#include <memory>
#include <string>
#include <string_view>

namespace querlin::platform {

class LetterCase {
public:
    // The rules for registry names.
    static const LetterCase& Ordinal();
    // The rules of a locale named as the system names it: "tr_TR.UTF-8",
    // "tr_TR", "tr-TR", "de"; the empty name (and "C", "POSIX") stands for
    // no language's own rules.
    static const LetterCase& ForLocale(std::string_view localeName);
    // The rules of the locale the program's locale settings name
    // (UserLocale().letterCaseLocale).
    static const LetterCase& User();

    // The capital of one character (itself when it has none).
    char32_t Upper(char32_t character) const;

    // The capitals of a UTF-8 text. The result views `buffer`, which grows
    // as needed and is never shrunk, so a search turning every cell to
    // capitals allocates nothing once it has grown; a byte that starts no
    // valid character is kept as it is.
    std::string_view ToUpper(std::string_view text, std::string& buffer) const;
    std::string ToUpper(std::string_view text) const;

    // ToUpper(a) == ToUpper(b), without making either.
    bool Equal(std::string_view a, std::string_view b) const;

    LetterCase(const LetterCase&) = delete;
    LetterCase& operator=(const LetterCase&) = delete;

private:
    explicit LetterCase(const std::string& language);
    std::unique_ptr<char16_t[]> upper_;  // the capital of each unit of the basic plane
};

// The language part of a locale name ("tr_TR.UTF-8@x" gives "tr_TR"), with
// "" for the plain C/POSIX locales.
std::string LetterCaseLocaleName(std::string_view localeName);

} // namespace querlin::platform
