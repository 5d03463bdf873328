#pragma once
// Keyboard navigation of a data grid as a plain function: a key with its
// modifiers and the grid's state in, the move to make out. No window: the
// widget turns a key event into a NavKey, asks NavigateKey and carries the
// answer out through the record set and the column move. Tests drive it with
// tables.
//
// Also here: the column move's target search (past columns of width 0) and
// the Tab walk, both pure, and the Windows virtual-key code of a Qt key, which
// the grid's key events carry.

#include "grid/GridTypes.h"

#include <cstdint>
#include <ostream>
#include <vector>

namespace querlin::grid {

struct NavKey {
    int Key = 0;  // a Qt::Key
    TShiftState Shift;
    bool Printable = false;  // the press carries a character the editor would take (or Backspace)
};

struct NavState {
    bool Open = false;           // the record set is open
    bool RightToLeft = false;    // Left and Right swap
    int Col = 1;                 // current grid column
    int IndicatorOffset = 1;
    std::vector<int> ColWidths;  // every grid column's width, the indicator included
    std::vector<bool> TabStops;  // per grid column; empty: none (a read-only grid)
    int ActiveRecord = 0;        // position of the current record in the row window
    int WindowSize = 1;          // records the row window may hold
    int FullyVisibleRows = 1;    // the page size
    bool DialogFind = true;      // dgxDialogFind
    bool Tabs = true;            // dgTabs: Tab walks the cells
    bool EditorShown = false;

    int ColCount() const { return int(ColWidths.size()); }
    int DataColumns() const { return ColCount() - IndicatorOffset; }
};

struct NavMove {
    enum class Record { None, By, First, Last };
    enum class Editor { None, Toggle, OpenAtEnd, OpenWithKey, Close };

    Record RecordMove = Record::None;
    int By = 0;                 // with Record::By
    int Col = -1;               // target of a column move, -1 for none
    int ColDirection = 0;       // +1 / -1: step past columns of width 0
    Editor EditorAction = Editor::None;
    bool Find = false;          // open the find dialog with an empty text
    bool DeferPainting = false; // the Tab walk: one repaint at its end
    bool Handled = false;       // the key is the grid's (it goes no further)

    bool operator==(const NavMove&) const = default;
};

// What a key press does, once OnKeyDown has run.
NavMove NavigateKey(const NavKey& key, const NavState& state);

// The column a column move lands on: the target clamped to the data columns
// and, with a direction, stepped past columns of width 0; -1 when that
// leaves the columns.
int ColumnMoveTarget(int target, int direction, const std::vector<int>& colWidths,
                     int indicatorOffset);

// Windows virtual-key code of a Qt key (TVirtualKey; letters and digits as
// their capital ASCII code); vkNone for a key that has none.
std::uint16_t VirtualKeyFor(int qtKey);

std::ostream& operator<<(std::ostream& out, const NavMove& move);

} // namespace querlin::grid
