#pragma once
// Workbook files: the cells a built-in spreadsheet workbook collected, saved
// in the format that the chosen name asks for.
//
//   ".xls"  Excel 97-2003 workbook: BIFF8 records in an OLE2 compound file
//           (65,536 rows, 256 columns per sheet);
//   ".csv"  UTF-8 text with a byte-order mark, RFC 4180 quoting, CR LF;
//   other   Office Open XML workbook (1,048,576 rows, 16,384 columns).
//
// No table is refused for its length: rows beyond a sheet's last go on in
// the next sheet of the workbook, "Sheet2" and on, each headed again by the
// first two rows (the export's title and field names). Columns beyond a
// sheet's last are refused.
//
// Text written with the leading apostrophe is stored as text with the cell's
// quote prefix set (CSV has none and writes the text alone). The file is
// written beside the chosen name and renamed onto it when complete, so a
// failed save leaves no file and an existing file of that name unchanged.
// Memory stays flat whatever the number of cells. Any thread.

#include "export/Spreadsheet.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace querlin::exports {

enum class WorkbookFormat { Xls, Xlsx, Csv };

struct WorkbookLimits {
    std::uint32_t rows;     // 0: no limit
    std::uint32_t columns;
};

// The rows of a sheet of the format, for tests of the rolling over without
// a million rows; 0 puts the format's own limit back. Any thread.
void SetSheetRowsForTesting(WorkbookFormat format, std::uint32_t rows);

// While one lives, a workbook saved on this thread stops at its next row
// once *cancelled is set, with querlin::Abort, and no file is written. The
// export's worker keeps one for its whole run, so that closing the window
// never waits for a long save to end. One thread: the one that made it.
class SaveCancellation {
public:
    explicit SaveCancellation(const std::atomic<bool>* cancelled);
    ~SaveCancellation();
    SaveCancellation(const SaveCancellation&) = delete;
    SaveCancellation& operator=(const SaveCancellation&) = delete;

    // Throws querlin::Abort when the save on this thread is to stop.
    static void Check();

private:
    const std::atomic<bool>* previous_;
};

// By the name's extension, letters compared without regard to case.
WorkbookFormat FormatForFileName(const std::string& fileName);
WorkbookLimits LimitsOf(WorkbookFormat format);

// The most UTF-16 units a cell of any format holds.
inline constexpr std::uint32_t kMaxCellCharacters = 32767;

// Throws querlin::Error naming the file and the cause.
void SaveWorkbook(const exports::CellSpool& cells, const std::string& fileName);

// Registers the built-in "Excel.Application" and "excel.sheet" with
// SaveWorkbook as their saver. Safe to call any number of times.
void RegisterSpreadsheetApplication();

} // namespace querlin::exports
