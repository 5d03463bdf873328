#pragma once
// A file of the program's own that holds what does not fit in memory,
// mapped into the address space so that the system may drop its pages and
// read them again. It has no name while open (Linux: O_TMPFILE, or created
// and unlinked at once; Windows: deleted on close), so a killed program
// leaves nothing behind. It only grows: every part handed out stays where
// it is until the file is closed. One thread uses a file at a time.

#include "platform/Error.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace querlin::platform {

// The texts a failing cache file's errors start with, so that a window can
// say why its rows stopped.
inline constexpr char kCacheDiskFullText[] = "No room left on the disk for the rows";
inline constexpr char kCacheUnwritableText[] = "The rows' cache file cannot be written";

class CacheFileError : public Error {
public:
    CacheFileError(bool diskFull, const std::string& detail)
        : Error(std::string(diskFull ? kCacheDiskFullText : kCacheUnwritableText) + " (" + detail + ")"),
          diskFull_(diskFull)
    {
    }
    bool DiskFull() const { return diskFull_; }

private:
    bool diskFull_;
};

// $XDG_CACHE_HOME/querlin/ when that is an absolute path, else
// ~/.cache/querlin/; on Windows the user's temporary folder.
std::string UserCacheFolder();

class CacheFile {
public:
    // Creates the file in folder (made when missing; UserCacheFolder when
    // empty). Throws CacheFileError when it cannot.
    explicit CacheFile(const std::string& folder = {});
    ~CacheFile();
    CacheFile(const CacheFile&) = delete;
    CacheFile& operator=(const CacheFile&) = delete;

    // Grows the file by bytes (rounded up to kGrain), the room taken on the
    // disk before it is used, so a full disk is an error here and never a
    // fault on a mapped page later; returns the new part, mapped for
    // reading and writing and zero-filled. Throws CacheFileError when the
    // file cannot grow, std::bad_alloc when no address space is left.
    unsigned char* Extend(std::size_t bytes);
    std::uint64_t Size() const { return size_; }

    // What Extend rounds to: a multiple of every page and mapping granule.
    static constexpr std::size_t kGrain = 64 * 1024;

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
    std::vector<std::pair<void*, std::size_t>> views_;
    std::uint64_t size_ = 0;
};

} // namespace querlin::platform
