// The key table as a plain function, without a window: key, modifiers and
// grid state in, the move out; and the column move's target search.
#include "grid/GridNavigation.h"

#include <gtest/gtest.h>

#include <Qt>

#include <ostream>
#include <string>

using namespace querlin::grid;
using Record = NavMove::Record;
using Editor = NavMove::Editor;

namespace {

// An indicator and three data columns of 64; the current cell in the middle
// data column, the third of a ten-record window with 7 full rows.
NavState Sample()
{
    NavState s;
    s.Open = true;
    s.Col = 2;
    s.IndicatorOffset = 1;
    s.ColWidths = {11, 64, 64, 64};
    s.ActiveRecord = 2;
    s.WindowSize = 10;
    s.FullyVisibleRows = 7;
    return s;
}

NavMove By(int n, bool defer = false)
{
    NavMove m;
    m.RecordMove = n == 0 ? Record::None : Record::By;
    m.By = n;
    m.DeferPainting = defer;
    m.Handled = true;
    return m;
}
NavMove To(Record where)
{
    NavMove m;
    m.RecordMove = where;
    m.Handled = true;
    return m;
}
NavMove Col(int col, int direction)
{
    NavMove m;
    m.Col = col;
    m.ColDirection = direction;
    m.Handled = true;
    return m;
}
NavMove Edit(Editor action)
{
    NavMove m;
    m.EditorAction = action;
    m.Handled = true;
    return m;
}
NavMove None(bool handled = false)
{
    NavMove m;
    m.Handled = handled;
    return m;
}
NavMove Find()
{
    NavMove m = None(true);
    m.Find = true;
    return m;
}

struct KeyCase {
    std::string name;
    int key;
    TShiftState shift;
    NavMove expected;
    void (*adjust)(NavState&) = nullptr;
    bool printable = false;
};

void PrintTo(const KeyCase& c, std::ostream* out) { *out << c.name; }

class KeyTable : public testing::TestWithParam<KeyCase> {};

TEST_P(KeyTable, GivesTheMove)
{
    const KeyCase& c = GetParam();
    NavState state = Sample();
    if (c.adjust)
        c.adjust(state);
    EXPECT_EQ(NavigateKey({c.key, c.shift, c.printable}, state), c.expected);
}

const TShiftState kNone;
const TShiftState kShift{ssShift};
const TShiftState kCtrl{ssCtrl};
const TShiftState kAlt{ssAlt};

INSTANTIATE_TEST_SUITE_P(
    Navigation, KeyTable,
    testing::Values(
        KeyCase{.name = "Down", .key = Qt::Key_Down, .shift = kNone, .expected = By(1)},
        KeyCase{.name = "Up", .key = Qt::Key_Up, .shift = kNone, .expected = By(-1)},
        KeyCase{.name = "ShiftDownAsDown", .key = Qt::Key_Down, .shift = kShift, .expected = By(1)},
        KeyCase{.name = "PageDownByTheFullRows", .key = Qt::Key_PageDown, .shift = kNone, .expected = By(7)},
        KeyCase{.name = "PageUpByTheFullRows", .key = Qt::Key_PageUp, .shift = kNone, .expected = By(-7)},
        KeyCase{.name = "ShiftPageDownAsPageDown", .key = Qt::Key_PageDown, .shift = kShift, .expected = By(7)},
        KeyCase{.name = "LeftStepsBack", .key = Qt::Key_Left, .shift = kNone, .expected = Col(1, -1)},
        KeyCase{.name = "RightStepsOn", .key = Qt::Key_Right, .shift = kNone, .expected = Col(3, 1)},
        KeyCase{.name = "ShiftRightAsRight", .key = Qt::Key_Right, .shift = kShift, .expected = Col(3, 1)},
        KeyCase{.name = "RightToLeftSwapsLeft",
                .key = Qt::Key_Left,
                .shift = kNone,
                .expected = Col(3, 1),
                .adjust = [](NavState &s) { s.RightToLeft = true; }},
        KeyCase{.name = "RightToLeftSwapsRight",
                .key = Qt::Key_Right,
                .shift = kNone,
                .expected = Col(1, -1),
                .adjust = [](NavState &s) { s.RightToLeft = true; }},
        KeyCase{.name = "HomeFirstColumn", .key = Qt::Key_Home, .shift = kNone, .expected = Col(1, 1)},
        KeyCase{.name = "EndLastColumn", .key = Qt::Key_End, .shift = kNone, .expected = Col(3, -1)},
        KeyCase{.name = "HomeWithOneDataColumnFirstRecord",
                .key = Qt::Key_Home,
                .shift = kNone,
                .expected = To(Record::First),
                .adjust =
                    [](NavState &s) {
                        s.ColWidths = {11, 64};
                        s.Col = 1;
                    }},
        KeyCase{.name = "EndWithOneDataColumnLastRecord",
                .key = Qt::Key_End,
                .shift = kNone,
                .expected = To(Record::Last),
                .adjust =
                    [](NavState &s) {
                        s.ColWidths = {11, 64};
                        s.Col = 1;
                    }},
        KeyCase{.name = "CtrlHomeFirstRecord", .key = Qt::Key_Home, .shift = kCtrl, .expected = To(Record::First)},
        KeyCase{.name = "CtrlEndLastRecord", .key = Qt::Key_End, .shift = kCtrl, .expected = To(Record::Last)},
        KeyCase{.name = "CtrlUpWindowTop", .key = Qt::Key_Up, .shift = kCtrl, .expected = By(-2)},
        KeyCase{.name = "CtrlPageUpWindowTop", .key = Qt::Key_PageUp, .shift = kCtrl, .expected = By(-2)},
        KeyCase{.name = "CtrlDownWindowBottom", .key = Qt::Key_Down, .shift = kCtrl, .expected = By(7)},
        KeyCase{.name = "CtrlPageDownWindowBottom", .key = Qt::Key_PageDown, .shift = kCtrl, .expected = By(7)},
        KeyCase{.name = "CtrlLeftFirstColumn", .key = Qt::Key_Left, .shift = kCtrl, .expected = Col(1, 1)},
        KeyCase{.name = "CtrlRightLastColumn", .key = Qt::Key_Right, .shift = kCtrl, .expected = Col(3, -1)},
        KeyCase{.name = "TabNextRecordColumnKept", .key = Qt::Key_Tab, .shift = kNone, .expected = By(1, true)},
        KeyCase{.name = "ShiftTabPreviousRecord", .key = Qt::Key_Backtab, .shift = kShift, .expected = By(-1, true)},
        KeyCase{.name = "TabWithShiftModifierWalksBack", .key = Qt::Key_Tab, .shift = kShift, .expected = By(-1, true)},
        KeyCase{.name = "AltTabNothing", .key = Qt::Key_Tab, .shift = kAlt, .expected = None(true)},
        KeyCase{.name = "CtrlTabNothing", .key = Qt::Key_Tab, .shift = kCtrl, .expected = None(true)},
        KeyCase{.name = "TabToTheNextTabStop",
                .key = Qt::Key_Tab,
                .shift = kNone,
                .expected =
                    [] {
                        NavMove m = Col(3, 0);
                        m.DeferPainting = true;
                        m.RecordMove = Record::None;
                        return m;
                    }(),
                .adjust =
                    [](NavState &s) {
                        s.TabStops = {false, true, false, true};
                    }},
        KeyCase{.name = "TabPastTheLastColumnWrapsToTheNextRecord",
                .key = Qt::Key_Tab,
                .shift = kNone,
                .expected =
                    [] {
                        NavMove m = By(1, true);
                        m.Col = 1;
                        return m;
                    }(),
                .adjust =
                    [](NavState &s) {
                        s.TabStops = {false, true, false, false};
                        s.Col = 3;
                    }},
        KeyCase{
            .name = "EnterTogglesTheEditor", .key = Qt::Key_Return, .shift = kNone, .expected = Edit(Editor::Toggle)},
        KeyCase{.name = "ShiftEnterTogglesTheEditor",
                .key = Qt::Key_Return,
                .shift = kShift,
                .expected = Edit(Editor::Toggle)},
        KeyCase{.name = "F2OpensAtTheEnd", .key = Qt::Key_F2, .shift = kNone, .expected = Edit(Editor::OpenAtEnd)},
        KeyCase{.name = "CharacterOpensTheEditor",
                .key = Qt::Key_A,
                .shift = kNone,
                .expected = Edit(Editor::OpenWithKey),
                .adjust = nullptr,
                .printable = true},
        KeyCase{.name = "BackspaceOpensTheEditor",
                .key = Qt::Key_Backspace,
                .shift = kNone,
                .expected = Edit(Editor::OpenWithKey),
                .adjust = nullptr,
                .printable = true},
        KeyCase{.name = "EscClosesTheEditor", .key = Qt::Key_Escape, .shift = kNone, .expected = Edit(Editor::Close)},
        KeyCase{.name = "CtrlFFinds", .key = Qt::Key_F, .shift = kCtrl, .expected = Find()},
        KeyCase{.name = "CtrlFWithoutDialogFindNothing",
                .key = Qt::Key_F,
                .shift = kCtrl,
                .expected = None(true),
                .adjust = [](NavState &s) { s.DialogFind = false; }},
        KeyCase{.name = "InsertNothing", .key = Qt::Key_Insert, .shift = kNone, .expected = None()},
        KeyCase{.name = "DeleteNothing", .key = Qt::Key_Delete, .shift = kNone, .expected = None()},
        KeyCase{.name = "CtrlDeleteNothing", .key = Qt::Key_Delete, .shift = kCtrl, .expected = None()},
        KeyCase{.name = "CtrlCNothing", .key = Qt::Key_C, .shift = kCtrl, .expected = None()},
        KeyCase{.name = "CtrlANothing", .key = Qt::Key_A, .shift = kCtrl, .expected = None()},
        KeyCase{.name = "CtrlVNothing", .key = Qt::Key_V, .shift = kCtrl, .expected = None()},
        KeyCase{.name = "ShiftInsertNothing", .key = Qt::Key_Insert, .shift = kShift, .expected = None()},
        KeyCase{.name = "ClosedSetDownNothing",
                .key = Qt::Key_Down,
                .shift = kNone,
                .expected = None(),
                .adjust = [](NavState &s) { s.Open = false; }},
        KeyCase{.name = "ClosedSetTabKeepsTheFocus",
                .key = Qt::Key_Tab,
                .shift = kNone,
                .expected = None(true),
                .adjust = [](NavState &s) { s.Open = false; }},
        KeyCase{.name = "ClosedSetCtrlFNothing",
                .key = Qt::Key_F,
                .shift = kCtrl,
                .expected = None(),
                .adjust = [](NavState &s) { s.Open = false; }}),
    [](const testing::TestParamInfo<KeyCase> &info) { return info.param.name; });

struct TargetCase {
    std::string name;
    int target, direction;
    std::vector<int> widths;
    int expected;
};

void PrintTo(const TargetCase& c, std::ostream* out) { *out << c.name; }

class ColumnTarget : public testing::TestWithParam<TargetCase> {};

TEST_P(ColumnTarget, SkipsZeroWidthColumnsOrGivesUp)
{
    const TargetCase& c = GetParam();
    EXPECT_EQ(ColumnMoveTarget(c.target, c.direction, c.widths, 1), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Navigation, ColumnTarget,
    testing::Values(
        TargetCase{"Plain", 2, 1, {11, 64, 64, 64}, 2},
        TargetCase{"SkipsAHiddenColumnRight", 2, 1, {11, 64, -1, 64}, 3},
        TargetCase{"SkipsAZeroColumnLeft", 2, -1, {11, 64, 0, 64}, 1},
        TargetCase{"NothingPastTheLast", 4, 1, {11, 64, 64, 64}, 3},
        TargetCase{"NothingWhenOnlyHiddenRemain", 3, 1, {11, 64, 64, 0}, -1},
        TargetCase{"NothingLeftOfTheFirst", 0, -1, {11, 0, 64}, -1},
        TargetCase{"NoDirectionTakesAHiddenColumn", 2, 0, {11, 64, 0, 64}, 2},
        TargetCase{"ClampedIntoTheDataColumns", 0, 0, {11, 64, 64}, 1}),
    [](const testing::TestParamInfo<TargetCase>& info) { return info.param.name; });

TEST(Navigation, VirtualKeyCodes)
{
    struct Case {
        int key;
        int code;
    } cases[] = {{Qt::Key_Tab, 9},     {Qt::Key_Backtab, 9}, {Qt::Key_Return, 13},
                 {Qt::Key_Enter, 13},  {Qt::Key_Escape, 27}, {Qt::Key_PageUp, 33},
                 {Qt::Key_PageDown, 34}, {Qt::Key_End, 35},  {Qt::Key_Home, 36},
                 {Qt::Key_Left, 37},   {Qt::Key_Up, 38},     {Qt::Key_Right, 39},
                 {Qt::Key_Down, 40},   {Qt::Key_A, 65},      {Qt::Key_5, 53},
                 {Qt::Key_F2, 113},    {Qt::Key_Apostrophe, 222}, {Qt::Key_unknown, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(VirtualKeyFor(c.key), c.code) << c.key;
}

} // namespace
