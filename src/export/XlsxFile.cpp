// Office Open XML workbooks through libxlsxwriter in constant-memory mode:
// each row goes to the sheet's file as soon as the next one starts, so the
// memory stays flat whatever the row count.
#include "export/WorkbookFormats.h"

#include "export/Workbook.h"
#include "platform/AsciiText.h"

#include <xlsxwriter.h>
#include <zip.h>

#include <cstdlib>
#include <memory>

namespace querlin::exports::detail {

namespace {

struct WorkbookCloser {
    void operator()(lxw_workbook* workbook) const
    {
        // Only reached when writing failed: the half-made file is the
        // temporary one and goes with the target.
        workbook_close(workbook);
    }
};

// libxlsxwriter has no quote-prefix setting, so the quoted cells carry a
// format of their own (the hidden-formula one, which nothing else uses),
// and that format's entry in the styles is then rewritten to the plain
// format with the quote prefix.
constexpr std::string_view kStylesEntry = "xl/styles.xml";
constexpr std::string_view kQuotedXf = R"(<xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0" quotePrefix="1"/>)";

// "_xHHHH_" (x in either case) starts at i.
bool IsEscapeAt(std::string_view text, std::size_t i)
{
    if (i + 6 >= text.size() || text[i] != '_' || (text[i + 1] != 'x' && text[i + 1] != 'X') || text[i + 6] != '_')
        return false;
    for (std::size_t k = i + 2; k < i + 6; ++k)
        if (!platform::IsAsciiHexDigit(text[k]))
            return false;
    return true;
}

// A cell's text as the sheet's XML must carry it. Readers turn "_xHHHH_"
// into the character HHHH (that is how control characters travel), so an
// underscore that starts such a sequence in the value itself is written as
// "_x005F_"; and a NUL, which would end the text libxlsxwriter is handed,
// travels as "_x0000_". libxlsxwriter escapes the other control characters.
// Gives the spool's own text (a NUL follows it) when nothing needs escaping,
// else the escaped text in scratch.
const char* SheetText(std::string_view text, std::string& scratch)
{
    if (text.find('\0') == std::string_view::npos && text.find("_x") == std::string_view::npos &&
        text.find("_X") == std::string_view::npos)
        return text.data();
    std::string& out = scratch;
    out.clear();
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\0') {
            out += "_x0000_";
        } else if (IsEscapeAt(text, i)) {
            out += "_x005F_";
        } else {
            out.push_back(c);
        }
    }
    return out.c_str();
}

void SetQuotePrefix(TargetFile& target)
{
    int error = 0;
    zip_t* archive = zip_open(target.TemporaryName().c_str(), 0, &error);
    if (!archive) {
        zip_error_t zipError;
        zip_error_init_with_code(&zipError, error);
        std::string cause = zip_error_strerror(&zipError);
        zip_error_fini(&zipError);
        target.Fail(cause);
    }
    auto fail = [&](const std::string& cause) {
        zip_discard(archive);
        target.Fail(cause);
    };
    const zip_int64_t index = zip_name_locate(archive, std::string(kStylesEntry).c_str(), 0);
    zip_stat_t stat;
    if (index < 0 || zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat) != 0)
        fail("The workbook has no styles.");
    zip_file_t* entry = zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0);
    if (!entry)
        fail(zip_strerror(archive));
    std::string styles(stat.size, '\0');
    const zip_int64_t got = zip_fread(entry, styles.data(), stat.size);
    zip_fclose(entry);
    if (got != static_cast<zip_int64_t>(stat.size))
        fail("The workbook's styles cannot be read back.");

    // <cellXfs count="2"><xf .../><xf ...>...</xf></cellXfs>: the second
    // entry is the quoted cells' format.
    const std::size_t list = styles.find("<cellXfs count=\"2\">");
    const std::size_t first = list == std::string::npos ? list : styles.find("<xf ", list);
    const std::size_t second = first == std::string::npos ? first : styles.find("<xf ", first + 1);
    const std::size_t end = second == std::string::npos ? second : styles.find("</cellXfs>", second);
    if (end == std::string::npos)
        fail("The workbook's styles are not as written.");
    styles.replace(second, end - second, kQuotedXf);

    // The buffer is read at zip_close; it lives until then.
    zip_source_t* source = zip_source_buffer(archive, styles.data(), styles.size(), 0);
    if (!source || zip_file_replace(archive, static_cast<zip_uint64_t>(index), source, 0) != 0) {
        if (source)
            zip_source_free(source);
        fail(zip_strerror(archive));
    }
    if (zip_close(archive) != 0)
        fail(zip_strerror(archive));
}

} // namespace

void WriteXlsx(const platform::CellSpool& cells, TargetFile& target)
{
    // libxlsxwriter opens the file by its name when it closes the workbook.
    target.CloseStream();

    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    std::unique_ptr<lxw_workbook, WorkbookCloser> workbook(
        workbook_new_opt(target.TemporaryName().c_str(), &options));
    if (!workbook)
        target.Fail("The workbook cannot be made.");
    lxw_worksheet* sheet = workbook_add_worksheet(workbook.get(), nullptr);
    lxw_format* quoted = workbook_add_format(workbook.get());
    if (!sheet || !quoted)
        target.Fail("The workbook cannot be made.");
    format_set_hidden(quoted);

    bool anyQuoted = false;
    std::string scratch;
    cells.ForEachRow([&](std::uint32_t row, std::span<const platform::SpoolCell> rowCells) {
        for (const auto& cell : rowCells) {
            if (cell.text.size() > kMaxCellCharacters) {
                const std::size_t length = Utf16Length(cell.text);
                if (length > kMaxCellCharacters)
                    target.Fail(CellTooLongCause(row, cell.column, length));
            }
            lxw_error error = LXW_NO_ERROR;
            const lxw_row_t r = row - 1;
            const lxw_col_t c = static_cast<lxw_col_t>(cell.column - 1);
            switch (cell.kind) {
            case platform::SpoolCellKind::Text:
                if (!cell.text.empty())
                    error = worksheet_write_string(sheet, r, c, SheetText(cell.text, scratch), nullptr);
                break;
            case platform::SpoolCellKind::QuotedText:
                // An empty text is kept as a blank cell with the quote prefix.
                anyQuoted = true;
                error = worksheet_write_string(sheet, r, c, SheetText(cell.text, scratch), quoted);
                break;
            case platform::SpoolCellKind::Number:
                error = worksheet_write_number(sheet, r, c, std::strtod(cell.text.data(), nullptr), nullptr);
                break;
            }
            if (error != LXW_NO_ERROR)
                target.Fail(lxw_strerror(error));
        }
    });

    const lxw_error closed = workbook_close(workbook.release());
    if (closed != LXW_NO_ERROR)
        target.Fail(lxw_strerror(closed));
    if (anyQuoted)
        SetQuotePrefix(target);
}

} // namespace querlin::exports::detail
