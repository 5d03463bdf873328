#pragma once
// TGridDataLink: the data grid's link to its record set. It holds the field
// map (which field each column position shows) and hands every notification
// of the record set on to its grid. Owned by the grid; GUI thread only.

#include "data/DataSet.h"

#include <vector>

namespace querlin::grid {

class TCustomDataGrid;

// The grid's link to its record set: the field map, and the notifications
// handed on to the grid.
class TGridDataLink : public data::TDataLink {
public:
    explicit TGridDataLink(TCustomDataGrid& grid) : grid_(grid) {}

    // Field indexes of the record set in column order; -1 for a name that
    // matches no field.
    const std::vector<int>& FieldMap() const { return fieldMap_; }
    bool SparseMap() const { return sparse_; }
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

    TCustomDataGrid& grid_;
    std::vector<int> fieldMap_;
    bool sparse_ = false;
};

} // namespace querlin::grid
