// The browser window over a table too large to fetch at once: its rows
// come from a worker while the window goes on, Esc stops them, another
// click starts its own query at once.
#include "LoginFixture.h"

#include "grid/TDataGrid.h"
#include "windows/BrowserSql.h"
#include "windows/Shell.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QScrollBar>
#include <QTest>

using namespace querlin;
using namespace querlin::test;

namespace {

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
        ASSERT_TRUE(Form1->isVisible());
        ASSERT_TRUE(reports.empty());
        ASSERT_TRUE(Find(Form1->qry1, browser::kUserColumn, "BRAVEL"));
        Form1->dbgrd1CellClick(nullptr);
    }

    static bool Find(data::TADOQuery& q, const char* field, const char* value)
    {
        for (q.MoveFirst(); !q.AtEnd(); q.MoveNext())
            if (q.FieldNamed(field).PlainText() == value)
                return true;
        return false;
    }

    void ShowTable(const char* table)
    {
        ASSERT_TRUE(Find(Form1->qry2, browser::kTableColumn, table));
        Form1->dbgrd2CellClick(nullptr);
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

    static std::string Status() { return Form1->lbl2->isVisible() ? Form1->lbl2->text().toStdString() : ""; }
};

} // namespace

TEST_F(Streaming, FirstRowsShowAtOnceTheRestArriveAndEscKeepsThemSaying)
{
    LoginOnTheSite();
    ShowTable("BIG");
    data::TADOQuery& q = Form1->qry4;
    ASSERT_TRUE(q.Active());
    EXPECT_EQ(Caption(), "数据表：BRAVEL.BIG");
    // The handler returned with the first block: the grid paints it while
    // the rest is fetched.
    EXPECT_EQ(q.FetchState(), data::TFetchState::fsFetching);
    EXPECT_EQ(q.RecordCount(), 1024);
    EXPECT_NE(Status().find("正在读取"), std::string::npos) << Status();
    EXPECT_EQ(Form1->dbgrd4->verticalScrollBar()->maximum() > 0, true);

    // Rows arrive while the user moves: the current row stays, the bar grows.
    Form1->dbgrd4->setFocus();
    QTest::keyClick(Form1->dbgrd4, Qt::Key_Down);
    QTest::keyClick(Form1->dbgrd4, Qt::Key_Down);
    const int barBefore = Form1->dbgrd4->verticalScrollBar()->maximum();
    ASSERT_TRUE(WaitFor([&] { return q.RecordCount() > 1024; }));
    EXPECT_EQ(q.RecordNumber(), 3);
    EXPECT_GE(Form1->dbgrd4->verticalScrollBar()->maximum(), barBefore);

    // Esc stops the fetch; the rows so far stay, and the window says so.
    QTest::keyClick(Form1->dbgrd4, Qt::Key_Escape);
    if (q.FetchState() != data::TFetchState::fsComplete) {
        EXPECT_EQ(q.FetchState(), data::TFetchState::fsStopped);
        EXPECT_NE(Status().find("仅显示部分数据"), std::string::npos) << Status();
        const int kept = q.RecordCount();
        QTest::qWait(300);
        EXPECT_EQ(q.RecordCount(), kept);
        EXPECT_EQ(q.RecordNumber(), 3);
        QTest::keyClick(Form1->dbgrd4, Qt::Key_End, Qt::ControlModifier);
        EXPECT_EQ(q.RecordNumber(), kept);
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(Streaming, AnotherClickMidStreamShowsItsOwnRowsOnly)
{
    LoginOnTheSite();
    ShowTable("BIG");
    ASSERT_EQ(Form1->qry4.FetchState(), data::TFetchState::fsFetching);
    ShowTable("SMALL");
    EXPECT_EQ(Caption(), "数据表：BRAVEL.SMALL");
    EXPECT_EQ(Form1->qry4.RecordCount(), 1);
    EXPECT_EQ(Status(), "");
    QTest::qWait(300);
    EXPECT_EQ(Form1->qry4.RecordCount(), 1);
    EXPECT_EQ(Form1->qry4.FieldNamed("X").PlainText(), "7");

    // The same table again, mid-stream: a query of its own starts at once.
    ShowTable("BIG");
    ShowTable("BIG");
    EXPECT_EQ(Form1->qry4.RecordCount(), 1024);
    ASSERT_TRUE(WaitFor([] { return Form1->qry4.FetchState() == data::TFetchState::fsComplete; }, 120000));
    EXPECT_EQ(Form1->qry4.RecordCount(), 2000000);
    EXPECT_EQ(Status(), "");
    EXPECT_TRUE(reports.empty());
}

TEST_F(Streaming, ClosingTheWindowMidStreamEndsAtOnce)
{
    LoginOnTheSite();
    ShowTable("BIG");
    ASSERT_EQ(Form1->qry4.FetchState(), data::TFetchState::fsFetching);
    QElapsedTimer timer;
    timer.start();
    Form1->qry4.Close();
    Form1->close();
    QTest::qWait(50);
    EXPECT_LT(timer.elapsed(), 1000);
}
