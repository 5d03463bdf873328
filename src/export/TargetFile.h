#pragma once
// The file an export writes. WriteTargetFile hands the writer a fresh
// temporary file beside the chosen name and puts it in the name's place,
// through the program's one atomic replacement, only once the writer has
// finished it. Until then nothing at the chosen name changes; a writer that
// fails leaves nothing behind.
//
// One thread at a time.

#include <cstdio>
#include <functional>
#include <string>

namespace querlin::exports {

class TargetFile {
public:
    // The temporary file opened for writing; made by WriteTargetFile.
    TargetFile(std::string fileName, std::string temporaryName);
    ~TargetFile();
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;

    const std::string& TemporaryName() const { return temporary_; }
    // The temporary file opened for writing, for writers that write it
    // themselves; closed by Finish (or by the destructor).
    std::FILE* Stream();
    // Closes the stream if it is open (for writers that reopen the file
    // under its temporary name).
    void CloseStream();
    // Flushes and closes the stream; the file keeps the permission bits it
    // was given even when a writer made it again under its name.
    void Finish();

    // The error text for a failure while writing, with its cause.
    [[noreturn]] void Fail(const std::string& cause) const;
    [[noreturn]] void FailWithErrno(int error) const;

private:
    std::string target_;
    std::string temporary_;
    std::FILE* stream_ = nullptr;
    unsigned mode_ = 0644;
};

// Writes the file through write and puts it in place. Throws querlin::Error
// "Cannot create file "<full path>". <cause>" when the folder cannot take
// the file, when an existing file of the name may not be written, or with
// what write threw; the old file is then as it was.
void WriteTargetFile(const std::string& fileName, const std::function<void(TargetFile&)>& write);

} // namespace querlin::exports
