// The moves of a record set through its rows, its links, and the
// notifications that tell the links what changed. The rows held for the
// links are the row window's (RowWindow.h).

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
    if (DataSetState() == TDataSetState::dsInactive)
        return size;
    for (TDataLink* link : Links())
        size = std::max(size, link->d_->bufferCount);
    return size;
}

void TADOQuery::Impl::Resize(int newSize)
{
    if (std::max(1, newSize) == window.Size())
        return;
    const std::vector<TDataLink*> links = Links();
    int earliestShown = window.ActiveIndex();
    for (TDataLink* link : links) {
        if (link->d_->active)
            earliestShown = std::min(earliestShown, link->d_->firstOffset);
    }
    const RowWindow::Resized resized = window.Resize(newSize, earliestShown, DataSetState() != TDataSetState::dsInactive);
    // The views follow their rows.
    for (TDataLink* link : links)
        link->d_->firstOffset = std::max(0, link->d_->firstOffset - resized.droppedInFront) + resized.addedInFront;
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
    const int held = window.Count();
    const int active = window.ActiveIndex();
    const int followed = l.firstOffset - slide;  // the view follows its rows
    int first = followed;
    if (active > first + size - 1)
        first = active - size + 1;
    else if (active < first)
        first = active;
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
    const bool open = DataSetState() != TDataSetState::dsInactive;
    const bool editing = DataSetState() == TDataSetState::dsInsert;
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
    if (DataSetState() == TDataSetState::dsInactive)
        return;
    UpdateWindowSize();
    if (holdCount > 0)
        return;
    TDataLink::Impl& l = *link->d_;
    l.active = true;
    l.editing = DataSetState() == TDataSetState::dsInsert;
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
    if (DataSetState() != TDataSetState::dsInactive)
        UpdateWindowSize();
    if (wasActive && tellLink) {
        NotifyScope scope(notifying);
        link->ActiveChanged();
    }
}

void TADOQuery::Impl::LeaveRow()
{
    NotifyCheckBrowse();
    if (DataSetState() != TDataSetState::dsInsert)
        return;
    if (pendingModified) {
        const std::int64_t physical = StorePending();  // throws unprefixed, stays appending
        window.RefillAbout(physical, false);
    } else {
        DropPending();
        window.RefillAbout(-1, false);
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
    d.window.FillFromStart();
    d.Notify(LinkEvent::DataChange);
}

void TADOQuery::MoveLast()
{
    Impl& d = *d_;
    d.CheckOpen();
    d.CheckNotNotifying("MoveLast");
    d.LeaveRow();
    d.window.FillFromEnd();
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
    // Nothing to do, and nothing to tell, past an end already reached.
    if (count == 0 || (count > 0 && d.window.AtEnd()) || (count < 0 && d.window.AtStart()))
        return 0;
    int slides = 0;
    bool grew = false;
    const int moved = d.window.Move(count, slides, grew);
    if (!grew)
        d.Notify(LinkEvent::Scroll, slides);
    else
        d.Notify(LinkEvent::DataChange);
    return moved;
}

bool TADOQuery::AtEnd() const
{
    return d_->DataSetState() == TDataSetState::dsInactive || d_->window.AtEnd() || d_->window.Empty();
}

bool TADOQuery::AtStart() const
{
    return d_->DataSetState() == TDataSetState::dsInactive || d_->window.AtStart() || d_->window.Empty();
}

int TADOQuery::RecordNumber() const
{
    const Impl& d = *d_;
    d.CheckOpen();
    if (d.DataSetState() == TDataSetState::dsInsert || d.window.Empty())
        return -1;
    return d.window.Active().recordNumber;
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
    d.window.RefillAbout(d.PhysicalAt(position), true);
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
    if (d.DataSetState() == TDataSetState::dsInsert) {
        if (d.pendingModified)
            d.StorePending();  // throws unprefixed and stays appending
        else
            d.DropPending();
    }
    d.NewPending();
    d.window.FillForAppending();
    d.UpdateLinkStates();
    d.Notify(LinkEvent::DataChange);
}

void TADOQuery::PostRow()
{
    Impl& d = *d_;
    d.CheckOpen();
    if (d.DataSetState() != TDataSetState::dsInsert)
        return;
    d.CheckNotNotifying("PostRow");
    d.NotifyCheckBrowse();
    const std::int64_t physical = d.StorePending();  // throws unprefixed and stays appending
    d.window.RefillAbout(physical, false);
    d.UpdateLinkStates();
    d.Notify(LinkEvent::DataChange);
}

void TADOQuery::DeleteRow()
{
    Impl& d = *d_;
    d.CheckOpen();
    d.CheckNotNotifying("DeleteRow");
    if (d.DataSetState() == TDataSetState::dsInsert) {
        // The current row is the one being appended: deleting it drops it.
        d.DropPending();
        d.window.RefillAbout(-1, false);
        d.UpdateLinkStates();
        d.Notify(LinkEvent::DataChange);
        return;
    }
    if (d.window.Empty())
        d.Fail("Cannot perform this operation on an empty dataset");
    const std::int64_t physical = d.window.Active().physical;
    d.DeleteCurrent();  // throws unprefixed; the row stays
    d.window.RefillAbout(physical, false);
    d.Notify(LinkEvent::DataChange);
}

// ---------------------------------------------------------------------------
// Bookmarks

TBookmark TADOQuery::MarkRow() const
{
    const Impl& d = *d_;
    TBookmark mark;
    if (d.DataSetState() == TDataSetState::dsInactive || d.window.Empty())
        return mark;
    const std::int64_t physical = d.window.Active().physical;
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
    if (!d.rows || mark.row >= d.PhysicalCount() || d.IsDeleted(mark.row))
        d.Fail("Record not found");
    d.LeaveRow();
    d.window.RefillAbout(mark.row, true);
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
        d.stateAtHold = d.DataSetState();
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
    if (d.stateAtHold != TDataSetState::dsInactive && d.DataSetState() != TDataSetState::dsInactive)
        d.Notify(d.plannedAtResume);
}

// ---------------------------------------------------------------------------
// The window as links see it

int TADOQuery::HeldCount() const { return d_->window.Count(); }
int TADOQuery::ActiveIndex() const { return d_->window.ActiveIndex(); }

void TADOQuery::SetActiveIndex(int index)
{
    Impl& d = *d_;
    if (d.window.Empty())
        return;
    d.window.SetActiveIndex(index);
}

bool TADOQuery::HeldRowIsNew(int index) const
{
    const Impl& d = *d_;
    return index >= 0 && index < d.window.Count() && d.window.At(index).physical < 0;
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
