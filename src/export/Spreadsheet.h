#pragma once
// The built-in spreadsheet application behind the identifiers
// "Excel.Application" and "excel.sheet", for machines that have no
// spreadsheet application of their own.
//
// The application object has a "workbooks" collection whose "add" makes a
// new workbook with one sheet and makes it the active one; "cells" (with
// row and column, both from 1) writes a cell of the active workbook's sheet;
// the workbook's "saveas" writes the file and "close" drops the workbook.
// "excel.sheet" makes a workbook of its own, not tied to any application.
//
// A workbook keeps its cells in a spool file in the temporary folder, so its
// memory stays flat whatever it holds; the file format is only chosen by the
// name given to "saveas", which hands the cells to the workbook writers
// (Workbook.h). The classes register themselves with the platform's
// late-bound object registry, so the export reaches them, as on Windows it
// reaches the real application, by identifier.
//
// Objects belong to the thread that created them; the class registration is
// safe from any thread.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace querlin::exports {

inline constexpr const char* kSpreadsheetApplicationProgId = "Excel.Application";
inline constexpr const char* kSpreadsheetSheetProgId = "excel.sheet";

enum class SpoolCellKind : std::uint8_t {
    Text,         // text as written
    QuotedText,   // text kept as text: it was written with a leading apostrophe, not stored here
    Number,       // an integer, its decimal digits as the text
};

struct SpoolCell {
    std::uint32_t column = 0;  // from 1
    SpoolCellKind kind = SpoolCellKind::Text;
    std::string_view text;     // UTF-8; a NUL follows it in memory, for C interfaces
};

// The cells of one sheet, written row by row into an unlinked temporary
// file and read back row by row as often as a saver needs.
class CellSpool {
public:
    CellSpool();
    ~CellSpool();
    CellSpool(const CellSpool&) = delete;
    CellSpool& operator=(const CellSpool&) = delete;

    // Rows come top to bottom; the columns of a row in any order, a cell
    // written again replacing the earlier value. Throws querlin::Error for a
    // row above one already written, and when the spool cannot be written.
    void Write(std::uint32_t row, std::uint32_t column, SpoolCellKind kind, std::string_view text);

    std::uint32_t LastRow() const { return lastRow_; }        // 0 when empty
    std::uint32_t LastColumn() const { return lastColumn_; }  // 0 when empty

    // Calls visit once per row that has cells, top to bottom, with its cells
    // in column order. The views are valid during the call only.
    void ForEachRow(const std::function<void(std::uint32_t row, std::span<const SpoolCell> cells)>& visit) const;

private:
    void OpenFile();
    void FlushBuffer() const;

    std::FILE* file_ = nullptr;
    std::uint32_t lastRow_ = 0;
    std::uint32_t lastColumn_ = 0;
};

// Writes the cells into a file named fileName, in the format its name asks
// for. Throws querlin::Error with the cause; a failed save leaves no file
// and any earlier file of that name as it was.
using WorkbookSaver = std::function<void(const CellSpool& cells, const std::string& fileName)>;

// Registers "Excel.Application" and "excel.sheet" with the saver that their
// workbooks' "saveas" uses. A later call replaces the saver.
void RegisterSpreadsheetClasses(WorkbookSaver saver);

} // namespace querlin::exports
