// The browser window when the database goes away: the session ended by
// another session, or the server stopped, while a large table opens or
// between two clicks. Real clicks and keys; a server of the tests' own, so
// the shared one stays up for everyone else.
#include "LoginFixture.h"

#include "windows/TSaveDialog.h"
#include "windows/TestAccess.h"
#include "export/Export.h"
#include "grid/TDataGrid.h"
#include "windows/BrowserSql.h"

#include <QLabel>
#include "testsupport/PrivateServer.h"

using namespace querlin;
using namespace querlin::test;

namespace {

constexpr char kPassword[] = "Browse-Lost;{5}";

// BRAVEL's favourites: a small table first (Login shows it) and a view of
// 300,000 rows streamed 10,000 a fetch, whose row 150,000 sleeps until the
// test takes the connection away.
constexpr char kSite[] = R"(
CREATE SCHEMA bravel;
CREATE TABLE bravel.a_small (id integer, label varchar(20));
INSERT INTO bravel.a_small VALUES (1, 'one'), (2, 'two'), (3, 'three');
CREATE TABLE bravel.b_other (x integer);
INSERT INTO bravel.b_other VALUES (7), (8);
CREATE VIEW bravel.doomed AS
  SELECT x AS id, CAST('row ' || x AS varchar(20)) AS label,
         CASE WHEN x = 150000 THEN length(pg_sleep(60)::text) END AS nap
  FROM generate_series(1, 300000) AS x;
CREATE SCHEMA telmir;
CREATE TABLE telmir.kjbaseunitinfo (unitid integer);
)";

constexpr char kEndOtherSessions[] =
    "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE pid <> pg_backend_pid() "
    "AND backend_type = 'client backend'";

enum class Loss { Terminated, ServerStops, ServerDies };

const struct LossCase {
    const char* label;
    Loss loss;
} kLosses[] = {
    {"session terminated from another session", Loss::Terminated},
    {"server stops", Loss::ServerStops},
    {"server stops at once", Loss::ServerDies},
};

QPoint DataCell(grid::TDataGrid& grid, int dataRow)
{
    const QRect cell = grid.cellRect(grid.IndicatorOffset(), grid.TitleOffset() + dataRow - 1);
    return QPoint(cell.left() + 8, cell.center().y());
}

void Click(grid::TDataGrid& grid, int dataRow)
{
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, DataCell(grid, dataRow));
}

// A click on the first favourite that refreshes: a click on the cell that
// is current already only opens the cell editor.
void ClickFirstFavourite()
{
    test::Of(*Form1).qry3.MoveFirst();
    test::Of(*Form1).qry3.MoveRows(1);
    Click(*test::Of(*Form1).dbgrd3, 1);
    EXPECT_EQ(test::Of(*Form1).qry3.RecordNumber(), 1);
}

class LostConnection : public LoginEndToEnd {
protected:
    static void SetUpTestSuite() { server_ = std::make_unique<PrivateServer>(kPassword, "", SideAddress(3) + ":1521"); }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override
    {
        LoginEndToEnd::SetUp();
        if (HasFatalFailure())
            return;
        Up();
        // The test's database on the private server, under the name the
        // shared fixture gave it.
        server_->Psql("DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)", "postgres");
        server_->Psql("CREATE DATABASE " + database_ + " TEMPLATE template0 ENCODING 'UTF8'", "postgres");
        server_->Psql(ReadFile(SourceFile("scripts/testdb-fixture.sql")), database_);
        server_->Psql(kSite, database_);
        Favourites({"BRAVEL.A_SMALL", "BRAVEL.DOOMED"});
    }

    void TearDown() override
    {
        TSaveDialog::SetAnswerForTesting(nullptr);
        LoginEndToEnd::TearDown();
        Up();
        server_->Psql("DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)", "postgres");
    }

    static void Up()
    {
        try {
            server_->Psql("SELECT 1");
        } catch (const std::exception&) {
            server_->Resume();
        }
    }

    // A fresh program logged in on the private server, the first favourite
    // shown.
    void LoginOnThePrivateServer()
    {
        app::DestroyWindows();
        app::ResetTerminationForTesting();
        reports.clear();
        Dial(server_->Host());
        Login("system", kPassword);
        ASSERT_TRUE(Form1->isVisible());
        ASSERT_TRUE(reports.empty()) << reports[0].text.toStdString();
        ASSERT_EQ(Caption(), "数据表：BRAVEL.A_SMALL");
        ASSERT_TRUE(QTest::qWaitForWindowActive(Form1));
    }

    static void Lose(Loss loss, const std::string& terminateSql)
    {
        switch (loss) {
        case Loss::Terminated: server_->Psql(terminateSql); break;
        case Loss::ServerStops: server_->Halt(false); break;
        case Loss::ServerDies: server_->Halt(true); break;
        }
    }

    // The failed click left the rows closed, the caption and the grids as
    // they were, showed nothing and gave the pointer back.
    void ExpectFailedSilently(const std::string& caption)
    {
        EXPECT_FALSE(test::Of(*Form1).qry4.Active());
        EXPECT_LE(test::Of(*Form1).dbgrd4->VisibleColumns().size(), 1u) << "the data grid is empty";
        EXPECT_EQ(Caption(), caption);
        EXPECT_TRUE(reports.empty()) << reports[0].text.toStdString();
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_TRUE(Form1->isVisible());
    }

    // The grids still answer keys and paint, the database away or not.
    void ExpectGridsRespond()
    {
        for (grid::TDataGrid* grid : {test::Of(*Form1).dbgrd1, test::Of(*Form1).dbgrd2, test::Of(*Form1).dbgrd3, test::Of(*Form1).dbgrd4})
            EXPECT_FALSE(grid->viewport()->grab().isNull());
        test::Of(*Form1).dbgrd2->setFocus();
        const int table = test::Of(*Form1).qry2.RecordNumber();
        QTest::keyClick(test::Of(*Form1).dbgrd2, Qt::Key_End);
        EXPECT_EQ(test::Of(*Form1).qry2.RecordNumber(), 2) << "BRAVEL has two tables";
        QTest::keyClick(test::Of(*Form1).dbgrd2, Qt::Key_Home);
        EXPECT_EQ(test::Of(*Form1).qry2.RecordNumber(), 1);
        test::Of(*Form1).qry2.MoveFirst();
        test::Of(*Form1).qry2.MoveRows(table - 1);
        test::Of(*Form1).dbgrd3->setFocus();
        QTest::keyClick(test::Of(*Form1).dbgrd3, Qt::Key_Home, Qt::ControlModifier);
        EXPECT_EQ(test::Of(*Form1).qry3.RecordNumber(), 1) << "the favourites are local";
    }

    static inline std::unique_ptr<PrivateServer> server_;
};

} // namespace

// A click on the large favourite: the rows stop coming half-way. The click
// ends silently with the rows closed; after the server is back the next
// click shows a table.
TEST_F(LostConnection, DuringOpenOfALargeTable)
{
    for (const LossCase& c : kLosses) {
        SCOPED_TRACE(c.label);
        LoginOnThePrivateServer();
        HangWatchdog watchdog(std::string("a click opening a table whose connection goes: ") + c.label, 180);
        {
            Saboteur saboteur([](const std::string& sql) { return server_->Psql(sql); },
                              [&] { Lose(c.loss, kTerminateSleepers); });
            Click(*test::Of(*Form1).dbgrd3, 2);
            saboteur.Join();
            ASSERT_TRUE(saboteur.Struck()) << "the fetch never reached the sleeping row";
        }
        EXPECT_EQ(test::Of(*Form1).qry3.RecordNumber(), 2);
        ExpectFailedSilently("数据表：BRAVEL.A_SMALL");
        ExpectGridsRespond();
        if (c.loss != Loss::Terminated) {
            // Clicks while the server is away fail the same quiet way.
            ClickFirstFavourite();
            ExpectFailedSilently("数据表：BRAVEL.A_SMALL");
            Click(*test::Of(*Form1).dbgrd1, 2);
            EXPECT_FALSE(test::Of(*Form1).qry2.Active()) << "the tables cannot be listed";
            server_->Resume();
            Click(*test::Of(*Form1).dbgrd1, 1);
            ASSERT_EQ(Column(test::Of(*Form1).qry2, "用户表"), (std::vector<std::string>{"A_SMALL", "B_OTHER"}));
        }
        // The next click after the server is back works.
        Click(*test::Of(*Form1).dbgrd2, 2);
        EXPECT_EQ(Caption(), "数据表：BRAVEL.B_OTHER");
        EXPECT_EQ(Column(test::Of(*Form1).qry4, "x"), (std::vector<std::string>{"7", "8"}));
        ClickFirstFavourite();
        EXPECT_EQ(Caption(), "数据表：BRAVEL.A_SMALL");
        EXPECT_EQ(Column(test::Of(*Form1).qry4, "label"), (std::vector<std::string>{"one", "two", "three"}));
        EXPECT_TRUE(reports.empty());
    }
}

// Every record set of the window keeps a session open while it is; they
// all go between two clicks. The next click connects anew.
TEST_F(LostConnection, BetweenTwoClicks)
{
    for (const LossCase& c : kLosses) {
        SCOPED_TRACE(c.label);
        LoginOnThePrivateServer();
        HangWatchdog watchdog(std::string("clicks around a lost connection: ") + c.label, 180);
        Click(*test::Of(*Form1).dbgrd2, 2);
        ASSERT_EQ(Caption(), "数据表：BRAVEL.B_OTHER");

        Lose(c.loss, kEndOtherSessions);
        if (c.loss != Loss::Terminated) {
            Click(*test::Of(*Form1).dbgrd2, 1);
            EXPECT_EQ(test::Of(*Form1).qry2.RecordNumber(), 1);
            ExpectFailedSilently("数据表：BRAVEL.B_OTHER");
            ExpectGridsRespond();
            // A key that refreshes fails as quietly as a click.
            test::Of(*Form1).dbgrd2->setFocus();
            QTest::keyClick(test::Of(*Form1).dbgrd2, Qt::Key_Down);
            EXPECT_EQ(test::Of(*Form1).qry2.RecordNumber(), 2);
            ExpectFailedSilently("数据表：BRAVEL.B_OTHER");
            server_->Resume();
        }
        Click(*test::Of(*Form1).dbgrd2, 1);
        EXPECT_EQ(Caption(), "数据表：BRAVEL.A_SMALL");
        EXPECT_EQ(Column(test::Of(*Form1).qry4, "label"), (std::vector<std::string>{"one", "two", "three"}));
        Click(*test::Of(*Form1).dbgrd1, 2);
        EXPECT_EQ(Column(test::Of(*Form1).qry2, "用户表"), (std::vector<std::string>{"KJBASEUNITINFO"}));
        EXPECT_TRUE(reports.empty());
    }
}

// The export of a large table loses its connection half-way through its
// rows: the window reports the driver's text, the file of that name stays as
// it was, the grids keep answering, and once the server is back the next
// export writes the file.
TEST_F(LostConnection, DuringAnExport)
{
    for (const LossCase& c : kLosses) {
        SCOPED_TRACE(c.label);
        LoginOnThePrivateServer();
        HangWatchdog watchdog(std::string("an export whose connection goes: ") + c.label, 180);
        const std::string target = dir.File("lost.xls");
        WriteFile(target, "earlier export");
        TSaveDialog::SetAnswerForTesting([target](const std::string&) { return std::optional<std::string>(target); });
        // The large favourite as the viewed table.
        test::Of(*Form1).qry4.SetSQL(browser::RowsSql("BRAVEL.DOOMED"));
        test::Of(*Form1).grp1->setTitle(QString::fromUtf8(browser::DataCaptionFor("BRAVEL.DOOMED")));
        const QString label = test::Of(*Form1).lbl1->text();
        {
            Saboteur saboteur([](const std::string& sql) { return server_->Psql(sql); },
                              [&] { Lose(c.loss, kTerminateSleepers); });
            test::Of(*Form1).S1->trigger();
            ASSERT_TRUE(QTest::qWaitFor([] { return ExportIdle.load(); }, 150000));
            QTest::qWait(50);
            saboteur.Join();
            ASSERT_TRUE(saboteur.Struck()) << "the export's fetch never reached the sleeping row";
        }
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_FALSE(reports[0].text.isEmpty());
        EXPECT_FALSE(reports[0].text.contains(QString::fromUtf8(kPassword))) << reports[0].text.toStdString();
        EXPECT_EQ(ReadFile(target), "earlier export");
        for (const auto& entry : fs::directory_iterator(dir.Path()))
            EXPECT_TRUE(entry.path().filename() == "lost.xls" ||
                        entry.path().filename().string().find("lost.xls") == std::string::npos)
                << "left behind: " << entry.path();
        EXPECT_EQ(test::Of(*Form1).lbl1->text(), label) << "the rows never came";
        ExpectGridsRespond();
        reports.clear();

        if (c.loss != Loss::Terminated)
            server_->Resume();
        Click(*test::Of(*Form1).dbgrd2, 2);
        ASSERT_EQ(Caption(), "数据表：BRAVEL.B_OTHER");
        test::Of(*Form1).S1->trigger();
        ASSERT_TRUE(QTest::qWaitFor([] { return ExportIdle.load(); }, 150000));
        QTest::qWait(50);
        EXPECT_TRUE(reports.empty()) << reports[0].text.toStdString();
        EXPECT_EQ(test::Of(*Form1).lbl1->text().toStdString(), exports::kProgressDoneText);
        EXPECT_NE(ReadFile(target), "earlier export");
    }
}
