// Following the record set, the scroll bars and their messages, and what a
// move repaints, on a real grid over a real local store.
#include "testsupport/GridTestSupport.h"

#include <gtest/gtest.h>

#include <QScreen>
#include <QScrollBar>
#include <QWindow>

#include <set>
#include <vector>

using namespace querlin;
using namespace querlin::grid;
using querlin::test::GridOverStore;

namespace {

// A grid over `records` numbers showing `rows` full rows, focused.
struct ScrollGrid : GridOverStore {
    ScrollGrid(int records, int rows, QSize size = QSize(600, 300)) : GridOverStore(size)
    {
        store.MakeNumbers(records);
        grid.SetReadOnly(true);
        Open("SELECT * FROM nums");
        ShowRows(rows, size.width());
    }
    QScrollBar* VBar() { return grid.verticalScrollBar(); }
    QScrollBar* HBar() { return grid.horizontalScrollBar(); }
    // A thumb dragged to a position and let go there.
    static void Drag(QScrollBar* bar, int position, bool release = true)
    {
        bar->setSliderDown(true);
        bar->setSliderPosition(position);
        if (release)
            bar->setSliderDown(false);
    }
};

// The record numbers of the data cells painted, as the draw hook sees them.
struct PaintLog {
    std::multiset<int> records;
    void Install(TDataGrid& grid, data::TADOQuery& query)
    {
        grid.OnDrawColumnCell = [this, &query](TCustomDataGrid*, const QRect&, int, TGridColumn*,
                                               TGridDrawState) { records.insert(query.RecordNumber()); };
    }
    std::set<int> Rows() const { return {records.begin(), records.end()}; }
};

} // namespace

TEST(GridScrolling, HundredRecordsInAWindowOfTen)
{
    ScrollGrid t(100, 10);
    ASSERT_EQ(t.grid.Geometry().FullyVisibleRows(), 10);
    t.query.SetRecordNumber(50);
    VertScrollValues v = t.grid.VertScrollInfo();
    EXPECT_EQ(v.Minimum, 1);
    EXPECT_EQ(v.Maximum, 109);
    EXPECT_EQ(v.Page, 10);
    EXPECT_EQ(v.Position, 50);
    // Qt's bar counts the thumb's positions: 1..100, the thumb at 50.
    EXPECT_EQ(t.VBar()->minimum(), 1);
    EXPECT_EQ(t.VBar()->maximum(), 100);
    EXPECT_EQ(t.VBar()->pageStep(), 10);
    EXPECT_EQ(t.VBar()->value(), 50);
}

TEST(GridScrolling, BarShownFromTwoRecordsOn)
{
    struct Case {
        const char* name;
        int records;
        bool shown;
    } cases[] = {{"empty", 0, false}, {"one record", 1, false}, {"two records", 2, true}};
    for (const Case& c : cases) {
        ScrollGrid t(c.records, 10);
        QApplication::processEvents();
        EXPECT_EQ(t.VBar()->isVisible(), c.shown) << c.name;
        if (c.shown) {
            // Both records are shown: a page of 2 in 3 positions, so the
            // thumb covers all but one.
            EXPECT_EQ(t.grid.VertScrollInfo().Maximum, 3) << c.name;
            EXPECT_EQ(t.grid.VertScrollInfo().Page, 2) << c.name;
        }
    }
}

TEST(GridScrolling, BarIsWrittenOnlyWhenAValueChanges)
{
    ScrollGrid t(100, 10);
    int writes = 0;
    QObject::connect(t.VBar(), &QScrollBar::rangeChanged, [&] { ++writes; });
    QObject::connect(t.VBar(), &QScrollBar::valueChanged, [&] { ++writes; });
    t.query.MoveNext();
    EXPECT_EQ(writes, 1) << "the position";
    t.grid.LayoutChanged();
    EXPECT_EQ(writes, 1) << "a layout pass that changes nothing writes nothing";
}

TEST(GridScrolling, LineDownFromTheThirdOfTenMakesTheEleventhCurrentAndShiftsOneRow)
{
    ScrollGrid t(100, 10);
    ASSERT_TRUE(t.Focus());
    t.query.MoveRows(2);
    ASSERT_EQ(t.grid.Row(), 3);
    PaintLog log;
    log.Install(t.grid, t.query);
    ScrollGrid::Flush();
    log.records.clear();

    t.VBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(t.query.RecordNumber(), 11);
    EXPECT_EQ(t.grid.Row(), 10) << "the bottom row";
    EXPECT_EQ(t.VBar()->value(), 11);
    ScrollGrid::Flush();
    // The rows moved up by one: only the uncovered row and the old current
    // record's row (now one higher) are painted.
    EXPECT_EQ(log.Rows(), (std::set<int>{3, 11}));

    t.VBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(t.query.RecordNumber(), 1) << "the record above the window (2 .. 11)";
}

TEST(GridScrolling, PageAndEndMessagesMoveTheRecordSet)
{
    struct Case {
        const char* name;
        QAbstractSlider::SliderAction action;
        int start, expected;
    } cases[] = {
        {"page down", QAbstractSlider::SliderPageStepAdd, 5, 15},
        {"page up", QAbstractSlider::SliderPageStepSub, 50, 40},
        {"bottom", QAbstractSlider::SliderToMaximum, 5, 100},
        {"top", QAbstractSlider::SliderToMinimum, 50, 1},
    };
    for (const Case& c : cases) {
        ScrollGrid t(100, 10);
        ASSERT_TRUE(t.Focus());
        t.query.SetRecordNumber(c.start);
        t.VBar()->triggerAction(c.action);
        EXPECT_EQ(t.query.RecordNumber(), c.expected) << c.name;
        EXPECT_EQ(t.VBar()->value(), c.expected) << c.name;
    }
}

TEST(GridScrolling, ThumbReleasedAtTheEndsAndDraggedWithoutRelease)
{
    ScrollGrid t(100, 10);
    ASSERT_TRUE(t.Focus());
    t.query.SetRecordNumber(30);
    ScrollGrid::Drag(t.VBar(), t.VBar()->maximum(), false);
    EXPECT_EQ(t.query.RecordNumber(), 30) << "dragging moves nothing while Tracking is off";
    t.VBar()->setSliderDown(false);
    EXPECT_EQ(t.query.RecordNumber(), 100) << "released at the bottom: the last record";
    ScrollGrid::Drag(t.VBar(), t.VBar()->minimum());
    EXPECT_EQ(t.query.RecordNumber(), 1) << "released at the top: the first";
    ScrollGrid::Drag(t.VBar(), 42);
    EXPECT_EQ(t.query.RecordNumber(), 42);
    EXPECT_EQ(t.VBar()->value(), 42);
}

TEST(GridScrolling, WithTrackingADraggedThumbMovesAtOnceAndItsReleaseIsSkipped)
{
    ScrollGrid t(100, 10);
    ASSERT_TRUE(t.Focus());
    t.grid.VertScrollBar().Tracking = true;
    t.grid.LayoutChanged();  // the bar takes the setting at its next update
    ASSERT_TRUE(t.VBar()->hasTracking());
    ScrollGrid::Drag(t.VBar(), 30, false);
    EXPECT_EQ(t.query.RecordNumber(), 30);
    t.VBar()->setSliderDown(false);
    EXPECT_EQ(t.query.RecordNumber(), 30);
    // The next message is not swallowed by the tracked move before it.
    t.VBar()->triggerAction(QAbstractSlider::SliderMove);
    t.VBar()->setSliderPosition(60);
    t.VBar()->triggerAction(QAbstractSlider::SliderMove);
    EXPECT_EQ(t.query.RecordNumber(), 60);
}

TEST(GridScrolling, BarMessagesWhileClosedDoNothing)
{
    ScrollGrid t(100, 10);
    ASSERT_TRUE(t.Focus());
    t.query.Close();
    t.VBar()->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_FALSE(t.query.Active());
    EXPECT_EQ(t.VBar()->value(), 0);
}

TEST(GridScrolling, HorizontalBarOverColumnsWiderThanTheGrid)
{
    ScrollGrid t(20, 7, QSize(200, 300));
    QApplication::processEvents();
    ASSERT_TRUE(t.Focus());
    const GridGeometry& g = t.grid.Geometry();
    ASSERT_GT(g.MaxLeftCol(), g.FixedCols());
    EXPECT_EQ(t.HBar()->minimum(), 0);
    EXPECT_EQ(t.HBar()->maximum(), 127);
    EXPECT_EQ(t.HBar()->value(), 0);

    ScrollGrid::Drag(t.HBar(), 100, false);
    EXPECT_EQ(t.grid.LeftCol(), 1) << "dragging moves nothing while Tracking is off";
    ScrollGrid::Drag(t.HBar(), 127);
    EXPECT_EQ(t.grid.LeftCol(), g.MaxLeftCol());
    int last = t.grid.ColCount() - 1;
    QRect lastCell = t.grid.cellRect(last, 1);
    EXPECT_FALSE(lastCell.isEmpty());
    EXPECT_LE(lastCell.right(), t.grid.viewport()->width() - 1) << "the last column in full";
    EXPECT_EQ(t.HBar()->value(), 127);

    t.HBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(t.grid.LeftCol(), g.MaxLeftCol()) << "line right on the last left column: nothing";
    EXPECT_EQ(t.HBar()->value(), 127);
    t.HBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(t.grid.LeftCol(), g.MaxLeftCol() - 1);
    t.HBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(t.grid.LeftCol(), 1);
    EXPECT_EQ(t.HBar()->value(), 0);
}

TEST(GridScrolling, MovingToAColumnOutOfViewMakesItVisible)
{
    ScrollGrid t(20, 7, QSize(200, 300));
    QApplication::processEvents();
    ASSERT_TRUE(t.Focus());
    QTest::keyClick(&t.grid, Qt::Key_End);
    int last = t.grid.ColCount() - 1;
    EXPECT_EQ(t.grid.Col(), last);
    QRect cell = t.grid.cellRect(last, t.grid.Row());
    EXPECT_FALSE(cell.isEmpty());
    EXPECT_LE(cell.right(), t.grid.viewport()->width() - 1);
    EXPECT_EQ(t.HBar()->value(), t.grid.Geometry().HorzPositionForLeftCol(t.grid.LeftCol()));
    QTest::keyClick(&t.grid, Qt::Key_Home);
    EXPECT_EQ(t.grid.LeftCol(), 1);
}

TEST(GridScrolling, ResizeUnderAnUpdateLockWaitsForTheRelease)
{
    ScrollGrid t(100, 10);
    int pitch = t.grid.DataRowHeight() + 1;
    int before = t.grid.RowWindowSize();
    t.grid.BeginUpdate();
    t.grid.resize(t.grid.width(), t.grid.height() + 2 * pitch);
    EXPECT_EQ(t.grid.RowWindowSize(), before);
    t.grid.EndUpdate();
    EXPECT_EQ(t.grid.RowWindowSize(), before + 2);
    EXPECT_EQ(t.grid.VertScrollInfo().Page, 12);
}

TEST(GridScrolling, WheelNotchesMoveOneRecordEach)
{
    ScrollGrid t(100, 10);
    ASSERT_TRUE(t.Focus());
    QPoint at = t.grid.viewport()->rect().center();
    auto turn = [&](int delta) {
        QWheelEvent wheel(at, t.grid.viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(t.grid.viewport(), &wheel);
    };
    turn(-120);
    EXPECT_EQ(t.query.RecordNumber(), 2) << "toward the user: one on";
    turn(-60);
    EXPECT_EQ(t.query.RecordNumber(), 2) << "half a notch";
    turn(-60);
    EXPECT_EQ(t.query.RecordNumber(), 3);
    turn(240);
    EXPECT_EQ(t.query.RecordNumber(), 1);
}

// ---------------------------------------------------------------- painting economy

TEST(GridScrolling, AOneRowMoveInsideTheWindowRepaintsOnlyTheTwoRows)
{
    ScrollGrid t(100, 10);
    ASSERT_TRUE(t.Focus());
    PaintLog log;
    log.Install(t.grid, t.query);
    t.query.MoveRows(4);
    ScrollGrid::Flush();
    log.records.clear();
    QTest::keyClick(&t.grid, Qt::Key_Down);
    ScrollGrid::Flush();
    EXPECT_EQ(log.Rows(), (std::set<int>{5, 6}));
    EXPECT_EQ(log.records.size(), 2u * 3u) << "three columns in each";
}

TEST(GridScrolling, AMovePastTheBottomShiftsThePixelsAndPaintsTheNewRow)
{
    ScrollGrid t(100, 10);
    ASSERT_TRUE(t.Focus());
    PaintLog log;
    log.Install(t.grid, t.query);
    t.query.MoveRows(9);  // the last row of the window
    ScrollGrid::Flush();
    log.records.clear();
    QTest::keyClick(&t.grid, Qt::Key_Down);
    ScrollGrid::Flush();
    EXPECT_EQ(t.query.RecordNumber(), 11);
    // Record 11 is the row the shift uncovered; record 10, one row higher
    // now, loses the current-row look. Nothing else is painted.
    EXPECT_EQ(log.Rows(), (std::set<int>{10, 11}));

    // What the window shows equals a full paint of the same state.
    QImage shown = t.grid.screen()->grabWindow(t.grid.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    QImage full = t.Shot();
    if (shown.isNull())
        GTEST_SKIP() << "the platform cannot read back the window";
    QPoint offset = t.grid.viewport()->mapTo(&t.grid, QPoint(0, 0));
    QImage part = shown.copy(QRect(offset, full.size()));
    EXPECT_EQ(part, full);
}

TEST(GridScrolling, AJumpBeyondTheVisibleRowsRepaintsEverything)
{
    ScrollGrid t(100, 10);
    ASSERT_TRUE(t.Focus());
    PaintLog log;
    log.Install(t.grid, t.query);
    ScrollGrid::Flush();
    log.records.clear();
    QTest::keyClick(&t.grid, Qt::Key_End, Qt::ControlModifier);
    ScrollGrid::Flush();
    EXPECT_EQ(log.Rows().size(), 10u);
}
