#pragma once
// Letter case under the user's locale, for the UTF-8 text the program holds:
// the capitals of a text, written into a buffer the caller keeps, so that a
// search turning every cell to capitals allocates nothing once the buffer
// has grown. The rules are the locale's (LC_ALL, LC_CTYPE, LANG); the plain
// C/POSIX locale knows only ASCII letters, so there the Unicode rules of
// C.UTF-8 stand in for it. Plain C++; any thread may read.

#include <string>
#include <string_view>

namespace querlin::platform {

class LetterCase {
public:
    // The rules of the user's locale, read at the first call.
    static const LetterCase& User();

    // The capital of one character (itself when it has none).
    char32_t Upper(char32_t character) const;

    // The capitals of a UTF-8 text. The result views `buffer`, which grows
    // as needed and is never shrunk; a byte that starts no valid character
    // is kept as it is.
    std::string_view ToUpper(std::string_view text, std::string& buffer) const;

private:
    LetterCase();
    void* locale_ = nullptr;       // the C library's locale object, or none
    char asciiUpper_[128];         // the capital of each ASCII character...
    bool asciiStaysAscii_ = true;  // ...when every one of them is ASCII again
};

} // namespace querlin::platform
