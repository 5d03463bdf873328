// Record sets whose rows come from a worker: the first block at Open, the
// rest picked up from a task queue that stands in for the GUI thread's event
// loop, so these tests need no Qt.

#include "data/DataSet.h"
#include "data/RecordScan.h"
#include "platform/CacheFile.h"
#include "platform/RowMemory.h"
#include "testsupport/PrivateServer.h"
#include "testsupport/TaskQueue.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#ifndef _WIN32
#include "testsupport/SilentListener.h"

#include <signal.h>
#include <sys/mount.h>
#include <sys/types.h>
#include <unistd.h>
#endif

using namespace querlin;
using namespace querlin::data;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// "At once": far below any wait on the server (a stopped one never answers;
// the login time-out is 15 s), and loose enough for a busy machine. How
// fast it really is, the benchmarks measure.
constexpr auto kAtOnce = 2s;

using test::TaskQueue;

namespace {

// A view of twenty rows that counts what it is told.
class CountingLink : public TDataLink {
public:
    explicit CountingLink(TDataSource& source)
    {
        SetDataSource(&source);
        SetBufferCount(20);
    }
    int changed = 0;
    int scrolled = 0;

protected:
    void DataSetChanged() override { ++changed; }
    void DataSetScrolled(int) override { ++scrolled; }
};

std::string Series(int rows, const char* marker = "series")
{
    return "SELECT g AS n, 'row ' || g AS t, '" + std::string(marker) + "' AS m FROM generate_series(1, " +
           std::to_string(rows) + ") g";
}

int N(TADOQuery& q) { return std::stoi(q.FieldNamed("n").PlainText()); }

TEST(StreamDb, FirstRowsAtOnceTheRestBehindThemWhileTheUserMoves)
{
    TaskQueue gui;
    TADOQuery q("qry4");
    TDataSource source;
    source.SetDataSet(&q);
    CountingLink link(source);
    q.SetConnectionString(test::RequireTestDatabase().AdoConnectionString());
    q.SetSQL(Series(200000));
    q.Open();
    // Open returned with the first block only; the links hear of more only
    // on the GUI thread.
    EXPECT_EQ(q.FetchState(), TFetchState::fsFetching);
    EXPECT_EQ(q.RecordCount(), 1024);
    EXPECT_EQ(N(q), 1);

    // The user moves while rows arrive: the current row stays where the
    // user put it, the keys reach past the first block.
    q.MoveRows(5);
    ASSERT_TRUE(gui.RunUntil([&] { return q.RecordCount() > 1024; }));
    EXPECT_EQ(q.RecordNumber(), 6);
    EXPECT_EQ(N(q), 6);
    EXPECT_EQ(link.ActiveRecord(), 5);
    EXPECT_GT(link.scrolled + link.changed, 0);

    // The last row known, then past it once more have come.
    q.MoveLast();
    const int last = q.RecordNumber();
    EXPECT_EQ(N(q), last);
    if (q.FetchState() == TFetchState::fsFetching) {
        q.MoveNext();
        EXPECT_TRUE(q.AtEnd());
        ASSERT_TRUE(gui.RunUntil([&] { return q.RecordCount() > last; }));
        EXPECT_FALSE(q.AtEnd());
        EXPECT_EQ(q.RecordNumber(), last);
        q.MoveNext();
        EXPECT_EQ(N(q), last + 1);
    }

    ASSERT_TRUE(gui.RunUntil([&] { return q.FetchState() != TFetchState::fsFetching; }));
    EXPECT_EQ(q.FetchState(), TFetchState::fsComplete);
    EXPECT_EQ(q.RecordCount(), 200000);
    q.MoveLast();
    EXPECT_EQ(N(q), 200000);
    EXPECT_EQ(q.FieldNamed("t").PlainText(), "row 200000");
    // Notifications were coalesced: far fewer than the blocks fetched.
    EXPECT_LT(gui.Posted(), 200000 / 1024);

    // Rows can be stored again once all are in: nothing waits on a worker.
    q.Close();
    q.Open();
    EXPECT_EQ(q.RecordCount(), 1024);
}

// A link that runs the event loop while it is told of a change (as a modal
// box would): the rows that arrive meanwhile, and an open that completes
// meanwhile, wait until it returns; a link is never told two things at once.
class NestingLink : public TDataLink {
public:
    NestingLink(TDataSource& source, TaskQueue& gui) : gui_(gui)
    {
        SetDataSource(&source);
        SetBufferCount(20);
    }
    int depth = 0;
    int deepest = 0;
    int told = 0;

protected:
    void DataSetChanged() override { Told(); }
    void DataSetScrolled(int) override { Told(); }
    void ActiveChanged() override { Told(); }

private:
    void Told()
    {
        ++told;
        deepest = std::max(deepest, ++depth);
        if (depth == 1)
            gui_.RunFor(120ms);
        --depth;
    }
    TaskQueue& gui_;
};

TEST(StreamDb, ALinkRunningTheEventLoopIsNeverToldTwoThingsAtOnce)
{
    TaskQueue gui;
    TADOQuery q;
    TDataSource source;
    source.SetDataSet(&q);
    NestingLink link(source, gui);
    q.SetConnectionString(test::RequireTestDatabase().AdoConnectionString());
    q.SetSQL(Series(300000, "nesting"));
    q.Open();
    ASSERT_TRUE(gui.RunUntil([&] { return q.FetchState() != TFetchState::fsFetching; }));
    EXPECT_EQ(q.FetchState(), TFetchState::fsComplete);
    EXPECT_EQ(q.RecordCount(), 300000);
    EXPECT_GT(link.told, 1);
    EXPECT_EQ(link.deepest, 1);

    // Opened on a worker, with rows still coming behind the first block.
    q.Close();
    int opened = 0;
    q.OpenThen([&](std::exception_ptr failure) {
        EXPECT_FALSE(failure);
        ++opened;
    });
    ASSERT_TRUE(gui.RunUntil([&] { return opened == 1 && q.FetchState() != TFetchState::fsFetching; }));
    EXPECT_EQ(q.RecordCount(), 300000);
    EXPECT_EQ(link.deepest, 1);
}

TEST(StreamDb, SmallResultsAreWholeAtOpenAndPostNothing)
{
    TaskQueue gui;
    const auto& db = test::RequireTestDatabase();
    for (int rows : {0, 1, 1023}) {
        TADOQuery q;
        q.SetConnectionString(db.AdoConnectionString());
        q.SetSQL(Series(rows));
        q.Open();
        EXPECT_EQ(q.FetchState(), TFetchState::fsComplete) << rows;
        EXPECT_EQ(q.RecordCount(), rows);
    }
    EXPECT_EQ(gui.Posted(), 0);
}

TEST(StreamDb, WithoutAPosterOpenFetchesEverything)
{
    TADOQuery q;
    q.SetConnectionString(test::RequireTestDatabase().AdoConnectionString());
    q.SetSQL(Series(5000));
    q.Open();
    EXPECT_EQ(q.FetchState(), TFetchState::fsComplete);
    EXPECT_EQ(q.RecordCount(), 5000);
}

TEST(StreamDb, StoppingKeepsTheRowsSoFarAndANewQueryNeverSeesTheOldRows)
{
    TaskQueue gui;
    TADOQuery q("qry4");
    TDataSource source;
    source.SetDataSet(&q);
    CountingLink link(source);
    int told = 0;
    q.SetOnFetchChange([&] { ++told; });
    q.SetConnectionString(test::RequireTestDatabase().AdoConnectionString());
    q.SetSQL(Series(3000000));
    q.Open();
    gui.RunFor(100ms);
    q.MoveRows(3);
    q.StopFetching();
    EXPECT_EQ(q.FetchState(), TFetchState::fsStopped);
    EXPECT_GT(told, 0);
    const int kept = q.RecordCount();
    EXPECT_GE(kept, 1024);
    EXPECT_LT(kept, 3000000);
    EXPECT_EQ(q.RecordNumber(), 4);
    gui.RunFor(300ms);
    EXPECT_EQ(q.RecordCount(), kept);
    q.MoveLast();
    EXPECT_EQ(N(q), kept);
    // The rows so far can take new ones once the stopped worker is done.

    // A new query at once, mid-stream: only its own rows, ever.
    q.Close();
    q.SetSQL(Series(3000000, "second"));
    q.Open();
    q.SetSQL(Series(10, "third"));
    q.Open();
    gui.RunFor(300ms);
    EXPECT_EQ(q.FetchState(), TFetchState::fsComplete);
    EXPECT_EQ(q.RecordCount(), 10);
    EXPECT_EQ(q.FieldNamed("m").PlainText(), "third");
}

TEST(StreamDb, ClosingOrDestroyingMidStreamReturnsAtOnce)
{
    TaskQueue gui;
    const auto& db = test::RequireTestDatabase();
    for (bool destroy : {false, true}) {
        auto q = std::make_unique<TADOQuery>();
        q->SetConnectionString(db.AdoConnectionString());
        q->SetSQL(Series(3000000));
        q->Open();
        gui.RunFor(50ms);
        const auto start = Clock::now();
        if (destroy)
            q.reset();
        else
            q->Close();
        EXPECT_LT(Clock::now() - start, kAtOnce) << destroy;
        gui.RunFor(100ms);  // tasks left for a record set that is gone do nothing
    }
}

// Stopping the server's process and a silent listener take the POSIX calls.
#ifndef _WIN32
// A server process that stops answering mid-result (SIGSTOP) holds neither
// the stop nor the close; once it goes on, the next query works.
TEST(StreamDb, AFrozenServerProcessHoldsNothing)
{
    TaskQueue gui;
    test::PrivateServer server("frozen-pw");
    TADOQuery q;
    q.SetConnectionString(server.AdoConnectionString());
    q.SetSQL(Series(20000000, "frozen"));
    q.Open();
    ASSERT_EQ(q.FetchState(), TFetchState::fsFetching);
    // The record set's session is the only other one of the database.
    const std::string pid = server.Psql(
        "SELECT pid FROM pg_stat_activity WHERE datname = 'querlin' AND backend_type = 'client backend' "
        "AND pid <> pg_backend_pid()");
    ASSERT_FALSE(pid.empty());
    ASSERT_EQ(::kill(static_cast<pid_t>(std::stol(pid)), SIGSTOP), 0);
    gui.RunFor(300ms);
    const int before = q.RecordCount();
    gui.RunFor(300ms);
    EXPECT_EQ(q.RecordCount(), before);  // nothing comes any more
    EXPECT_EQ(q.FetchState(), TFetchState::fsFetching);

    auto start = Clock::now();
    q.StopFetching();
    EXPECT_LT(Clock::now() - start, kAtOnce);
    EXPECT_EQ(q.FetchState(), TFetchState::fsStopped);
    EXPECT_EQ(q.RecordCount(), before);
    start = Clock::now();
    q.Close();
    EXPECT_LT(Clock::now() - start, kAtOnce);

    ::kill(static_cast<pid_t>(std::stol(pid)), SIGCONT);
    q.SetSQL(Series(5, "after"));
    q.Open();
    EXPECT_EQ(q.RecordCount(), 5);
    EXPECT_EQ(q.FieldNamed("m").PlainText(), "after");
    q.Close();

    // Opened on a worker: the connection, the query and the first block
    // are made there; the set opens when they are in.
    std::exception_ptr failure;
    int done = 0;
    auto count = [&](std::exception_ptr e) {
        ++done;
        failure = e;
    };
    q.SetSQL(Series(5000, "async"));
    q.OpenThen(count);
    EXPECT_TRUE(q.Opening());
    EXPECT_FALSE(q.Active());
    ASSERT_TRUE(gui.RunUntil([&] { return done == 1; }));
    EXPECT_FALSE(failure);
    EXPECT_TRUE(q.Active());
    EXPECT_EQ(N(q), 1);
    ASSERT_TRUE(gui.RunUntil([&] { return q.FetchState() == TFetchState::fsComplete; }));
    EXPECT_EQ(q.RecordCount(), 5000);
    q.Close();
    // A small result is whole at once.
    q.SetSQL(Series(3, "small"));
    q.OpenThen(count);
    ASSERT_TRUE(gui.RunUntil([&] { return done == 2; }));
    EXPECT_EQ(q.FetchState(), TFetchState::fsComplete);
    EXPECT_EQ(q.RecordCount(), 3);
    q.Close();
    // A query the server refuses: the failure Open would throw, set closed.
    q.SetSQL("SELECT * FROM no_such_table");
    q.OpenThen(count);
    ASSERT_TRUE(gui.RunUntil([&] { return done == 3; }));
    ASSERT_TRUE(failure);
    EXPECT_NE(test::ErrorOf([&] { std::rethrow_exception(failure); }).find("no_such_table"), std::string::npos);
    EXPECT_FALSE(q.Active());

    // A host that takes the connection and never answers: stopping the
    // attempt returns at once, and its continuation never runs.
    const test::SilentListener silent("127.0.0.1", 0);
    q.SetConnectionString(server.AdoConnectionString(silent.Port()));
    q.SetSQL(Series(5, "silent"));
    q.OpenThen(count);
    gui.RunFor(300ms);
    EXPECT_TRUE(q.Opening());
    start = Clock::now();
    q.StopFetching();
    EXPECT_LT(Clock::now() - start, kAtOnce);
    EXPECT_FALSE(q.Opening());
    EXPECT_FALSE(q.Active());
    gui.RunFor(100ms);
    EXPECT_EQ(done, 3);
}
#endif

} // namespace

namespace {

// The server goes mid-result: the rows so far stay, the fetch is marked cut
// short with the driver's text, and the set can be opened again later.
TEST(StreamDb, AServerLostMidStreamKeepsTheRowsSoFarAndSaysSo)
{
    TaskQueue gui;
    test::PrivateServer server("lost-pw");
    TADOQuery q;
    q.SetConnectionString(server.AdoConnectionString());
    q.SetSQL(Series(20000000, "lost"));
    q.Open();
    ASSERT_EQ(q.FetchState(), TFetchState::fsFetching);
    q.MoveRows(2);
    // Its session ends under it, as when the server goes.
    server.Psql("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = 'querlin' "
                "AND backend_type = 'client backend' AND pid <> pg_backend_pid()");
    ASSERT_TRUE(gui.RunUntil([&] { return q.FetchState() != TFetchState::fsFetching; }));
    EXPECT_EQ(q.FetchState(), TFetchState::fsFailed);
    EXPECT_FALSE(q.FetchFailure().empty());
    const int kept = q.RecordCount();
    EXPECT_GE(kept, 1024);
    EXPECT_LT(kept, 20000000);
    EXPECT_EQ(q.RecordNumber(), 3);
    q.MoveLast();
    EXPECT_EQ(N(q), kept);
    q.SetSQL(Series(5, "again"));
    q.Open();
    EXPECT_EQ(q.RecordCount(), 5);
}

// ---------------------------------------------------------------------------
// The life as a table: each state reached on a real stream, each event made
// for real, the state after and what a link was told.

enum class Poke { Open, FirstBlock, Rows, End, Failure, Stop, Close, Destroy };

// What a link heard: opened or closed, rows (a data change or a scroll).
struct Heard {
    int active = 0;
    int rows = 0;
    bool operator==(const Heard&) const = default;
};

class HearingLink : public TDataLink {
public:
    explicit HearingLink(TDataSource& source)
    {
        SetDataSource(&source);
        SetBufferCount(20);
    }
    Heard heard;

protected:
    void ActiveChanged() override { ++heard.active; }
    void DataSetChanged() override { ++heard.rows; }
    void DataSetScrolled(int) override { ++heard.rows; }
};

// Rows that come slowly: the server sleeps every 20,000 rows, so a stream
// stays a stream for the seconds a case needs.
std::string SlowSeries(const char* marker)
{
    return std::string("SELECT g AS n, '") + marker +
           "' AS m FROM generate_series(1, 400000) g "
           "WHERE CASE WHEN g % 20000 = 0 THEN pg_sleep(0.3)::text = '' ELSE true END";
}

struct LifeCase {
    const char* name;
    TLife from;
    Poke poke;
    TLife to;     // lfClosed also for a destroyed set
    Heard heard;  // from the poke on; rows -1: rows published meanwhile may come with it
};

class Life : public ::testing::TestWithParam<LifeCase> {};

TEST_P(Life, EachStateTakesEachEventAsTheTableSays)
{
    const LifeCase& c = GetParam();
    TaskQueue gui;
    const auto& db = test::RequireTestDatabase();
    auto q = std::make_unique<TADOQuery>("qry4");
    TDataSource source;
    source.SetDataSet(q.get());
    HearingLink link(source);
    q->SetConnectionString(db.AdoConnectionString());
    const std::string marker = std::string("life_") + c.name;
    const bool failsAtOpen = c.from == TLife::lfOpening && c.poke == Poke::Failure;
    q->SetSQL(c.from == TLife::lfComplete ? Series(10) : failsAtOpen ? "SELECT * FROM no_such_table" : SlowSeries(marker.c_str()));
    auto cutSession = [&] {
        TADOQuery killer;
        killer.SetConnectionString(db.AdoConnectionString());
        // The stream's session shows its cursor's FETCH, not the query:
        // every other session of the database goes (the cases run alone).
        killer.SetSQL("SELECT pg_terminate_backend(pid) AS k FROM pg_stat_activity WHERE datname = current_database() "
                      "AND backend_type = 'client backend' AND pid <> pg_backend_pid()");
        killer.Open();
    };
    std::exception_ptr openFailure;
    int doneRuns = 0;
    auto openThen = [&] {
        q->OpenThen([&](std::exception_ptr failure) {
            openFailure = failure;
            ++doneRuns;
        });
    };

    // Reach the state.
    if (c.from != TLife::lfClosed)
        openThen();
    if (c.from != TLife::lfClosed && c.from != TLife::lfOpening) {
        ASSERT_TRUE(gui.RunUntil([&] { return !q->Opening(); }));
    }
    if (c.from == TLife::lfStopped)
        q->StopFetching();
    if (c.from == TLife::lfFailed) {
        cutSession();
        ASSERT_TRUE(gui.RunUntil([&] { return q->Life() == TLife::lfFailed; }));
    }
    ASSERT_EQ(q->Life(), c.from);
    const int rowsBefore = q->Active() ? q->RecordCount() : 0;
    link.heard = {};

    // The event.
    switch (c.poke) {
    case Poke::Open: openThen(); break;
    case Poke::FirstBlock: ASSERT_TRUE(gui.RunUntil([&] { return doneRuns > 0; })); break;
    case Poke::Rows:
        // A stopped worker may still fetch a block: nobody sees it.
        gui.RunUntil([&] { return q->RecordCount() > rowsBefore; }, 800ms);
        break;
    case Poke::End:
        // A stopped worker ends unseen: its end changes nothing either.
        if (c.from == TLife::lfStopped)
            gui.RunFor(1s);
        else
            gui.RunUntil([&] { return q->Life() != c.from; }, 30s);
        break;
    case Poke::Failure:
        if (c.from != TLife::lfOpening)
            cutSession();
        ASSERT_TRUE(gui.RunUntil([&] { return doneRuns > 0 && q->Life() != c.from; }));
        break;
    case Poke::Stop: q->StopFetching(); break;
    case Poke::Close: q->Close(); break;
    case Poke::Destroy: q.reset(); break;
    }

    const TLife now = q ? q->Life() : TLife::lfClosed;
    EXPECT_EQ(static_cast<int>(now), static_cast<int>(c.to));
    EXPECT_EQ(link.heard.active, c.heard.active);
    if (c.heard.rows > 0) {
        EXPECT_GT(link.heard.rows, 0);
    } else if (c.heard.rows == 0) {
        EXPECT_EQ(link.heard.rows, 0);
    }
    if (q && c.from == TLife::lfStopped && now == TLife::lfStopped) {
        EXPECT_EQ(q->RecordCount(), rowsBefore) << "a stopped stream shows the rows of its stop only";
    }
    if (c.from == TLife::lfOpening && c.poke == Poke::Failure) {
        EXPECT_EQ(doneRuns, 1);
        EXPECT_TRUE(openFailure);
    }
    if (c.from == TLife::lfOpening && (c.poke == Poke::Stop || c.poke == Poke::Close || c.poke == Poke::Destroy)) {
        gui.RunFor(300ms);
        EXPECT_EQ(doneRuns, 0) << "a stopped open's continuation never runs";
    }
}

using L = TLife;
const LifeCase kLife[] = {
    {"closed_open", L::lfClosed, Poke::Open, L::lfOpening, {}},
    {"closed_stop", L::lfClosed, Poke::Stop, L::lfClosed, {}},
    {"closed_close", L::lfClosed, Poke::Close, L::lfClosed, {}},
    {"closed_destroy", L::lfClosed, Poke::Destroy, L::lfClosed, {}},
    {"opening_first_block", L::lfOpening, Poke::FirstBlock, L::lfStreaming, {1, -1}},
    {"opening_failure", L::lfOpening, Poke::Failure, L::lfClosed, {}},
    {"opening_open_again", L::lfOpening, Poke::Open, L::lfOpening, {}},
    {"opening_stop", L::lfOpening, Poke::Stop, L::lfClosed, {}},
    {"opening_close", L::lfOpening, Poke::Close, L::lfClosed, {}},
    {"opening_destroy", L::lfOpening, Poke::Destroy, L::lfClosed, {}},
    {"streaming_rows", L::lfStreaming, Poke::Rows, L::lfStreaming, {0, 1}},
    {"streaming_end", L::lfStreaming, Poke::End, L::lfComplete, {0, 1}},
    {"streaming_failure", L::lfStreaming, Poke::Failure, L::lfFailed, {0, -1}},
    {"streaming_open", L::lfStreaming, Poke::Open, L::lfStreaming, {}},
    {"streaming_stop", L::lfStreaming, Poke::Stop, L::lfStopped, {0, -1}},
    {"streaming_close", L::lfStreaming, Poke::Close, L::lfClosed, {1, 0}},
    {"streaming_destroy", L::lfStreaming, Poke::Destroy, L::lfClosed, {1, 0}},
    {"complete_open", L::lfComplete, Poke::Open, L::lfComplete, {}},
    {"complete_stop", L::lfComplete, Poke::Stop, L::lfComplete, {}},
    {"complete_close", L::lfComplete, Poke::Close, L::lfClosed, {1, 0}},
    {"stopped_rows", L::lfStopped, Poke::Rows, L::lfStopped, {}},
    {"stopped_end", L::lfStopped, Poke::End, L::lfStopped, {}},
    {"stopped_stop", L::lfStopped, Poke::Stop, L::lfStopped, {}},
    {"stopped_open", L::lfStopped, Poke::Open, L::lfStopped, {}},
    {"stopped_close", L::lfStopped, Poke::Close, L::lfClosed, {1, 0}},
    {"failed_stop", L::lfFailed, Poke::Stop, L::lfFailed, {}},
    {"failed_open", L::lfFailed, Poke::Open, L::lfFailed, {}},
    {"failed_close", L::lfFailed, Poke::Close, L::lfClosed, {1, 0}},
};

INSTANTIATE_TEST_SUITE_P(StreamDb, Life, ::testing::ValuesIn(kLife),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

// Rows past the process's row budget go on in the cache file.
namespace {

// A budget of the bytes in use now and extra, for one test.
class RowBudget {
public:
    explicit RowBudget(std::uint64_t extra)
    {
        platform::SetRowMemoryBudgetForTesting(platform::RowMemoryInUse() + extra);
    }
    ~RowBudget() { platform::SetRowMemoryBudgetForTesting(0); }
};

#ifndef _WIN32
// The cache folder below another folder for one test.
class CacheHome {
public:
    explicit CacheHome(const std::filesystem::path& home)
    {
        if (const char* old = std::getenv("XDG_CACHE_HOME"))
            old_ = old;
        ::setenv("XDG_CACHE_HOME", home.c_str(), 1);
    }
    ~CacheHome()
    {
        if (old_)
            ::setenv("XDG_CACHE_HOME", old_->c_str(), 1);
        else
            ::unsetenv("XDG_CACHE_HOME");
    }

private:
    std::optional<std::string> old_;
};
#endif

const char* const kManyKinds =
    "SELECT g AS n, 'row ' || g AS t, g * 1.5::float8 AS f, "
    "CASE WHEN g % 7 = 0 THEN NULL ELSE timestamp '2020-01-01' + g * interval '1 second' END AS ts, "
    "CASE WHEN g % 11 = 0 THEN NULL ELSE g::numeric / 8 END AS d, repeat(chr(19968 + g % 500), g % 300) AS long "
    "FROM generate_series(1, 150000) g";

TEST(StreamDb, RowsStreamedPastTheBudgetAreTheRowsOfAnOpenInMemory)
{
    const std::string connection = test::RequireTestDatabase().AdoConnectionString();
    // Without a poster, in memory: the whole result at Open.
    TADOQuery held;
    {
        RowBudget budget(std::uint64_t(1) << 40);
        held.SetConnectionString(connection);
        held.SetSQL(kManyKinds);
        held.Open();
    }
    ASSERT_EQ(held.RecordCount(), 150000);

    TaskQueue gui;
    RowBudget budget(1);  // every row of the stream goes to the cache file
    TADOQuery spilled;
    spilled.SetConnectionString(connection);
    spilled.SetSQL(kManyKinds);
    spilled.Open();
    ASSERT_TRUE(gui.RunUntil([&] { return spilled.FetchState() != TFetchState::fsFetching; }));
    ASSERT_EQ(spilled.FetchState(), TFetchState::fsComplete);
    ASSERT_EQ(spilled.RecordCount(), 150000);

    // Read as the find reads them, display and plain text alike.
    TRecordScan a(held), b(spilled);
    TRecordScan::Row ra = a.First(), rb = b.First();
    std::string sa, sb;
    std::int64_t rows = 0;
    do {
        for (int f = 0; f < held.FieldCount(); ++f) {
            for (const bool display : {true, false})
                ASSERT_EQ(a.Text(f, ra, display, sa), b.Text(f, rb, display, sb)) << "row " << rows << " field " << f;
        }
        ++rows;
    } while (a.Next(ra) && b.Next(rb));
    EXPECT_EQ(rows, 150000);
    // And through the record set's own moves.
    spilled.MoveLast();
    EXPECT_EQ(N(spilled), 150000);
    EXPECT_EQ(spilled.FieldNamed("long").PlainText().size(), 3u * (150000 % 300));
}

// Memory runs out while rows stream: the rows so far stay, each of them
// whole, the set says why, and it opens again once memory is back.
TEST(StreamDb, MemoryRunningOutStopsTheStreamWithItsRowsSoFar)
{
    TaskQueue gui;
    TADOQuery q;
    q.SetConnectionString(test::RequireTestDatabase().AdoConnectionString());
    q.SetSQL(Series(2000000, "short of memory"));
    platform::FailRowAllocationsBeyondForTesting(3 << 20);
    q.Open();
    ASSERT_TRUE(gui.RunUntil([&] { return q.FetchState() != TFetchState::fsFetching; }));
    platform::FailRowAllocationsBeyondForTesting(0);
    EXPECT_EQ(q.FetchState(), TFetchState::fsFailed);
    EXPECT_EQ(q.FetchFailure(), "Out of memory");
    const int kept = q.RecordCount();
    EXPECT_GT(kept, 1024);
    EXPECT_LT(kept, 2000000);
    q.MoveLast();
    EXPECT_EQ(N(q), kept);
    EXPECT_EQ(q.FieldNamed("t").PlainText(), "row " + std::to_string(kept));
    EXPECT_EQ(q.FieldNamed("m").PlainText(), "short of memory");
    q.SetSQL(Series(3000));
    q.Open();
    ASSERT_TRUE(gui.RunUntil([&] { return q.FetchState() != TFetchState::fsFetching; }));
    EXPECT_EQ(q.FetchState(), TFetchState::fsComplete);
    EXPECT_EQ(q.RecordCount(), 3000);
}

#ifndef _WIN32
// The disk the cache file is on fills up (a small file system of the
// test's own): the stream stops with the rows so far and says the disk is
// full; the file's room is given back at Close.
TEST(StreamDb, AFullDiskStopsTheStreamWithItsRowsSoFarAndSaysSo)
{
    ASSERT_EQ(geteuid(), 0u) << "mounting the small file system needs root";
    test::TempDir dir;
    ASSERT_EQ(::mount("tmpfs", dir.Path().c_str(), "tmpfs", 0, "size=8m"), 0) << std::strerror(errno);
    {
        CacheHome home(dir.Path());
        TaskQueue gui;
        RowBudget budget(1);
        TADOQuery q;
        q.SetConnectionString(test::RequireTestDatabase().AdoConnectionString());
        q.SetSQL(Series(2000000, "full disk"));
        q.Open();
        ASSERT_TRUE(gui.RunUntil([&] { return q.FetchState() != TFetchState::fsFetching; }));
        EXPECT_EQ(q.FetchState(), TFetchState::fsFailed);
        EXPECT_EQ(q.FetchFailure().rfind(platform::kCacheDiskFullText, 0), 0u) << q.FetchFailure();
        const int kept = q.RecordCount();
        EXPECT_GT(kept, 1024);
        EXPECT_LT(kept, 2000000);
        q.MoveLast();
        EXPECT_EQ(N(q), kept);
        EXPECT_EQ(q.FieldNamed("m").PlainText(), "full disk");
        // Closed, its room is free again: the next click works.
        q.SetSQL(Series(50000, "again"));
        q.Open();
        ASSERT_TRUE(gui.RunUntil([&] { return q.FetchState() != TFetchState::fsFetching; }));
        EXPECT_EQ(q.FetchState(), TFetchState::fsComplete);
        EXPECT_EQ(q.RecordCount(), 50000);
        q.Close();
    }
    EXPECT_TRUE(test::FilesIn(dir.Path() / "querlin").empty());
    ::umount2(dir.Path().c_str(), MNT_DETACH);
}
#endif

} // namespace
