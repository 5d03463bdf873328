#include "grid/TDataGrid.h"

#include "grid/GridPainter.h"
#include "platform/Error.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace querlin::grid {

using data::TAlignment;
using data::TField;
using data::TFieldType;

namespace {

// The field map never holds more than this many entries.
constexpr std::size_t kMaxMappedFields = 268435455;

constexpr int kIndicatorWidth = 11;
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

// ---------------------------------------------------------------- TGridDataLink

TField* TGridDataLink::Fields(int position) const
{
    if (position < 0 || position >= int(fieldMap_.size()) || !Active())
        return nullptr;
    int index = fieldMap_[std::size_t(position)];
    data::TADOQuery* dataSet = DataSet();
    if (index < 0 || !dataSet || index >= dataSet->FieldCount())
        return nullptr;
    return &dataSet->FieldAt(index);
}

void TGridDataLink::ClearMapping()
{
    fieldMap_.clear();
    // Room for 8 at the start; the vector doubles as it fills.
    fieldMap_.reserve(8);
    sparse_ = false;
}

void TGridDataLink::AddMapping(int fieldIndex)
{
    if (fieldMap_.size() >= kMaxMappedFields)
        throw Error("Grid requested to display more than 256 columns");
    fieldMap_.push_back(fieldIndex);
}

void TGridDataLink::ActiveChanged() { grid_.LinkActiveChanged(); }
void TGridDataLink::EditingChanged() { grid_.LinkEditingChanged(); }
void TGridDataLink::DataSetChanged() { grid_.LinkDataChanged(); }
void TGridDataLink::DataSetScrolled(int distance) { grid_.LinkScrolled(distance); }
void TGridDataLink::RecordChanged(TField* field) { grid_.LinkRecordChanged(field); }
void TGridDataLink::LayoutChanged() { grid_.LinkLayoutChanged(); }

// ---------------------------------------------------------------- TCustomDataGrid

TCustomDataGrid::TCustomDataGrid(QWidget* parent)
    : TCustomCellGrid(parent),
      columns_(*this),
      options_{dgEditing, dgTitles, dgIndicator, dgColumnResize, dgColLines,
               dgRowLines, dgTabs, dgConfirmDelete, dgCancelOnExit},
      optionsEx_{dgxFixed3D, dgxHighlightFocus, dgxClearSelection, dgxDialogFind},
      dataLink_(*this)
{
    titleFont_ = TFont{font(), clWindowText};
    footerFont_ = titleFont_;
    ApplyOptions();
    LayoutChanged();
}

TCustomDataGrid::~TCustomDataGrid()
{
    destroying_ = true;
    dataLink_.SetDataSource(nullptr);
}

void TCustomDataGrid::SetDataSource(data::TDataSource* source)
{
    if (source == dataLink_.DataSource())
        return;
    dataLink_.SetDataSource(source);
    // The link reports an active-state change only when it changes; a switch
    // between two closed sets still needs fresh columns.
    LayoutChanged();
}

TDataGridColumn* TCustomDataGrid::ColumnAt(int gridCol) const
{
    int index = gridCol - indicatorOffset_;
    if (index < 0 || index >= columns_.Count())
        return nullptr;
    return &columns_[index];
}

void TCustomDataGrid::SetOptions(TDataGridOptions options)
{
    const TDataGridOptions layoutOptions{dgEditing, dgAlwaysShowEditor, dgTitles, dgIndicator,
                                         dgColLines, dgRowLines, dgRowSelect,
                                         dgAlwaysShowSelection};
    bool layout = !((options * layoutOptions) == (options_ * layoutOptions));
    options_ = options;
    ApplyOptions();
    if (layout)
        LayoutChanged();
    else
        InvalidateGrid();
}

void TCustomDataGrid::ApplyOptions()
{
    TGridOptions grid{goRangeSelect};
    if (options_.Contains(dgColLines))
        grid = grid + goFixedVertLine + goVertLine;
    if (options_.Contains(dgRowLines))
        grid = grid + goFixedHorzLine + goHorzLine;
    if (options_.Contains(dgColumnResize))
        grid = grid + goColSizing + goColMoving;
    if (options_.Contains(dgTabs))
        grid += goTabs;
    if (options_.Contains(dgRowSelect))
        grid += goRowSelect;
    // Whole-row selection leaves no cell to edit.
    if (options_.Contains(dgEditing) && !options_.Contains(dgRowSelect))
        grid += goEditing;
    if (options_.Contains(dgAlwaysShowEditor) && !options_.Contains(dgRowSelect))
        grid += goAlwaysShowEditor;
    SetGridOptions(grid);
}

void TCustomDataGrid::SetOptionsEx(TDataGridOptionsEx options)
{
    optionsEx_ = options;
    LayoutChanged();
}

void TCustomDataGrid::SetFlat(bool flat)
{
    if (flat_ == flat)
        return;
    flat_ = flat;
    LayoutChanged();
}

TFont TCustomDataGrid::Font() const { return TFont{font(), fontColor_}; }

void TCustomDataGrid::SetFont(const TFont& font)
{
    parentFont_ = false;
    fontColor_ = font.Color;
    setFont(font.Font);
    InvalidateGrid();
}

void TCustomDataGrid::SetParentFont(bool on)
{
    parentFont_ = on;
    if (on) {
        setFont(QFont());
        setAttribute(Qt::WA_SetFont, false);
        titleFont_.Font = font();
        footerFont_.Font = font();
        LayoutChanged();
    }
}

void TCustomDataGrid::SetTitleFont(const TFont& font)
{
    titleFont_ = font;
    parentFont_ = false;
    if (options_.Contains(dgTitles))
        LayoutChanged();
}

void TCustomDataGrid::SetRowHeight(int height) { rowHeight_ = height; LayoutChanged(); }
void TCustomDataGrid::SetRowLines(int lines) { rowLines_ = lines; LayoutChanged(); }
void TCustomDataGrid::SetTitleHeight(int height) { titleHeight_ = height; LayoutChanged(); }
void TCustomDataGrid::SetTitleLines(int lines) { titleLines_ = lines; LayoutChanged(); }

void TCustomDataGrid::changeEvent(QEvent* event)
{
    TCustomCellGrid::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        if (parentFont_) {
            titleFont_.Font = font();
            footerFont_.Font = font();
        }
        // An event handler: whatever the pass raises is reported, Qt never sees it.
        try {
            LayoutChanged();
        } catch (const std::exception& error) {
            ReportError(error);
        }
    } else if (event->type() == QEvent::PaletteChange) {
        InvalidateGrid();
    }
}

// ---------------------------------------------------------------- locks

void TCustomDataGrid::BeginUpdate() { ++updateLock_; }

void TCustomDataGrid::EndUpdate()
{
    if (updateLock_ == 0)
        return;
    if (--updateLock_ > 0)
        return;
    // A layout request or a resize that arrived under the lock would
    // otherwise be lost, leaving columns of fields that no longer exist.
    if (layoutPending_) {
        layoutPending_ = false;
        LayoutChanged();
    }
    if (resizePending_) {
        resizePending_ = false;
        GridResized();
    }
    InvalidateGrid();
}

void TCustomDataGrid::BeginLayout() { ++layoutLock_; }

void TCustomDataGrid::EndLayout()
{
    if (layoutLock_ == 0)
        return;
    if (--layoutLock_ > 0)
        return;
    RunLayoutPass();
}

void TCustomDataGrid::LayoutChanged()
{
    if (destroying_)
        return;
    if (layoutLock_ > 0)
        return;  // the holder runs the pass when it lets go
    if (updateLock_ > 0) {
        layoutPending_ = true;
        return;
    }
    BeginLayout();
    EndLayout();
}

// ---------------------------------------------------------------- layout pass

void TCustomDataGrid::RunLayoutPass()
{
    if (destroying_)
        return;
    // Mixed collections: a stored column after a default one drops the defaults.
    bool seenDefault = false;
    bool mixed = false;
    for (int i = 0; i < columns_.Count(); ++i) {
        if (!columns_[i].Stored())
            seenDefault = true;
        else if (seenDefault)
            mixed = true;
    }
    if (mixed)
        for (int i = columns_.Count() - 1; i >= 0; --i)
            if (!columns_[i].Stored())
                columns_.RemoveAt(i);

    indicatorOffset_ = options_.Contains(dgIndicator) ? 1 : 0;
    BuildFieldMap();
    BuildColumns();

    visibleColumns_.clear();
    for (int i = 0; i < columns_.Count(); ++i)
        if (columns_[i].Visible())
            visibleColumns_.push_back(&columns_[i]);

    SetColCount(columns_.Count() + indicatorOffset_);
    int fixedCols = indicatorOffset_ - (visibleColumns_.empty() ? 1 : 0);
    SetFixedCols(std::clamp(fixedCols, 0, ColCount() - 1));

    titleOffset_ = options_.Contains(dgTitles) ? 1 : 0;

    ApplyRowHeights();
    SetScrollBars(horzScrollBar_.Visible ? TScrollStyle::ssHorizontal : TScrollStyle::ssNone);
    ApplyColumnAttributes();
    UpdateRowCount();
    UpdateCurrentRow();
    UpdateVertScrollBar();
    UpdateHorzScrollBar();
    InvalidateGrid();
}

void TCustomDataGrid::BuildFieldMap()
{
    dataLink_.ClearMapping();
    data::TADOQuery* dataSet = dataLink_.DataSet();
    if (!dataLink_.Active() || !dataSet)
        return;
    if (columns_.State() == TColumnsState::csDefault) {
        for (int i = 0; i < dataSet->FieldCount(); ++i)
            if (dataSet->FieldAt(i).Visible())
                dataLink_.AddMapping(i);
    } else {
        dataLink_.sparse_ = true;
        for (int i = 0; i < columns_.Count(); ++i) {
            TField* field = dataSet->FindField(columns_[i].FieldName());
            dataLink_.AddMapping(field ? field->Index() : -1);
        }
    }
}

void TCustomDataGrid::BuildColumns()
{
    if (columns_.State() == TColumnsState::csCustomized) {
        for (int i = 0; i < columns_.Count(); ++i)
            columns_[i].field_ = nullptr;
        return;
    }
    const std::vector<int>& map = dataLink_.FieldMap();
    if (!dataLink_.Active()) {
        columns_.items_.clear();
    } else {
        // Pointers are only compared, never followed: a column may still
        // hold a field of an earlier opening.
        for (int i = columns_.Count() - 1; i >= 0; --i) {
            TField* field = columns_[i].field_;
            bool mapped = false;
            for (int p = 0; field && !mapped && p < int(map.size()); ++p)
                mapped = dataLink_.Fields(p) == field;
            if (!mapped)
                columns_.RemoveAt(i);
        }
    }
    int positions = std::max<int>(int(map.size()), columns_.Count() == 0 ? 1 : 0);
    for (int p = 0; p < positions; ++p) {
        TField* field = p < int(map.size()) ? dataLink_.Fields(p) : nullptr;
        int found = -1;
        if (field)
            for (int i = p; i < columns_.Count(); ++i)
                if (columns_[i].field_ == field) {
                    found = i;
                    break;
                }
        if (found >= 0) {
            columns_.Move(found, p);
        } else {
            TDataGridColumn& column = columns_.Insert(std::min(p, columns_.Count()), false);
            column.SetField(field);
        }
    }
}

void TCustomDataGrid::ApplyRowHeights()
{
    // Data rows: the text height of "Wg" (the font's full height) and a
    // margin: 3 pixels for the raised look (1 flat), and the line below.
    QFontMetrics metrics(Font().Font);
    int margin = flat_ ? 1 : 3;
    if (options_.Contains(dgRowLines))
        margin += GridLineWidth();
    int dataHeight;
    if (rowHeight_ > 0 || rowLines_ > 0)
        dataHeight = rowHeight_ + (metrics.height() + metrics.leading()) * rowLines_;
    else
        dataHeight = metrics.height() + margin;
    if (optionsEx_.Contains(dgxFitRowHeightToText) && rowHeight_ > 0) {
        int line = metrics.height() + metrics.leading();
        int lines = std::max((dataHeight - margin + line / 2) / line, 1);
        dataHeight = lines * line + margin;
    }

    int titleHeight = 0;
    if (titleOffset_ > 0) {
        int titleMargin = flat_ ? 2 : 4;
        if (columns_.Count() == 0) {
            titleHeight = QFontMetrics(titleFont_.Font).height() + titleMargin;
        } else {
            for (int i = 0; i < columns_.Count(); ++i)
                titleHeight = std::max(
                    titleHeight, QFontMetrics(columns_[i].Title().Font().Font).height() + titleMargin);
        }
        if (titleHeight_ > 0 || titleLines_ > 0) {
            QFontMetrics titleMetrics(titleFont_.Font);
            titleHeight = titleLines_ * titleMetrics.height() + titleMetrics.leading() +
                          titleHeight_ + 2 + (options_.Contains(dgRowLines) ? 1 : 0);
        }
    }
    SetDefaultRowHeight(dataHeight);
    if (titleOffset_ > 0)
        SetRowHeights(0, titleHeight);
    titleRowHeight_ = titleHeight;
}

void TCustomDataGrid::ApplyColumnAttributes()
{
    for (int i = 0; i < columns_.Count(); ++i) {
        const TDataGridColumn& column = columns_[i];
        int width = column.Visible() ? column.Width() : (options_.Contains(dgColLines) ? -1 : 0);
        SetColWidths(i + indicatorOffset_, width);
    }
    if (indicatorOffset_ > 0)
        SetColWidths(0, kIndicatorWidth);
}

int TCustomDataGrid::DefaultColumnWidth(const TGridColumn& column) const
{
    TField* field = column.Field();
    if (!field)
        return DefaultColWidth();
    // DisplayWidth digits of the column's font and 4 pixels: the 2-pixel
    // text inset on the left and the 2 pixels that keep a full-width text
    // off the line on the right. (Fonts here report no overhang: the overhang
    // that an emboldened bitmap font adds per character is 0.)
    QFontMetrics metrics(column.Font().Font);
    return metrics.horizontalAdvance(QLatin1Char('0')) * field->DisplayWidth() + 4;
}

void TCustomDataGrid::ColumnWidthSet(TGridColumn& column, int width, bool fromLayoutChange)
{
    TField* field = column.Field();
    if (!column.Stored() && field) {
        // Feed the pixel width back as a DisplayWidth, rounding to the
        // nearest digit: (W + average char width / 2 - 3) div digit width.
        // For a column at its default width this gives back the same
        // DisplayWidth, so nothing moves.
        QFontMetrics metrics(column.Font().Font);
        int digit = metrics.horizontalAdvance(QLatin1Char('0'));
        if (digit > 0 && width >= 0) {
            int displayWidth = (width + metrics.averageCharWidth() / 2 - 3) / digit;
            if (displayWidth != field->DisplayWidth())
                field->SetDisplayWidth(displayWidth);
        }
    }
    if (fromLayoutChange && !column.Stored() && !column.WidthAssigned())
        return;
    column.StoreWidth(width);
}

void TCustomDataGrid::ColumnChanged(TGridColumn& column)
{
    int index = columns_.IndexOf(column);
    if (index < 0)
        return;
    int width = column.Visible() ? column.Width() : (options_.Contains(dgColLines) ? -1 : 0);
    if (ColWidths(index + indicatorOffset_) != width) {
        SetColWidths(index + indicatorOffset_, width);
        UpdateHorzScrollBar();
    }
    InvalidateGrid();
}

// ---------------------------------------------------------------- row window

void TCustomDataGrid::UpdateRowCount()
{
    if (inRowCountUpdate_ || destroying_)
        return;
    inRowCountUpdate_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{inRowCountUpdate_};

    if (titleOffset_ >= RowCount())
        SetRowCount(titleOffset_ + 1);
    SetFixedRows(titleOffset_);
    ApplyRowHeights();
    SetTopRow(titleOffset_);

    int lineWidth = options_.Contains(dgRowLines) ? GridLineWidth() : 0;
    data::TADOQuery* dataSet = dataLink_.DataSet();
    int records = 0;
    if (dataLink_.Active() && dataSet && dataSet->HeldCount() > 0) {
        int fixedPart = titleOffset_ > 0 ? titleRowHeight_ + lineWidth : 0;
        rowWindowSize_ = GridGeometry::RowWindowSize(viewport()->height(), fixedPart,
                                                     DataRowHeight() + lineWidth);
        dataLink_.SetBufferCount(rowWindowSize_);
        records = dataLink_.RecordCount();
    }
    int rows = titleOffset_ + std::max(records, 1);
    if (Row() >= rows)
        MoveCurrent(Col(), rows - 1);
    SetRowCount(rows);
    ApplyRowHeights();
}

void TCustomDataGrid::UpdateCurrentRow()
{
    int col = std::clamp(Col(), FixedCols(), std::max(ColCount() - 1, 0));
    int row = titleOffset_;
    if (dataLink_.Active())
        row = titleOffset_ + std::max(dataLink_.ActiveRecord(), 0);
    row = std::clamp(row, 0, RowCount() - 1);
    if (col != Col() || row != Row()) {
        // The indicator of the old row and the new one both change.
        InvalidateRow(Row());
        MoveCurrent(col, row);
        InvalidateRow(Row());
    }
}

void TCustomDataGrid::UpdateVertScrollBar()
{
    QScrollBar* bar = verticalScrollBar();
    data::TADOQuery* dataSet = dataLink_.DataSet();
    int minimum = 0, maximum = 0, page = 1, position = 0;
    if (dataLink_.Active() && dataSet) {
        if (dataSet->KnowsPositions()) {
            // Records 1..R with a page of the visible rows: the thumb stands
            // at the current record's number.
            int records = dataSet->RecordCount();
            int visible = std::max(Geometry().FullyVisibleRows(), 1);
            minimum = 1;
            maximum = std::max(records, 1);
            page = visible;
            position = dataSet->State() == data::TDataSetState::dsBrowse ? dataSet->RecordNumber()
                                                                          : bar->value();
        } else {
            maximum = 4;
            position = dataSet->AtStart() ? 0 : dataSet->AtEnd() ? 4 : 2;
        }
    }
    if (!vertScrollBar_.Visible)
        maximum = minimum;
    Qt::ScrollBarPolicy policy = Qt::ScrollBarAsNeeded;
    if (!vertScrollBar_.Visible || vertScrollBar_.VisibleMode == TScrollBarVisibleMode::sbNeverShow)
        policy = Qt::ScrollBarAlwaysOff;
    else if (vertScrollBar_.VisibleMode == TScrollBarVisibleMode::sbAlwaysShow)
        policy = Qt::ScrollBarAlwaysOn;
    if (verticalScrollBarPolicy() != policy)
        setVerticalScrollBarPolicy(policy);
    bar->setEnabled(maximum > minimum);
    if (bar->minimum() == minimum && bar->maximum() == maximum && bar->pageStep() == page &&
        bar->value() == position)
        return;
    bar->setRange(minimum, maximum);
    bar->setPageStep(page);
    bar->setValue(position);
}

void TCustomDataGrid::GridResized()
{
    if (updateLock_ > 0) {
        resizePending_ = true;
        return;
    }
    UpdateRowCount();
    UpdateCurrentRow();
    UpdateVertScrollBar();
}

void TCustomDataGrid::FocusChanged()
{
    if (GridFocused() != paintedFocused_)
        InvalidateRow(Row());
}

bool TCustomDataGrid::GridFocused() const { return hasFocus(); }

// ---------------------------------------------------------------- notifications

void TCustomDataGrid::LinkActiveChanged()
{
    if (destroying_)
        return;
    if (!dataLink_.Active()) {
        // The fields are gone with the closing record set: no column may
        // keep pointing at one, whether or not the pass runs now.
        for (int i = 0; i < columns_.Count(); ++i)
            columns_[i].field_ = nullptr;
    }
    LayoutChanged();
    UpdateVertScrollBar();
}

void TCustomDataGrid::LinkEditingChanged()
{
    if (indicatorOffset_ > 0)
        InvalidateCell(0, Row());
}

void TCustomDataGrid::LinkDataChanged()
{
    if (destroying_)
        return;
    UpdateRowCount();
    UpdateVertScrollBar();
    UpdateCurrentRow();
    InvalidateGrid();
}

void TCustomDataGrid::LinkScrolled(int distance)
{
    if (destroying_)
        return;
    int oldRow = Row();
    if (dataLink_.ActiveRecord() >= RowCount() - titleOffset_)
        UpdateRowCount();
    UpdateVertScrollBar();
    UpdateCurrentRow();
    if (distance == 0) {
        InvalidateRow(oldRow);
        InvalidateRow(Row());
    } else {
        InvalidateGrid();
    }
}

void TCustomDataGrid::LinkRecordChanged(TField* field)
{
    if (!field) {
        InvalidateGrid();
        return;
    }
    for (const TDataGridColumn* column : visibleColumns_)
        if (column->field_ == field) {
            InvalidateRow(Row());
            return;
        }
}

void TCustomDataGrid::LinkLayoutChanged()
{
    LayoutChanged();
}

// ---------------------------------------------------------------- painting

void TCustomDataGrid::PaintGrid(QPainter& painter, const QRegion& region)
{
    paintedFocused_ = GridFocused();
    GridPainter gridPainter(*this, painter);
    struct Active {
        GridPainter*& slot;
        ~Active() { slot = nullptr; }
    } active{activePainter_};
    activePainter_ = &gridPainter;
    gridPainter.Paint(region);
}

void TCustomDataGrid::DrawFieldText(const QRect& Rect, TField* Field, TGridDrawState State)
{
    (void)State;
    if (!canvas_.Painter)
        return;
    // Inside a paint the grid's own painter writes, with its measured fonts.
    std::optional<GridPainter> own;
    GridPainter* painter = activePainter_;
    if (!painter || !painter->Paints(*canvas_.Painter))
        painter = &own.emplace(*this, *canvas_.Painter);
    painter->FillRect(Rect, canvas_.Brush.Color);
    if (!Field)
        return;
    painter->WriteText(Rect, 2, 2, QString::fromStdString(Field->DisplayText()), Field->Alignment(),
                      canvas_.Font, canvas_.Brush.Color, true);
}

} // namespace querlin::grid
