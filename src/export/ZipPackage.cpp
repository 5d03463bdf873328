#include "export/ZipPackage.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace querlin::exports::detail {

namespace {

// A piece is deflated once it holds this much.
constexpr std::size_t kPieceSize = 512 * 1024;
// The final block: fixed codes, final bit set, nothing but its end code.
constexpr unsigned char kFinalBlock[] = {0x03, 0x00};

constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::uint32_t kCentralHeader = 0x02014b50;
constexpr std::uint32_t kEndOfCentral = 0x06054b50;
constexpr std::uint32_t kZip64EndOfCentral = 0x06064b50;
constexpr std::uint32_t kZip64Locator = 0x07064b50;
constexpr std::uint16_t kZip64Extra = 0x0001;
constexpr std::uint32_t kUnknown32 = 0xFFFFFFFF;
// An entry that is not large stops short of its size fields' limit, so
// that its deflated size (a little more than its size at worst) fits too.
constexpr std::uint64_t kEntryLimit = 0xFF000000;
std::atomic<std::uint64_t> entryLimitForTesting{0};

class Bytes {
public:
    Bytes& U16(std::uint32_t v)
    {
        data_.push_back(static_cast<char>(v & 0xFF));
        data_.push_back(static_cast<char>((v >> 8) & 0xFF));
        return *this;
    }
    Bytes& U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
    Bytes& U64(std::uint64_t v) { return U32(static_cast<std::uint32_t>(v)).U32(static_cast<std::uint32_t>(v >> 32)); }
    Bytes& Text(std::string_view text)
    {
        data_.append(text);
        return *this;
    }
    const std::string& Data() const { return data_; }

private:
    std::string data_;
};

// The time of writing in MS-DOS form, local time.
void DosTime(std::uint16_t& time, std::uint16_t& date)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!::localtime_r(&now, &local) || local.tm_year < 80) {
        time = 0;
        date = (1 << 5) | 1;  // 1980-01-01
        return;
    }
    time = static_cast<std::uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
    date = static_cast<std::uint16_t>(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
}

// Deflating is the bulk of the work: one helper per core, beside the
// thread that writes the XML, and no more than four.
unsigned HelperCount()
{
    return std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
}

} // namespace

struct ZipPackage::Piece {
    std::vector<char> input;
    std::size_t used = 0;
    std::vector<unsigned char> output;
    std::size_t outputSize = 0;
    std::uint32_t crc = 0;
    bool done = false;
    bool failed = false;

    Piece() { input.resize(kPieceSize + 64 * 1024); }

    // Deflates input into output: not final, ending byte-aligned.
    void Deflate(std::vector<std::uint8_t>& levelBuffer)
    {
        crc = crc32_gzip_refl(0, reinterpret_cast<const unsigned char*>(input.data()), used);
        isal_zstream stream;
        isal_deflate_init(&stream);
        stream.level = 1;
        stream.level_buf = levelBuffer.data();
        stream.level_buf_size = static_cast<std::uint32_t>(levelBuffer.size());
        stream.end_of_stream = 0;
        stream.flush = SYNC_FLUSH;
        stream.next_in = reinterpret_cast<std::uint8_t*>(input.data());
        stream.avail_in = static_cast<std::uint32_t>(used);
        if (output.size() < used + used / 8 + 4096)
            output.resize(used + used / 8 + 4096);
        outputSize = 0;
        for (;;) {
            stream.next_out = output.data() + outputSize;
            stream.avail_out = static_cast<std::uint32_t>(output.size() - outputSize);
            if (isal_deflate(&stream) != COMP_OK) {
                failed = true;
                return;
            }
            outputSize = output.size() - stream.avail_out;
            // Room left over means everything is out, flush included.
            if (stream.avail_out > 0 && stream.avail_in == 0)
                return;
            output.resize(output.size() * 2);
        }
    }
};


void ZipPackage::SetEntryLimitForTesting(std::uint64_t bytes)
{
    entryLimitForTesting = bytes;
}

ZipPackage::ZipPackage(TargetFile& target) : target_(target), out_(target.Stream())
{
    const long at = std::ftell(out_);
    if (at < 0)
        target_.FailWithErrno(errno);
    offset_ = static_cast<std::uint64_t>(at);
    try {
        for (unsigned i = 0; i < HelperCount(); ++i)
            helpers_.emplace_back([this] { Helper(); });
    } catch (const std::system_error&) {
        if (helpers_.empty())
            target_.Fail("The workbook cannot be compressed: no thread can be started.");
    }
}

ZipPackage::~ZipPackage()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    for (auto& helper : helpers_)
        helper.join();
}

void ZipPackage::Helper()
{
    std::vector<std::uint8_t> levelBuffer(ISAL_DEF_LVL1_DEFAULT);
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (stopping_)
            return;
        Piece* piece = queue_.front();
        queue_.pop_front();
        lock.unlock();
        piece->Deflate(levelBuffer);
        lock.lock();
        piece->done = true;
        done_.notify_all();
    }
}

void ZipPackage::Put(const void* data, std::size_t size)
{
    if (size && std::fwrite(data, 1, size, out_) != size)
        target_.FailWithErrno(errno);
    offset_ += size;
}

void ZipPackage::PutAt(std::uint64_t offset, const std::string& bytes)
{
    if (std::fflush(out_) != 0)
        target_.FailWithErrno(errno);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::pwrite(::fileno(out_), bytes.data() + done, bytes.size() - done,
                                       static_cast<off_t>(offset + done));
        if (wrote < 0) {
            if (errno == EINTR)
                continue;
            target_.FailWithErrno(errno);
        }
        done += static_cast<std::size_t>(wrote);
    }
}

void ZipPackage::BeginEntry(const std::string& name, bool large)
{
    Entry entry;
    entry.name = name;
    entry.offset = offset_;
    entry.large = large;
    entry.crc = 0;
    entries_.push_back(entry);
    inEntry_ = true;

    // Checksum and sizes follow once the entry is complete.
    std::uint16_t time, date;
    DosTime(time, date);
    Bytes header;
    header.U32(kLocalHeader).U16(large ? 45 : 20).U16(0).U16(8).U16(time).U16(date).U32(0);
    if (large)
        header.U32(kUnknown32).U32(kUnknown32);
    else
        header.U32(0).U32(0);
    header.U16(static_cast<std::uint32_t>(name.size())).U16(large ? 20 : 0).Text(name);
    if (large)
        header.U16(kZip64Extra).U16(16).U64(0).U64(0);
    Put(header.Data().data(), header.Data().size());
    if (!current_) {
        current_ = std::make_unique<Piece>();
    }
}

char* ZipPackage::Reserve(std::size_t room)
{
    if (current_->used + room > current_->input.size()) {
        if (current_->used > 0)
            Submit();
        if (room > current_->input.size())
            current_->input.resize(room);
    }
    return current_->input.data() + current_->used;
}

void ZipPackage::Commit(std::size_t used)
{
    current_->used += used;
    Entry& entry = entries_.back();
    entry.size += used;
    if (!entry.large) {
        const std::uint64_t testing = entryLimitForTesting;
        if (entry.size > (testing ? testing : kEntryLimit))
            throw EntryTooLarge{entries_.size() - 1};
    }
    if (current_->used >= kPieceSize)
        Submit();
}

void ZipPackage::Write(std::string_view bytes)
{
    while (!bytes.empty()) {
        const std::size_t part = std::min(bytes.size(), kPieceSize);
        std::memcpy(Reserve(part), bytes.data(), part);
        Commit(part);
        bytes.remove_prefix(part);
    }
}

void ZipPackage::Submit()
{
    std::unique_ptr<Piece> piece = std::move(current_);
    piece->done = false;
    Piece* raw = piece.get();
    inFlight_.push_back(std::move(piece));
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(raw);
    }
    work_.notify_one();
    // Enough queued to keep every helper busy while this thread goes on;
    // whatever is ready goes out at once.
    const std::size_t limit = 2 * helpers_.size() + 1;
    while (!inFlight_.empty()) {
        bool ready;
        {
            std::lock_guard lock(mutex_);
            ready = inFlight_.front()->done;
        }
        if (!ready && inFlight_.size() <= limit)
            break;
        WriteOldest();
    }
    if (!spare_.empty()) {
        current_ = std::move(spare_.back());
        spare_.pop_back();
    } else {
        current_ = std::make_unique<Piece>();
    }
    current_->used = 0;
}

void ZipPackage::WriteOldest()
{
    Piece* piece = inFlight_.front().get();
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return piece->done; });
    }
    if (piece->failed)
        target_.Fail("The workbook cannot be compressed.");
    Entry& entry = entries_.back();
    entry.crc = static_cast<std::uint32_t>(crc32_combine(entry.crc, piece->crc, static_cast<z_off_t>(piece->used)));
    Put(piece->output.data(), piece->outputSize);
    entry.compressedSize += piece->outputSize;
    spare_.push_back(std::move(inFlight_.front()));
    inFlight_.pop_front();
}

void ZipPackage::EndEntry()
{
    if (current_->used > 0)
        Submit();
    while (!inFlight_.empty())
        WriteOldest();
    Put(kFinalBlock, sizeof kFinalBlock);
    Entry& entry = entries_.back();
    entry.compressedSize += sizeof kFinalBlock;
    inEntry_ = false;

    if (!entry.large && entry.compressedSize >= kUnknown32)
        throw EntryTooLarge{entries_.size() - 1};
    Bytes crc;
    crc.U32(entry.crc);
    PutAt(entry.offset + 14, crc.Data());
    Bytes sizes;
    if (entry.large) {
        sizes.U64(entry.size).U64(entry.compressedSize);
        PutAt(entry.offset + 30 + entry.name.size() + 4, sizes.Data());
    } else {
        sizes.U32(static_cast<std::uint32_t>(entry.compressedSize)).U32(static_cast<std::uint32_t>(entry.size));
        PutAt(entry.offset + 18, sizes.Data());
    }
}

void ZipPackage::Finish()
{
    std::uint16_t time, date;
    DosTime(time, date);
    const std::uint64_t centralStart = offset_;
    for (const Entry& entry : entries_) {
        // Whatever does not fit in its field goes into the ZIP64 extra
        // field, in this order, and only that: LibreOffice refuses a
        // package whose directory gives sizes there that would fit.
        const bool bigSizes = entry.size >= kUnknown32 || entry.compressedSize >= kUnknown32;
        const bool bigOffset = entry.offset >= kUnknown32;
        Bytes extra;
        if (bigSizes)
            extra.U64(entry.size).U64(entry.compressedSize);
        if (bigOffset)
            extra.U64(entry.offset);
        const std::size_t extraSize = extra.Data().size();
        const std::uint16_t version = bigSizes || bigOffset ? 45 : 20;
        Bytes header;
        header.U32(kCentralHeader).U16(version).U16(version).U16(0).U16(8).U16(time).U16(date).U32(entry.crc);
        header.U32(bigSizes ? kUnknown32 : static_cast<std::uint32_t>(entry.compressedSize));
        header.U32(bigSizes ? kUnknown32 : static_cast<std::uint32_t>(entry.size));
        header.U16(static_cast<std::uint32_t>(entry.name.size())).U16(extraSize ? extraSize + 4 : 0).U16(0);
        header.U16(0).U16(0).U32(0).U32(bigOffset ? kUnknown32 : static_cast<std::uint32_t>(entry.offset));
        header.Text(entry.name);
        if (extraSize) {
            header.U16(kZip64Extra).U16(static_cast<std::uint32_t>(extraSize));
            header.Text(extra.Data());
        }
        Put(header.Data().data(), header.Data().size());
    }
    const std::uint64_t centralSize = offset_ - centralStart;
    const std::uint64_t count = entries_.size();
    const bool zip64 = count >= 0xFFFF || centralStart >= kUnknown32 || centralSize >= kUnknown32;
    if (zip64) {
        const std::uint64_t recordStart = offset_;
        Bytes record;
        record.U32(kZip64EndOfCentral).U64(44).U16(45).U16(45).U32(0).U32(0).U64(count).U64(count);
        record.U64(centralSize).U64(centralStart);
        record.U32(kZip64Locator).U32(0).U64(recordStart).U32(1);
        Put(record.Data().data(), record.Data().size());
    }
    Bytes end;
    const std::uint32_t shortCount = zip64 ? 0xFFFF : static_cast<std::uint32_t>(count);
    end.U32(kEndOfCentral).U16(0).U16(0).U16(shortCount).U16(shortCount);
    end.U32(zip64 ? kUnknown32 : static_cast<std::uint32_t>(centralSize));
    end.U32(zip64 ? kUnknown32 : static_cast<std::uint32_t>(centralStart)).U16(0);
    Put(end.Data().data(), end.Data().size());
}

} // namespace querlin::exports::detail
