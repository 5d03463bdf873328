// Feeds bytes to the connection-string parsers and builders. The first byte
// picks what the rest is:
//   even: a connection string, read in both forms;
//   odd:  the parts of a sign-on (data source, user, password, server),
//         separated by 0x1F bytes.
// Invariants besides the sanitizers' own:
//  - parsing returns pairs or throws querlin::Error, and the error text
//    never quotes a value or a piece of one (it may be a password): text of
//    five or more characters from a 0x1E byte on marks itself and must not
//    appear (see CheckQuietError);
//  - every key comes out trimmed and non-empty;
//  - building a parsed string again and parsing that gives the same pairs
//    (the builders quote exactly what needs it), in both forms;
//  - the read-only connection string carries user and password whole to
//    both layers: the outer part's "User ID" and "Password", and the
//    driver's part's DSN, UID, PWD and SERVER, whatever characters they hold.
#include "FuzzCheck.h"
#include "data/ConnectionString.h"
#include "platform/Error.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using querlin::data::BuildAdo;
using querlin::data::BuildOdbc;
using querlin::data::ConnectionString;
using querlin::data::DataSourceSignOn;
using querlin::data::ReadOnlyConnectionString;

namespace {

bool Blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void CheckKeys(const ConnectionString& parsed)
{
    for (const auto& [key, value] : parsed.Entries()) {
        FUZZ_CHECK(!key.empty());
        FUZZ_CHECK(!Blank(key.front()) && !Blank(key.back()));
    }
}

// Marked text: a run from a 0x1E byte up to the next ';' or the end with no
// "=", quote or brace in it, so it is a value or a piece of one (a password
// holding a ';' written bare leaves such a piece behind), never a key.
void CheckQuietError(std::string_view input, const querlin::Error& error)
{
    const std::string message = error.what();
    for (std::size_t at = input.find('\x1E'); at != std::string_view::npos; at = input.find('\x1E', at + 1)) {
        const std::size_t end = input.find(';', at);
        const std::string_view marked = input.substr(at, end == std::string_view::npos ? end : end - at);
        // A run found twice in the input may also stand in a key; skip it.
        if (marked.size() >= 5 && marked.find_first_of("=\"'{}") == std::string_view::npos &&
            input.find(marked) == at && input.rfind(marked) == at)
            FUZZ_CHECK(message.find(marked) == std::string::npos);
    }
}

template <class Parse, class Build>
void CheckForm(std::string_view text, Parse parse, Build build)
{
    ConnectionString parsed;
    try {
        parsed = parse(text);
    } catch (const querlin::Error& e) {
        CheckQuietError(text, e);
        return;
    }
    CheckKeys(parsed);
    const std::string rebuilt = build(parsed.Entries());
    ConnectionString again;
    try {
        again = parse(rebuilt);
    } catch (const querlin::Error& e) {
        std::fprintf(stderr, "rebuilt string does not parse: %s\n", e.what());
        FUZZ_CHECK(!"the rebuilt string parses");
    }
    FUZZ_CHECK(again.Entries() == parsed.Entries());
}

void CheckSignOn(std::string_view body)
{
    std::string parts[4];
    int part = 0;
    for (char c : body) {
        if (c == '\x1F' && part < 3)
            ++part;
        else
            parts[part] += c;
    }
    const DataSourceSignOn signOn{parts[0], parts[1], parts[2], parts[3]};
    const std::string text = ReadOnlyConnectionString(signOn);
    ConnectionString outer, inner;
    try {
        outer = ConnectionString::ParseAdo(text);
        inner = ConnectionString::ParseOdbc(outer.Value("Extended Properties").value_or(""));
    } catch (const querlin::Error& e) {
        std::fprintf(stderr, "built string does not parse: %s\n", e.what());
        FUZZ_CHECK(!"the built string parses");
    }
    FUZZ_CHECK(outer.Value("Provider") == "MSDASQL.1");
    FUZZ_CHECK(outer.Value("Mode") == "Read");
    FUZZ_CHECK(outer.Value("User ID") == signOn.user);
    FUZZ_CHECK(outer.Value("Password") == signOn.password);
    FUZZ_CHECK(inner.Value("DSN") == signOn.dsn);
    FUZZ_CHECK(inner.Value("UID") == signOn.user);
    FUZZ_CHECK(inner.Value("PWD") == signOn.password);
    if (signOn.server.empty())
        FUZZ_CHECK(!inner.Has("SERVER"));
    else
        FUZZ_CHECK(inner.Value("SERVER") == signOn.server);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 2 == 0) {
        CheckForm(body, ConnectionString::ParseAdo, BuildAdo);
        CheckForm(body, ConnectionString::ParseOdbc, BuildOdbc);
    } else {
        CheckSignOn(body);
    }
    return 0;
}
