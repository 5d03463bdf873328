#pragma once
// The row window: the run of rows a record set holds for its links, at most
// Size() of them in record order, one of them active. It slides over the
// rows as the record set moves, so the active index can stay on the same
// place while the rows under it change. A held row with physical index -1
// is the row being appended, always the last.
//
// It knows the rows only through LiveRows (the snapshot less the rows
// deleted through the record set); the links that show it, and what they
// are told, belong to the record set. Internal to the data layer; one
// thread at a time, like its record set.

#include <cstdint>
#include <deque>

namespace querlin::data {

// What the window needs to know of the rows it walks over.
class LiveRows {
public:
    virtual ~LiveRows() = default;
    // The next or prior row not deleted, by physical index; -1 when none.
    // NextLive(-1) is the first row, PriorLive(PhysicalCount()) the last.
    virtual std::int64_t NextLive(std::int64_t physical) const = 0;
    virtual std::int64_t PriorLive(std::int64_t physical) const = 0;
    virtual std::int64_t PositionOf(std::int64_t physical) const = 0;  // 0-based among the live rows
    virtual std::int64_t LiveCount() const = 0;
    virtual std::int64_t PhysicalCount() const = 0;
    virtual bool IsDeleted(std::int64_t physical) const = 0;
};

class RowWindow {
public:
    struct HeldRow {
        std::int64_t physical;
        int recordNumber;
    };

    explicit RowWindow(const LiveRows& rows) : rows_(rows) {}

    int Count() const { return static_cast<int>(held_.size()); }
    bool Empty() const { return held_.empty(); }
    const HeldRow& At(int index) const { return held_[static_cast<std::size_t>(index)]; }
    const HeldRow& Active() const { return At(active_); }
    int ActiveIndex() const { return active_; }
    // Clamped to the held rows.
    void SetActiveIndex(int index);
    int Size() const { return size_; }
    void SetSize(int size) { size_ = size < 1 ? 1 : size; }
    bool AtStart() const { return atStart_; }
    bool AtEnd() const { return atEnd_; }

    // Holds nothing, no end reached.
    void Clear();
    // The first rows, the first one active.
    void FillFromStart();
    // The last rows, the last one active.
    void FillFromEnd();
    // The row being appended, after as many of the last rows as fit.
    void FillForAppending();
    // The rows about a physical row (or, when it is gone, the one after it,
    // else the one before it), the active index kept or, when centred, in
    // the middle of the window.
    void RefillAbout(std::int64_t physical, bool centred);
    // Moves the active row by count rows, sliding where it must. Returns the
    // rows moved; slides is the net number of rows the window slid forward
    // and grew tells that the window took rows without sliding.
    int Move(int count, int& slides, bool& grew);
    // Rows were added after the last one: the window takes them while it has
    // room (true when it did), and an end reached is an end no more. The
    // active row stays.
    bool RowsAdded();

    // Resizing: when shrinking, the run kept starts at earliestShown (the
    // first row any view shows), moved back so that it fits and keeps the
    // active row; when growing (open record sets only), rows are fetched
    // after and then before. Tells how many rows went from the front and
    // then came to it, for the views to follow their rows.
    struct Resized {
        int droppedInFront = 0;
        int addedInFront = 0;
    };
    Resized Resize(int newSize, int earliestShown, bool open);

private:
    bool FetchNext(int* slides);
    bool FetchPrior(int* slides, int* putInFront);

    const LiveRows& rows_;
    std::deque<HeldRow> held_;
    int active_ = 0;
    int size_ = 1;  // N
    bool atStart_ = false;
    bool atEnd_ = false;
};

} // namespace querlin::data
