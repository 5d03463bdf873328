// The browser window over a table too large to fetch at once: its rows
// come from a worker while the window goes on, Esc stops them, another
// click starts its own query at once.
#include "LoginFixture.h"
#include "testsupport/SilentListener.h"

#include "grid/TDataGrid.h"
#include "grid/TGridFindDlg.h"
#include "platform/RowMemory.h"
#include "windows/BrowserSql.h"
#include "windows/TestAccess.h"
#include "windows/Shell.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QLabel>
#include <QScrollBar>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <set>

#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace querlin;
using namespace querlin::test;

namespace {

// "At once": far below any wait on the server (a stopped one never answers;
// the login time-out is 15 s), and loose enough for a busy machine. How
// fast it really is, the benchmarks measure.
constexpr qint64 kAtOnceMs = 2000;

// BRAVEL owns a large table and a small one.
constexpr char kSite[] = R"(
CREATE SCHEMA bravel;
CREATE TABLE bravel.big AS SELECT g AS id, 'row ' || g AS t FROM generate_series(1, 2000000) g;
CREATE TABLE bravel.small (x integer);
INSERT INTO bravel.small VALUES (7);
)";

class Streaming : public LoginEndToEnd {
protected:
    void SetUp() override
    {
        LoginEndToEnd::SetUp();
        app::InstallGuiPoster();
    }
    void TearDown() override
    {
        data::SetGuiPoster({});
        LoginEndToEnd::TearDown();
    }

    void LoginOnTheSite()
    {
        Psql(database_, kSite);
        Login("system", "manager");
        // The sign-on is made on a worker: the Login returns at once.
        ASSERT_TRUE(WaitFor([] { return Form1->isVisible(); }));
        ASSERT_TRUE(reports.empty());
        ASSERT_TRUE(Find(test::Of(*Form1).qry1, browser::kUserColumn, "BRAVEL"));
        // The tables' query is made on a worker too.
        test::Of(*Form1).dbgrd1CellClick(nullptr);
        ASSERT_TRUE(WaitFor([] { return test::Of(*Form1).qry2.Active(); }));
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }

    static bool Find(data::TADOQuery& q, const char* field, const char* value)
    {
        for (q.MoveFirst(); !q.AtEnd(); q.MoveNext())
            if (q.FieldNamed(field).PlainText() == value)
                return true;
        return false;
    }

    // A click on a table: the handler returns at once, the rows come from a
    // worker, the first of them while the busy pointer shows.
    void ShowTable(const char* table)
    {
        ClickTable(table);
        ASSERT_TRUE(WaitFor([] { return !test::Of(*Form1).qry4.Opening(); }));
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
    void ClickTable(const char* table)
    {
        ASSERT_TRUE(Find(test::Of(*Form1).qry2, browser::kTableColumn, table));
        test::Of(*Form1).dbgrd2CellClick(nullptr);
    }

    static bool WaitFor(const std::function<bool()>& done, int ms = 30000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > ms)
                return false;
            QTest::qWait(5);
        }
        return true;
    }

    // The server processes serving this test's database now.
    std::set<long> Sessions() const
    {
        const auto& db = test::RequireTestDatabase();
        const std::string command = "PGPASSWORD='" + db.password + "' psql -X -q -At -h " + db.host + " -p " +
                                    std::to_string(db.port) + " -U " + db.user +
                                    " -d querlin -c \"SELECT pid FROM pg_stat_activity WHERE datname = '" +
                                    database_ + "'\"";
        std::set<long> pids;
        if (FILE* out = ::popen(command.c_str(), "r")) {
            long pid = 0;
            while (std::fscanf(out, "%ld", &pid) == 1)
                pids.insert(pid);
            ::pclose(out);
        }
        return pids;
    }

    static std::string Status() { return test::Of(*Form1).lbl2->isVisible() ? test::Of(*Form1).lbl2->text().toStdString() : ""; }
};

} // namespace

TEST_F(Streaming, FirstRowsShowAtOnceTheRestArriveAndEscKeepsThemSaying)
{
    LoginOnTheSite();
    ShowTable("BIG");
    data::TADOQuery& q = test::Of(*Form1).qry4;
    ASSERT_TRUE(q.Active());
    EXPECT_EQ(Caption(), "数据表：BRAVEL.BIG");
    // The handler returned with the first block: the grid paints it while
    // the rest is fetched.
    EXPECT_EQ(q.FetchState(), data::TFetchState::fsFetching);
    const int first = q.RecordCount();
    EXPECT_GE(first, 1024);
    EXPECT_LT(first, 2000000);
    EXPECT_NE(Status().find("正在读取"), std::string::npos) << Status();
    EXPECT_EQ(test::Of(*Form1).dbgrd4->verticalScrollBar()->maximum() > 0, true);

    // Rows arrive while the user moves: the current row stays, the bar grows.
    test::Of(*Form1).dbgrd4->setFocus();
    QTest::keyClick(test::Of(*Form1).dbgrd4, Qt::Key_Down);
    QTest::keyClick(test::Of(*Form1).dbgrd4, Qt::Key_Down);
    const int barBefore = test::Of(*Form1).dbgrd4->verticalScrollBar()->maximum();
    ASSERT_TRUE(WaitFor([&] { return q.RecordCount() > first; }));
    EXPECT_EQ(q.RecordNumber(), 3);
    EXPECT_GE(test::Of(*Form1).dbgrd4->verticalScrollBar()->maximum(), barBefore);

    // Esc stops the fetch; the rows so far stay, and the window says so.
    QTest::keyClick(test::Of(*Form1).dbgrd4, Qt::Key_Escape);
    if (q.FetchState() != data::TFetchState::fsComplete) {
        EXPECT_EQ(q.FetchState(), data::TFetchState::fsStopped);
        EXPECT_NE(Status().find("仅显示部分数据"), std::string::npos) << Status();
        const int kept = q.RecordCount();
        QTest::qWait(300);
        EXPECT_EQ(q.RecordCount(), kept);
        EXPECT_EQ(q.RecordNumber(), 3);
        QTest::keyClick(test::Of(*Form1).dbgrd4, Qt::Key_End, Qt::ControlModifier);
        EXPECT_EQ(q.RecordNumber(), kept);
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(Streaming, AnotherClickMidStreamShowsItsOwnRowsOnly)
{
    LoginOnTheSite();
    ShowTable("BIG");
    ASSERT_EQ(test::Of(*Form1).qry4.FetchState(), data::TFetchState::fsFetching);
    ShowTable("SMALL");
    EXPECT_EQ(Caption(), "数据表：BRAVEL.SMALL");
    EXPECT_EQ(test::Of(*Form1).qry4.RecordCount(), 1);
    EXPECT_EQ(Status(), "");
    QTest::qWait(300);
    EXPECT_EQ(test::Of(*Form1).qry4.RecordCount(), 1);
    EXPECT_EQ(test::Of(*Form1).qry4.FieldNamed("X").PlainText(), "7");

    // The same table again, mid-stream: a query of its own starts at once.
    ShowTable("BIG");
    ShowTable("BIG");
    EXPECT_EQ(test::Of(*Form1).qry4.FetchState(), data::TFetchState::fsFetching);
    EXPECT_LT(test::Of(*Form1).qry4.RecordCount(), 2000000);
    ASSERT_TRUE(WaitFor([] { return test::Of(*Form1).qry4.FetchState() == data::TFetchState::fsComplete; }, 120000));
    EXPECT_EQ(test::Of(*Form1).qry4.RecordCount(), 2000000);
    EXPECT_EQ(Status(), "");
    EXPECT_TRUE(reports.empty());
}

// A find that reaches the rows not yet in waits for them, the window going
// on meanwhile, and finds a text far past the first block.
TEST_F(Streaming, FindWaitsForRowsStillComingAndMissesNoMatch)
{
    LoginOnTheSite();
    ShowTable("BIG");
    data::TADOQuery& q = test::Of(*Form1).qry4;
    ASSERT_EQ(q.FetchState(), data::TFetchState::fsFetching);
    QTest::keyClick(test::Of(*Form1).dbgrd4, Qt::Key_Down);
    // In the current column, the numbers: only one of them holds it.
    grid::TGridFindDlg::ShowFor(*test::Of(*Form1).dbgrd4, "1999999", {}, false);
    grid::TGridFindDlg& dialog = *grid::TGridFindDlg::Instance();
    dialog.cbFindDirection->setCurrentIndex(1);  // down from the current row
    ASSERT_EQ(dialog.Request(false).Direction, grid::TLocateDirection::Down);
    dialog.bFindClick();
    EXPECT_TRUE(dialog.WaitingForRows());
    EXPECT_EQ(q.RecordNumber(), 2);  // nothing moved while the rows come
    ASSERT_TRUE(WaitFor([&] { return !dialog.WaitingForRows(); }, 120000));
    EXPECT_EQ(q.FieldNamed("t").PlainText(), "row 1999999");
    EXPECT_EQ(q.RecordNumber(), 1999999);

    // A text that is nowhere: the wait ends with the rows, nothing moved.
    ShowTable("BIG");
    dialog.cbText->setEditText(QStringLiteral("nowhere"));
    dialog.bFindClick();
    EXPECT_TRUE(dialog.WaitingForRows());
    ASSERT_TRUE(WaitFor([&] { return !dialog.WaitingForRows(); }, 120000));
    EXPECT_EQ(q.FetchState(), data::TFetchState::fsComplete);
    EXPECT_EQ(q.RecordNumber(), 1);
    grid::TGridFindDlg::DestroyInstance();
    EXPECT_TRUE(reports.empty());
}

TEST_F(Streaming, EscWhileTheQueryIsMadeStopsItAndFreesThePointer)
{
    LoginOnTheSite();
    ShowTable("SMALL");
    ClickTable("BIG");
    EXPECT_TRUE(test::Of(*Form1).qry4.Opening());
    EXPECT_FALSE(test::Of(*Form1).qry4.Active());
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    test::Of(*Form1).dbgrd4->setFocus();
    QTest::keyClick(test::Of(*Form1).dbgrd4, Qt::Key_Escape);
    EXPECT_FALSE(test::Of(*Form1).qry4.Opening());
    EXPECT_FALSE(test::Of(*Form1).qry4.Active());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    QTest::qWait(300);
    EXPECT_FALSE(test::Of(*Form1).qry4.Active());  // the stopped open never comes back
    EXPECT_EQ(Caption(), "数据表：BRAVEL.SMALL");
    // The next click works as ever.
    ShowTable("SMALL");
    EXPECT_EQ(test::Of(*Form1).qry4.RecordCount(), 1);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Streaming, ClosingTheWindowMidStreamEndsAtOnce)
{
    LoginOnTheSite();
    ShowTable("BIG");
    ASSERT_EQ(test::Of(*Form1).qry4.FetchState(), data::TFetchState::fsFetching);
    QElapsedTimer timer;
    timer.start();
    test::Of(*Form1).qry4.Close();
    Form1->close();
    QTest::qWait(50);
    EXPECT_LT(timer.elapsed(), kAtOnceMs);
}

// The server's process behind the rows stops answering mid-result (its
// process stopped, not gone): Esc frees the window at once with the rows so
// far, and once the process goes on, the next click works.
TEST_F(Streaming, AStoppedServerProcessHoldsNeitherEscNorTheNextClick)
{
    LoginOnTheSite();
    const std::set<long> before = Sessions();
    ShowTable("BIG");
    data::TADOQuery& q = test::Of(*Form1).qry4;
    ASSERT_EQ(q.FetchState(), data::TFetchState::fsFetching);
    std::set<long> rows;
    for (long pid : Sessions())
        if (!before.count(pid))
            rows.insert(pid);
    ASSERT_EQ(rows.size(), 1u);
    const pid_t server = static_cast<pid_t>(*rows.begin());
    ASSERT_EQ(::kill(server, SIGSTOP), 0);
    QTest::qWait(500);
    const int kept = q.RecordCount();
    QTest::qWait(300);
    ASSERT_EQ(q.RecordCount(), kept);  // nothing comes any more
    EXPECT_EQ(q.FetchState(), data::TFetchState::fsFetching);

    test::Of(*Form1).dbgrd4->setFocus();
    QElapsedTimer timer;
    timer.start();
    QTest::keyClick(test::Of(*Form1).dbgrd4, Qt::Key_Escape);
    QTest::qWait(0);
    EXPECT_LT(timer.elapsed(), kAtOnceMs);
    EXPECT_EQ(q.FetchState(), data::TFetchState::fsStopped);
    EXPECT_EQ(q.RecordCount(), kept);
    EXPECT_NE(Status().find("仅显示部分数据"), std::string::npos) << Status();

    ::kill(server, SIGCONT);
    ShowTable("SMALL");
    EXPECT_EQ(Caption(), "数据表：BRAVEL.SMALL");
    EXPECT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(Status(), "");
    EXPECT_TRUE(reports.empty());
}

// The sign-on made on a worker: a refused password is reported once it is
// known, the login window staying with its fields; the right one then
// shows the browser window, whose first lists fill in behind it.
TEST_F(Streaming, ASignOnOnAWorkerReportsARefusalAndKeepsTheLoginWindow)
{
    Psql(database_, kSite);
    Login("system", "wrong-Pa55word");
    EXPECT_TRUE(Form1->SigningOn());
    ASSERT_TRUE(WaitFor([this] { return !reports.empty(); }));
    EXPECT_FALSE(Form1->SigningOn());
    const std::string report = reports[0].text.toStdString();
    EXPECT_NE(report.find("password authentication failed"), std::string::npos) << report;
    EXPECT_EQ(report.find("wrong-Pa55word"), std::string::npos);
    EXPECT_TRUE(frmmain->isVisible());
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_EQ(test::Of(*frmmain).uname->text(), "system");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    reports.clear();
    test::Of(*frmmain).upass->clear();
    QTest::keyClicks(test::Of(*frmmain).upass, "manager");
    QTest::mouseClick(test::Of(*frmmain).btn1, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([] { return Form1->isVisible(); }));
    EXPECT_FALSE(frmmain->isVisible());
    // The first user's tables, then the first favourite's rows.
    ASSERT_TRUE(WaitFor([] { return test::Of(*Form1).qry2.Active() && !test::Of(*Form1).qry4.Opening(); }));
    EXPECT_TRUE(Find(test::Of(*Form1).qry1, browser::kUserColumn, "BRAVEL"));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(reports.empty()) << (reports.empty() ? "" : reports[0].text.toStdString());
}

// A Login to an address that takes the connection and never answers: the
// window goes on, Esc ends the attempt, and the login window stays for
// another try.
TEST_F(Streaming, LoginToAHostThatNeverAnswersCanBeStopped)
{
    const std::string silentAddress = test::SideAddress(8);
    test::SilentListener silent(silentAddress);
    Dial(silentAddress);
    Login("system", "manager");
    EXPECT_TRUE(Form1->SigningOn());
    EXPECT_TRUE(frmmain->isVisible());
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    QTest::qWait(200);  // the window paints meanwhile
    test::Of(*frmmain).upass->setFocus();
    QElapsedTimer timer;
    timer.start();
    QTest::keyClick(test::Of(*frmmain).upass, Qt::Key_Escape);
    EXPECT_LT(timer.elapsed(), kAtOnceMs);
    EXPECT_FALSE(Form1->SigningOn());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    QTest::qWait(200);
    EXPECT_TRUE(frmmain->isVisible());
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_TRUE(reports.empty());
}

// Memory or the disk runs out while a table's rows come: the line above
// the grid says which, the rows so far stay, and the next click works.
TEST_F(Streaming, RowsCutShortByMemoryOrTheDiskSayWhy)
{
    ASSERT_EQ(geteuid(), 0u) << "mounting the small file system needs root";
    LoginOnTheSite();
    data::TADOQuery& q = test::Of(*Form1).qry4;
    auto cutShort = [&](const std::string& reason) {
        ShowTable("BIG");
        ASSERT_TRUE(WaitFor([&] { return q.FetchState() != data::TFetchState::fsFetching; }, 120000));
        EXPECT_EQ(q.FetchState(), data::TFetchState::fsFailed);
        const int kept = q.RecordCount();
        EXPECT_GT(kept, 1024);
        EXPECT_LT(kept, 2000000);
        EXPECT_EQ(Status(), reason + "，仅显示部分数据（" + std::to_string(kept) + " 行）");
        QTest::keyClick(test::Of(*Form1).dbgrd4, Qt::Key_End, Qt::ControlModifier);
        EXPECT_EQ(q.RecordNumber(), kept);
        // The last row is whole (the server's order need not be the ids').
        EXPECT_EQ(q.FieldNamed("T").PlainText(), "row " + q.FieldNamed("ID").PlainText());
    };
    auto nextClickWorks = [&] {
        ShowTable("SMALL");
        EXPECT_EQ(q.RecordCount(), 1);
        EXPECT_EQ(Status(), "");
    };

    platform::FailRowAllocationsBeyondForTesting(3 << 20);
    cutShort("内存不足");
    platform::FailRowAllocationsBeyondForTesting(0);
    nextClickWorks();

    // Past a budget of nothing, on a small file system of the test's own.
    TempDir dir;
    ASSERT_EQ(::mount("tmpfs", dir.Path().c_str(), "tmpfs", 0, "size=8m"), 0) << std::strerror(errno);
    ::setenv("XDG_CACHE_HOME", dir.Path().c_str(), 1);
    platform::SetRowMemoryBudgetForTesting(platform::RowMemoryInUse() + 1);
    cutShort("磁盘已满");
    nextClickWorks();
    platform::SetRowMemoryBudgetForTesting(0);
    ::unsetenv("XDG_CACHE_HOME");
    q.Close();
    ::umount2(dir.Path().c_str(), MNT_DETACH);
    EXPECT_TRUE(reports.empty());
}
