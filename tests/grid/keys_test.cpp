// Keys on a real grid over a real local store, sent as key events through
// QTest: where the current record and column end up, and which key events
// the grid fired.
#include "testsupport/GridTestSupport.h"
#include "grid/TDataGridInplaceEdit.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QKeyEvent>
#include <QWheelEvent>
#include <QLineEdit>
#include <QVBoxLayout>

#include <ostream>
#include <string>
#include <vector>

using namespace querlin;
using namespace querlin::grid;
using querlin::test::GridOverStore;

namespace {

struct KeyLog {
    std::vector<int> downs, ups;
};

void Listen(TDataGrid& grid, KeyLog& log)
{
    grid.OnKeyDown = [&log](TCustomDataGrid*, std::uint16_t& Key, TShiftState) { log.downs.push_back(Key); };
    grid.OnKeyUp = [&log](TCustomDataGrid*, std::uint16_t& Key, TShiftState) { log.ups.push_back(Key); };
}

// A grid over 20 numbers showing 7 full rows, focused.
struct KeyGrid : GridOverStore {
    KeyLog log;
    explicit KeyGrid(const std::string& sql = "SELECT * FROM nums", int records = 20)
    {
        store.MakeNumbers(records);
        grid.SetReadOnly(true);  // as the browser window's grids are
        Open(sql);
        ShowRows(7);
        Listen(grid, log);
    }
};

struct GridKeyCase {
    std::string name;
    std::string sql;
    int startRecord;  // reached by moving from the first record; 0: closed set
    int startCol;
    int key;
    Qt::KeyboardModifiers modifiers;
    int record, col;
    std::vector<int> keyCodes;  // OnKeyDown and OnKeyUp, each once
};

void PrintTo(const GridKeyCase& c, std::ostream* out) { *out << c.name; }

class GridKeys : public testing::TestWithParam<GridKeyCase> {};

TEST_P(GridKeys, MoveTheCurrentCellAndFireTheKeyEvents)
{
    const GridKeyCase& c = GetParam();
    KeyGrid t(c.sql);
    ASSERT_TRUE(t.Focus());
    ASSERT_EQ(t.grid.Geometry().FullyVisibleRows(), 7);
    if (c.startRecord == 0) {
        t.query.Close();
    } else {
        t.query.MoveRows(c.startRecord - 1);
        ASSERT_EQ(t.query.RecordNumber(), c.startRecord);
        t.grid.MoveColumn(c.startCol, 0);
    }
    int rows = t.grid.RowCount();
    int col = t.grid.Col();
    t.log = {};

    QTest::keyClick(&t.grid, Qt::Key(c.key), c.modifiers);

    if (c.startRecord != 0) {
        EXPECT_EQ(t.query.RecordNumber(), c.record);
        EXPECT_EQ(t.query.RecordCount(), 20) << "no record added";
        EXPECT_EQ(t.grid.Col(), c.col);
        EXPECT_EQ(t.grid.Row(), 1 + t.grid.DataLink().ActiveRecord());
    } else {
        EXPECT_EQ(t.grid.Col(), col);
    }
    EXPECT_EQ(t.grid.RowCount(), rows) << "no row added";
    // QTest presses the modifier keys around the key, as a keyboard does.
    std::vector<int> downs, ups = c.keyCodes;
    if (c.modifiers & Qt::ShiftModifier)
        downs.push_back(16);
    if (c.modifiers & Qt::ControlModifier)
        downs.push_back(17);
    downs.insert(downs.end(), c.keyCodes.begin(), c.keyCodes.end());
    ups.insert(ups.end(), downs.rbegin() + int(c.keyCodes.size()), downs.rend());
    EXPECT_EQ(t.log.downs, downs);
    EXPECT_EQ(t.log.ups, ups);
    EXPECT_TRUE(t.grid.hasFocus()) << "the key never takes the focus out of the grid";
}

const char* kAll = "SELECT * FROM nums";
const char* kOne = "SELECT id FROM nums";
constexpr Qt::KeyboardModifiers kNone = Qt::NoModifier;

INSTANTIATE_TEST_SUITE_P(Grid, GridKeys,
                         testing::Values(GridKeyCase{.name = "DownOnTheLastRecordNothing",
                                                     .sql = kAll,
                                                     .startRecord = 20,
                                                     .startCol = 1,
                                                     .key = Qt::Key_Down,
                                                     .modifiers = kNone,
                                                     .record = 20,
                                                     .col = 1,
                                                     .keyCodes = {40}},
                                         GridKeyCase{.name = "UpOnTheFirstRecordNothing",
                                                     .sql = kAll,
                                                     .startRecord = 1,
                                                     .startCol = 1,
                                                     .key = Qt::Key_Up,
                                                     .modifiers = kNone,
                                                     .record = 1,
                                                     .col = 1,
                                                     .keyCodes = {38}},
                                         GridKeyCase{.name = "DownNextRecord",
                                                     .sql = kAll,
                                                     .startRecord = 3,
                                                     .startCol = 2,
                                                     .key = Qt::Key_Down,
                                                     .modifiers = kNone,
                                                     .record = 4,
                                                     .col = 2,
                                                     .keyCodes = {40}},
                                         GridKeyCase{.name = "PageDownBySevenFullRows",
                                                     .sql = kAll,
                                                     .startRecord = 2,
                                                     .startCol = 1,
                                                     .key = Qt::Key_PageDown,
                                                     .modifiers = kNone,
                                                     .record = 9,
                                                     .col = 1,
                                                     .keyCodes = {34}},
                                         GridKeyCase{.name = "PageDownStopsAtTheLast",
                                                     .sql = kAll,
                                                     .startRecord = 16,
                                                     .startCol = 1,
                                                     .key = Qt::Key_PageDown,
                                                     .modifiers = kNone,
                                                     .record = 20,
                                                     .col = 1,
                                                     .keyCodes = {34}},
                                         GridKeyCase{.name = "PageUpBySevenFullRows",
                                                     .sql = kAll,
                                                     .startRecord = 12,
                                                     .startCol = 1,
                                                     .key = Qt::Key_PageUp,
                                                     .modifiers = kNone,
                                                     .record = 5,
                                                     .col = 1,
                                                     .keyCodes = {33}},
                                         GridKeyCase{.name = "TabNextRecordColumnKept",
                                                     .sql = kAll,
                                                     .startRecord = 5,
                                                     .startCol = 2,
                                                     .key = Qt::Key_Tab,
                                                     .modifiers = kNone,
                                                     .record = 6,
                                                     .col = 2,
                                                     .keyCodes = {9}},
                                         GridKeyCase{.name = "TabOnTheLastRecordNothing",
                                                     .sql = kAll,
                                                     .startRecord = 20,
                                                     .startCol = 2,
                                                     .key = Qt::Key_Tab,
                                                     .modifiers = kNone,
                                                     .record = 20,
                                                     .col = 2,
                                                     .keyCodes = {9}},
                                         GridKeyCase{.name = "ShiftTabPreviousRecord",
                                                     .sql = kAll,
                                                     .startRecord = 5,
                                                     .startCol = 3,
                                                     .key = Qt::Key_Backtab,
                                                     .modifiers = Qt::ShiftModifier,
                                                     .record = 4,
                                                     .col = 3,
                                                     .keyCodes = {9}},
                                         GridKeyCase{.name = "ShiftTabOnTheFirstRecordNothing",
                                                     .sql = kAll,
                                                     .startRecord = 1,
                                                     .startCol = 3,
                                                     .key = Qt::Key_Backtab,
                                                     .modifiers = Qt::ShiftModifier,
                                                     .record = 1,
                                                     .col = 3,
                                                     .keyCodes = {9}},
                                         GridKeyCase{.name = "CtrlTabNothing",
                                                     .sql = kAll,
                                                     .startRecord = 5,
                                                     .startCol = 2,
                                                     .key = Qt::Key_Tab,
                                                     .modifiers = Qt::ControlModifier,
                                                     .record = 5,
                                                     .col = 2,
                                                     .keyCodes = {9}},
                                         GridKeyCase{.name = "RightNextColumn",
                                                     .sql = kAll,
                                                     .startRecord = 5,
                                                     .startCol = 1,
                                                     .key = Qt::Key_Right,
                                                     .modifiers = kNone,
                                                     .record = 5,
                                                     .col = 2,
                                                     .keyCodes = {39}},
                                         GridKeyCase{.name = "RightOnTheLastColumnNothing",
                                                     .sql = kAll,
                                                     .startRecord = 5,
                                                     .startCol = 3,
                                                     .key = Qt::Key_Right,
                                                     .modifiers = kNone,
                                                     .record = 5,
                                                     .col = 3,
                                                     .keyCodes = {39}},
                                         GridKeyCase{.name = "LeftOnTheFirstColumnNothing",
                                                     .sql = kAll,
                                                     .startRecord = 5,
                                                     .startCol = 1,
                                                     .key = Qt::Key_Left,
                                                     .modifiers = kNone,
                                                     .record = 5,
                                                     .col = 1,
                                                     .keyCodes = {37}},
                                         GridKeyCase{.name = "HomeFirstColumnRecordStays",
                                                     .sql = kAll,
                                                     .startRecord = 10,
                                                     .startCol = 3,
                                                     .key = Qt::Key_Home,
                                                     .modifiers = kNone,
                                                     .record = 10,
                                                     .col = 1,
                                                     .keyCodes = {36}},
                                         GridKeyCase{.name = "EndLastColumnRecordStays",
                                                     .sql = kAll,
                                                     .startRecord = 10,
                                                     .startCol = 1,
                                                     .key = Qt::Key_End,
                                                     .modifiers = kNone,
                                                     .record = 10,
                                                     .col = 3,
                                                     .keyCodes = {35}},
                                         GridKeyCase{.name = "HomeWithOneDataColumnFirstRecord",
                                                     .sql = kOne,
                                                     .startRecord = 10,
                                                     .startCol = 1,
                                                     .key = Qt::Key_Home,
                                                     .modifiers = kNone,
                                                     .record = 1,
                                                     .col = 1,
                                                     .keyCodes = {36}},
                                         GridKeyCase{.name = "EndWithOneDataColumnLastRecord",
                                                     .sql = kOne,
                                                     .startRecord = 10,
                                                     .startCol = 1,
                                                     .key = Qt::Key_End,
                                                     .modifiers = kNone,
                                                     .record = 20,
                                                     .col = 1,
                                                     .keyCodes = {35}},
                                         GridKeyCase{.name = "CtrlHomeFirstRecord",
                                                     .sql = kAll,
                                                     .startRecord = 10,
                                                     .startCol = 2,
                                                     .key = Qt::Key_Home,
                                                     .modifiers = Qt::ControlModifier,
                                                     .record = 1,
                                                     .col = 2,
                                                     .keyCodes = {36}},
                                         GridKeyCase{.name = "CtrlEndLastRecord",
                                                     .sql = kAll,
                                                     .startRecord = 10,
                                                     .startCol = 2,
                                                     .key = Qt::Key_End,
                                                     .modifiers = Qt::ControlModifier,
                                                     .record = 20,
                                                     .col = 2,
                                                     .keyCodes = {35}},
                                         // From the first record, 9 records on: the window holds 4 .. 10.
                                         GridKeyCase{.name = "CtrlUpToTheWindowsTop",
                                                     .sql = kAll,
                                                     .startRecord = 10,
                                                     .startCol = 1,
                                                     .key = Qt::Key_Up,
                                                     .modifiers = Qt::ControlModifier,
                                                     .record = 4,
                                                     .col = 1,
                                                     .keyCodes = {38}},
                                         GridKeyCase{.name = "CtrlPageUpToTheWindowsTop",
                                                     .sql = kAll,
                                                     .startRecord = 10,
                                                     .startCol = 1,
                                                     .key = Qt::Key_PageUp,
                                                     .modifiers = Qt::ControlModifier,
                                                     .record = 4,
                                                     .col = 1,
                                                     .keyCodes = {33}},
                                         GridKeyCase{.name = "CtrlDownToTheWindowsBottom",
                                                     .sql = kAll,
                                                     .startRecord = 3,
                                                     .startCol = 1,
                                                     .key = Qt::Key_Down,
                                                     .modifiers = Qt::ControlModifier,
                                                     .record = 7,
                                                     .col = 1,
                                                     .keyCodes = {40}},
                                         GridKeyCase{.name = "CtrlPageDownToTheWindowsBottom",
                                                     .sql = kAll,
                                                     .startRecord = 3,
                                                     .startCol = 1,
                                                     .key = Qt::Key_PageDown,
                                                     .modifiers = Qt::ControlModifier,
                                                     .record = 7,
                                                     .col = 1,
                                                     .keyCodes = {34}},
                                         GridKeyCase{.name = "CtrlCNothing",
                                                     .sql = kAll,
                                                     .startRecord = 5,
                                                     .startCol = 2,
                                                     .key = Qt::Key_C,
                                                     .modifiers = Qt::ControlModifier,
                                                     .record = 5,
                                                     .col = 2,
                                                     .keyCodes = {67}},
                                         GridKeyCase{.name = "CtrlANothing",
                                                     .sql = kAll,
                                                     .startRecord = 5,
                                                     .startCol = 2,
                                                     .key = Qt::Key_A,
                                                     .modifiers = Qt::ControlModifier,
                                                     .record = 5,
                                                     .col = 2,
                                                     .keyCodes = {65}},
                                         GridKeyCase{.name = "DeleteNothing",
                                                     .sql = kAll,
                                                     .startRecord = 5,
                                                     .startCol = 2,
                                                     .key = Qt::Key_Delete,
                                                     .modifiers = kNone,
                                                     .record = 5,
                                                     .col = 2,
                                                     .keyCodes = {46}},
                                         GridKeyCase{.name = "InsertNothing",
                                                     .sql = kAll,
                                                     .startRecord = 5,
                                                     .startCol = 2,
                                                     .key = Qt::Key_Insert,
                                                     .modifiers = kNone,
                                                     .record = 5,
                                                     .col = 2,
                                                     .keyCodes = {45}},
                                         GridKeyCase{.name = "ClosedSetDownMovesNothingButFires",
                                                     .sql = kAll,
                                                     .startRecord = 0,
                                                     .startCol = 1,
                                                     .key = Qt::Key_Down,
                                                     .modifiers = kNone,
                                                     .record = 0,
                                                     .col = 1,
                                                     .keyCodes = {40}},
                                         GridKeyCase{.name = "ClosedSetTabMovesNothingButFires",
                                                     .sql = kAll,
                                                     .startRecord = 0,
                                                     .startCol = 1,
                                                     .key = Qt::Key_Tab,
                                                     .modifiers = kNone,
                                                     .record = 0,
                                                     .col = 1,
                                                     .keyCodes = {9}}),
                         [](const testing::TestParamInfo<GridKeyCase> &info) { return info.param.name; });

} // namespace

TEST(GridKeys, CtrlUpAfterMovingInsideTheWindowGoesToItsTop)
{
    KeyGrid t;
    ASSERT_TRUE(t.Focus());
    t.query.MoveRows(9);  // the window holds 4 .. 10, 10 current
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(&t.grid, Qt::Key_Up);
    ASSERT_EQ(t.query.RecordNumber(), 6);
    QTest::keyClick(&t.grid, Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(t.query.RecordNumber(), 4);
    QTest::keyClick(&t.grid, Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(t.query.RecordNumber(), 10);
}

TEST(GridKeys, HeldKeyRepeatsItsPressAndFiresOneKeyUp)
{
    KeyGrid t;
    ASSERT_TRUE(t.Focus());
    auto send = [&](QEvent::Type type, bool repeat) {
        QKeyEvent event(type, Qt::Key_Down, Qt::NoModifier, QString(), repeat);
        QApplication::sendEvent(&t.grid, &event);
    };
    send(QEvent::KeyPress, false);
    for (int i = 0; i < 3; ++i) {
        send(QEvent::KeyRelease, true);  // the platform's release of a repeat
        send(QEvent::KeyPress, true);
    }
    send(QEvent::KeyRelease, false);
    EXPECT_EQ(t.query.RecordNumber(), 5);
    EXPECT_EQ(t.log.downs, (std::vector<int>{40, 40, 40, 40}));
    EXPECT_EQ(t.log.ups, std::vector<int>{40});
}

TEST(GridKeys, TabStaysInTheGridBesideAnotherControl)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    GridOverStore t;
    t.grid.setParent(&window);
    layout->addWidget(&t.grid);
    auto* edit = new QLineEdit(&window);
    layout->addWidget(edit);
    t.store.MakeNumbers(5);
    t.grid.SetReadOnly(true);
    t.Open("SELECT * FROM nums");
    window.resize(500, 300);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    t.grid.setFocus();
    QApplication::processEvents();
    for (int i = 0; i < 6; ++i)
        QTest::keyClick(&t.grid, Qt::Key_Tab);
    EXPECT_TRUE(t.grid.hasFocus());
    EXPECT_EQ(t.query.RecordNumber(), 5);
    QTest::keyClick(&t.grid, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(t.grid.hasFocus());
    EXPECT_EQ(t.query.RecordNumber(), 4);
    t.grid.setParent(nullptr);
}

TEST(GridKeys, ColumnMoveFiresExitAndEnterOnceAndExitIsNotReentered)
{
    KeyGrid t;
    ASSERT_TRUE(t.Focus());
    std::vector<std::string> events;
    t.grid.OnColExit = [&](TCustomDataGrid*) { events.push_back("exit " + std::to_string(t.grid.Col())); };
    t.grid.OnColEnter = [&](TCustomDataGrid*) { events.push_back("enter " + std::to_string(t.grid.Col())); };
    QTest::keyClick(&t.grid, Qt::Key_Right);
    EXPECT_EQ(events, (std::vector<std::string>{"exit 1", "enter 2"}));

    // A handler that moves the column itself: its own move fires no second
    // exit, and the key's move then stops.
    events.clear();
    t.grid.OnColExit = [&](TCustomDataGrid* Sender) {
        events.push_back("exit " + std::to_string(Sender->Col()));
        Sender->MoveColumn(1, 0);
    };
    QTest::keyClick(&t.grid, Qt::Key_Right);
    EXPECT_EQ(events, (std::vector<std::string>{"exit 2", "enter 1"}));
    EXPECT_EQ(t.grid.Col(), 1);
}

TEST(GridKeys, RightSkipsAHiddenColumn)
{
    KeyGrid t;
    ASSERT_TRUE(t.Focus());
    t.grid.Columns()[1].SetVisible(false);
    ASSERT_LE(t.grid.ColWidths(2), 0);
    QTest::keyClick(&t.grid, Qt::Key_Right);
    EXPECT_EQ(t.grid.Col(), 3);
    QTest::keyClick(&t.grid, Qt::Key_Left);
    EXPECT_EQ(t.grid.Col(), 1);
}

TEST(GridKeys, KeyDownHandlerThatClearsTheKeyTakesIt)
{
    KeyGrid t;
    ASSERT_TRUE(t.Focus());
    t.grid.OnKeyDown = [](TCustomDataGrid*, std::uint16_t& Key, TShiftState) { Key = 0; };
    QTest::keyClick(&t.grid, Qt::Key_Down);
    EXPECT_EQ(t.query.RecordNumber(), 1);
}

// ---------------------------------------------------------------- cell editor

namespace {

struct EditorGrid : KeyGrid {
    std::vector<std::string> finds;
    int beeps = 0;
    EditorGrid()
    {
        TCustomDataGrid::SetFindDialogEntry(
            [this](TCustomDataGrid&, const std::string& text) { finds.push_back(text); });
    }
    ~EditorGrid() { TCustomDataGrid::SetFindDialogEntry({}); }
    TDataGridInplaceEdit* Editor() { return grid.InplaceEditor(); }
    bool EditorShown() { return Editor() && Editor()->isVisible(); }
    void Open()
    {
        QTest::keyClick(&grid, Qt::Key_Return);
        if (Editor())
            Editor()->Beep = [this] { ++beeps; };
    }
};

} // namespace

TEST(GridEditor, EnterOpensItOverTheCellWithTheWholeTextSelectedAndEnterClosesIt)
{
    EditorGrid t;
    ASSERT_TRUE(t.Focus());
    t.query.MoveRows(2);
    QTest::keyClick(&t.grid, Qt::Key_Right);  // the name column
    t.Open();
    ASSERT_TRUE(t.EditorShown());
    EXPECT_TRUE(t.grid.EditorMode());
    EXPECT_EQ(t.Editor()->text(), "row 3");
    EXPECT_EQ(t.Editor()->selectedText(), "row 3");
    EXPECT_EQ(t.Editor()->geometry(), t.grid.cellRect(2, t.grid.Row()));
    EXPECT_TRUE(t.Editor()->hasFocus());
    EXPECT_TRUE(t.grid.GridFocused()) << "the grid paints as focused while its editor is";

    QTest::keyClick(t.Editor(), Qt::Key_Return);
    EXPECT_FALSE(t.EditorShown());
    EXPECT_FALSE(t.grid.EditorMode());
    EXPECT_TRUE(t.grid.hasFocus()) << "the focus goes back to the grid";
    TDataGridInplaceEdit* first = t.Editor();
    t.Open();
    EXPECT_EQ(t.Editor(), first) << "one editor for the grid's life";
}

TEST(GridEditor, TypingChangesNothingAndBeepsOnlyForWhatTheFieldRefuses)
{
    EditorGrid t;
    ASSERT_TRUE(t.Focus());
    t.Open();  // the id column, a number
    ASSERT_TRUE(t.EditorShown());
    QTest::keyClicks(t.Editor(), "x");
    EXPECT_EQ(t.beeps, 1) << "a letter in a number field";
    QTest::keyClicks(t.Editor(), "5");
    EXPECT_EQ(t.beeps, 1) << "a digit is refused quietly";
    QTest::keyClick(t.Editor(), Qt::Key_Backspace);
    QTest::keyClick(t.Editor(), Qt::Key_Delete);
    QTest::keyClick(t.Editor(), Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(t.Editor(), Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(t.Editor()->text(), "1");
    EXPECT_EQ(t.query.FieldAt(0).DisplayText(), "1");

    QTest::keyClick(t.Editor(), Qt::Key_Escape);
    QTest::keyClick(&t.grid, Qt::Key_Right);
    t.Open();  // the name column, text
    QTest::keyClicks(t.Editor(), "abc");
    EXPECT_EQ(t.beeps, 1) << "text takes any character";
    EXPECT_EQ(t.Editor()->text(), "row 1");
}

TEST(GridEditor, CtrlCCopiesTheSelectedText)
{
    EditorGrid t;
    ASSERT_TRUE(t.Focus());
    QTest::keyClick(&t.grid, Qt::Key_Right);
    t.Open();
    ASSERT_TRUE(t.EditorShown());
    QApplication::clipboard()->setText("before");
    QTest::keyClick(t.Editor(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "row 1");
    t.Editor()->setSelection(0, 3);
    QTest::keyClick(t.Editor(), Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "row");
}

TEST(GridEditor, ARecordChangeClosesIt)
{
    struct Case {
        const char* name;
        void (*move)(querlin::test::GridOverStore&, TDataGridInplaceEdit*);
    } cases[] = {
        {"by the program", [](querlin::test::GridOverStore& t, TDataGridInplaceEdit*) { t.query.MoveNext(); }},
        {"by Down in the editor",
         [](querlin::test::GridOverStore&, TDataGridInplaceEdit* e) { QTest::keyClick(e, Qt::Key_Down); }},
        {"by Tab in the editor",
         [](querlin::test::GridOverStore&, TDataGridInplaceEdit* e) { QTest::keyClick(e, Qt::Key_Tab); }},
    };
    for (const Case& c : cases) {
        EditorGrid t;
        ASSERT_TRUE(t.Focus());
        t.Open();
        ASSERT_TRUE(t.EditorShown()) << c.name;
        c.move(t, t.Editor());
        EXPECT_EQ(t.query.RecordNumber(), 2) << c.name;
        EXPECT_FALSE(t.EditorShown()) << c.name;
        EXPECT_TRUE(t.grid.hasFocus()) << c.name;
    }
}

TEST(GridEditor, AColumnChangeAndAMousePressCloseIt)
{
    EditorGrid t;
    ASSERT_TRUE(t.Focus());
    t.Open();
    t.grid.MoveColumn(2, 0);
    EXPECT_FALSE(t.EditorShown()) << "column change";
    t.Open();
    ASSERT_TRUE(t.EditorShown());
    QTest::mouseClick(t.grid.viewport(), Qt::LeftButton, {}, t.grid.cellRect(3, 4).center());
    EXPECT_FALSE(t.EditorShown()) << "a press elsewhere";
}

TEST(GridEditor, CtrlFPassesTheEditorsSelectionAndTheGridsEmptyText)
{
    EditorGrid t;
    ASSERT_TRUE(t.Focus());
    QTest::keyClick(&t.grid, Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(t.finds, std::vector<std::string>{""});
    QTest::keyClick(&t.grid, Qt::Key_Right);
    t.Open();
    QTest::keyClick(t.Editor(), Qt::Key_F, Qt::ControlModifier);
    t.Editor()->setSelection(4, 1);
    QTest::keyClick(t.Editor(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(t.finds, (std::vector<std::string>{"", "row 1", "1"}));

    t.grid.SetOptionsEx(t.grid.OptionsEx() - dgxDialogFind);
    QTest::keyClick(&t.grid, Qt::Key_Escape);
    QTest::keyClick(&t.grid, Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(t.finds.size(), 3u) << "no find dialog without dgxDialogFind";
}

TEST(GridEditor, F2PutsTheCaretAtTheEndAndATypedCharacterOpensIt)
{
    EditorGrid t;
    ASSERT_TRUE(t.Focus());
    QTest::keyClick(&t.grid, Qt::Key_Right);
    QTest::keyClick(&t.grid, Qt::Key_F2);
    ASSERT_TRUE(t.EditorShown());
    EXPECT_FALSE(t.Editor()->hasSelectedText());
    EXPECT_EQ(t.Editor()->cursorPosition(), 5);
    QTest::keyClick(t.Editor(), Qt::Key_Escape);
    EXPECT_FALSE(t.EditorShown());

    QTest::keyClicks(&t.grid, "q");
    EXPECT_TRUE(t.EditorShown());
    EXPECT_EQ(t.Editor()->text(), "row 1") << "the character is refused";
}

TEST(GridEditor, EveryKeyReleaseInItFiresTheGridsKeyUp)
{
    EditorGrid t;
    ASSERT_TRUE(t.Focus());
    t.Open();
    t.log = {};
    QTest::keyClick(t.Editor(), Qt::Key_Left);  // stays in the editor
    QTest::keyClick(t.Editor(), Qt::Key_A);
    QTest::keyClick(t.Editor(), Qt::Key_Insert);  // goes to the grid, which does nothing
    QTest::keyClick(t.Editor(), Qt::Key_Down);    // goes to the grid
    EXPECT_EQ(t.log.ups, (std::vector<int>{37, 65, 45, 40}));
    EXPECT_EQ(t.log.downs, (std::vector<int>{45, 40})) << "only the keys the grid handles, once each";
    EXPECT_EQ(t.query.RecordNumber(), 2);
}

TEST(GridEditor, AWheelTurnInItMovesTheRecordAndClosesIt)
{
    EditorGrid t;
    ASSERT_TRUE(t.Focus());
    t.Open();
    ASSERT_TRUE(t.EditorShown());
    QPoint at = t.Editor()->rect().center();
    QWheelEvent wheel(at, t.Editor()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(t.Editor(), &wheel);
    EXPECT_EQ(t.query.RecordNumber(), 2);
    EXPECT_FALSE(t.EditorShown());
}
