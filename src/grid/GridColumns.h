#pragma once
// The columns of a data grid: TGridColumn (one column, as the grid's events
// receive it), its TColumnTitle, and TDataGridColumns, the collection in
// display order, owned by the grid. Every property follows the
// stored-value-or-default rule: one never assigned reads its default each
// time from its owner (a column from its grid and field, a title from its
// grid). A change asks the grid for a repaint or a layout pass. GUI thread
// only.

#include "data/DataSet.h"
#include "grid/GridTypes.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace querlin::grid {

class TCustomDataGrid;
class TGridColumn;

// The title of one column.
class TColumnTitle {
public:
    explicit TColumnTitle(TGridColumn& column) : column_(column) {}

    std::string Caption() const;
    void SetCaption(const std::string& caption);
    data::TAlignment Alignment() const;
    void SetAlignment(data::TAlignment alignment);
    TColor Color() const;
    void SetColor(TColor color);
    TFont Font() const;
    void SetFont(const TFont& font);
    bool EndEllipsis() const;
    void SetEndEllipsis(bool endEllipsis);
    void RestoreDefaults();

private:
    void Changed();

    TGridColumn& column_;
    std::optional<std::string> caption_;
    std::optional<data::TAlignment> alignment_;
    std::optional<TColor> color_;
    std::optional<TFont> font_;
    std::optional<bool> endEllipsis_;
};

// One column of a data grid, as handed to the grid's events.
class TGridColumn {
public:
    TGridColumn(TCustomDataGrid* grid, bool stored);
    virtual ~TGridColumn();
    TGridColumn(const TGridColumn&) = delete;
    TGridColumn& operator=(const TGridColumn&) = delete;

    TCustomDataGrid* Grid() const { return grid_; }
    // Set for a column that belongs to the form, clear for a default column.
    bool Stored() const { return stored_; }
    int Index() const;  // position in the collection

    // The field shown, or none. A column that lost its field looks it up
    // again by FieldName while the record set is open.
    data::TField* Field() const;
    void SetField(data::TField* field);
    const std::string& FieldName() const { return fieldName_; }
    void SetFieldName(const std::string& name);

    int Width() const;
    void SetWidth(int width);
    int DefaultWidth() const;
    bool WidthAssigned() const { return width_.has_value(); }
    bool Visible() const;
    void SetVisible(bool visible);
    int MinWidth() const { return minWidth_; }
    void SetMinWidth(int width) { minWidth_ = width; }
    int MaxWidth() const { return maxWidth_; }
    void SetMaxWidth(int width) { maxWidth_ = width; }
    data::TAlignment Alignment() const;
    void SetAlignment(data::TAlignment alignment);
    TColor Color() const;
    void SetColor(TColor color);
    TFont Font() const;
    void SetFont(const TFont& font);
    bool ReadOnly() const;
    void SetReadOnly(bool readOnly);
    bool EndEllipsis() const;
    void SetEndEllipsis(bool endEllipsis);
    bool WordWrap() const;
    void SetWordWrap(bool wordWrap);
    TTextLayout Layout() const;
    void SetLayout(TTextLayout layout);
    bool Checkboxes() const;
    void SetCheckboxes(bool checkboxes);

    TColumnTitle& Title() { return title_; }
    const TColumnTitle& Title() const { return title_; }

    // Forgets every assigned value, so all properties follow their defaults.
    void RestoreDefaults();

private:
    friend class TCustomDataGrid;
    friend class TColumnTitle;
    void Changed();
    // Stores a width without the field feedback (see TCustomDataGrid).
    void StoreWidth(int width);

    TCustomDataGrid* grid_;
    bool stored_;
    mutable data::TField* field_ = nullptr;
    std::string fieldName_;
    std::optional<int> width_;
    std::optional<bool> visible_;
    int minWidth_ = 0;
    int maxWidth_ = 0;
    std::optional<data::TAlignment> alignment_;
    std::optional<TColor> color_;
    std::optional<TFont> font_;
    std::optional<bool> readOnly_;
    std::optional<bool> endEllipsis_;
    std::optional<bool> wordWrap_;
    std::optional<TTextLayout> layout_;
    std::optional<bool> checkboxes_;
    TColumnTitle title_;
};

class TDataGridColumn : public TGridColumn {
public:
    using TGridColumn::TGridColumn;
};

enum class TColumnsState { csDefault, csCustomized };

// The columns of a data grid in display order. Owned by the grid.
class TDataGridColumns {
public:
    explicit TDataGridColumns(TCustomDataGrid& grid) : grid_(grid) {}

    int Count() const { return int(items_.size()); }
    TDataGridColumn& operator[](int index) const { return *items_[std::size_t(index)]; }
    // Customized when it holds a column and its first column is stored.
    TColumnsState State() const;

    // A stored column at the end (the form's own columns); requests a layout pass.
    TDataGridColumn& Add();
    void Delete(int index);  // requests a layout pass
    void Clear();
    int IndexOf(const TGridColumn& column) const;

private:
    friend class TCustomDataGrid;
    TDataGridColumn& Insert(int index, bool stored);
    void RemoveAt(int index);
    void Move(int from, int to);

    TCustomDataGrid& grid_;
    std::vector<std::unique_ptr<TDataGridColumn>> items_;
};

} // namespace querlin::grid
