// Feeds arbitrary bytes to the net service name file reader. Besides the
// sanitizers' own checks it asserts what callers rely on:
//  - every value read is trimmed and holds no line break or NUL;
//  - a file the writer produced reads the same with and without the
//    allowance for compact forms (the input, cut in three at the first two
//    0x1F bytes and cleared of CR, LF and NUL, gives the three texts);
//  - texts holding none of the markers and no "(", ")" or "=" read back as
//    they went in, trimmed and in capitals.
#include "FuzzCheck.h"
#include "login/NetServiceFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using querlin::login::CompactForms;
using querlin::login::NetServiceEntry;
using querlin::login::NetServiceText;
using querlin::login::ParseNetServiceText;

namespace {

bool Blank(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}

void CheckValue(const std::optional<std::string>& value)
{
    if (!value || value->empty())
        return;
    FUZZ_CHECK(!Blank(value->front()) && !Blank(value->back()));
    FUZZ_CHECK(value->find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
}

void CheckEntry(const NetServiceEntry& entry)
{
    CheckValue(entry.host);
    CheckValue(entry.port);
    CheckValue(entry.sid);
}

std::string Upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string Trimmed(const std::string& s)
{
    std::size_t first = 0, last = s.size();
    while (first < last && Blank(s[first]))
        ++first;
    while (last > first && Blank(s[last - 1]))
        --last;
    return s.substr(first, last - first);
}

bool Plain(const std::string& text)
{
    auto upper = Upper(text);
    return upper.find_first_of("()=") == std::string::npos && upper.find("HOST") == std::string::npos &&
           upper.find("PORT") == std::string::npos && upper.find("SID") == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckEntry(ParseNetServiceText(bytes, CompactForms::Accept));
    CheckEntry(ParseNetServiceText(bytes, CompactForms::Ignore));

    std::string texts[3];
    int part = 0;
    for (char c : bytes) {
        if (c == '\x1F' && part < 2)
            ++part;
        else if (c != '\r' && c != '\n' && c != '\0')
            texts[part] += c;
    }
    const auto written = NetServiceText(texts[0], texts[1], texts[2]);
    const auto read = ParseNetServiceText(written, CompactForms::Accept);
    FUZZ_CHECK(read == ParseNetServiceText(written, CompactForms::Ignore));
    if (Plain(texts[0]) && Plain(texts[1]) && Plain(texts[2])) {
        FUZZ_CHECK(read.host == Trimmed(Upper(texts[0])));
        FUZZ_CHECK(read.port == Trimmed(Upper(texts[1])));
        FUZZ_CHECK(read.sid == Trimmed(Upper(texts[2])));
    }
    return 0;
}
