#include "platform/FileRegistry.h"

#include "platform/AsciiText.h"
#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/LetterCase.h"
#include "platform/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace querlin::platform {

namespace {

const char* const kHeader = "Windows Registry Editor Version 5.00";
// The header of the older form, whose text and hex(1)/hex(2)/hex(7) data are
// in the 8-bit code page instead of UTF-16.
const char* const kHeader4 = "REGEDIT4";
const char* const kRoot = "HKEY_LOCAL_MACHINE";
const char* const kByteOrderMark = "\xFF\xFE";
const char* const kLineEnd = "\r\n";
// Hex data are wrapped once a line reaches this many characters, leaving
// room for the "," and the "\" that ends it inside 80 columns.
const size_t kHexWrapColumn = 76;

// ---- UTF-16LE bytes ----------------------------------------------------

std::string Utf16LeBytes(const std::u16string& units)
{
    std::string out;
    out.reserve(2 * units.size());
    for (char16_t unit : units) {
        out += char(unit & 0xFF);
        out += char(unit >> 8);
    }
    return out;
}

std::u16string Utf16LeUnits(std::string_view bytes)
{
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = char16_t(static_cast<unsigned char>(bytes[2 * i]) |
                            (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return units;
}

std::string Utf8ToUtf16Le(const std::string& text) { return Utf16LeBytes(Utf8ToUtf16(text)); }

std::string Utf16LeToUtf8(const std::string& bytes) { return Utf16ToUtf8(Utf16LeUnits(bytes)); }

bool IsText(RegType type) { return type == RegType::Sz || type == RegType::ExpandSz; }

// The 1-based line of the text in which offset lies.
int LineAt(std::string_view text, size_t offset)
{
    return 1 + int(std::count(text.begin(), text.begin() + std::min(offset, text.size()), '\n'));
}

// ---- Parsing ---------------------------------------------------------------

class Parser {
public:
    Parser(const std::string& fileName) : fileName_(fileName) {}

    [[noreturn]] void Fail(const std::string& why) const
    {
        throw Error("The registry file '" + fileName_ + "' is damaged (line " + std::to_string(line_) + ": " +
                    why + ")");
    }

    hive::Hive Run(const std::string& raw)
    {
        std::string text = Decode(raw);
        std::vector<std::string> lines;
        {
            std::string current;
            for (char c : text) {
                if (c == '\n') {
                    lines.push_back(current);
                    current.clear();
                } else {
                    current += c;
                }
            }
            lines.push_back(current);
            for (auto& l : lines)
                if (!l.empty() && l.back() == '\r')
                    l.pop_back();
        }

        hive::Hive result;
        hive::Key* key = nullptr;
        bool headerSeen = false;
        for (size_t i = 0; i < lines.size(); ++i) {
            line_ = int(i) + 1;
            std::string l = TrimLeft(lines[i]);
            if (l.empty() || l[0] == ';')
                continue;
            if (!headerSeen) {
                const std::string header = TrimRight(l);
                if (header == kHeader4)
                    eightBitData_ = true;
                else if (header != kHeader)
                    Fail("expected \"" + std::string(kHeader) + "\" or \"" + kHeader4 + "\"");
                headerSeen = true;
                continue;
            }
            if (l[0] == '[') {
                l = TrimRight(l);
                if (l.back() != ']' || l.size() < 3)
                    Fail("a key name must be closed by ']'");
                std::string path = l.substr(1, l.size() - 2);
                if (path[0] == '-')
                    Fail("key deletions do not belong in a hive");
                // The registry keeps keys at most 512 levels deep; a deeper
                // path is no hive's, and each of its levels costs a look-up.
                if (std::count(path.begin(), path.end(), '\\') > 512)
                    Fail("a key path is more than 512 levels deep");
                result.AddKey(path);
                key = result.FindKey(path);
                if (!key) {
                    result.keys.push_back({path, {}});
                    key = &result.keys.back();
                }
                continue;
            }
            if (l[0] != '"' && l[0] != '@')
                Fail("expected a key in brackets or a value");
            if (!key)
                Fail("a value before the first key");
            // Long hex data continues on the next lines after a backslash.
            while (true) {
                std::string t = TrimRight(l);
                if (t.empty() || t.back() != '\\' || !IsHexLine(t))
                    break;
                if (i + 1 >= lines.size())
                    Fail("the value's data breaks off at the end of the file");
                t.pop_back();
                l = t + TrimLeft(lines[++i]);
            }
            ParseValue(l, *key);
        }
        if (!headerSeen && !TrimLeft(text).empty())
            Fail("expected \"" + std::string(kHeader) + "\"");
        return result;
    }

private:
    static std::string TrimLeft(const std::string& s) { return std::string(platform::TrimLeft(s)); }
    static std::string TrimRight(const std::string& s) { return std::string(platform::TrimRight(s)); }
    static bool IsHexLine(const std::string& l)
    {
        // The name is quoted, so look for "=hex" after its closing quote.
        size_t eq = l.find("\"=hex");
        if (l[0] == '@')
            return l.rfind("@=hex", 0) == 0;
        return eq != std::string::npos;
    }

    // The file's text as UTF-8. A byte-order mark says UTF-16LE (what
    // regedit writes and what we write); without one, a REGEDIT4 file is in
    // the 8-bit code page and anything else is UTF-8, as earlier builds of
    // this program wrote the hive.
    std::string Decode(const std::string& raw)
    {
        if (raw.rfind(kByteOrderMark, 0) == 0) {
            const std::string_view body = std::string_view(raw).substr(2);
            const std::u16string units = Utf16LeUnits(body);
            for (size_t i = 0; i < units.size(); ++i) {
                const char16_t u = units[i];
                const bool high = u >= 0xD800 && u <= 0xDBFF;
                const bool low = u >= 0xDC00 && u <= 0xDFFF;
                if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
                    ++i;
                } else if (high || low) {
                    line_ = 1 + int(std::count(units.begin(), units.begin() + i, u'\n'));
                    Fail("half of a UTF-16 surrogate pair");
                }
            }
            if (body.size() % 2 != 0) {
                line_ = 1 + int(std::count(units.begin(), units.end(), u'\n'));
                Fail("the UTF-16 text ends in half a character");
            }
            return Utf16ToUtf8(units);
        }
        std::string_view text = raw;
        if (text.substr(0, 3) == "\xEF\xBB\xBF")
            text.remove_prefix(3);
        if (platform::TrimLeft(text, kSpaceTabAndLineEnds).substr(0, std::strlen(kHeader4)) == kHeader4) {
            size_t badAt = 0;
            if (auto decoded = CodePageToUtf8(text, kProgramCodePage, &badAt))
                return *decoded;
            line_ = LineAt(text, badAt);
            Fail("not text in code page " + std::to_string(kProgramCodePage));
        }
        for (size_t at = 0; at < text.size();) {
            const size_t length = Utf8SequenceAt(text, at);
            if (length == 0) {
                line_ = LineAt(text, at);
                Fail("the text is neither UTF-8 nor UTF-16 with a byte-order mark");
            }
            at += length;
        }
        return std::string(text);
    }

    // hex(N) data of a text type in a REGEDIT4 file: code page bytes.
    std::string EightBitText(const std::string& bytes) const
    {
        auto text = CodePageToUtf8(bytes, kProgramCodePage);
        if (!text)
            Fail("the value's bytes are not text in code page " + std::to_string(kProgramCodePage));
        return *text;
    }

    // A quoted string starting at pos; leaves pos after the closing quote.
    std::string Quoted(const std::string& l, size_t& pos) const
    {
        std::string out;
        ++pos;
        while (true) {
            if (pos >= l.size())
                Fail("a quoted text is not closed");
            char c = l[pos++];
            if (c == '"')
                return out;
            if (c == '\\') {
                // Wine's regedit writes line breaks and NULs in a text as
                // \r, \n and \0; we write such texts as hex(1) instead.
                const char next = pos < l.size() ? l[pos] : '\0';
                if (next == '\\' || next == '"')
                    out += next;
                else if (next == 'r')
                    out += '\r';
                else if (next == 'n')
                    out += '\n';
                else if (next == '0')
                    out += '\0';
                else
                    Fail("a backslash in a quoted text must be followed by \\, \", r, n or 0");
                ++pos;
            } else {
                out += c;
            }
        }
    }

    std::string HexBytes(const std::string& list) const
    {
        std::string out;
        std::string t = TrimRight(list);
        if (t.empty())
            return out;
        size_t pos = 0;
        while (pos < t.size()) {
            while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t'))
                ++pos;
            size_t end = t.find(',', pos);
            std::string item = TrimRight(t.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
            if (item.size() != 2 || !platform::IsAsciiHexDigit(item[0]) || !platform::IsAsciiHexDigit(item[1]))
                Fail("\"" + item + "\" is not a hexadecimal byte");
            out += char(std::stoi(item, nullptr, 16));
            if (end == std::string::npos)
                break;
            pos = end + 1;
            if (pos >= t.size())
                Fail("a byte list ends in a comma");
        }
        return out;
    }

    void ParseValue(const std::string& l, hive::Key& key) const
    {
        size_t pos = 0;
        std::string name;
        if (l[0] == '@')
            pos = 1;
        else
            name = Quoted(l, pos);
        if (pos >= l.size() || l[pos] != '=')
            Fail("expected '=' after the value name");
        ++pos;
        std::string data = l.substr(pos);
        RegValue value;
        if (!data.empty() && data[0] == '"') {
            size_t p = 0;
            value.type = RegType::Sz;
            value.data = Quoted(data, p);
            if (!TrimLeft(data.substr(p)).empty())
                Fail("text after the closing quote");
        } else if (data.rfind("dword:", 0) == 0) {
            std::string digits = TrimRight(data.substr(6));
            if (digits.empty() || digits.size() > 8 ||
                digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                Fail("\"" + digits + "\" is not a dword");
            unsigned long n = std::stoul(digits, nullptr, 16);
            value.type = RegType::Dword;
            for (int i = 0; i < 4; ++i)
                value.data += char((n >> (8 * i)) & 0xFF);
        } else if (data.rfind("hex:", 0) == 0) {
            value.type = RegType::Binary;
            value.data = HexBytes(data.substr(4));
        } else if (data.rfind("hex(", 0) == 0) {
            size_t close = data.find("):");
            std::string digits = close == std::string::npos ? std::string() : data.substr(4, close - 4);
            if (digits.empty() || digits.size() > 8 ||
                digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                Fail("a value type must read hex(N): with N in hexadecimal");
            value.type = static_cast<RegType>(std::stoul(digits, nullptr, 16));
            value.data = HexBytes(data.substr(close + 2));
            if (eightBitData_ && IsText(value.type)) {
                // One byte per character (two for Chinese), ended by one NUL.
                value.data = EightBitText(value.data.substr(0, value.data.find('\0')));
            } else if (eightBitData_ && value.type == RegType::MultiSz) {
                // Held as the registry holds it: UTF-16LE, NULs and all.
                value.data = Utf8ToUtf16Le(EightBitText(value.data));
            } else if (IsText(value.type)) {
                if (value.data.size() % 2 != 0)
                    Fail("a text value of an odd number of bytes");
                std::string text = Utf16LeToUtf8(value.data);
                // The bytes hold the terminating NUL; the text does not.
                if (!text.empty() && text.back() == '\0')
                    text.pop_back();
                value.data = text;
            }
        } else if (data == "-") {
            Fail("value deletions do not belong in a hive");
        } else {
            Fail("unknown value data \"" + data + "\"");
        }
        if (hive::Value* existing = hive::FindValue(key, name))
            existing->value = value;
        else
            key.values.push_back({name, value});
    }

    std::string fileName_;
    int line_ = 0;
    bool eightBitData_ = false;  // a REGEDIT4 file
};

// ---- Formatting ------------------------------------------------------------

// A quoted text as the reader takes it back: backslash and quote escaped,
// and line breaks and NULs (a value name may hold them, as Wine's regedit
// writes them) as \r, \n and \0, so they never break the line.
std::string Escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\0') {
            out += "\\0";
        } else {
            if (c == '\\' || c == '"')
                out += '\\';
            out += c;
        }
    }
    return out;
}

// Appends the bytes to line as regedit writes them: "xx," each, wrapped
// with a backslash and a two-blank indent once the line reaches the wrap
// column. Columns count UTF-16 characters, as regedit counts them, so a
// Chinese value name wraps where regedit wraps it.
void AppendHex(std::string& line, std::string& out, const std::string& bytes)
{
    static const char* digits = "0123456789abcdef";
    size_t column = Utf8ToUtf16(line).size();
    for (size_t i = 0; i < bytes.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        line += digits[b >> 4];
        line += digits[b & 15];
        if (i + 1 < bytes.size()) {
            line += ',';
            column += 3;
            if (column > kHexWrapColumn) {
                out += line + "\\" + kLineEnd;
                line = "  ";
                column = 2;
            }
        }
    }
}

} // namespace

// ---- hive ------------------------------------------------------------------

namespace hive {

namespace {

// Key paths and value names compare as Windows compares them: one capital
// for each character, whatever the user's language.
bool SameFolded(const std::string& a, const std::string& b)
{
    return LetterCase::Ordinal().Equal(a, b);
}

} // namespace

std::string FoldCase(const std::string& text)
{
    return LetterCase::Ordinal().ToUpper(text);
}

void Hive::CatchUp() const
{
    if (indexed_ > keys.size()) {
        index_.clear();
        indexed_ = 0;
    }
    // The first of two keys of one name is the one found, as a walk would.
    for (; indexed_ < keys.size(); ++indexed_)
        index_.emplace(FoldCase(keys[indexed_].path), indexed_);
}

Key* Hive::FindKey(const std::string& path)
{
    const std::string folded = FoldCase(path);
    CatchUp();
    auto found = index_.find(folded);
    if (found == index_.end())
        return nullptr;
    if (found->second >= keys.size() || !SameFolded(keys[found->second].path, path)) {
        // keys was changed in place under the index: build it again.
        index_.clear();
        indexed_ = 0;
        CatchUp();
        found = index_.find(folded);
        if (found == index_.end())
            return nullptr;
    }
    return &keys[found->second];
}

const Key* Hive::FindKey(const std::string& path) const
{
    return const_cast<Hive*>(this)->FindKey(path);
}

bool Hive::AddKey(const std::string& path)
{
    // Every prefix below the root is a key of its own, as regedit lists
    // them; the root alone always exists and is not written.
    bool added = false;
    for (size_t sep = path.find('\\'); ; sep = path.find('\\', sep + 1)) {
        std::string prefix = sep == std::string::npos ? path : path.substr(0, sep);
        if (prefix.find('\\') != std::string::npos && !FindKey(prefix)) {
            keys.push_back({prefix, {}});
            added = true;
        }
        if (sep == std::string::npos)
            break;
    }
    return added;
}

Value* FindValue(Key& key, const std::string& name)
{
    for (auto& v : key.values)
        if (SameFolded(v.name, name))
            return &v;
    return nullptr;
}

const Value* FindValue(const Key& key, const std::string& name)
{
    return FindValue(const_cast<Key&>(key), name);
}

Hive Parse(const std::string& bytes, const std::string& fileName)
{
    return Parser(fileName).Run(bytes);
}

std::string Format(const Hive& hive)
{
    // Built as UTF-8 text, then written as regedit writes a version 5 file:
    // UTF-16LE behind a byte-order mark, CR LF line ends, a blank line after
    // the header and after every key.
    std::string out = std::string(kHeader) + kLineEnd + kLineEnd;
    for (const auto& key : hive.keys) {
        out += "[" + key.path + "]" + kLineEnd;
        for (const auto& v : key.values) {
            // Appended piece by piece: GCC 12 warns falsely (-Wrestrict)
            // about a literal added to a temporary string.
            std::string line;
            if (v.name.empty()) {
                line = "@=";
            } else {
                line += '"';
                line += Escape(v.name);
                line += "\"=";
            }
            const RegValue& value = v.value;
            bool plainText = value.type == RegType::Sz &&
                             value.data.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
            if (plainText) {
                line += '"';
                line += Escape(value.data);
                line += '"';
            } else if (value.type == RegType::Dword && value.data.size() == 4) {
                unsigned long n = 0;
                for (int i = 3; i >= 0; --i)
                    n = (n << 8) | static_cast<unsigned char>(value.data[i]);
                char buf[16];
                std::snprintf(buf, sizeof buf, "dword:%08lx", n);
                line += buf;
            } else {
                if (value.type == RegType::Binary) {
                    line += "hex:";
                } else {
                    char buf[24];
                    std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(value.type));
                    line += buf;
                }
                std::string bytes = value.data;
                if (IsText(value.type))
                    bytes = Utf8ToUtf16Le(value.data) + std::string(2, '\0');
                AppendHex(line, out, bytes);
            }
            out += line + kLineEnd;
        }
        out += kLineEnd;
    }
    return kByteOrderMark + Utf8ToUtf16Le(out);
}

} // namespace hive

// ---- FileRegistry ----------------------------------------------------------

namespace {

class FileRegistryKey : public RegistryKey {
public:
    FileRegistryKey(FileRegistry& registry, std::string path) : registry_(&registry), path_(std::move(path)) {}

    bool ValueExists(const std::string& name) override { return ReadValue(name).has_value(); }

    std::optional<RegValue> ReadValue(const std::string& name) override
    {
        return Registry().Read(path_, name);
    }

    void WriteString(const std::string& name, const std::string& text, RegType type) override
    {
        if (!IsText(type))
            throw Error("Failed to set data for '" + name + "'");
        Registry().Write(path_, name, RegValue{type, text});
    }

    void Close() override { registry_ = nullptr; }

private:
    FileRegistry& Registry()
    {
        if (!registry_)
            throw Error("The registry key '" + path_ + "' is closed");
        return *registry_;
    }

    FileRegistry* registry_;
    std::string path_;
};

// The full path of a key given below HKEY_LOCAL_MACHINE, leading backslash
// or not; empty parts (doubled or trailing separators) are dropped.
std::string FullPath(const std::string& path)
{
    std::string full = kRoot;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t sep = path.find('\\', pos);
        std::string part = path.substr(pos, sep == std::string::npos ? std::string::npos : sep - pos);
        if (!part.empty())
            full += "\\" + part;
        if (sep == std::string::npos)
            break;
        pos = sep + 1;
    }
    return full;
}

// Used by the Linux hive only; the Windows build keeps the real registry.
[[maybe_unused]] std::string Folder(const std::string& fileName)
{
    auto parent = std::filesystem::path(fileName).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

#ifndef _WIN32
class FileLock {
public:
    explicit FileLock(const std::string& lockName)
    {
        fd_ = ::open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0)
            return;
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~FileLock()
    {
        if (fd_ >= 0)
            ::close(fd_);  // releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

#endif

// True when every key and value name of before is still in after: a change
// adds or replaces, it never drops what the file held.
bool Covers(const hive::Hive& before, const hive::Hive& after)
{
    for (const auto& key : before.keys) {
        const hive::Key* kept = after.FindKey(key.path);
        if (!kept)
            return false;
        for (const auto& v : key.values)
            if (!hive::FindValue(*kept, v.name))
                return false;
    }
    return true;
}

// True when both hold the same keys and values with the same data.
[[maybe_unused]] bool Same(const hive::Hive& a, const hive::Hive& b)
{
    if (a.keys.size() != b.keys.size() || !Covers(a, b))
        return false;
    for (const auto& key : a.keys) {
        const hive::Key* other = b.FindKey(key.path);
        if (other->values.size() != key.values.size())
            return false;
        for (const auto& v : key.values) {
            const hive::Value* w = hive::FindValue(*other, v.name);
            if (w->value.type != v.value.type || w->value.data != v.value.data)
                return false;
        }
    }
    return true;
}

} // namespace

FileRegistry::FileRegistry(std::string fileName) : fileName_(std::move(fileName))
{
    // The program changes its current directory at start-up; a relative
    // name keeps meaning the file it named when the registry was made.
    std::error_code ec;
    auto absolute = std::filesystem::absolute(fileName_, ec);
    if (!ec)
        fileName_ = absolute.string();
}

hive::Hive FileRegistry::Load() const
{
    std::ifstream in(fileName_, std::ios::binary);
    if (!in) {
        std::error_code ec;
        if (!std::filesystem::exists(fileName_, ec))
            return {};
        throw Error("The registry file '" + fileName_ + "' cannot be read");
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad())
        throw Error("The registry file '" + fileName_ + "' cannot be read");
    return hive::Parse(bytes.str(), fileName_);
}

template <class Change> bool FileRegistry::Modify(Change&& change)
{
#ifdef _WIN32
    (void)change;
    return false;
#else
    if (!CanBeWritten())
        return false;
    FileLock lock(fileName_ + ".lock");
    if (!lock.Held())
        return false;
    // Another program may have written since we last looked: start from
    // what the file holds now.
    hive::Hive before = Load();
    hive::Hive after = before;
    if (!change(after))
        return true;
    if (!StoreLocked(before, after))
        return false;
    ++writeCount_;
    return true;
#endif
}

bool FileRegistry::CanBeWritten() const
{
#ifdef _WIN32
    return false;
#else
    std::error_code ec;
    std::filesystem::create_directories(Folder(fileName_), ec);
    if (::access(Folder(fileName_).c_str(), W_OK) != 0)
        return false;
    return ::access(fileName_.c_str(), F_OK) != 0 || ::access(fileName_.c_str(), W_OK) == 0;
#endif
}

bool FileRegistry::StoreLocked(const hive::Hive& before, const hive::Hive& after)
{
#ifdef _WIN32
    (void)before;
    (void)after;
    return false;
#else
    std::string text = hive::Format(after);
    // What goes to disk must read back as what we meant to store.
    hive::Hive check = hive::Parse(text, fileName_);
    if (!Covers(before, after) || !Same(after, check))
        return false;

    // A new hive is readable by every program that shares it.
    return !ReplaceFileAtomically(fileName_, text, {Placement::Replace, 0644});
#endif
}

std::unique_ptr<RegistryKey> FileRegistry::OpenOrCreateKey(const std::string& path)
{
    std::string full = FullPath(path);
    // Full access is asked for, so a hive we may not write is not opened
    // at all, whether the key exists or not.
    bool ok = Modify([&](hive::Hive& hive) { return hive.AddKey(full); });
    if (!ok)
        return nullptr;
    return std::make_unique<FileRegistryKey>(*this, full);
}

std::optional<RegValue> FileRegistry::Peek(const std::string& path, const std::string& name) const
{
    return Read(FullPath(path), name);
}

std::optional<RegValue> FileRegistry::Read(const std::string& keyPath, const std::string& name) const
{
    hive::Hive hive = Load();
    const hive::Key* key = hive.FindKey(keyPath);
    if (!key)
        return std::nullopt;
    const hive::Value* value = hive::FindValue(*key, name);
    if (!value)
        return std::nullopt;
    return value->value;
}

void FileRegistry::Write(const std::string& keyPath, const std::string& name, const RegValue& value)
{
    bool ok = Modify([&](hive::Hive& hive) {
        hive.AddKey(keyPath);
        hive::Key* key = hive.FindKey(keyPath);
        if (!key) {
            hive.keys.push_back({keyPath, {}});
            key = &hive.keys.back();
        }
        // An existing value keeps the spelling of its name.
        if (hive::Value* existing = hive::FindValue(*key, name))
            existing->value = value;
        else
            key->values.push_back({name, value});
        return true;
    });
    if (!ok)
        throw Error("Failed to set data for '" + name + "'");
}

std::string MachineRegistryFileName()
{
    const char* env = std::getenv("QUERLIN_REGISTRY");
    if (env && *env)
        return env;
    return "/var/lib/querlin/registry.reg";
}

} // namespace querlin::platform
