#pragma once
// Text conversions the providers share: everything that enters a row sink
// is valid UTF-8, whatever the source delivered. Invalid sequences and lone
// surrogates become U+FFFD rather than failing the whole result, so one bad
// value never hides the rest of a table.

#include <cstddef>
#include <string>
#include <string_view>

namespace querlin::data {

// Appends UTF-16 code units as UTF-8.
void AppendUtf16AsUtf8(std::string& out, const char16_t* units, std::size_t count);

// Writes UTF-16 code units as UTF-8 to out, which must hold 3 * count
// bytes; returns the number of bytes written. A high surrogate at the very
// end is written as U+FFFD: callers that read in pieces keep it back.
std::size_t Utf16ToUtf8(const char16_t* units, std::size_t count, char* out);

// UTF-8 to UTF-16; invalid input bytes become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

// The text itself when it is valid UTF-8, otherwise a copy with each invalid
// sequence replaced by U+FFFD.
std::string ValidUtf8(std::string_view bytes);

// The number of characters (code points) of valid UTF-8 text.
std::size_t Utf8Length(std::string_view utf8);

} // namespace querlin::data
