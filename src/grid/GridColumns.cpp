#include "grid/GridColumns.h"

#include "grid/TDataGrid.h"

#include <algorithm>

namespace querlin::grid {

using data::TAlignment;
using data::TField;
using data::TFieldType;

namespace {

// The width of a column that belongs to no grid: the cell grid's default.
constexpr int kClosedColumnWidth = 64;

} // namespace

// ---------------------------------------------------------------- TColumnTitle

std::string TColumnTitle::Caption() const
{
    if (caption_)
        return *caption_;
    if (TField* field = column_.Field())
        return field->DisplayLabel();
    return column_.FieldName();
}

void TColumnTitle::SetCaption(const std::string& caption) { caption_ = caption; Changed(); }

TAlignment TColumnTitle::Alignment() const
{
    return alignment_.value_or(TAlignment::taLeftJustify);
}

void TColumnTitle::SetAlignment(TAlignment alignment) { alignment_ = alignment; Changed(); }

TColor TColumnTitle::Color() const
{
    if (color_)
        return *color_;
    return column_.Grid() ? column_.Grid()->FixedColor() : clBtnFace;
}

void TColumnTitle::SetColor(TColor color) { color_ = color; Changed(); }

TFont TColumnTitle::Font() const
{
    if (font_)
        return *font_;
    return column_.Grid() ? column_.Grid()->TitleFont() : TFont{};
}

void TColumnTitle::SetFont(const TFont& font)
{
    font_ = font;
    // The title row's height follows the title fonts.
    if (column_.Grid())
        column_.Grid()->LayoutChanged();
}

bool TColumnTitle::EndEllipsis() const { return endEllipsis_.value_or(false); }
void TColumnTitle::SetEndEllipsis(bool endEllipsis) { endEllipsis_ = endEllipsis; Changed(); }

void TColumnTitle::RestoreDefaults()
{
    caption_.reset();
    alignment_.reset();
    color_.reset();
    font_.reset();
    endEllipsis_.reset();
    Changed();
}

void TColumnTitle::Changed()
{
    if (column_.Grid())
        column_.Grid()->InvalidateGrid();
}

// ---------------------------------------------------------------- TGridColumn

TGridColumn::TGridColumn(TCustomDataGrid* grid, bool stored)
    : grid_(grid), stored_(stored), title_(*this)
{
}

TGridColumn::~TGridColumn() = default;

int TGridColumn::Index() const
{
    return grid_ ? grid_->Columns().IndexOf(*this) : -1;
}

TField* TGridColumn::Field() const
{
    if (!field_ && !fieldName_.empty() && grid_) {
        data::TADOQuery* dataSet = grid_->DataLink().DataSet();
        if (dataSet && grid_->DataLink().Active())
            field_ = dataSet->FindField(fieldName_);
    }
    return field_;
}

void TGridColumn::SetField(TField* field)
{
    field_ = field;
    if (field)
        fieldName_ = field->FieldName();
}

void TGridColumn::SetFieldName(const std::string& name)
{
    fieldName_ = name;
    field_ = nullptr;
    if (grid_)
        grid_->LayoutChanged();
}

int TGridColumn::DefaultWidth() const
{
    if (!grid_)
        return kClosedColumnWidth;
    TField* field = Field();
    if (!field)
        return grid_->DefaultColWidth();
    return grid_->DefaultColumnWidth(*this);
}

int TGridColumn::Width() const { return width_ ? *width_ : DefaultWidth(); }

void TGridColumn::SetWidth(int width)
{
    if (grid_)
        grid_->ColumnWidthSet(*this, width);
    else
        StoreWidth(width);
}

void TGridColumn::StoreWidth(int width)
{
    if ((width_ || width != DefaultWidth()) && width != -1) {
        if (maxWidth_ > 0)
            width = std::min(width, maxWidth_);
        if (width < minWidth_)
            width = minWidth_;
        width_ = width;
    }
    if (grid_)
        grid_->ColumnChanged(*this);
}

bool TGridColumn::Visible() const { return visible_.value_or(true); }

void TGridColumn::SetVisible(bool visible)
{
    visible_ = visible;
    if (grid_)
        grid_->LayoutChanged();
}

TAlignment TGridColumn::Alignment() const
{
    if (alignment_)
        return *alignment_;
    TField* field = Field();
    return field ? field->Alignment() : TAlignment::taLeftJustify;
}

void TGridColumn::SetAlignment(TAlignment alignment) { alignment_ = alignment; Changed(); }

TColor TGridColumn::Color() const
{
    if (color_)
        return *color_;
    return grid_ ? grid_->Color() : clWindow;
}

void TGridColumn::SetColor(TColor color) { color_ = color; Changed(); }

TFont TGridColumn::Font() const
{
    if (font_)
        return *font_;
    return grid_ ? grid_->Font() : TFont{};
}

void TGridColumn::SetFont(const TFont& font)
{
    font_ = font;
    // The default width is measured in the column's font.
    if (grid_)
        grid_->LayoutChanged();
}

bool TGridColumn::ReadOnly() const
{
    if (readOnly_)
        return *readOnly_;
    TField* field = Field();
    return (grid_ && grid_->ReadOnly()) || (field && field->ReadOnly());
}

void TGridColumn::SetReadOnly(bool readOnly) { readOnly_ = readOnly; Changed(); }

bool TGridColumn::EndEllipsis() const { return endEllipsis_.value_or(false); }
void TGridColumn::SetEndEllipsis(bool endEllipsis) { endEllipsis_ = endEllipsis; Changed(); }

bool TGridColumn::WordWrap() const
{
    if (wordWrap_)
        return *wordWrap_;
    TField* field = Field();
    if (!field)
        return false;
    TFieldType type = field->DataType();
    return type == TFieldType::ftString || type == TFieldType::ftWideString ||
           type == TFieldType::ftMemo;
}

void TGridColumn::SetWordWrap(bool wordWrap) { wordWrap_ = wordWrap; Changed(); }

TTextLayout TGridColumn::Layout() const { return layout_.value_or(TTextLayout::tlTop); }
void TGridColumn::SetLayout(TTextLayout layout) { layout_ = layout; Changed(); }

bool TGridColumn::Checkboxes() const
{
    if (checkboxes_)
        return *checkboxes_;
    TField* field = Field();
    return field && field->DataType() == TFieldType::ftBoolean;
}

void TGridColumn::SetCheckboxes(bool checkboxes) { checkboxes_ = checkboxes; Changed(); }

void TGridColumn::RestoreDefaults()
{
    width_.reset();
    visible_.reset();
    alignment_.reset();
    color_.reset();
    font_.reset();
    readOnly_.reset();
    endEllipsis_.reset();
    wordWrap_.reset();
    layout_.reset();
    checkboxes_.reset();
    title_.RestoreDefaults();
    if (grid_)
        grid_->LayoutChanged();
}

void TGridColumn::Changed()
{
    if (grid_)
        grid_->InvalidateGrid();
}

// ---------------------------------------------------------------- TDataGridColumns

TColumnsState TDataGridColumns::State() const
{
    return !items_.empty() && items_.front()->Stored() ? TColumnsState::csCustomized
                                                       : TColumnsState::csDefault;
}

TDataGridColumn& TDataGridColumns::Add()
{
    TDataGridColumn& column = Insert(Count(), true);
    grid_.LayoutChanged();
    return column;
}

void TDataGridColumns::Delete(int index)
{
    RemoveAt(index);
    grid_.LayoutChanged();
}

void TDataGridColumns::Clear()
{
    items_.clear();
    grid_.LayoutChanged();
}

int TDataGridColumns::IndexOf(const TGridColumn& column) const
{
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i].get() == &column)
            return int(i);
    return -1;
}

TDataGridColumn& TDataGridColumns::Insert(int index, bool stored)
{
    auto column = std::make_unique<TDataGridColumn>(&grid_, stored);
    TDataGridColumn& ref = *column;
    items_.insert(items_.begin() + index, std::move(column));
    return ref;
}

void TDataGridColumns::RemoveAt(int index)
{
    if (index >= 0 && index < Count())
        items_.erase(items_.begin() + index);
}

void TDataGridColumns::Move(int from, int to)
{
    if (from == to)
        return;
    auto column = std::move(items_[std::size_t(from)]);
    items_.erase(items_.begin() + from);
    items_.insert(items_.begin() + to, std::move(column));
}

} // namespace querlin::grid
