#pragma once
// A ZIP archive written front to back into an export's temporary file, its
// entries deflated. An entry's bytes are cut into pieces that helper
// threads deflate each on its own (ISA-L's igzip, fastest level), ending
// each piece byte-aligned and not final, so the pieces joined in order are
// one deflate stream; the entry ends with an empty final block. A few
// pieces are in flight at a time, so the memory stays flat. Sizes and the
// checksum go into the entry's local header once the entry is complete
// (the file is seekable, so no data descriptors); ZIP64 records are
// written where a size or an offset needs them.
//
// Owned by one thread; the helpers are its own and end with it.

#include "export/TargetFile.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace querlin::exports::detail {

struct EntryTooLarge {
    std::size_t entry;  // from 0, in the order of BeginEntry
};

class ZipPackage {
public:
    // Writes into target's stream from where it stands; failures go
    // through target.Fail.
    explicit ZipPackage(TargetFile& target);
    ~ZipPackage();
    ZipPackage(const ZipPackage&) = delete;
    ZipPackage& operator=(const ZipPackage&) = delete;

    // Starts an entry; large: its sizes may pass 4 GiB (the local header
    // then carries room for large sizes). Writing more than an entry that
    // is not large may hold throws EntryTooLarge: the caller writes the
    // archive again, that entry large.
    void BeginEntry(const std::string& name, bool large);
    void Write(std::string_view bytes);
    // Room for at least room bytes of the entry at the returned place;
    // Commit tells how many were written there.
    char* Reserve(std::size_t room);
    void Commit(std::size_t used);
    void EndEntry();
    // The central directory; the archive is complete.
    void Finish();

    // The most bytes an entry that is not large takes; 0 puts the limit of
    // its 32-bit size fields back (tests).
    static void SetEntryLimitForTesting(std::uint64_t bytes);

private:
    struct Piece;
    struct Entry {
        std::string name;
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
        std::uint64_t compressedSize = 0;
        std::uint32_t crc = 0;
        bool large = false;
    };

    void Submit();
    void WriteOldest();
    void Helper();
    void Put(const void* data, std::size_t size);
    void PutAt(std::uint64_t offset, const std::string& bytes);

    TargetFile& target_;
    std::FILE* out_;
    std::uint64_t offset_ = 0;
    std::vector<Entry> entries_;
    bool inEntry_ = false;

    std::unique_ptr<Piece> current_;
    std::deque<std::unique_ptr<Piece>> inFlight_;  // in entry order
    std::vector<std::unique_ptr<Piece>> spare_;

    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable done_;
    std::deque<Piece*> queue_;
    bool stopping_ = false;
    std::vector<std::thread> helpers_;
};

} // namespace querlin::exports::detail
