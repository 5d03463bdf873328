#include "export/TargetFile.h"

#include "platform/Error.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace querlin::exports {

namespace {

std::string FullPath(const std::filesystem::path& file)
{
    std::error_code ec;
    auto full = std::filesystem::absolute(file, ec);
    return (ec ? file : full).lexically_normal().string();
}

std::string TemporarySibling(const std::filesystem::path& file)
{
    static std::atomic<unsigned> counter{0};
    auto name = "." + file.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                std::to_string(counter.fetch_add(1));
    return (file.parent_path() / name).string();
}

} // namespace

TargetFile::TargetFile(const std::string& fileName) : target_(fileName)
{
    if (fileName.empty())
        Fail("The file name is empty");
    const std::filesystem::path path(fileName);
    if (!path.has_filename())
        FailWithErrno(EISDIR);

    // Replacing a file that may not be written would overwrite what its
    // owner protected; the spreadsheet application refuses that too.
    struct stat existing {};
    const bool exists = ::stat(fileName.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        FailWithErrno(EISDIR);
    if (exists && ::access(fileName.c_str(), W_OK) != 0)
        FailWithErrno(errno);

    temporary_ = TemporarySibling(path);
    int fd = ::open(temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        FailWithErrno(errno);
    // The new file takes the place of the old one with its permissions; a
    // new name gets those of any new file. Writers that rewrite the file
    // under its temporary name get the same again at Commit.
    struct stat created {};
    mode_ = ::fstat(fd, &created) == 0 ? created.st_mode & 07777 : 0644;
    if (exists && S_ISREG(existing.st_mode)) {
        mode_ = existing.st_mode & 07777;
        (void)::fchmod(fd, mode_);
    }
    stream_ = ::fdopen(fd, "w+b");
    if (!stream_) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary_.c_str());
        FailWithErrno(error);
    }
}

TargetFile::~TargetFile()
{
    if (stream_)
        std::fclose(stream_);
    if (!committed_ && !temporary_.empty())
        ::unlink(temporary_.c_str());
}

std::FILE* TargetFile::Stream()
{
    return stream_;
}

void TargetFile::CloseStream()
{
    if (stream_) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
}

void TargetFile::Commit()
{
    if (stream_) {
        const bool flushed = std::fflush(stream_) == 0;
        const int error = errno;
        const bool synced = flushed && ::fsync(::fileno(stream_)) == 0;
        const int syncError = errno;
        const bool closed = std::fclose(stream_) == 0;
        stream_ = nullptr;
        if (!flushed)
            FailWithErrno(error);
        if (!synced)
            FailWithErrno(syncError);
        if (!closed)
            FailWithErrno(errno);
    } else {
        int fd = ::open(temporary_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::fsync(fd) != 0) {
            const int error = errno;
            if (fd >= 0)
                ::close(fd);
            FailWithErrno(error);
        }
        ::close(fd);
    }
    (void)::chmod(temporary_.c_str(), mode_);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0)
        FailWithErrno(errno);
    committed_ = true;
    // The new name must survive a crash as well as the bytes.
    const auto folder = std::filesystem::path(target_).parent_path();
    int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
}

void TargetFile::Fail(const std::string& cause) const
{
    throw Error("Cannot create file \"" + FullPath(target_) + "\". " + cause);
}

void TargetFile::FailWithErrno(int error) const
{
    Fail(std::strerror(error));
}

} // namespace querlin::exports
