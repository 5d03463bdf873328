#include "export/Workbook.h"

#include "export/TargetFile.h"
#include "export/WorkbookFormats.h"
#include "platform/Automation.h"
#include "platform/Error.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace querlin::exports {

namespace detail {

void AppendUtf16(std::string_view utf8, std::u16string& out)
{
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = p + utf8.size();
    while (p < end) {
        unsigned char c = *p;
        if (c < 0x80) {
            out.push_back(c);
            ++p;
            continue;
        }
        int extra = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
        char32_t code = extra == 3 ? c & 0x07 : extra == 2 ? c & 0x0F : c & 0x1F;
        bool good = extra > 0 && end - p > extra;
        for (int i = 1; good && i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                good = false;
            else
                code = (code << 6) | (p[i] & 0x3F);
        }
        if (good && ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
                     (extra == 3 && (code < 0x10000 || code > 0x10FFFF))))
            good = false;
        if (!good) {
            out.push_back(0xFFFD);
            ++p;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        p += extra + 1;
    }
}

std::size_t Utf16Length(std::string_view utf8)
{
    // Every byte that does not continue a sequence starts a unit, and a
    // four-byte sequence makes two.
    std::size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80)
            ++units;
        if (c >= 0xF0)
            ++units;
    }
    return units;
}

std::string Grouped(std::uint64_t number)
{
    // Built forwards rather than by inserting commas, which GCC 12 warns
    // about falsely (-Wrestrict).
    const std::string digits = std::to_string(number);
    std::string grouped;
    for (std::size_t k = 0; k < digits.size(); ++k) {
        if (k > 0 && (digits.size() - k) % 3 == 0)
            grouped += ',';
        grouped += digits[k];
    }
    return grouped;
}

std::string CellTooLongCause(std::uint32_t row, std::uint32_t column, std::size_t length,
                             const SheetLayout& layout, std::uint32_t sheet)
{
    return "The cell in row " + Grouped(row) + ", column " + Grouped(column) +
           (layout.sheetCount > 1 ? " of " + SheetName(sheet) : std::string()) + " holds " + Grouped(length) +
           " characters; a cell holds at most " + Grouped(kMaxCellCharacters) + ".";
}

std::uint32_t SheetLayout::LastRowOf(std::uint32_t sheet) const
{
    if (sheetCount <= 1)
        return lastRow;
    if (sheet + 1 < sheetCount)
        return rowsPerSheet;
    const std::uint64_t perSheet = rowsPerSheet - headingRows;
    return static_cast<std::uint32_t>(headingRows + (lastRow - rowsPerSheet - (sheetCount - 2) * perSheet));
}

SheetLayout LayoutFor(const exports::CellSpool& cells, std::uint32_t rowsPerSheet)
{
    SheetLayout layout;
    layout.lastRow = cells.LastRow();
    layout.lastColumn = cells.LastColumn();
    if (rowsPerSheet == 0 || layout.lastRow <= rowsPerSheet)
        return layout;
    layout.rowsPerSheet = rowsPerSheet;
    // The title and the field names; a sheet keeps at least one row of its own.
    layout.headingRows = std::min<std::uint32_t>(2, rowsPerSheet - 1);
    const std::uint64_t perSheet = rowsPerSheet - layout.headingRows;
    layout.sheetCount = static_cast<std::uint32_t>(1 + (layout.lastRow - rowsPerSheet + perSheet - 1) / perSheet);
    return layout;
}

void ForEachSheetRow(const exports::CellSpool& cells, const SheetLayout& layout, const SheetVisitor& visitor)
{
    // The heading rows as read from the spool, to start every later sheet.
    struct HeldCell {
        std::uint32_t column;
        exports::SpoolCellKind kind;
        std::string text;
    };
    std::vector<std::pair<std::uint32_t, std::vector<HeldCell>>> heading;
    std::vector<exports::SpoolCell> replay;

    std::uint32_t current = 0;
    visitor.startSheet(0);
    auto moveTo = [&](std::uint32_t sheet) {
        while (current < sheet) {
            visitor.endSheet(current);
            visitor.startSheet(++current);
            for (const auto& [row, held] : heading) {
                replay.clear();
                for (const auto& cell : held)
                    replay.push_back({cell.column, cell.kind, cell.text});
                visitor.row(row, replay);
            }
        }
    };
    cells.ForEachRow([&](std::uint32_t row, std::span<const exports::SpoolCell> rowCells) {
        SaveCancellation::Check();
        if (layout.rowsPerSheet == 0 || row <= layout.rowsPerSheet) {
            if (row <= layout.headingRows) {
                std::vector<HeldCell> held;
                for (const auto& cell : rowCells)
                    held.push_back({cell.column, cell.kind, std::string(cell.text)});
                heading.emplace_back(row, std::move(held));
            }
            visitor.row(row, rowCells);
            return;
        }
        const std::uint64_t perSheet = layout.rowsPerSheet - layout.headingRows;
        const std::uint64_t beyond = row - layout.rowsPerSheet - 1;
        moveTo(static_cast<std::uint32_t>(1 + beyond / perSheet));
        visitor.row(static_cast<std::uint32_t>(layout.headingRows + 1 + beyond % perSheet), rowCells);
    });
    moveTo(layout.sheetCount - 1);
    visitor.endSheet(current);
}

std::string SheetName(std::uint32_t sheet)
{
    return "Sheet" + std::to_string(sheet + 1);
}

} // namespace detail

namespace {

std::atomic<std::uint32_t> testRows[3];
thread_local const std::atomic<bool>* saveCancelled = nullptr;

bool EndsWithNoCase(const std::string& text, std::string_view suffix)
{
    if (text.size() < suffix.size())
        return false;
    return platform::SameAutomationName(std::string_view(text).substr(text.size() - suffix.size()), suffix);
}

} // namespace

WorkbookFormat FormatForFileName(const std::string& fileName)
{
    if (EndsWithNoCase(fileName, ".xls"))
        return WorkbookFormat::Xls;
    if (EndsWithNoCase(fileName, ".csv"))
        return WorkbookFormat::Csv;
    return WorkbookFormat::Xlsx;
}

SaveCancellation::SaveCancellation(const std::atomic<bool>* cancelled) : previous_(saveCancelled)
{
    saveCancelled = cancelled;
}

SaveCancellation::~SaveCancellation()
{
    saveCancelled = previous_;
}

void SaveCancellation::Check()
{
    if (saveCancelled && saveCancelled->load(std::memory_order_relaxed))
        throw Abort();
}

void SetSheetRowsForTesting(WorkbookFormat format, std::uint32_t rows)
{
    testRows[static_cast<int>(format)] = rows;
}

WorkbookLimits LimitsOf(WorkbookFormat format)
{
    const std::uint32_t testing = testRows[static_cast<int>(format)];
    switch (format) {
    case WorkbookFormat::Xls:
        return {testing ? testing : 65536, 256};
    case WorkbookFormat::Xlsx:
        return {testing ? testing : 1048576, 16384};
    case WorkbookFormat::Csv:
        // No sheet behind the text; the columns are held to what the
        // largest workbook takes, so a stray index cannot blow every line up.
        return {0, 16384};
    }
    return {0, 0};
}

void SaveWorkbook(const exports::CellSpool& cells, const std::string& fileName)
{
    const WorkbookFormat format = FormatForFileName(fileName);
    const WorkbookLimits limits = LimitsOf(format);

    // Checked before anything is created, so an oversized table costs no
    // file. Rows never are: they go on in further sheets.
    auto tooBig = [&](const std::string& cause) {
        throw Error("Cannot create file \"" + fileName + "\". " + cause);
    };
    using detail::Grouped;
    if (limits.columns && cells.LastColumn() > limits.columns) {
        if (format == WorkbookFormat::Xls)
            tooBig("The table has " + Grouped(cells.LastColumn()) + " columns, and an .xls sheet holds " +
                   Grouped(limits.columns) + "; an .xlsx workbook holds up to 16,384 columns.");
        tooBig("The table has " + Grouped(cells.LastColumn()) + " columns, and a sheet holds at most " +
               Grouped(limits.columns) + ".");
    }

    const detail::SheetLayout layout = detail::LayoutFor(cells, limits.rows);
    WriteTargetFile(fileName, [&](TargetFile& target) {
        switch (format) {
        case WorkbookFormat::Xls:
            detail::WriteXls(cells, layout, target);
            break;
        case WorkbookFormat::Xlsx:
            detail::WriteXlsx(cells, layout, target);
            break;
        case WorkbookFormat::Csv:
            detail::WriteCsv(cells, target);
            break;
        }
    });
}

void RegisterSpreadsheetApplication()
{
    static std::once_flag once;
    std::call_once(once, [] { exports::RegisterSpreadsheetClasses(&SaveWorkbook); });
}

} // namespace querlin::exports
