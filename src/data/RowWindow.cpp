#include "data/RowWindow.h"

#include <algorithm>

namespace querlin::data {

void RowWindow::SetActiveIndex(int index)
{
    if (held_.empty())
        return;
    active_ = std::clamp(index, 0, Count() - 1);
}

void RowWindow::Clear()
{
    held_.clear();
    active_ = 0;
    atStart_ = atEnd_ = false;
}

bool RowWindow::RowsAdded()
{
    if (held_.empty()) {
        FillFromStart();
        return !held_.empty();
    }
    if (held_.back().physical < 0)  // appending: the new row stays the last
        return false;
    if (atEnd_ && rows_.NextLive(held_.back().physical) >= 0)
        atEnd_ = false;
    bool grew = false;
    while (Count() < size_ && FetchNext(nullptr))
        grew = true;
    return grew;
}

bool RowWindow::FetchNext(int* slides)
{
    std::int64_t physical;
    int recordNumber;
    if (held_.empty()) {
        physical = rows_.NextLive(-1);
        recordNumber = 1;
    } else {
        const HeldRow& last = held_.back();
        if (last.physical < 0)  // the row being appended is always the last
            return false;
        physical = rows_.NextLive(last.physical);
        recordNumber = last.recordNumber + 1;
    }
    if (physical < 0)
        return false;
    if (Count() < size_) {
        held_.push_back(HeldRow{physical, recordNumber});
    } else {
        // Slide: the active index keeps its value and so stands on the next row.
        held_.pop_front();
        held_.push_back(HeldRow{physical, recordNumber});
        if (slides)
            ++*slides;
    }
    return true;
}

bool RowWindow::FetchPrior(int* slides, int* putInFront)
{
    std::int64_t physical;
    int recordNumber;
    if (held_.empty() || held_.front().physical < 0) {
        physical = rows_.PriorLive(rows_.PhysicalCount());
        recordNumber = static_cast<int>(rows_.LiveCount());
    } else {
        const HeldRow& first = held_.front();
        physical = rows_.PriorLive(first.physical);
        recordNumber = first.recordNumber - 1;
    }
    if (physical < 0)
        return false;
    if (Count() < size_) {
        const bool wasEmpty = held_.empty();
        held_.push_front(HeldRow{physical, recordNumber});
        if (!wasEmpty)
            ++active_;  // stays on the same row
        if (putInFront)
            ++*putInFront;
    } else {
        held_.pop_back();
        held_.push_front(HeldRow{physical, recordNumber});
        if (slides)
            --*slides;
    }
    return true;
}

void RowWindow::FillFromStart()
{
    held_.clear();
    active_ = 0;
    while (Count() < size_ && FetchNext(nullptr)) {
    }
    atStart_ = true;
    atEnd_ = held_.empty();
}

void RowWindow::FillFromEnd()
{
    held_.clear();
    active_ = 0;
    while (Count() < size_ && FetchPrior(nullptr, nullptr)) {
    }
    active_ = std::max(0, Count() - 1);
    atEnd_ = true;
    atStart_ = held_.empty();
}

void RowWindow::FillForAppending()
{
    held_.clear();
    held_.push_back(HeldRow{-1, -1});
    active_ = 0;
    while (Count() < size_ && FetchPrior(nullptr, nullptr)) {
    }
    atStart_ = false;
    atEnd_ = true;
}

void RowWindow::RefillAbout(std::int64_t physical, bool centred)
{
    const int oldActive = active_;
    std::int64_t anchor = physical;
    if (anchor < 0 || anchor >= rows_.PhysicalCount() || rows_.IsDeleted(anchor)) {
        // The row is gone: take the one after it, else the one before it.
        const std::int64_t from = anchor < 0 ? rows_.PhysicalCount() : anchor;
        anchor = rows_.NextLive(from);
        if (anchor < 0)
            anchor = rows_.PriorLive(from);
    }
    held_.clear();
    active_ = 0;
    if (anchor < 0) {
        atStart_ = atEnd_ = true;
        return;
    }
    atStart_ = atEnd_ = false;
    held_.push_back(HeldRow{anchor, static_cast<int>(rows_.PositionOf(anchor)) + 1});
    const int target = centred ? (size_ - 1) / 2 : std::min(oldActive, size_ - 1);
    for (int k = 0; k < target; ++k) {
        if (!FetchPrior(nullptr, nullptr))
            break;
    }
    while (Count() < size_ && FetchNext(nullptr)) {
    }
    while (Count() < size_ && FetchPrior(nullptr, nullptr)) {
    }
}

int RowWindow::Move(int count, int& slides, bool& grew)
{
    slides = 0;
    grew = false;
    if (count == 0 || (count > 0 && atEnd_) || (count < 0 && atStart_))
        return 0;
    atStart_ = atEnd_ = false;
    const int heldBefore = Count();
    int moved = 0;
    if (count > 0) {
        for (int i = 0; i < count; ++i) {
            if (active_ >= Count() - 1) {
                const int before = Count();
                if (!FetchNext(&slides)) {
                    atEnd_ = true;
                    break;
                }
                if (Count() > before)
                    ++active_;
            } else {
                ++active_;
            }
            ++moved;
        }
    } else {
        for (int i = 0; i > count; --i) {
            if (active_ <= 0) {
                const int before = Count();
                if (!FetchPrior(&slides, nullptr)) {
                    atStart_ = true;
                    break;
                }
                if (Count() > before)
                    --active_;
            } else {
                --active_;
            }
            --moved;
        }
    }
    grew = Count() != heldBefore;
    return moved;
}

RowWindow::Resized RowWindow::Resize(int newSize, int earliestShown, bool open)
{
    Resized resized;
    newSize = std::max(1, newSize);
    if (newSize == size_)
        return resized;
    const int held = Count();
    if (newSize < size_ && held > newSize) {
        // Keep the run that starts at the earliest row anyone shows, moved
        // back so that it fits; it always keeps the active row.
        int start = std::min(active_, earliestShown);
        if (active_ - start >= newSize)
            start = active_ - newSize + 1;
        start = std::max(0, std::min(start, held - newSize));
        held_.erase(held_.begin(), held_.begin() + start);
        held_.resize(static_cast<std::size_t>(newSize));
        active_ -= start;
        resized.droppedInFront = start;
    }
    size_ = newSize;
    if (open && !held_.empty()) {
        while (Count() < size_ && FetchNext(nullptr)) {
        }
        while (Count() < size_ && FetchPrior(nullptr, &resized.addedInFront)) {
        }
    }
    return resized;
}

} // namespace querlin::data
