#pragma once
// The rows of an open record set, held compactly: one array of fixed-size
// slots per column, cut into chunks so that growing never copies what is
// already held, a null bit per cell, and one shared byte arena for text and
// binary values (a slot then holds the arena position; the value is stored
// behind its length). Rows are only ever added; the record set marks
// deleted rows itself, so a physical row index stays a valid bookmark.
// Internal to the data layer.
//
// One thread writes (the GUI thread, or the worker that fetches the rows);
// any thread may read the published rows, RowCount() of them, without a
// lock. Once shared (Share), a written row stays unseen until Publish makes
// every row written so far visible with one release store of the count;
// the readers load it with acquire. Nothing published is ever moved or
// freed while the snapshot lives: the chunk and arena directories are
// replaced, never rewritten, and the arrays they replace are kept.
//
// The arrays live in memory while the process's row budget allows
// (platform/RowMemory.h), past it in the snapshot's own cache file, mapped
// (platform/CacheFile.h): readers see no difference. When neither can give
// more, AddRow or SetRef throws (std::bad_alloc, or the cache file's
// error) and the snapshot stays whole: the rows written before are kept,
// the row being written is never published unless Publish is called.

#include <atomic>
#include <cstdint>
#include <cstddef>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace querlin::platform {
class CacheFile;
}

namespace querlin::data {

enum class SlotKind : std::uint8_t { Int32, Int64, Float64, Ref };

class Snapshot {
public:
    explicit Snapshot(std::vector<SlotKind> columns);
    ~Snapshot();
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    int ColumnCount() const { return columnCount_; }
    SlotKind KindOf(int column) const { return columns_[column].kind; }
    // The published rows: any thread.
    std::int64_t RowCount() const { return published_.load(std::memory_order_acquire); }
    // The rows written, published or not: the writing thread only.
    std::int64_t WrittenCount() const { return rowCount_; }

    // Adds a row whose cells are all null; returns its index. Unshared, the
    // row is published at once.
    std::int64_t AddRow();
    // Writing thread only, and never while another thread reads.
    void Clear();

    // From now on rows are published by Publish only (call before another
    // thread reads). Unshare publishes at once again, once the writer is
    // the only thread left that writes.
    void Share() { shared_ = true; }
    void Unshare();
    void Publish() { published_.store(rowCount_, std::memory_order_release); }
    // Keeps the first rows only (a fetch stopped within a block); the cells
    // of the rows forgotten are null again for the next AddRow. Only when
    // no other thread reads past keep.
    void Truncate(std::int64_t keep);

    bool IsNull(int column, std::int64_t row) const
    {
        const Chunk& chunk = columns_[column].chunks.Load()[static_cast<std::size_t>(row >> kChunkShift)];
        const std::uint64_t bit = static_cast<std::uint64_t>(row) & kChunkMask;
        return (NullWord(chunk, bit).load(std::memory_order_relaxed) >> (bit & 63)) & 1;
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

    // Bytes allocated for slots, null bits and the arena, and how many of
    // them are in the cache file.
    std::size_t AllocatedBytes() const;
    std::size_t SpilledBytes() const { return spilled_; }

private:
    static constexpr int kChunkShift = 12;
    static constexpr std::int64_t kChunkRows = std::int64_t(1) << kChunkShift;
    static constexpr std::uint64_t kChunkMask = kChunkRows - 1;
    static constexpr std::int64_t kFirstChunkRows = 64;  // a multiple of 64: whole null words
    static constexpr std::size_t kArenaBlock = 256 * 1024;

    // One allocation of the arrays: memory taken from the row budget, given
    // back with it, or a part of the cache file, which goes with the file.
    class Block {
    public:
        Block() = default;
        Block(unsigned char* bytes, std::size_t size, bool inMemory)
            : bytes_(bytes), size_(size), inMemory_(inMemory)
        {
        }
        Block(Block&& other) noexcept
            : bytes_(std::exchange(other.bytes_, nullptr)), size_(other.size_), inMemory_(other.inMemory_)
        {
        }
        Block& operator=(Block&& other) noexcept
        {
            if (this != &other) {
                Free();
                bytes_ = std::exchange(other.bytes_, nullptr);
                size_ = other.size_;
                inMemory_ = other.inMemory_;
            }
            return *this;
        }
        ~Block() { Free(); }
        unsigned char* Get() const { return bytes_; }

    private:
        void Free() noexcept;
        unsigned char* bytes_ = nullptr;
        std::size_t size_ = 0;
        bool inMemory_ = false;
    };

    struct Chunk {
        std::uint64_t* nulls = nullptr;  // null words, then the slots, in one allocation
        unsigned char* slots = nullptr;
    };

    // An append-only array the readers load with acquire: growing, or
    // changing an entry once shared, installs a new array; the old ones are
    // kept until Clear or destruction.
    template <class T>
    class Directory {
    public:
        const T* Load() const { return data_.load(std::memory_order_acquire); }
        std::size_t Size() const { return size_; }
        // The new entry is past what any reader looks at.
        void Push(T value)
        {
            if (size_ == capacity_)
                Install(capacity_ == 0 ? 4 : capacity_ * 2, size_, value);
            else
                arrays_.back()[size_] = value;
            ++size_;
        }
        // Shared, a reader may be on the entry: a new array takes it.
        void Set(std::size_t index, T value, bool shared)
        {
            if (shared)
                Install(capacity_, index, value);
            else
                arrays_.back()[index] = value;
        }
        void Clear()
        {
            data_.store(nullptr, std::memory_order_release);
            arrays_.clear();
            size_ = capacity_ = 0;
        }

    private:
        void Install(std::size_t capacity, std::size_t index, T value)
        {
            std::unique_ptr<T[]> grown(new T[capacity]);
            for (std::size_t i = 0; i < size_; ++i)
                grown[i] = arrays_.back()[i];
            grown[index] = value;
            // The entries are complete before the array is seen.
            data_.store(grown.get(), std::memory_order_release);
            arrays_.push_back(std::move(grown));
            capacity_ = capacity;
        }

        std::atomic<T*> data_{nullptr};
        std::size_t size_ = 0;
        std::size_t capacity_ = 0;
        std::vector<std::unique_ptr<T[]>> arrays_;  // the last one is current
    };

    struct Column {
        SlotKind kind = SlotKind::Int32;
        int width = 4;
        Directory<Chunk> chunks;
        std::vector<Block> storage;      // every chunk's allocation, kept
        std::int64_t firstCapacity = 0;  // rows; the first chunk grows up to kChunkRows
        std::size_t bytes = 0;           // of the chunks in use
    };
    struct ArenaBlock {
        Block bytes;
        std::size_t size = 0;
        std::size_t used = 0;
    };

    Chunk NewChunk(Column& column, std::int64_t capacity);
    // bytes of memory, or of the cache file past the budget; 8-byte aligned.
    Block Allocate(std::size_t bytes);
    unsigned char* Spill(std::size_t bytes);
    void GrowFirstChunk(Column& column, std::int64_t capacity);

    // A null word holds the bits of 64 rows, published and not: the writer
    // changes it while a reader reads it, so both go through atomics
    // (relaxed: the row count's release and acquire order the rest; one
    // writer, so no read-modify-write is needed).
    static std::atomic_ref<std::uint64_t> NullWord(const Chunk& chunk, std::uint64_t bit)
    {
        return std::atomic_ref<std::uint64_t>(chunk.nulls[bit >> 6]);
    }
    static void ClearNull(const Chunk& chunk, std::uint64_t bit)
    {
        const std::atomic_ref<std::uint64_t> word = NullWord(chunk, bit);
        word.store(word.load(std::memory_order_relaxed) & ~(std::uint64_t(1) << (bit & 63)),
                   std::memory_order_relaxed);
    }
    static void SetNullBit(const Chunk& chunk, std::uint64_t bit)
    {
        const std::atomic_ref<std::uint64_t> word = NullWord(chunk, bit);
        word.store(word.load(std::memory_order_relaxed) | (std::uint64_t(1) << (bit & 63)),
                   std::memory_order_relaxed);
    }

    template <class T>
    T Read(int column, std::int64_t row) const
    {
        const Chunk& chunk = columns_[column].chunks.Load()[static_cast<std::size_t>(row >> kChunkShift)];
        T value;
        __builtin_memcpy(&value, chunk.slots + (static_cast<std::uint64_t>(row) & kChunkMask) * sizeof(T),
                         sizeof(T));
        return value;
    }
    template <class T>
    void Write(int column, std::int64_t row, T value)
    {
        const Chunk& chunk = columns_[column].chunks.Load()[static_cast<std::size_t>(row >> kChunkShift)];
        const std::uint64_t bit = static_cast<std::uint64_t>(row) & kChunkMask;
        __builtin_memcpy(chunk.slots + bit * sizeof(T), &value, sizeof(T));
        ClearNull(chunk, bit);
    }

    std::unique_ptr<Column[]> columns_;
    int columnCount_ = 0;
    std::vector<ArenaBlock> arena_;      // the writer's
    Directory<const char*> arenaBytes_;  // the readers'
    std::size_t fillingBlock_ = SIZE_MAX;  // the shared block that small values go to
    std::int64_t rowCount_ = 0;
    std::atomic<std::int64_t> published_{0};
    // The cache file, made when the budget is first passed, and the part of
    // its last piece not handed out yet.
    std::unique_ptr<platform::CacheFile> file_;
    unsigned char* fileNext_ = nullptr;
    std::size_t fileLeft_ = 0;
    std::size_t fileGrowth_ = 0;
    std::size_t spilled_ = 0;
    bool shared_ = false;
};

} // namespace querlin::data
