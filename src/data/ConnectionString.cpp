#include "data/ConnectionString.h"

#include "platform/AsciiText.h"
#include "platform/Error.h"

namespace querlin::data {

namespace {

// The message never quotes the value: it may be a password.
[[noreturn]] void ThrowMalformed(const std::string& reason)
{
    throw Error("Invalid connection string: " + reason + ".");
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text)
{
    return platform::Trim(text, platform::kSpaceTabAndLineEnds);
}

// Reads an enclosed value from just after its opening character up to the
// closing one, in which the closing character written twice stands for
// itself; then skips blanks up to the ";" that must follow. `what` and
// `closing` name the parts in the error texts.
std::string ReadEnclosed(std::string_view text, std::size_t& i, char close, const std::string& key,
                         const char* what, const char* closing)
{
    const std::size_t n = text.size();
    std::string value;
    bool closed = false;
    while (i < n) {
        if (text[i] == close) {
            if (i + 1 < n && text[i + 1] == close) {
                value += close;
                i += 2;
                continue;
            }
            ++i;
            closed = true;
            break;
        }
        value += text[i++];
    }
    if (!closed)
        ThrowMalformed(std::string(what) + " of \"" + key + "\" is not closed");
    while (i < n && IsBlank(text[i]))
        ++i;
    if (i < n && text[i] != ';')
        ThrowMalformed("text follows " + std::string(closing) + " of \"" + key + "\"");
    return value;
}

} // namespace

bool SameKey(std::string_view a, std::string_view b)
{
    return platform::EqualsAsciiNoCase(a, b);
}

ConnectionString ConnectionString::ParseAdo(std::string_view text)
{
    ConnectionString result;
    result.lastWins_ = true;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        if (text[i] == ';' || IsBlank(text[i])) {
            ++i;
            continue;
        }
        // Key: up to a single "=", where "==" stands for a literal "=".
        std::string key;
        bool sawEquals = false;
        while (i < n) {
            char c = text[i];
            if (c == '=') {
                if (i + 1 < n && text[i + 1] == '=') {
                    key += '=';
                    i += 2;
                    continue;
                }
                ++i;
                sawEquals = true;
                break;
            }
            if (c == ';')
                break;
            key += c;
            ++i;
        }
        std::string trimmedKey(Trim(key));
        // Text without "=" is not known to be a key: it may be the rest of a
        // password written bare with a ";" inside. Name the key before it.
        if (!sawEquals)
            ThrowMalformed(result.entries_.empty()
                               ? std::string("the first part has no \"=\"")
                               : "the part after \"" + result.entries_.back().first + "\" has no \"=\"");
        if (trimmedKey.empty())
            ThrowMalformed("a value has no key");

        while (i < n && IsBlank(text[i]))
            ++i;
        std::string value;
        if (i < n && (text[i] == '"' || text[i] == '\'')) {
            const char quote = text[i++];
            value = ReadEnclosed(text, i, quote, trimmedKey, "the quoted value", "the closing quote");
        } else {
            std::size_t start = i;
            while (i < n && text[i] != ';')
                ++i;
            value = std::string(Trim(text.substr(start, i - start)));
        }
        result.entries_.emplace_back(std::move(trimmedKey), std::move(value));
    }
    return result;
}

ConnectionString ConnectionString::ParseOdbc(std::string_view text)
{
    ConnectionString result;
    result.lastWins_ = false;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        if (text[i] == ';' || IsBlank(text[i])) {
            ++i;
            continue;
        }
        std::size_t keyStart = i;
        while (i < n && text[i] != '=' && text[i] != ';')
            ++i;
        std::string key(Trim(text.substr(keyStart, i - keyStart)));
        if (i >= n || text[i] == ';') {
            // A lone word without "=": drivers ignore it, and so do we.
            continue;
        }
        ++i;  // "="
        while (i < n && IsBlank(text[i]))
            ++i;
        std::string value;
        if (i < n && text[i] == '{') {
            ++i;
            value = ReadEnclosed(text, i, '}', key, "the value in braces", "the closing brace");
        } else {
            std::size_t start = i;
            while (i < n && text[i] != ';')
                ++i;
            value = std::string(Trim(text.substr(start, i - start)));
        }
        if (!key.empty())
            result.entries_.emplace_back(std::move(key), std::move(value));
    }
    return result;
}

std::optional<std::string> ConnectionString::Value(std::string_view key) const
{
    std::optional<std::string> found;
    for (const auto& [k, v] : entries_) {
        if (SameKey(k, key)) {
            found = v;
            if (!lastWins_)
                break;
        }
    }
    return found;
}

std::string QuoteAdoValue(std::string_view value)
{
    bool needs = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                                    value.front() == '"' || value.front() == '\'' ||
                                    // "Key==" would read as a key holding "="
                                    value.front() == '=');
    if (value.find(';') != std::string_view::npos)
        needs = true;
    if (!needs)
        return std::string(value);
    return platform::Enclose(value, '"');
}

std::string QuoteOdbcValue(std::string_view value)
{
    bool needs = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
    if (value.find_first_of(";{}=") != std::string_view::npos)
        needs = true;
    if (!needs)
        return std::string(value);
    return platform::Enclose(value, '{', '}');
}

std::string BuildAdo(const std::vector<ConnectionString::Entry>& entries)
{
    std::string out;
    for (const auto& [key, value] : entries) {
        out += platform::DoubleEvery(key, '=');
        out += '=';
        out += QuoteAdoValue(value);
        out += ';';
    }
    return out;
}

std::string BuildOdbc(const std::vector<ConnectionString::Entry>& entries)
{
    std::string out;
    for (const auto& [key, value] : entries) {
        out += key;
        out += '=';
        out += QuoteOdbcValue(value);
        out += ';';
    }
    return out;
}

std::string OdbcSignOn(const DataSourceSignOn& signOn)
{
    std::string out = "DSN=" + QuoteOdbcValue(signOn.dsn) + ";UID=" + QuoteOdbcValue(signOn.user) +
                      ";PWD=" + QuoteOdbcValue(signOn.password);
    if (!signOn.server.empty())
        out += ";SERVER=" + QuoteOdbcValue(signOn.server);
    return out;
}

std::string ReadOnlyConnectionString(const DataSourceSignOn& signOn)
{
    // The driver's part is one value of the outer part, always in double
    // quotes; its own double quotes are doubled to stay inside them.
    return "Provider=MSDASQL.1;Password=" + QuoteAdoValue(signOn.password) +
           ";Persist Security Info=True;User ID=" + QuoteAdoValue(signOn.user) +
           ";Mode=Read;Extended Properties=" + platform::Enclose(OdbcSignOn(signOn) + ";", '"');
}

} // namespace querlin::data
