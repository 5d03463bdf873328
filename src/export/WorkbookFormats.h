#pragma once
// The writers behind SaveWorkbook, one per format. Each writes the cells
// into the temporary file of target and leaves the commit to the caller;
// each throws querlin::Error through target.Fail.

#include "export/TargetFile.h"
#include "export/Spreadsheet.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace querlin::exports::detail {

// How the spool's rows fall into sheets. A table longer than a sheet goes
// on in the next sheet, which starts with the same heading rows (the title
// and the field names) so that each sheet stands alone: sheet 1 holds spool
// rows 1 to rowsPerSheet, every later one the heading and then the next
// rowsPerSheet - headingRows rows.
struct SheetLayout {
    std::uint32_t rowsPerSheet = 0;  // 0: one sheet, any length
    std::uint32_t headingRows = 0;
    std::uint32_t sheetCount = 1;
    std::uint32_t lastRow = 0;       // of the spool
    std::uint32_t lastColumn = 0;

    // The last row of sheet (from 0) that holds cells, in the sheet's rows.
    std::uint32_t LastRowOf(std::uint32_t sheet) const;
};

SheetLayout LayoutFor(const exports::CellSpool& cells, std::uint32_t rowsPerSheet);

// Calls startSheet and endSheet for every sheet of the layout in order
// (also when a sheet receives no row), and row for each row with cells in
// between, numbered as in its sheet; one pass over the spool.
struct SheetVisitor {
    std::function<void(std::uint32_t sheet)> startSheet;
    std::function<void(std::uint32_t row, std::span<const exports::SpoolCell> cells)> row;
    std::function<void(std::uint32_t sheet)> endSheet;
};
void ForEachSheetRow(const exports::CellSpool& cells, const SheetLayout& layout, const SheetVisitor& visitor);

// "Sheet1", "Sheet2", ...
std::string SheetName(std::uint32_t sheet);

// "The cell in row 3, column 2 holds 40,000 characters; a cell holds at most
// 32,767."; with the sheet's name ("... column 2 of Sheet3 holds ...") when
// the workbook has more than one sheet, the row then counted in that sheet.
std::string CellTooLongCause(std::uint32_t row, std::uint32_t column, std::size_t length,
                             const SheetLayout& layout, std::uint32_t sheet);

void WriteXls(const exports::CellSpool& cells, const SheetLayout& layout, TargetFile& target);
void WriteXlsx(const exports::CellSpool& cells, const SheetLayout& layout, TargetFile& target);
void WriteCsv(const exports::CellSpool& cells, TargetFile& target);

// UTF-8 to UTF-16, a malformed byte becoming U+FFFD. Appends to out.
void AppendUtf16(std::string_view utf8, std::u16string& out);
// Characters as a spreadsheet counts them (UTF-16 units).
std::size_t Utf16Length(std::string_view utf8);

// 1048576 → "1,048,576"
std::string Grouped(std::uint64_t number);

} // namespace querlin::exports::detail
