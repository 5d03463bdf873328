#include <gtest/gtest.h>

#include "export/Workbook.h"
#include "testsupport/WorkbookReaders.h"
#include "testsupport/WithoutOverrideRights.h"
#include "platform/Error.h"
#include "testsupport/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <sys/stat.h>

using namespace querlin;
using namespace querlin::exports;
using exports::CellSpool;
using exports::SpoolCellKind;
using test::ErrorOf;
using test::FilesIn;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

namespace {

// The export's layout: title, names, then quoted values.
void FillSample(CellSpool& spool)
{
    spool.Write(1, 1, SpoolCellKind::Text, "数据表：SCOTT.客户导出之数据");
    spool.Write(2, 1, SpoolCellKind::Text, "编号");
    spool.Write(2, 2, SpoolCellKind::Text, "名称");
    spool.Write(3, 1, SpoolCellKind::QuotedText, "007");
    spool.Write(3, 2, SpoolCellKind::QuotedText, "北京, \"东城\"");
    spool.Write(4, 1, SpoolCellKind::QuotedText, "0001.50");
    spool.Write(4, 2, SpoolCellKind::QuotedText, "");
    spool.Write(5, 1, SpoolCellKind::QuotedText, "2024-3-1");
    spool.Write(5, 2, SpoolCellKind::QuotedText, "a\r\nb");
}

} // namespace

TEST(Workbook, FormatFollowsTheNamesExtension)
{
    const std::pair<const char*, WorkbookFormat> cases[] = {
        {"oracle导出数据表.xls", WorkbookFormat::Xls}, {"A.XLS", WorkbookFormat::Xls},
        {"a.xlsx", WorkbookFormat::Xlsx},             {"a.CSV", WorkbookFormat::Csv},
        {"noextension", WorkbookFormat::Xlsx},         {"a.xls.bak", WorkbookFormat::Xlsx},
        {"a.ods", WorkbookFormat::Xlsx},
    };
    for (const auto& [name, format] : cases)
        EXPECT_EQ(FormatForFileName(name), format) << name;
}

TEST(Workbook, EachFormatReadsBackAsWritten)
{
    TempDir dir;
    CellSpool spool;
    FillSample(spool);

    SaveWorkbook(spool, dir.File("t.xls"));
    EXPECT_EQ(test::ReadXlsCells(dir.File("t.xls")), (std::vector<std::string>{
        "R1C1=数据表：SCOTT.客户导出之数据", "R2C1=编号", "R2C2=名称", "R3C1=007", "R3C2=北京, \"东城\"",
        "R4C1=0001.50", "R5C1=2024-3-1", "R5C2=a\r\nb"}));

    // The quoted cells carry the quote prefix, the title and names do not;
    // the stream is long enough to live outside the short-stream area.
    EXPECT_EQ(test::XlsQuotedCells(dir.File("t.xls")),
              (std::vector<std::string>{"R3C1", "R3C2", "R4C1", "R4C2", "R5C1", "R5C2"}));
    EXPECT_GE(test::ReadXlsWorkbookStream(dir.File("t.xls")).size(), 4096u);

    SaveWorkbook(spool, dir.File("t.xlsx"));
    EXPECT_EQ(test::ReadXlsxCells(dir.File("t.xlsx")), (std::vector<std::string>{
        "R1C1=数据表：SCOTT.客户导出之数据", "R2C1=编号", "R2C2=名称", "R3C1'=007", "R3C2'=北京, \"东城\"",
        "R4C1'=0001.50", "R4C2'=(blank)", "R5C1'=2024-3-1", "R5C2'=a\r\nb"}));

    SaveWorkbook(spool, dir.File("t.csv"));
    EXPECT_EQ(ReadFile(dir.File("t.csv")),
              "\xEF\xBB\xBF" "数据表：SCOTT.客户导出之数据,\r\n编号,名称\r\n007,\"北京, \"\"东城\"\"\"\r\n"
              "0001.50,\r\n2024-3-1,\"a\r\nb\"\r\n");

    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"t.csv", "t.xls", "t.xlsx"}));
}

// Texts that the sheet's XML cannot carry as they stand: a NUL (no XML
// character) and a literal "_xHHHH_" (a reader turns it into the character
// HHHH); control characters travel escaped.
TEST(Workbook, XlsxKeepsNulsEscapeLookalikesAndControlCharacters)
{
    TempDir dir;
    CellSpool spool;
    const std::string withNuls("\0a\0", 3);
    const std::string texts[] = {withNuls, "_x0041_", "_X00e9_ and _x005F_", "_x12_", "\x01\x1b[m\x7f", "tab\tline\n"};
    spool.Write(1, 1, SpoolCellKind::Text, "_x0041_ title");
    for (std::size_t i = 0; i < std::size(texts); ++i)
        spool.Write(static_cast<std::uint32_t>(i + 2), 1, SpoolCellKind::QuotedText, texts[i]);
    SaveWorkbook(spool, dir.File("t.xlsx"));
    std::vector<std::string> expected = {"R1C1=_x0041_ title"};
    for (std::size_t i = 0; i < std::size(texts); ++i)
        expected.push_back("R" + std::to_string(i + 2) + "C1'=" + texts[i]);
    const std::vector<std::string> cells = test::ReadXlsxCells(dir.File("t.xlsx"));
    EXPECT_EQ(cells, expected);
    const std::string sheet = test::ReadZipEntry(dir.File("t.xlsx"), "xl/worksheets/sheet1.xml");
    EXPECT_NE(sheet.find("_x005F_X00e9_"), std::string::npos) << "an upper-case lookalike is escaped too: some readers take it";
    EXPECT_NE(sheet.find("_x0000_a_x0000_"), std::string::npos);
    EXPECT_NE(sheet.find("_x12_"), std::string::npos) << "no escape to mistake: left alone";
}

TEST(Workbook, EmptySheetAndSparseRowsReadBack)
{
    TempDir dir;
    {
        CellSpool empty;
        SaveWorkbook(empty, dir.File("e.xls"));
        SaveWorkbook(empty, dir.File("e.xlsx"));
        SaveWorkbook(empty, dir.File("e.csv"));
        EXPECT_EQ(test::ReadXlsCells(dir.File("e.xls")), std::vector<std::string>{});
        EXPECT_EQ(test::ReadXlsxCells(dir.File("e.xlsx")), std::vector<std::string>{});
        EXPECT_EQ(ReadFile(dir.File("e.csv")), "\xEF\xBB\xBF");
    }
    CellSpool sparse;
    sparse.Write(2, 3, SpoolCellKind::Text, "x");
    sparse.Write(4, 1, SpoolCellKind::Number, "42");
    SaveWorkbook(sparse, dir.File("s.xls"));
    SaveWorkbook(sparse, dir.File("s.xlsx"));
    SaveWorkbook(sparse, dir.File("s.csv"));
    EXPECT_EQ(test::ReadXlsCells(dir.File("s.xls")), (std::vector<std::string>{"R2C3=x", "R4C1=#42"}));
    EXPECT_EQ(test::ReadXlsxCells(dir.File("s.xlsx")), (std::vector<std::string>{"R2C3=x", "R4C1=#42"}));
    EXPECT_EQ(ReadFile(dir.File("s.csv")), "\xEF\xBB\xBF,,\r\n,,x\r\n,,\r\n42,,\r\n");
}

// Texts long enough to carry the string table over many CONTINUE records,
// split in the middle of a character run, in both widths. Each text crosses
// at most one record boundary: libfreexl reads no text that spans three
// records (a limit of that reader, not of the format).
TEST(Workbook, LongTextsSurviveTheStringTableSplits)
{
    TempDir dir;
    CellSpool spool;
    std::vector<std::string> expected;
    for (std::uint32_t row = 1; row <= 40; ++row) {
        std::string text;
        for (std::uint32_t i = 0; i < 300 + row * 67; ++i)
            text += row % 2 ? std::string(1, static_cast<char>('a' + i % 26)) : std::string("中");
        spool.Write(row, 1, SpoolCellKind::QuotedText, text);
        expected.push_back("R" + std::to_string(row) + "C1=" + text);
    }
    SaveWorkbook(spool, dir.File("long.xls"));
    EXPECT_EQ(test::ReadXlsCells(dir.File("long.xls")), expected);
}

TEST(Workbook, TooWideForTheFormatIsRefusedBeforeAnyFileExists)
{
    struct Case {
        const char* label;
        std::uint32_t row, column;
        std::size_t textLength;
        const char* name;
        std::string cause;
    };
    const Case cases[] = {
        {.label = "xls columns",
         .row = 1,
         .column = 257,
         .textLength = 1,
         .name = "big.xls",
         .cause =
             "The table has 257 columns, and an .xls sheet holds 256; an .xlsx workbook holds up to 16,384 columns."},
        {.label = "xlsx columns",
         .row = 1,
         .column = 16385,
         .textLength = 1,
         .name = "big.xlsx",
         .cause = "The table has 16,385 columns, and a sheet holds at most 16,384."},
        {.label = "xls cell text",
         .row = 3,
         .column = 2,
         .textLength = 32768,
         .name = "big.xls",
         .cause = "The cell in row 3, column 2 holds 32,768 characters; a cell holds at most 32,767."},
        {.label = "xlsx cell text",
         .row = 3,
         .column = 2,
         .textLength = 40000,
         .name = "big.xlsx",
         .cause = "The cell in row 3, column 2 holds 40,000 characters; a cell holds at most 32,767."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        WriteFile(dir.File(c.name), "earlier file");
        CellSpool spool;
        spool.Write(1, 1, SpoolCellKind::Text, "title");
        spool.Write(c.row, c.column, SpoolCellKind::QuotedText, std::string(c.textLength, 'x'));
        const std::string target = dir.File(c.name);
        EXPECT_EQ(ErrorOf([&] { SaveWorkbook(spool, target); }), "Cannot create file \"" + target + "\". " + c.cause);
        EXPECT_EQ(ReadFile(target), "earlier file");
        EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{c.name});
    }
}

TEST(Workbook, UnwritableTargetIsAClearErrorAndLeavesNothing)
{
    TempDir dir;
    CellSpool spool;
    FillSample(spool);
    for (const char* name : {"a.xls", "a.xlsx", "a.csv"}) {
        SCOPED_TRACE(name);
        const std::string missingFolder = dir.File("no such folder/") + name;
        EXPECT_EQ(ErrorOf([&] { SaveWorkbook(spool, missingFolder); }),
                  "Cannot create file \"" + missingFolder + "\". No such file or directory");

        std::filesystem::create_directory(dir.File("ro"));
        WriteFile(dir.File("ro/") + name, "kept");
        ::chmod((dir.File("ro/") + name).c_str(), 0444);
        const std::string readOnly = dir.File("ro/") + name;
        test::RunWithoutOverrideRights([&] {
            EXPECT_EQ(ErrorOf([&] { SaveWorkbook(spool, readOnly); }),
                      "Cannot create file \"" + readOnly + "\". Permission denied");
        });
        EXPECT_EQ(ReadFile(readOnly), "kept");
        EXPECT_EQ(FilesIn(dir.File("ro")), std::vector<std::string>{name});
        std::filesystem::remove(readOnly);
    }
}

TEST(Workbook, ExistingFileIsReplacedWhole)
{
    TempDir dir;
    WriteFile(dir.File("t.xls"), std::string(100000, 'q'));
    ::chmod(dir.File("t.xls").c_str(), 0640);
    CellSpool spool;
    FillSample(spool);
    SaveWorkbook(spool, dir.File("t.xls"));
    EXPECT_EQ(test::ReadXlsCells(dir.File("t.xls")).front(), "R1C1=数据表：SCOTT.客户导出之数据");
    struct stat info {};
    ::stat(dir.File("t.xls").c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

namespace {

// A sheet of rows rows for the tests of the rolling over, for as long as
// it lives.
class SheetRows {
public:
    SheetRows(WorkbookFormat format, std::uint32_t rows) : format_(format) { SetSheetRowsForTesting(format, rows); }
    ~SheetRows() { SetSheetRowsForTesting(format_, 0); }

private:
    WorkbookFormat format_;
};

// Title, names and data rows "d<n>" in two columns, the second quoted.
void FillTable(CellSpool& spool, std::uint32_t dataRows)
{
    spool.Write(1, 1, SpoolCellKind::Text, "数据表：T导出之数据");
    spool.Write(2, 1, SpoolCellKind::Text, "N");
    spool.Write(2, 2, SpoolCellKind::Text, "名称");
    for (std::uint32_t n = 1; n <= dataRows; ++n) {
        spool.Write(n + 2, 1, SpoolCellKind::Number, std::to_string(n));
        spool.Write(n + 2, 2, SpoolCellKind::QuotedText, "d" + std::to_string(n));
    }
}

// The lines a sheet of the rolled-over table holds: the heading, then data
// rows first to last.
std::vector<std::string> SheetLines(std::uint32_t first, std::uint32_t last, bool xlsx)
{
    std::vector<std::string> lines = {"R1C1=数据表：T导出之数据", "R2C1=N", "R2C2=名称"};
    for (std::uint32_t n = first, row = 3; n <= last; ++n, ++row) {
        lines.push_back("R" + std::to_string(row) + "C1=#" + std::to_string(n));
        lines.push_back("R" + std::to_string(row) + "C2" + (xlsx ? "'=" : "=") + "d" + std::to_string(n));
    }
    return lines;
}

} // namespace

// A sheet of ten rows holds the heading and eight data rows: a table that
// fills it exactly stays on one sheet, one row more starts a second sheet,
// and every later sheet starts with the heading again.
TEST(Workbook, LongTablesGoOnInFurtherSheetsHeadedLikeTheFirst)
{
    struct Case {
        std::uint32_t dataRows;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> sheets;  // first and last data row of each
    };
    const Case cases[] = {
        {.dataRows = 8, .sheets = {{1, 8}}},
        {.dataRows = 9, .sheets = {{1, 8}, {9, 9}}},
        {.dataRows = 16, .sheets = {{1, 8}, {9, 16}}},
        {.dataRows = 25, .sheets = {{1, 8}, {9, 16}, {17, 24}, {25, 25}}},
    };
    const SheetRows xls(WorkbookFormat::Xls, 10);
    const SheetRows xlsx(WorkbookFormat::Xlsx, 10);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dataRows);
        TempDir dir;
        CellSpool spool;
        FillTable(spool, c.dataRows);
        SaveWorkbook(spool, dir.File("t.xls"));
        SaveWorkbook(spool, dir.File("t.xlsx"));
        SaveWorkbook(spool, dir.File("t.csv"));

        std::vector<std::string> names;
        for (std::size_t i = 0; i < c.sheets.size(); ++i)
            names.push_back("Sheet" + std::to_string(i + 1));
        EXPECT_EQ(test::XlsSheetNames(dir.File("t.xls")), names);
        test::XlsxDocument document(dir.File("t.xlsx"));
        EXPECT_EQ(document.problems, std::vector<std::string>{});
        EXPECT_EQ(document.sheetNames, names);
        for (std::size_t i = 0; i < c.sheets.size(); ++i) {
            SCOPED_TRACE("sheet " + std::to_string(i + 1));
            const auto [first, last] = c.sheets[i];
            EXPECT_EQ(test::ReadXlsSheetCells(dir.File("t.xls"), static_cast<unsigned>(i)), SheetLines(first, last, false));
            EXPECT_EQ(test::ReadXlsxSheetCells(dir.File("t.xlsx"), static_cast<int>(i + 1)), SheetLines(first, last, true));
            EXPECT_EQ(document.Cells(i), SheetLines(first, last, true));
        }
        // A text file has no sheets: every row in one.
        std::string csv = ReadFile(dir.File("t.csv"));
        EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), static_cast<long>(c.dataRows + 2));
    }
}

// Each sheet's entry in the globals points at the sheet's first record,
// also behind a string table large enough for a coarser index (more than
// 1,024 strings).
TEST(Workbook, XlsSheetEntriesPointAtTheirSheets)
{
    const SheetRows xls(WorkbookFormat::Xls, 1000);
    TempDir dir;
    CellSpool spool;
    FillTable(spool, 2500);
    SaveWorkbook(spool, dir.File("t.xls"));
    const std::string stream = test::ReadXlsWorkbookStream(dir.File("t.xls"));
    auto u16 = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(stream[at]) | static_cast<unsigned char>(stream[at + 1]) << 8);
    };
    std::vector<std::string> found;
    for (std::size_t at = 0; at + 4 <= stream.size(); at += 4 + u16(at + 2)) {
        if (u16(at) != 0x0085)  // BOUNDSHEET
            continue;
        const std::size_t position = u16(at + 4) | static_cast<std::size_t>(u16(at + 6)) << 16;
        found.push_back(position + 6 <= stream.size() && u16(position) == 0x0809 && u16(position + 6) == 0x0010
                            ? "sheet"
                            : "not a sheet at " + std::to_string(position));
    }
    EXPECT_EQ(found, std::vector<std::string>(3, "sheet"));
    EXPECT_EQ(test::ReadXlsSheetCells(dir.File("t.xls"), 2), SheetLines(1997, 2500, false));
}

// What the second reader, which parses the XML as it is, makes of texts
// that need escaping: each comes back as written, the file stays
// well-formed, and a malformed UTF-8 byte becomes U+FFFD.
TEST(Workbook, XlsxTextsReadBackThroughAStrictXmlParser)
{
    TempDir dir;
    CellSpool spool;
    const std::string texts[] = {std::string("\0a\0", 3), "_x0041_ and _X00e9_", "a\r\nb\r", "\x01\x1b[m\x7f",
                                 "<&>\"'", " lead and trail ", "中文\xEF\xBF\xBF", "tab\tline\n"};
    for (std::size_t i = 0; i < std::size(texts); ++i)
        spool.Write(static_cast<std::uint32_t>(i + 1), 1, SpoolCellKind::QuotedText, texts[i]);
    spool.Write(20, 1, SpoolCellKind::QuotedText, "bad \xC3 \xED\xA0\x80 end");
    SaveWorkbook(spool, dir.File("t.xlsx"));
    test::XlsxDocument document(dir.File("t.xlsx"));
    EXPECT_EQ(document.problems, std::vector<std::string>{});
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < std::size(texts); ++i)
        expected.push_back("R" + std::to_string(i + 1) + "C1'=" + texts[i]);
    expected.push_back("R20C1'=bad \xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD end");
    EXPECT_EQ(document.Cells(0), expected);
    EXPECT_EQ(test::ReadXlsxCells(dir.File("t.xlsx")).front(), expected.front());
}

// Closing the window cancels the export: a save under a set flag stops at
// its next row without a word and writes nothing, in every format; once the
// scope is gone, saves on the thread go on as before.
TEST(Workbook, CancelledSaveStopsAndLeavesNoFile)
{
    TempDir dir;
    CellSpool spool;
    FillSample(spool);
    std::atomic<bool> cancelled{true};
    for (const char* name : {"a.xls", "a.xlsx", "a.csv"}) {
        SCOPED_TRACE(name);
        const SaveCancellation cancellation(&cancelled);
        EXPECT_THROW(SaveWorkbook(spool, dir.File(name)), Abort);
        EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{});
    }
    SaveWorkbook(spool, dir.File("a.xlsx"));
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"a.xlsx"});
}
