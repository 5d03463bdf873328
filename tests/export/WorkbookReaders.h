#pragma once
// Reads written workbooks back with real readers, for the export tests:
// libfreexl for ".xls", libzip and the sheet's XML for ".xlsx". Each cell
// becomes one line "R<row>C<column>=<text>" (numbers "#<value>"), in row
// and column order; an ".xlsx" cell with the quote prefix reads "R1C1'=...",
// a blank cell "R1C1=(blank)".

#include <freexl.h>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-utils.h>
#include <zip.h>

#include <cstdint>
#include <cstring>

#include <string>
#include <vector>

namespace querlin::test {

inline std::vector<std::string> ReadXlsCells(const std::string& path)
{
    const void* handle = nullptr;
    if (freexl_open(path.c_str(), &handle) != FREEXL_OK)
        return {"(freexl cannot open the file)"};
    std::vector<std::string> cells;
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (freexl_select_active_worksheet(handle, 0) != FREEXL_OK ||
        freexl_worksheet_dimensions(handle, &rows, &columns) != FREEXL_OK) {
        freexl_close(handle);
        return {"(freexl finds no sheet)"};
    }
    for (unsigned int r = 0; r < rows; ++r)
        for (unsigned short c = 0; c < columns; ++c) {
            FreeXL_CellValue value;
            if (freexl_get_cell_value(handle, r, c, &value) != FREEXL_OK) {
                cells.push_back("(bad cell)");
                continue;
            }
            const std::string at = "R" + std::to_string(r + 1) + "C" + std::to_string(c + 1) + "=";
            switch (value.type) {
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
                cells.push_back(at + value.value.text_value);
                break;
            case FREEXL_CELL_INT:
                cells.push_back(at + "#" + std::to_string(value.value.int_value));
                break;
            case FREEXL_CELL_DOUBLE:
                cells.push_back(at + "#" + std::to_string(static_cast<long long>(value.value.double_value)));
                break;
            case FREEXL_CELL_NULL:
                break;
            default:
                cells.push_back(at + "(other)");
            }
        }
    freexl_close(handle);
    return cells;
}

// The "Workbook" stream of an .xls compound file, read with libgsf's
// MS-OLE reader, or empty.
inline std::string ReadXlsWorkbookStream(const std::string& path)
{
    gsf_init();
    GError* error = nullptr;
    GsfInput* file = gsf_input_stdio_new(path.c_str(), &error);
    if (!file) {
        g_clear_error(&error);
        return {};
    }
    std::string bytes;
    if (GsfInfile* container = gsf_infile_msole_new(file, &error)) {
        if (GsfInput* stream = gsf_infile_child_by_name(container, "Workbook")) {
            const auto size = static_cast<std::size_t>(gsf_input_size(stream));
            if (const guint8* data = gsf_input_read(stream, size, nullptr))
                bytes.assign(reinterpret_cast<const char*>(data), size);
            g_object_unref(stream);
        }
        g_object_unref(container);
    }
    g_clear_error(&error);
    g_object_unref(file);
    return bytes;
}

// The cells of an .xls workbook whose format has the quote prefix, as
// "R<row>C<column>", from the records themselves (libfreexl does not tell).
inline std::vector<std::string> XlsQuotedCells(const std::string& path)
{
    const std::string stream = ReadXlsWorkbookStream(path);
    auto u16 = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(stream[at]) | static_cast<unsigned char>(stream[at + 1]) << 8);
    };
    std::vector<bool> quotedFormats;
    std::vector<std::string> cells;
    for (std::size_t at = 0; at + 4 <= stream.size();) {
        const unsigned type = u16(at), length = u16(at + 2);
        const std::size_t body = at + 4;
        if (type == 0x00E0)  // XF: the quote prefix is bit 3 of its third field
            quotedFormats.push_back((u16(body + 4) & 0x0008) != 0);
        if (type == 0x00FD || type == 0x0201) {  // LABELSST, BLANK
            const unsigned xf = u16(body + 4);
            if (xf < quotedFormats.size() && quotedFormats[xf])
                cells.push_back("R" + std::to_string(u16(body) + 1) + "C" + std::to_string(u16(body + 2) + 1));
        }
        at = body + length;
    }
    return cells;
}

// One entry of a zip archive, or "(no such entry)".
inline std::string ReadZipEntry(const std::string& path, const std::string& entryName)
{
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!archive)
        return "(not a zip archive)";
    std::string bytes = "(no such entry)";
    zip_stat_t stat;
    if (zip_stat(archive, entryName.c_str(), 0, &stat) == 0) {
        if (zip_file_t* entry = zip_fopen(archive, entryName.c_str(), 0)) {
            bytes.assign(stat.size, '\0');
            if (zip_fread(entry, bytes.data(), stat.size) != static_cast<zip_int64_t>(stat.size))
                bytes = "(cannot read the entry)";
            zip_fclose(entry);
        }
    }
    zip_discard(archive);
    return bytes;
}

inline std::string XmlUnescape(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // Control characters travel as _xHHHH_.
        if (text[i] == '_' && i + 6 < text.size() && text[i + 1] == 'x' && text[i + 6] == '_') {
            out.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 2, 4)), nullptr, 16)));
            i += 6;
            continue;
        }
        if (text[i] != '&') {
            out.push_back(text[i]);
            continue;
        }
        const auto end = text.find(';', i);
        const auto name = text.substr(i + 1, end - i - 1);
        out += name == "amp" ? "&" : name == "lt" ? "<" : name == "gt" ? ">" : name == "quot" ? "\"" : name == "apos" ? "'" : "?";
        i = end;
    }
    return out;
}

inline std::string Attribute(std::string_view element, std::string_view name)
{
    const std::string key = " " + std::string(name) + "=\"";
    const auto at = element.find(key);
    if (at == std::string_view::npos)
        return {};
    const auto start = at + key.size();
    return std::string(element.substr(start, element.find('"', start) - start));
}

// The cellXfs indexes whose entry has the quote prefix.
inline std::vector<int> QuotedStyles(const std::string& styles)
{
    std::vector<int> quoted;
    const auto list = styles.find("<cellXfs");
    const auto end = styles.find("</cellXfs>");
    int index = 0;
    for (auto at = styles.find("<xf ", list); at != std::string::npos && at < end; at = styles.find("<xf ", at + 1), ++index)
        if (Attribute(std::string_view(styles).substr(at, styles.find('>', at) - at), "quotePrefix") == "1")
            quoted.push_back(index);
    return quoted;
}

inline std::vector<std::string> ReadXlsxCells(const std::string& path)
{
    const std::string sheet = ReadZipEntry(path, "xl/worksheets/sheet1.xml");
    const std::vector<int> quoted = QuotedStyles(ReadZipEntry(path, "xl/styles.xml"));
    std::vector<std::string> cells;
    for (auto at = sheet.find("<c "); at != std::string::npos; at = sheet.find("<c ", at + 1)) {
        const auto tagEnd = sheet.find('>', at);
        const std::string_view tag(sheet.data() + at, tagEnd - at);
        const std::string ref = Attribute(tag, "r");
        const auto letters = ref.find_first_of("0123456789");
        int column = 0;
        for (char ch : ref.substr(0, letters))
            column = column * 26 + (ch - 'A' + 1);
        const std::string style = Attribute(tag, "s");
        const bool isQuoted = !style.empty() && std::find(quoted.begin(), quoted.end(), std::stoi(style)) != quoted.end();
        std::string line = "R" + ref.substr(letters) + "C" + std::to_string(column) + (isQuoted ? "'=" : "=");
        if (sheet[tagEnd - 1] == '/') {
            cells.push_back(line + "(blank)");
            continue;
        }
        const auto close = sheet.find("</c>", tagEnd);
        const std::string_view body(sheet.data() + tagEnd + 1, close - tagEnd - 1);
        if (Attribute(tag, "t") == "inlineStr") {
            const auto t = body.find("<t");
            const auto start = body.find('>', t) + 1;
            line += XmlUnescape(body.substr(start, body.find("</t>", start) - start));
        } else {
            const auto v = body.find("<v>");
            line += "#" + std::string(body.substr(v + 3, body.find("</v>") - v - 3));
        }
        cells.push_back(line);
    }
    return cells;
}

} // namespace querlin::test
