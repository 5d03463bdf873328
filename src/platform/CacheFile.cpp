#include "platform/CacheFile.h"

#include "platform/Utf8.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace querlin::platform {

namespace {

#ifndef _WIN32
std::string WithSeparator(std::filesystem::path path)
{
    std::string text = path.make_preferred().string();
    if (text.empty() || text.back() != std::filesystem::path::preferred_separator)
        text += static_cast<char>(std::filesystem::path::preferred_separator);
    return text;
}

bool IsDiskFull(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EFBIG;
}
#endif

} // namespace

std::string UserCacheFolder()
{
#ifdef _WIN32
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH)
        return ".\\";
    std::string folder = Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), length));
    if (folder.back() != '\\' && folder.back() != '/')
        folder += '\\';
    return folder;
#else
    std::filesystem::path base;
    if (const char* value = std::getenv("XDG_CACHE_HOME"); value && *value == '/') {
        base = value;
    } else {
        std::filesystem::path home = "/tmp";
        if (const char* value = std::getenv("HOME"); value && *value == '/')
            home = value;
        else if (const passwd* account = getpwuid(getuid()); account && account->pw_dir)
            home = account->pw_dir;
        base = home / ".cache";
    }
    return WithSeparator(base / "querlin");
#endif
}

#ifdef _WIN32

struct CacheFile::Handle {
    HANDLE file = INVALID_HANDLE_VALUE;
};

CacheFile::CacheFile(const std::string& folder) : handle_(std::make_unique<Handle>())
{
    const std::string where = folder.empty() ? UserCacheFolder() : folder;
    const std::u16string wide = Utf8ToUtf16(where);
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(std::wstring(wide.begin(), wide.end())), ignored);
    const std::string prefix = where.back() == '\\' || where.back() == '/' ? where : where + '\\';
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::u16string name =
            Utf8ToUtf16(prefix + "querlin-rows-" +
                        std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64()) + "-" +
                        std::to_string(counter.fetch_add(1)) + ".tmp");
        handle_->file = CreateFileW(reinterpret_cast<const wchar_t*>(name.c_str()), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                        FILE_FLAG_DELETE_ON_CLOSE,
                                    nullptr);
        if (handle_->file != INVALID_HANDLE_VALUE)
            return;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            throw CacheFileError(error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL,
                                 where + ": error " + std::to_string(error));
    }
    throw CacheFileError(false, where + ": no free name");
}

CacheFile::~CacheFile()
{
    for (const auto& [view, bytes] : views_)
        UnmapViewOfFile(view);
    if (handle_->file != INVALID_HANDLE_VALUE)
        CloseHandle(handle_->file);
}

unsigned char* CacheFile::Extend(std::size_t bytes)
{
    bytes = (bytes + kGrain - 1) / kGrain * kGrain;
    const std::uint64_t grown = size_ + bytes;
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(grown);
    // A file that is not sparse has its clusters taken when its end moves.
    if (!SetFilePointerEx(handle_->file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(handle_->file)) {
        const DWORD error = GetLastError();
        throw CacheFileError(error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL,
                             "error " + std::to_string(error));
    }
    HANDLE mapping = CreateFileMappingW(handle_->file, nullptr, PAGE_READWRITE, static_cast<DWORD>(grown >> 32),
                                        static_cast<DWORD>(grown & 0xFFFFFFFFu), nullptr);
    if (!mapping)
        throw std::bad_alloc();
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, static_cast<DWORD>(size_ >> 32),
                               static_cast<DWORD>(size_ & 0xFFFFFFFFu), bytes);
    CloseHandle(mapping);  // the view keeps it
    if (!view)
        throw std::bad_alloc();
    views_.emplace_back(view, bytes);
    size_ = grown;
    return static_cast<unsigned char*>(view);
}

#else

struct CacheFile::Handle {
    int fd = -1;
};

CacheFile::CacheFile(const std::string& folder) : handle_(std::make_unique<Handle>())
{
    const std::string where = folder.empty() ? UserCacheFolder() : folder;
    std::error_code made;
    std::filesystem::create_directories(where, made);
    if (made)
        throw CacheFileError(IsDiskFull(made.value()), where + ": " + made.message());
    ::chmod(where.c_str(), 0700);
    handle_->fd = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (handle_->fd >= 0)
        return;
    // The file system takes no nameless files: a name, gone at once.
    std::string name = WithSeparator(where) + "querlin-rows-XXXXXX";
    handle_->fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (handle_->fd < 0) {
        const int error = errno;
        throw CacheFileError(IsDiskFull(error), where + ": " + std::strerror(error));
    }
    ::unlink(name.c_str());
}

CacheFile::~CacheFile()
{
    for (const auto& [view, bytes] : views_)
        ::munmap(view, bytes);
    if (handle_->fd >= 0)
        ::close(handle_->fd);
}

unsigned char* CacheFile::Extend(std::size_t bytes)
{
    bytes = (bytes + kGrain - 1) / kGrain * kGrain;
    // Past the process's file size limit the system would send SIGXFSZ,
    // which ends the program: that limit is a full disk too.
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        size_ + bytes > static_cast<std::uint64_t>(limit.rlim_cur))
        throw CacheFileError(true, "the process's file size limit");
    // Blocks taken now: a full disk is this error, not SIGBUS on a page
    // written later.
    const int error = ::posix_fallocate(handle_->fd, static_cast<off_t>(size_), static_cast<off_t>(bytes));
    if (error != 0) {
        // What was taken of the part is given back.
        if (::ftruncate(handle_->fd, static_cast<off_t>(size_)) != 0) {
        }
        throw CacheFileError(IsDiskFull(error), std::strerror(error));
    }
    void* view = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, handle_->fd, static_cast<off_t>(size_));
    if (view == MAP_FAILED)
        throw std::bad_alloc();
    views_.emplace_back(view, bytes);
    size_ += bytes;
    return static_cast<unsigned char*>(view);
}

#endif

} // namespace querlin::platform
