#include "data/Snapshot.h"

#include "platform/CacheFile.h"
#include "platform/RowMemory.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace querlin::data {

namespace {

// The cache file grows by pieces that start small (a short result spilled
// takes little disk) and double up to the largest; fewer, larger pieces
// keep the mappings few whatever the table's size.
constexpr std::size_t kFirstPiece = std::size_t(1) << 20;
constexpr std::size_t kLargestPiece = std::size_t(64) << 20;

int WidthOf(SlotKind kind)
{
    return kind == SlotKind::Int32 ? 4 : 8;
}

// Arena positions: the block in the high half, the offset in the low half.
std::uint64_t MakeRef(std::size_t block, std::size_t offset)
{
    return (static_cast<std::uint64_t>(block) << 32) | static_cast<std::uint64_t>(offset);
}

std::size_t LengthPrefixSize(std::size_t length)
{
    std::size_t n = 1;
    while (length >= 0x80) {
        length >>= 7;
        ++n;
    }
    return n;
}

} // namespace

Snapshot::Snapshot(std::vector<SlotKind> columns)
    : columns_(new Column[columns.size()]), columnCount_(static_cast<int>(columns.size()))
{
    for (std::size_t c = 0; c < columns.size(); ++c) {
        columns_[c].kind = columns[c];
        columns_[c].width = WidthOf(columns[c]);
    }
}

Snapshot::~Snapshot() = default;

void Snapshot::Block::Free() noexcept
{
    if (bytes_ && inMemory_) {
        delete[] bytes_;
        platform::ReleaseRowMemory(size_);
    }
    bytes_ = nullptr;
}

Snapshot::Block Snapshot::Allocate(std::size_t bytes)
{
    bytes = (bytes + 7) & ~std::size_t(7);
    platform::CheckRowAllocation(bytes);
    if (platform::ReserveRowMemory(bytes)) {
        unsigned char* p = nullptr;
        try {
            p = new unsigned char[bytes];
        } catch (...) {
            platform::ReleaseRowMemory(bytes);
            throw;
        }
        return Block(p, bytes, true);
    }
    return Block(Spill(bytes), bytes, false);
}

unsigned char* Snapshot::Spill(std::size_t bytes)
{
    if (!file_)
        file_ = std::make_unique<platform::CacheFile>();
    if (bytes > kLargestPiece / 4) {
        // A large value takes a piece of its own; the current one goes on.
        unsigned char* p = file_->Extend(bytes);
        spilled_ += bytes;
        return p;
    }
    if (bytes > fileLeft_) {
        const std::size_t piece = fileGrowth_ == 0 ? kFirstPiece : std::min(fileGrowth_ * 2, kLargestPiece);
        fileNext_ = file_->Extend(piece);
        fileLeft_ = piece;
        fileGrowth_ = piece;
    }
    unsigned char* p = fileNext_;
    fileNext_ += bytes;
    fileLeft_ -= bytes;
    spilled_ += bytes;
    return p;
}

void Snapshot::Clear()
{
    for (int c = 0; c < columnCount_; ++c) {
        Column& column = columns_[c];
        column.chunks.Clear();
        column.storage.clear();
        column.firstCapacity = 0;
        column.bytes = 0;
    }
    arena_.clear();
    arenaBytes_.Clear();
    fillingBlock_ = SIZE_MAX;
    rowCount_ = 0;
    published_.store(0, std::memory_order_release);
    file_.reset();
    fileNext_ = nullptr;
    fileLeft_ = fileGrowth_ = spilled_ = 0;
}

void Snapshot::Unshare()
{
    shared_ = false;
    Publish();
}

void Snapshot::Truncate(std::int64_t keep)
{
    if (keep >= rowCount_)
        return;
    for (std::int64_t row = keep; row < rowCount_; ++row) {
        for (int c = 0; c < columnCount_; ++c)
            SetNull(c, row);
    }
    rowCount_ = keep;
    published_.store(keep, std::memory_order_release);
}

Snapshot::Chunk Snapshot::NewChunk(Column& column, std::int64_t capacity)
{
    Chunk chunk;
    const std::size_t nullBytes = static_cast<std::size_t>(capacity) / 8;
    const std::size_t bytes = nullBytes + static_cast<std::size_t>(capacity) * column.width;
    column.storage.reserve(column.storage.size() + 1);
    column.storage.push_back(Allocate(bytes));
    column.bytes += bytes;
    chunk.nulls = reinterpret_cast<std::uint64_t*>(column.storage.back().Get());
    chunk.slots = column.storage.back().Get() + nullBytes;
    // Every cell starts null; a value clears its bit.
    std::memset(chunk.nulls, 0xFF, nullBytes);
    return chunk;
}

void Snapshot::GrowFirstChunk(Column& column, std::int64_t capacity)
{
    const std::int64_t grown = capacity == 0 ? kFirstChunkRows : std::min(capacity * 2, kChunkRows);
    Chunk chunk = NewChunk(column, grown);
    if (column.chunks.Size() > 0) {
        const Chunk old = column.chunks.Load()[0];
        std::memcpy(chunk.nulls, old.nulls, static_cast<std::size_t>(capacity) / 8);
        std::memcpy(chunk.slots, old.slots, static_cast<std::size_t>(capacity) * column.width);
        column.chunks.Set(0, chunk, shared_);
        // A reader may still be on the old copy while shared: it stays.
        if (!shared_) {
            column.storage.erase(column.storage.end() - 2);
            column.bytes -= static_cast<std::size_t>(capacity) / 8 + static_cast<std::size_t>(capacity) * column.width;
        }
    } else {
        column.chunks.Push(chunk);
    }
    column.firstCapacity = grown;
}

std::int64_t Snapshot::AddRow()
{
    const std::int64_t row = rowCount_;
    // Each column is seen to on its own, so that an allocation failing
    // half-way leaves every column whole for the next try.
    if (row < kChunkRows) {
        // The first chunk grows by doubling, so that a short result of many
        // columns does not take a full chunk per column.
        for (int c = 0; c < columnCount_; ++c) {
            if (row == columns_[c].firstCapacity)
                GrowFirstChunk(columns_[c], columns_[c].firstCapacity);
        }
    } else if ((row & static_cast<std::int64_t>(kChunkMask)) == 0) {
        // A chunk may be left from rows dropped unpublished.
        for (int c = 0; c < columnCount_; ++c) {
            if (columns_[c].chunks.Size() <= static_cast<std::size_t>(row >> kChunkShift))
                columns_[c].chunks.Push(NewChunk(columns_[c], kChunkRows));
        }
    }
    ++rowCount_;
    if (!shared_)
        Publish();
    return row;
}

void Snapshot::SetNull(int column, std::int64_t row)
{
    const Chunk& chunk = columns_[column].chunks.Load()[static_cast<std::size_t>(row >> kChunkShift)];
    const std::uint64_t bit = static_cast<std::uint64_t>(row) & kChunkMask;
    SetNullBit(chunk, bit);
}

void Snapshot::SetRef(int column, std::int64_t row, std::string_view bytes)
{
    const std::size_t need = LengthPrefixSize(bytes.size()) + bytes.size();
    std::size_t blockIndex;
    // The writer's list and the readers' directory gain a block together,
    // or neither does.
    auto addBlock = [this](std::size_t size) {
        arena_.reserve(arena_.size() + 1);
        Block block = Allocate(size);
        arenaBytes_.Push(reinterpret_cast<const char*>(block.Get()));
        arena_.push_back(ArenaBlock{std::move(block), size, 0});
        return arena_.size() - 1;
    };
    if (need > kArenaBlock / 4) {
        // A large value gets a block of its own, so the shared blocks stay small.
        blockIndex = addBlock(need);
    } else {
        if (fillingBlock_ >= arena_.size() || arena_[fillingBlock_].size - arena_[fillingBlock_].used < need) {
            // Shared blocks start small and double, as the first chunk does.
            const std::size_t size = std::max(
                need, fillingBlock_ < arena_.size() ? std::min(arena_[fillingBlock_].size * 2, kArenaBlock)
                                                    : std::size_t(4096));
            fillingBlock_ = addBlock(size);
        }
        blockIndex = fillingBlock_;
    }
    ArenaBlock& block = arena_[blockIndex];
    const std::size_t offset = block.used;
    char* p = reinterpret_cast<char*>(block.bytes.Get()) + offset;
    std::size_t length = bytes.size();
    while (length >= 0x80) {
        *p++ = static_cast<char>((length & 0x7F) | 0x80);
        length >>= 7;
    }
    *p++ = static_cast<char>(length);
    if (!bytes.empty())
        std::memcpy(p, bytes.data(), bytes.size());
    block.used += need;
    Write<std::uint64_t>(column, row, MakeRef(blockIndex, offset));
}

std::string_view Snapshot::Ref(int column, std::int64_t row) const
{
    const std::uint64_t ref = Read<std::uint64_t>(column, row);
    const char* p = arenaBytes_.Load()[static_cast<std::size_t>(ref >> 32)] + (ref & 0xFFFFFFFFu);
    std::size_t length = 0;
    int shift = 0;
    for (;;) {
        const unsigned char b = static_cast<unsigned char>(*p++);
        length |= static_cast<std::size_t>(b & 0x7F) << shift;
        if (!(b & 0x80))
            break;
        shift += 7;
    }
    return {p, length};
}

void Snapshot::CopyRow(const Snapshot& from, std::int64_t fromRow, std::int64_t toRow)
{
    for (int c = 0; c < ColumnCount(); ++c) {
        if (from.IsNull(c, fromRow)) {
            SetNull(c, toRow);
            continue;
        }
        switch (columns_[c].kind) {
        case SlotKind::Int32: SetInt32(c, toRow, from.Int32(c, fromRow)); break;
        case SlotKind::Int64: SetInt64(c, toRow, from.Int64(c, fromRow)); break;
        case SlotKind::Float64: SetFloat64(c, toRow, from.Float64(c, fromRow)); break;
        case SlotKind::Ref: SetRef(c, toRow, from.Ref(c, fromRow)); break;
        }
    }
}

std::size_t Snapshot::AllocatedBytes() const
{
    std::size_t total = 0;
    for (int c = 0; c < columnCount_; ++c)
        total += columns_[c].bytes;
    for (const ArenaBlock& b : arena_)
        total += b.size;
    return total;
}

} // namespace querlin::data
