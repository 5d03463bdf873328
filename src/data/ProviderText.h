#pragma once
// Text conversions the providers share: everything that enters a row sink
// is valid UTF-8, whatever the source delivered. Invalid sequences and lone
// surrogates become U+FFFD rather than failing the whole result, so one bad
// value never hides the rest of a table. The conversions themselves are the
// platform's; the providers name them through this header.

#include "platform/Utf8.h"

#include <string>
#include <string_view>

namespace querlin::data {

using platform::AppendUtf16AsUtf8;
using platform::IsValidUtf8;
using platform::Utf16ToUtf8;
using platform::Utf8Length;
using platform::Utf8ToUtf16;

// The text itself when it is valid UTF-8, otherwise a copy with each invalid
// sequence replaced by one U+FFFD.
inline std::string ValidUtf8(std::string_view bytes)
{
    return platform::RepairUtf8(bytes, platform::Utf8Repair::EachSequence);
}

} // namespace querlin::data
