#pragma once
// Inside of the record set: shared by DataSet.cpp (opening, storing rows),
// Fields.cpp (the fields' values) and Links.cpp (moves, links and
// notifications). The row window is a class of its own (RowWindow.h) that
// sees the rows through LiveRows.

#include "data/DataSet.h"
#include "data/Life.h"
#include "data/Provider.h"
#include "data/RowWindow.h"
#include "data/Snapshot.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace querlin::data {

class FieldImpl;
struct Inbox;
struct Message;
struct OpenFailedNews;

// What a link is told. Check, record change and the state changes need no
// view adjustment; the other three do.
enum class LinkEvent { DataChange, Scroll, LayoutChange };

struct TADOQuery::Impl final : LiveRows {
    explicit Impl(TADOQuery& owner);
    ~Impl() override;

    TADOQuery& self;
    std::string name;
    std::string connectionString;
    std::string sql;
    TLife life = TLife::lfClosed;  // changed only by Move (Lifecycle.cpp)

    std::shared_ptr<Connection> connection;  // kept while open, for storing and deleting rows
    std::vector<std::unique_ptr<FieldImpl>> fields;
    std::shared_ptr<Snapshot> rows;          // shared with a worker fetching into it
    std::int64_t known = 0;                  // the rows the links have heard of
    std::uint64_t openSerial = 0;

    // The life (Lifecycle.cpp). worker is the mailbox of the worker that
    // opens the set or still writes its snapshot (a stopped one, until it
    // lets go); none once the rows are this thread's alone.
    std::shared_ptr<Inbox> worker;
    std::string fetchFailure;                 // the driver's text, lfFailed
    std::function<void()> onFetchChange;
    std::function<void(std::exception_ptr)> openDone;
    TDataSetState DataSetState() const
    {
        if (life == TLife::lfClosed || life == TLife::lfOpening)
            return TDataSetState::dsInactive;
        return pending ? TDataSetState::dsInsert : TDataSetState::dsBrowse;
    }
    bool Open() const { return DataSetState() != TDataSetState::dsInactive; }
    // The one place the life changes: false where the event does nothing.
    bool Move(TLifeEvent event);
    void StartWorker();
    void LetWorkerGo();
    // Takes the worker's messages in; the next ones wait while a link is
    // being told something (a nested event loop under a link).
    void Drain();
    void Take(Message& message);
    // Waits on this thread until the open is made (and, without a poster,
    // until every row is in); raises the open's failure.
    void WaitOpen();
    std::exception_ptr FailureOf(const OpenFailedNews& failed) const;
    void TakeRows(std::int64_t count);
    void FetchChanged();
    // Before this thread writes the snapshot: false while a worker still may.
    bool RowsWritable() const { return worker == nullptr; }
    std::vector<std::int64_t> deleted;  // physical rows deleted through this set, ascending

    // The row being appended: a one-row snapshot with the same columns.
    std::unique_ptr<Snapshot> pending;
    std::vector<bool> pendingAssigned;
    bool pendingModified = false;

    RowWindow window{*this};

    // Links, through their data sources.
    std::vector<TDataSource*> sources;
    int holdCount = 0;
    TDataSetState stateAtHold = TDataSetState::dsInactive;
    LinkEvent plannedAtResume = LinkEvent::DataChange;
    int notifying = 0;  // depth of notification calls in progress

    // Messages.
    std::string Prefixed(const std::string& message) const
    {
        return name.empty() ? message : name + ": " + message;
    }
    [[noreturn]] void Fail(const std::string& message) const;
    void CheckOpen() const;
    // A link handling a notification must not move the record set.
    void CheckNotNotifying(const char* operation) const;

    // Snapshot positions, skipping deleted rows.
    std::int64_t LiveCount() const override;
    bool IsDeleted(std::int64_t physical) const override;
    std::int64_t NextLive(std::int64_t physical) const override;   // -1 when none
    std::int64_t PriorLive(std::int64_t physical) const override;  // -1 when none
    std::int64_t PhysicalAt(std::int64_t position) const;
    std::int64_t PositionOf(std::int64_t physical) const override;
    std::int64_t PhysicalCount() const override { return rows ? known : 0; }

    // The text of a field's cell in a stored row, read in place (TRecordScan).
    std::string_view CellText(int field, std::int64_t physical, bool display, std::string& scratch) const;

    // Where the active row's values live; false when there is no active row.
    bool ActiveCell(const Snapshot*& store, std::int64_t& row) const;

    // Links and notifications (Links.cpp).
    class ActiveLinks;
    std::vector<TDataLink*> Links() const;
    int DesiredWindowSize() const;
    void Resize(int newSize);
    void UpdateWindowSize();
    void ClampViews();
    int AdjustView(TDataLink* link, int slide);
    void Notify(LinkEvent event, int slide = 0);
    void NotifyCheckBrowse();
    void NotifyRecordChange(TField* field);
    void UpdateLinkStates();
    void LinkJoined(TDataLink* link);
    void LinkLeft(TDataLink* link, bool tellLink);
    // Check before leaving, then store or drop a pending row.
    void LeaveRow();

    // Rows (DataSet.cpp).
    std::int64_t StorePending();  // throws the provider's text unprefixed
    void DropPending();
    void NewPending();
    void DeleteCurrent();
};

struct TDataSource::Impl {
    TADOQuery* dataSet = nullptr;
    std::vector<TDataLink*> links;
};

struct TDataLink::Impl {
    TDataSource* source = nullptr;
    int bufferCount = 1;
    int firstOffset = 0;
    bool active = false;
    bool editing = false;
};

} // namespace querlin::data
