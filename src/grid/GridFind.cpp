#include "grid/GridFind.h"

#include <algorithm>

namespace querlin::grid {

namespace {

bool IsContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Holds a record set's notifications back for a scope.
class HeldLinks {
public:
    explicit HeldLinks(data::TADOQuery& dataSet) : dataSet_(dataSet) { dataSet_.SuspendLinks(); }
    ~HeldLinks() { dataSet_.ResumeLinks(); }
    HeldLinks(const HeldLinks&) = delete;
    HeldLinks& operator=(const HeldLinks&) = delete;

private:
    data::TADOQuery& dataSet_;
};

// Cells between two questions whether to stop.
constexpr int kStopInterval = 4096;

} // namespace

TextMatcher::TextMatcher(std::string_view searchText, TLocateMatching matching, bool caseInsensitive,
                         const platform::LetterCase& rules)
    : matching_(matching), caseInsensitive_(caseInsensitive), rules_(rules)
{
    if (caseInsensitive_) {
        std::string buffer;
        needle_ = std::string(rules_.ToUpper(searchText, buffer));
    } else {
        needle_ = std::string(searchText);
    }
}

bool TextMatcher::Matches(std::string_view cell)
{
    if (matching_ == TLocateMatching::AnyPart && needle_.empty())
        return false;
    const std::string_view text = caseInsensitive_ ? rules_.ToUpper(cell, upper_) : cell;
    switch (matching_) {
    case TLocateMatching::WholeField: return text == needle_;
    case TLocateMatching::FromBeginning: return text.substr(0, needle_.size()) == needle_;
    case TLocateMatching::AnyPart:
        // A search text of whole characters can only be found where a
        // character starts; a text that is not (a stray byte) is held to the
        // same rule.
        for (std::size_t at = text.find(needle_); at != std::string_view::npos;
             at = text.find(needle_, at + 1)) {
            if (!IsContinuationByte(text[at]))
                return true;
        }
        return false;
    }
    return false;
}

FindHit FindInRecords(const data::TRecordScan& scan, const std::vector<int>& columnFields,
                      int column, const TLocateRequest& request, TextMatcher& matcher,
                      const std::function<bool()>& stop, const FindHit* after)
{
    const int n = static_cast<int>(columnFields.size());
    if (n == 0)
        return {};
    int p = std::clamp(column, 0, n - 1);
    const bool allColumns = request.Options.AllColumns;
    const bool display = request.Options.MatchFormat;
    const bool forward = request.Direction != TLocateDirection::Up;

    auto step = [&](data::TRecordScan::Row& row) {
        if (allColumns) {
            if (forward) {
                if (p < n - 1) {
                    ++p;
                    return true;
                }
                if (!scan.Next(row))
                    return false;
                p = 0;
                return true;
            }
            if (p > 0) {
                --p;
                return true;
            }
            if (!scan.Prior(row))
                return false;
            p = n - 1;
            return true;
        }
        return forward ? scan.Next(row) : scan.Prior(row);
    };

    data::TRecordScan::Row row;
    if (after) {
        row = after->Last;
        p = std::clamp(after->LastColumn, 0, n - 1);
        if (!row.Valid())
            return {};
        if (!step(row))
            return FindHit{false, {}, -1, row, p};
    } else if (request.Direction == TLocateDirection::All) {
        row = scan.First();
        if (!row.Valid())
            return {};
    } else {
        row = scan.Current();
        if (!row.Valid())
            return {};
        if (!step(row))
            return FindHit{false, {}, -1, row, p};
    }
    std::string scratch;
    int untilStop = kStopInterval;
    for (;;) {
        const int field = columnFields[static_cast<std::size_t>(p)];
        const std::string_view text = field < 0 ? std::string_view() : scan.Text(field, row, display, scratch);
        if (matcher.Matches(text))
            return FindHit{true, row, p, {}, -1};
        if (stop && --untilStop == 0) {
            untilStop = kStopInterval;
            if (stop())
                return {};
        }
        const data::TRecordScan::Row last = row;
        const int lastColumn = p;
        if (!step(row))
            return FindHit{false, {}, -1, last, lastColumn};
    }
}

FindHit LocateInRecordSet(data::TADOQuery& dataSet, const std::vector<int>& columnFields,
                          int column, const TLocateRequest& request,
                          const std::function<bool()>& stop, const FindHit* after)
{
    HeldLinks held(dataSet);
    data::TRecordScan scan(dataSet);
    TextMatcher matcher(request.Text, request.Matching, request.Options.CaseInsensitive);
    FindHit hit = FindInRecords(scan, columnFields, column, request, matcher,
                                request.Options.StopOnEsc ? stop : std::function<bool()>(), after);
    if (hit.Found)
        scan.MoveTo(hit.Row, request.Direction == TLocateDirection::All);
    return hit;
}

} // namespace querlin::grid
