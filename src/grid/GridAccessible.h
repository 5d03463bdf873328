#pragma once
// The data grid as screen readers and desktop automation see it: a table
// through Qt's accessibility interfaces (on Linux, AT-SPI), as Qt's own
// table views are. Its rows are the record set's records (all of them, not
// only the row window), its columns the grid's visible columns with their
// titles as column headers, and each cell's text is its field's display
// text, what the grid paints (a null value reads "null"). The current cell
// is the table's one selected cell and, while the grid has the focus, its
// focused child.
//
// What is announced is kept short: moving to another record, the cell's
// value and "row N"; to another column, the value and the column's title
// (the current cell's description carries the row or the title). The grid's
// own name is its group box's caption (the table shown, on the browser
// window), unless an accessible name was set.
//
// The grid tells the table of changes with GridAccessibleChanged; the table
// compares with what it last told and sends the events at the next turn of
// the event loop, never inside a record set's notification, so an assistive
// technology that reads back at once finds the record set at rest. A grid
// no assistive technology asked about pays one lookup. GUI thread only.

namespace querlin::grid {

class TCustomDataGrid;

// Installs, once per process, the factory that gives every data grid its
// accessible table. The grid calls it when it is made.
void InstallGridAccessibility();

// The grid's notice that its current cell, its records, its columns or its
// focus may have changed.
void GridAccessibleChanged(TCustomDataGrid& grid);

} // namespace querlin::grid
