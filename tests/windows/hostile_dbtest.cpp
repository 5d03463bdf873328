// Hostile data through the browser window: the test server's HOSTILE user
// owns one table for each kind of value that is hard to show or to write out
// (scripts/testdb-data.sql). Each is opened by a real key in the table list,
// painted, paged through with keys, searched with the find dialog and
// exported; nothing may crash, every cell shows its kind's text and the
// exported file holds what the grid shows.
#include "LoginFixture.h"

#include "windows/TSaveDialog.h"
#include "windows/TestAccess.h"
#include "testsupport/WorkbookReaders.h"
#include "grid/GridPainter.h"
#include "grid/TDataGrid.h"
#include "grid/TDataGridInplaceEdit.h"
#include "grid/TGridFindDlg.h"
#include "platform/Error.h"

#include <QCheckBox>
#include <QScrollBar>
#include <QTimer>

#include <map>

using namespace querlin;
using namespace querlin::test;
using data::TFieldType;

namespace {

using Rows = std::vector<std::vector<std::string>>;

std::string Repeat(const std::string& unit, int times)
{
    std::string text;
    text.reserve(unit.size() * static_cast<std::size_t>(times));
    for (int i = 0; i < times; ++i)
        text += unit;
    return text;
}

const std::string& BigVarchar()
{
    static const std::string text = "start" + Repeat("0123456789", 1048576) + "end";
    return text;
}

const std::string& BigMemo()
{
    static const std::string text = Repeat("abcdefghij", 1048576);
    return text;
}

// The bytes of a binary value as its plain text gives them: one character
// per byte.
std::string Latin1(const std::string& bytes)
{
    std::string text;
    for (unsigned char b : bytes) {
        if (b < 0x80) {
            text.push_back(static_cast<char>(b));
        } else {
            text.push_back(static_cast<char>(0xC0 | (b >> 6)));
            text.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return text;
}

bool HasTypeLabel(TFieldType kind)
{
    return kind == TFieldType::ftMemo || kind == TFieldType::ftBlob || kind == TFieldType::ftBytes ||
           kind == TFieldType::ftVarBytes;
}

std::vector<std::string> WideNames()
{
    std::vector<std::string> names;
    for (int k = 1; k <= 1500; ++k) {
        char name[8];
        std::snprintf(name, sizeof name, "c%04d", k);
        names.push_back(name);
    }
    return names;
}

Rows WideRows()
{
    Rows rows;
    for (int r = 1; r <= 3; ++r) {
        std::vector<std::string> row;
        for (int k = 1; k < 1500; ++k)
            row.push_back(std::to_string(r * 10000 + k));
        row.push_back("far right " + std::to_string(r));
        rows.push_back(row);
    }
    return rows;
}

// What every cell of every HOSTILE table shows: its field's display text.
struct Table {
    std::string name;
    std::vector<std::string> fields;
    Rows shown;
    // The plain texts of the columns with a type label (memo, binary), row
    // by row in column order: the value whole, one character per byte for
    // binary values.
    Rows labelled = {};
};

const std::vector<Table>& Tables()
{
    static const std::vector<Table> tables = {
        {"NULLS",
         {"s", "i", "n9", "b", "n12_4", "r", "d", "flag", "day", "clock", "stamp", "code", "name", "note", "bin", "uid"},
         {{"1", "2", "3", "4", "5.5", "6.5", "7.25", "True", "2024-1-2", "3:04:05", "2024-1-2 3:04:05", "abc  ",
           "name", "(MEMO)", "(BLOB)", "{0E37DF36-F698-11E6-8DD4-CB9CED3DF976}"},
          // A null shows nothing, except in the kinds with a type label.
          {"", "", "", "", "", "", "", "", "", "", "", "", "", "(Memo)", "(Blob)", ""}},
         {{"note", "A"}, {"", ""}}},
        {"BIGTEXT",
         {"id", "big", "memo"},
         {{"1", "small", "(MEMO)"}, {"2", BigVarchar(), "(MEMO)"}, {"3", "after", "(MEMO)"}},
         {{"small"}, {BigMemo()}, {"after"}}},
        {"BADBYTES",
         {"id", "raw"},
         {{"1", "(BLOB)"}, {"2", "(BLOB)"}, {"3", "(BLOB)"}, {"4", "(BLOB)"}, {"5", "(BLOB)"}, {"6", "(BLOB)"},
          {"7", "(BLOB)"}},
         {{Latin1("\x80\xbf")}, {Latin1("\xc3\x28")}, {Latin1(std::string("\x00\xff\x00", 3))},
          {Latin1("\xed\xa0\x80")}, {Latin1("\xc0\xaf")}, {""}, {Latin1("\xe4\xbd\xa0\xe5\xa5\xbd")}}},
        {"CONTROLS",
         {"id", "line", "note"},
         {{"1", "tab\there", "(MEMO)"},
          {"2", "line1\nline2", "(MEMO)"},
          {"3", "cr\ronly", "(MEMO)"},
          {"4", "\x01\x02\x1b[31mred\x7f", "(MEMO)"},
          {"5", "  \t  ", "(MEMO)"},
          {"6", "\x1f\x0b\x0c", "(MEMO)"},
          {"7", "_x0041_", "(MEMO)"}},
         {{"tab\there"}, {"line1\r\nline2"}, {"\n"}, {"bell\x07"}, {"\"quoted\", comma;semicolon"},
          {"form\x0c" "feed"}, {"_x005F_"}}},
        {"SCRIPTS",
         {"id", "word"},
         {{"1", "\U0001F600\U0001F44D\U0001F3FD"},
          {"2", "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466"},
          {"3", "\U0001F1E8\U0001F1F3 flag"},
          {"4", "مرحبا بالعالم"},
          {"5", "שלום עולם"},
          {"6", "abc שלום 123"},
          {"7", "abc\u202Edef\u202C"},
          {"8", "e\u0301\u0302\u0303"},
          {"9", "\u200B\uFEFF"}}},
        {"WIDE", WideNames(), WideRows()},
        {"NUMBERS",
         {"id", "wide", "n38", "dbl"},
         {{"1", "922337203685477.5807", "BCD overflow", "1E308"},
          {"2", "-922337203685477.5807", "BCD overflow", "-1E308"},
          {"3", "BCD overflow", "1", "INF"},
          {"4", "BCD overflow", "0", "-INF"},
          {"5", "BCD overflow", "", "NAN"},
          {"6", "0.0001", "12", "4.94065645841247E-324"},
          {"7", "0", "-1", "0"}}},
        {"DATES",
         {"id", "day", "stamp", "clock"},
         {{"1", "0001-1-1", "0001-1-1", "0:00:00"},
          {"2", "9999-12-31", "9999-12-31 23:59:59", "23:59:59"},
          {"3", "0001-1-1", "0001-1-1 0:00:01", "0:00:01"},
          {"4", "9999-12-31", "9999-12-31 23:59:59", "23:59:59"},
          {"5", "0001-1-1", "0001-1-1 23:59:59", "24:00:00"}}},
        {"OTHERTYPES",
         {"id", "ints", "doc", "docb", "span", "spot", "addr", "bits", "last"},
         {{"1", "{1,2,3}", "{\"a\": [1, \"x\"]}", "{\"b\": null}", "1 year 2 mons 3 days 04:05:06", "(1,2)",
           "10.0.0.1", "101", "end"},
          {"2", "", "", "", "", "", "", "", ""}}},
    };
    return tables;
}

const Table& TableNamed(const std::string& name)
{
    for (const Table& t : Tables())
        if (t.name == name)
            return t;
    throw std::logic_error("no table " + name);
}

// Cells by (row, column), empty ones left out.
using Cells = std::map<std::pair<int, int>, std::string>;

// The lines of WorkbookReaders ("R<row>C<column>=text", "'=" for a quoted
// cell, "(blank)" for a blank one) as cells.
Cells CellsOf(const std::vector<std::string>& lines)
{
    Cells cells;
    for (const std::string& line : lines) {
        int row = 0, column = 0;
        std::size_t at = 1;
        while (at < line.size() && std::isdigit(static_cast<unsigned char>(line[at])))
            row = row * 10 + (line[at++] - '0');
        ++at;  // C
        while (at < line.size() && std::isdigit(static_cast<unsigned char>(line[at])))
            column = column * 10 + (line[at++] - '0');
        if (at < line.size() && line[at] == '\'')
            ++at;
        std::string text = line.substr(at + 1);
        if (text != "(blank)" && !text.empty())
            cells[{row, column}] = text;
    }
    return cells;
}

// A .csv file as written: UTF-8 behind a byte-order mark, RFC 4180 quoting.
Cells ReadCsvCells(const std::string& path)
{
    std::string bytes = ReadFile(path);
    Cells cells;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") != 0)
        return {{{0, 0}, "(no byte-order mark)"}};
    int row = 1, column = 1;
    std::string field;
    for (std::size_t i = 3; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '"' && field.empty()) {
            for (++i; i < bytes.size(); ++i) {
                if (bytes[i] == '"') {
                    if (i + 1 < bytes.size() && bytes[i + 1] == '"')
                        field.push_back(bytes[++i]);
                    else
                        break;
                } else {
                    field.push_back(bytes[i]);
                }
            }
            continue;
        }
        if (c == ',' || (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) {
            if (!field.empty())
                cells[{row, column}] = field;
            field.clear();
            if (c == ',') {
                ++column;
            } else {
                ++i;
                ++row;
                column = 1;
            }
            continue;
        }
        field.push_back(c);
    }
    if (!field.empty())
        cells[{row, column}] = field;
    return cells;
}

std::string Describe(const Cells& cells, const Cells& other)
{
    std::ostringstream out;
    int shown = 0;
    for (const auto& [at, text] : cells) {
        auto it = other.find(at);
        if (it != other.end() && it->second == text)
            continue;
        out << "R" << at.first << "C" << at.second << "=" << (text.size() > 80 ? text.substr(0, 80) + "..." : text)
            << " (" << text.size() << " bytes)\n";
        if (++shown == 5)
            break;
    }
    return out.str();
}

class Hostile : public LoginEndToEnd {
protected:
    void SetUp() override
    {
        LoginEndToEnd::SetUp();
        PsqlFile(database_, SourceFile("scripts/testdb-data.sql"));
        Login("system", "manager");
        ASSERT_TRUE(Form1->isVisible());
        // As the program's start-up: the find dialog on Ctrl+F, and errors
        // from inside a grid (a search's, a paint's) to the error report.
        app::InitialiseApplication(*static_cast<QApplication*>(QCoreApplication::instance()));
        // The HOSTILE user is the second in name order: Down onto it lists
        // its tables on the key's release.
        ASSERT_EQ(Column(test::Of(*Form1).qry1, "用户"),
                  (std::vector<std::string>{"BRAVEL", "HOSTILE", "QLTEST", "TELMIR", "ZZEMPTY"}));
        test::Of(*Form1).dbgrd1->setFocus();
        QTest::keyClick(test::Of(*Form1).dbgrd1, Qt::Key_Down);
        ASSERT_EQ(Column(test::Of(*Form1).qry2, "用户表"),
                  (std::vector<std::string>{"BADBYTES", "BIGTEXT", "CONTROLS", "DATES", "NOCOLS", "NULLS", "NUMBERS",
                                            "OTHERTYPES", "SCRIPTS", "WIDE"}));
        ASSERT_TRUE(reports.empty());
    }

    void TearDown() override
    {
        TSaveDialog::SetAnswerForTesting(nullptr);
        grid::TCustomCellGrid::SetErrorReporter(nullptr);
        LoginEndToEnd::TearDown();
    }

    // Shows a table's rows as a user does: the table list's current row is
    // put beside it, and a real Down (or Up) key moves onto it; the release
    // of the key opens the rows.
    static void ShowTable(const std::string& name)
    {
        const std::vector<std::string> names = Column(test::Of(*Form1).qry2, "用户表");
        const auto at = std::find(names.begin(), names.end(), name);
        ASSERT_NE(at, names.end()) << name;
        const int row = static_cast<int>(at - names.begin()) + 1;
        test::Of(*Form1).dbgrd2->setFocus();
        test::Of(*Form1).qry2.MoveFirst();
        if (row == 1) {
            test::Of(*Form1).qry2.MoveRows(1);
            QTest::keyClick(test::Of(*Form1).dbgrd2, Qt::Key_Up);
        } else {
            test::Of(*Form1).qry2.MoveRows(row - 2);
            QTest::keyClick(test::Of(*Form1).dbgrd2, Qt::Key_Down);
        }
        ASSERT_EQ(test::Of(*Form1).qry2.RecordNumber(), row);
    }

    static grid::TDataGrid& Grid() { return *test::Of(*Form1).dbgrd4; }

    static QImage Shot()
    {
        QApplication::processEvents();
        return Grid().viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    static std::vector<std::string> Titles()
    {
        std::vector<std::string> titles;
        for (auto* column : Grid().VisibleColumns())
            titles.push_back(column->Title().Caption());
        return titles;
    }

    // The display texts of the current record, column by column.
    static std::vector<std::string> CurrentTexts()
    {
        std::vector<std::string> texts;
        for (auto* column : Grid().VisibleColumns())
            texts.push_back(column->Field() ? column->Field()->DisplayText() : "(no field)");
        return texts;
    }

    // The field of the grid's current column.
    static data::TField* CurrentField()
    {
        const int at = Grid().Col() - Grid().IndicatorOffset();
        const auto& columns = Grid().VisibleColumns();
        return at >= 0 && at < static_cast<int>(columns.size()) ? columns[std::size_t(at)]->Field() : nullptr;
    }

    static void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(&Grid(), key, modifiers);
    }

    // A paint of the whole grid, with red and blue text where rows show any.
    void ExpectPaintedWithoutReports(const char* step)
    {
        SCOPED_TRACE(step);
        const QImage shot = Shot();
        EXPECT_GT(CountPixels(shot, shot.rect(), IsRed) + CountPixels(shot, shot.rect(), IsBlue), 10);
        EXPECT_TRUE(reports.empty()) << reports[0].text.toStdString();
        reports.clear();
    }

    // Runs Find next in the dialog that Ctrl+F opens on the data grid.
    struct FindResult {
        bool opened = false;
        int record = 0;
        std::string column;
    };
    FindResult Find(const std::string& text, const std::string& findIn, bool matchFormat, bool matchCase = false)
    {
        FindResult result;
        QTimer::singleShot(0, [&] {
            grid::TGridFindDlg* dialog = grid::TGridFindDlg::Instance();
            if (!dialog || !dialog->isVisible())
                return;
            result.opened = QTest::qWaitForWindowActive(dialog);
            dialog->cbText->setEditText(QString::fromStdString(text));
            const int entry = dialog->cbFindIn->findText(QString::fromStdString(findIn));
            dialog->cbFindIn->setCurrentIndex(entry >= 0 ? entry : dialog->cbFindIn->count() - 1);
            dialog->cbUseFormat->setChecked(matchFormat);
            dialog->cbCharCase->setChecked(matchCase);
            dialog->cbText->setFocus();
            // The dialog sees the keys of its controls first: Enter is Find next.
            QTest::keyClick(dialog->cbText, Qt::Key_Return);
            dialog->reject();
        });
        Key(Qt::Key_F, Qt::ControlModifier);
        result.record = test::Of(*Form1).qry4.RecordNumber();
        if (data::TField* field = CurrentField())
            result.column = field->FieldName();
        return result;
    }

    // Waits for the running export to end and its queued calls to arrive.
    static void WaitForExport()
    {
        ASSERT_TRUE(QTest::qWaitFor([] { return ExportIdle.load(); }, 120000));
        QTest::qWait(50);
    }
};

} // namespace

// Every table opened from the table list, its titles and the display text of
// every cell read from the grid's columns row by row with real keys, and the
// grid painted after every move: Up, Down, Page Up, Page Down, Ctrl+Home,
// Ctrl+End, Home, End, Tab and the horizontal scroll bar.
TEST_F(Hostile, EveryCellShowsTheTextItsKindGivesWhileTheGridIsPagedThrough)
{
    for (const Table& table : Tables()) {
        SCOPED_TRACE(table.name);
        ShowTable(table.name);
        EXPECT_EQ(Caption(), "数据表：HOSTILE." + table.name);
        ASSERT_TRUE(test::Of(*Form1).qry4.Active());
        EXPECT_EQ(Titles(), table.fields);
        ASSERT_EQ(test::Of(*Form1).qry4.RecordCount(), static_cast<std::int64_t>(table.shown.size()));
        ExpectPaintedWithoutReports("opened");

        Grid().setFocus();
        Key(Qt::Key_Home, Qt::ControlModifier);
        for (std::size_t r = 0; r < table.shown.size(); ++r) {
            SCOPED_TRACE("row " + std::to_string(r + 1));
            ASSERT_EQ(test::Of(*Form1).qry4.RecordNumber(), static_cast<int>(r + 1));
            EXPECT_EQ(CurrentTexts(), table.shown[r]);
            // The plain text is the display text, but for the kinds with a
            // type label (the value whole) and fixed-point values beyond
            // their range (an error, never a made-up number).
            for (int k = 0; k < test::Of(*Form1).qry4.FieldCount(); ++k) {
                data::TField& field = test::Of(*Form1).qry4.FieldAt(k);
                if (HasTypeLabel(field.DataType()))
                    continue;
                if (field.DisplayText() == "BCD overflow") {
                    EXPECT_EQ(field.DataType(), TFieldType::ftBCD);
                    EXPECT_THROW(field.PlainText(), querlin::Error);
                } else {
                    EXPECT_EQ(field.PlainText(), field.DisplayText()) << field.FieldName();
                }
            }
            Key(Qt::Key_Down);
            QApplication::processEvents();
        }
        EXPECT_EQ(test::Of(*Form1).qry4.RecordNumber(), static_cast<int>(table.shown.size())) << "Down stops at the last row";
        ExpectPaintedWithoutReports("walked down");

        for (auto [key, modifiers] : std::initializer_list<std::pair<Qt::Key, Qt::KeyboardModifiers>>{
                 {Qt::Key_PageUp, {}}, {Qt::Key_PageDown, {}}, {Qt::Key_Home, Qt::ControlModifier},
                 {Qt::Key_End, {}}, {Qt::Key_Home, {}}, {Qt::Key_Tab, {}}, {Qt::Key_End, Qt::ControlModifier},
                 {Qt::Key_Up, {}}, {Qt::Key_Right, Qt::ControlModifier}, {Qt::Key_Left, {}}}) {
            Key(key, modifiers);
            ExpectPaintedWithoutReports(("key " + std::to_string(int(key)) + " " + std::to_string(int(modifiers))).c_str());
        }
        ASSERT_NE(CurrentField(), nullptr);
        EXPECT_EQ(CurrentField()->FieldName(), table.fields[table.fields.size() - 2]) << "Ctrl+Right, then Left";
        // Sideways with the scroll bar, a page at a time to the far right.
        QScrollBar* bar = Grid().horizontalScrollBar();
        for (int i = 0; i < 200 && bar->value() < bar->maximum(); ++i)
            bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        ExpectPaintedWithoutReports("scrolled to the right");
        bar->triggerAction(QAbstractSlider::SliderToMinimum);
        ExpectPaintedWithoutReports("scrolled back");
    }
}

TEST_F(Hostile, ATableWithoutColumnsCannotBeOpenedAndLeavesTheCaption)
{
    ShowTable("DATES");
    ASSERT_EQ(Caption(), "数据表：HOSTILE.DATES");
    ShowTable("NOCOLS");
    EXPECT_FALSE(test::Of(*Form1).qry4.Active());
    EXPECT_EQ(Caption(), "数据表：HOSTILE.DATES");
    EXPECT_LE(Grid().VisibleColumns().size(), 1u) << "the data grid is empty";
    Shot();
    Grid().setFocus();
    for (Qt::Key key : {Qt::Key_Down, Qt::Key_PageDown, Qt::Key_End, Qt::Key_Tab})
        Key(key);
    Shot();
    EXPECT_TRUE(reports.empty()) << reports[0].text.toStdString();
}

// The ten-million-character cell: painted (the part that shows is what the
// painter gets), in the cell editor, and handed on to the find dialog.
TEST_F(Hostile, ATenMillionCharacterCellPaintsOpensInTheEditorAndIsFound)
{
    ShowTable("BIGTEXT");
    Grid().setFocus();
    Key(Qt::Key_Down);
    Key(Qt::Key_Right);
    ASSERT_EQ(test::Of(*Form1).qry4.RecordNumber(), 2);
    ASSERT_NE(CurrentField(), nullptr);
    ASSERT_EQ(CurrentField()->FieldName(), "big");
    Key(Qt::Key_Up);
    const QImage shot = Shot();
    const QRect cell = Grid().cellRect(Grid().IndicatorOffset() + 1, Grid().TitleOffset() + 1);
    EXPECT_GT(CountPixels(shot, cell, IsBlue), 10) << "row 2 shows its start in blue";
    const QString piece =
        grid::TextToLayOut(BigVarchar(), data::TAlignment::taLeftJustify, cell.width(), QFontMetrics(Grid().font()));
    EXPECT_LE(piece.size(), grid::LayoutBound(cell.width()));
    EXPECT_TRUE(piece.startsWith(QStringLiteral("start0123456789")));

    // The cell editor holds what a line edit holds, the value's start.
    Key(Qt::Key_Down);
    Key(Qt::Key_F2);
    ASSERT_TRUE(Grid().InplaceEditor() && Grid().InplaceEditor()->isVisible());
    const QString edited = Grid().InplaceEditor()->text();
    EXPECT_EQ(edited.size(), 32767);
    EXPECT_TRUE(QString::fromStdString(BigVarchar()).startsWith(edited));
    Grid().InplaceEditor()->selectAll();
    QString searched;
    QTimer::singleShot(0, [&] {
        if (grid::TGridFindDlg* dialog = grid::TGridFindDlg::Instance()) {
            searched = dialog->cbText->currentText();
            dialog->reject();
        }
    });
    QTest::keyClick(Grid().InplaceEditor(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(searched, edited);
    Key(Qt::Key_Escape);

    // Searching reads the whole value: its last characters are found.
    Key(Qt::Key_Home, Qt::ControlModifier);
    const FindResult found = Find("789end", "big", false);
    EXPECT_TRUE(found.opened);
    EXPECT_EQ(found.record, 2);
    EXPECT_EQ(found.column, "big");
    ExpectPaintedWithoutReports("after the search");
}

// Find over hostile texts: emoji, right-to-left words, line breaks, control
// characters, the far right column of 1,500, and the numbers beyond the
// fixed point, which a search of plain texts cannot read.
TEST_F(Hostile, FindReachesEveryKindOfText)
{
    struct Case {
        const char* table;
        std::string text;
        const char* findIn;
        bool matchFormat;
        bool matchCase;
        int record;
        const char* column;
        const char* report;
    };
    const Case cases[] = {
        {.table = "SCRIPTS",
         .text = "\U0001F44D",
         .findIn = "word",
         .matchFormat = false,
         .matchCase = false,
         .record = 1,
         .column = "word",
         .report = nullptr},
        {.table = "SCRIPTS",
         .text = "שלום",
         .findIn = "word",
         .matchFormat = false,
         .matchCase = false,
         .record = 5,
         .column = "word",
         .report = nullptr},
        {.table = "SCRIPTS",
         .text = "בָּא",
         .findIn = "word",
         .matchFormat = false,
         .matchCase = false,
         .record = 1,
         .column = "id",
         .report = nullptr}, // not there: nothing moves
        {.table = "SCRIPTS",
         .text = "def\u202C",
         .findIn = "<All>",
         .matchFormat = false,
         .matchCase = false,
         .record = 7,
         .column = "word",
         .report = nullptr},
        {.table = "CONTROLS",
         .text = "1\nline2",
         .findIn = "line",
         .matchFormat = false,
         .matchCase = false,
         .record = 2,
         .column = "line",
         .report = nullptr},
        {.table = "CONTROLS",
         .text = "\x1b[31m",
         .findIn = "<All>",
         .matchFormat = false,
         .matchCase = false,
         .record = 4,
         .column = "line",
         .report = nullptr},
        {.table = "CONTROLS",
         .text = "_X0041_",
         .findIn = "line",
         .matchFormat = false,
         .matchCase = false,
         .record = 7,
         .column = "line",
         .report = nullptr},
        {.table = "WIDE",
         .text = "far right 2",
         .findIn = "<All>",
         .matchFormat = false,
         .matchCase = false,
         .record = 2,
         .column = "c1500",
         .report = nullptr},
        {.table = "WIDE",
         .text = "30007",
         .findIn = "<All>",
         .matchFormat = true,
         .matchCase = false,
         .record = 3,
         .column = "c0007",
         .report = nullptr},
        {.table = "DATES",
         .text = "9999-12-31 23:59:59",
         .findIn = "stamp",
         .matchFormat = false,
         .matchCase = false,
         .record = 2,
         .column = "stamp",
         .report = nullptr},
        {.table = "DATES",
         .text = "0001-1-1 0:00:01",
         .findIn = "<All>",
         .matchFormat = false,
         .matchCase = false,
         .record = 3,
         .column = "stamp",
         .report = nullptr},
        {.table = "NULLS",
         .text = "(Memo)",
         .findIn = "note",
         .matchFormat = true,
         .matchCase = true,
         .record = 2,
         .column = "note",
         .report = nullptr},
        {.table = "NUMBERS",
         .text = "BCD overflow",
         .findIn = "wide",
         .matchFormat = true,
         .matchCase = false,
         .record = 3,
         .column = "wide",
         .report = nullptr},
        {.table = "NUMBERS",
         .text = "NAN",
         .findIn = "<All>",
         .matchFormat = true,
         .matchCase = false,
         .record = 5,
         .column = "dbl",
         .report = nullptr},
        // Plain texts: the first value beyond the fixed point ends the search
        // with its error, and nothing moves.
        {.table = "NUMBERS",
         .text = "NAN",
         .findIn = "<All>",
         .matchFormat = false,
         .matchCase = false,
         .record = 1,
         .column = "id",
         .report = "qry4: BCD overflow."},
        {.table = "BADBYTES",
         .text = "(BLOB)",
         .findIn = "raw",
         .matchFormat = true,
         .matchCase = false,
         .record = 1,
         .column = "raw",
         .report = nullptr},
        {.table = "BADBYTES",
         .text = "\u00ff",
         .findIn = "raw",
         .matchFormat = false,
         .matchCase = false,
         .record = 3,
         .column = "raw",
         .report = nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.table) + " " + c.text);
        ShowTable(c.table);
        ASSERT_TRUE(test::Of(*Form1).qry4.Active());
        Grid().setFocus();
        Key(Qt::Key_Home, Qt::ControlModifier);
        Key(Qt::Key_Home);
        const FindResult found = Find(c.text, c.findIn, c.matchFormat, c.matchCase);
        QApplication::processEvents();
        EXPECT_TRUE(found.opened);
        EXPECT_EQ(found.record, c.record);
        EXPECT_EQ(found.column, c.column);
        if (c.report) {
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_EQ(reports[0].text.toStdString(), c.report);
            reports.clear();
        }
        ExpectPaintedWithoutReports("after the search");
    }
}

// Each table exported in each format through the menu item, read back with
// libfreexl (.xls), libzip (.xlsx) and as text (.csv), and compared with what
// the grid shows: the title, the field names, then every cell's display text
// (for the kinds with a type label, the value whole, which is what their
// plain text holds). What a format cannot hold is refused with a clear error
// and leaves no file.
TEST_F(Hostile, ExportWritesWhatTheGridShowsOrRefusesWithAClearError)
{
    struct Case {
        const char* table;
        const char* extension;
        std::string error;  // empty: the file is written; "@" stands for its path
    };
    const std::string tooLong = "Cannot create file \"@\". The cell in row 4, column 2 holds 10,485,768 characters; "
                                "a cell holds at most 32,767.";
    // The first value beyond the fixed point in the order of writing: row 1
    // of the table, its third field.
    const std::string bcd = "The cell in row 3, column 3 (n38) cannot be written: BCD overflow.";
    const Case cases[] = {
        {.table = "NULLS", .extension = ".xls", .error = ""},
        {.table = "NULLS", .extension = ".xlsx", .error = ""},
        {.table = "NULLS", .extension = ".csv", .error = ""},
        {.table = "BIGTEXT", .extension = ".xls", .error = tooLong},
        {.table = "BIGTEXT", .extension = ".xlsx", .error = tooLong},
        {.table = "BIGTEXT", .extension = ".csv", .error = ""},
        {.table = "BADBYTES", .extension = ".xls", .error = ""},
        {.table = "BADBYTES", .extension = ".xlsx", .error = ""},
        {.table = "BADBYTES", .extension = ".csv", .error = ""},
        {.table = "CONTROLS", .extension = ".xls", .error = ""},
        {.table = "CONTROLS", .extension = ".xlsx", .error = ""},
        {.table = "CONTROLS", .extension = ".csv", .error = ""},
        {.table = "SCRIPTS", .extension = ".xls", .error = ""},
        {.table = "SCRIPTS", .extension = ".xlsx", .error = ""},
        {.table = "SCRIPTS", .extension = ".csv", .error = ""},
        {.table = "WIDE",
         .extension = ".xls",
         .error = "Cannot create file \"@\". The table has 1,500 columns, and an .xls sheet holds 256; an "
                  ".xlsx workbook holds up to 16,384 columns."},
        {.table = "WIDE", .extension = ".xlsx", .error = ""},
        {.table = "WIDE", .extension = ".csv", .error = ""},
        {.table = "NUMBERS", .extension = ".xls", .error = bcd},
        {.table = "NUMBERS", .extension = ".xlsx", .error = bcd},
        {.table = "NUMBERS", .extension = ".csv", .error = bcd},
        {.table = "DATES", .extension = ".xls", .error = ""},
        {.table = "DATES", .extension = ".xlsx", .error = ""},
        {.table = "DATES", .extension = ".csv", .error = ""},
        {.table = "OTHERTYPES", .extension = ".xls", .error = ""},
        {.table = "OTHERTYPES", .extension = ".xlsx", .error = ""},
        {.table = "OTHERTYPES", .extension = ".csv", .error = ""},
    };
    const std::string folder = dir.File("exports");
    fs::create_directories(folder);
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.table) + c.extension);
        ShowTable(c.table);
        ASSERT_TRUE(test::Of(*Form1).qry4.Active());
        const Table& table = TableNamed(c.table);

        // What the grid shows, cell by cell, as the sheet places it.
        Cells expected;
        expected[{1, 1}] = Caption() + "导出之数据";
        for (std::size_t k = 0; k < table.fields.size(); ++k)
            expected[{2, static_cast<int>(k + 1)}] = table.fields[k];
        for (std::size_t r = 0; r < table.shown.size(); ++r) {
            std::size_t labelled = 0;
            for (std::size_t k = 0; k < table.shown[r].size(); ++k) {
                std::string text = table.shown[r][k];
                if (HasTypeLabel(test::Of(*Form1).qry4.FieldAt(static_cast<int>(k)).DataType()))
                    text = table.labelled.at(r).at(labelled++);
                if (!text.empty())
                    expected[{static_cast<int>(r + 3), static_cast<int>(k + 1)}] = text;
            }
        }

        const std::string target = folder + "/t" + std::to_string(++n) + c.extension;
        TSaveDialog::SetAnswerForTesting([target](const std::string&) { return target; });
        test::Of(*Form1).S1->trigger();
        WaitForExport();
        if (!c.error.empty()) {
            std::string error = c.error;
            if (const auto at = error.find('@'); at != std::string::npos)
                error.replace(at, 1, target);
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_EQ(reports[0].text.toStdString(), error);
            reports.clear();
            EXPECT_TRUE(fs::is_empty(folder)) << "no file, no temporary file";
            continue;
        }
        ASSERT_TRUE(reports.empty()) << reports[0].text.toStdString();
        ASSERT_TRUE(fs::exists(target));
        Cells written;
        if (c.extension == std::string(".xls")) {
            written = CellsOf(ReadXlsCells(target));
            // libfreexl hands texts on as C strings: they end at a NUL.
            for (auto& [at, text] : expected)
                text = text.substr(0, text.find('\0'));
        } else if (c.extension == std::string(".xlsx")) {
            written = CellsOf(ReadXlsxCells(target));
        } else {
            written = ReadCsvCells(target);
        }
        for (auto it = expected.begin(); it != expected.end();)
            it = it->second.empty() ? expected.erase(it) : std::next(it);
        EXPECT_EQ(written.size(), expected.size());
        EXPECT_TRUE(written == expected) << "written, not shown:\n"
                                         << Describe(written, expected) << "shown, not written:\n"
                                         << Describe(expected, written);
        fs::remove(target);
    }
}
