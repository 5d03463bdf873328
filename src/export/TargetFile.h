#pragma once
// The file an export writes: a fresh temporary file beside the chosen name,
// put in its place only once it is complete. Until Commit, nothing at the
// chosen name changes; a writer that fails or is abandoned leaves nothing
// behind (the destructor removes the temporary file).
//
// One thread at a time.

#include <cstdio>
#include <string>

namespace querlin::exports {

class TargetFile {
public:
    // Creates the temporary file. Throws querlin::Error
    // "Cannot create file "<full path>". <cause>" when the folder cannot
    // take it, or when an existing file of the name may not be written.
    explicit TargetFile(const std::string& fileName);
    ~TargetFile();
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;

    const std::string& TemporaryName() const { return temporary_; }
    // The temporary file opened for writing, for writers that write it
    // themselves; closed by Commit (or by the destructor).
    std::FILE* Stream();
    // Closes the stream if it is open, without committing (for writers
    // that reopen the file under its temporary name).
    void CloseStream();

    // Flushes the file to the disk and renames it onto the chosen name.
    // Throws as the constructor does; the temporary file is then removed.
    void Commit();

    // The error text for a failure while writing, with its cause.
    [[noreturn]] void Fail(const std::string& cause) const;
    [[noreturn]] void FailWithErrno(int error) const;

private:
    std::string target_;
    std::string temporary_;
    std::FILE* stream_ = nullptr;
    unsigned mode_ = 0644;
    bool committed_ = false;
};

} // namespace querlin::exports
