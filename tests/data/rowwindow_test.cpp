// The row window and the notifications, seen through a recording link on a
// real record set over a local store.

#include "testsupport/LocalStoreFile.h"
#include "data/DataSet.h"
#include "platform/Error.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace querlin;
using namespace querlin::data;
using querlin::test::LocalStoreFile;

using querlin::test::ErrorOf;

namespace {

// Logs every notification it receives, in order.
class RecordingLink : public TDataLink {
public:
    std::vector<std::string> log;
    bool logChecks = false;
    std::function<void()> onDataChange;

protected:
    void ActiveChanged() override { log.push_back(Active() ? "active" : "inactive"); }
    void EditingChanged() override { log.push_back(Editing() ? "editing" : "browsing"); }
    void CheckBrowseMode() override
    {
        if (logChecks)
            log.push_back("check");
    }
    void DataSetChanged() override
    {
        log.push_back("data");
        if (onDataChange)
            onDataChange();
    }
    void DataSetScrolled(int distance) override { log.push_back("scroll " + std::to_string(distance)); }
    void RecordChanged(TField* field) override
    {
        log.push_back(field ? "record " + field->FieldName() : "record");
    }
    void LayoutChanged() override { log.push_back("layout"); }
};

using Log = std::vector<std::string>;

// A record set over rows n = 1..count of a local store, bound to a link.
struct Bench {
    LocalStoreFile store;
    TADOQuery q{"q"};
    TDataSource source;
    RecordingLink link;

    Bench(int count, int window)
    {
        store.MakeNumbered(count);
        source.SetDataSet(&q);
        link.SetDataSource(&source);
        link.SetBufferCount(window);
        store.OpenQuery(q, "SELECT n, name FROM t ORDER BY n");
        link.log.clear();
    }

    // The n values of the held rows; 0 for the new row.
    std::vector<int> Held()
    {
        std::vector<int> rows;
        const int keep = q.ActiveIndex();
        for (int i = 0; i < q.HeldCount(); ++i) {
            q.SetActiveIndex(i);
            const std::string n = q.FieldNamed("n").PlainText();
            rows.push_back(n.empty() ? 0 : std::stoi(n));
        }
        q.SetActiveIndex(keep);
        return rows;
    }
    int Current() { const std::string n = q.FieldNamed("n").PlainText(); return n.empty() ? 0 : std::stoi(n); }
};

std::vector<int> Range(int from, int to)
{
    std::vector<int> r;
    for (int i = from; i <= to; ++i)
        r.push_back(i);
    return r;
}

struct MoveCase {
    const char* name;
    int rows;
    int window;
    std::function<void(TADOQuery&)> setUp;  // before the log is cleared
    std::function<int(TADOQuery&)> action;  // the returned count is checked when expected >= -1000
    int expectedReturn;
    std::vector<int> held;
    int current;        // n of the current row, 0 for the new row
    int recordNumber;
    bool atStart, atEnd;
    Log log;
};

void PrintTo(const MoveCase& c, std::ostream* os)
{
    *os << c.name;
}

const int kAny = -100000;

class RowWindowMoves : public ::testing::TestWithParam<MoveCase> {};

TEST_P(RowWindowMoves, HoldsRowsAndNotifies)
{
    const MoveCase& c = GetParam();
    Bench b(c.rows, c.window);
    if (c.setUp)
        c.setUp(b.q);
    b.link.log.clear();
    const int moved = c.action(b.q);
    if (c.expectedReturn != kAny) {
        EXPECT_EQ(moved, c.expectedReturn);
    }
    EXPECT_EQ(b.Held(), c.held);
    EXPECT_EQ(b.Current(), c.current);
    EXPECT_EQ(b.q.RecordNumber(), c.recordNumber);
    EXPECT_EQ(b.q.AtStart(), c.atStart);
    EXPECT_EQ(b.q.AtEnd(), c.atEnd);
    EXPECT_EQ(b.link.log, c.log);
    // The link always shows the active row.
    EXPECT_GE(b.link.ActiveRecord(), 0);
    EXPECT_LT(b.link.ActiveRecord(), b.link.RecordCount() == 0 ? 1 : b.link.RecordCount());
}

int Repeat(TADOQuery& q, int times, void (TADOQuery::*move)())
{
    for (int i = 0; i < times; ++i)
        (q.*move)();
    return times;
}

const MoveCase moveCases[] = {
    {.name = "SixNextsInsideTheWindowScrollByZero",
     .rows = 20,
     .window = 7,
     .setUp = nullptr,
     .action = [](TADOQuery &q) { return Repeat(q, 6, &TADOQuery::MoveNext); },
     .expectedReturn = kAny,
     .held = Range(1, 7),
     .current = 7,
     .recordNumber = 7,
     .atStart = false,
     .atEnd = false,
     .log = Log(6, "scroll 0")},
    {.name = "TheSeventhNextSlidesTheWindow",
     .rows = 20,
     .window = 7,
     .setUp = [](TADOQuery &q) { Repeat(q, 6, &TADOQuery::MoveNext); },
     .action =
         [](TADOQuery &q) {
             q.MoveNext();
             return 1;
         },
     .expectedReturn = kAny,
     .held = Range(2, 8),
     .current = 8,
     .recordNumber = 8,
     .atStart = false,
     .atEnd = false,
     .log = {"scroll 1"}},
    {.name = "MoveRowsPastTheEnd",
     .rows = 20,
     .window = 7,
     .setUp = nullptr,
     .action = [](TADOQuery &q) { return q.MoveRows(100); },
     .expectedReturn = 19,
     .held = Range(14, 20),
     .current = 20,
     .recordNumber = 20,
     .atStart = false,
     .atEnd = true,
     .log = {"scroll 13"}},
    {.name = "MoveRowsBackPastTheStart",
     .rows = 20,
     .window = 7,
     .setUp = [](TADOQuery &q) { q.MoveLast(); },
     .action = [](TADOQuery &q) { return q.MoveRows(-100); },
     .expectedReturn = -19,
     .held = Range(1, 7),
     .current = 1,
     .recordNumber = 1,
     .atStart = true,
     .atEnd = false,
     .log = {"scroll -13"}},
    {.name = "NextAtTheEndSendsNothing",
     .rows = 20,
     .window = 7,
     .setUp = [](TADOQuery &q) { q.MoveLast(); },
     .action = [](TADOQuery &q) { return q.MoveRows(1); },
     .expectedReturn = 0,
     .held = Range(14, 20),
     .current = 20,
     .recordNumber = 20,
     .atStart = false,
     .atEnd = true,
     .log = {}},
    {.name = "PriorAfterFirstSendsNothing",
     .rows = 20,
     .window = 7,
     .setUp =
         [](TADOQuery &q) {
             q.MoveNext();
             q.MoveFirst();
         },
     .action = [](TADOQuery &q) { return q.MoveRows(-1); },
     .expectedReturn = 0,
     .held = Range(1, 7),
     .current = 1,
     .recordNumber = 1,
     .atStart = true,
     .atEnd = false,
     .log = {}},
    {.name = "ZeroRowsSendsNothing",
     .rows = 20,
     .window = 7,
     .setUp = nullptr,
     .action = [](TADOQuery &q) { return q.MoveRows(0); },
     .expectedReturn = 0,
     .held = Range(1, 7),
     .current = 1,
     .recordNumber = 1,
     .atStart = true,
     .atEnd = false,
     .log = {}},
    {.name = "MoveLastFillsBackwards",
     .rows = 20,
     .window = 7,
     .setUp = nullptr,
     .action =
         [](TADOQuery &q) {
             q.MoveLast();
             return 0;
         },
     .expectedReturn = kAny,
     .held = Range(14, 20),
     .current = 20,
     .recordNumber = 20,
     .atStart = false,
     .atEnd = true,
     .log = {"data"}},
    {.name = "MoveFirstRefills",
     .rows = 20,
     .window = 7,
     .setUp = [](TADOQuery &q) { q.MoveLast(); },
     .action =
         [](TADOQuery &q) {
             q.MoveFirst();
             return 0;
         },
     .expectedReturn = kAny,
     .held = Range(1, 7),
     .current = 1,
     .recordNumber = 1,
     .atStart = true,
     .atEnd = false,
     .log = {"data"}},
    {.name = "JumpIsCentred",
     .rows = 100,
     .window = 7,
     .setUp = nullptr,
     .action =
         [](TADOQuery &q) {
             q.SetRecordNumber(50);
             return 0;
         },
     .expectedReturn = kAny,
     .held = Range(47, 53),
     .current = 50,
     .recordNumber = 50,
     .atStart = false,
     .atEnd = false,
     .log = {"data"}},
    {.name = "JumpNearTheEndFillsBackwards",
     .rows = 100,
     .window = 7,
     .setUp = nullptr,
     .action =
         [](TADOQuery &q) {
             q.SetRecordNumber(99);
             return 0;
         },
     .expectedReturn = kAny,
     .held = Range(94, 100),
     .current = 99,
     .recordNumber = 99,
     .atStart = false,
     .atEnd = false,
     .log = {"data"}},
    {.name = "JumpToTheCurrentRowDoesNothing",
     .rows = 100,
     .window = 7,
     .setUp = [](TADOQuery &q) { q.SetRecordNumber(50); },
     .action =
         [](TADOQuery &q) {
             q.SetRecordNumber(50);
             return 0;
         },
     .expectedReturn = kAny,
     .held = Range(47, 53),
     .current = 50,
     .recordNumber = 50,
     .atStart = false,
     .atEnd = false,
     .log = {}},
    {.name = "AppendHoldsTheLastRowsAndTheNewOne",
     .rows = 20,
     .window = 7,
     .setUp = nullptr,
     .action =
         [](TADOQuery &q) {
             q.AppendRow();
             return 0;
         },
     .expectedReturn = kAny,
     .held =
         [] {
             auto r = Range(15, 20);
             r.push_back(0);
             return r;
         }(),
     .current = 0,
     .recordNumber = -1,
     .atStart = false,
     .atEnd = true,
     .log = {"editing", "data"}},
    {.name = "DroppingAnUnassignedNewRow",
     .rows = 20,
     .window = 7,
     .setUp = [](TADOQuery &q) { q.AppendRow(); },
     .action = [](TADOQuery &q) { return q.MoveRows(-1); },
     .expectedReturn = -1,
     .held = Range(14, 20),
     .current = 19,
     .recordNumber = 19,
     .atStart = false,
     .atEnd = false,
     .log = {"browsing", "data", "scroll 0"}},
    {.name = "PostKeepsTheNewRowAtTheEnd",
     .rows = 20,
     .window = 7,
     .setUp =
         [](TADOQuery &q) {
             q.AppendRow();
             q.FieldNamed("n").SetValue("0");
         },
     .action =
         [](TADOQuery &q) {
             q.PostRow();
             return 0;
         },
     .expectedReturn = kAny,
     .held =
         [] {
             auto r = Range(15, 20);
             r.push_back(0);
             return r;
         }(),
     .current = 0,
     .recordNumber = 21,
     .atStart = false,
     .atEnd = false,
     .log = {"browsing", "data"}},
    {.name = "DeleteMakesTheNextRowCurrent",
     .rows = 20,
     .window = 7,
     .setUp = [](TADOQuery &q) { q.MoveRows(3); },
     .action =
         [](TADOQuery &q) {
             q.DeleteRow();
             return 0;
         },
     .expectedReturn = kAny,
     .held = {1, 2, 3, 5, 6, 7, 8},
     .current = 5,
     .recordNumber = 4,
     .atStart = false,
     .atEnd = false,
     .log = {"data"}},
    {.name = "DeletingTheLastRow",
     .rows = 20,
     .window = 7,
     .setUp = [](TADOQuery &q) { q.MoveLast(); },
     .action =
         [](TADOQuery &q) {
             q.DeleteRow();
             return 0;
         },
     .expectedReturn = kAny,
     .held = Range(13, 19),
     .current = 19,
     .recordNumber = 19,
     .atStart = false,
     .atEnd = false,
     .log = {"data"}},
    {.name = "ShortSnapshot",
     .rows = 3,
     .window = 7,
     .setUp = nullptr,
     .action = [](TADOQuery &q) { return q.MoveRows(5); },
     .expectedReturn = 2,
     .held = Range(1, 3),
     .current = 3,
     .recordNumber = 3,
     .atStart = false,
     .atEnd = true,
     .log = {"scroll 0"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, RowWindowMoves, ::testing::ValuesIn(moveCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RowWindow, EmptySnapshot)
{
    Bench b(0, 7);
    b.q.MoveFirst();
    EXPECT_TRUE(b.q.AtStart());
    EXPECT_TRUE(b.q.AtEnd());
    EXPECT_EQ(b.q.HeldCount(), 0);
    EXPECT_TRUE(b.q.MarkRow().IsNone());
    EXPECT_EQ(b.q.RecordNumber(), -1);
    EXPECT_EQ(b.q.MoveRows(3), 0);
    EXPECT_EQ(b.link.RecordCount(), 0);
    EXPECT_EQ(b.link.log, (Log{"data"}));
}

TEST(RowWindow, NestedHoldsSendOnlyAtTheLastResume)
{
    Bench b(20, 7);
    b.q.SuspendLinks();
    b.q.SuspendLinks();
    b.q.MoveNext();
    b.q.SetRecordNumber(15);
    b.q.ResumeLinks();
    EXPECT_EQ(b.link.log, Log{});
    b.q.ResumeLinks();
    EXPECT_EQ(b.link.log, Log{"data"});
    b.q.ResumeLinks();  // not held: nothing
    EXPECT_EQ(b.link.log, Log{"data"});
}

TEST(RowWindow, LayoutChangeWhileHeldIsSentAtResume)
{
    Bench b(20, 7);
    b.q.SuspendLinks();
    b.q.FieldNamed("n").SetDisplayWidth(30);
    b.q.MoveNext();
    b.q.ResumeLinks();
    EXPECT_EQ(b.link.log, Log{"layout"});
}

TEST(RowWindow, ReopeningWhileHeldIsALayoutChange)
{
    Bench b(20, 7);
    b.q.SuspendLinks();
    b.q.Close();
    b.q.Open();
    b.q.ResumeLinks();
    EXPECT_EQ(b.link.log, Log{"layout"});
    b.q.SuspendLinks();
    b.q.Close();
    b.q.ResumeLinks();
    EXPECT_EQ(b.link.log, (Log{"layout", "inactive"}));
}

TEST(RowWindow, DisplayWidthChangeIsALayoutChange)
{
    Bench b(5, 3);
    TField& n = b.q.FieldNamed("n");
    n.SetDisplayWidth(n.DisplayWidth());
    EXPECT_EQ(b.link.log, Log{});
    n.SetDisplayWidth(25);
    EXPECT_EQ(n.DisplayWidth(), 25);
    EXPECT_EQ(b.link.log, Log{"layout"});
    b.q.Close();
    b.q.Open();
    EXPECT_EQ(b.q.FieldNamed("n").DisplayWidth(), 10);  // new fields, default width
}

TEST(RowWindow, StatesAndRecordChanges)
{
    Bench b(5, 3);
    b.link.logChecks = true;
    b.q.AppendRow();
    b.q.FieldNamed("name").SetValue("x");
    b.q.PostRow();
    b.q.Close();
    EXPECT_EQ(b.link.log, (Log{"check", "editing", "data", "record name", "check", "browsing", "data", "inactive"}));
    EXPECT_FALSE(b.link.Active());
    b.link.log.clear();
    b.q.Open();
    EXPECT_EQ(b.link.log, Log{"active"});
    EXPECT_TRUE(b.link.Active());
}

TEST(RowWindow, BookmarkToADeletedRow)
{
    Bench b(20, 7);
    b.q.SetRecordNumber(5);
    TBookmark mark = b.q.MarkRow();
    ASSERT_FALSE(mark.IsNone());
    b.q.SetRecordNumber(10);
    TBookmark ten = b.q.MarkRow();
    b.q.ReturnToMark(mark);
    EXPECT_EQ(b.Current(), 5);
    b.q.DeleteRow();
    b.q.ReturnToMark(ten);
    const std::vector<int> held = b.Held();
    b.link.log.clear();
    EXPECT_EQ(ErrorOf([&] { b.q.ReturnToMark(mark); }), "q: Record not found");
    EXPECT_EQ(b.Held(), held);
    EXPECT_EQ(b.Current(), 10);
    EXPECT_EQ(b.q.RecordNumber(), 9);
    EXPECT_EQ(b.link.log, Log{});
    b.q.DropMark(mark);
    EXPECT_TRUE(mark.IsNone());
    b.q.ReturnToMark(mark);  // none: nothing
    EXPECT_EQ(b.Current(), 10);
}

TEST(RowWindow, NoBookmarkForTheNewRow)
{
    Bench b(3, 3);
    b.q.AppendRow();
    EXPECT_TRUE(b.q.MarkRow().IsNone());
    b.q.SetActiveIndex(0);
    EXPECT_FALSE(b.q.MarkRow().IsNone());
    b.q.Close();
    EXPECT_TRUE(b.q.MarkRow().IsNone());
}

TEST(RowWindow, TwoLinksOfDifferentSizes)
{
    Bench b(20, 7);
    RecordingLink small;
    small.SetDataSource(&b.source);
    EXPECT_EQ(small.log, Log{"active"});
    small.SetBufferCount(3);
    small.log.clear();
    EXPECT_EQ(b.q.HeldCount(), 7);
    b.q.MoveRows(4);
    EXPECT_EQ(small.log, Log{"scroll 2"});
    EXPECT_EQ(b.link.log, Log{"scroll 0"});
    EXPECT_EQ(small.FirstOffset(), 2);
    EXPECT_EQ(small.ActiveRecord(), 2);
    b.q.MoveRows(10);  // to row 15: slides 8
    EXPECT_EQ(small.log.back(), "scroll 10");
    EXPECT_EQ(b.link.log.back(), "scroll 8");
    EXPECT_EQ(small.ActiveRecord(), 2);
    EXPECT_EQ(b.link.ActiveRecord(), 6);
    // A painting link reads the row it sets active, and the record number with it.
    b.link.SetActiveRecord(0);
    EXPECT_EQ(b.q.RecordNumber(), 9);
    EXPECT_EQ(b.Current(), 9);
    b.link.SetActiveRecord(6);
    small.SetDataSource(nullptr);
    EXPECT_EQ(small.log.back(), "inactive");
    EXPECT_EQ(b.q.HeldCount(), 7);
}

TEST(RowWindow, ShrinkingAndGrowingKeepTheActiveRowInView)
{
    struct Case {
        const char* label;
        int jumpTo;
        int newSize;
    } cases[] = {
        {"shrink about the middle", 10, 3}, {"shrink at the start", 1, 2}, {"shrink at the end", 20, 4},
        {"grow about the middle", 10, 11}, {"grow at the start", 1, 15}, {"grow at the end", 20, 25},
        {"shrink to one", 12, 1},
    };
    for (const Case& c : cases) {
        Bench b(20, 7);
        b.q.SetRecordNumber(c.jumpTo);
        b.link.SetBufferCount(c.newSize);
        EXPECT_EQ(b.q.RecordNumber(), c.jumpTo) << c.label;
        EXPECT_EQ(b.q.HeldCount(), std::min(c.newSize, 20)) << c.label;
        EXPECT_GE(b.link.ActiveRecord(), 0) << c.label;
        EXPECT_LT(b.link.ActiveRecord(), c.newSize) << c.label;
        // The held rows are consecutive.
        const std::vector<int> held = b.Held();
        for (std::size_t i = 1; i < held.size(); ++i)
            EXPECT_EQ(held[i], held[i - 1] + 1) << c.label;
        // Moving on from there still works.
        b.q.MoveNext();
        EXPECT_EQ(b.q.RecordNumber(), std::min(c.jumpTo + 1, 20)) << c.label;
    }
}

TEST(RowWindow, WithoutLinksOneRowIsHeld)
{
    LocalStoreFile store;
    store.MakeNumbered(10);
    TADOQuery q;
    store.OpenQuery(q, "SELECT n FROM t ORDER BY n");
    EXPECT_EQ(q.HeldCount(), 1);
    int visited = 0;
    for (q.MoveFirst(); !q.AtEnd(); q.MoveNext())
        ++visited;
    EXPECT_EQ(visited, 10);
    EXPECT_EQ(q.RecordNumber(), 10);
    EXPECT_EQ(q.RecordCount(), 10);
    EXPECT_TRUE(q.KnowsPositions());
}

TEST(RowWindow, LinkJoiningAnOpenSetGrowsTheWindow)
{
    LocalStoreFile store;
    store.MakeNumbered(10);
    TADOQuery q;
    store.OpenQuery(q, "SELECT n FROM t ORDER BY n");
    q.MoveRows(4);
    TDataSource source;
    source.SetDataSet(&q);
    RecordingLink link;
    link.SetBufferCount(4);
    link.SetDataSource(&source);
    EXPECT_EQ(link.log, Log{"active"});
    EXPECT_EQ(q.HeldCount(), 4);
    EXPECT_EQ(q.RecordNumber(), 5);
    EXPECT_GE(link.ActiveRecord(), 0);
    EXPECT_LT(link.ActiveRecord(), 4);
    source.SetDataSet(nullptr);
    EXPECT_EQ(link.log.back(), "inactive");
    EXPECT_EQ(q.HeldCount(), 1);
    EXPECT_EQ(q.RecordNumber(), 5);
}

TEST(RowWindow, ClosedSetRefusesMovesAndPositions)
{
    TADOQuery q("q");
    for (auto action : std::vector<std::function<void()>>{
             [&] { q.MovePrior(); }, [&] { q.MoveLast(); }, [&] { q.MoveRows(2); }, [&] { q.SetRecordNumber(2); },
             [&] { q.ReturnToMark(TBookmark{3}); }, [&] { q.RecordCount(); }}) {
        EXPECT_EQ(ErrorOf([&] { action(); }), "q: Cannot perform this operation on a closed dataset");
    }
    EXPECT_TRUE(q.MarkRow().IsNone());
    EXPECT_FALSE(q.KnowsPositions());
}

TEST(RowWindow, DestroyingTheSetFirstLeavesLinksInactive)
{
    auto store = std::make_unique<LocalStoreFile>();
    store->MakeNumbered(3);
    RecordingLink link;
    TDataSource source;
    {
        TADOQuery q;
        source.SetDataSet(&q);
        link.SetDataSource(&source);
        store->OpenQuery(q, "SELECT * FROM t");
    }
    EXPECT_EQ(link.log, (Log{"active", "inactive"}));
    EXPECT_EQ(source.DataSet(), nullptr);
    EXPECT_EQ(link.DataSet(), nullptr);
    EXPECT_FALSE(link.Active());
}

#ifndef NDEBUG
TEST(RowWindowDeathTest, ALinkMovingTheSetDuringANotificationAborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            Bench b(10, 3);
            b.link.onDataChange = [&] { b.q.MoveNext(); };
            b.q.MoveLast();
        },
        "while a link handled a notification");
}
#endif

} // namespace

namespace {

TEST(RowWindow, ALinkJoiningDuringAHoldIsActivatedAtResume)
{
    Bench b(20, 7);
    b.q.SuspendLinks();
    RecordingLink late;
    late.SetDataSource(&b.source);
    EXPECT_EQ(late.log, Log{});
    b.q.ResumeLinks();
    EXPECT_EQ(late.log, (Log{"active", "data"}));
    EXPECT_TRUE(late.Active());
    EXPECT_EQ(b.link.log, Log{"data"});
}

} // namespace
