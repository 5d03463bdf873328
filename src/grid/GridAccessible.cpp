#include "grid/GridAccessible.h"

#include "data/RecordScan.h"
#include "grid/TDataGrid.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QGroupBox>
#include <QHash>
#include <QPointer>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstdint>
#include <exception>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace querlin::grid {

namespace {

// A value of millions of characters is not read out whole: its start is.
constexpr int kMaxSpokenChars = 4000;

QString NullText() { return QStringLiteral("null"); }

QString SpokenText(std::string_view text)
{
    std::size_t bytes = std::min<std::size_t>(text.size(), std::size_t(kMaxSpokenChars) * 3);
    // Cut at a character, never inside its UTF-8 sequence.
    if (bytes < text.size())
        while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80)
            --bytes;
    QString spoken = QString::fromUtf8(text.data(), qsizetype(bytes));
    if (spoken.size() > kMaxSpokenChars) {
        int keep = kMaxSpokenChars;
        if (spoken.at(keep - 1).isHighSurrogate())
            --keep;
        spoken.truncate(keep);
    }
    return spoken;
}

// A caption as spoken: its accelerator marks gone ("&&" stays one "&").
QString WithoutAccelerators(const QString& caption)
{
    QString text;
    text.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption.at(i) == QLatin1Char('&') && i + 1 < caption.size())
            ++i;
        text += caption.at(i);
    }
    return text;
}

class GridAccessibleTable;

// The tables made so far, by grid: a grid's notice reaches its table here.
QHash<const QObject*, GridAccessibleTable*>& Tables()
{
    static QHash<const QObject*, GridAccessibleTable*> tables;
    return tables;
}

// One cell of the table, or (row -1) one column header. Made on demand,
// owned by Qt's registry of interfaces; its table lets it go when the rows
// or columns it names may be others.
class GridAccessibleCell : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
    GridAccessibleCell(GridAccessibleTable& table, int row, int column)
        : table_(table), row_(row), column_(column)
    {
    }

    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QWindow* window() const override;
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override;
    QAccessible::Role role() const override
    {
        return row_ < 0 ? QAccessible::ColumnHeader : QAccessible::Cell;
    }
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableCellInterface && row_ >= 0)
            return static_cast<QAccessibleTableCellInterface*>(this);
        return nullptr;
    }

    bool isSelected() const override;
    QList<QAccessibleInterface*> columnHeaderCells() const override;
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return column_; }
    int rowIndex() const override { return row_; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override;

    int Row() const { return row_; }
    int Column() const { return column_; }

private:
    GridAccessibleTable& table_;
    int row_;
    int column_;
};

class GridAccessibleTable : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit GridAccessibleTable(TCustomDataGrid* grid)
        : QAccessibleWidget(grid, QAccessible::Table), key_(grid)
    {
        Tables().insert(key_, this);
        told_ = Observe();
    }
    ~GridAccessibleTable() override
    {
        Tables().remove(key_);
        ForgetCells();
    }

    TCustomDataGrid* Grid() const { return qobject_cast<TCustomDataGrid*>(widget()); }

    // ---- QAccessibleInterface
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return Name();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.focusable = true;
        s.readOnly = true;
        return s;
    }
    int childCount() const override
    {
        const std::int64_t columns = columnCount();
        return int(std::min<std::int64_t>(columns * (std::int64_t(rowCount()) + 1), INT_MAX));
    }
    QAccessibleInterface* child(int index) const override
    {
        const int columns = columnCount();
        if (index < 0 || columns == 0)
            return nullptr;
        if (index < columns)
            return Cell(-1, index);
        return cellAt((index - columns) / columns, (index - columns) % columns);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const auto* cell = dynamic_cast<const GridAccessibleCell*>(child);
        if (!cell || cell->parent() != this)
            return -1;
        return ChildIndex(cell->Row(), cell->Column());
    }
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override
    {
        TCustomDataGrid* grid = Grid();
        if (!grid || !grid->GridFocused())
            return nullptr;
        const auto [row, column] = CurrentCell();
        return row >= 0 ? cellAt(row, column) : nullptr;
    }

    // ---- QAccessibleTableInterface
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override
    {
        if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
            return nullptr;
        return Cell(row, column);
    }
    int selectedCellCount() const override { return CurrentCell().first >= 0 ? 1 : 0; }
    QList<QAccessibleInterface*> selectedCells() const override
    {
        const auto [row, column] = CurrentCell();
        if (row < 0)
            return {};
        return {cellAt(row, column)};
    }
    QString columnDescription(int column) const override { return Title(column); }
    QString rowDescription(int row) const override { return QString::number(row + 1); }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return 0; }
    int columnCount() const override
    {
        TCustomDataGrid* grid = Grid();
        return grid ? int(grid->VisibleColumns().size()) : 0;
    }
    int rowCount() const override
    {
        const data::TADOQuery* dataSet = OpenDataSet();
        return dataSet ? dataSet->RecordCount() : 0;
    }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override { return {}; }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int) const override { return false; }
    // The grid holds no selection of rows or columns: only its current cell.
    bool selectRow(int) override { return false; }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent* event) override
    {
        // Rows added at the end leave every cell where it was.
        if (event->modelChangeType() != QAccessibleTableModelChangeEvent::RowsInserted)
            ForgetCells();
    }

    // ---- what the cells ask
    QString Name() const
    {
        TCustomDataGrid* grid = Grid();
        if (!grid)
            return {};
        if (!grid->accessibleName().isEmpty())
            return grid->accessibleName();
        for (QWidget* up = grid->parentWidget(); up; up = up->parentWidget())
            if (auto* box = qobject_cast<QGroupBox*>(up))
                return WithoutAccelerators(box->title());
        return {};
    }
    QString Title(int column) const
    {
        const TDataGridColumn* shown = ColumnOf(column);
        return shown ? QString::fromStdString(shown->Title().Caption()) : QString();
    }
    // The cell's text as the grid paints it; a null value reads as such.
    QString Value(int row, int column) const;
    // What the current cell adds to its value when announced: the row
    // number after a move to another record, the column's title after a
    // move to another column.
    QString Context(int row, int column) const
    {
        if (CurrentCell() != std::pair{row, column})
            return {};
        QStringList parts;
        if (announceRow_)
            parts << QStringLiteral("row %1").arg(row + 1);
        if (announceColumn_)
            parts << Title(column);
        return parts.join(QStringLiteral(", "));
    }
    // Screen pixels of a cell in the row window (row -1: its title), else empty.
    QRect CellRect(int row, int column) const;
    // (record, column) of the current cell; (-1, -1) when there is none.
    std::pair<int, int> CurrentCell() const;
    int ChildIndex(int row, int column) const
    {
        const std::int64_t columns = columnCount();
        const std::int64_t index = row < 0 ? column : columns + std::int64_t(row) * columns + column;
        return index <= INT_MAX ? int(index) : -1;
    }

    // ---- the grid's notices
    void ScheduleSync()
    {
        lastRead_ = {};
        if (syncPending_)
            return;
        syncPending_ = true;
        QPointer<TCustomDataGrid> grid = Grid();
        if (!grid)
            return;
        QMetaObject::invokeMethod(
            grid,
            [grid] {
                if (GridAccessibleTable* table = grid ? Tables().value(grid.data()) : nullptr)
                    table->Sync();
            },
            Qt::QueuedConnection);
    }
    void Sync();

private:
    struct Told {
        bool open = false;
        std::uint64_t serial = 0;
        std::vector<const data::TField*> fields;
        QStringList titles;
        int rows = 0;
        std::pair<int, int> current{-1, -1};
        bool focused = false;
        QString name;
    };

    Told Observe() const
    {
        Told now;
        TCustomDataGrid* grid = Grid();
        if (!grid)
            return now;
        if (const data::TADOQuery* dataSet = OpenDataSet()) {
            now.open = true;
            now.serial = dataSet->OpenSerial();
            now.rows = dataSet->RecordCount();
        }
        for (const TDataGridColumn* column : grid->VisibleColumns()) {
            now.fields.push_back(column->Field());
            now.titles << QString::fromStdString(column->Title().Caption());
        }
        now.current = CurrentCell();
        now.focused = grid->GridFocused();
        now.name = Name();
        return now;
    }

    data::TADOQuery* OpenDataSet() const
    {
        TCustomDataGrid* grid = Grid();
        if (!grid || !grid->DataLink().Active())
            return nullptr;
        return grid->DataLink().DataSet();
    }
    const TDataGridColumn* ColumnOf(int column) const
    {
        TCustomDataGrid* grid = Grid();
        if (!grid || column < 0 || column >= int(grid->VisibleColumns().size()))
            return nullptr;
        return grid->VisibleColumns()[std::size_t(column)];
    }
    int GridColumnOf(int column) const
    {
        const TDataGridColumn* shown = ColumnOf(column);
        return shown ? Grid()->Columns().IndexOf(*shown) + Grid()->IndicatorOffset() : -1;
    }
    // The held row (row window of the record set) that holds a record, or -1.
    static int HeldIndexOf(const data::TADOQuery& dataSet, int row)
    {
        // While a row is appended the held rows are not numbered.
        if (dataSet.State() != data::TDataSetState::dsBrowse)
            return -1;
        const int number = dataSet.RecordNumber();
        if (number < 1)
            return -1;
        const int index = row - (number - 1 - dataSet.ActiveIndex());
        return index >= 0 && index < dataSet.HeldCount() ? index : -1;
    }

    QAccessibleInterface* Cell(int row, int column) const
    {
        const auto found = cells_.find({row, column});
        if (found != cells_.end())
            if (QAccessibleInterface* cell = QAccessible::accessibleInterface(found->second))
                return cell;
        auto* cell = new GridAccessibleCell(const_cast<GridAccessibleTable&>(*this), row, column);
        cells_[{row, column}] = QAccessible::registerAccessibleInterface(cell);
        return cell;
    }
    void ForgetCells()
    {
        const auto cells = std::exchange(cells_, {});
        for (const auto& [place, id] : cells)
            QAccessible::deleteAccessibleInterface(id);
    }

    const QObject* key_;
    mutable std::map<std::pair<int, int>, QAccessible::Id> cells_;
    // The row last read outside the row window; forgotten at every notice
    // of the grid (a move, rows arriving or deleted, another open), so its
    // position never outlives the rows it was counted among.
    mutable data::TRecordScan::Row lastRead_;
    Told told_;
    bool syncPending_ = false;
    bool announceRow_ = true;
    bool announceColumn_ = true;
};

// ---------------------------------------------------------------- the table

QString GridAccessibleTable::Value(int row, int column) const
{
    const TDataGridColumn* shown = ColumnOf(column);
    data::TField* field = shown ? shown->Field() : nullptr;
    data::TADOQuery* dataSet = OpenDataSet();
    if (!field || !dataSet || row < 0 || row >= dataSet->RecordCount())
        return {};
    try {
        if (const int held = HeldIndexOf(*dataSet, row); held >= 0) {
            // As the grid paints a row: its record made active for the
            // reading, and the current one put back whatever happens.
            struct Restore {
                data::TADOQuery& dataSet;
                int saved;
                ~Restore()
                {
                    if (dataSet.ActiveIndex() != saved)
                        dataSet.SetActiveIndex(saved);
                }
            } restore{*dataSet, dataSet->ActiveIndex()};
            dataSet->SetActiveIndex(held);
            if (field->IsNull())
                return NullText();
            return SpokenText(field->DisplayText());
        }
        if (dataSet->State() != data::TDataSetState::dsBrowse)
            return {};
        // A record outside the row window is read where it is stored,
        // walking from the current one: nothing moves and no link hears.
        data::TRecordScan scan(*dataSet);
        data::TRecordScan::Row at = scan.Current();
        if (!at.Valid())
            at = scan.First();
        // A reader going down the rows one by one walks from the last row
        // it read, not from the current one each time.
        if (lastRead_.Valid() && std::abs(lastRead_.position - row) < std::abs(at.position - row))
            at = lastRead_;
        while (at.Valid() && at.position < row && scan.Next(at)) {
        }
        while (at.Valid() && at.position > row && scan.Prior(at)) {
        }
        if (!at.Valid() || at.position != row)
            return {};
        lastRead_ = at;
        std::string scratch;
        return SpokenText(scan.Text(field->Index(), at, true, scratch));
    } catch (const std::exception&) {
        // A value the grid could not paint either (a number out of range)
        // reads as nothing; the grid reports it when it paints.
        return {};
    }
}

std::pair<int, int> GridAccessibleTable::CurrentCell() const
{
    TCustomDataGrid* grid = Grid();
    const data::TADOQuery* dataSet = OpenDataSet();
    if (!grid || !dataSet || dataSet->State() != data::TDataSetState::dsBrowse)
        return {-1, -1};
    const int number = dataSet->RecordNumber();
    const TDataGridColumn* shown = grid->ColumnAt(grid->Col());
    const auto& visible = grid->VisibleColumns();
    const auto place = std::find(visible.begin(), visible.end(), shown);
    if (number < 1 || !shown || place == visible.end())
        return {-1, -1};
    return {number - 1, int(place - visible.begin())};
}

QRect GridAccessibleTable::CellRect(int row, int column) const
{
    TCustomDataGrid* grid = Grid();
    const int gridColumn = GridColumnOf(column);
    if (!grid || gridColumn < 0)
        return {};
    int gridRow = 0;
    if (row < 0) {
        if (grid->TitleOffset() == 0)
            return {};
    } else {
        const data::TADOQuery* dataSet = OpenDataSet();
        const int held = dataSet ? HeldIndexOf(*dataSet, row) : -1;
        const int linkRow = held - grid->DataLink().FirstOffset();
        if (held < 0 || linkRow < 0 || linkRow >= grid->DataLink().RecordCount())
            return {};
        gridRow = grid->TitleOffset() + linkRow;
    }
    const QRect cell = grid->cellRect(gridColumn, gridRow).intersected(grid->viewport()->rect());
    if (cell.isEmpty())
        return {};
    return QRect(grid->viewport()->mapToGlobal(cell.topLeft()), cell.size());
}

QAccessibleInterface* GridAccessibleTable::childAt(int x, int y) const
{
    TCustomDataGrid* grid = Grid();
    if (!grid)
        return nullptr;
    const QPoint point = grid->viewport()->mapFromGlobal(QPoint(x, y));
    if (!grid->viewport()->rect().contains(point))
        return nullptr;
    const QPoint cell = grid->cellAt(point);
    const auto& visible = grid->VisibleColumns();
    const auto place = std::find(visible.begin(), visible.end(), grid->ColumnAt(cell.x()));
    if (cell.y() < 0 || place == visible.end() || !*place)
        return nullptr;
    const int column = int(place - visible.begin());
    if (cell.y() < grid->TitleOffset())
        return Cell(-1, column);
    const data::TADOQuery* dataSet = OpenDataSet();
    if (!dataSet || dataSet->State() != data::TDataSetState::dsBrowse || dataSet->RecordNumber() < 1)
        return nullptr;
    const int held = cell.y() - grid->TitleOffset() + grid->DataLink().FirstOffset();
    return cellAt(dataSet->RecordNumber() - 1 - dataSet->ActiveIndex() + held, column);
}

void GridAccessibleTable::Sync()
{
    syncPending_ = false;
    TCustomDataGrid* grid = Grid();
    if (!grid)
        return;
    const Told now = Observe();
    const bool reshaped = now.open != told_.open || now.serial != told_.serial ||
                          now.fields != told_.fields || now.titles != told_.titles;
    if (reshaped || now.rows < told_.rows) {
        ForgetCells();
        QAccessibleTableModelChangeEvent reset(grid, QAccessibleTableModelChangeEvent::ModelReset);
        QAccessible::updateAccessibility(&reset);
    } else if (now.rows > told_.rows) {
        // Rows streaming in: the count grows at the end.
        QAccessibleTableModelChangeEvent added(grid, QAccessibleTableModelChangeEvent::RowsInserted);
        added.setFirstRow(told_.rows);
        added.setLastRow(now.rows - 1);
        added.setFirstColumn(0);
        added.setLastColumn(int(now.titles.size()) - 1);
        QAccessible::updateAccessibility(&added);
    }
    if (now.name != told_.name) {
        QAccessibleEvent renamed(grid, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&renamed);
    }
    const bool gainedFocus = now.focused && !told_.focused;
    const bool moved = now.current != told_.current || reshaped;
    if ((moved || gainedFocus) && now.current.first >= 0) {
        // Taking the focus, or a new table, says where the cell is in full.
        announceRow_ = gainedFocus || reshaped || now.current.first != told_.current.first;
        announceColumn_ = gainedFocus || reshaped || now.current.second != told_.current.second;
        const int child = ChildIndex(now.current.first, now.current.second);
        QAccessibleEvent selected(grid, QAccessible::Selection);
        selected.setChild(child);
        QAccessible::updateAccessibility(&selected);
        if (now.focused) {
            QAccessibleEvent focused(grid, QAccessible::Focus);
            focused.setChild(child);
            QAccessible::updateAccessibility(&focused);
        }
    }
    told_ = now;
}

// ---------------------------------------------------------------- the cells

bool GridAccessibleCell::isValid() const
{
    return table_.Grid() && column_ < table_.columnCount() && row_ < table_.rowCount();
}

QWindow* GridAccessibleCell::window() const { return table_.window(); }

QAccessibleInterface* GridAccessibleCell::parent() const
{
    return const_cast<GridAccessibleTable*>(&table_);
}

QAccessibleInterface* GridAccessibleCell::table() const { return parent(); }

QString GridAccessibleCell::text(QAccessible::Text t) const
{
    switch (t) {
    case QAccessible::Name:
        return row_ < 0 ? table_.Title(column_) : table_.Value(row_, column_);
    case QAccessible::Description:
        return row_ < 0 ? QString() : table_.Context(row_, column_);
    default:
        return {};
    }
}

QRect GridAccessibleCell::rect() const { return table_.CellRect(row_, column_); }

QAccessible::State GridAccessibleCell::state() const
{
    QAccessible::State s;
    s.readOnly = true;
    if (row_ >= 0) {
        s.focusable = true;
        s.selectable = true;
        const bool current = table_.CurrentCell() == std::pair{row_, column_};
        s.selected = current;
        TCustomDataGrid* grid = table_.Grid();
        s.focused = current && grid && grid->GridFocused();
    }
    if (rect().isEmpty())
        s.offscreen = true;
    return s;
}

bool GridAccessibleCell::isSelected() const { return table_.CurrentCell() == std::pair{row_, column_}; }

QList<QAccessibleInterface*> GridAccessibleCell::columnHeaderCells() const
{
    if (QAccessibleInterface* header = table_.child(column_))
        return {header};
    return {};
}

QAccessibleInterface* GridFactory(const QString& key, QObject* object)
{
    if (key == QLatin1String(TCustomDataGrid::staticMetaObject.className()))
        if (auto* grid = qobject_cast<TCustomDataGrid*>(object))
            return new GridAccessibleTable(grid);
    return nullptr;
}

} // namespace

void InstallGridAccessibility()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(GridFactory);
}

void GridAccessibleChanged(TCustomDataGrid& grid)
{
    if (GridAccessibleTable* table = Tables().value(&grid))
        table->ScheduleSync();
}

} // namespace querlin::grid
