#include "platform/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <random>
#include <windows.h>
#else
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace querlin::platform {

namespace {

#ifdef _WIN32
// The system's last error as the errno value callers compare against.
std::error_code LastError()
{
    int error = EIO;
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
        error = ENOENT;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        error = EACCES;
        break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        error = EEXIST;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        error = ENOSPC;
        break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        error = EBUSY;
        break;
    case ERROR_FILENAME_EXCED_RANGE:
        error = ENAMETOOLONG;
        break;
    default:
        break;
    }
    return {error, std::generic_category()};
}
#else
std::error_code LastError()
{
    return {errno, std::generic_category()};
}
#endif

std::filesystem::path FolderOf(const std::filesystem::path& file)
{
    return file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path();
}

// Removes the temporary file unless it has been put in place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::filesystem::path name) : name_(std::move(name)) {}
    ~TemporaryFile()
    {
        if (!name_.empty()) {
            std::error_code ignored;
            std::filesystem::remove(name_, ignored);
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::filesystem::path& Name() const { return name_; }
    void Release() { name_.clear(); }

private:
    std::filesystem::path name_;
};

#ifdef _WIN32

// The temporary files of a file are ".<name>.XXXXXX" beside it. Every
// writer holds its own open, without leave to delete it, from the moment it
// is made until its contents are complete, and the handle dies with the
// writer. So one that can be deleted, and has not been touched for a while
// (the moment between completing and renaming), was stranded by a writer
// that was killed: it is removed.
constexpr std::uint64_t kStrandedAfterSeconds = 60;

void RemoveStrandedTemporaries(const std::filesystem::path& file)
{
    const std::wstring prefix = L"." + file.filename().wstring() + L".";
    const std::size_t length = prefix.size() + 6;
    FILETIME nowTime;
    GetSystemTimeAsFileTime(&nowTime);
    const auto ticks = [](const FILETIME& t) { return (std::uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    const std::uint64_t now = ticks(nowTime);
    std::error_code ec;
    std::filesystem::directory_iterator it(FolderOf(file), ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::wstring name = it->path().filename().wstring();
        if (name.size() != length || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(it->path().c_str(), GetFileExInfoStandard, &data) ||
            (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            continue;
        // File times count 100 ns.
        if (now - ticks(data.ftLastWriteTime) >= kStrandedAfterSeconds * 10000000)
            DeleteFileW(it->path().c_str());
    }
}

// Renames, waiting a little while another program (a reader, a virus
// scanner) has the old file open without leave to replace it.
bool MoveWithPatience(const std::wstring& from, const std::wstring& to, DWORD flags)
{
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), flags))
            return true;
        const DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt == 200)
            return false;
        Sleep(10);
        SetLastError(error);
    }
}

#else

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

unsigned ModeFor(const std::filesystem::path& file, const AtomicFileOptions& options)
{
    struct stat existing {};
    if (options.placement == Placement::Replace && ::stat(file.c_str(), &existing) == 0)
        return existing.st_mode & 07777;
    if (options.newFileMode)
        return *options.newFileMode;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

std::error_code FlushFile(const std::filesystem::path& name)
{
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return LastError();
    std::error_code result;
    if (::fsync(fd) != 0)
        result = LastError();
    ::close(fd);
    return result;
}

std::error_code Place(const std::filesystem::path& temporary, const std::filesystem::path& file,
                      Placement placement)
{
    if (placement == Placement::Replace)
        return ::rename(temporary.c_str(), file.c_str()) == 0 ? std::error_code() : LastError();
    // link fails when the name is taken, even by a file made a moment ago.
    if (::link(temporary.c_str(), file.c_str()) == 0)
        return {};
    const int error = errno;
    // File systems without hard links: a rename after a fresh look is the
    // best they allow.
    std::error_code ignored;
    if ((error == EPERM || error == ENOTSUP || error == ENOSYS) && !std::filesystem::exists(file, ignored))
        return ::rename(temporary.c_str(), file.c_str()) == 0 ? std::error_code() : LastError();
    return {error, std::generic_category()};
}

// The temporary files of a file are ".<name>.XXXXXX" beside it. Every
// writer holds an exclusive flock on its own from the moment it is made
// until its contents are complete, and the lock dies with the writer. So
// one that can be locked, and has not been touched for a while (the moment
// between making and locking, or between completing and renaming), was
// stranded by a writer that was killed: it is removed.
constexpr std::time_t kStrandedAfterSeconds = 60;

void RemoveStrandedTemporaries(const std::filesystem::path& file)
{
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about a
    // literal added to a temporary string.
    std::string prefix(1, '.');
    prefix += file.filename().string();
    prefix += '.';
    const std::size_t length = prefix.size() + 6;
    const std::time_t now = std::time(nullptr);
    std::error_code ec;
    std::filesystem::directory_iterator it(FolderOf(file), ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() != length || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const int fd = ::open(it->path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && now - st.st_mtime >= kStrandedAfterSeconds &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(it->path().c_str());
        ::close(fd);
    }
}

// The descriptor that holds a temporary file's lock, closed once the
// contents are complete (or the build failed).
class HeldLock {
public:
    explicit HeldLock(int fd) : fd_(fd) {}
    ~HeldLock() { Release(); }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;
    int Fd() const { return fd_; }
    int Release()
    {
        const int result = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

#endif

} // namespace

std::error_code PlaceFileAtomically(const std::filesystem::path& file,
                                    const std::function<void(const std::filesystem::path& temporary)>& build,
                                    const AtomicFileOptions& options)
{
#ifdef _WIN32
    (void)options.newFileMode;  // Windows files carry no permission bits
    RemoveStrandedTemporaries(file);
    // Named apart (a leading dot) and unique, so a second writer does not
    // trip over it: made with CREATE_NEW, another name is tried when taken.
    // Not marked hidden, as the mark would go with it to the file's name.
    std::random_device random;
    const std::wstring prefix = (FolderOf(file) / (L"." + file.filename().wstring() + L".")).wstring();
    std::wstring name;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
        static const wchar_t letters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        name = prefix;
        for (int i = 0; i < 6; ++i)
            name += letters[random() % 62];
        // Held without leave to delete it (see RemoveStrandedTemporaries),
        // and with no access to its data, so build can open it by name.
        handle = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            return LastError();
    }
    if (handle == INVALID_HANDLE_VALUE)
        return std::make_error_code(std::errc::file_exists);
    TemporaryFile temporary{std::filesystem::path(name)};
    struct Held {
        HANDLE handle;
        ~Held() { Close(); }
        void Close()
        {
            if (handle != INVALID_HANDLE_VALUE)
                CloseHandle(handle);
            handle = INVALID_HANDLE_VALUE;
        }
    } held{handle};

    build(temporary.Name());
    held.Close();

    // On the disk before it takes the name.
    handle = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LastError();
    const bool flushed = FlushFileBuffers(handle);
    const std::error_code flushError = flushed ? std::error_code() : LastError();
    CloseHandle(handle);
    if (!flushed)
        return flushError;
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is
    // taken, even by a file made a moment ago: CreateNew never replaces.
    DWORD flags = MOVEFILE_WRITE_THROUGH;
    if (options.placement == Placement::Replace)
        flags |= MOVEFILE_REPLACE_EXISTING;
    if (!MoveWithPatience(name, file.wstring(), flags))
        return LastError();
    temporary.Release();
    return {};
#else
    // Hidden and unique, so neither a listing nor a second writer trips
    // over it.
    std::string hidden(1, '.');
    hidden += file.filename().string();
    hidden += ".XXXXXX";
    std::string pattern = (FolderOf(file) / hidden).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    RemoveStrandedTemporaries(file);
    HeldLock held(::mkstemp(name.data()));
    if (held.Fd() < 0)
        return LastError();
    TemporaryFile temporary(std::filesystem::path(name.data()));
    (void)::flock(held.Fd(), LOCK_EX | LOCK_NB);
    // mkstemp makes the file private; it gets the bits the file should have.
    if (::fchmod(held.Fd(), static_cast<mode_t>(ModeFor(file, options))) != 0)
        return LastError();

    build(temporary.Name());
    // Closed only now that build has closed the file it may have opened by
    // name: a database library's own locks end with any descriptor of the
    // file that the process closes.
    if (held.Release() != 0)
        return LastError();

    if (auto error = FlushFile(temporary.Name()))
        return error;
    if (auto error = Place(temporary.Name(), file, options.placement))
        return error;
    if (options.placement == Placement::Replace)
        temporary.Release();  // the rename took the name away
    // Make the new name durable; the file is complete either way, so a
    // folder that refuses this is no reason to report a failure.
    const int dir = ::open(FolderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
#endif
}

std::error_code ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                                      const AtomicFileOptions& options)
{
    std::error_code writeError;
    auto write = [&](const std::filesystem::path& temporary) {
#ifdef _WIN32
        HANDLE handle = CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    TRUNCATE_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            writeError = LastError();
        } else {
            std::string_view rest = bytes;
            while (!rest.empty() && !writeError) {
                DWORD written = 0;
                const DWORD chunk = DWORD(std::min<std::size_t>(rest.size(), 1u << 30));
                if (!WriteFile(handle, rest.data(), chunk, &written, nullptr) || written == 0)
                    writeError = LastError();
                else
                    rest.remove_prefix(written);
            }
            if (!CloseHandle(handle) && !writeError)
                writeError = LastError();
        }
#else
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) {
            writeError = LastError();
        } else {
            if (!WriteAll(fd, bytes))
                writeError = LastError();
            if (::close(fd) != 0 && !writeError)
                writeError = LastError();
        }
#endif
        // Ends the placing; the temporary file goes with the exception.
        if (writeError)
            throw std::system_error(writeError);
    };
    try {
        return PlaceFileAtomically(file, write, options);
    } catch (const std::system_error&) {
        if (writeError)
            return writeError;
        throw;
    }
}

} // namespace querlin::platform
