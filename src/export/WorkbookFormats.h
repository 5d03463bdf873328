#pragma once
// The writers behind SaveWorkbook, one per format. Each writes the cells
// into the temporary file of target and leaves the commit to the caller;
// each throws querlin::Error through target.Fail.

#include "export/TargetFile.h"
#include "platform/Spreadsheet.h"

#include <string>
#include <string_view>

namespace querlin::exports::detail {

void WriteXls(const platform::CellSpool& cells, TargetFile& target);
void WriteXlsx(const platform::CellSpool& cells, TargetFile& target);
void WriteCsv(const platform::CellSpool& cells, TargetFile& target);

// UTF-8 to UTF-16, a malformed byte becoming U+FFFD. Appends to out.
void AppendUtf16(std::string_view utf8, std::u16string& out);
// Characters as a spreadsheet counts them (UTF-16 units).
std::size_t Utf16Length(std::string_view utf8);

// "The cell in row 3, column 2 holds 40,000 characters; a cell holds at most 32,767."
std::string CellTooLongCause(std::uint32_t row, std::uint32_t column, std::size_t length);
// 1048576 → "1,048,576"
std::string Grouped(std::uint64_t number);

} // namespace querlin::exports::detail
