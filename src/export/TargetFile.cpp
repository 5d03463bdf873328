#include "export/TargetFile.h"

#include "platform/AtomicFile.h"
#include "platform/Error.h"

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

[[noreturn]] void FailFor(const std::string& fileName, const std::string& cause)
{
    throw Error("Cannot create file \"" + FullPath(fileName) + "\". " + cause);
}

} // namespace

TargetFile::TargetFile(std::string fileName, std::string temporaryName)
    : target_(std::move(fileName)), temporary_(std::move(temporaryName))
{
    const int fd = ::open(temporary_.c_str(), O_RDWR | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        FailWithErrno(errno);
    struct stat created {};
    mode_ = ::fstat(fd, &created) == 0 ? created.st_mode & 07777 : 0644;
    stream_ = ::fdopen(fd, "w+b");
    if (!stream_) {
        const int error = errno;
        ::close(fd);
        FailWithErrno(error);
    }
}

TargetFile::~TargetFile()
{
    if (stream_)
        std::fclose(stream_);
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

void TargetFile::Finish()
{
    if (stream_) {
        const bool flushed = std::fflush(stream_) == 0;
        const int error = errno;
        const bool closed = std::fclose(stream_) == 0;
        const int closeError = errno;
        stream_ = nullptr;
        if (!flushed)
            FailWithErrno(error);
        if (!closed)
            FailWithErrno(closeError);
    }
    (void)::chmod(temporary_.c_str(), mode_);
}

void TargetFile::Fail(const std::string& cause) const
{
    FailFor(target_, cause);
}

void TargetFile::FailWithErrno(int error) const
{
    Fail(std::strerror(error));
}

void WriteTargetFile(const std::string& fileName, const std::function<void(TargetFile&)>& write)
{
    if (fileName.empty())
        FailFor(fileName, "The file name is empty");
    if (!std::filesystem::path(fileName).has_filename())
        FailFor(fileName, std::strerror(EISDIR));

    // Replacing a file that may not be written would overwrite what its
    // owner protected; the spreadsheet application refuses that too.
    struct stat existing {};
    const bool exists = ::stat(fileName.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        FailFor(fileName, std::strerror(EISDIR));
    if (exists && ::access(fileName.c_str(), W_OK) != 0)
        FailFor(fileName, std::strerror(errno));

    const std::error_code error =
        platform::PlaceFileAtomically(fileName, [&](const std::filesystem::path& temporary) {
            TargetFile target(fileName, temporary.string());
            write(target);
            target.Finish();
        });
    if (error)
        FailFor(fileName, std::strerror(error.value()));
}

} // namespace querlin::exports
