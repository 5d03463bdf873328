#pragma once
// The text search of the grids' find dialog, as plain C++ over a record set:
// the search request, the comparison of a cell text with the search text,
// and the walk over the cells of the record set's snapshot. No Qt and no
// window here: the grid (GridLocate.h) turns its columns into the list of
// fields read here and makes the found cell current afterwards. GUI thread
// (the record set's thread) only.
//
// The walk reads the snapshot in place (data::TRecordScan): no row is
// fetched into the row window and no link hears anything until the search
// has decided; the found record is then made current through the record
// set's moves with its notifications held back, so every grid repaints once.

#include "data/DataSet.h"
#include "data/RecordScan.h"
#include "platform/LetterCase.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace querlin::grid {

enum class TLocateDirection { Up, Down, All };
enum class TLocateMatching { AnyPart, WholeField, FromBeginning };
// Only tree-structured record sets, which this system never has, would use it.
enum class TTreeFindRange { AllNodes, ExpandedNodes, CurrentLevel, CurrentNode };

struct TLocateOptions {
    bool CaseInsensitive = false;
    bool AllColumns = false;
    bool MatchFormat = false;  // compare the display text, else the plain text
    bool StopOnEsc = false;
    bool operator==(const TLocateOptions&) const = default;
};

// The arguments of locate text. An empty field name searches the current
// column (or, with AllColumns, every visible column from the current one).
struct TLocateRequest {
    std::string FieldName;
    std::string Text;
    TLocateOptions Options;
    TLocateDirection Direction = TLocateDirection::All;
    TLocateMatching Matching = TLocateMatching::AnyPart;
    TTreeFindRange TreeRange = TTreeFindRange::AllNodes;
    bool operator==(const TLocateRequest&) const = default;
};

// Compares cell texts with one search text. Case-insensitive comparison
// turns both to capitals under the locale's rules; the search text once, a
// cell into a buffer kept by the matcher. An occurrence always starts on a
// character boundary, and an empty search text occurs in nothing (but equals
// an empty cell, and begins every cell).
class TextMatcher {
public:
    TextMatcher(std::string_view searchText, TLocateMatching matching, bool caseInsensitive,
                const platform::LetterCase& rules = platform::LetterCase::User());
    bool Matches(std::string_view cell);

private:
    std::string needle_;
    TLocateMatching matching_;
    bool caseInsensitive_;
    const platform::LetterCase& rules_;
    std::string upper_;  // the capitals of the cell last compared
};

// Where a search found its cell: the record, and the place of the column in
// the list the search was given.
struct FindHit {
    bool Found = false;
    data::TRecordScan::Row Row;
    int Column = -1;
    // Not found because the walk ran out of rows: the last cell examined,
    // for a search over rows still coming to go on from.
    data::TRecordScan::Row Last;
    int LastColumn = -1;
};

// The walk. `columnFields` lists the searched columns in display order, each
// as the index of its field in the record set (-1: a column without a field,
// whose text is empty); `column` is the place the search starts from. With
// direction All the search starts at the first record and examines that
// cell first; otherwise it takes one step from the current record first, so
// the current cell itself is never examined. A step moves to the next /
// previous column and at the row's end to the first / last column of the
// next / previous record (all columns), or to the next / previous record in
// the same column. There is no wrap-around. `stop` (may be empty) is asked
// now and then whether to give up. With `after` (a search that ran out of
// rows) the walk goes on one step past its last cell instead, in the
// request's direction, so no cell is examined twice.
FindHit FindInRecords(const data::TRecordScan& scan, const std::vector<int>& columnFields,
                      int column, const TLocateRequest& request, TextMatcher& matcher,
                      const std::function<bool()>& stop = {}, const FindHit* after = nullptr);

// A whole search on a record set: notifications held back, the walk, and
// the found record made current; when nothing is found the record set is not
// moved at all, so the rows shown and the current record stay exactly as
// they were. The record set must be open.
FindHit LocateInRecordSet(data::TADOQuery& dataSet, const std::vector<int>& columnFields,
                          int column, const TLocateRequest& request,
                          const std::function<bool()>& stop = {}, const FindHit* after = nullptr);

} // namespace querlin::grid
