#pragma once
// Locate text: the grid operation behind the find dialog's Find next. It
// picks the column to start from (the named one, else the current one),
// hands the visible columns' fields to the record-set search (GridFind.h)
// and makes the found cell current by a column move; the record move is the
// record set's, which the grid follows. GUI thread only.

#include "grid/GridFind.h"

namespace querlin::grid {

class TCustomDataGrid;

// Searches the grid's record set; true when a cell was found, which is then
// the grid's current cell. Not found (also for a closed or missing record
// set, or a grid without visible columns): nothing moves. A field name that
// no column has raises "Field name '<name>' not found"; one whose first
// column is hidden has no place among the shown columns and finds nothing.
bool LocateText(TCustomDataGrid& grid, const TLocateRequest& request);
// The same, telling where a search that ran out of rows stopped; with
// `after` it goes on from there (rows have come since).
FindHit LocateTextAfter(TCustomDataGrid& grid, const TLocateRequest& request, const FindHit* after);

} // namespace querlin::grid
