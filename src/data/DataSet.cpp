// Record sets: the query, opening it into a snapshot, storing and deleting
// rows, and the connection. Fields are in Fields.cpp, loading in
// Loading.cpp, the moves and the links in Links.cpp, the row window in
// RowWindow.cpp.

#include "data/DataSet.h"
#include "data/DataSetImpl.h"
#include "data/FieldText.h"
#include "data/Fields.h"
#include "data/Loading.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

namespace querlin::data {

// ---------------------------------------------------------------------------
// Fetching in the background

namespace {

std::mutex posterLock;
TGuiPoster& Poster()
{
    static TGuiPoster poster;
    return poster;
}
std::thread::id posterThread;

// The poster, for a record set opened on the thread that installed it; a
// record set of another thread (the export's) fetches every row itself.
TGuiPoster CurrentPoster()
{
    std::lock_guard<std::mutex> hold(posterLock);
    if (posterThread != std::this_thread::get_id())
        return {};
    return Poster();
}

enum Outcome : int { kRunning, kComplete, kStopped, kFailed };

// Links hear of new rows at most this often.
constexpr auto kWakeInterval = std::chrono::milliseconds(50);

} // namespace

void SetGuiPoster(TGuiPoster poster)
{
    std::lock_guard<std::mutex> hold(posterLock);
    Poster() = std::move(poster);
    posterThread = std::this_thread::get_id();
}

// What a fetching worker and its record set share. The worker owns the
// reader, writes the snapshot and publishes it; the record set's thread
// reads only what is published and alone touches owner. The worker was given
// everything it needs at its start: it never reaches the record set.
struct FetchStream {
    std::shared_ptr<Snapshot> rows;          // never reset by the worker
    std::unique_ptr<Loader> loader;
    std::unique_ptr<ResultReader> reader;
    std::shared_ptr<Connection> connection;  // the reader's, kept until the worker is done
    TGuiPoster poster;

    // An open made on the worker: what it was given, and what it found for
    // the record set's thread to take once opened is set.
    std::string connectionString;
    std::string sql;
    std::vector<ColumnInfo> columns;
    FieldPlan plan;
    std::shared_ptr<Connection> openedConnection;
    bool openFailed = false;
    bool connectFailed = false;              // the failure is the connection's
    std::atomic<bool> opened{false};

    std::atomic<bool> stop{false};
    std::atomic<int> outcome{kRunning};
    std::string failure;                 // written before outcome
    std::atomic<bool> wakePending{false};
    std::chrono::steady_clock::time_point nextWake{};  // the worker's

    TADOQuery::Impl* owner = nullptr;    // the record set's thread only
};

namespace {

// Asks the record set's thread to take the rows in, unless it is asked
// already; never sooner than kWakeInterval after the last time.
void Wake(const std::shared_ptr<FetchStream>& s, bool final)
{
    if (s->wakePending.exchange(true, std::memory_order_acq_rel) && !final)
        return;
    const auto now = std::chrono::steady_clock::now();
    int delay = 0;
    if (!final && s->nextWake > now)
        delay = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(s->nextWake - now).count());
    s->nextWake = std::max(now, s->nextWake) + kWakeInterval;
    s->poster(delay, [s] {
        s->wakePending.store(false, std::memory_order_release);
        if (s->owner)
            s->owner->RowsArrived();
    });
}

// Tells the record set again a little later that it opened, or that rows
// arrived: it was told while its links were being told something else (a
// nested event loop under a link), and a link is never told two things at
// once.
void Later(const std::shared_ptr<FetchStream>& s, bool opened)
{
    s->poster(static_cast<int>(kWakeInterval.count()), [s, opened] {
        if (!s->owner)
            return;
        if (opened)
            s->owner->Opened();
        else
            s->owner->RowsArrived();
    });
}

void FetchRest(std::shared_ptr<FetchStream> s)
{
    int outcome = kComplete;
    try {
        for (;;) {
            if (s->stop.load(std::memory_order_acquire)) {
                outcome = kStopped;
                break;
            }
            const std::size_t read = s->reader->Read(*s->loader, kFetchBlock);
            if (s->stop.load(std::memory_order_acquire)) {
                outcome = kStopped;
                break;
            }
            s->rows->Publish();
            if (read == 0)
                break;
            Wake(s, false);
        }
    } catch (const std::bad_alloc&) {
        s->failure = "Out of memory";
        outcome = kFailed;
    } catch (const std::exception& e) {
        s->failure = e.what();
        outcome = kFailed;
    }
    // The statement and the connection go on this thread, whatever waits they take.
    try {
        s->reader.reset();
        s->connection.reset();
    } catch (...) {
    }
    s->outcome.store(outcome, std::memory_order_release);
    Wake(s, true);
}

// Connects, runs the query and fetches the first block on the worker; the
// record set's thread takes them in (Opened), and the rest streams behind.
void OpenAndFetch(std::shared_ptr<FetchStream> s)
{
    bool more = false;
    try {
        try {
            s->connection = Connect(s->connectionString);
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception&) {
            s->connectFailed = true;
            throw;
        }
        if (!s->stop.load(std::memory_order_acquire)) {
            s->reader = s->connection->Query(s->sql);
            if (!s->reader)
                throw Error("CommandText does not return a result set");
            s->columns = s->reader->Columns();
            s->plan = PlanFields(s->columns);
            std::vector<FieldShape> shapes;
            std::vector<SlotKind> slots;
            for (std::size_t i = 0; i < s->plan.names.size(); ++i) {
                const ColumnInfo& column = s->columns[static_cast<std::size_t>(s->plan.columns[i])];
                const TFieldType kind = s->plan.kinds[i];
                shapes.push_back(FieldShape{static_cast<int>(i), kind, text::SizeFor(kind, column)});
                slots.push_back(SlotFor(kind, column.type));
            }
            s->rows = std::make_shared<Snapshot>(std::move(slots));
            s->loader = std::make_unique<Loader>(*s->rows, std::move(shapes), s->plan.fieldOfColumn);
            more = s->reader->Read(*s->loader, kFetchBlock) == kFetchBlock;
            s->rows->Share();
            s->openedConnection = s->connection;
        }
    } catch (const std::bad_alloc&) {
        s->openFailed = true;
        s->connectFailed = false;
        s->failure = "Out of memory";
    } catch (const std::exception& e) {
        s->openFailed = true;
        s->failure = e.what();
    }
    if (s->openFailed || s->stop.load(std::memory_order_acquire)) {
        try {
            s->reader.reset();
            s->connection.reset();
        } catch (...) {
        }
        s->opened.store(true, std::memory_order_release);
        s->outcome.store(s->openFailed ? kFailed : kStopped, std::memory_order_release);
        s->poster(0, [s] {
            if (s->owner)
                s->owner->Opened();
        });
        return;
    }
    if (!more) {
        // All in: the record set takes the whole result at once.
        try {
            s->reader.reset();
            s->connection.reset();
        } catch (...) {
        }
        s->rows->Publish();
        s->outcome.store(kComplete, std::memory_order_release);
    }
    s->opened.store(true, std::memory_order_release);
    s->poster(0, [s] {
        if (s->owner)
            s->owner->Opened();
    });
    if (more)
        FetchRest(s);
}

} // namespace

void TADOQuery::Impl::Opened()
{
    if (opening && notifying > 0) {
        Later(opening, true);
        return;
    }
    std::shared_ptr<FetchStream> s = std::move(opening);
    opening.reset();
    std::function<void(std::exception_ptr)> done = std::move(openDone);
    openDone = nullptr;
    if (!s || !s->opened.load(std::memory_order_acquire))
        return;
    if (s->openFailed) {
        s->owner = nullptr;
        std::exception_ptr failure =
            s->connectFailed ? std::make_exception_ptr(ConnectionFailed(Prefixed(s->failure)))
                             : std::make_exception_ptr(Error(Prefixed(s->failure)));
        if (done)
            done(failure);
        return;
    }
    for (std::size_t i = 0; i < s->plan.names.size(); ++i) {
        fields.push_back(std::make_unique<FieldImpl>(*this, static_cast<int>(i), s->plan.names[i], s->plan.kinds[i],
                                                     s->columns[static_cast<std::size_t>(s->plan.columns[i])]));
    }
    rows = s->rows;
    connection = s->openedConnection;
    s->openedConnection.reset();
    known = rows->RowCount();
    ++openSerial;
    fetchState = TFetchState::fsFetching;
    fetchFailure.clear();
    stream = s;  // owner stays this set
    deleted.clear();
    state = TDataSetState::dsBrowse;
    window.SetSize(DesiredWindowSize());
    window.FillFromStart();
    UpdateLinkStates();
    // A fetch over already (a small result) is taken in at once.
    RowsArrived();
    if (done)
        done(nullptr);
}

void TADOQuery::Impl::CancelOpening()
{
    if (!opening)
        return;
    opening->stop.store(true, std::memory_order_release);
    opening->owner = nullptr;
    opening.reset();
    // The caller's continuation goes unrun; what it holds is let go.
    std::function<void(std::exception_ptr)> dropped = std::move(openDone);
    openDone = nullptr;
}

void TADOQuery::Impl::RowsArrived()
{
    if (!stream)
        return;
    if (notifying > 0) {
        Later(stream, false);
        return;
    }
    // The outcome first: a worker done has published its last rows before.
    const int outcome = stream->outcome.load(std::memory_order_acquire);
    const std::int64_t published = rows->RowCount();
    if (outcome != kRunning) {
        // The worker is done with the snapshot: this thread writes it again.
        if (outcome == kFailed) {
            fetchFailure = stream->failure;
            fetchState = TFetchState::fsFailed;
        } else {
            fetchState = outcome == kStopped ? TFetchState::fsStopped : TFetchState::fsComplete;
        }
        rows->Truncate(published);
        rows->Unshare();
        stream->owner = nullptr;
        stream.reset();
    }
    TakeRows(published);
    if (onFetchChange && (outcome != kRunning || state != TDataSetState::dsInactive)) {
        std::function<void()> handler = onFetchChange;
        handler();
    }
}

void TADOQuery::Impl::TakeRows(std::int64_t count)
{
    if (count <= known || state == TDataSetState::dsInactive)
        return;
    known = count;
    // The current row stays; the window takes rows when it has room, and
    // every link follows the new count.
    if (window.RowsAdded())
        Notify(LinkEvent::DataChange);
    else
        Notify(LinkEvent::Scroll, 0);
}

void TADOQuery::Impl::LeaveStream(TFetchState why)
{
    if (!stream)
        return;
    stream->stop.store(true, std::memory_order_release);
    stream->owner = nullptr;
    // The worker may still write rows nobody will see; until it is done,
    // this thread leaves the snapshot alone.
    abandoned = std::move(stream);
    stream.reset();
    fetchState = why;
}

bool TADOQuery::Impl::RowsWritable()
{
    if (stream)
        return false;
    if (abandoned) {
        if (abandoned->outcome.load(std::memory_order_acquire) == kRunning)
            return false;
        abandoned.reset();
        if (rows) {
            rows->Truncate(known);
            rows->Unshare();
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// TADOQuery::Impl helpers

TADOQuery::Impl::Impl(TADOQuery& owner) : self(owner) {}
TADOQuery::Impl::~Impl()
{
    // Whatever Close left undone: a worker still fetching or opening for
    // this set must never reach it again.
    for (const std::shared_ptr<FetchStream>& s : {stream, opening}) {
        if (s) {
            s->stop.store(true, std::memory_order_release);
            s->owner = nullptr;
        }
    }
}

void TADOQuery::Impl::Fail(const std::string& message) const
{
    throw Error(Prefixed(message));
}

void TADOQuery::Impl::CheckOpen() const
{
    if (state == TDataSetState::dsInactive)
        Fail("Cannot perform this operation on a closed dataset");
}

void TADOQuery::Impl::CheckNotNotifying(const char* operation) const
{
#ifndef NDEBUG
    if (notifying > 0) {
        std::fprintf(stderr,
                     "querlin: %s called on record set '%s' while a link handled a notification\n",
                     operation, name.c_str());
        std::abort();
    }
#else
    (void)operation;
#endif
}

std::int64_t TADOQuery::Impl::LiveCount() const
{
    return rows ? known - static_cast<std::int64_t>(deleted.size()) : 0;
}

bool TADOQuery::Impl::IsDeleted(std::int64_t physical) const
{
    return !deleted.empty() && std::binary_search(deleted.begin(), deleted.end(), physical);
}

std::int64_t TADOQuery::Impl::NextLive(std::int64_t physical) const
{
    if (!rows)
        return -1;
    for (std::int64_t p = physical + 1; p < known; ++p) {
        if (!IsDeleted(p))
            return p;
    }
    return -1;
}

std::int64_t TADOQuery::Impl::PriorLive(std::int64_t physical) const
{
    if (!rows)
        return -1;
    for (std::int64_t p = std::min(physical, known) - 1; p >= 0; --p) {
        if (!IsDeleted(p))
            return p;
    }
    return -1;
}

std::int64_t TADOQuery::Impl::PhysicalAt(std::int64_t position) const
{
    std::int64_t physical = position;
    for (std::int64_t d : deleted) {
        if (d <= physical)
            ++physical;
        else
            break;
    }
    return rows && physical < known ? physical : -1;
}

std::int64_t TADOQuery::Impl::PositionOf(std::int64_t physical) const
{
    return physical - (std::lower_bound(deleted.begin(), deleted.end(), physical) - deleted.begin());
}

bool TADOQuery::Impl::ActiveCell(const Snapshot*& store, std::int64_t& row) const
{
    if (state == TDataSetState::dsInactive || window.Empty())
        return false;
    const RowWindow::HeldRow& held = window.Active();
    if (held.physical < 0) {
        if (!pending)
            return false;
        store = pending.get();
        row = 0;
    } else {
        store = rows.get();
        row = held.physical;
    }
    return true;
}

void TADOQuery::Impl::NewPending()
{
    pending = EmptySnapshotFor(fields);
    pending->AddRow();
    pendingAssigned.assign(fields.size(), false);
    pendingModified = false;
}

void TADOQuery::Impl::DropPending()
{
    pending.reset();
    pendingAssigned.clear();
    pendingModified = false;
}

namespace {

// The table that stored and deleted rows go to: the first base table named.
std::string BaseTableOf(const std::vector<std::unique_ptr<FieldImpl>>& fields)
{
    for (const auto& f : fields) {
        if (!f->Column().baseTable.empty())
            return f->Column().baseTable;
    }
    return {};
}

const char* const kNoBaseTable = "Insufficient base table information for updating or refreshing.";
const char* const kStillFetching = "Cannot change the rows while they are still being fetched.";

} // namespace

std::int64_t TADOQuery::Impl::StorePending()
{
    const std::string table = BaseTableOf(fields);
    if (table.empty() || !connection)
        throw Error(kNoBaseTable);
    if (!RowsWritable())
        throw Error(kStillFetching);
    std::vector<NamedValue> values;
    for (const auto& f : fields) {
        if (!pendingAssigned[static_cast<std::size_t>(f->Index())] || f->ReadOnly())
            continue;
        if (!f->Column().baseTable.empty() && f->Column().baseTable != table)
            continue;
        values.push_back(NamedValue{f->BaseColumn(), f->ToParam(*pending, 0)});
    }
    // Throws the provider's own text; the row stays pending.
    const std::vector<NamedValue> assigned = connection->InsertRow(table, values);

    const std::int64_t physical = rows->AddRow();
    rows->CopyRow(*pending, 0, physical);
    known = rows->RowCount();
    for (const NamedValue& v : assigned) {
        for (const auto& f : fields) {
            if (!text::EqualNoCase(f->BaseColumn(), v.column))
                continue;
            CellWriter writer = f->Writer(*rows, physical);
            switch (v.value.kind) {
            case ParamValue::Kind::Null: writer.Null(); break;
            case ParamValue::Kind::Int: writer.Int(v.value.intValue); break;
            case ParamValue::Kind::Double: writer.Double(v.value.doubleValue); break;
            case ParamValue::Kind::Text: writer.Text(v.value.text); break;
            case ParamValue::Kind::Bytes: writer.Bytes(v.value.text); break;
            }
        }
    }
    DropPending();
    return physical;
}

void TADOQuery::Impl::DeleteCurrent()
{
    const RowWindow::HeldRow held = window.Active();
    const std::string table = BaseTableOf(fields);
    if (table.empty() || !connection)
        throw Error(kNoBaseTable);
    // The connection is the worker's while it fetches.
    if (!RowsWritable())
        throw Error(kStillFetching);
    // The key singles the row out, unless a key value is missing: a source
    // that does not tell the numbers it assigned leaves them empty in rows
    // stored through this set. Then every comparable value is matched, and
    // the missing ones are left out rather than matched as null.
    bool keyUsable = false;
    for (const auto& f : fields) {
        if (!f->Column().isKey)
            continue;
        keyUsable = true;
        if (rows->IsNull(f->Index(), held.physical)) {
            keyUsable = false;
            break;
        }
    }
    std::vector<NamedValue> match;
    for (const auto& f : fields) {
        if (!f->Column().baseTable.empty() && f->Column().baseTable != table)
            continue;
        const TFieldType kind = f->DataType();
        if (keyUsable) {
            if (!f->Column().isKey)
                continue;
        } else {
            if (kind == TFieldType::ftMemo || IsBinaryKind(kind) || kind == TFieldType::ftFloat)
                continue;
            if ((f->Column().isKey || f->ReadOnly()) && rows->IsNull(f->Index(), held.physical))
                continue;
        }
        match.push_back(NamedValue{f->BaseColumn(), f->ToParam(*rows, held.physical)});
    }
    // Throws the provider's own text; the row stays.
    connection->DeleteRow(table, match);
    deleted.insert(std::upper_bound(deleted.begin(), deleted.end(), held.physical), held.physical);
}

// ---------------------------------------------------------------------------
// TADOQuery

TADOQuery::TADOQuery(std::string name) : d_(std::make_unique<Impl>(*this))
{
    d_->name = std::move(name);
}

TADOQuery::~TADOQuery()
{
    try {
        Close();
    } catch (...) {
        // A link that fails while being told of the close cannot stop destruction.
    }
    for (TDataSource* source : d_->sources) {
        source->d_->dataSet = nullptr;
        for (TDataLink* link : source->d_->links) {
            link->d_->active = false;
            link->d_->editing = false;
        }
    }
}

const std::string& TADOQuery::Name() const { return d_->name; }
const std::string& TADOQuery::ConnectionString() const { return d_->connectionString; }

void TADOQuery::SetConnectionString(const std::string& text)
{
    if (text == d_->connectionString)
        return;
    if (d_->state != TDataSetState::dsInactive)
        d_->Fail("Cannot perform this operation on an open dataset");
    d_->connectionString = text;
}

const std::string& TADOQuery::SQL() const { return d_->sql; }

void TADOQuery::SetSQL(const std::string& text)
{
    Close();
    d_->sql = text;
}

TDataSetState TADOQuery::State() const { return d_->state; }
bool TADOQuery::Active() const { return d_->state != TDataSetState::dsInactive; }

void TADOQuery::Open()
{
    Impl& d = *d_;
    if (d.state != TDataSetState::dsInactive)
        return;
    d.CancelOpening();
    d.CheckNotNotifying("Open");
    if (d.sql.empty())
        d.Fail("Missing SQL property");
    std::shared_ptr<Connection> connection;
    std::shared_ptr<FetchStream> stream;
    std::int64_t firstRows = 0;
    try {
        connection = Connect(d.connectionString);
    } catch (const std::bad_alloc&) {
        d.Fail("Out of memory");
    } catch (const std::exception& e) {
        throw ConnectionFailed(d.Prefixed(e.what()));
    }
    try {
        std::unique_ptr<ResultReader> reader = connection->Query(d.sql);
        if (!reader)
            throw Error("CommandText does not return a result set");
        const std::vector<ColumnInfo>& columns = reader->Columns();
        FieldPlan plan = PlanFields(columns);
        for (std::size_t i = 0; i < plan.names.size(); ++i) {
            d.fields.push_back(std::make_unique<FieldImpl>(
                d, static_cast<int>(i), plan.names[i], plan.kinds[i],
                columns[static_cast<std::size_t>(plan.columns[i])]));
        }
        d.rows = EmptySnapshotFor(d.fields);
        Loader loader(*d.rows, d.fields, plan.fieldOfColumn);
        const TGuiPoster poster = CurrentPoster();
        if (reader->Read(loader, kFetchBlock) == kFetchBlock) {
            if (poster) {
                // The first block is in, and is what the set shows at first
                // (whatever the worker adds meanwhile comes with the next
                // wake): a worker fetches the rest.
                firstRows = d.rows->RowCount();
                auto s = std::make_shared<FetchStream>();
                s->rows = d.rows;
                s->loader = std::make_unique<Loader>(*d.rows, d.fields, plan.fieldOfColumn);
                s->reader = std::move(reader);
                s->connection = connection;
                s->poster = poster;
                d.rows->Share();
                std::thread(FetchRest, s).detach();
                stream = std::move(s);
            } else {
                while (reader->Read(loader, kFetchBlock) > 0) {
                }
            }
        }
    } catch (const std::bad_alloc&) {
        d.fields.clear();
        d.rows.reset();
        d.Fail("Out of memory");
    } catch (const std::exception& e) {
        // A failed open leaves no fields and no rows behind.
        d.fields.clear();
        d.rows.reset();
        d.Fail(e.what());
    }
    d.connection = std::move(connection);
    d.known = stream ? firstRows : d.rows->RowCount();
    ++d.openSerial;
    d.fetchState = stream ? TFetchState::fsFetching : TFetchState::fsComplete;
    d.fetchFailure.clear();
    d.stream = stream;
    if (stream)
        stream->owner = &d;
    d.deleted.clear();
    d.state = TDataSetState::dsBrowse;
    d.window.SetSize(d.DesiredWindowSize());
    d.window.FillFromStart();
    d.UpdateLinkStates();
}

void TADOQuery::OpenThen(std::function<void(std::exception_ptr)> done)
{
    Impl& d = *d_;
    TGuiPoster poster = CurrentPoster();
    if (d.state != TDataSetState::dsInactive || !poster) {
        std::exception_ptr failure;
        try {
            Open();
        } catch (...) {
            failure = std::current_exception();
        }
        if (done)
            done(failure);
        return;
    }
    d.CancelOpening();
    d.CheckNotNotifying("Open");
    if (d.sql.empty())
        d.Fail("Missing SQL property");
    auto s = std::make_shared<FetchStream>();
    s->poster = std::move(poster);
    s->connectionString = d.connectionString;
    s->sql = d.sql;
    s->owner = &d;
    std::thread(OpenAndFetch, s).detach();
    d.opening = std::move(s);
    d.openDone = std::move(done);
}

bool TADOQuery::Opening() const { return d_->opening != nullptr; }

void TADOQuery::Close()
{
    Impl& d = *d_;
    d.CancelOpening();
    if (d.state == TDataSetState::dsInactive)
        return;
    d.CheckNotNotifying("Close");
    // Links hear of the close while the old fields still exist (they may
    // hold pointers to them); the fields go right after.
    std::vector<std::unique_ptr<FieldImpl>> closing = std::move(d.fields);
    d.fields.clear();
    for (auto& f : closing)
        f->Detach();
    d.state = TDataSetState::dsInactive;
    d.LeaveStream(TFetchState::fsComplete);
    d.abandoned.reset();  // it holds its own share of the rows
    d.window.Clear();
    d.DropPending();
    d.rows.reset();
    d.known = 0;
    d.fetchState = TFetchState::fsComplete;
    d.fetchFailure.clear();
    d.deleted.clear();
    d.connection.reset();
    d.UpdateLinkStates();
}

TFetchState TADOQuery::FetchState() const { return d_->fetchState; }
std::uint64_t TADOQuery::OpenSerial() const { return d_->openSerial; }
const std::string& TADOQuery::FetchFailure() const { return d_->fetchFailure; }

void TADOQuery::StopFetching()
{
    Impl& d = *d_;
    if (d.opening) {
        d.CancelOpening();
        return;
    }
    if (!d.stream)
        return;
    d.CheckNotNotifying("StopFetching");
    // The rows published so far are kept and shown.
    const std::int64_t published = d.rows->RowCount();
    d.LeaveStream(TFetchState::fsStopped);
    d.TakeRows(published);
    if (d.onFetchChange) {
        std::function<void()> handler = d.onFetchChange;
        handler();
    }
}

void TADOQuery::SetOnFetchChange(std::function<void()> handler) { d_->onFetchChange = std::move(handler); }

TField& TADOQuery::FieldNamed(const std::string& name) const
{
    if (TField* f = FindField(name))
        return *f;
    d_->Fail("Field '" + name + "' not found");
}

TField* TADOQuery::FindField(const std::string& name) const
{
    for (const auto& f : d_->fields) {
        if (text::EqualNoCase(f->FieldName(), name))
            return f.get();
    }
    return nullptr;
}

void TADOQuery::FieldNames(std::vector<std::string>& list)
{
    Impl& d = *d_;
    if (d.state != TDataSetState::dsInactive) {
        list.clear();
        for (const auto& f : d.fields)
            list.push_back(f->FieldName());
        return;
    }
    if (d.sql.empty())
        d.Fail("Missing SQL property");
    FieldPlan plan;
    try {
        // Only the columns are wanted: no row is fetched, the set stays closed.
        std::unique_ptr<Connection> connection = Connect(d.connectionString);
        std::unique_ptr<ResultReader> reader = connection->Query(d.sql);
        if (!reader)
            throw Error("CommandText does not return a result set");
        plan = PlanFields(reader->Columns());
    } catch (const std::exception& e) {
        d.Fail(e.what());
    }
    list = std::move(plan.names);
}

int TADOQuery::FieldCount() const { return static_cast<int>(d_->fields.size()); }

TField& TADOQuery::FieldAt(int index) const
{
    if (index < 0 || index >= FieldCount())
        d_->Fail("List index out of bounds (" + std::to_string(index) + ")");
    return *d_->fields[static_cast<std::size_t>(index)];
}

std::int64_t TADOQuery::Execute()
{
    Impl& d = *d_;
    if (d.sql.empty())
        d.Fail("Missing SQL property");
    try {
        std::unique_ptr<Connection> connection = Connect(d.connectionString);
        return connection->Execute(d.sql);
    } catch (const std::exception& e) {
        d.Fail(e.what());
    }
}

// ---------------------------------------------------------------------------
// TADOConnection

struct TADOConnection::Impl {
    std::string connectionString;
    std::unique_ptr<Connection> connection;
};

TADOConnection::TADOConnection() : d_(std::make_unique<Impl>()) {}
TADOConnection::~TADOConnection() = default;

const std::string& TADOConnection::ConnectionString() const { return d_->connectionString; }

void TADOConnection::SetConnectionString(const std::string& text)
{
    if (text == d_->connectionString)
        return;
    // A new data source: the next use connects to it.
    d_->connection.reset();
    d_->connectionString = text;
}

bool TADOConnection::Connected() const { return d_->connection != nullptr; }

void TADOConnection::TableNames(std::vector<std::string>& list, bool systemTables)
{
    if (!d_->connection)
        d_->connection = Connect(d_->connectionString);
    const std::vector<CatalogEntry> entries = d_->connection->Tables();
    list.clear();
    for (const CatalogEntry& e : entries) {
        if (e.type == "TABLE" || e.type == "VIEW" || (systemTables && e.type == "SYSTEM TABLE"))
            list.push_back(e.name);
    }
}

} // namespace querlin::data
