// Feeds bytes to the registry hive reader in each of the three forms it
// reads: the first byte picks one, the rest is the body.
//   0: the bytes as they are (UTF-8, or whatever the header says)
//   1: UTF-16LE behind a byte-order mark, as regedit writes version 5 files
//      (a body that is not UTF-8 is widened byte by byte, so surrogates and
//      odd lengths come from the selector's low bits instead)
//   2: a REGEDIT4 file in code page 936 (the header put in front)
// Invariants besides the sanitizers' own:
//  - Parse either returns a hive or throws querlin::Error, nothing else;
//  - a hive it returns formats to bytes that parse back to the same keys and
//    values (what every write checks before it replaces the file), and
//    formatting is stable: Format(Parse(Format(h))) == Format(h);
//  - no key path or value name is found twice (lookups fold case).
#include "FuzzCheck.h"
#include "platform/Error.h"
#include "platform/FileRegistry.h"
#include "platform/Utf8.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace hive = querlin::platform::hive;

namespace {

bool SameHive(const hive::Hive& a, const hive::Hive& b)
{
    if (a.keys.size() != b.keys.size())
        return false;
    for (std::size_t k = 0; k < a.keys.size(); ++k) {
        const auto& x = a.keys[k];
        const auto& y = b.keys[k];
        if (x.path != y.path || x.values.size() != y.values.size())
            return false;
        for (std::size_t v = 0; v < x.values.size(); ++v) {
            const auto& p = x.values[v];
            const auto& q = y.values[v];
            if (p.name != q.name || p.value.type != q.value.type || p.value.data != q.value.data)
                return false;
        }
    }
    return true;
}

void CheckUnique(const hive::Hive& h)
{
    for (std::size_t k = 0; k < h.keys.size(); ++k) {
        const auto& key = h.keys[k];
        FUZZ_CHECK(h.FindKey(key.path) == &key);
        for (const auto& v : key.values)
            FUZZ_CHECK(hive::FindValue(key, v.name) == &v);
    }
}

std::string Utf16Body(std::string_view body, unsigned selector)
{
    std::string out = "\xFF\xFE";
    std::u16string units;
    if (querlin::platform::IsValidUtf8(body))
        units = querlin::platform::Utf8ToUtf16(body);
    else
        for (unsigned char c : body)
            units += char16_t(c);
    // High selector bits: plant a lone surrogate or cut the last half unit.
    if (selector & 0x10)
        units.insert(units.size() / 2, 1, char16_t(0xD800 + (selector & 0x0F)));
    for (char16_t u : units) {
        out += char(u & 0xFF);
        out += char(u >> 8);
    }
    if (selector & 0x20)
        out.pop_back();
    return out;
}

void CheckHive(const std::string& bytes)
{
    hive::Hive parsed;
    try {
        parsed = hive::Parse(bytes, "fuzz.reg");
    } catch (const querlin::Error&) {
        return;  // damaged: refused by name, never written over
    }
    CheckUnique(parsed);
    const std::string formatted = hive::Format(parsed);
    hive::Hive again;
    try {
        again = hive::Parse(formatted, "fuzz.reg");
    } catch (const querlin::Error& e) {
        std::fprintf(stderr, "written hive does not parse: %s\n", e.what());
        FUZZ_CHECK(!"the formatted hive parses");
    }
    FUZZ_CHECK(SameHive(parsed, again));
    FUZZ_CHECK(hive::Format(again) == formatted);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const unsigned selector = data[0];
    const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (selector % 3) {
    case 0: CheckHive(std::string(body)); break;
    case 1: CheckHive(Utf16Body(body, selector)); break;
    default: CheckHive("REGEDIT4\r\n\r\n" + std::string(body)); break;
    }
    return 0;
}
