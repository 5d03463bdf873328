// The life of a record set's result: the worker that connects, runs the
// query and fetches the rows; the messages it hands to the record set's
// thread; and every move of the life (Move, over the table in Life.h) with
// what the record set does on it. Open, OpenThen, StopFetching and Close
// are the callers' ways in; there is one open path underneath.
//
// Threads: the worker owns the reader and the connection while it fetches,
// writes the snapshot and publishes it. What it learns it moves into the
// inbox and never touches again; the record set's thread takes it out.
// The only words both threads see are the inbox's stop flag (written by the
// record set, read by the worker), the inbox's queue under its lock, and
// the snapshot's published row count.

#include "data/DataSet.h"
#include "data/DataSetImpl.h"
#include "data/FieldText.h"
#include "data/Fields.h"
#include "data/Loading.h"
#include "platform/Error.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <variant>

namespace querlin::data {

namespace {

std::mutex posterLock;
TGuiPoster& Poster()
{
    static TGuiPoster poster;
    return poster;
}
std::thread::id posterThread;

// The poster, for a record set opened on the thread that installed it; a
// record set of another thread (the export's) waits its rows out itself.
TGuiPoster CurrentPoster()
{
    std::lock_guard<std::mutex> hold(posterLock);
    if (posterThread != std::this_thread::get_id())
        return {};
    return Poster();
}

// The workers running: counted up before a worker starts, down as it ends.
std::mutex workersLock;
std::condition_variable workersEnded;
int workersAlive = 0;

// Links hear of new rows at most this often.
constexpr auto kWakeInterval = std::chrono::milliseconds(50);

} // namespace

void WorkerStarts()
{
    std::lock_guard<std::mutex> hold(workersLock);
    ++workersAlive;
}

void WorkerEnds()
{
    std::lock_guard<std::mutex> hold(workersLock);
    --workersAlive;
    workersEnded.notify_all();
}

int WorkersAlive()
{
    std::lock_guard<std::mutex> hold(workersLock);
    return workersAlive;
}

bool WaitForWorkers(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> hold(workersLock);
    return workersEnded.wait_for(hold, limit, [] { return workersAlive == 0; });
}

void SetGuiPoster(TGuiPoster poster)
{
    std::lock_guard<std::mutex> hold(posterLock);
    Poster() = std::move(poster);
    posterThread = std::this_thread::get_id();
}

// ---------------------------------------------------------------------------
// Messages

// The result is open: its columns and fields, the snapshot with the first
// block published, and the connection (the record set stores and deletes
// rows through it once the worker is done).
struct OpenedNews {
    std::vector<ColumnInfo> columns;
    FieldPlan plan;
    std::shared_ptr<Snapshot> rows;
    std::shared_ptr<Connection> connection;
    std::int64_t firstRows = 0;
    bool allIn = false;
};

struct OpenFailedNews {
    std::string text;
    bool connecting = false;  // the failure is the connection's
};

struct RowsNews {
    std::int64_t published = 0;
};

// The worker is done with the snapshot and has let go of its reader and
// connection: every row it will ever publish is published.
struct EndedNews {
    enum How { kComplete, kStopped, kFailed } how = kComplete;
    std::string failure;
};

struct Message {
    std::variant<OpenedNews, OpenFailedNews, RowsNews, EndedNews> news;
};

// What a worker and its record set share. The worker was given everything
// it needs at its start and never reaches the record set.
struct Inbox {
    explicit Inbox(TGuiPoster p) : poster(std::move(p)) {}

    const TGuiPoster poster;  // empty: the caller waits the open out
    std::atomic<bool> stop{false};

    // The queue, under its lock, and whether the record set waits on it on
    // its own thread (Open): then no task need wake it.
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<Message> messages;
    bool waiting = false;

    TADOQuery::Impl* owner = nullptr;  // the record set's thread only

    // The worker's: when the last wake it asked for runs.
    std::chrono::steady_clock::time_point wakeAt{};
};

namespace {

// A task for the record set's thread: take the inbox's messages in.
void AskToTake(const std::shared_ptr<Inbox>& inbox, int delayMs)
{
    inbox->poster(delayMs, [inbox] {
        if (inbox->owner)
            inbox->owner->Drain();
    });
}

// Hands a message over; rows published coalesce into the last such message
// not yet taken. True when a task must wake the record set to take it.
bool Send(Inbox& inbox, Message message)
{
    bool waiting = false;
    {
        std::lock_guard<std::mutex> hold(inbox.lock);
        waiting = inbox.waiting;
        auto* rows = std::get_if<RowsNews>(&message.news);
        auto* last = rows && !inbox.messages.empty() ? std::get_if<RowsNews>(&inbox.messages.back().news) : nullptr;
        if (last)
            last->published = rows->published;
        else
            inbox.messages.push_back(std::move(message));
    }
    inbox.arrived.notify_all();
    return !waiting;
}

// Asks the record set's thread to take its messages in: at once for an
// open or an end; for rows, no sooner than kWakeInterval after the last
// wake, and not at all while a wake not yet run will take them too.
void Wake(const std::shared_ptr<Inbox>& inbox, bool atOnce)
{
    if (!inbox->poster)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!atOnce && inbox->wakeAt >= now)
        return;
    const auto at = atOnce ? now : std::max(now, inbox->wakeAt + kWakeInterval);
    inbox->wakeAt = at;
    const int delay = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(at - now).count());
    AskToTake(inbox, delay);
}

void Post(const std::shared_ptr<Inbox>& inbox, Message message, bool atOnce)
{
    if (Send(*inbox, std::move(message)))
        Wake(inbox, atOnce);
}

bool Stopped(const Inbox& inbox) { return inbox.stop.load(std::memory_order_acquire); }

// The reader and the connection go on the worker, whatever waits they take.
void Release(std::unique_ptr<ResultReader>& reader, std::shared_ptr<Connection>& connection)
{
    try {
        reader.reset();
        connection.reset();
    } catch (...) {
    }
}

// Connects and runs the query: the news of the open, or of its failure.
Message OpenResult(const std::string& connectionString, const std::string& sql, Inbox& inbox,
                   std::unique_ptr<ResultReader>& reader, std::unique_ptr<Loader>& loader)
{
    OpenedNews opened;
    try {
        opened.connection = Connect(connectionString);
    } catch (const std::bad_alloc&) {
        return Message{OpenFailedNews{"Out of memory", false}};
    } catch (const std::exception& e) {
        return Message{OpenFailedNews{e.what(), true}};
    }
    try {
        if (Stopped(inbox))
            return Message{OpenFailedNews{}};
        reader = opened.connection->Query(sql);
        if (!reader)
            throw Error("CommandText does not return a result set");
        opened.columns = reader->Columns();
        opened.plan = PlanFields(opened.columns);
        std::vector<FieldShape> shapes;
        std::vector<SlotKind> slots;
        for (std::size_t i = 0; i < opened.plan.names.size(); ++i) {
            const ColumnInfo& column = opened.columns[static_cast<std::size_t>(opened.plan.columns[i])];
            const TFieldType kind = opened.plan.kinds[i];
            shapes.push_back(FieldShape{static_cast<int>(i), kind, text::SizeFor(kind, column)});
            slots.push_back(SlotFor(kind, column.type));
        }
        opened.rows = std::make_shared<Snapshot>(std::move(slots));
        opened.rows->Share();
        loader = std::make_unique<Loader>(*opened.rows, std::move(shapes), opened.plan.fieldOfColumn);
        opened.allIn = reader->Read(*loader, kFetchBlock) < kFetchBlock;
        opened.rows->Publish();
        opened.firstRows = opened.rows->RowCount();
    } catch (const std::bad_alloc&) {
        return Message{OpenFailedNews{"Out of memory", false}};
    } catch (const std::exception& e) {
        return Message{OpenFailedNews{e.what(), false}};
    }
    return Message{std::move(opened)};
}

// Fetches block after block, publishing each, until the result ends, the
// record set stops it, or the driver fails.
EndedNews FetchRest(const std::shared_ptr<Inbox>& inbox, Snapshot& rows, ResultReader& reader, Loader& loader)
{
    try {
        for (;;) {
            if (Stopped(*inbox))
                return EndedNews{EndedNews::kStopped, {}};
            const std::size_t read = reader.Read(loader, kFetchBlock);
            if (Stopped(*inbox))
                return EndedNews{EndedNews::kStopped, {}};
            rows.Publish();
            if (read == 0)
                return EndedNews{EndedNews::kComplete, {}};
            if (inbox->poster)
                Post(inbox, Message{RowsNews{rows.RowCount()}}, false);
        }
    } catch (const std::bad_alloc&) {
        return EndedNews{EndedNews::kFailed, "Out of memory"};
    } catch (const std::exception& e) {
        return EndedNews{EndedNews::kFailed, e.what()};
    }
}

void Fetch(const std::shared_ptr<Inbox>& inbox, const std::string& connectionString, const std::string& sql)
{
    std::unique_ptr<ResultReader> reader;
    std::unique_ptr<Loader> loader;
    Message opened = OpenResult(connectionString, sql, *inbox, reader, loader);
    auto* news = std::get_if<OpenedNews>(&opened.news);
    if (!news) {
        std::shared_ptr<Connection> none;
        Release(reader, none);
        Post(inbox, std::move(opened), true);
        return;
    }
    // The worker keeps its own shares of what it hands over.
    std::shared_ptr<Snapshot> rows = news->rows;
    std::shared_ptr<Connection> connection = news->connection;
    const bool allIn = news->allIn;
    Post(inbox, std::move(opened), true);
    EndedNews ended;
    if (!allIn)
        ended = FetchRest(inbox, *rows, *reader, *loader);
    loader.reset();
    Release(reader, connection);
    Post(inbox, Message{std::move(ended)}, true);
}

void Work(std::shared_ptr<Inbox> inbox, std::string connectionString, std::string sql)
{
    Fetch(inbox, connectionString, sql);
    inbox.reset();
    WorkerEnds();
}

} // namespace

// ---------------------------------------------------------------------------
// The life's moves

bool TADOQuery::Impl::Move(TLifeEvent event)
{
    const std::optional<TLife> next = Next(life, event);
    if (!next)
        return false;
    const TLife was = life;
    life = *next;
    switch (event) {
    case TLifeEvent::Open:
        StartWorker();
        break;
    case TLifeEvent::OpenFailed:
        LetWorkerGo();
        break;
    case TLifeEvent::Stop:
        if (was == TLife::lfOpening) {
            LetWorkerGo();
        } else {
            // The rows published so far are kept and shown; the worker
            // stops at its next block and says when it has let go.
            worker->stop.store(true, std::memory_order_release);
            TakeRows(rows->RowCount());
        }
        break;
    case TLifeEvent::Released:
    case TLifeEvent::Ended:
    case TLifeEvent::Failed:
        // The worker is done with the snapshot: this thread writes it again,
        // without the rows it wrote after a stop.
        if (life == TLife::lfStopped)
            rows->Truncate(known);
        rows->Unshare();
        worker.reset();
        break;
    case TLifeEvent::Close:
        LetWorkerGo();
        break;
    default:
        break;
    }
    return true;
}

void TADOQuery::Impl::StartWorker()
{
    auto inbox = std::make_shared<Inbox>(CurrentPoster());
    inbox->owner = this;
    WorkerStarts();
    try {
        std::thread(Work, inbox, connectionString, sql).detach();
    } catch (...) {
        WorkerEnds();
        throw;
    }
    worker = std::move(inbox);
}

void TADOQuery::Impl::LetWorkerGo()
{
    // A worker still at work stops at its next step and ends on its own; one
    // blocked in the driver is abandoned and holds only its own shares.
    if (worker) {
        worker->stop.store(true, std::memory_order_release);
        worker->owner = nullptr;
        worker.reset();
    }
    // An open's continuation goes unrun; what it holds is let go.
    std::function<void(std::exception_ptr)> dropped = std::move(openDone);
    openDone = nullptr;
}

void TADOQuery::Impl::Drain()
{
    const std::shared_ptr<Inbox> inbox = worker;
    while (inbox && worker == inbox) {
        if (notifying > 0) {
            // A link is being told something else (a nested event loop
            // under it): a link is never told two things at once.
            AskToTake(inbox, static_cast<int>(kWakeInterval.count()));
            return;
        }
        Message message;
        {
            std::lock_guard<std::mutex> hold(inbox->lock);
            if (inbox->messages.empty())
                return;
            message = std::move(inbox->messages.front());
            inbox->messages.pop_front();
        }
        Take(message);
    }
}

void TADOQuery::Impl::Take(Message& message)
{
    if (auto* opened = std::get_if<OpenedNews>(&message.news)) {
        if (!Move(opened->allIn ? TLifeEvent::AllIn : TLifeEvent::FirstBlock))
            return;
        for (std::size_t i = 0; i < opened->plan.names.size(); ++i) {
            fields.push_back(std::make_unique<FieldImpl>(
                *this, static_cast<int>(i), opened->plan.names[i], opened->plan.kinds[i],
                opened->columns[static_cast<std::size_t>(opened->plan.columns[i])]));
        }
        rows = std::move(opened->rows);
        connection = std::move(opened->connection);
        known = opened->firstRows;
        ++openSerial;
        fetchFailure.clear();
        deleted.clear();
        window.SetSize(DesiredWindowSize());
        window.FillFromStart();
        UpdateLinkStates();
        std::function<void(std::exception_ptr)> done = std::move(openDone);
        openDone = nullptr;
        if (done)
            done(nullptr);
        return;
    }
    if (auto* failed = std::get_if<OpenFailedNews>(&message.news)) {
        const std::exception_ptr failure = FailureOf(*failed);
        std::function<void(std::exception_ptr)> done = std::move(openDone);
        openDone = nullptr;
        Move(TLifeEvent::OpenFailed);
        if (done)
            done(failure);
        return;
    }
    if (auto* more = std::get_if<RowsNews>(&message.news)) {
        if (Move(TLifeEvent::Rows)) {
            TakeRows(more->published);
            FetchChanged();
        }
        return;
    }
    auto& ended = std::get<EndedNews>(message.news);
    const TLife was = life;
    const TLifeEvent event = ended.how == EndedNews::kComplete ? TLifeEvent::Ended
                             : ended.how == EndedNews::kFailed ? TLifeEvent::Failed
                                                               : TLifeEvent::Released;
    const std::int64_t published = rows ? rows->RowCount() : 0;
    if (!Move(event))
        return;
    if (life == TLife::lfFailed)
        fetchFailure = std::move(ended.failure);
    if (was == TLife::lfStreaming) {
        TakeRows(published);
        FetchChanged();
    }
}

void TADOQuery::Impl::TakeRows(std::int64_t count)
{
    if (count <= known || !Open())
        return;
    known = count;
    // The current row stays; the window takes rows when it has room, and
    // every link follows the new count.
    if (window.RowsAdded())
        Notify(LinkEvent::DataChange);
    else
        Notify(LinkEvent::Scroll, 0);
}

void TADOQuery::Impl::FetchChanged()
{
    if (onFetchChange) {
        std::function<void()> handler = onFetchChange;
        handler();
    }
}

TADOQuery::Impl::Impl(TADOQuery& owner) : self(owner) {}

TADOQuery::Impl::~Impl()
{
    // Whatever Close left undone: a worker still fetching or opening for
    // this set must never reach it again.
    if (worker) {
        worker->stop.store(true, std::memory_order_release);
        worker->owner = nullptr;
    }
}

namespace {

// Marks the inbox waited on, for as long as Open waits; what came in
// meanwhile and is left when it returns is taken in by a task.
class Waiting {
public:
    explicit Waiting(std::shared_ptr<Inbox> inbox) : inbox_(std::move(inbox))
    {
        std::lock_guard<std::mutex> hold(inbox_->lock);
        inbox_->waiting = true;
    }
    ~Waiting()
    {
        bool left = false;
        {
            std::lock_guard<std::mutex> hold(inbox_->lock);
            inbox_->waiting = false;
            left = !inbox_->messages.empty();
        }
        if (left && inbox_->poster)
            AskToTake(inbox_, 0);
    }
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;

private:
    std::shared_ptr<Inbox> inbox_;
};

Message Wait(Inbox& inbox)
{
    std::unique_lock<std::mutex> hold(inbox.lock);
    inbox.arrived.wait(hold, [&] { return !inbox.messages.empty(); });
    Message message = std::move(inbox.messages.front());
    inbox.messages.pop_front();
    return message;
}

} // namespace

std::exception_ptr TADOQuery::Impl::FailureOf(const OpenFailedNews& failed) const
{
    if (failed.connecting)
        return std::make_exception_ptr(ConnectionFailed(Prefixed(failed.text)));
    return std::make_exception_ptr(Error(Prefixed(failed.text)));
}

void TADOQuery::Impl::WaitOpen()
{
    // With a poster the rows go on streaming once the first block is in;
    // without one the whole result is waited for, and taken in at once. A
    // result whole at its first block is waited for until its worker has
    // let go, so that the caller may store rows at once.
    const std::shared_ptr<Inbox> inbox = worker;
    const bool whole = !inbox->poster;
    Waiting waiting(inbox);
    std::optional<Message> opened;
    for (;;) {
        Message message = Wait(*inbox);
        if (auto* failed = std::get_if<OpenFailedNews>(&message.news)) {
            const std::exception_ptr failure = FailureOf(*failed);
            Move(TLifeEvent::OpenFailed);
            std::rethrow_exception(failure);
        }
        if (auto* news = std::get_if<OpenedNews>(&message.news)) {
            if (whole) {
                opened = std::move(message);
                continue;
            }
            const bool allIn = news->allIn;
            Take(message);
            if (!allIn)
                return;
            continue;
        }
        if (std::holds_alternative<RowsNews>(message.news))
            continue;
        const auto& ended = std::get<EndedNews>(message.news);
        if (opened) {
            if (ended.how == EndedNews::kFailed) {
                // A whole result or none: a fetch cut short fails the open.
                const std::string failure = ended.failure;
                Move(TLifeEvent::Close);
                Fail(failure);
            }
            auto& news = std::get<OpenedNews>(opened->news);
            news.firstRows = news.rows->RowCount();
            news.allIn = true;
            Take(*opened);
        }
        Take(message);
        return;
    }
}

// ---------------------------------------------------------------------------
// The ways in

void TADOQuery::OpenThen(std::function<void(std::exception_ptr)> done)
{
    Impl& d = *d_;
    TGuiPoster poster = CurrentPoster();
    if (d.Open() || !poster) {
        // Nothing to wait for, or no poster to wait with: waited out here.
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
    d.CheckNotNotifying("Open");
    // An open under way gives way to this one.
    d.Move(TLifeEvent::Close);
    if (d.sql.empty())
        d.Fail("Missing SQL property");
    d.Move(TLifeEvent::Open);
    d.openDone = std::move(done);
}

void TADOQuery::Open()
{
    Impl& d = *d_;
    if (d.Open())
        return;
    if (d.life != TLife::lfOpening) {
        d.CheckNotNotifying("Open");
        if (d.sql.empty())
            d.Fail("Missing SQL property");
        d.Move(TLifeEvent::Open);
    }
    d.WaitOpen();
}

bool TADOQuery::Opening() const { return d_->life == TLife::lfOpening; }
TLife TADOQuery::Life() const { return d_->life; }

TFetchState TADOQuery::FetchState() const
{
    switch (d_->life) {
    case TLife::lfStreaming: return TFetchState::fsFetching;
    case TLife::lfStopped: return TFetchState::fsStopped;
    case TLife::lfFailed: return TFetchState::fsFailed;
    default: return TFetchState::fsComplete;
    }
}

void TADOQuery::StopFetching()
{
    Impl& d = *d_;
    if (d.life == TLife::lfStreaming)
        d.CheckNotNotifying("StopFetching");
    const TLife was = d.life;
    if (d.Move(TLifeEvent::Stop) && was == TLife::lfStreaming)
        d.FetchChanged();
}

void TADOQuery::Close()
{
    Impl& d = *d_;
    if (d.life == TLife::lfOpening) {
        d.Move(TLifeEvent::Close);
        return;
    }
    if (!d.Open())
        return;
    d.CheckNotNotifying("Close");
    // Links hear of the close while the old fields still exist (they may
    // hold pointers to them); the fields go right after.
    std::vector<std::unique_ptr<FieldImpl>> closing = std::move(d.fields);
    d.fields.clear();
    for (auto& f : closing)
        f->Detach();
    d.Move(TLifeEvent::Close);
    d.window.Clear();
    d.DropPending();
    d.rows.reset();  // a worker still writing holds its own share
    d.known = 0;
    d.fetchFailure.clear();
    d.deleted.clear();
    d.connection.reset();
    d.UpdateLinkStates();
}

} // namespace querlin::data
