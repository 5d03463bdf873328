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
