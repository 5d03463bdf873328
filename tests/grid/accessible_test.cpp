// The data grid as a screen reader or desktop automation reads it, in
// process through Qt's accessibility interfaces: a real grid over a real
// local store, moved by real keys and clicks, its rows streaming in from a
// worker. What the grid tells is recorded by an update handler, with what
// the told cell says at that moment.
#include "testsupport/GridTestSupport.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QGroupBox>
#include <QTimer>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include <functional>
#include <string>
#include <vector>

using namespace querlin;
using namespace querlin::grid;
using querlin::test::GridOverStore;

namespace {

struct Told {
    QAccessible::Event type = QAccessible::InvalidEvent;
    int child = -1;
    QString name, description;  // of the told cell, read when told
    QAccessibleTableModelChangeEvent::ModelChangeType change = QAccessibleTableModelChangeEvent::DataChanged;
    int firstRow = -1, lastRow = -1;
    int rows = -1;  // the table's row count when told
};

// Records what one grid tells, for as long as it lives. Qt passes events
// on only while its accessibility is active, as a screen reader's bridge
// makes it; here it is switched on the way that bridge does.
class Listener {
public:
    explicit Listener(QObject* grid)
    {
        grid_ = grid;
        log_ = &told;
        previous_ = QAccessible::installUpdateHandler(&Listener::Update);
        Platform()->setActive(true);
    }
    ~Listener()
    {
        Platform()->setActive(false);
        QAccessible::installUpdateHandler(previous_);
        log_ = nullptr;
    }
    std::vector<Told> told;

    std::vector<Told> Of(QAccessible::Event type) const
    {
        std::vector<Told> found;
        for (const Told& t : told)
            if (t.type == type)
                found.push_back(t);
        return found;
    }

private:
    static QPlatformAccessibility* Platform()
    {
        return QGuiApplicationPrivate::platformIntegration()->accessibility();
    }
    static void Update(QAccessibleEvent* event)
    {
        if (!log_ || event->object() != grid_)
            return;
        Told t;
        t.type = event->type();
        t.child = event->child();
        if (t.child >= 0)
            if (QAccessibleInterface* cell = event->accessibleInterface()) {
                t.name = cell->text(QAccessible::Name);
                t.description = cell->text(QAccessible::Description);
            }
        if (event->type() == QAccessible::TableModelChanged) {
            auto* change = static_cast<QAccessibleTableModelChangeEvent*>(event);
            t.change = change->modelChangeType();
            t.firstRow = change->firstRow();
            t.lastRow = change->lastRow();
            t.rows = event->accessibleInterface()->tableInterface()->rowCount();
        }
        log_->push_back(t);
    }
    static inline QObject* grid_ = nullptr;
    static inline std::vector<Told>* log_ = nullptr;
    QAccessible::UpdateHandler previous_ = nullptr;
};

// A grid over the numbers table inside a group box captioned as the browser
// window captions its rows' box; record 3 has no name (null).
struct AccessibleGrid {
    QGroupBox box{QString::fromUtf8("数据表：SCOTT.NUMS")};
    GridOverStore t;  // after the box: the grid leaves it before it goes
    QAccessibleInterface* table = nullptr;

    // An empty SQL text leaves the record set closed.
    explicit AccessibleGrid(int records, const std::string& sql = "SELECT * FROM nums")
    {
        t.store.MakeNumbers(records);
        t.store.Execute("UPDATE nums SET name = NULL WHERE id = 3");
        t.grid.SetReadOnly(true);
        t.grid.setParent(&box);
        t.grid.setGeometry(8, 20, 600, 12 * 20);
        box.resize(620, 12 * 20 + 30);
        box.show();
        t.grid.show();
        if (!sql.empty())
            t.Open(sql);
        GridOverStore::Flush();
        table = QAccessible::queryAccessibleInterface(&t.grid);
    }
    QAccessibleTableInterface* Table() const { return table->tableInterface(); }
    int Columns() const { return Table()->columnCount(); }
    int ChildOf(int row, int column) const { return Columns() * (row + 1) + column; }
    QString Cell(int row, int column) const
    {
        QAccessibleInterface* cell = Table()->cellAt(row, column);
        return cell ? cell->text(QAccessible::Name) : QStringLiteral("<no cell>");
    }
    // A field's display text at a record, as the grid paints it.
    QString Painted(int record, int column)
    {
        const int back = t.query.RecordNumber();
        t.query.SetRecordNumber(record);
        const QString text = QString::fromStdString(t.query.FieldAt(column).DisplayText());
        t.query.SetRecordNumber(back);
        return text;
    }
    bool Focus()
    {
        box.activateWindow();
        QApplication::setActiveWindow(&box);
        if (!QTest::qWaitForWindowActive(&box))
            return false;
        t.grid.setFocus();
        GridOverStore::Flush();
        return t.grid.hasFocus();
    }
    QPoint CellCentre(int gridCol, int gridRow) const { return t.grid.cellRect(gridCol, gridRow).center(); }
};

} // namespace

TEST(GridAccessible, ReadsAsATableOfAllRecordsWithTheTitlesAsHeaders)
{
    AccessibleGrid a(40);
    ASSERT_NE(a.table, nullptr);
    EXPECT_EQ(a.table->role(), QAccessible::Table);
    EXPECT_EQ(a.table->text(QAccessible::Name), QString::fromUtf8("数据表：SCOTT.NUMS"));
    ASSERT_NE(a.Table(), nullptr);
    // Every record, not only the rows on screen.
    ASSERT_LT(a.t.grid.DataLink().RecordCount(), 40);
    EXPECT_EQ(a.Table()->rowCount(), 40);
    ASSERT_EQ(a.Columns(), 3);
    EXPECT_EQ(a.table->childCount(), 3 * 41);
    const QStringList titles{"id", "name", "amount"};
    for (int c = 0; c < 3; ++c) {
        QAccessibleInterface* header = a.table->child(c);
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(header->role(), QAccessible::ColumnHeader);
        EXPECT_EQ(header->text(QAccessible::Name), titles[c]);
        EXPECT_EQ(a.Table()->columnDescription(c), titles[c]);
    }

    // Cells on screen and far below it, as painted; the null one says so.
    struct Case {
        const char* label;
        int row, column;
    } cases[] = {
        {"first record's id", 0, 0},       {"on screen, name", 5, 1},
        {"on screen, amount", 7, 2},       {"below the window, name", 25, 1},
        {"the last record, amount", 39, 2}, {"the last record, id", 39, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(a.Cell(c.row, c.column), a.Painted(c.row + 1, c.column)) << c.label;
    EXPECT_EQ(a.Cell(2, 1), "null") << "a null value";
    EXPECT_EQ(a.Cell(25, 1), "row 26");
    EXPECT_EQ(a.Table()->cellAt(40, 0), nullptr) << "past the last record";
    EXPECT_EQ(a.Table()->cellAt(0, 3), nullptr) << "past the last column";
    EXPECT_EQ(a.t.query.RecordNumber(), 1) << "reading moves nothing";

    // A cell knows its place, its header, and where it is on screen.
    QAccessibleInterface* cell = a.Table()->cellAt(4, 2);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->role(), QAccessible::Cell);
    EXPECT_EQ(a.table->indexOfChild(cell), a.ChildOf(4, 2));
    EXPECT_EQ(a.table->child(a.ChildOf(4, 2)), cell);
    QAccessibleTableCellInterface* place = cell->tableCellInterface();
    ASSERT_NE(place, nullptr);
    EXPECT_EQ(place->rowIndex(), 4);
    EXPECT_EQ(place->columnIndex(), 2);
    ASSERT_EQ(place->columnHeaderCells().size(), 1);
    EXPECT_EQ(place->columnHeaderCells().front()->text(QAccessible::Name), "amount");
    const QRect onScreen = cell->rect();
    ASSERT_FALSE(onScreen.isEmpty());
    EXPECT_EQ(a.table->childAt(onScreen.center().x(), onScreen.center().y()), cell);
    EXPECT_TRUE(a.Table()->cellAt(30, 0)->rect().isEmpty()) << "a record off screen has no place";
    EXPECT_TRUE(a.Table()->cellAt(30, 0)->state().offscreen);

    // Another query: other columns, and the table says it changed whole.
    Listener listen(&a.t.grid);
    a.t.Open("SELECT name, id FROM nums WHERE id <= 10");
    GridOverStore::Flush();
    ASSERT_FALSE(listen.Of(QAccessible::TableModelChanged).empty());
    EXPECT_EQ(listen.Of(QAccessible::TableModelChanged).front().change,
              QAccessibleTableModelChangeEvent::ModelReset);
    EXPECT_EQ(a.Table()->rowCount(), 10);
    ASSERT_EQ(a.Columns(), 2);
    EXPECT_EQ(a.table->child(0)->text(QAccessible::Name), "name");
    EXPECT_EQ(a.Cell(9, 0), "row 10");
    EXPECT_EQ(a.Cell(9, 1), "10");
}

TEST(GridAccessible, TheCurrentCellFollowsKeysAndClicksAndIsAnnouncedShort)
{
    AccessibleGrid a(30);
    ASSERT_TRUE(a.Focus());
    Listener listen(&a.t.grid);

    struct Step {
        const char* label;
        std::function<void()> act;
        int row, column;      // the current cell afterwards
        const char* name;     // what it says
        const char* context;  // and what it adds
    };
    auto key = [&a](int k, Qt::KeyboardModifiers m = {}) {
        return [&a, k, m] { QTest::keyClick(&a.t.grid, Qt::Key(k), m); };
    };
    auto click = [&a](int gridCol, int gridRow) {
        return [&a, gridCol, gridRow] {
            QTest::mouseClick(a.t.grid.viewport(), Qt::LeftButton, {}, a.CellCentre(gridCol, gridRow));
        };
    };
    const Step steps[] = {
        {"Down: the value and the row", key(Qt::Key_Down), 1, 0, "2", "row 2"},
        {"Right: the value and the title", key(Qt::Key_Right), 1, 1, "row 2", "name"},
        {"Down onto a null", key(Qt::Key_Down), 2, 1, "null", "row 3"},
        {"Ctrl+End: the last record", key(Qt::Key_End, Qt::ControlModifier), 29, 1, "row 30", "row 30"},
        {"End: the last column", key(Qt::Key_End), 29, 2, "30345", "amount"},
        {"Ctrl+Home: the first record", key(Qt::Key_Home, Qt::ControlModifier), 0, 2, "1345", "row 1"},
        // Grid column 1 (id), grid row 4 (the fourth record on screen).
        {"a click on another row and column", click(1, 4), 3, 0, "4", "row 4, id"},
        {"a click on the current cell", click(1, 4), 3, 0, nullptr, nullptr},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.label);
        listen.told.clear();
        step.act();
        GridOverStore::Flush();
        const auto focus = listen.Of(QAccessible::Focus);
        if (!step.name) {
            EXPECT_TRUE(focus.empty()) << "nothing moved, nothing said";
            continue;
        }
        ASSERT_EQ(focus.size(), 1u) << "one announcement a move";
        EXPECT_EQ(focus.front().child, a.ChildOf(step.row, step.column));
        EXPECT_EQ(focus.front().name, QString::fromUtf8(step.name));
        EXPECT_EQ(focus.front().description, QString::fromUtf8(step.context));
        ASSERT_EQ(a.Table()->selectedCells().size(), 1);
        QAccessibleTableCellInterface* current = a.Table()->selectedCells().front()->tableCellInterface();
        EXPECT_EQ(current->rowIndex(), step.row);
        EXPECT_EQ(current->columnIndex(), step.column);
        ASSERT_NE(a.table->focusChild(), nullptr);
        EXPECT_TRUE(a.table->focusChild()->state().focused);
        EXPECT_EQ(a.table->indexOfChild(a.table->focusChild()), a.ChildOf(step.row, step.column));
    }
}

TEST(GridAccessible, TakingTheFocusSaysTheGridsNameAndWhereTheCellIs)
{
    AccessibleGrid a(10);
    a.t.grid.clearFocus();
    GridOverStore::Flush();
    ASSERT_FALSE(a.t.grid.hasFocus());
    Listener listen(&a.t.grid);
    QTest::keyClick(&a.t.grid, Qt::Key_Down);
    GridOverStore::Flush();
    EXPECT_TRUE(listen.Of(QAccessible::Focus).empty()) << "a move without the focus is not announced";
    EXPECT_FALSE(listen.Of(QAccessible::Selection).empty()) << "but the current cell is told";
    ASSERT_TRUE(a.Focus());
    const auto focus = listen.Of(QAccessible::Focus);
    ASSERT_FALSE(focus.empty());
    EXPECT_EQ(focus.back().child, a.ChildOf(a.t.query.RecordNumber() - 1, 0));
    EXPECT_EQ(focus.back().description, QString("row %1, id").arg(a.t.query.RecordNumber()));
    EXPECT_EQ(a.table->text(QAccessible::Name), QString::fromUtf8("数据表：SCOTT.NUMS"));
    EXPECT_TRUE(a.table->state().focused);
}

TEST(GridAccessible, TheRowCountGrowsAsRowsStreamIn)
{
    // The workers' tasks reach this thread through Qt's event loop, as they
    // reach the program's GUI thread.
    data::SetGuiPoster([](int delayMs, std::function<void()> task) {
        QMetaObject::invokeMethod(
            qApp, [delayMs, task = std::move(task)] { QTimer::singleShot(delayMs, qApp, task); },
            Qt::QueuedConnection);
    });
    struct Unset {
        ~Unset() { data::SetGuiPoster({}); }
    } unset;
    AccessibleGrid a(5000, "");
    Listener listen(&a.t.grid);
    a.t.Open("SELECT * FROM nums ORDER BY id");
    EXPECT_LT(a.t.query.RecordCount(), 5000) << "the first block only";
    GridOverStore::Flush();
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.t.query.FetchState() == data::TFetchState::fsComplete; }, 60000));
    GridOverStore::Flush();
    EXPECT_EQ(a.Table()->rowCount(), 5000);
    EXPECT_EQ(a.Cell(4999, 1), "row 5000");

    // Opened anew once, then the rows told as added at the end, in order,
    // each time as many as the table then has.
    const auto changes = listen.Of(QAccessible::TableModelChanged);
    ASSERT_GE(changes.size(), 2u);
    EXPECT_EQ(changes.front().change, QAccessibleTableModelChangeEvent::ModelReset);
    EXPECT_LT(changes.front().rows, 5000);
    int next = changes.front().rows;
    for (std::size_t i = 1; i < changes.size(); ++i) {
        EXPECT_EQ(changes[i].change, QAccessibleTableModelChangeEvent::RowsInserted);
        EXPECT_EQ(changes[i].firstRow, next);
        EXPECT_EQ(changes[i].lastRow + 1, changes[i].rows);
        next = changes[i].rows;
    }
    EXPECT_EQ(next, 5000);
}
