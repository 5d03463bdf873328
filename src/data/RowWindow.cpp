// The row window a record set keeps for its links, the moves through it, and
// the notifications that tell the links what changed.

#include "data/DataSet.h"
#include "data/DataSetImpl.h"
#include "platform/Error.h"

#include <algorithm>

namespace querlin::data {

namespace {

// Counts a notification call in progress, so that a link moving the record
// set from inside one is caught.
class NotifyScope {
public:
    explicit NotifyScope(int& depth) : depth_(depth) { ++depth_; }
    ~NotifyScope() { --depth_; }
    NotifyScope(const NotifyScope&) = delete;
    NotifyScope& operator=(const NotifyScope&) = delete;

private:
    int& depth_;
};

} // namespace

// The active links of a record set, gathered without touching the heap for
// the usual handful: every move notifies, so this is on the walking path.
class TADOQuery::Impl::ActiveLinks {
public:
    explicit ActiveLinks(const Impl& set)
    {
        for (TDataSource* source : set.sources) {
            for (TDataLink* link : source->d_->links) {
                if (!link->d_->active)
                    continue;
                if (count_ < kInline)
                    inline_[count_] = Entry{link, 0};
                else
                    more_.push_back(Entry{link, 0});
                ++count_;
            }
        }
    }
    std::size_t Count() const { return count_; }
    TDataLink* At(std::size_t i) const { return Get(i).link; }
    int Distance(std::size_t i) const { return Get(i).distance; }
    void SetDistance(std::size_t i, int d) { const_cast<Entry&>(Get(i)).distance = d; }

private:
    struct Entry {
        TDataLink* link;
        int distance;
    };
    static constexpr std::size_t kInline = 8;
    const Entry& Get(std::size_t i) const { return i < kInline ? inline_[i] : more_[i - kInline]; }
    Entry inline_[kInline];
    std::vector<Entry> more_;
    std::size_t count_ = 0;
};

// ---------------------------------------------------------------------------
// Window mechanics

std::vector<TDataLink*> TADOQuery::Impl::Links() const
{
    std::vector<TDataLink*> all;
    for (TDataSource* source : sources)
        all.insert(all.end(), source->d_->links.begin(), source->d_->links.end());
    return all;
}

int TADOQuery::Impl::DesiredWindowSize() const
{
    int size = 1;
    if (state == TDataSetState::dsInactive)
        return size;
    for (TDataLink* link : Links())
        size = std::max(size, link->d_->bufferCount);
    return size;
}

bool TADOQuery::Impl::FetchNext(int* slides)
{
    std::int64_t physical;
    int recordNumber;
    if (window.empty()) {
        physical = NextLive(-1);
        recordNumber = 1;
    } else {
        const HeldRow& last = window.back();
        if (last.physical < 0)  // the row being appended is always the last
            return false;
        physical = NextLive(last.physical);
        recordNumber = last.recordNumber + 1;
    }
    if (physical < 0)
        return false;
    if (static_cast<int>(window.size()) < windowSize) {
        window.push_back(HeldRow{physical, recordNumber});
    } else {
        // Slide: the active index keeps its value and so stands on the next row.
        window.pop_front();
        window.push_back(HeldRow{physical, recordNumber});
        if (slides)
            ++*slides;
    }
    return true;
}

bool TADOQuery::Impl::FetchPrior(int* slides, int* putInFront)
{
    std::int64_t physical;
    int recordNumber;
    if (window.empty() || window.front().physical < 0) {
        physical = PriorLive(rows ? rows->RowCount() : 0);
        recordNumber = static_cast<int>(LiveCount());
    } else {
        const HeldRow& first = window.front();
        physical = PriorLive(first.physical);
        recordNumber = first.recordNumber - 1;
    }
    if (physical < 0)
        return false;
    if (static_cast<int>(window.size()) < windowSize) {
        const bool wasEmpty = window.empty();
        window.push_front(HeldRow{physical, recordNumber});
        if (!wasEmpty)
            ++activeIndex;  // stays on the same row
        if (putInFront)
            ++*putInFront;
    } else {
        window.pop_back();
        window.push_front(HeldRow{physical, recordNumber});
        if (slides)
            --*slides;
    }
    return true;
}

void TADOQuery::Impl::FillFromStart()
{
    window.clear();
    activeIndex = 0;
    while (static_cast<int>(window.size()) < windowSize && FetchNext(nullptr)) {
    }
    atStart = true;
    atEnd = window.empty();
}

void TADOQuery::Impl::RefillAbout(std::int64_t physical, bool centred)
{
    const int oldActive = activeIndex;
    std::int64_t anchor = physical;
    if (anchor < 0 || !rows || anchor >= rows->RowCount() || IsDeleted(anchor)) {
        // The row is gone: take the one after it, else the one before it.
        const std::int64_t from = anchor < 0 ? (rows ? rows->RowCount() : 0) : anchor;
        anchor = NextLive(from);
        if (anchor < 0)
            anchor = PriorLive(from);
    }
    window.clear();
    activeIndex = 0;
    if (anchor < 0) {
        atStart = atEnd = true;
        return;
    }
    atStart = atEnd = false;
    window.push_back(HeldRow{anchor, static_cast<int>(PositionOf(anchor)) + 1});
    const int target = centred ? (windowSize - 1) / 2 : std::min(oldActive, windowSize - 1);
    for (int k = 0; k < target; ++k) {
        if (!FetchPrior(nullptr, nullptr))
            break;
    }
    while (static_cast<int>(window.size()) < windowSize && FetchNext(nullptr)) {
    }
    while (static_cast<int>(window.size()) < windowSize && FetchPrior(nullptr, nullptr)) {
    }
}

void TADOQuery::Impl::Resize(int newSize)
{
    newSize = std::max(1, newSize);
    if (newSize == windowSize)
        return;
    const std::vector<TDataLink*> links = Links();
    const int held = static_cast<int>(window.size());
    if (newSize < windowSize && held > newSize) {
        // Keep the run that starts at the earliest row anyone shows, moved
        // back so that it fits; it always keeps the active row.
        int start = activeIndex;
        for (TDataLink* link : links) {
            if (link->d_->active)
                start = std::min(start, link->d_->firstOffset);
        }
        if (activeIndex - start >= newSize)
            start = activeIndex - newSize + 1;
        start = std::max(0, std::min(start, held - newSize));
        window.erase(window.begin(), window.begin() + start);
        window.resize(static_cast<std::size_t>(newSize));
        activeIndex -= start;
        for (TDataLink* link : links)
            link->d_->firstOffset = std::max(0, link->d_->firstOffset - start);
    }
    windowSize = newSize;
    if (state != TDataSetState::dsInactive && !window.empty()) {
        while (static_cast<int>(window.size()) < windowSize && FetchNext(nullptr)) {
        }
        int inFront = 0;
        while (static_cast<int>(window.size()) < windowSize && FetchPrior(nullptr, &inFront)) {
        }
        for (TDataLink* link : links)
            link->d_->firstOffset += inFront;
    }
    ClampViews();
}

void TADOQuery::Impl::UpdateWindowSize()
{
    Resize(DesiredWindowSize());
}

void TADOQuery::Impl::ClampViews()
{
    for (TDataLink* link : Links())
        AdjustView(link, 0);
}

int TADOQuery::Impl::AdjustView(TDataLink* link, int slide)
{
    TDataLink::Impl& l = *link->d_;
    const int size = l.bufferCount;
    const int held = static_cast<int>(window.size());
    const int followed = l.firstOffset - slide;  // the view follows its rows
    int first = followed;
    if (activeIndex > first + size - 1)
        first = activeIndex - size + 1;
    else if (activeIndex < first)
        first = activeIndex;
    // Never show places past the held rows.
    first = std::min(first, held - std::min(size, held));
    first = std::max(first, 0);
    l.firstOffset = first;
    return first - followed;
}

// ---------------------------------------------------------------------------
// Notifications

void TADOQuery::Impl::Notify(LinkEvent event, int slide)
{
    if (holdCount > 0) {
        if (event == LinkEvent::LayoutChange)
            plannedAtResume = LinkEvent::LayoutChange;
        return;
    }
    ActiveLinks links(*this);
    // Every view is adjusted first, so that each link sees a consistent set.
    for (std::size_t i = 0; i < links.Count(); ++i)
        links.SetDistance(i, AdjustView(links.At(i), event == LinkEvent::Scroll ? slide : 0));
    NotifyScope scope(notifying);
    for (std::size_t i = 0; i < links.Count(); ++i) {
        switch (event) {
        case LinkEvent::DataChange: links.At(i)->DataSetChanged(); break;
        case LinkEvent::Scroll: links.At(i)->DataSetScrolled(links.Distance(i)); break;
        case LinkEvent::LayoutChange: links.At(i)->LayoutChanged(); break;
        }
    }
}

void TADOQuery::Impl::NotifyCheckBrowse()
{
    if (holdCount > 0)
        return;
    ActiveLinks links(*this);
    NotifyScope scope(notifying);
    for (std::size_t i = 0; i < links.Count(); ++i)
        links.At(i)->CheckBrowseMode();
}

void TADOQuery::Impl::NotifyRecordChange(TField* field)
{
    if (holdCount > 0)
        return;
    NotifyScope scope(notifying);
    for (TDataLink* link : Links()) {
        if (link->d_->active)
            link->RecordChanged(field);
    }
}

void TADOQuery::Impl::UpdateLinkStates()
{
    if (holdCount > 0) {
        plannedAtResume = LinkEvent::LayoutChange;
        return;
    }
    const bool open = state != TDataSetState::dsInactive;
    const bool editing = state == TDataSetState::dsInsert;
    NotifyScope scope(notifying);
    for (TDataLink* link : Links()) {
        TDataLink::Impl& l = *link->d_;
        if (l.active != open) {
            l.active = open;
            l.firstOffset = 0;
            if (open)
                AdjustView(link, 0);
            link->ActiveChanged();
        }
        if (l.editing != (open && editing)) {
            l.editing = open && editing;
            link->EditingChanged();
        }
    }
}

void TADOQuery::Impl::LinkJoined(TDataLink* link)
{
    if (state == TDataSetState::dsInactive)
        return;
    UpdateWindowSize();
    if (holdCount > 0)
        return;
    TDataLink::Impl& l = *link->d_;
    l.active = true;
    l.editing = state == TDataSetState::dsInsert;
    l.firstOffset = 0;
    AdjustView(link, 0);
    NotifyScope scope(notifying);
    link->ActiveChanged();
}

void TADOQuery::Impl::LinkLeft(TDataLink* link, bool tellLink)
{
    TDataLink::Impl& l = *link->d_;
    const bool wasActive = l.active;
    l.active = false;
    l.editing = false;
    l.firstOffset = 0;
    if (state != TDataSetState::dsInactive)
        UpdateWindowSize();
    if (wasActive && tellLink) {
        NotifyScope scope(notifying);
        link->ActiveChanged();
    }
}

void TADOQuery::Impl::LeaveRow()
{
    NotifyCheckBrowse();
    if (state != TDataSetState::dsInsert)
        return;
    if (pendingModified) {
        const std::int64_t physical = StorePending();  // throws unprefixed, stays appending
        state = TDataSetState::dsBrowse;
        RefillAbout(physical, false);
    } else {
        DropPending();
        state = TDataSetState::dsBrowse;
        RefillAbout(-1, false);
    }
    UpdateLinkStates();
    Notify(LinkEvent::DataChange);
}

// ---------------------------------------------------------------------------
// Moves

void TADOQuery::MoveFirst()
{
    Impl& d = *d_;
    d.CheckOpen();
    d.CheckNotNotifying("MoveFirst");
    d.LeaveRow();
    d.FillFromStart();
    d.Notify(LinkEvent::DataChange);
}

void TADOQuery::MoveLast()
{
    Impl& d = *d_;
    d.CheckOpen();
    d.CheckNotNotifying("MoveLast");
    d.LeaveRow();
    d.window.clear();
    d.activeIndex = 0;
    if (d.FetchPrior(nullptr, nullptr)) {
        while (static_cast<int>(d.window.size()) < d.windowSize && d.FetchPrior(nullptr, nullptr)) {
        }
    }
    d.activeIndex = std::max(0, static_cast<int>(d.window.size()) - 1);
    d.atEnd = true;
    d.atStart = d.window.empty();
    d.Notify(LinkEvent::DataChange);
}

void TADOQuery::MoveNext() { MoveRows(1); }
void TADOQuery::MovePrior() { MoveRows(-1); }

int TADOQuery::MoveRows(int count)
{
    Impl& d = *d_;
    d.CheckOpen();
    d.CheckNotNotifying("MoveRows");
    d.LeaveRow();
    if (count == 0 || (count > 0 && d.atEnd) || (count < 0 && d.atStart))
        return 0;
    d.atStart = d.atEnd = false;
    const std::size_t heldBefore = d.window.size();
    int slides = 0;
    int moved = 0;
    if (count > 0) {
        for (int i = 0; i < count; ++i) {
            if (d.activeIndex >= static_cast<int>(d.window.size()) - 1) {
                const std::size_t before = d.window.size();
                if (!d.FetchNext(&slides)) {
                    d.atEnd = true;
                    break;
                }
                if (d.window.size() > before)
                    ++d.activeIndex;
            } else {
                ++d.activeIndex;
            }
            ++moved;
        }
    } else {
        for (int i = 0; i > count; --i) {
            if (d.activeIndex <= 0) {
                const std::size_t before = d.window.size();
                if (!d.FetchPrior(&slides, nullptr)) {
                    d.atStart = true;
                    break;
                }
                if (d.window.size() > before)
                    --d.activeIndex;
            } else {
                --d.activeIndex;
            }
            --moved;
        }
    }
    if (d.window.size() == heldBefore)
        d.Notify(LinkEvent::Scroll, slides);
    else
        d.Notify(LinkEvent::DataChange);
    return moved;
}

bool TADOQuery::AtEnd() const
{
    return d_->state == TDataSetState::dsInactive || d_->atEnd || d_->window.empty();
}

bool TADOQuery::AtStart() const
{
    return d_->state == TDataSetState::dsInactive || d_->atStart || d_->window.empty();
}

int TADOQuery::RecordNumber() const
{
    const Impl& d = *d_;
    d.CheckOpen();
    if (d.state == TDataSetState::dsInsert || d.window.empty())
        return -1;
    return d.window[static_cast<std::size_t>(d.activeIndex)].recordNumber;
}

void TADOQuery::SetRecordNumber(int number)
{
    Impl& d = *d_;
    d.CheckOpen();
    d.CheckNotNotifying("SetRecordNumber");
    if (number == RecordNumber())
        return;
    d.LeaveRow();
    const std::int64_t count = d.LiveCount();
    if (count == 0)
        return;
    const std::int64_t position = std::clamp<std::int64_t>(number, 1, count) - 1;
    d.RefillAbout(d.PhysicalAt(position), true);
    d.Notify(LinkEvent::DataChange);
}

int TADOQuery::RecordCount() const
{
    d_->CheckOpen();
    return static_cast<int>(d_->LiveCount());
}

bool TADOQuery::KnowsPositions() const
{
    // Snapshots are client-side, unfiltered and numbered by position.
    return Active();
}

// ---------------------------------------------------------------------------
// Storing and deleting

void TADOQuery::AppendRow()
{
    Impl& d = *d_;
    d.CheckOpen();
    d.CheckNotNotifying("AppendRow");
    d.NotifyCheckBrowse();
    if (d.state == TDataSetState::dsInsert) {
        if (d.pendingModified)
            d.StorePending();  // throws unprefixed and stays appending
        else
            d.DropPending();
    }
    d.NewPending();
    d.window.clear();
    d.window.push_back(Impl::HeldRow{-1, -1});
    d.activeIndex = 0;
    while (static_cast<int>(d.window.size()) < d.windowSize && d.FetchPrior(nullptr, nullptr)) {
    }
    d.atStart = false;
    d.atEnd = true;
    d.state = TDataSetState::dsInsert;
    d.UpdateLinkStates();
    d.Notify(LinkEvent::DataChange);
}

void TADOQuery::PostRow()
{
    Impl& d = *d_;
    d.CheckOpen();
    if (d.state != TDataSetState::dsInsert)
        return;
    d.CheckNotNotifying("PostRow");
    d.NotifyCheckBrowse();
    const std::int64_t physical = d.StorePending();  // throws unprefixed and stays appending
    d.state = TDataSetState::dsBrowse;
    d.RefillAbout(physical, false);
    d.UpdateLinkStates();
    d.Notify(LinkEvent::DataChange);
}

void TADOQuery::DeleteRow()
{
    Impl& d = *d_;
    d.CheckOpen();
    d.CheckNotNotifying("DeleteRow");
    if (d.state == TDataSetState::dsInsert) {
        // The current row is the one being appended: deleting it drops it.
        d.DropPending();
        d.state = TDataSetState::dsBrowse;
        d.RefillAbout(-1, false);
        d.UpdateLinkStates();
        d.Notify(LinkEvent::DataChange);
        return;
    }
    if (d.window.empty())
        d.Fail("Cannot perform this operation on an empty dataset");
    const std::int64_t physical = d.window[static_cast<std::size_t>(d.activeIndex)].physical;
    d.DeleteCurrent();  // throws unprefixed; the row stays
    d.RefillAbout(physical, false);
    d.Notify(LinkEvent::DataChange);
}

// ---------------------------------------------------------------------------
// Bookmarks

TBookmark TADOQuery::MarkRow() const
{
    const Impl& d = *d_;
    TBookmark mark;
    if (d.state == TDataSetState::dsInactive || d.window.empty())
        return mark;
    const std::int64_t physical = d.window[static_cast<std::size_t>(d.activeIndex)].physical;
    if (physical >= 0)
        mark.row = physical;
    return mark;
}

void TADOQuery::ReturnToMark(const TBookmark& mark)
{
    Impl& d = *d_;
    d.CheckOpen();
    if (mark.IsNone())
        return;
    d.CheckNotNotifying("ReturnToMark");
    if (!d.rows || mark.row >= d.rows->RowCount() || d.IsDeleted(mark.row))
        d.Fail("Record not found");
    d.LeaveRow();
    d.RefillAbout(mark.row, true);
    d.Notify(LinkEvent::DataChange);
}

void TADOQuery::DropMark(TBookmark& mark)
{
    mark.row = -1;
}

// ---------------------------------------------------------------------------
// Holding notifications

void TADOQuery::SuspendLinks()
{
    Impl& d = *d_;
    if (d.holdCount++ == 0) {
        d.stateAtHold = d.state;
        d.plannedAtResume = LinkEvent::DataChange;
    }
}

void TADOQuery::ResumeLinks()
{
    Impl& d = *d_;
    if (d.holdCount == 0)
        return;
    if (--d.holdCount > 0)
        return;
    // Links take the active and editing states anew; only those whose state
    // differs hear of it (a link that joined during the hold among them).
    d.UpdateLinkStates();
    if (d.stateAtHold != TDataSetState::dsInactive && d.state != TDataSetState::dsInactive)
        d.Notify(d.plannedAtResume);
}

// ---------------------------------------------------------------------------
// The window as links see it

int TADOQuery::HeldCount() const { return static_cast<int>(d_->window.size()); }
int TADOQuery::ActiveIndex() const { return d_->activeIndex; }

void TADOQuery::SetActiveIndex(int index)
{
    Impl& d = *d_;
    if (d.window.empty())
        return;
    d.activeIndex = std::clamp(index, 0, static_cast<int>(d.window.size()) - 1);
}

bool TADOQuery::HeldRowIsNew(int index) const
{
    const Impl& d = *d_;
    return index >= 0 && index < static_cast<int>(d.window.size()) &&
           d.window[static_cast<std::size_t>(index)].physical < 0;
}

// ---------------------------------------------------------------------------
// TDataSource

TDataSource::TDataSource() : d_(std::make_unique<Impl>()) {}

TDataSource::~TDataSource()
{
    SetDataSet(nullptr);
    for (TDataLink* link : d_->links)
        link->d_->source = nullptr;
}

TADOQuery* TDataSource::DataSet() const { return d_->dataSet; }

void TDataSource::SetDataSet(TADOQuery* dataSet)
{
    if (dataSet == d_->dataSet)
        return;
    if (TADOQuery* old = d_->dataSet) {
        auto& sources = old->d_->sources;
        sources.erase(std::remove(sources.begin(), sources.end(), this), sources.end());
        d_->dataSet = nullptr;
        for (TDataLink* link : d_->links)
            old->d_->LinkLeft(link, true);
    }
    d_->dataSet = dataSet;
    if (dataSet) {
        dataSet->d_->sources.push_back(this);
        for (TDataLink* link : d_->links)
            dataSet->d_->LinkJoined(link);
    }
}

// ---------------------------------------------------------------------------
// TDataLink

TDataLink::TDataLink() : d_(std::make_unique<Impl>()) {}

TDataLink::~TDataLink()
{
    if (TDataSource* source = d_->source) {
        auto& links = source->d_->links;
        links.erase(std::remove(links.begin(), links.end(), this), links.end());
        d_->source = nullptr;
        // The derived link is gone already: it is not told.
        if (TADOQuery* dataSet = source->d_->dataSet)
            dataSet->d_->LinkLeft(this, false);
    }
}

TDataSource* TDataLink::DataSource() const { return d_->source; }

void TDataLink::SetDataSource(TDataSource* source)
{
    if (source == d_->source)
        return;
    if (TDataSource* old = d_->source) {
        auto& links = old->d_->links;
        links.erase(std::remove(links.begin(), links.end(), this), links.end());
        d_->source = nullptr;
        if (TADOQuery* dataSet = old->d_->dataSet)
            dataSet->d_->LinkLeft(this, true);
    }
    d_->source = source;
    if (source) {
        source->d_->links.push_back(this);
        if (TADOQuery* dataSet = source->d_->dataSet)
            dataSet->d_->LinkJoined(this);
    }
}

TADOQuery* TDataLink::DataSet() const { return d_->source ? d_->source->d_->dataSet : nullptr; }

bool TDataLink::Active() const { return d_->active; }
bool TDataLink::Editing() const { return d_->editing; }
int TDataLink::BufferCount() const { return d_->bufferCount; }

void TDataLink::SetBufferCount(int size)
{
    size = std::max(1, size);
    if (size == d_->bufferCount)
        return;
    d_->bufferCount = size;
    if (TADOQuery* dataSet = DataSet()) {
        if (dataSet->Active())
            dataSet->d_->UpdateWindowSize();
    }
}

int TDataLink::RecordCount() const
{
    TADOQuery* dataSet = DataSet();
    if (!d_->active || !dataSet)
        return 0;
    const int held = dataSet->HeldCount();
    return std::max(0, std::min(d_->bufferCount, held - d_->firstOffset));
}

int TDataLink::ActiveRecord() const
{
    TADOQuery* dataSet = DataSet();
    if (!d_->active || !dataSet)
        return 0;
    return dataSet->ActiveIndex() - d_->firstOffset;
}

void TDataLink::SetActiveRecord(int record)
{
    TADOQuery* dataSet = DataSet();
    if (d_->active && dataSet)
        dataSet->SetActiveIndex(d_->firstOffset + record);
}

int TDataLink::FirstOffset() const { return d_->firstOffset; }

} // namespace querlin::data
