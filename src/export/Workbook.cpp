#include "export/Workbook.h"

#include "export/TargetFile.h"
#include "export/WorkbookFormats.h"
#include "platform/Automation.h"
#include "platform/Error.h"

#include <mutex>

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
    std::string digits = std::to_string(number);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return digits;
}

std::string CellTooLongCause(std::uint32_t row, std::uint32_t column, std::size_t length)
{
    return "The cell in row " + Grouped(row) + ", column " + Grouped(column) + " holds " + Grouped(length) +
           " characters; a cell holds at most " + Grouped(kMaxCellCharacters) + ".";
}

} // namespace detail

namespace {

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

WorkbookLimits LimitsOf(WorkbookFormat format)
{
    switch (format) {
    case WorkbookFormat::Xls:
        return {65536, 256};
    case WorkbookFormat::Xlsx:
        return {1048576, 16384};
    case WorkbookFormat::Csv:
        // No sheet behind the text; the columns are held to what the
        // largest workbook takes, so a stray index cannot blow every line up.
        return {0, 16384};
    }
    return {0, 0};
}

void SaveWorkbook(const platform::CellSpool& cells, const std::string& fileName)
{
    const WorkbookFormat format = FormatForFileName(fileName);
    const WorkbookLimits limits = LimitsOf(format);

    // Checked before anything is created, so an oversized table costs no file.
    auto tooBig = [&](const std::string& cause) {
        throw Error("Cannot create file \"" + fileName + "\". " + cause);
    };
    using detail::Grouped;
    if (limits.rows && cells.LastRow() > limits.rows) {
        if (format == WorkbookFormat::Xls)
            tooBig("The table needs " + Grouped(cells.LastRow()) + " rows, and an .xls sheet holds " +
                   Grouped(limits.rows) + "; an .xlsx workbook holds up to 1,048,576 rows.");
        tooBig("The table needs " + Grouped(cells.LastRow()) + " rows, and an .xlsx sheet holds " +
               Grouped(limits.rows) + "; a .csv file holds any number of rows.");
    }
    if (limits.columns && cells.LastColumn() > limits.columns) {
        if (format == WorkbookFormat::Xls)
            tooBig("The table has " + Grouped(cells.LastColumn()) + " columns, and an .xls sheet holds " +
                   Grouped(limits.columns) + "; an .xlsx workbook holds up to 16,384 columns.");
        tooBig("The table has " + Grouped(cells.LastColumn()) + " columns, and a sheet holds at most " +
               Grouped(limits.columns) + ".");
    }

    WriteTargetFile(fileName, [&](TargetFile& target) {
        switch (format) {
        case WorkbookFormat::Xls:
            detail::WriteXls(cells, target);
            break;
        case WorkbookFormat::Xlsx:
            detail::WriteXlsx(cells, target);
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
    std::call_once(once, [] { platform::RegisterSpreadsheetClasses(&SaveWorkbook); });
}

} // namespace querlin::exports
