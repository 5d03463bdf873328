#pragma once
// The rows of an open record set, held compactly: one array of fixed-size
// slots per column, cut into chunks so that growing never copies what is
// already held, a null bit per cell, and one shared byte arena for text and
// binary values (a slot then holds the arena position; the value is stored
// behind its length). Rows are only ever added; the record set marks
// deleted rows itself, so a physical row index stays a valid bookmark.
// Internal to the data layer; one thread.

#include <cstdint>
#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace querlin::data {

enum class SlotKind : std::uint8_t { Int32, Int64, Float64, Ref };

class Snapshot {
public:
    explicit Snapshot(std::vector<SlotKind> columns);
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    int ColumnCount() const { return static_cast<int>(columns_.size()); }
    SlotKind KindOf(int column) const { return columns_[column].kind; }
    std::int64_t RowCount() const { return rowCount_; }

    // Adds a row whose cells are all null; returns its index.
    std::int64_t AddRow();
    void Clear();

    bool IsNull(int column, std::int64_t row) const
    {
        const Column& c = columns_[column];
        const Chunk& chunk = c.chunks[static_cast<std::size_t>(row >> kChunkShift)];
        const std::uint64_t bit = static_cast<std::uint64_t>(row) & kChunkMask;
        return (chunk.nulls[bit >> 6] >> (bit & 63)) & 1;
    }
    std::int32_t Int32(int column, std::int64_t row) const { return Read<std::int32_t>(column, row); }
    std::int64_t Int64(int column, std::int64_t row) const { return Read<std::int64_t>(column, row); }
    double Float64(int column, std::int64_t row) const { return Read<double>(column, row); }
    std::string_view Ref(int column, std::int64_t row) const;

    void SetNull(int column, std::int64_t row);
    void SetInt32(int column, std::int64_t row, std::int32_t value) { Write(column, row, value); }
    void SetInt64(int column, std::int64_t row, std::int64_t value) { Write(column, row, value); }
    void SetFloat64(int column, std::int64_t row, double value) { Write(column, row, value); }
    void SetRef(int column, std::int64_t row, std::string_view bytes);

    // Copies one row of another snapshot with the same columns into a row of this one.
    void CopyRow(const Snapshot& from, std::int64_t fromRow, std::int64_t toRow);

    // Bytes allocated for slots, null bits and the arena.
    std::size_t AllocatedBytes() const;

private:
    static constexpr int kChunkShift = 12;
    static constexpr std::int64_t kChunkRows = std::int64_t(1) << kChunkShift;
    static constexpr std::uint64_t kChunkMask = kChunkRows - 1;
    static constexpr std::int64_t kFirstChunkRows = 64;  // a multiple of 64: whole null words
    static constexpr std::size_t kArenaBlock = 256 * 1024;

    struct Chunk {
        std::unique_ptr<unsigned char[]> storage;  // null words, then the slots
        std::uint64_t* nulls = nullptr;
        unsigned char* slots = nullptr;
        std::int64_t capacity = 0;  // rows; the first chunk grows up to kChunkRows
    };
    struct Column {
        SlotKind kind;
        int width;
        std::vector<Chunk> chunks;
    };
    struct ArenaBlock {
        std::unique_ptr<char[]> bytes;
        std::size_t size = 0;
        std::size_t used = 0;
    };

    static Chunk NewChunk(int width, std::int64_t capacity);

    template <class T>
    T Read(int column, std::int64_t row) const
    {
        const Chunk& chunk = columns_[column].chunks[static_cast<std::size_t>(row >> kChunkShift)];
        T value;
        __builtin_memcpy(&value, chunk.slots + (static_cast<std::uint64_t>(row) & kChunkMask) * sizeof(T),
                         sizeof(T));
        return value;
    }
    template <class T>
    void Write(int column, std::int64_t row, T value)
    {
        Chunk& chunk = columns_[column].chunks[static_cast<std::size_t>(row >> kChunkShift)];
        const std::uint64_t bit = static_cast<std::uint64_t>(row) & kChunkMask;
        __builtin_memcpy(chunk.slots + bit * sizeof(T), &value, sizeof(T));
        chunk.nulls[bit >> 6] &= ~(std::uint64_t(1) << (bit & 63));
    }

    std::vector<Column> columns_;
    std::vector<ArenaBlock> arena_;
    std::size_t fillingBlock_ = SIZE_MAX;  // the shared block that small values go to
    std::int64_t rowCount_ = 0;
};

} // namespace querlin::data
