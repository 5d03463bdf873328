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
        KeyCase{"Down", Qt::Key_Down, kNone, By(1)},
        KeyCase{"Up", Qt::Key_Up, kNone, By(-1)},
        KeyCase{"ShiftDownAsDown", Qt::Key_Down, kShift, By(1)},
        KeyCase{"PageDownByTheFullRows", Qt::Key_PageDown, kNone, By(7)},
        KeyCase{"PageUpByTheFullRows", Qt::Key_PageUp, kNone, By(-7)},
        KeyCase{"ShiftPageDownAsPageDown", Qt::Key_PageDown, kShift, By(7)},
        KeyCase{"LeftStepsBack", Qt::Key_Left, kNone, Col(1, -1)},
        KeyCase{"RightStepsOn", Qt::Key_Right, kNone, Col(3, 1)},
        KeyCase{"ShiftRightAsRight", Qt::Key_Right, kShift, Col(3, 1)},
        KeyCase{"RightToLeftSwapsLeft", Qt::Key_Left, kNone, Col(3, 1),
                [](NavState& s) { s.RightToLeft = true; }},
        KeyCase{"RightToLeftSwapsRight", Qt::Key_Right, kNone, Col(1, -1),
                [](NavState& s) { s.RightToLeft = true; }},
        KeyCase{"HomeFirstColumn", Qt::Key_Home, kNone, Col(1, 1)},
        KeyCase{"EndLastColumn", Qt::Key_End, kNone, Col(3, -1)},
        KeyCase{"HomeWithOneDataColumnFirstRecord", Qt::Key_Home, kNone, To(Record::First),
                [](NavState& s) { s.ColWidths = {11, 64}; s.Col = 1; }},
        KeyCase{"EndWithOneDataColumnLastRecord", Qt::Key_End, kNone, To(Record::Last),
                [](NavState& s) { s.ColWidths = {11, 64}; s.Col = 1; }},
        KeyCase{"CtrlHomeFirstRecord", Qt::Key_Home, kCtrl, To(Record::First)},
        KeyCase{"CtrlEndLastRecord", Qt::Key_End, kCtrl, To(Record::Last)},
        KeyCase{"CtrlUpWindowTop", Qt::Key_Up, kCtrl, By(-2)},
        KeyCase{"CtrlPageUpWindowTop", Qt::Key_PageUp, kCtrl, By(-2)},
        KeyCase{"CtrlDownWindowBottom", Qt::Key_Down, kCtrl, By(7)},
        KeyCase{"CtrlPageDownWindowBottom", Qt::Key_PageDown, kCtrl, By(7)},
        KeyCase{"CtrlLeftFirstColumn", Qt::Key_Left, kCtrl, Col(1, 1)},
        KeyCase{"CtrlRightLastColumn", Qt::Key_Right, kCtrl, Col(3, -1)},
        KeyCase{"TabNextRecordColumnKept", Qt::Key_Tab, kNone, By(1, true)},
        KeyCase{"ShiftTabPreviousRecord", Qt::Key_Backtab, kShift, By(-1, true)},
        KeyCase{"TabWithShiftModifierWalksBack", Qt::Key_Tab, kShift, By(-1, true)},
        KeyCase{"AltTabNothing", Qt::Key_Tab, kAlt, None(true)},
        KeyCase{"CtrlTabNothing", Qt::Key_Tab, kCtrl, None(true)},
        KeyCase{"TabToTheNextTabStop", Qt::Key_Tab, kNone,
                [] { NavMove m = Col(3, 0); m.DeferPainting = true; m.RecordMove = Record::None; return m; }(),
                [](NavState& s) { s.TabStops = {false, true, false, true}; }},
        KeyCase{"TabPastTheLastColumnWrapsToTheNextRecord", Qt::Key_Tab, kNone,
                [] { NavMove m = By(1, true); m.Col = 1; return m; }(),
                [](NavState& s) { s.TabStops = {false, true, false, false}; s.Col = 3; }},
        KeyCase{"EnterTogglesTheEditor", Qt::Key_Return, kNone, Edit(Editor::Toggle)},
        KeyCase{"ShiftEnterTogglesTheEditor", Qt::Key_Return, kShift, Edit(Editor::Toggle)},
        KeyCase{"F2OpensAtTheEnd", Qt::Key_F2, kNone, Edit(Editor::OpenAtEnd)},
        KeyCase{"CharacterOpensTheEditor", Qt::Key_A, kNone, Edit(Editor::OpenWithKey), nullptr, true},
        KeyCase{"BackspaceOpensTheEditor", Qt::Key_Backspace, kNone, Edit(Editor::OpenWithKey), nullptr,
                true},
        KeyCase{"EscClosesTheEditor", Qt::Key_Escape, kNone, Edit(Editor::Close)},
        KeyCase{"CtrlFFinds", Qt::Key_F, kCtrl, Find()},
        KeyCase{"CtrlFWithoutDialogFindNothing", Qt::Key_F, kCtrl, None(true),
                [](NavState& s) { s.DialogFind = false; }},
        KeyCase{"InsertNothing", Qt::Key_Insert, kNone, None()},
        KeyCase{"DeleteNothing", Qt::Key_Delete, kNone, None()},
        KeyCase{"CtrlDeleteNothing", Qt::Key_Delete, kCtrl, None()},
        KeyCase{"CtrlCNothing", Qt::Key_C, kCtrl, None()},
        KeyCase{"CtrlANothing", Qt::Key_A, kCtrl, None()},
        KeyCase{"CtrlVNothing", Qt::Key_V, kCtrl, None()},
        KeyCase{"ShiftInsertNothing", Qt::Key_Insert, kShift, None()},
        KeyCase{"ClosedSetDownNothing", Qt::Key_Down, kNone, None(),
                [](NavState& s) { s.Open = false; }},
        KeyCase{"ClosedSetTabKeepsTheFocus", Qt::Key_Tab, kNone, None(true),
                [](NavState& s) { s.Open = false; }},
        KeyCase{"ClosedSetCtrlFNothing", Qt::Key_F, kCtrl, None(),
                [](NavState& s) { s.Open = false; }}),
    [](const testing::TestParamInfo<KeyCase>& info) { return info.param.name; });

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
