#include "grid/GridNavigation.h"

#include <Qt>

#include <algorithm>

namespace querlin::grid {

namespace {

using Record = NavMove::Record;
using Editor = NavMove::Editor;

NavMove ByRecords(int by)
{
    NavMove move;
    move.RecordMove = Record::By;
    move.By = by;
    move.Handled = true;
    return move;
}

NavMove ToRecord(Record where)
{
    NavMove move;
    move.RecordMove = where;
    move.Handled = true;
    return move;
}

NavMove ToColumn(int col, int direction)
{
    NavMove move;
    move.Col = col;
    move.ColDirection = direction;
    move.Handled = true;
    return move;
}

NavMove WithEditor(Editor action)
{
    NavMove move;
    move.EditorAction = action;
    move.Handled = true;
    return move;
}

NavMove Nothing(bool handled)
{
    NavMove move;
    move.Handled = handled;
    return move;
}

// From column c, one column at a time, past the last column onto the next
// record (from the first data column on), before the first onto the previous
// record (from the last column back). It stops on a Tab stop, or back at c,
// where the column stays: in a read-only grid there are no Tab stops, so Tab
// is one record move with the column kept.
NavMove TabWalk(const NavState& state, bool forward)
{
    NavMove move;
    move.Handled = true;
    move.DeferPainting = true;
    move.RecordMove = Record::By;
    int col = state.Col;
    int records = 0;
    int first = state.IndicatorOffset;
    int last = state.ColCount() - 1;
    if (last < first)
        return Nothing(true);
    for (int steps = 0; steps <= state.ColCount(); ++steps) {
        col += forward ? 1 : -1;
        if (col > last) {
            col = first;
            ++records;
        } else if (col < first) {
            col = last;
            --records;
        }
        if (col == state.Col)
            break;
        if (col >= 0 && col < int(state.TabStops.size()) && state.TabStops[std::size_t(col)])
            break;
    }
    move.By = records;
    if (col != state.Col)
        move.Col = col;
    if (move.By == 0)
        move.RecordMove = Record::None;
    return move;
}

bool IsMovementKey(int key)
{
    switch (key) {
    case Qt::Key_Up: case Qt::Key_Down: case Qt::Key_PageUp: case Qt::Key_PageDown:
    case Qt::Key_Left: case Qt::Key_Right: case Qt::Key_Home: case Qt::Key_End:
        return true;
    default:
        return false;
    }
}

} // namespace

NavMove NavigateKey(const NavKey& input, const NavState& state)
{
    if (!state.Open)
        return Nothing(input.Key == Qt::Key_Tab || input.Key == Qt::Key_Backtab);
    int key = input.Key;
    TShiftState shift = input.Shift;
    if (state.RightToLeft) {
        if (key == Qt::Key_Left)
            key = Qt::Key_Right;
        else if (key == Qt::Key_Right)
            key = Qt::Key_Left;
    }
    bool ctrl = shift.Contains(ssCtrl);
    // Shift does not extend anything (no multi-selection): movement keys act
    // as without it.
    if (IsMovementKey(key))
        shift -= ssShift;

    if (ctrl && key == Qt::Key_F) {
        NavMove move = Nothing(true);
        move.Find = state.DialogFind;
        return move;
    }

    int firstCol = state.IndicatorOffset;
    int lastCol = state.ColCount() - 1;
    if (ctrl) {
        switch (key) {
        case Qt::Key_Up:
        case Qt::Key_PageUp: return ByRecords(-state.ActiveRecord);
        case Qt::Key_Down:
        case Qt::Key_PageDown: return ByRecords(state.WindowSize - state.ActiveRecord - 1);
        case Qt::Key_Home: return ToRecord(Record::First);
        case Qt::Key_End: return ToRecord(Record::Last);
        case Qt::Key_Left: return ToColumn(firstCol, 1);
        case Qt::Key_Right: return ToColumn(lastCol, -1);
        default: return Nothing(key == Qt::Key_Tab || key == Qt::Key_Backtab);
        }
    }

    switch (key) {
    case Qt::Key_Up: return ByRecords(-1);
    case Qt::Key_Down: return ByRecords(1);
    case Qt::Key_PageUp: return ByRecords(-state.FullyVisibleRows);
    case Qt::Key_PageDown: return ByRecords(state.FullyVisibleRows);
    case Qt::Key_Left: return ToColumn(state.Col - 1, -1);
    case Qt::Key_Right: return ToColumn(state.Col + 1, 1);
    case Qt::Key_Home:
        return state.DataColumns() == 1 ? ToRecord(Record::First) : ToColumn(firstCol, 1);
    case Qt::Key_End:
        return state.DataColumns() == 1 ? ToRecord(Record::Last) : ToColumn(lastCol, -1);
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        if (shift.Contains(ssAlt) || !state.Tabs)
            return Nothing(true);
        return TabWalk(state, key == Qt::Key_Tab && !shift.Contains(ssShift));
    case Qt::Key_Return:
    case Qt::Key_Enter: return WithEditor(Editor::Toggle);
    case Qt::Key_F2: return WithEditor(Editor::OpenAtEnd);
    case Qt::Key_Escape: return WithEditor(Editor::Close);
    default: break;
    }
    if (input.Printable && !shift.Contains(ssAlt))
        return WithEditor(Editor::OpenWithKey);
    // Insert, Delete and the clipboard keys would change the data or need
    // edit actions the grid does not have: nothing.
    return Nothing(false);
}

int ColumnMoveTarget(int target, int direction, const std::vector<int>& colWidths,
                     int indicatorOffset)
{
    int count = int(colWidths.size());
    if (count <= indicatorOffset)
        return -1;
    target = std::clamp(target, indicatorOffset, count - 1);
    if (direction != 0)
        while (colWidths[std::size_t(target)] <= 0) {
            target += direction;
            if (target < indicatorOffset || target >= count)
                return -1;
        }
    return target;
}

std::uint16_t VirtualKeyFor(int qtKey)
{
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return std::uint16_t(qtKey);  // the same capital ASCII codes
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return std::uint16_t(qtKey);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return std::uint16_t(vkF1 + (qtKey - Qt::Key_F1));
    switch (qtKey) {
    case Qt::Key_Backspace: return vkBack;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return vkTab;  // Shift+Tab arrives as Backtab
    case Qt::Key_Return:
    case Qt::Key_Enter: return vkReturn;
    case Qt::Key_Shift: return vkShift;
    case Qt::Key_Control: return vkControl;
    case Qt::Key_Alt: return vkMenu;
    case Qt::Key_Pause: return vkPause;
    case Qt::Key_CapsLock: return vkCapital;
    case Qt::Key_Escape: return vkEscape;
    case Qt::Key_Space: return vkSpace;
    case Qt::Key_PageUp: return vkPrior;
    case Qt::Key_PageDown: return vkNext;
    case Qt::Key_End: return vkEnd;
    case Qt::Key_Home: return vkHome;
    case Qt::Key_Left: return vkLeft;
    case Qt::Key_Up: return vkUp;
    case Qt::Key_Right: return vkRight;
    case Qt::Key_Down: return vkDown;
    case Qt::Key_Insert: return vkInsert;
    case Qt::Key_Delete: return vkDelete;
    case Qt::Key_Semicolon: return vkOemSemicolon;
    case Qt::Key_Equal: return vkOemPlus;
    case Qt::Key_Comma: return vkOemComma;
    case Qt::Key_Minus: return vkOemMinus;
    case Qt::Key_Period: return vkOemPeriod;
    case Qt::Key_Slash: return vkOemSlash;
    case Qt::Key_QuoteLeft: return vkOemBackquote;
    case Qt::Key_BracketLeft: return vkOemOpenBracket;
    case Qt::Key_Backslash: return vkOemBackslash;
    case Qt::Key_BracketRight: return vkOemCloseBracket;
    case Qt::Key_Apostrophe: return vkOemQuote;
    default: return vkNone;
    }
}

std::ostream& operator<<(std::ostream& out, const NavMove& move)
{
    static const char* const records[] = {"none", "by", "first", "last"};
    static const char* const editors[] = {"none", "toggle", "open at end", "open with key", "close"};
    out << "{record " << records[int(move.RecordMove)];
    if (move.RecordMove == Record::By)
        out << " " << move.By;
    if (move.Col >= 0)
        out << ", column " << move.Col << " dir " << move.ColDirection;
    if (move.EditorAction != Editor::None)
        out << ", editor " << editors[int(move.EditorAction)];
    if (move.Find)
        out << ", find";
    if (move.DeferPainting)
        out << ", deferred";
    out << (move.Handled ? ", handled}" : "}");
    return out;
}

} // namespace querlin::grid
