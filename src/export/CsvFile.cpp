// Comma-separated text: UTF-8 behind a byte-order mark, so that spreadsheet
// applications read the Chinese texts right; fields quoted as RFC 4180 has
// it; every line with as many fields as the widest row; CR LF after each.
#include "export/WorkbookFormats.h"

#include "export/Workbook.h"

#include <cerrno>
#include <cstring>

namespace querlin::exports::detail {

namespace {

constexpr std::size_t kBufferSize = 1 << 20;

void AppendField(std::string& line, std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        line.append(text);
        return;
    }
    line.push_back('"');
    for (char c : text) {
        if (c == '"')
            line.push_back('"');
        line.push_back(c);
    }
    line.push_back('"');
}

} // namespace

void WriteCsv(const exports::CellSpool& cells, TargetFile& target)
{
    std::FILE* out = target.Stream();
    std::setvbuf(out, nullptr, _IOFBF, kBufferSize);
    auto put = [&](std::string_view bytes) {
        if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size())
            target.FailWithErrno(errno);
    };
    put("\xEF\xBB\xBF");

    const std::uint32_t width = cells.LastColumn();
    std::string line;
    std::uint32_t nextRow = 1;
    cells.ForEachRow([&](std::uint32_t row, std::span<const exports::SpoolCell> rowCells) {
        SaveCancellation::Check();
        // Rows without cells are lines of empty fields, so every value keeps
        // its row number.
        for (; nextRow < row; ++nextRow) {
            line.assign(width ? width - 1 : 0, ',');
            line += "\r\n";
            put(line);
        }
        line.clear();
        // Field c stands after c - 1 commas.
        std::uint32_t commas = 0;
        for (const auto& cell : rowCells) {
            for (; commas + 1 < cell.column; ++commas)
                line.push_back(',');
            AppendField(line, cell.text);
        }
        for (; commas + 1 < width; ++commas)
            line.push_back(',');
        line += "\r\n";
        put(line);
        nextRow = row + 1;
    });
}

} // namespace querlin::exports::detail
