#pragma once
// UTF-8 checking, repair and conversion to and from UTF-16: the one place
// where the program takes text bytes apart. Text is UTF-8 inside the
// program; what comes from outside (a driver, a store, a file) is checked
// here and repaired rather than refused, so one bad value never hides the
// rest. Plain functions, any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace querlin::platform {

// The length (1 to 4) of the well-formed sequence that starts at text[at],
// or 0 when none does: a stray continuation byte, a cut sequence, an
// overlong form, a surrogate or a value above U+10FFFF. When codePoint is
// given it receives the decoded value of a well-formed sequence.
std::size_t Utf8SequenceAt(std::string_view text, std::size_t at, char32_t* codePoint = nullptr);

bool IsValidUtf8(std::string_view text);

// How RepairUtf8 counts the replacement characters it puts in.
enum class Utf8Repair {
    // One U+FFFD for a lead byte together with the continuation bytes that
    // follow it as far as the lead byte promised ("\xE6\xB1" cut at the
    // end gives one), so a cut character reads as one lost character.
    EachSequence,
    // One U+FFFD for every byte that starts no well-formed sequence, so the
    // number of lost bytes stays visible ("\xE4\xB8" gives two).
    EachByte,
};

// The text itself when it is valid UTF-8, else a copy with the invalid
// bytes replaced by U+FFFD as `repair` says. The result is always valid.
std::string RepairUtf8(std::string_view text, Utf8Repair repair = Utf8Repair::EachSequence);

// Appends one code point as UTF-8 (the caller passes a valid scalar value).
void AppendUtf8(std::string& out, char32_t codePoint);

// The number of characters of valid UTF-8 text.
std::size_t Utf8Length(std::string_view text);

// Writes UTF-16 code units as UTF-8 to out, which must hold 3 * count
// bytes; returns the number of bytes written. A lone surrogate becomes
// U+FFFD; so does a high surrogate at the very end, so callers that read in
// pieces keep it back for the next piece.
std::size_t Utf16ToUtf8(const char16_t* units, std::size_t count, char* out);
void AppendUtf16AsUtf8(std::string& out, const char16_t* units, std::size_t count);
std::string Utf16ToUtf8(std::u16string_view units);

// UTF-8 to UTF-16; every byte that starts no well-formed sequence becomes
// U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

} // namespace querlin::platform
