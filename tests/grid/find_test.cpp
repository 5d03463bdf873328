// The grids' find dialog over real record sets in a local store, driven by
// real key events: the request each Find next builds, where the search
// leaves the current record and column, the dialog's own keys, its history
// and its layout. Each test runs in a process of its own, so each starts
// with the dialog not yet created.
#include "testsupport/GridTestSupport.h"
#include "grid/GridLocate.h"
#include "grid/TDataGridInplaceEdit.h"
#include "grid/TGridFindDlg.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

using namespace querlin;
using namespace querlin::grid;
using querlin::test::GridOverStore;

namespace {

std::string Quoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

using Rows = std::vector<std::vector<std::string>>;

// A grid over a table t whose text columns (a, b, ...) hold the given
// values, row by row, after an id column; read-only as the browser's grids.
struct FindGrid : GridOverStore {
    explicit FindGrid(const std::vector<std::vector<std::string>>& rows, const std::string& types = {})
    {
        const std::size_t columns = rows.empty() ? 1 : rows.front().size();
        std::string create = "CREATE TABLE t (id INTEGER";
        for (std::size_t c = 0; c < columns; ++c)
            create += std::string(", ") + char('a' + c) + " " +
                      (c < types.size() && types[c] == 'm' ? "TEXT" : "VARCHAR(40)");
        store.Execute(create + ")");
        for (std::size_t r = 0; r < rows.size(); ++r) {
            std::string values = std::to_string(r + 1);
            for (const std::string& value : rows[r])
                values += ", " + Quoted(value);
            store.Execute("INSERT INTO t VALUES (" + values + ")");
        }
        grid.SetReadOnly(true);
        Open("SELECT * FROM t");
        ShowRows(7);
    }
    // Tests sharing a process each start without the dialog, as a process does.
    ~FindGrid()
    {
        TGridFindDlg::DestroyInstance();
        TCustomDataGrid::SetFindDialogEntry({});
    }
    // Record `record` current and the data column at `position` (0: id).
    void Place(int record, int position)
    {
        query.MoveFirst();
        query.MoveRows(record - 1);
        grid.MoveColumn(position + grid.IndicatorOffset(), 0);
    }
    int Position() const { return grid.Col() - grid.IndicatorOffset(); }
};

// One text column: the value `hit` in the listed records, "pear <n>" in the others.
std::vector<std::vector<std::string>> Column(int records, const std::vector<int>& at, const std::string& hit)
{
    std::vector<std::vector<std::string>> rows;
    for (int r = 1; r <= records; ++r) {
        bool match = std::find(at.begin(), at.end(), r) != at.end();
        rows.push_back({match ? hit : "pear " + std::to_string(r)});
    }
    return rows;
}

// Opens the dialog without modality (the caller goes on) and sets its
// controls; the focus is on the search text.
TGridFindDlg& OpenDialog(TCustomDataGrid& grid, const std::string& text)
{
    TGridFindDlg::ShowFor(grid, text, {}, false);
    TGridFindDlg& dialog = *TGridFindDlg::Instance();
    dialog.activateWindow();
    QApplication::setActiveWindow(&dialog);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
    dialog.cbText->setFocus();
    QApplication::processEvents();
    return dialog;
}

void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget* focused = QApplication::focusWidget();
    ASSERT_NE(focused, nullptr);
    QTest::keyClick(focused, Qt::Key(key), modifiers);
}

enum Direction { kUp, kDown, kAll };
enum Match { kAnyPart, kWhole, kBeginning };

struct Settings {
    Direction direction = kAll;
    Match match = kAnyPart;
    bool matchCase = false;
    bool matchFormat = true;
};

void Apply(TGridFindDlg& dialog, const Settings& s)
{
    dialog.cbFindDirection->setCurrentIndex(s.direction);
    dialog.cbMatchinType->setCurrentIndex(s.match);
    dialog.cbCharCase->setChecked(s.matchCase);
    dialog.cbUseFormat->setChecked(s.matchFormat);
}

// ---------------------------------------------------------------------------
// Find next over one column, with Enter and Ctrl+Enter

struct Step {
    Qt::KeyboardModifiers modifiers;
    int record;  // current after the press
};

struct OneColumnCase {
    std::string name;
    std::vector<std::vector<std::string>> rows;
    int start;
    Settings settings;
    std::string text;
    std::vector<Step> steps;
};

void PrintTo(const OneColumnCase& c, std::ostream* out) { *out << c.name; }

class FindNext : public testing::TestWithParam<OneColumnCase> {};

TEST_P(FindNext, MovesTheRecordAsTheRequestSays)
{
    const OneColumnCase& c = GetParam();
    FindGrid t(c.rows);
    t.Place(c.start, 1);
    TGridFindDlg& dialog = OpenDialog(t.grid, c.text);
    Apply(dialog, c.settings);
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        Press(Qt::Key_Return, c.steps[i].modifiers);
        EXPECT_EQ(t.query.RecordNumber(), c.steps[i].record) << "after press " << i + 1;
        EXPECT_EQ(t.Position(), 1) << "the column stays";
        EXPECT_TRUE(dialog.isVisible()) << "Enter keeps the dialog open";
    }
}

constexpr Qt::KeyboardModifiers kNone = Qt::NoModifier;
constexpr Qt::KeyboardModifiers kCtrl = Qt::ControlModifier;

std::vector<std::vector<std::string>> Texts(std::initializer_list<const char*> values)
{
    std::vector<std::vector<std::string>> rows;
    for (const char* v : values)
        rows.push_back({v});
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Find, FindNext,
                         testing::Values(OneColumnCase{.name = "SearchAllFindsThreeThenSevenThenNothingAndSevenStays",
                                                       .rows = Column(10, {3, 7}, "apple"),
                                                       .start = 5,
                                                       .settings = {kAll},
                                                       .text = "apple",
                                                       .steps = {{kNone, 3}, {kNone, 7}, {kNone, 7}, {kNone, 7}}},
                                         OneColumnCase{.name = "DownFromFiveFindsSevenNeverTheCurrentRecord",
                                                       .rows = Column(10, {3, 5, 7}, "apple"),
                                                       .start = 5,
                                                       .settings = {kDown},
                                                       .text = "apple",
                                                       .steps = {{kNone, 7}, {kNone, 7}}},
                                         OneColumnCase{.name = "UpFromFiveFindsThree",
                                                       .rows = Column(10, {3, 5, 7}, "apple"),
                                                       .start = 5,
                                                       .settings = {kUp},
                                                       .text = "apple",
                                                       .steps = {{kNone, 3}, {kNone, 3}}},
                                         OneColumnCase{.name = "CtrlEnterWithAllSearchesUpFromTheCurrentRecord",
                                                       .rows = Column(10, {3, 7}, "apple"),
                                                       .start = 5,
                                                       .settings = {kAll},
                                                       .text = "apple",
                                                       .steps = {{kCtrl, 3}, {kCtrl, 3}, {kNone, 7}}},
                                         OneColumnCase{.name = "CtrlEnterWithUpSearchesDown",
                                                       .rows = Column(10, {3, 7}, "apple"),
                                                       .start = 5,
                                                       .settings = {kUp},
                                                       .text = "apple",
                                                       .steps = {{kCtrl, 7}, {kNone, 3}}},
                                         OneColumnCase{.name = "NoWrapAroundAtTheEnd",
                                                       .rows = Column(10, {2}, "apple"),
                                                       .start = 5,
                                                       .settings = {kDown},
                                                       .text = "apple",
                                                       .steps = {{kNone, 5}}},
                                         OneColumnCase{.name = "BeginningSmallLettersFindCapitalsWithCaseClear",
                                                       .rows = Texts({"x", "ROW 2", "ROW 3"}),
                                                       .start = 1,
                                                       .settings = {kDown, kBeginning, false},
                                                       .text = "row",
                                                       .steps = {{kNone, 2}}},
                                         OneColumnCase{.name = "BeginningSmallLettersMissCapitalsWithMatchCase",
                                                       .rows = Texts({"x", "ROW 2", "row 3"}),
                                                       .start = 1,
                                                       .settings = {kDown, kBeginning, true},
                                                       .text = "row",
                                                       .steps = {{kNone, 3}}},
                                         OneColumnCase{.name = "WholeFieldNeedsTheWholeText",
                                                       .rows = Texts({"x", "apple pie", "apple", "pie"}),
                                                       .start = 1,
                                                       .settings = {kDown, kWhole},
                                                       .text = "apple",
                                                       .steps = {{kNone, 3}}},
                                         OneColumnCase{.name = "EmptyTextAnyPartFindsNothing",
                                                       .rows = Column(10, {}, ""),
                                                       .start = 5,
                                                       .settings = {kAll, kAnyPart},
                                                       .text = "",
                                                       .steps = {{kNone, 5}}},
                                         OneColumnCase{.name = "EmptyTextWholeFieldFindsTheEmptyCell",
                                                       .rows = Column(10, {6}, ""),
                                                       .start = 2,
                                                       .settings = {kAll, kWhole},
                                                       .text = "",
                                                       .steps = {{kNone, 6}, {kNone, 6}}},
                                         OneColumnCase{.name = "EmptyTextBeginningFindsTheFirstCellExamined",
                                                       .rows = Column(10, {}, ""),
                                                       .start = 5,
                                                       .settings = {kAll, kBeginning},
                                                       .text = "",
                                                       .steps = {{kNone, 1}, {kNone, 2}}},
                                         OneColumnCase{.name = "ChineseInMixedChineseAndLatinWithCaseClear",
                                                       .rows = Texts({"Zhang 张三", "李四 Li", "Wang 王五", "王 Wu"}),
                                                       .start = 1,
                                                       .settings = {kAll, kAnyPart, false},
                                                       .text = "王五",
                                                       .steps = {{kNone, 3}, {kNone, 3}}},
                                         OneColumnCase{.name = "LatinBesideChineseWithCaseClear",
                                                       .rows = Texts({"Zhang 张三", "李四 Li", "Wang 王五"}),
                                                       .start = 1,
                                                       .settings = {kDown, kAnyPart, false},
                                                       .text = "LI",
                                                       .steps = {{kNone, 2}, {kNone, 2}}}),
                         [](const testing::TestParamInfo<OneColumnCase> &info) { return info.param.name; });

// ---------------------------------------------------------------------------
// All columns

TEST(FindAllColumns, VisitsTheCellsFromTheCurrentColumnOnThroughEveryRecord)
{
    // Four visible columns (id, a, b, c); every cell begins with the empty
    // text, so each Find next stops at the next cell examined.
    std::vector<std::vector<std::string>> rows(3, {"x", "y", "z"});
    FindGrid t(rows);
    t.Place(1, 2);
    TGridFindDlg& dialog = OpenDialog(t.grid, "");
    Apply(dialog, {kAll, kBeginning});
    dialog.cbFindIn->setCurrentIndex(dialog.cbFindIn->count() - 1);
    ASSERT_EQ(dialog.cbFindIn->currentText(), "<All>");

    std::vector<std::pair<int, int>> visited;
    for (int i = 0; i < 11; ++i) {
        Press(Qt::Key_Return);
        visited.emplace_back(t.query.RecordNumber(), t.Position());
    }
    std::vector<std::pair<int, int>> expected = {{1, 2}, {1, 3}, {2, 0}, {2, 1}, {2, 2}, {2, 3},
                                                 {3, 0}, {3, 1}, {3, 2}, {3, 3}, {3, 3}};
    EXPECT_EQ(visited, expected) << "positions 0 and 1 of record 1 are not examined";
}

TEST(FindAllColumns, AMatchInAnotherColumnMovesTheColumnAndTheNextSearchGoesOnFromIt)
{
    FindGrid t(Rows{{"x", "-", "apple"}, {"apple", "-", "-"}, {"-", "-", "-"}});
    t.Place(1, 1);
    TGridFindDlg& dialog = OpenDialog(t.grid, "apple");
    Apply(dialog, {kAll});
    dialog.cbFindIn->setCurrentIndex(dialog.cbFindIn->count() - 1);

    Press(Qt::Key_Return);
    EXPECT_EQ(t.query.RecordNumber(), 1);
    EXPECT_EQ(t.Position(), 3);
    EXPECT_EQ(t.grid.Row(), 1 + t.grid.DataLink().ActiveRecord());
    Press(Qt::Key_Return);
    EXPECT_EQ(t.query.RecordNumber(), 2);
    EXPECT_EQ(t.Position(), 1);
    Press(Qt::Key_Return);
    EXPECT_EQ(t.query.RecordNumber(), 2) << "nothing further";
    EXPECT_EQ(t.Position(), 1);
}

TEST(FindAllColumns, TheRestOfTheLastRecordIsSearchedAfterAMovePastTheEnd)
{
    // A move past the last record (Down there) marks the record set as at
    // its end; the cells right of the current one are still to be searched.
    FindGrid t(Rows{{"-", "-"}, {"-", "-"}, {"-", "apple"}});
    t.Place(3, 1);
    t.query.MoveNext();
    ASSERT_TRUE(t.query.AtEnd());
    TGridFindDlg& dialog = OpenDialog(t.grid, "apple");
    Apply(dialog, {kDown});
    dialog.cbFindIn->setCurrentIndex(dialog.cbFindIn->count() - 1);
    Press(Qt::Key_Return);
    EXPECT_EQ(t.query.RecordNumber(), 3);
    EXPECT_EQ(t.Position(), 2);
}

TEST(FindAllColumns, AnEmptyRecordSetFindsNothing)
{
    FindGrid t(Rows{});
    TGridFindDlg& dialog = OpenDialog(t.grid, "");
    for (Direction direction : {kAll, kDown, kUp}) {
        Apply(dialog, {direction, kBeginning});
        dialog.cbFindIn->setCurrentIndex(dialog.cbFindIn->count() - 1);
        Press(Qt::Key_Return);
        EXPECT_EQ(t.query.RecordNumber(), -1);
        EXPECT_TRUE(dialog.FirstTry());
    }
}

// ---------------------------------------------------------------------------
// Match Format

TEST(FindFormat, MatchFormatComparesTheMemoLabelAndWithoutItTheMemoText)
{
    struct Case {
        const char* text;
        bool matchFormat;
        int record;
    } cases[] = {
        {"memo", true, 2},    // "(MEMO)"
        {"memo", false, 1},   // the texts hold no "memo"
        {"world", false, 2},
        {"world", true, 1},
    };
    for (const Case& c : cases) {
        FindGrid t(Texts({"hello", "hello world", "other"}), "m");
        ASSERT_EQ(t.query.FieldAt(1).DataType(), data::TFieldType::ftMemo);
        t.Place(1, 1);
        TGridFindDlg& dialog = OpenDialog(t.grid, c.text);
        Apply(dialog, {kDown, kAnyPart, false, c.matchFormat});
        Press(Qt::Key_Return);
        EXPECT_EQ(t.query.RecordNumber(), c.record) << c.text << (c.matchFormat ? " with" : " without")
                                                    << " Match Format";
        dialog.hide();
    }
}

// ---------------------------------------------------------------------------
// What a search leaves behind

struct ProbeLink : data::TDataLink {
    int changes = 0, scrolls = 0;
    void DataSetChanged() override { ++changes; }
    void DataSetScrolled(int) override { ++scrolls; }
};

TEST(FindResult, NothingFoundLeavesTheSameWindowRowsAndCurrentRecord)
{
    FindGrid t(Column(40, {}, ""));
    t.Place(20, 1);
    t.query.MoveRows(-3);  // the current record inside the window, not at its edge
    ASSERT_EQ(t.query.RecordNumber(), 17);
    TGridFindDlg& dialog = OpenDialog(t.grid, "no such text");
    GridOverStore::Flush();
    const QImage before = t.Shot();
    const int active = t.grid.DataLink().ActiveRecord(), first = t.grid.DataLink().FirstOffset();
    const int held = t.query.HeldCount(), row = t.grid.Row(), top = t.grid.TopRow();

    for (Direction direction : {kAll, kDown, kUp}) {
        Apply(dialog, {direction});
        dialog.cbFindIn->setCurrentIndex(dialog.cbFindIn->count() - 1);
        Press(Qt::Key_Return);
        GridOverStore::Flush();
        EXPECT_EQ(t.query.RecordNumber(), 17);
        EXPECT_EQ(t.grid.DataLink().ActiveRecord(), active);
        EXPECT_EQ(t.grid.DataLink().FirstOffset(), first);
        EXPECT_EQ(t.query.HeldCount(), held);
        EXPECT_EQ(t.grid.Row(), row);
        EXPECT_EQ(t.grid.TopRow(), top);
        EXPECT_EQ(t.Position(), 1);
        EXPECT_TRUE(t.Shot() == before) << "the rows shown are those of before";
    }
}

TEST(FindResult, ASearchFarDownTellsTheLinksOnceAtItsEnd)
{
    FindGrid t(Column(300, {250}, "apple"));
    ProbeLink probe;
    probe.SetDataSource(&t.source);
    t.Place(1, 1);
    TGridFindDlg& dialog = OpenDialog(t.grid, "apple");
    Apply(dialog, {kDown});
    probe.changes = probe.scrolls = 0;
    Press(Qt::Key_Return);
    EXPECT_EQ(t.query.RecordNumber(), 250);
    EXPECT_EQ(probe.changes, 1);
    EXPECT_EQ(probe.scrolls, 0);
    // The grid shows the found record in its window, as moving there would.
    EXPECT_EQ(t.grid.Row(), 1 + t.grid.DataLink().ActiveRecord());
    EXPECT_EQ(t.grid.DataLink().ActiveRecord(), t.grid.DataLink().RecordCount() - 1);
}

TEST(FindResult, AFieldNameNoColumnHasIsAnError)
{
    FindGrid t(Column(5, {2}, "apple"));
    t.Place(1, 1);
    TLocateRequest request;
    request.FieldName = "nope";
    request.Text = "apple";
    EXPECT_EQ(test::ErrorOf([&] { LocateText(t.grid, request); }), "Field name 'nope' not found");
    request.FieldName = "A";  // letter case ignored
    EXPECT_TRUE(LocateText(t.grid, request));
    EXPECT_EQ(t.query.RecordNumber(), 2);
}

// ---------------------------------------------------------------------------
// History

QStringList History(const TGridFindDlg& dialog)
{
    QStringList entries;
    for (int i = 0; i < dialog.cbText->count(); ++i)
        entries << dialog.cbText->itemText(i);
    return entries;
}

TEST(FindHistory, KeepsEachTextOnceInTheCaseFirstTypedAndEmptyTextsToo)
{
    FindGrid t(Column(10, {3}, "apple"));
    TGridFindDlg& dialog = OpenDialog(t.grid, "");
    QTest::keyClicks(QApplication::focusWidget(), "Apple");
    Press(Qt::Key_Return);
    dialog.cbText->setEditText("APPLE");
    Press(Qt::Key_Return);
    dialog.cbText->setEditText("");
    Press(Qt::Key_Return);
    dialog.cbText->setEditText("pear");
    Press(Qt::Key_Return);
    EXPECT_EQ(History(dialog), (QStringList{"Apple", "", "pear"}));
    EXPECT_EQ(dialog.cbText->currentText(), "pear") << "adding to the list keeps the text";
}

TEST(FindHistory, AClosedRecordSetOnlyRecordsTheText)
{
    FindGrid t(Column(10, {3}, "apple"));
    TGridFindDlg& dialog = OpenDialog(t.grid, "apple");
    t.query.Close();
    Press(Qt::Key_Return);
    EXPECT_EQ(History(dialog), QStringList{"apple"});
    EXPECT_FALSE(t.query.Active());
    EXPECT_TRUE(dialog.FirstTry());
}

TEST(FindHistory, TypingCompletesFromTheHistoryAndUpDownStepThroughIt)
{
    FindGrid t(Column(10, {3}, "apple"));
    TGridFindDlg& dialog = OpenDialog(t.grid, "");
    for (const char* text : {"Apple pie", "one", "two"}) {
        dialog.cbText->setEditText(text);
        Press(Qt::Key_Return);
    }
    dialog.cbText->setEditText("");
    QTest::keyClicks(QApplication::focusWidget(), "ap");
    EXPECT_EQ(dialog.cbText->currentText(), "apple pie");
    EXPECT_EQ(dialog.cbText->lineEdit()->selectedText(), "ple pie");
    QTest::keyClicks(QApplication::focusWidget(), "x");
    EXPECT_EQ(dialog.cbText->currentText(), "apx") << "typing replaces the completed part";
    QTest::keyClicks(QApplication::focusWidget(), ".");
    EXPECT_EQ(dialog.cbText->currentText(), "apx.");

    dialog.cbText->setEditText("o");
    dialog.cbText->lineEdit()->setCursorPosition(1);
    QTest::keyClicks(QApplication::focusWidget(), "n");
    EXPECT_EQ(dialog.cbText->currentText(), "one");

    dialog.cbText->setEditText("nothing chosen");
    Press(Qt::Key_Up);
    EXPECT_EQ(dialog.cbText->currentText(), "two") << "Up with no entry chosen takes the last";
    Press(Qt::Key_Up);
    EXPECT_EQ(dialog.cbText->currentText(), "one");
    Press(Qt::Key_Down);
    EXPECT_EQ(dialog.cbText->currentText(), "two");
}

// ---------------------------------------------------------------------------
// Opening

TEST(FindOpening, CtrlFInTheGridOpensTheDialogModallyForTheCurrentColumn)
{
    TGridFindDlg::Install();
    FindGrid t(Column(10, {3}, "apple"));
    ASSERT_TRUE(t.Focus());
    t.Place(5, 1);
    EXPECT_EQ(TGridFindDlg::Instance(), nullptr) << "made on first use";

    struct Seen {
        bool active = false, modal = false, visible = false, textFocused = false, firstTry = false;
        QString text, findIn, direction;
        QStringList entries;
        int record = 0;
    } seen;
    QTimer::singleShot(0, [&] {
        TGridFindDlg* dialog = TGridFindDlg::Instance();
        if (!dialog)
            return;
        seen.active = QTest::qWaitForWindowActive(dialog);
        seen.modal = dialog->isModal();
        seen.visible = dialog->isVisible();
        seen.textFocused = dialog->cbText->hasFocus();
        seen.firstTry = dialog->FirstTry();
        seen.text = dialog->cbText->currentText();
        seen.findIn = dialog->cbFindIn->currentText();
        seen.direction = dialog->cbFindDirection->currentText();
        for (int i = 0; i < dialog->cbFindIn->count(); ++i)
            seen.entries << dialog->cbFindIn->itemText(i);
        dialog->cbText->setEditText("apple");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        seen.record = t.query.RecordNumber();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        if (dialog->isVisible())
            dialog->reject();  // never leave the test waiting
    });
    QTest::keyClick(&t.grid, Qt::Key_F, Qt::ControlModifier);

    EXPECT_TRUE(seen.active);
    EXPECT_TRUE(seen.modal);
    EXPECT_TRUE(seen.visible);
    EXPECT_TRUE(seen.textFocused);
    EXPECT_TRUE(seen.firstTry);
    EXPECT_EQ(seen.text, "");
    EXPECT_EQ(seen.findIn, "a");
    EXPECT_EQ(seen.direction, "All");
    EXPECT_EQ(seen.entries, (QStringList{"id", "a", "<All>"}));
    EXPECT_EQ(seen.record, 3);
    ASSERT_NE(TGridFindDlg::Instance(), nullptr);
    EXPECT_FALSE(TGridFindDlg::Instance()->isVisible()) << "Esc closed it";
    EXPECT_EQ(t.query.RecordNumber(), 3) << "the grid keeps the cell found";
}

TEST(FindOpening, CtrlFInTheCellEditorSearchesItsSelectedText)
{
    TGridFindDlg::Install();
    FindGrid t(Column(10, {3}, "apple"));
    ASSERT_TRUE(t.Focus());
    t.Place(3, 1);
    QTest::keyClick(&t.grid, Qt::Key_Return);
    ASSERT_TRUE(t.grid.InplaceEditor() && t.grid.InplaceEditor()->isVisible());
    QString text;
    QTimer::singleShot(0, [&] {
        if (TGridFindDlg* dialog = TGridFindDlg::Instance()) {
            text = dialog->cbText->currentText();
            dialog->reject();
        }
    });
    QTest::keyClick(t.grid.InplaceEditor(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(text, "apple");
}

TEST(FindOpening, EachOpeningKeepsTheSettingsAndRebuildsTheColumnList)
{
    FindGrid t(Column(10, {3}, "apple"));
    FindGrid other(Rows{{"x", "y"}});
    t.Place(1, 0);
    TGridFindDlg& dialog = OpenDialog(t.grid, "first");
    Apply(dialog, {kUp, kWhole, true, false});
    Press(Qt::Key_Escape);
    ASSERT_FALSE(dialog.isVisible());

    other.Place(1, 2);
    OpenDialog(other.grid, "second");
    EXPECT_EQ(TGridFindDlg::Instance(), &dialog);
    EXPECT_EQ(dialog.Grid(), &other.grid);
    EXPECT_EQ(dialog.cbText->currentText(), "second");
    EXPECT_EQ(History(dialog), QStringList{}) << "nothing was searched";
    EXPECT_EQ(dialog.cbFindIn->count(), 4);
    EXPECT_EQ(dialog.cbFindIn->currentText(), "b");
    EXPECT_EQ(dialog.cbFindDirection->currentText(), "Up");
    EXPECT_EQ(dialog.cbMatchinType->currentText(), "Whole field");
    EXPECT_TRUE(dialog.cbCharCase->isChecked());
    EXPECT_FALSE(dialog.cbUseFormat->isChecked());
    EXPECT_TRUE(dialog.FirstTry());
}

// ---------------------------------------------------------------------------
// The request

TEST(FindRequest, IsBuiltFromTheControls)
{
    FindGrid t(Column(10, {3}, "apple"));
    t.Place(1, 1);
    TGridFindDlg& dialog = OpenDialog(t.grid, "Apple");
    Apply(dialog, {kAll, kBeginning, false, true});
    TLocateRequest request = dialog.Request(false);
    EXPECT_EQ(request.FieldName, "a");
    EXPECT_EQ(request.Text, "Apple");
    EXPECT_EQ(request.Options, (TLocateOptions{true, false, true, false}));
    EXPECT_EQ(request.Direction, TLocateDirection::All);
    EXPECT_EQ(request.Matching, TLocateMatching::FromBeginning);
    EXPECT_EQ(request.TreeRange, TTreeFindRange::AllNodes);
    EXPECT_EQ(dialog.Request(true).Direction, TLocateDirection::Up);

    Press(Qt::Key_Return);  // found: the first try is over
    ASSERT_FALSE(dialog.FirstTry());
    EXPECT_EQ(dialog.Request(false).Direction, TLocateDirection::Down) << "All becomes Down";
    // Match, Match Case and Match Format leave the first-try flag alone;
    // the text, Find in and Search set it again.
    Apply(dialog, {kAll, kWhole, true, false});
    EXPECT_FALSE(dialog.FirstTry());
    dialog.cbFindIn->setCurrentIndex(2);
    EXPECT_TRUE(dialog.FirstTry());
    request = dialog.Request(false);
    EXPECT_EQ(request.FieldName, "");
    EXPECT_EQ(request.Options, (TLocateOptions{false, true, false, false}));
    EXPECT_EQ(request.Direction, TLocateDirection::All);
}

// ---------------------------------------------------------------------------
// The dialog's keys

TEST(FindKeys, EscUndoesTheTypedTextFirstAndThenCloses)
{
    FindGrid t(Column(10, {3}, "apple"));
    TGridFindDlg& dialog = OpenDialog(t.grid, "abc");
    dialog.cbText->lineEdit()->end(false);
    QTest::keyClicks(QApplication::focusWidget(), "xy");
    ASSERT_EQ(dialog.cbText->currentText(), "abcxy");
    Press(Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.cbText->currentText(), "abc");
    EXPECT_EQ(dialog.cbText->lineEdit()->selectedText(), "abc");
    Press(Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(FindKeys, EnterMarksTheTextTakenSoEscThenCloses)
{
    FindGrid t(Column(10, {3}, "apple"));
    t.Place(1, 1);
    TGridFindDlg& dialog = OpenDialog(t.grid, "");
    QTest::keyClicks(QApplication::focusWidget(), "apple");
    Press(Qt::Key_Return);
    EXPECT_EQ(t.query.RecordNumber(), 3);
    Press(Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(FindKeys, AltCAndAltOFocusAndToggleTheBoxesAndEscUndoesTheToggle)
{
    FindGrid t(Column(10, {3}, "apple"));
    TGridFindDlg& dialog = OpenDialog(t.grid, "apple");
    ASSERT_FALSE(dialog.cbCharCase->isChecked());
    Press(Qt::Key_C, Qt::AltModifier);
    EXPECT_TRUE(dialog.cbCharCase->hasFocus());
    EXPECT_TRUE(dialog.cbCharCase->isChecked());
    Press(Qt::Key_Escape);
    EXPECT_FALSE(dialog.cbCharCase->isChecked());
    EXPECT_TRUE(dialog.isVisible());

    ASSERT_TRUE(dialog.cbUseFormat->isChecked());
    Press(Qt::Key_O, Qt::AltModifier);
    EXPECT_TRUE(dialog.cbUseFormat->hasFocus());
    EXPECT_FALSE(dialog.cbUseFormat->isChecked());
    Press(Qt::Key_Space);
    Press(Qt::Key_Space);
    Press(Qt::Key_Escape);
    EXPECT_TRUE(dialog.cbUseFormat->isChecked()) << "back to the mark it had when the focus came";
    Press(Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible()) << "nothing left to undo";
}

TEST(FindKeys, AltFFindsAndEnterPressesAFocusedButton)
{
    FindGrid t(Column(10, {3, 7}, "apple"));
    t.Place(1, 1);
    TGridFindDlg& dialog = OpenDialog(t.grid, "apple");
    Apply(dialog, {kAll});
    Press(Qt::Key_F, Qt::AltModifier);
    EXPECT_EQ(t.query.RecordNumber(), 3);
    dialog.bFind->setFocus();
    Press(Qt::Key_Return);
    EXPECT_EQ(t.query.RecordNumber(), 7);
    Press(Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(t.query.RecordNumber(), 3) << "Ctrl+Enter on a button searches the other way";
    QTest::mouseClick(dialog.bFind, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(t.query.RecordNumber(), 3) << "nothing above record 3";
    QTest::mouseClick(dialog.bFind, Qt::LeftButton);
    EXPECT_EQ(t.query.RecordNumber(), 7);
    dialog.bCancel->setFocus();
    Press(Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(t.query.RecordNumber(), 7);
}

TEST(FindKeys, EnterInAnOpenListTakesTheEntryWithoutSearching)
{
    FindGrid t(Column(10, {3}, "apple"));
    t.Place(5, 1);
    TGridFindDlg& dialog = OpenDialog(t.grid, "apple");
    Apply(dialog, {kAll});
    dialog.cbFindDirection->setFocus();
    dialog.cbFindDirection->showPopup();
    QAbstractItemView* list = dialog.cbFindDirection->view();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->isVisible(); }));
    QTest::keyClick(list, Qt::Key_Up);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_FALSE(list->isVisible());
    EXPECT_EQ(dialog.cbFindDirection->currentText(), "Down");
    EXPECT_EQ(t.query.RecordNumber(), 5) << "no search";
    EXPECT_TRUE(dialog.isVisible());
}

TEST(FindKeys, TabWalksTheControlsInTheirOrder)
{
    FindGrid t(Column(10, {3}, "apple"));
    TGridFindDlg& dialog = OpenDialog(t.grid, "");
    std::vector<QString> order;
    for (int i = 0; i < 8; ++i) {
        QWidget* focused = QApplication::focusWidget();
        while (focused && focused->objectName().isEmpty())
            focused = focused->parentWidget();  // the combo box's own text box
        order.push_back(focused ? focused->objectName() : QString());
        Press(Qt::Key_Tab);
    }
    EXPECT_EQ(order, (std::vector<QString>{"cbText", "cbFindIn", "cbMatchinType", "cbFindDirection",
                                           "cbCharCase", "cbUseFormat", "bFind", "bCancel"}));
    (void)dialog;
}

// ---------------------------------------------------------------------------
// Layout

struct ControlCase {
    const char* name;
    QRect geometry;
    const char* text;  // caption, or the entries joined by "|"
};

TEST(FindLayout, HoldsTheDesignedControlsWithTheTreeRowHidden)
{
    FindGrid t(Column(3, {}, ""));
    TGridFindDlg& dialog = OpenDialog(t.grid, "");
    EXPECT_EQ(dialog.windowTitle(), "Find text");
    EXPECT_EQ(dialog.size(), QSize(505, 124));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "fixed size";
    EXPECT_EQ(dialog.DesignedHeight(), 150);
    EXPECT_FALSE(dialog.Label4->isVisible());
    EXPECT_FALSE(dialog.dbcTreeFindRange->isVisible());
    EXPECT_EQ(dialog.cbText->maxVisibleItems(), 17);
    EXPECT_EQ(dialog.cbFindIn->maxVisibleItems(), 17);

    const ControlCase controls[] = {
        {"Label1", {10, 12, 52, 13}, "Fi&nd What:"},
        {"cbText", {88, 9, 316, 21}, ""},
        {"bFind", {413, 9, 82, 23}, "&Find next"},
        {"bCancel", {413, 37, 82, 22}, "Close"},
        {"Label2", {10, 35, 34, 13}, "Find &in:"},
        {"cbFindIn", {88, 32, 192, 21}, "id|a|<All>"},
        {"cbMatchType", {10, 58, 33, 13}, "Matc&h:"},
        {"cbMatchinType", {88, 55, 144, 21}, "From any part of field|Whole field|From beging of field"},
        {"Label3", {10, 82, 37, 13}, "Sea&rch:"},
        {"cbFindDirection", {88, 79, 144, 21}, "Up|Down|All"},
        {"cbCharCase", {88, 105, 144, 14}, "Match &Case"},
        {"cbUseFormat", {260, 105, 144, 14}, "Match F&ormat"},
        {"Label4", {10, 128, 59, 13}, "Find in Tree:"},
        {"dbcTreeFindRange", {88, 124, 145, 21},
         "In all nodes|In expanded nodes|In current level|In current node"},
    };
    for (const ControlCase& c : controls) {
        SCOPED_TRACE(c.name);
        QWidget* control = dialog.findChild<QWidget*>(c.name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->geometry(), c.geometry);
        QString text;
        if (auto* label = qobject_cast<QLabel*>(control))
            text = label->property("Caption").toString();
        else if (auto* button = qobject_cast<QAbstractButton*>(control))
            text = button->text();
        else if (auto* box = qobject_cast<QComboBox*>(control); box && !box->isEditable()) {
            QStringList entries;
            for (int i = 0; i < box->count(); ++i)
                entries << box->itemText(i);
            text = entries.join(u'|');
        }
        EXPECT_EQ(text, QString::fromUtf8(c.text));
    }
    EXPECT_EQ(dialog.Label1->text(), "Fi<u>n</u>d What:") << "the letter is underlined";
    EXPECT_EQ(dialog.cbMatchinType->currentIndex(), 0);
    EXPECT_EQ(dialog.cbFindDirection->currentText(), "All");
    EXPECT_EQ(dialog.dbcTreeFindRange->currentIndex(), 0);
    EXPECT_FALSE(dialog.cbCharCase->isChecked());
    EXPECT_TRUE(dialog.cbUseFormat->isChecked());
}

} // namespace
