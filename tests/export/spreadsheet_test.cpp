#include <gtest/gtest.h>

#include "platform/Automation.h"
#include "platform/Error.h"
#include "export/Spreadsheet.h"
#include "testsupport/TestSupport.h"

using namespace querlin;
using namespace querlin::platform;
using namespace querlin::exports;
using querlin::test::ErrorOf;

namespace {

// The rows a saver was handed, one line per row: "3: 1=t:x 2=q:007".
std::vector<std::string> RowsOf(const CellSpool& spool)
{
    std::vector<std::string> rows;
    spool.ForEachRow([&](std::uint32_t row, std::span<const SpoolCell> cells) {
        std::string line = std::to_string(row) + ":";
        for (const auto& c : cells) {
            const char* kind = c.kind == SpoolCellKind::Text ? "t" : c.kind == SpoolCellKind::QuotedText ? "q" : "n";
            line += " " + std::to_string(c.column) + "=" + kind + ":" + std::string(c.text);
        }
        rows.push_back(line);
    });
    return rows;
}

struct SavedWorkbook {
    std::string fileName;
    std::vector<std::string> rows;
};

class SpreadsheetObjects : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterSpreadsheetClasses([this](const CellSpool& cells, const std::string& fileName) {
            saved.push_back({fileName, RowsOf(cells)});
        });
    }
    void TearDown() override { RegisterSpreadsheetClasses(nullptr); }

    static void Put(AutomationObject& o, const char* name, int row, int column, OleVariant value)
    {
        const OleVariant args[] = {OleVariant(row), OleVariant(column), std::move(value)};
        o.SetProperty(name, args);
    }

    std::vector<SavedWorkbook> saved;
};

} // namespace

TEST_F(SpreadsheetObjects, CellsOfTheApplicationGoToTheWorkbookJustAdded)
{
    auto xl = std::shared_ptr<AutomationObject>(CreateOleObject("excel.APPLICATION"));
    auto sheet = CreateOleObject("Excel.Sheet");
    auto workbooks = xl->GetProperty("workbooks").AsObject();
    auto workbook = workbooks->CallMethod("add").AsObject();
    sheet.reset();

    Put(*xl, "cells", 1, 1, "数据表：A.B导出之数据");
    Put(*xl, "cells", 2, 2, "NAME");
    Put(*xl, "cells", 2, 1, "ID");
    Put(*xl, "Cells", 3, 1, "'007");
    Put(*xl, "Cells", 3, 2, "'");
    Put(*xl, "CELLS", 4, 1, 12);
    Put(*xl, "Cells", 4, 1, "'replaced");
    const OleVariant name[] = {OleVariant("/x/out.xls")};
    workbook->CallMethod("saveas", name);
    workbook->CallMethod("close");

    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].fileName, "/x/out.xls");
    EXPECT_EQ(saved[0].rows, (std::vector<std::string>{
        "1: 1=t:数据表：A.B导出之数据", "2: 1=t:ID 2=t:NAME", "3: 1=q:007 2=q:", "4: 1=q:replaced"}));
    EXPECT_EQ(ErrorOf([&] { Put(*xl, "cells", 5, 1, "x"); }), "No workbook is open.");
}

TEST_F(SpreadsheetObjects, SecondWorkbookBecomesActive)
{
    auto xl = std::shared_ptr<AutomationObject>(CreateOleObject("Excel.Application"));
    auto workbooks = xl->GetProperty("Workbooks").AsObject();
    auto first = workbooks->CallMethod("Add").AsObject();
    auto second = workbooks->CallMethod("Add").AsObject();
    Put(*xl, "cells", 1, 1, "to second");
    EXPECT_EQ(workbooks->GetProperty("count").AsInteger(), 2);
    const OleVariant a[] = {OleVariant("a")}, b[] = {OleVariant("b")};
    first->CallMethod("SaveAs", a);
    second->CallMethod("SaveAs", b);
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_TRUE(saved[0].rows.empty());
    EXPECT_EQ(saved[1].rows, (std::vector<std::string>{"1: 1=t:to second"}));
    second->CallMethod("close");
    Put(*xl, "cells", 1, 1, "to first");
    first->CallMethod("SaveAs", a);
    EXPECT_EQ(saved[2].rows, (std::vector<std::string>{"1: 1=t:to first"}));
}

TEST_F(SpreadsheetObjects, BadCallsAreClearErrors)
{
    auto xl = std::shared_ptr<AutomationObject>(CreateOleObject("Excel.Application"));
    auto workbook = xl->GetProperty("workbooks").AsObject()->CallMethod("add").AsObject();
    struct Case {
        const char* label;
        std::function<void()> call;
        std::string error;
    };
    const Case cases[] = {
        {"unknown member", [&] { xl->CallMethod("Charts"); }, "Unknown name."},
        {"cells read as a method", [&] { xl->CallMethod("cells"); }, "Unknown name."},
        {"row 0", [&] { Put(*xl, "cells", 0, 1, "x"); }, "The cell index 0 is outside the sheet."},
        {"column text", [&] { Put(*xl, "cells", 1, 0, "x"); }, "The cell index 0 is outside the sheet."},
        {"too few indexes", [&] { const OleVariant a[] = {OleVariant(1), OleVariant("x")}; xl->SetProperty("cells", a); },
         "Invalid number of parameters."},
        {"row going up", [&] { Put(*xl, "cells", 5, 1, "x"); Put(*xl, "cells", 4, 1, "x"); },
         "Cells must be written row by row, from the top: row 4 comes after row 5."},
        {"saveas without a name", [&] { workbook->CallMethod("saveas"); }, "Invalid number of parameters."},
        {"closed workbook", [&] { workbook->CallMethod("close"); const OleVariant n[] = {OleVariant("f")}; workbook->CallMethod("saveas", n); },
         "The workbook is closed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(ErrorOf(c.call), c.error);
    }
}

TEST(CellSpool, ReadsBackRowsAsOftenAsAsked)
{
    CellSpool spool;
    const std::string big(100000, 'x');
    for (std::uint32_t row = 1; row <= 300; ++row)
        for (std::uint32_t column = 3; column >= 1; --column)
            spool.Write(row, column, SpoolCellKind::Text, row == 7 && column == 2 ? big : std::to_string(row * 10 + column));
    EXPECT_EQ(spool.LastRow(), 300u);
    EXPECT_EQ(spool.LastColumn(), 3u);
    for (int pass = 0; pass < 2; ++pass) {
        std::uint32_t rows = 0;
        spool.ForEachRow([&](std::uint32_t row, std::span<const SpoolCell> cells) {
            ++rows;
            ASSERT_EQ(cells.size(), 3u);
            EXPECT_EQ(cells[0].column, 1u);
            EXPECT_EQ(cells[2].text, std::to_string(row * 10 + 3));
            if (row == 7) {
                EXPECT_EQ(cells[1].text.size(), big.size());
            }
        });
        EXPECT_EQ(rows, 300u);
    }
    spool.Write(300, 4, SpoolCellKind::Text, "more");
    EXPECT_EQ(RowsOf(spool).back(), "300: 1=t:3001 2=t:3002 3=t:3003 4=t:more");
}

// The cells go to a file in the user's temporary folder that is gone once
// the spool is, leaving nothing of the exported data behind.
TEST(CellSpool, ItsFileGoesWithIt)
{
    querlin::test::TempDir dir;
#ifdef _WIN32
    const char* const variable = "TMP";
#else
    const char* const variable = "TMPDIR";
#endif
    const char* saved = std::getenv(variable);
    const std::string savedValue = saved ? saved : "";
    ::setenv(variable, dir.Path().string().c_str(), 1);
    {
        CellSpool spool;
        spool.Write(1, 1, SpoolCellKind::Text, "secret");
        EXPECT_EQ(RowsOf(spool).front(), "1: 1=t:secret");
    }
    if (saved)
        ::setenv(variable, savedValue.c_str(), 1);
    else
        ::unsetenv(variable);
    EXPECT_TRUE(querlin::test::FilesIn(dir.Path()).empty());
}

TEST_F(SpreadsheetObjects, TemporaryFolderThatCannotTakeTheCellsFailsTheWriteNotTheCreation)
{
#ifdef _WIN32
    const char* const variable = "TMP";  // the first the system looks at
    const char* const missing = "C:\\nonexistent-querlin-folder";
#else
    const char* const variable = "TMPDIR";
    const char* const missing = "/nonexistent-querlin-folder";
#endif
    const char* saved = std::getenv(variable);
    const std::string savedValue = saved ? saved : "";
    ::setenv(variable, missing, 1);
    auto xl = std::shared_ptr<AutomationObject>(CreateOleObject("Excel.Application"));
    auto sheet = CreateOleObject("excel.sheet");
    auto workbook = xl->GetProperty("workbooks").AsObject()->CallMethod("add").AsObject();
    const std::string error = ErrorOf([&] { Put(*xl, "cells", 1, 1, "x"); });
    if (saved)
        ::setenv(variable, savedValue.c_str(), 1);
    else
        ::unsetenv(variable);
    EXPECT_EQ(error, "Cannot write the workbook's cells to the temporary folder. No such file or directory");
}
