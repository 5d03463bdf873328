#include "platform/AtomicFile.h"

#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace querlin::platform {

namespace {

std::error_code LastError()
{
    return {errno, std::generic_category()};
}

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

#ifndef _WIN32

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

#endif

} // namespace

std::error_code PlaceFileAtomically(const std::filesystem::path& file,
                                    const std::function<void(const std::filesystem::path& temporary)>& build,
                                    const AtomicFileOptions& options)
{
#ifdef _WIN32
    std::error_code ec;
    if (options.placement == Placement::CreateNew && std::filesystem::exists(file, ec))
        return std::make_error_code(std::errc::file_exists);
    TemporaryFile temporary(FolderOf(file) / ("." + file.filename().string() + ".new"));
    std::ofstream(temporary.Name(), std::ios::binary).close();
    build(temporary.Name());
    std::filesystem::rename(temporary.Name(), file, ec);
    if (!ec)
        temporary.Release();
    return ec;
#else
    // Hidden and unique, so neither a listing nor a second writer trips
    // over it.
    std::string pattern = (FolderOf(file) / ("." + file.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return LastError();
    TemporaryFile temporary(std::filesystem::path(name.data()));
    // mkstemp makes the file private; it gets the bits the file should have.
    const bool modeSet = ::fchmod(fd, static_cast<mode_t>(ModeFor(file, options))) == 0;
    const std::error_code modeError = modeSet ? std::error_code() : LastError();
    // Closed before build runs: a database library that opens the file by
    // name would lose its locks when another descriptor of it is closed.
    if (::close(fd) != 0 && modeSet)
        return LastError();
    if (!modeSet)
        return modeError;

    build(temporary.Name());

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
        std::ofstream out(temporary, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out)
            writeError = std::make_error_code(std::errc::io_error);
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
