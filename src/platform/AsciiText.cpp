#include "platform/AsciiText.h"

namespace querlin::platform {

char AsciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string AsciiUpper(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = AsciiUpper(c);
    return out;
}

std::string AsciiLower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = AsciiLower(c);
    return out;
}

bool EqualsAsciiNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

bool HasAsciiNoCaseAt(std::string_view text, std::size_t at, std::string_view word)
{
    return at <= text.size() && text.size() - at >= word.size() &&
           EqualsAsciiNoCase(text.substr(at, word.size()), word);
}

std::string_view TrimLeft(std::string_view text, std::string_view blanks)
{
    const std::size_t first = text.find_first_not_of(blanks);
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

std::string_view TrimRight(std::string_view text, std::string_view blanks)
{
    const std::size_t last = text.find_last_not_of(blanks);
    return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

std::string_view Trim(std::string_view text, std::string_view blanks)
{
    return TrimRight(TrimLeft(text, blanks), blanks);
}

std::string DoubleEvery(std::string_view text, char twice)
{
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        out += c;
        if (c == twice)
            out += c;
    }
    return out;
}

std::string Enclose(std::string_view text, char open, char close)
{
    std::string out(1, open);
    out += DoubleEvery(text, close);
    out += close;
    return out;
}

} // namespace querlin::platform
