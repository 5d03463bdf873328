#pragma once
// Text in an 8-bit Windows code page (936, the GBK of simplified Chinese,
// is the program's own), as older files such as REGEDIT4 registry exports
// hold it. Plain functions, any thread.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace querlin::platform {

// The code page of the program's 8-bit texts: Chinese (PRC).
inline constexpr unsigned kProgramCodePage = 936;

// The bytes as UTF-8, or nothing when they are not text in that code page
// (or the code page is unknown here); badAt then receives the offset of the
// first byte that could not be read.
std::optional<std::string> CodePageToUtf8(std::string_view bytes, unsigned codePage, std::size_t* badAt = nullptr);

} // namespace querlin::platform
