#pragma once
// TRecordScan: reads the stored rows of an open record set in place, for a
// search that visits many rows. It walks the snapshot, not the row window:
// nothing is fetched, no link hears of it, and a cell's text is read into a
// buffer the caller keeps (text values are views of the stored bytes), so a
// walk over a million rows allocates nothing per row. Once the search has
// decided, MoveTo makes the row it chose current through the record set's
// own moves. Borrowed by its user for one search; GUI thread (the record
// set's thread) only.

#include "data/DataSet.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace querlin::data {

class TRecordScan {
public:
    // A stored row: its physical index (a stable bookmark) and its 0-based
    // place among the rows not deleted.
    struct Row {
        std::int64_t physical = -1;
        std::int64_t position = -1;
        bool Valid() const { return physical >= 0; }
    };

    // The record set must be open. A row being appended is stored or dropped
    // first, as any move would.
    explicit TRecordScan(TADOQuery& dataSet);

    std::int64_t RowCount() const;
    // The current record; not valid when the record set holds no row.
    Row Current() const;
    Row First() const;
    // The following / preceding row; false (the row kept) past the last /
    // before the first.
    bool Next(Row& row) const;
    bool Prior(Row& row) const;

    // The display text (what a grid cell shows) or the plain text of a
    // field's cell, by the field's index. The view lives until the next
    // call with the same scratch.
    std::string_view Text(int fieldIndex, const Row& row, bool display, std::string& scratch) const;

    // Makes a row current exactly as moving one record at a time from the
    // current record (from the first record, with fromFirst) would.
    void MoveTo(const Row& row, bool fromFirst);

private:
    TADOQuery& dataSet_;
};

} // namespace querlin::data
