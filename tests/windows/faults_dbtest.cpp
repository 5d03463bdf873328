// Each fault on its own, against the browser window logged in through a
// proxy on a server of the test's own: the server's process killed, the
// server frozen and resumed, the connection cut or stalled, the server
// restarted, while a table's rows stream; the favourites file locked or
// read-only under an add; the disk full or the folder gone under a save.
// The window stays, tells the user in its own words, leaves nothing
// half-written, and the next action works.
#include "FaultSite.h"

using namespace querlin;
using namespace querlin::test;

namespace {

// CTest runs the tests side by side: each takes a proxy address of its own
// (the soak has lane 12).
int LaneOfThisTest()
{
    static constexpr const char* kTests[] = {"WhileRowsStreamTheWindowStaysTellsAndTheNextClickWorks",
                                             "FilesThatCannotBeWrittenAreReportedAndLeftWhole",
                                             "AClickWhileTheConnectionStallsIsNotHeldByIt"};
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (int i = 0; i < 3; ++i)
        if (name == kTests[i])
            return i == 0 ? 11 : 12 + i;
    return 20;
}

class Faults : public FaultSite {
protected:
    Faults() : FaultSite(LaneOfThisTest(), 300000) {}
};

// The state the streaming rows are left in by the fault, with what the
// user does while it holds.
const struct StreamCase {
    Fault fault;
    bool escWhileItHolds;  // the user stops the rows that no longer come
    data::TFetchState after;
} kStreamCases[] = {
    {Fault::ServerKilled, false, data::TFetchState::fsFailed},
    {Fault::ServerFrozen, true, data::TFetchState::fsStopped},
    {Fault::ConnectionCut, false, data::TFetchState::fsFailed},
    {Fault::ConnectionStalled, true, data::TFetchState::fsStopped},
    {Fault::ServerRestarted, false, data::TFetchState::fsFailed},
};

} // namespace

TEST_F(Faults, WhileRowsStreamTheWindowStaysTellsAndTheNextClickWorks)
{
    for (const StreamCase& c : kStreamCases) {
        SCOPED_TRACE(FaultName(c.fault));
        HangWatchdog watchdog(std::string("the window under ") + FaultName(c.fault), 300);
        ASSERT_TRUE(LogIn());
        ASSERT_TRUE(ClickFavourite("SOAK.VSLOW"));
        auto w = Of(*Form1);
        ASSERT_TRUE(WaitFor([&] { return w.qry4.Active() && !w.qry4.Opening(); }));
        ASSERT_EQ(w.qry4.FetchState(), data::TFetchState::fsFetching) << "the fault must fall mid-stream";
        int stoppedAt = -1;
        const auto escape = [&] {
            if (!c.escWhileItHolds)
                return;
            w.dbgrd4->setFocus();
            QTest::keyClick(w.dbgrd4, Qt::Key_Escape);
            // Esc frees the window while the fault still holds.
            EXPECT_EQ(w.qry4.FetchState(), data::TFetchState::fsStopped);
            stoppedAt = w.qry4.RecordCount();
        };
        ASSERT_TRUE(InjectAndRecover(c.fault, 800, [&] {
            escape();
            ASSERT_TRUE(WaitForRows());
            ASSERT_TRUE(w.qry4.Active()) << "the rows so far stay";
            EXPECT_EQ(w.qry4.FetchState(), c.after);
            EXPECT_GE(w.qry4.RecordCount(), 1024);
            EXPECT_LT(w.qry4.RecordCount(), 200000);
            if (stoppedAt >= 0) {
                EXPECT_EQ(w.qry4.RecordCount(), stoppedAt);
            }
            EXPECT_TRUE(StatusTellsTheRows());
            EXPECT_NE(Status().find("仅显示部分数据"), std::string::npos) << Status();
        }));
        EXPECT_EQ(Status(), "");
    }
}

// The favourites file held by another program, or made read-only, under
// an add; the disk full, or the target folder gone, under a save. Each
// reported once, the file as it was, and the same action works once the
// fault is gone.
TEST_F(Faults, FilesThatCannotBeWrittenAreReportedAndLeftWhole)
{
    ASSERT_TRUE(LogIn());
    unsigned round = 0;
    for (Fault fault : {Fault::FavouritesLocked, Fault::FavouritesReadOnly, Fault::DiskFull, Fault::FolderRemoved}) {
        SCOPED_TRACE(FaultName(fault));
        HangWatchdog watchdog(std::string("the window under ") + FaultName(fault), 300);
        // Each export format once over the two save faults.
        EXPECT_TRUE(InjectAndRecover(fault, 100 + round++));
    }
}

// The stall outlasts the user's patience: a click on another table while
// the proxy passes nothing starts its own query at once, and when the
// link is cut at the end both the abandoned stream and the new one end.
TEST_F(Faults, AClickWhileTheConnectionStallsIsNotHeldByIt)
{
    ASSERT_TRUE(LogIn());
    HangWatchdog watchdog("a click during a stall", 300);
    ASSERT_TRUE(ClickFavourite("SOAK.VSLOW"));
    auto w = Of(*Form1);
    ASSERT_TRUE(WaitFor([&] { return w.qry4.Active() && !w.qry4.Opening(); }));
    const long threads = Threads();
    proxy_->Stall(true);
    ASSERT_TRUE(ClickTable("T300"));
    EXPECT_EQ(Caption(), "数据表：SOAK.VSLOW") << "the caption changes once the rows are in";
    EXPECT_TRUE(Answers());
    proxy_->Cut();
    proxy_->Stall(false);
    ASSERT_TRUE(WaitForRows());
    EXPECT_FALSE(w.qry4.Active()) << "the click whose connection was cut ends silently";
    EXPECT_EQ(Caption(), "数据表：SOAK.VSLOW");
    EXPECT_TRUE(reports.empty());
    // Both workers end: neither is left waiting on a dead link.
    EXPECT_TRUE(WaitFor([&] { return Threads() <= threads - 1; }));
    EXPECT_TRUE(NextClickWorks());
}
