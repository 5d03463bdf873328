#pragma once
// TGridDataLink: the data grid's link to its record set. It holds the field
// map (which field each column position shows) and hands every notification
// of the record set on to its grid, which it sees only as a GridLinkListener.
// Owned by the grid; GUI thread only.

#include "data/DataSet.h"

#include <vector>

namespace querlin::grid {

class TCustomDataGrid;

// What the link hands the record set's notifications to: the grid.
class GridLinkListener {
public:
    virtual void LinkActiveChanged() = 0;
    virtual void LinkEditingChanged() = 0;
    virtual void LinkDataChanged() = 0;
    virtual void LinkScrolled(int distance) = 0;
    virtual void LinkRecordChanged(data::TField* field) = 0;
    virtual void LinkLayoutChanged() = 0;

protected:
    ~GridLinkListener() = default;
};

// The grid's link to its record set: the field map, and the notifications
// handed on to the grid.
class TGridDataLink : public data::TDataLink {
public:
    explicit TGridDataLink(GridLinkListener& listener) : listener_(listener) {}

    // Field indexes of the record set in column order; -1 for a name that
    // matches no field.
    const std::vector<int>& FieldMap() const { return fieldMap_; }
    data::TField* Fields(int position) const;

protected:
    void ActiveChanged() override;
    void EditingChanged() override;
    void DataSetChanged() override;
    void DataSetScrolled(int distance) override;
    void RecordChanged(data::TField* field) override;
    void LayoutChanged() override;

private:
    friend class TCustomDataGrid;
    void ClearMapping();
    void AddMapping(int fieldIndex);
    // The field of one column position moved to another, as its column was.
    void MoveMapping(int from, int to);

    GridLinkListener& listener_;
    std::vector<int> fieldMap_;
};

} // namespace querlin::grid
