// Columns, widths, heights and the row window of a data grid over a real
// local store.
#include "testsupport/GridTestSupport.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QScrollBar>

using namespace querlin;
using namespace querlin::grid;
using querlin::test::GridOverStore;

namespace {

int DigitWidth(const TDataGrid& grid)
{
    return QFontMetrics(grid.Font().Font).horizontalAdvance(QLatin1Char('0'));
}

std::vector<std::string> Captions(const TDataGrid& grid)
{
    std::vector<std::string> captions;
    for (int i = 0; i < grid.Columns().Count(); ++i)
        captions.push_back(grid.Columns()[i].Title().Caption());
    return captions;
}

} // namespace

TEST(GridLayout, HeightsAndIndicatorFollowTheFont)
{
    GridOverStore t;
    int textHeight = QFontMetrics(t.grid.Font().Font).height();
    for (bool open : {false, true}) {
        if (open) {
            t.store.MakeNumbers(3);
            t.Open("SELECT * FROM nums");
        }
        EXPECT_EQ(t.grid.DataRowHeight(), textHeight + 3 + 1) << open;
        EXPECT_EQ(t.grid.TitleRowHeight(), textHeight + 4) << open;
        EXPECT_EQ(t.grid.ColWidths(0), 11) << open;
        EXPECT_EQ(t.grid.Geometry().HorzLineWidth(), 1);
        EXPECT_EQ(t.grid.FixedCols(), 1);
        EXPECT_EQ(t.grid.FixedRows(), 1);
    }
}

TEST(GridLayout, DefaultWidthIsDisplayWidthDigitsPlusFour)
{
    GridOverStore t;
    t.store.Execute("CREATE TABLE w (a_rather_long_title_for_ten INTEGER, wide VARCHAR(30))");
    t.store.Execute("INSERT INTO w VALUES (1, 'one')");
    t.Open("SELECT * FROM w");
    ASSERT_EQ(t.grid.Columns().Count(), 2);
    int digit = DigitWidth(t.grid);
    struct Case {
        int column, displayWidth;
    } cases[] = {{0, 10}, {1, 30}};
    for (const Case& c : cases) {
        const TDataGridColumn& column = t.grid.Columns()[c.column];
        ASSERT_EQ(column.Field()->DisplayWidth(), c.displayWidth);
        EXPECT_EQ(column.Width(), digit * c.displayWidth + 4) << c.displayWidth;
        EXPECT_EQ(t.grid.ColWidths(c.column + 1), digit * c.displayWidth + 4);
    }
    // The title plays no part, though it is wider than the column.
    EXPECT_GT(QFontMetrics(t.grid.TitleFont().Font).horizontalAdvance("a_rather_long_title_for_ten"),
              t.grid.ColWidths(1));
}

TEST(GridLayout, ClosedSetShowsOneUntitled64PixelColumnAndOneEmptyRow)
{
    GridOverStore t;
    t.store.MakeNumbers(5);
    auto expectClosedLayout = [&](const char* when) {
        ASSERT_EQ(t.grid.Columns().Count(), 1) << when;
        EXPECT_EQ(t.grid.Columns()[0].Title().Caption(), "") << when;
        EXPECT_EQ(t.grid.Columns()[0].Field(), nullptr) << when;
        EXPECT_EQ(t.grid.ColCount(), 2) << when;
        EXPECT_EQ(t.grid.ColWidths(1), 64) << when;
        EXPECT_EQ(t.grid.RowCount(), 2) << when;
    };
    expectClosedLayout("never opened");
    t.Open("SELECT * FROM nums");
    EXPECT_EQ(t.grid.Columns().Count(), 3);
    t.query.Close();
    expectClosedLayout("after close");
}

TEST(GridLayout, ReopenWithOtherSqlBuildsTheNewFieldsInOrder)
{
    GridOverStore t;
    t.store.MakeNumbers(5);
    t.Open("SELECT name FROM nums");
    EXPECT_EQ(Captions(t.grid), std::vector<std::string>{"name"});
    t.Open("SELECT amount, id, name FROM nums");
    EXPECT_EQ(Captions(t.grid), (std::vector<std::string>{"amount", "id", "name"}));
    EXPECT_EQ(t.grid.ColCount(), 4);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(t.grid.Columns()[i].Field(), &t.query.FieldAt(i));
}

TEST(GridLayout, EmptyOpenSetShowsItsColumnsAndOneEmptyRow)
{
    GridOverStore t;
    t.store.MakeNumbers(0);
    t.Open("SELECT * FROM nums");
    EXPECT_EQ(Captions(t.grid), (std::vector<std::string>{"id", "name", "amount"}));
    EXPECT_EQ(t.grid.RowCount(), 2);
}

TEST(GridLayout, UserWidthLastsUntilCloseAndFeedsDisplayWidthBack)
{
    GridOverStore t;
    t.store.MakeNumbers(20);
    t.Open("SELECT * FROM nums");
    QFontMetrics metrics(t.grid.Font().Font);
    int digit = DigitWidth(t.grid);

    t.grid.Columns()[0].SetWidth(100);
    const TDataGridColumn& column = t.grid.Columns()[0];
    EXPECT_EQ(column.Width(), 100);
    EXPECT_EQ(t.grid.ColWidths(1), 100);
    EXPECT_EQ(column.Field()->DisplayWidth(), (100 + metrics.averageCharWidth() / 2 - 3) / digit);

    t.query.MoveNext();
    t.query.MoveLast();
    EXPECT_EQ(t.grid.ColWidths(1), 100) << "moving keeps the width";

    t.query.Close();
    t.query.Open();
    EXPECT_EQ(t.grid.Columns()[0].Width(), digit * 10 + 4) << "new fields, default width again";
    EXPECT_EQ(t.grid.ColWidths(1), digit * 10 + 4);
}

TEST(GridLayout, DefaultWidthGivenBackKeepsDisplayWidth)
{
    GridOverStore t;
    t.store.MakeNumbers(2);
    t.Open("SELECT * FROM nums");
    TDataGridColumn& column = t.grid.Columns()[1];
    int before = column.Width();
    column.SetWidth(before);
    EXPECT_EQ(column.Field()->DisplayWidth(), 30);
    EXPECT_FALSE(column.WidthAssigned()) << "no own width for the default width";
}

TEST(GridLayout, CellAtFindsEveryCellCentre)
{
    GridOverStore t(QSize(500, 250));
    t.store.MakeNumbers(30);
    t.Open("SELECT * FROM nums");
    int seen = 0;
    for (int col = 0; col < t.grid.ColCount(); ++col)
        for (int row = 0; row < t.grid.RowCount(); ++row) {
            QRect rect = t.grid.cellRect(col, row);
            if (rect.isEmpty() || !t.grid.viewport()->rect().contains(rect.center()))
                continue;
            EXPECT_EQ(t.grid.cellAt(rect.center()), QPoint(col, row));
            ++seen;
        }
    EXPECT_GT(seen, 20);
}

TEST(GridLayout, RowWindowHoldsTheWholeRowsThatFit)
{
    GridOverStore t(QSize(700, 300));  // wide enough for no horizontal bar
    t.store.MakeNumbers(100);
    t.Open("SELECT * FROM nums");
    int pitch = t.grid.DataRowHeight() + 1;
    int expected = (t.grid.viewport()->height() - (t.grid.TitleRowHeight() + 1)) / pitch;
    EXPECT_EQ(t.grid.RowWindowSize(), expected);
    EXPECT_EQ(t.grid.DataLink().BufferCount(), expected);
    EXPECT_EQ(t.grid.RowCount(), expected + 1);
    EXPECT_EQ(t.grid.Row(), 1);

    t.query.MoveNext();
    t.query.MoveNext();
    t.grid.resize(700, 300 + 2 * pitch);
    EXPECT_EQ(t.grid.RowWindowSize(), expected + 2);
    EXPECT_EQ(t.grid.RowCount(), expected + 3);
    EXPECT_EQ(t.query.RecordNumber(), 3) << "the current record stays current";
    EXPECT_EQ(t.grid.Row(), 1 + t.grid.DataLink().ActiveRecord());

    t.grid.resize(700, 5);
    EXPECT_EQ(t.grid.RowWindowSize(), 1) << "at least one row";
}

TEST(GridLayout, ShortSetShowsOnlyItsRows)
{
    GridOverStore t(QSize(400, 300));
    t.store.MakeNumbers(3);
    t.Open("SELECT * FROM nums");
    EXPECT_EQ(t.grid.RowCount(), 4);
}

TEST(GridLayout, LocksDeferTheLayoutToTheOutermostRelease)
{
    GridOverStore t;
    t.store.MakeNumbers(3);
    t.grid.BeginLayout();
    t.grid.BeginLayout();
    t.Open("SELECT * FROM nums");
    t.grid.LayoutChanged();
    EXPECT_EQ(t.grid.Columns().Count(), 1) << "no pass under the lock";
    t.grid.EndLayout();
    EXPECT_EQ(t.grid.Columns().Count(), 1) << "inner release runs nothing";
    t.grid.EndLayout();
    EXPECT_EQ(t.grid.Columns().Count(), 3);
}

TEST(GridLayout, CloseUnderUpdateLockLeavesNoColumnOnADeadField)
{
    GridOverStore t;
    t.store.MakeNumbers(3);
    t.Open("SELECT * FROM nums");
    t.grid.BeginUpdate();
    t.query.Close();
    for (int i = 0; i < t.grid.Columns().Count(); ++i)
        EXPECT_EQ(t.grid.Columns()[i].Field(), nullptr);
    t.grid.viewport()->grab();  // paints titles without touching the closed fields
    t.grid.EndUpdate();
    EXPECT_EQ(t.grid.Columns().Count(), 1) << "the request held by the lock runs at its release";
}

TEST(GridLayout, UnassignedColumnPropertiesFollowGridAndField)
{
    GridOverStore t;
    t.store.MakeNumbers(2);
    t.Open("SELECT * FROM nums");
    TDataGridColumn& id = t.grid.Columns()[0];
    TDataGridColumn& name = t.grid.Columns()[1];
    EXPECT_EQ(id.Alignment(), data::TAlignment::taRightJustify) << "a number";
    EXPECT_EQ(name.Alignment(), data::TAlignment::taLeftJustify);
    EXPECT_EQ(name.Title().Caption(), "name");
    EXPECT_EQ(name.Title().Alignment(), data::TAlignment::taLeftJustify);
    EXPECT_TRUE(name.WordWrap()) << "a string";
    EXPECT_FALSE(id.WordWrap());

    EXPECT_FALSE(id.ReadOnly());
    t.grid.SetReadOnly(true);
    EXPECT_TRUE(id.ReadOnly()) << "follows the grid";

    t.grid.SetColor(clSilver);
    t.grid.SetFixedColor(clGray);
    EXPECT_EQ(id.Color(), clSilver);
    EXPECT_EQ(id.Title().Color(), clGray);
    id.SetColor(clWhite);
    id.Title().SetCaption("Number");
    t.grid.SetColor(clWindow);
    EXPECT_EQ(id.Color(), clWhite) << "an assigned value stays";
    EXPECT_EQ(name.Color(), clWindow);
    EXPECT_EQ(id.Title().Caption(), "Number");
    id.RestoreDefaults();
    EXPECT_EQ(id.Color(), clWindow);
    EXPECT_EQ(id.Title().Caption(), "id");
}

TEST(GridLayout, ParentFontChangeResizesRowsAndTitles)
{
    GridOverStore t;
    t.store.MakeNumbers(3);
    t.Open("SELECT * FROM nums");
    QWidget parent;
    t.grid.setParent(&parent);
    QFont big = t.grid.Font().Font;
    big.setPixelSize(30);
    parent.setFont(big);
    int textHeight = QFontMetrics(big).height();
    EXPECT_EQ(t.grid.TitleFont().Font, big) << "the title font follows the parent's";
    EXPECT_EQ(t.grid.DataRowHeight(), textHeight + 4);
    EXPECT_EQ(t.grid.TitleRowHeight(), textHeight + 4);
    EXPECT_EQ(t.grid.Columns()[0].Width(), QFontMetrics(big).horizontalAdvance('0') * 10 + 4);
    t.grid.setParent(nullptr);
}

TEST(GridLayout, VerticalBarShowsRecordNumbersFromTwoRecordsOn)
{
    // Qt's bar runs over the positions the thumb can take: records 1..R with
    // a page of the fully visible rows.
    struct Case {
        const char* name;
        int records;     // -1: closed
        int recordNumber;
        bool shown;
    } cases[] = {
        {"closed", -1, 0, false},
        {"empty", 0, 0, false},
        {"one record", 1, 1, false},
        {"two records", 2, 2, true},
        {"hundred records on the 50th", 100, 50, true},
    };
    for (const Case& c : cases) {
        GridOverStore t(QSize(600, 250));
        if (c.records >= 0) {
            t.store.MakeNumbers(c.records);
            t.Open("SELECT * FROM nums");
            if (c.recordNumber > 0)
                t.query.SetRecordNumber(c.recordNumber);
        }
        const QScrollBar* bar = t.grid.verticalScrollBar();
        EXPECT_EQ(bar->maximum() > bar->minimum(), c.shown) << c.name;
        if (c.shown) {
            EXPECT_EQ(bar->minimum(), 1) << c.name;
            EXPECT_EQ(bar->maximum(), c.records) << c.name;
            EXPECT_EQ(bar->pageStep(), t.grid.Geometry().FullyVisibleRows()) << c.name;
            EXPECT_EQ(bar->value(), c.recordNumber) << c.name;
        }
    }
}
