#include "login/NetServiceFile.h"

#include "platform/AsciiText.h"
#include "platform/AtomicFile.h"
#include "platform/Error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace querlin::login {

namespace {

const char* const LineEnd = "\r\n";
// The layout of the lines the writer fills in. The reader recognises its own
// lines by them (see IsWriterLayout).
const std::string_view AddressPrefix = "      (ADDRESS = (PROTOCOL = TCP)(HOST = ";
const std::string_view SidPrefix = "       (SID = ";
const std::string_view EntryNameSuffix = " =";

// Values drop every control character and blank at both ends.
std::string Trim(std::string_view s)
{
    return std::string(platform::Trim(s, platform::kControlsAndSpace));
}

// The arithmetic below is done in 1-based positions, 0 meaning "not found":
// a search that fails then makes the cuts come out empty or whole, as the
// reader relies on for lines that lack a mark, where 0-based indices and
// npos would wrap round. Pos and DeleteFirst are the only places that
// translate to std::string indices.
std::size_t Pos(const std::string& s, std::string_view what)
{
    auto at = s.find(what);
    return at == std::string::npos ? 0 : at + 1;
}

// Deletes the first count characters; a count past the end empties s.
void DeleteFirst(std::string& s, long long count)
{
    if (count <= 0)
        return;
    s.erase(0, std::min<std::size_t>(static_cast<std::size_t>(count), s.size()));
}

// The count characters starting at 1-based position start, trimmed; the
// empty text when count is zero or less.
std::string Cut(const std::string& s, long long start, long long count)
{
    if (count <= 0 || start < 1 || static_cast<std::size_t>(start) > s.size())
        return {};
    return Trim(std::string_view(s).substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count)));
}

// Text between the first "=" and the first ")" of s, when s holds an "=".
std::optional<std::string> ValueBetweenEqualsAndParen(const std::string& s)
{
    auto e = static_cast<long long>(Pos(s, "="));
    if (e == 0)
        return std::nullopt;
    auto r = static_cast<long long>(Pos(s, ")"));
    return Cut(s, e + 1, r - e - 1);
}

// A line the writer can produce: the entry name line, the address line or
// the SID line. Those are always read by the rules alone, whatever texts were
// put into them, so that a written file reads back as the rules give.
bool IsWriterLayout(std::string_view line)
{
    return line.starts_with(AddressPrefix) || line.starts_with(SidPrefix) || line.ends_with(EntryNameSuffix);
}

void ReadLine(std::string_view line, CompactForms compact, NetServiceEntry& entry)
{
    const bool acceptCompact = compact == CompactForms::Accept && !IsWriterLayout(line);
    std::string s = platform::AsciiUpper(line);

    if (auto p = Pos(s, "HOST"); p != 0) {
        DeleteFirst(s, p); // s now starts with "OST"
        if (auto host = ValueBetweenEqualsAndParen(s))
            entry.host = std::move(*host);

        if (auto q = static_cast<long long>(Pos(s, "PORT")); q != 0) {
            DeleteFirst(s, q + 3);
            auto e = static_cast<long long>(Pos(s, "="));
            // The writer puts a blank behind the "=", and the count drops it;
            // in "PORT=1521" the character behind the "=" is the first digit.
            bool keepNext = acceptCompact && e != 0 && static_cast<std::size_t>(e) < s.size() &&
                            static_cast<unsigned char>(s[static_cast<std::size_t>(e)]) > 32;
            DeleteFirst(s, keepNext ? e : e + 1);
            auto r = Pos(s, ")");
            entry.port = r == 0 ? std::string() : Trim(std::string_view(s).substr(0, r - 1));
        }
    }

    if (auto p = static_cast<long long>(Pos(s, "SID")); p != 0) {
        // The count drops the character after "SID", the writer's blank; in
        // "SID=ORCL" that character is the "=" itself.
        bool keepEquals = acceptCompact && static_cast<std::size_t>(p + 2) < s.size() &&
                          s[static_cast<std::size_t>(p + 2)] == '=';
        DeleteFirst(s, keepEquals ? p + 2 : p + 3);
        if (auto sid = ValueBetweenEqualsAndParen(s))
            entry.sid = std::move(*sid);
    }
}

std::string FullPath(const std::filesystem::path& file)
{
    std::error_code ec;
    auto full = std::filesystem::absolute(file, ec);
    return (ec ? file : full).lexically_normal().string();
}

[[noreturn]] void ThrowCannotCreate(const std::filesystem::path& file, int error)
{
    throw Error("Cannot create file \"" + FullPath(file) + "\". " + std::strerror(error));
}

[[noreturn]] void ThrowCannotOpen(const std::filesystem::path& file, int error)
{
    throw Error("Cannot open file \"" + FullPath(file) + "\". " + std::strerror(error));
}

} // namespace

std::string NetServiceText(const std::string& host, const std::string& port, const std::string& sid)
{
    const std::string lines[] = {
        "# TNSNAMES.ORA Network Configuration File:C:\\oracle\\ora90\\network\\admin\\tnsnames.ora",
        "# Generated by Oracle configuration tools.",
        "",
        sid + std::string(EntryNameSuffix),
        "  (DESCRIPTION =",
        "    (ADDRESS_LIST =",
        std::string(AddressPrefix) + host + ")(PORT = " + port + "))",
        "    )",
        "    (CONNECT_DATA =",
        std::string(SidPrefix) + sid + ")",
        "    )",
        "  )",
    };
    std::string text;
    for (const auto& line : lines)
        text += line + LineEnd;
    return text;
}

NetServiceEntry ParseNetServiceText(std::string_view bytes, CompactForms compact)
{
    if (auto nul = bytes.find('\0'); nul != std::string_view::npos)
        bytes = bytes.substr(0, nul);

    NetServiceEntry entry;
    std::size_t start = 0;
    while (start < bytes.size()) {
        auto end = bytes.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            ReadLine(bytes.substr(start), compact, entry);
            break;
        }
        ReadLine(bytes.substr(start, end - start), compact, entry);
        start = end + 1;
        if (bytes[end] == '\r' && start < bytes.size() && bytes[start] == '\n')
            ++start;
    }
    return entry;
}

void WriteNetServiceFile(const std::filesystem::path& file, const std::string& host, const std::string& port,
                         const std::string& sid)
{
    // A line break inside a text would split its line and leave an entry
    // that neither this program nor the database client reads as meant (a
    // host pasted with its line end is the usual way to get one), and a NUL
    // would end the text for every reader; such a file is not written.
    const std::pair<const char*, const std::string*> texts[] = {
        {"The host address", &host}, {"The port", &port}, {"The SID", &sid}};
    for (const auto& [what, text] : texts) {
        if (text->find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
            throw Error("Cannot create file \"" + FullPath(file) + "\". " + what +
                        " contains a line break or NUL character");
    }

    if (auto error = platform::ReplaceFileAtomically(file, NetServiceText(host, port, sid)))
        ThrowCannotCreate(file, error.value());
}

NetServiceEntry ReadNetServiceFile(const std::filesystem::path& file)
{
#ifdef _WIN32
    // The wide name reaches every file; a folder cannot be opened as a file
    // here, so it is told apart before opening.
    struct _stat64 named {};
    if (::_wstat64(file.c_str(), &named) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {};
        ThrowCannotOpen(file, errno);
    }
    if ((named.st_mode & _S_IFMT) == _S_IFDIR)
        ThrowCannotOpen(file, EISDIR);
    int fd = ::_wopen(file.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        if (errno == ENOENT)
            return {};
        ThrowCannotOpen(file, errno);
    }
    struct _stat64 status {};
    const bool known = ::_fstat64(fd, &status) == 0;
    const int statError = errno;
#else
    // Not blocking on open: a pipe of that name with no writer would
    // otherwise hold the window's creation forever.
    int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {};
        ThrowCannotOpen(file, errno);
    }
    struct stat status {};
    const bool known = ::fstat(fd, &status) == 0;
    const int statError = errno;
#endif
    if (!known || !S_ISREG(status.st_mode)) {
        ::close(fd);
        if (!known)
            ThrowCannotOpen(file, statError);
        if (S_ISDIR(status.st_mode))
            ThrowCannotOpen(file, EISDIR);
        // Only a plain file is read: a device could feed bytes without end.
        throw Error("Cannot open file \"" + FullPath(file) + "\". Not a regular file");
    }

    std::string bytes;
    char buffer[8192];
    for (;;) {
        const auto n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int error = errno;
            ::close(fd);
            ThrowCannotOpen(file, error);
        }
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ParseNetServiceText(bytes);
}

} // namespace querlin::login
