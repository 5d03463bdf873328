#pragma once
// The two contents the crash writer flips each file between, shared by the
// writer and the test that checks what a kill left.
#include <cstdint>
#include <string>
#include <vector>

namespace querlin::crash {

inline constexpr char kHiveKey[] = "SOFTWARE\\QuerlinCrash\\Probe";
inline constexpr char kHiveValue[] = "State";
// Long enough that a write takes a while (the hive is some 50 KB of
// UTF-16), different all along for the two states.
inline std::string HiveText(char state)
{
    std::string text;
    for (int i = 0; i < 500; ++i)
        text += std::string(1, state) + std::to_string(i) + (state == 'A' ? " old text " : " new text, longer ");
    return text;
}

inline constexpr char kNetServiceSid[] = "ORCL";
inline std::string NetServiceHost(char state)
{
    return state == 'A' ? "old-host.example" : "the-new-host.example.org";
}

inline constexpr char kFavouriteUser[] = "SCOTT";
inline constexpr char kFavouriteTable[] = "EMP";
inline std::string FavouriteName() { return std::string(kFavouriteUser) + "." + kFavouriteTable; }

// An export of a table of rows "A<n> old row" (300 of them) or
// "B<n> a new and longer row" (400) to an .xls target, read back by
// libfreexl as "R<row>C<column>=<text>" lines.
inline constexpr char kExportCaption[] = "数据表：CRASH.ROWS";
inline int ExportRowCount(char state) { return state == 'A' ? 300 : 400; }
inline std::string ExportRowText(char state, int n)
{
    return std::string(1, state) + std::to_string(n) + (state == 'A' ? " old row" : " a new and longer row");
}
inline std::vector<std::string> ExportCells(char state)
{
    std::vector<std::string> cells = {"R1C1=" + std::string(kExportCaption) + "导出之数据", "R2C1=行"};
    for (int n = 1; n <= ExportRowCount(state); ++n)
        cells.push_back("R" + std::to_string(n + 2) + "C1=" + ExportRowText(state, n));
    return cells;
}

// The same exports to an .xlsx target whose sheets hold kExportSheetRows
// rows, so that each rolls over into further sheets, each headed again;
// read back sheet by sheet, a quoted cell as "R<row>C<column>'=<text>".
inline constexpr std::uint32_t kExportSheetRows = 128;
inline std::vector<std::vector<std::string>> ExportSheets(char state)
{
    const std::vector<std::string> heading = {"R1C1=" + std::string(kExportCaption) + "导出之数据", "R2C1=行"};
    std::vector<std::vector<std::string>> sheets;
    std::uint32_t row = kExportSheetRows;
    for (int n = 1; n <= ExportRowCount(state); ++n, ++row) {
        if (row == kExportSheetRows) {
            sheets.push_back(heading);
            row = 2;
        }
        sheets.back().push_back("R" + std::to_string(row + 1) + "C1'=" + ExportRowText(state, n));
    }
    return sheets;
}

} // namespace querlin::crash
