#pragma once
// Letter case, trimming and quoting by ASCII rules alone. File formats,
// connection strings and SQL names fold only a-z and A-Z: every other byte,
// UTF-8 included, stays as it is, whatever locale the process runs in.
// Plain functions, any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace querlin::platform {

char AsciiUpper(char c);
// 0-9, a-f or A-F, whatever the locale says.
inline bool IsAsciiHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
char AsciiLower(char c);
std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);
// Equal when only the case of ASCII letters differs.
bool EqualsAsciiNoCase(std::string_view a, std::string_view b);
// True when text holds word at position at, ASCII case aside.
bool HasAsciiNoCaseAt(std::string_view text, std::size_t at, std::string_view word);

// The sets of blanks the trimming functions drop.
inline constexpr std::string_view kSpaceAndTab = " \t";
// Blanks of a line-based text: the above and line ends.
inline constexpr std::string_view kSpaceTabAndLineEnds = " \t\r\n";
// What the C library calls white space: space, \t, \n, \v, \f, \r.
inline constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";
// Every control character and the space (bytes 0 to 32).
inline constexpr std::string_view kControlsAndSpace{
    "\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F"
    "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1A\x1B\x1C\x1D\x1E\x1F ",
    33};

// The text without the given blanks at its start, its end, or both.
std::string_view TrimLeft(std::string_view text, std::string_view blanks = kSpaceAndTab);
std::string_view TrimRight(std::string_view text, std::string_view blanks = kSpaceAndTab);
std::string_view Trim(std::string_view text, std::string_view blanks = kSpaceAndTab);

// text with every `twice` in it written twice, as SQL, connection strings
// and their like escape their closing character.
std::string DoubleEvery(std::string_view text, char twice);
// text between open and close, with every close inside written twice:
// Enclose("O'Hara", '\'') is 'O''Hara', Enclose("a}b", '{', '}') is {a}}b}.
std::string Enclose(std::string_view text, char open, char close);
inline std::string Enclose(std::string_view text, char quote) { return Enclose(text, quote, quote); }

} // namespace querlin::platform
