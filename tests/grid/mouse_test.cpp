// The mouse on a real grid over a real local store, with presses, moves and
// releases sent through QTest at positions taken from the grid's own cells:
// where the current cell ends up, which click events fire and when, column
// sizing and moving, drag tracking, the right and middle buttons, the
// context menu of the parent control and the wheel.
#include "testsupport/GridTestSupport.h"
#include "grid/TDataGridInplaceEdit.h"

#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QVBoxLayout>

#include <string>
#include <utility>
#include <vector>

using namespace querlin;
using namespace querlin::grid;
using querlin::test::GridOverStore;

namespace {

struct MouseLog {
    std::vector<TGridColumn*> cells, titles;
    int doubles = 0, downs = 0, ups = 0, keyUps = 0;
    std::vector<std::pair<int, int>> moves;
    std::vector<int> recordAtDown;  // the record current when OnMouseDown ran
};

// A grid over `records` numbers showing `rows` full rows, read-only as the
// browser window's grids are, with every mouse event logged.
struct MouseGrid : GridOverStore {
    MouseLog log;
    explicit MouseGrid(int records = 20, int rows = 7)
    {
        store.MakeNumbers(records);
        grid.SetReadOnly(true);
        Open("SELECT * FROM nums");
        ShowRows(rows);
        grid.OnCellClick = [this](TGridColumn* Column) { log.cells.push_back(Column); };
        grid.OnTitleClick = [this](TGridColumn* Column) { log.titles.push_back(Column); };
        grid.OnDblClick = [this](TCustomDataGrid*) { ++log.doubles; };
        grid.OnColumnMoved = [this](TCustomDataGrid*, int from, int to) { log.moves.push_back({from, to}); };
        grid.OnMouseDown = [this](TCustomDataGrid*, TMouseButton, TShiftState, int, int) {
            ++log.downs;
            log.recordAtDown.push_back(query.Active() ? query.RecordNumber() : 0);
        };
        grid.OnMouseUp = [this](TCustomDataGrid*, TMouseButton, TShiftState, int, int) { ++log.ups; };
        grid.OnKeyUp = [this](TCustomDataGrid*, std::uint16_t&, TShiftState) { ++log.keyUps; };
    }
    QWidget* View() { return grid.viewport(); }
    QPoint At(int col, int row) const { return grid.cellRect(col, row).center(); }
    void Press(QPoint p, Qt::MouseButton b = Qt::LeftButton) { QTest::mousePress(View(), b, {}, p); }
    void Move(QPoint p) { QTest::mouseMove(View(), p); }
    void Release(QPoint p, Qt::MouseButton b = Qt::LeftButton) { QTest::mouseRelease(View(), b, {}, p); }
    void Click(QPoint p, Qt::MouseButton b = Qt::LeftButton) { QTest::mouseClick(View(), b, {}, p); }
    bool EditorShown() const { return grid.InplaceEditor() && grid.InplaceEditor()->isVisible(); }
    int Clicks() const { return int(log.cells.size() + log.titles.size()); }
    std::vector<std::string> Fields() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < grid.Columns().Count(); ++i)
            names.push_back(grid.Columns()[i].FieldName());
        return names;
    }
    // The x of a column's right boundary and a y in the title band.
    int Boundary(int col) const { return grid.cellRect(col, 0).right() + 1; }
    int TitleY() const { return grid.cellRect(1, 0).center().y(); }
};

} // namespace

// ---------------------------------------------------------------- clicks

TEST(GridMouse, ClickMovesAtThePressAndFiresAtTheRelease)
{
    MouseGrid t;
    ASSERT_TRUE(t.Focus());
    t.Press(t.At(2, 4));
    EXPECT_EQ(t.query.RecordNumber(), 4) << "the record moves at the press";
    EXPECT_EQ(t.grid.Col(), 2);
    EXPECT_EQ(t.log.recordAtDown, std::vector<int>{4}) << "OnMouseDown after the grid's own handling";
    EXPECT_TRUE(t.log.cells.empty()) << "nothing fires before the release";
    t.Release(t.At(2, 4));
    ASSERT_EQ(t.log.cells.size(), 1u);
    EXPECT_EQ(t.log.cells[0], t.grid.ColumnAt(2));
    EXPECT_EQ(t.log.ups, 1);
    EXPECT_FALSE(t.EditorShown());

    // The cell is current now: the second click opens the editor, no click.
    t.Click(t.At(2, 4));
    EXPECT_TRUE(t.EditorShown());
    EXPECT_EQ(t.log.cells.size(), 1u) << "a press on the current cell fires nothing";
    EXPECT_EQ(t.query.RecordNumber(), 4);
}

TEST(GridMouse, FirstClickIntoAnUnfocusedGridOnItsCurrentCellOpensTheEditor)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* edit = new QLineEdit(&window);
    layout->addWidget(edit);
    MouseGrid t;
    t.grid.setParent(&window);
    layout->addWidget(&t.grid);
    window.resize(600, 300);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    edit->setFocus();
    QApplication::processEvents();
    ASSERT_FALSE(t.grid.hasFocus());

    t.Click(t.At(1, 1));
    EXPECT_TRUE(t.EditorShown());
    EXPECT_TRUE(t.grid.GridFocused());
    EXPECT_TRUE(t.log.cells.empty());
    EXPECT_EQ(t.query.RecordNumber(), 1);
    t.grid.setParent(nullptr);
}

TEST(GridMouse, ClickOutsideTheCellsClosesTheEditorAndMovesNothing)
{
    MouseGrid t(3, 7);  // three rows in a window of seven: room below them
    ASSERT_TRUE(t.Focus());
    QRect lastCell = t.grid.cellRect(3, 3);
    struct Case {
        const char* name;
        QPoint point;
    } cases[] = {
        {"below the last row", {t.At(2, 1).x(), lastCell.bottom() + 10}},
        {"right of the last column, level with a row", {lastCell.right() + 20, t.At(2, 2).y()}},
    };
    for (const Case& c : cases) {
        ASSERT_LT(c.point.x(), t.View()->width()) << c.name;
        ASSERT_LT(c.point.y(), t.View()->height()) << c.name;
        t.query.MoveFirst();
        t.grid.MoveColumn(2, 0);
        t.grid.ShowEditor();
        ASSERT_TRUE(t.EditorShown()) << c.name;
        t.Click(c.point);
        EXPECT_FALSE(t.EditorShown()) << c.name;
        EXPECT_EQ(t.query.RecordNumber(), 1) << c.name;
        EXPECT_EQ(t.grid.Col(), 2) << c.name;
        EXPECT_EQ(t.Clicks(), 0) << c.name;
    }
}

TEST(GridMouse, DoubleClickOnANonCurrentCellFiresTwoClicksAndOneDoubleClick)
{
    MouseGrid t;
    ASSERT_TRUE(t.Focus());
    t.Click(t.At(3, 5));
    QTest::mouseDClick(t.View(), Qt::LeftButton, {}, t.At(3, 5));
    t.Release(t.At(3, 5));
    EXPECT_EQ(t.log.cells.size(), 2u);
    EXPECT_EQ(t.log.doubles, 1);
    EXPECT_EQ(t.log.downs, 2) << "the second press fires OnMouseDown too";
    EXPECT_FALSE(t.EditorShown()) << "the second press opens nothing";
    EXPECT_EQ(t.query.RecordNumber(), 5);
}

TEST(GridMouse, IndicatorClickMovesTheRecordOnly)
{
    MouseGrid t;
    ASSERT_TRUE(t.Focus());
    t.grid.MoveColumn(2, 0);
    t.Click(t.At(0, 5));
    EXPECT_EQ(t.query.RecordNumber(), 5);
    EXPECT_EQ(t.grid.Col(), 2) << "the column stays";
    EXPECT_EQ(t.Clicks(), 0);
    EXPECT_FALSE(t.grid.DragTracking());
    EXPECT_FALSE(t.EditorShown());
}

TEST(GridMouse, TitleClickFiresOnTitleClickAndMovesNothing)
{
    MouseGrid t;
    ASSERT_TRUE(t.Focus());
    t.Click(t.At(2, 0));
    ASSERT_EQ(t.log.titles.size(), 1u);
    EXPECT_EQ(t.log.titles[0], t.grid.ColumnAt(2));
    EXPECT_TRUE(t.log.cells.empty());
    EXPECT_TRUE(t.log.moves.empty());
    EXPECT_EQ(t.query.RecordNumber(), 1);
    EXPECT_EQ(t.grid.GridState(), TGridState::gsNormal);

    // The top-left cell does nothing at all.
    t.Click(t.At(0, 0));
    EXPECT_EQ(t.Clicks(), 1);
}

TEST(GridMouse, ClosedRecordSetClickOnTheEmptyRowFiresWithTheOnlyColumn)
{
    MouseGrid t;
    ASSERT_TRUE(t.Focus());
    t.query.Close();
    ASSERT_EQ(t.grid.Columns().Count(), 1);
    t.Click(t.At(1, 1));
    ASSERT_EQ(t.log.cells.size(), 1u);
    EXPECT_EQ(t.log.cells[0], &t.grid.Columns()[0]);
    EXPECT_EQ(t.log.downs, 1);
    EXPECT_FALSE(t.EditorShown());
}

TEST(GridMouse, MiddleButtonMovesRecordAndColumnAndNothingElse)
{
    MouseGrid t;
    ASSERT_TRUE(t.Focus());
    t.Click(t.At(3, 4), Qt::MiddleButton);
    EXPECT_EQ(t.query.RecordNumber(), 4);
    EXPECT_EQ(t.grid.Col(), 3);
    t.Click(t.At(3, 4), Qt::MiddleButton);
    EXPECT_FALSE(t.EditorShown());
    EXPECT_EQ(t.Clicks() + t.log.downs + t.log.ups, 0);
}

TEST(GridMouse, WheelNotchMovesOneRecordAndFiresNothing)
{
    MouseGrid t;
    ASSERT_TRUE(t.Focus());
    QPoint at = t.At(2, 2);
    QWheelEvent wheel(at, t.View()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(t.View(), &wheel);
    EXPECT_EQ(t.query.RecordNumber(), 2);
    EXPECT_EQ(t.Clicks() + t.log.keyUps + t.log.downs, 0);
}

// ---------------------------------------------------------------- drag tracking

TEST(GridMouse, DragFromRowTwoToFiveMovesThroughEachRowAndClicksOnce)
{
    MouseGrid t;
    ASSERT_TRUE(t.Focus());
    t.Press(t.At(1, 2));
    EXPECT_TRUE(t.grid.DragTracking());
    std::vector<int> seen{t.query.RecordNumber()};
    for (int row = 3; row <= 5; ++row) {
        t.Move(t.At(1, row));
        seen.push_back(t.query.RecordNumber());
    }
    t.Move(t.At(2, 5));
    EXPECT_EQ(seen, (std::vector<int>{2, 3, 4, 5}));
    EXPECT_EQ(t.grid.Col(), 2) << "the column follows the pointer too";
    EXPECT_TRUE(t.log.cells.empty());
    t.Release(t.At(2, 5));
    ASSERT_EQ(t.log.cells.size(), 1u);
    EXPECT_EQ(t.log.cells[0], t.grid.ColumnAt(2));
    EXPECT_FALSE(t.grid.DragTracking());
    EXPECT_FALSE(t.EditorShown());
}

TEST(GridMouse, DragReleasedBelowTheGridFiresNothing)
{
    MouseGrid t;
    ASSERT_TRUE(t.Focus());
    t.Press(t.At(1, 2));
    t.Move(t.At(1, 4));
    QPoint below(t.At(1, 4).x(), t.View()->height() + 40);
    t.Move(below);
    int record = t.query.RecordNumber();
    t.Release(below);
    EXPECT_EQ(t.query.RecordNumber(), record) << "the release itself moves nothing";
    EXPECT_TRUE(t.log.cells.empty());
    QTest::qWait(30);
    EXPECT_EQ(t.query.RecordNumber(), record) << "the auto-scroll stopped with the release";
}

TEST(GridMouse, AutoScrollBelowMovesByTheDistanceRule)
{
    MouseGrid t(100, 7);
    ASSERT_TRUE(t.Focus());
    t.Press(t.At(1, 3));
    QRect area = t.grid.Geometry().DataArea();
    int x = t.At(1, 3).x();

    // Under 6 pixels away: the timer runs but no record moves.
    t.Move(QPoint(x, area.bottom() + 3));
    EXPECT_EQ(t.query.RecordNumber(), 3);

    // 13 pixels: two records a step, at once and then every 5 ms.
    t.Move(QPoint(x, area.bottom() + 13));
    EXPECT_EQ(t.query.RecordNumber(), 5);
    QTest::qWait(40);
    int moved = t.query.RecordNumber() - 3;
    EXPECT_GT(moved, 2) << "the timer repeats the step";
    EXPECT_EQ(moved % 2, 0) << "two records each step";

    // Back inside: the timer stops and the row under the pointer is current.
    t.Move(t.At(1, 2));
    int record = t.query.RecordNumber();
    QTest::qWait(30);
    EXPECT_EQ(t.query.RecordNumber(), record);

    // Far away: 8 records a step at most.
    t.Move(QPoint(x, area.bottom() + 200));
    EXPECT_EQ(t.query.RecordNumber(), record + 8);
    t.Release(QPoint(x, area.bottom() + 200));
    record = t.query.RecordNumber();
    QTest::qWait(30);
    EXPECT_EQ(t.query.RecordNumber(), record);
    EXPECT_TRUE(t.log.cells.empty());
}

// ---------------------------------------------------------------- right button and menus

namespace {

// The browser window's arrangement: the grid inside a group box that opens
// its own menu on customContextMenuRequested.
struct GridInGroupBox {
    QWidget window;
    QGroupBox* box = nullptr;
    QMenu* menu = nullptr;
    MouseGrid t;
    std::vector<QPoint> menuAt;   // global positions the menu was asked for
    std::vector<int> recordAtMenu;
    bool trackingWhenMenuShown = true;

    explicit GridInGroupBox(bool withMenu = true)
    {
        auto* outer = new QVBoxLayout(&window);
        box = new QGroupBox("Data", &window);
        outer->addWidget(box);
        auto* inner = new QVBoxLayout(box);
        t.grid.setParent(box);
        inner->addWidget(&t.grid);
        if (withMenu) {
            box->setContextMenuPolicy(Qt::CustomContextMenu);
            menu = new QMenu(box);
            menu->addAction("Item");
            QObject::connect(box, &QWidget::customContextMenuRequested, box, [this](QPoint pos) {
                menuAt.push_back(box->mapToGlobal(pos));
                recordAtMenu.push_back(t.query.RecordNumber());
                QTimer::singleShot(30, menu, [this] {
                    trackingWhenMenuShown = t.grid.DragTracking();
                    menu->close();
                });
                menu->exec(box->mapToGlobal(pos));
            });
        }
        window.resize(640, 320);
        window.show();
        window.activateWindow();
    }
    ~GridInGroupBox() { t.grid.setParent(nullptr); }
    bool Focus()
    {
        if (!QTest::qWaitForWindowActive(&window))
            return false;
        t.grid.setFocus();
        QApplication::processEvents();
        return t.grid.hasFocus();
    }
};

} // namespace

TEST(GridMouse, RightClickMakesTheRowCurrentAndOpensTheGroupBoxMenuAtThePointer)
{
    GridInGroupBox g;
    ASSERT_TRUE(g.Focus());
    MouseGrid& t = g.t;
    QPoint p = t.At(2, 4);
    t.Press(p, Qt::RightButton);
    EXPECT_EQ(t.query.RecordNumber(), 4) << "the row is current before the menu";
    EXPECT_TRUE(t.grid.DragTracking()) << "a right press tracks like a left one";
    t.Release(p, Qt::RightButton);
    ASSERT_EQ(g.menuAt.size(), 1u);
    EXPECT_EQ(g.menuAt[0], t.View()->mapToGlobal(p));
    EXPECT_EQ(g.recordAtMenu[0], 4);
    EXPECT_FALSE(g.trackingWhenMenuShown) << "the mouse mode ends before the menu runs";
    EXPECT_FALSE(t.grid.DragTracking());
    EXPECT_EQ(t.Clicks(), 0);
    EXPECT_FALSE(t.EditorShown()) << "a right press never opens the editor";
    EXPECT_EQ(t.grid.Col(), 2);
}

TEST(GridMouse, KeyboardContextMenuMovesNothingAndOpensAtTheGroupBoxCorner)
{
    GridInGroupBox g;
    ASSERT_TRUE(g.Focus());
    MouseGrid& t = g.t;
    t.query.MoveRows(2);
    QTest::keyClick(&t.grid, Qt::Key_F10, Qt::ShiftModifier);
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(5, 5),
                              t.View()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(t.View(), &menuKey);
    ASSERT_EQ(g.menuAt.size(), 2u);
    for (QPoint at : g.menuAt)
        EXPECT_EQ(at, g.box->mapToGlobal(QPoint(0, 0)));
    EXPECT_EQ(t.query.RecordNumber(), 3);
    EXPECT_EQ(t.Clicks(), 0);
}

TEST(GridMouse, RightClickWithoutAMenuBearingParentOnlyMovesTheRow)
{
    GridInGroupBox g(false);
    ASSERT_TRUE(g.Focus());
    MouseGrid& t = g.t;
    t.Click(t.At(3, 5), Qt::RightButton);
    EXPECT_EQ(t.query.RecordNumber(), 5);
    EXPECT_EQ(t.Clicks(), 0);
    EXPECT_FALSE(t.grid.DragTracking());

    // A right press on a title moves the column, completed at the release.
    t.Press(t.At(1, 0), Qt::RightButton);
    EXPECT_EQ(t.grid.GridState(), TGridState::gsColMoving);
    t.Move(t.At(2, 0));
    t.Release(t.At(2, 0), Qt::RightButton);
    EXPECT_EQ(t.Fields(), (std::vector<std::string>{"name", "id", "amount"}));
    EXPECT_EQ(t.log.moves, (std::vector<std::pair<int, int>>{{0, 1}}));
}

// ---------------------------------------------------------------- column sizing

TEST(GridMouse, ColumnSizingKeepsTheWidthForOnePixelAndForEsc)
{
    MouseGrid t;
    ASSERT_TRUE(t.Focus());
    int width = t.grid.ColWidths(1);
    int left = t.grid.cellRect(1, 0).left();
    QPoint edge(t.Boundary(1), t.TitleY());

    t.Press(edge);
    EXPECT_EQ(t.grid.GridState(), TGridState::gsColSizing);
    t.Move(QPoint(left + 1, edge.y()));
    t.Release(QPoint(left + 1, edge.y()));
    EXPECT_EQ(t.grid.ColWidths(1), width) << "1 pixel keeps the old width";
    EXPECT_EQ(t.grid.GridState(), TGridState::gsNormal);
    EXPECT_EQ(t.Clicks(), 0) << "a release that ends a sizing fires no click";

    // Esc: the XOR line, shown while dragging, goes and the width stays.
    GridOverStore::Flush();
    QImage before = t.Shot();
    t.Press(edge);
    int lineX = edge.x() + 30;
    t.Move(QPoint(lineX, edge.y()));
    GridOverStore::Flush();
    QImage during = t.Shot();
    int inverted = 0, other = 0;
    int bottom = t.grid.Geometry().GridBottom();
    for (int y = 0; y < bottom; ++y) {
        QRgb was = before.pixel(lineX, y), now = during.pixel(lineX, y);
        if (now == was)
            continue;
        if ((now & 0xFFFFFF) == (~was & 0xFFFFFF))
            ++inverted;
        else
            ++other;
    }
    EXPECT_EQ(other, 0) << "the line is drawn by XOR";
    EXPECT_GT(inverted, bottom / 4) << "a dotted line from the top to the end of the rows";
    EXPECT_LT(inverted, bottom * 3 / 4) << "dotted, not solid";
    QTest::keyClick(&t.grid, Qt::Key_Escape);
    EXPECT_EQ(t.grid.GridState(), TGridState::gsNormal);
    GridOverStore::Flush();
    EXPECT_EQ(t.Shot(), before) << "Esc erases the line";
    t.Release(QPoint(lineX, edge.y()));
    EXPECT_EQ(t.grid.ColWidths(1), width);
}

TEST(GridMouse, ColumnSizedToHundredPixelsFeedsTheFieldsDisplayWidth)
{
    MouseGrid t;
    ASSERT_TRUE(t.Focus());
    int left = t.grid.cellRect(2, 0).left();
    QPoint edge(t.Boundary(2) - 2, t.TitleY());  // 2 pixels inside the zone: the offset is kept
    t.Press(edge);
    ASSERT_EQ(t.grid.GridState(), TGridState::gsColSizing);
    t.Move(QPoint(left + 100 - 2, edge.y()));
    t.Release(QPoint(left + 100 - 2, edge.y()));

    const TGridColumn& column = *t.grid.ColumnAt(2);
    QFontMetrics metrics(column.Font().Font);
    int expected = (100 + metrics.averageCharWidth() / 2 - 3) /
                   metrics.horizontalAdvance(QLatin1Char('0'));
    EXPECT_EQ(column.Field()->DisplayWidth(), expected);
    EXPECT_EQ(column.Width(), 100);
    EXPECT_EQ(t.grid.ColWidths(2), 100);
    EXPECT_EQ(t.Clicks(), 0);
}

// ---------------------------------------------------------------- column moving

TEST(GridMouse, DraggingTheFirstTitleOntoTheThirdMovesTheColumnAndTheCurrentColumn)
{
    MouseGrid t;
    ASSERT_TRUE(t.Focus());
    ASSERT_EQ(t.grid.Col(), 1);
    t.Press(t.At(1, 0));
    EXPECT_EQ(t.grid.GridState(), TGridState::gsColMoving);
    t.Move(t.At(2, 0));
    t.Move(t.At(3, 0));
    GridOverStore::Flush();
    QImage during = t.Shot();
    t.Release(t.At(3, 0));
    EXPECT_EQ(t.Fields(), (std::vector<std::string>{"name", "amount", "id"}));
    EXPECT_EQ(t.grid.Col(), 3) << "the current column moved with it";
    EXPECT_EQ(t.log.moves, (std::vector<std::pair<int, int>>{{0, 2}}));
    EXPECT_EQ(t.grid.GridState(), TGridState::gsNormal);
    GridOverStore::Flush();
    QImage after = t.Shot();
    int markerX = t.grid.cellRect(3, 0).right() + 1;
    EXPECT_NE(during.pixel(markerX, t.TitleY()), after.pixel(markerX, t.TitleY()))
        << "the marker stood at the target's right edge";

    // The move lasts through later layout passes.
    t.grid.LayoutChanged();
    EXPECT_EQ(t.Fields(), (std::vector<std::string>{"name", "amount", "id"}));
    EXPECT_EQ(t.grid.ColumnAt(3)->FieldName(), "id");
}

TEST(GridMouse, EscAbandonsAColumnMove)
{
    MouseGrid t;
    ASSERT_TRUE(t.Focus());
    t.Press(t.At(1, 0));
    t.Move(t.At(3, 0));
    QTest::keyClick(&t.grid, Qt::Key_Escape);
    EXPECT_EQ(t.grid.GridState(), TGridState::gsNormal);
    t.Release(t.At(3, 0));
    EXPECT_EQ(t.Fields(), (std::vector<std::string>{"id", "name", "amount"}));
    EXPECT_TRUE(t.log.moves.empty());
}

// ---------------------------------------------------------------- sideways

TEST(GridMouse, DragRightOfTheDataAreaStepsOneColumnSideways)
{
    MouseGrid t;
    t.ShowRows(7, 150);  // narrower than the columns: the bar runs
    ASSERT_TRUE(t.Focus());
    ASSERT_TRUE(t.grid.Geometry().HorzScrollable());
    t.Press(t.At(1, 2));
    QPoint right(t.View()->width() + 10, t.At(1, 2).y());
    t.Move(right);
    EXPECT_EQ(t.grid.Col(), 2) << "one column at once";
    EXPECT_EQ(t.grid.LeftCol(), 2);
    EXPECT_EQ(t.query.RecordNumber(), 2) << "level with the rows: no record moves";
    QTest::qWait(400);
    EXPECT_EQ(t.grid.Col(), 3) << "the timer goes on to the last column";
    t.Release(right);
    EXPECT_TRUE(t.log.cells.empty());
}

TEST(GridMouse, ColumnMoveScrollsAtTheRightEdgeWithTheTimer)
{
    MouseGrid t;
    // Room for the wide name column alone, not for it and a neighbour.
    QSize frame = t.grid.size() - t.View()->size();
    t.ShowRows(7, 12 + t.grid.ColWidths(2) + 30 + frame.width());
    ASSERT_TRUE(t.Focus());
    t.Press(t.At(1, 0));
    QPoint edge(t.View()->width() - 1, t.TitleY());
    t.Move(edge);
    EXPECT_EQ(t.grid.LeftCol(), 2) << "the pointer past the last full column scrolls one column";
    QTest::qWait(300);
    EXPECT_EQ(t.grid.LeftCol(), t.grid.Geometry().MaxLeftCol());
    t.Release(edge);
    EXPECT_EQ(t.Fields(), (std::vector<std::string>{"name", "amount", "id"}))
        << "the target is the last column shown in full";
    EXPECT_EQ(t.log.moves, (std::vector<std::pair<int, int>>{{0, 2}}));
}

// ---------------------------------------------------------------- cursor and editor

TEST(GridMouse, SizingCursorOverAColumnEdgeOnly)
{
    MouseGrid t;
    ASSERT_TRUE(t.Focus());
    auto hover = [&](QPoint p) {
        QMouseEvent move(QEvent::MouseMove, p, t.View()->mapToGlobal(p), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(t.View(), &move);
        return t.View()->cursor().shape();
    };
    EXPECT_EQ(hover(QPoint(t.Boundary(1), t.TitleY())), Qt::SplitHCursor);
    EXPECT_EQ(hover(t.At(1, 0)), Qt::ArrowCursor);
    EXPECT_EQ(hover(QPoint(t.Boundary(1), t.At(1, 2).y())), Qt::ArrowCursor)
        << "the zone is in the title band only";
}

TEST(GridMouse, WheelOverTheCellEditorMovesOneRecordAndDoubleClickInItFiresOnDblClick)
{
    MouseGrid t;
    ASSERT_TRUE(t.Focus());
    t.Click(t.At(1, 1));  // the current cell: the editor opens
    ASSERT_TRUE(t.EditorShown());
    QWidget* editor = t.grid.InplaceEditor();
    QPoint at = editor->rect().center();
    QWheelEvent wheel(at, editor->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(editor, &wheel);
    EXPECT_EQ(t.query.RecordNumber(), 2);
    EXPECT_EQ(t.Clicks() + t.log.keyUps, 0);

    t.Click(t.At(1, 2));
    ASSERT_TRUE(t.EditorShown());
    QTest::mouseDClick(t.grid.InplaceEditor(), Qt::LeftButton, {}, at);
    EXPECT_EQ(t.log.doubles, 1);
}

TEST(GridMouse, DragStartedOnTheCurrentCellLeavesTheEditorAndClicksAtTheRelease)
{
    MouseGrid t;
    ASSERT_TRUE(t.Focus());
    t.Press(t.At(1, 1));
    EXPECT_TRUE(t.EditorShown()) << "the press on the current cell opens the editor";
    EXPECT_TRUE(t.grid.DragTracking()) << "and tracks the drag as well";
    t.Move(t.At(1, 3));
    EXPECT_EQ(t.query.RecordNumber(), 3);
    EXPECT_FALSE(t.EditorShown()) << "the editor closes with the row";
    t.Release(t.At(1, 3));
    ASSERT_EQ(t.log.cells.size(), 1u);
    EXPECT_EQ(t.log.cells[0], t.grid.ColumnAt(1));
}

TEST(GridMouse, ColumnMoveEndingOverADataCellFiresOnCellClick)
{
    MouseGrid t;
    ASSERT_TRUE(t.Focus());
    t.Press(t.At(3, 0));
    t.Move(t.At(1, 0));
    t.Move(t.At(1, 2));
    t.Release(t.At(1, 2));
    EXPECT_EQ(t.Fields(), (std::vector<std::string>{"amount", "id", "name"}));
    EXPECT_EQ(t.log.moves, (std::vector<std::pair<int, int>>{{2, 0}}));
    ASSERT_EQ(t.log.cells.size(), 1u);
    EXPECT_EQ(t.log.cells[0], t.grid.ColumnAt(1));
    EXPECT_EQ(t.query.RecordNumber(), 1) << "a column move moves no record";
}

TEST(GridMouse, MenuOpeningAbandonsARightButtonColumnMove)
{
    GridInGroupBox g;
    ASSERT_TRUE(g.Focus());
    MouseGrid& t = g.t;
    t.Press(t.At(1, 0), Qt::RightButton);
    ASSERT_EQ(t.grid.GridState(), TGridState::gsColMoving);
    t.Move(t.At(3, 0));
    t.Release(t.At(3, 0), Qt::RightButton);
    EXPECT_EQ(g.menuAt.size(), 1u);
    EXPECT_EQ(t.grid.GridState(), TGridState::gsNormal);
    EXPECT_EQ(t.Fields(), (std::vector<std::string>{"id", "name", "amount"}));
    EXPECT_TRUE(t.log.moves.empty());
}

TEST(GridMouse, EmptyRecordSetClicksOnTheEmptyRowMoveNothing)
{
    GridOverStore t;
    t.store.MakeNumbers(0);
    t.grid.SetReadOnly(true);
    t.Open("SELECT * FROM nums");
    t.ShowRows(7);
    ASSERT_TRUE(t.Focus());
    std::vector<TGridColumn*> cells;
    std::vector<std::string> errors;
    t.grid.OnCellClick = [&](TGridColumn* Column) { cells.push_back(Column); };
    t.grid.OnError = [&](const std::exception& e) { errors.push_back(e.what()); };
    ASSERT_EQ(t.grid.RowCount(), 2);
    QTest::mouseClick(t.grid.viewport(), Qt::LeftButton, {}, t.grid.cellRect(2, 1).center());
    ASSERT_EQ(cells.size(), 1u);
    EXPECT_EQ(cells[0], t.grid.ColumnAt(2));
    QTest::mouseClick(t.grid.viewport(), Qt::LeftButton, {}, t.grid.cellRect(2, 1).center());
    QTest::mouseClick(t.grid.viewport(), Qt::LeftButton, {}, t.grid.cellRect(2, 1).center());
    EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.front());
    EXPECT_TRUE(t.query.Active());
}
