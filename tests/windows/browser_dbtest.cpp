// The browser window after a real Login against the PostgreSQL test server:
// its four grids, the drill-down from user to table to rows, the red and
// blue rows and the favourites menus.
#include "windows/TestAccess.h"
#include "LoginFixture.h"

#include "grid/TDataGrid.h"

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QMenu>

using namespace querlin;
using namespace querlin::test;

namespace {

// Three users: BRAVEL with two tables, TELMIR with one, ZZEMPTY with none;
// a table nobody but its owner may read and one whose name needs quotes.
constexpr char kSite[] = R"(
CREATE SCHEMA bravel;
CREATE TABLE bravel.t_rudatasourcetype (typeid integer, typename varchar(40));
INSERT INTO bravel.t_rudatasourcetype VALUES (1, 'Oracle 数据库'), (2, '电子表格'), (3, 'x');
CREATE TABLE bravel.t_other (x integer);
INSERT INTO bravel.t_other VALUES (7);
CREATE SCHEMA telmir;
CREATE TABLE telmir.kjbaseunitinfo (unitid integer, unitname varchar(20));
INSERT INTO telmir.kjbaseunitinfo VALUES (1, '总公司'), (2, '分公司');
CREATE TABLE telmir."Mixed Case" (y integer);
CREATE TABLE telmir.secret (s integer);
CREATE SCHEMA zzempty;
)";

class Browser : public LoginEndToEnd {
protected:
    void LoginOnTheSite()
    {
        Psql(database_, kSite);
        Login("system", "manager");
        ASSERT_TRUE(Form1->isVisible());
        ASSERT_TRUE(reports.empty());
    }

    // Makes the row'th record (1-based) of a record set current.
    static void Select(data::TADOQuery& q, int row)
    {
        q.MoveFirst();
        q.MoveRows(row - 1);
    }

    static std::vector<std::string> Titles(grid::TDataGrid& grid)
    {
        std::vector<std::string> titles;
        for (auto* column : grid.VisibleColumns())
            titles.push_back(column->Title().Caption());
        return titles;
    }

    static QImage Shot(grid::TDataGrid& grid)
    {
        return grid.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    // The pixels of a data row's first data cell.
    static QRect FirstCell(grid::TDataGrid& grid, int dataRow)
    {
        return grid.cellRect(grid.IndicatorOffset(), grid.TitleOffset() + dataRow - 1);
    }
};

} // namespace

TEST(BrowserWindowLayout, WindowGroupBoxesGridsAndMenusAsDeclared)
{
    TForm1 window;
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Querlin"));
    EXPECT_EQ(window.size(), QSize(777, 549));
    struct Box {
        QGroupBox* box;
        const char* caption;
        QRect place;
        grid::TDataGrid* grid;
        QRect gridPlace;
        bool alwaysShowSelection;
    };
    const Box boxes[] = {
        {test::Of(window).grp2, "用户列表", {0, 0, 209, 169}, test::Of(window).dbgrd1, {4, 16, 201, 145}, true},
        {test::Of(window).grp3, "用户数据表", {207, 0, 250, 169}, test::Of(window).dbgrd2, {3, 16, 243, 145}, true},
        {test::Of(window).grp4, "常用数据表", {455, 0, 322, 169}, test::Of(window).dbgrd3, {3, 16, 314, 145}, true},
        {test::Of(window).grp1, "数据表", {0, 172, 777, 377}, test::Of(window).dbgrd4, {8, 16, 761, 353}, false},
    };
    for (const Box& b : boxes) {
        SCOPED_TRACE(b.caption);
        EXPECT_EQ(b.box->title(), QString::fromUtf8(b.caption));
        EXPECT_EQ(b.box->geometry(), b.place);
        EXPECT_EQ(b.grid->parentWidget(), b.box);
        EXPECT_EQ(b.grid->geometry(), b.gridPlace);
        EXPECT_TRUE(b.grid->ReadOnly());
        EXPECT_EQ(b.grid->Options().Contains(grid::dgAlwaysShowSelection), b.alwaysShowSelection);
        EXPECT_TRUE(b.grid->Options().Contains(grid::dgTabs));
        EXPECT_TRUE(b.grid->Options().Contains(grid::dgIndicator));
    }
    EXPECT_EQ(test::Of(window).dbgrd1->DataSource(), &test::Of(window).ds1);
    EXPECT_EQ(test::Of(window).dbgrd4->DataSource(), &test::Of(window).ds4);
    EXPECT_EQ(test::Of(window).ds3.DataSet(), &test::Of(window).qry3);

    EXPECT_EQ(test::Of(window).lbl1->parentWidget(), test::Of(window).grp1);
    EXPECT_EQ(test::Of(window).lbl1->pos(), QPoint(416, 0));
    EXPECT_TRUE(test::Of(window).lbl1->text().isEmpty());

    EXPECT_EQ(test::Of(window).N2->text(), QString::fromUtf8("添加此表到常用记录"));
    EXPECT_EQ(test::Of(window).N3->text(), QString::fromUtf8("取消此常用表记录"));
    EXPECT_EQ(test::Of(window).S1->text(), QString::fromUtf8("保存数据到(&S)"));
    EXPECT_EQ(test::Of(window).pm2->parentWidget(), test::Of(window).grp3);
    EXPECT_EQ(test::Of(window).pm3->parentWidget(), test::Of(window).grp4);
    EXPECT_EQ(test::Of(window).pm4->parentWidget(), test::Of(window).grp1);
    EXPECT_EQ(test::Of(window).grp2->contextMenuPolicy(), Qt::DefaultContextMenu) << "the user list has no menu";
    EXPECT_EQ(test::Of(window).grp2->findChildren<QMenu*>().size(), 0);
    EXPECT_EQ(test::Of(window).grp3->contextMenuPolicy(), Qt::CustomContextMenu);
}

TEST_F(Browser, LoginFillsTheFourGrids)
{
    LoginOnTheSite();
    EXPECT_EQ(Titles(*test::Of(*Form1).dbgrd1), (std::vector<std::string>{"用户"}));
    EXPECT_EQ(Titles(*test::Of(*Form1).dbgrd2), (std::vector<std::string>{"用户表"}));
    EXPECT_EQ(Titles(*test::Of(*Form1).dbgrd3), (std::vector<std::string>{"常用数据表", "ID"}));
    EXPECT_EQ(Titles(*test::Of(*Form1).dbgrd4), (std::vector<std::string>{"typeid", "typename"}));
    EXPECT_EQ(Column(test::Of(*Form1).qry1, "用户"), (std::vector<std::string>{"BRAVEL", "TELMIR", "ZZEMPTY"}));
    EXPECT_EQ(Column(test::Of(*Form1).qry2, "用户表"), (std::vector<std::string>{"T_OTHER", "T_RUDATASOURCETYPE"}));
    EXPECT_EQ(Caption(), "数据表：BRAVEL.T_RUDATASOURCETYPE");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy pointer is gone";
}

TEST_F(Browser, UserClickListsItsTablesAndLeavesTheRowsAlone)
{
    LoginOnTheSite();
    Select(test::Of(*Form1).qry1, 2);
    test::Of(*Form1).dbgrd1CellClick(nullptr);
    EXPECT_EQ(Column(test::Of(*Form1).qry2, "用户表"), (std::vector<std::string>{"KJBASEUNITINFO", "MIXED CASE", "SECRET"}));
    EXPECT_EQ(test::Of(*Form1).qry2.RecordNumber(), 1);
    EXPECT_EQ(Caption(), "数据表：BRAVEL.T_RUDATASOURCETYPE");
    EXPECT_EQ(test::Of(*Form1).qry4.RecordCount(), 3);
}

TEST_F(Browser, TableClickShowsItsRowsAndNamesIt)
{
    LoginOnTheSite();
    Select(test::Of(*Form1).qry1, 2);
    test::Of(*Form1).dbgrd1CellClick(nullptr);
    test::Of(*Form1).dbgrd2CellClick(nullptr);
    EXPECT_EQ(Caption(), "数据表：TELMIR.KJBASEUNITINFO");
    ASSERT_TRUE(test::Of(*Form1).qry4.Active());
    EXPECT_EQ(Column(test::Of(*Form1).qry4, "unitname"), (std::vector<std::string>{"总公司", "分公司"}));
    EXPECT_EQ(Titles(*test::Of(*Form1).dbgrd4), (std::vector<std::string>{"unitid", "unitname"}));
}

TEST_F(Browser, TableThatCannotBeOpenedEmptiesTheRowsAndKeepsTheCaption)
{
    LoginOnTheSite();
    AddRole("browse_reader", "pw");
    Psql(database_, "GRANT USAGE ON SCHEMA bravel, telmir, zzempty TO browse_reader; "
                    "GRANT SELECT ON ALL TABLES IN SCHEMA bravel TO browse_reader; "
                    "GRANT SELECT ON telmir.kjbaseunitinfo, telmir.\"Mixed Case\" TO browse_reader; "
                    // Listed in the dictionary, but not to be read.
                    "GRANT INSERT ON telmir.secret TO browse_reader; "
                    "GRANT USAGE ON SCHEMA sys TO browse_reader; "
                    "GRANT SELECT ON all_users, sys.all_tables TO browse_reader; "
                    "ALTER ROLE browse_reader NOSUPERUSER");
    app::DestroyWindows();
    app::ResetTerminationForTesting();
    Login("browse_reader", "pw");
    ASSERT_TRUE(test::Of(*Form1).qry1.Active());
    Select(test::Of(*Form1).qry1, 2);
    test::Of(*Form1).dbgrd1CellClick(nullptr);
    struct Case {
        const char* label;
        int tableRow;
    };
    for (const Case& c : {Case{"name that needs quotes", 2}, Case{"no rights", 3}}) {
        SCOPED_TRACE(c.label);
        // A table that opens first, so the caption has something to keep.
        Select(test::Of(*Form1).qry2, 1);
        test::Of(*Form1).dbgrd2CellClick(nullptr);
        ASSERT_EQ(Caption(), "数据表：TELMIR.KJBASEUNITINFO");
        ASSERT_TRUE(test::Of(*Form1).qry4.Active());
        Select(test::Of(*Form1).qry2, c.tableRow);
        test::Of(*Form1).dbgrd2CellClick(nullptr);
        EXPECT_FALSE(test::Of(*Form1).qry4.Active());
        EXPECT_TRUE(test::Of(*Form1).dbgrd4->VisibleColumns().size() <= 1u) << "the data grid is empty";
        EXPECT_EQ(Caption(), "数据表：TELMIR.KJBASEUNITINFO");
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
}

TEST_F(Browser, UserWithoutTablesAndAClickOnItsEmptyList)
{
    LoginOnTheSite();
    Select(test::Of(*Form1).qry1, 3);
    test::Of(*Form1).dbgrd1CellClick(nullptr);
    ASSERT_TRUE(test::Of(*Form1).qry2.Active());
    EXPECT_EQ(test::Of(*Form1).qry2.RecordCount(), 0);
    test::Of(*Form1).dbgrd2CellClick(nullptr);
    EXPECT_FALSE(test::Of(*Form1).qry4.Active());
    EXPECT_EQ(Caption(), "数据表：BRAVEL.T_RUDATASOURCETYPE");
    EXPECT_TRUE(reports.empty());
}

TEST_F(Browser, FavouriteClickShowsItsRows)
{
    Psql(database_, kSite);
    Favourites({"BRAVEL.T_OTHER", "TELMIR.KJBASEUNITINFO"});
    Login("system", "manager");
    EXPECT_EQ(Caption(), "数据表：BRAVEL.T_OTHER");
    Select(test::Of(*Form1).qry3, 2);
    test::Of(*Form1).dbgrd3CellClick(nullptr);
    EXPECT_EQ(Caption(), "数据表：TELMIR.KJBASEUNITINFO");
    EXPECT_EQ(test::Of(*Form1).qry4.RecordCount(), 2);
}

TEST_F(Browser, OnlyTheMovingKeysRefreshOnTheirRelease)
{
    LoginOnTheSite();
    struct Case {
        std::uint16_t key;
        bool refreshes;
    };
    const Case cases[] = {{9, true}, {33, true}, {34, true}, {38, true}, {40, true},
                          {35, false}, {36, false}, {37, false}, {39, false}, {13, false}, {65, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        Select(test::Of(*Form1).qry1, 1);
        test::Of(*Form1).dbgrd1CellClick(nullptr);
        Select(test::Of(*Form1).qry1, 2);
        std::uint16_t key = c.key;
        test::Of(*Form1).dbgrd1KeyUp(key, {});
        EXPECT_EQ(test::Of(*Form1).qry2.FieldNamed("用户表").PlainText(), c.refreshes ? "KJBASEUNITINFO" : "T_OTHER");
    }
    // The table list refreshes the rows the same way.
    Select(test::Of(*Form1).qry1, 1);
    test::Of(*Form1).dbgrd1CellClick(nullptr);
    Select(test::Of(*Form1).qry2, 2);
    std::uint16_t down = 40;
    test::Of(*Form1).dbgrd2KeyUp(down, {});
    EXPECT_EQ(Caption(), "数据表：BRAVEL.T_RUDATASOURCETYPE");
    Select(test::Of(*Form1).qry2, 1);
    std::uint16_t tab = 9;
    test::Of(*Form1).dbgrd2KeyUp(tab, {});
    EXPECT_EQ(Caption(), "数据表：BRAVEL.T_OTHER");
}

TEST_F(Browser, EveryGridPaintsOddRowsRedAndEvenRowsBlueFocusedOrNot)
{
    LoginOnTheSite();
    Select(test::Of(*Form1).qry1, 2);  // a selected, highlighted row among the others
    for (bool focused : {false, true}) {
        for (grid::TDataGrid* grid : {test::Of(*Form1).dbgrd1, test::Of(*Form1).dbgrd2, test::Of(*Form1).dbgrd3, test::Of(*Form1).dbgrd4}) {
            SCOPED_TRACE(grid->objectName().toStdString() + (focused ? " focused" : " unfocused"));
            if (focused) {
                grid->setFocus();
                QApplication::processEvents();
            }
            const QImage shot = Shot(*grid);
            const int rows = static_cast<int>(grid->DataLink().DataSet()->RecordCount());
            ASSERT_GE(rows, 2);
            for (int row = 1; row <= rows; ++row) {
                const bool odd = row % 2 != 0;
                EXPECT_GT(CountPixels(shot, FirstCell(*grid, row), odd ? IsRed : IsBlue), 3) << "row " << row;
                EXPECT_EQ(CountPixels(shot, FirstCell(*grid, row), odd ? IsBlue : IsRed), 0) << "row " << row;
            }
        }
    }
}

TEST_F(Browser, WhileAFavouriteIsAppendedEveryFavouriteRowIsRed)
{
    LoginOnTheSite();
    test::Of(*Form1).qry3.AppendRow();
    QApplication::processEvents();
    const QImage shot = Shot(*test::Of(*Form1).dbgrd3);
    for (int row = 1; row <= 4; ++row) {
        EXPECT_GT(CountPixels(shot, FirstCell(*test::Of(*Form1).dbgrd3, row), IsRed), 3) << "row " << row;
        EXPECT_EQ(CountPixels(shot, FirstCell(*test::Of(*Form1).dbgrd3, row), IsBlue), 0) << "row " << row;
    }
    test::Of(*Form1).qry3.DeleteRow();  // drops the pending row
}

TEST_F(Browser, AddingTwiceStoresTwoRowsAndRemovingTheShownFavouriteKeepsItsRows)
{
    LoginOnTheSite();
    Select(test::Of(*Form1).qry2, 1);
    test::Of(*Form1).N2->trigger();
    test::Of(*Form1).N2->trigger();
    EXPECT_TRUE(reports.empty());
    std::vector<std::string> expected = kSeedsInNameOrder;
    expected.push_back("BRAVEL.T_OTHER");
    expected.push_back("BRAVEL.T_OTHER");
    EXPECT_EQ(Column(test::Of(*Form1).qry3, "常用数据表"), expected);

    // The favourite whose rows are shown goes; its rows and caption stay.
    Select(test::Of(*Form1).qry3, 1);
    ASSERT_EQ(Caption(), "数据表：BRAVEL.T_RUDATASOURCETYPE");
    test::Of(*Form1).N3->trigger();
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(Column(test::Of(*Form1).qry3, "常用数据表").size(), 5u);
    EXPECT_EQ(Caption(), "数据表：BRAVEL.T_RUDATASOURCETYPE");
    EXPECT_EQ(test::Of(*Form1).qry4.RecordCount(), 3);
}

TEST_F(Browser, RemovingWithNoFavouritesReportsTheRecordSetsMessage)
{
    Psql(database_, kSite);
    Favourites({});
    Login("system", "manager");
    ASSERT_TRUE(test::Of(*Form1).qry3.Active());
    test::Of(*Form1).N3->trigger();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].text, QStringLiteral("qry3: Cannot perform this operation on an empty dataset."));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// Real keys through the grids: the grid moves its record set on the press,
// the window refreshes on the release.
TEST_F(Browser, DownInTheUserListListsTheNextUsersTablesHomeAndEndDoNot)
{
    LoginOnTheSite();
    test::Of(*Form1).dbgrd1->setFocus();
    QTest::keyClick(test::Of(*Form1).dbgrd1, Qt::Key_Down);
    EXPECT_EQ(test::Of(*Form1).qry1.RecordNumber(), 2);
    EXPECT_EQ(Column(test::Of(*Form1).qry2, "用户表"), (std::vector<std::string>{"KJBASEUNITINFO", "MIXED CASE", "SECRET"}));
    // With one data column End and Home go to the last and the first record;
    // they are no refreshing keys.
    QTest::keyClick(test::Of(*Form1).dbgrd1, Qt::Key_End);
    EXPECT_EQ(test::Of(*Form1).qry1.RecordNumber(), 3);
    EXPECT_EQ(test::Of(*Form1).qry2.FieldNamed("用户表").PlainText(), "KJBASEUNITINFO") << "no refresh after End";
    QTest::keyClick(test::Of(*Form1).dbgrd1, Qt::Key_Home);
    EXPECT_EQ(test::Of(*Form1).qry1.RecordNumber(), 1);
    EXPECT_EQ(test::Of(*Form1).qry2.FieldNamed("用户表").PlainText(), "KJBASEUNITINFO") << "no refresh after Home";
    QTest::keyClick(test::Of(*Form1).dbgrd1, Qt::Key_PageDown);
    EXPECT_EQ(test::Of(*Form1).qry1.RecordNumber(), 3);
    EXPECT_EQ(test::Of(*Form1).qry2.RecordCount(), 0) << "ZZEMPTY has no tables";
    EXPECT_EQ(Caption(), "数据表：BRAVEL.T_RUDATASOURCETYPE") << "the rows are not touched";
}

TEST_F(Browser, TabInTheTableListShowsTheNextTableAndNamesIt)
{
    LoginOnTheSite();
    test::Of(*Form1).dbgrd2->setFocus();
    ASSERT_EQ(test::Of(*Form1).qry2.RecordNumber(), 1);
    QTest::keyClick(test::Of(*Form1).dbgrd2, Qt::Key_Tab);
    EXPECT_EQ(test::Of(*Form1).qry2.RecordNumber(), 2);
    EXPECT_EQ(Caption(), "数据表：BRAVEL.T_RUDATASOURCETYPE");
    QTest::keyClick(test::Of(*Form1).dbgrd2, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(test::Of(*Form1).qry2.RecordNumber(), 1);
    EXPECT_EQ(Caption(), "数据表：BRAVEL.T_OTHER");
    EXPECT_EQ(test::Of(*Form1).qry4.RecordCount(), 1);
    EXPECT_EQ(Form1->focusWidget(), test::Of(*Form1).dbgrd2) << "Tab stays in the grid";
}

namespace {

// A point inside the first data cell of a row, in the viewport's
// coordinates, near its left edge: the columns of names are wider than
// the grid.
QPoint DataCell(grid::TDataGrid& grid, int dataRow)
{
    const QRect cell = grid.cellRect(grid.IndicatorOffset(), grid.TitleOffset() + dataRow - 1);
    return QPoint(cell.left() + 8, cell.center().y());
}

bool ReadyForInput(QWidget& grid)
{
    if (!QTest::qWaitForWindowActive(grid.window()))
        return false;
    grid.setFocus();
    QApplication::processEvents();
    return true;
}

} // namespace

// Real mouse input: the grid makes the clicked row current on the press and
// fires the click at the release, and the window refreshes the list below.
TEST_F(Browser, ClickingAUserThenATableWithTheMouse)
{
    LoginOnTheSite();
    ASSERT_TRUE(ReadyForInput(*test::Of(*Form1).dbgrd1));
    QTest::mouseClick(test::Of(*Form1).dbgrd1->viewport(), Qt::LeftButton, {}, DataCell(*test::Of(*Form1).dbgrd1, 2));
    EXPECT_EQ(test::Of(*Form1).qry1.RecordNumber(), 2);
    EXPECT_EQ(Column(test::Of(*Form1).qry2, "用户表"), (std::vector<std::string>{"KJBASEUNITINFO", "MIXED CASE", "SECRET"}));
    EXPECT_EQ(Caption(), "数据表：BRAVEL.T_RUDATASOURCETYPE") << "a user click leaves the rows alone";

    QTest::mouseClick(test::Of(*Form1).dbgrd2->viewport(), Qt::LeftButton, {}, DataCell(*test::Of(*Form1).dbgrd2, 3));
    EXPECT_EQ(Caption(), "数据表：TELMIR.SECRET");
    EXPECT_EQ(test::Of(*Form1).qry4.RecordCount(), 0);
    QTest::mouseClick(test::Of(*Form1).dbgrd2->viewport(), Qt::LeftButton, {}, DataCell(*test::Of(*Form1).dbgrd2, 1));
    EXPECT_EQ(Caption(), "数据表：TELMIR.KJBASEUNITINFO");
    EXPECT_EQ(Column(test::Of(*Form1).qry4, "unitname"), (std::vector<std::string>{"总公司", "分公司"}));
    // A second click on the current cell opens the cell editor and refreshes
    // nothing.
    test::Of(*Form1).qry4.Close();
    QTest::mouseClick(test::Of(*Form1).dbgrd2->viewport(), Qt::LeftButton, {}, DataCell(*test::Of(*Form1).dbgrd2, 1));
    EXPECT_FALSE(test::Of(*Form1).qry4.Active());

    // A favourite's click shows its rows the same way.
    test::Of(*Form1).qry4.Open();
    QTest::mouseClick(test::Of(*Form1).dbgrd3->viewport(), Qt::LeftButton, {}, DataCell(*test::Of(*Form1).dbgrd3, 2));
    // This one names no table of the site: the rows go, the caption stays.
    EXPECT_EQ(test::Of(*Form1).qry3.RecordNumber(), 2);
    EXPECT_FALSE(test::Of(*Form1).qry4.Active());
    EXPECT_EQ(Caption(), "数据表：TELMIR.KJBASEUNITINFO");
    EXPECT_TRUE(reports.empty());
}

TEST_F(Browser, RightClickOnATableMakesItCurrentWithoutItsRowsAndTheMenuAddsIt)
{
    LoginOnTheSite();
    ASSERT_TRUE(ReadyForInput(*test::Of(*Form1).dbgrd2));
    QTest::mouseClick(test::Of(*Form1).dbgrd2->viewport(), Qt::LeftButton, {}, DataCell(*test::Of(*Form1).dbgrd2, 2));
    ASSERT_EQ(Caption(), "数据表：BRAVEL.T_RUDATASOURCETYPE");
    test::Of(*Form1).qry4.Close();

    const QPoint first = DataCell(*test::Of(*Form1).dbgrd2, 1);
    QTest::mousePress(test::Of(*Form1).dbgrd2->viewport(), Qt::RightButton, {}, first);
    QTest::mouseRelease(test::Of(*Form1).dbgrd2->viewport(), Qt::RightButton, {}, first);
    EXPECT_EQ(test::Of(*Form1).qry2.RecordNumber(), 1);
    EXPECT_FALSE(test::Of(*Form1).qry4.Active()) << "no refresh on a right click";
    EXPECT_EQ(Caption(), "数据表：BRAVEL.T_RUDATASOURCETYPE");
    EXPECT_TRUE(test::Of(*Form1).pm2->isVisible()) << "the table box's menu is open";
    test::Of(*Form1).N2->trigger();
    test::Of(*Form1).pm2->hide();
    EXPECT_TRUE(reports.empty());
    std::vector<std::string> expected = kSeedsInNameOrder;
    expected.push_back("BRAVEL.T_OTHER");
    EXPECT_EQ(Column(test::Of(*Form1).qry3, "常用数据表"), expected);

    // The user list has no menu: a right click there only moves the record.
    QTest::mousePress(test::Of(*Form1).dbgrd1->viewport(), Qt::RightButton, {}, DataCell(*test::Of(*Form1).dbgrd1, 3));
    QTest::mouseRelease(test::Of(*Form1).dbgrd1->viewport(), Qt::RightButton, {}, DataCell(*test::Of(*Form1).dbgrd1, 3));
    EXPECT_EQ(test::Of(*Form1).qry1.RecordNumber(), 3);
    EXPECT_EQ(test::Of(*Form1).qry2.RecordCount(), 2) << "no refresh";
    EXPECT_FALSE(test::Of(*Form1).pm2->isVisible());
    EXPECT_FALSE(test::Of(*Form1).pm3->isVisible());
}
