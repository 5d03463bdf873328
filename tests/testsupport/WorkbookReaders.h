#pragma once
// Reads written workbooks back with real readers, for the export tests:
// libfreexl for ".xls"; for ".xlsx" two that share nothing: libzip with a
// plain scan of the sheet's XML, and libgsf's ZIP reader with libxml2,
// which parses every part strictly and finds the sheets through the
// workbook and its relationships as a spreadsheet application does. Each
// cell becomes one line "R<row>C<column>=<text>" (numbers "#<value>"), in
// row and column order; an ".xlsx" cell with the quote prefix reads
// "R1C1'=...", a blank cell "R1C1=(blank)".

#include <freexl.h>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-infile-zip.h>
#include <gsf/gsf-utils.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <zip.h>

#include <algorithm>

#include <cstdint>
#include <cctype>
#include <cstring>

#include <string>
#include <vector>

namespace querlin::test {

// sheet from 0
inline std::vector<std::string> ReadXlsSheetCells(const std::string& path, unsigned sheet)
{
    const void* handle = nullptr;
    if (freexl_open(path.c_str(), &handle) != FREEXL_OK)
        return {"(freexl cannot open the file)"};
    std::vector<std::string> cells;
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (freexl_select_active_worksheet(handle, static_cast<unsigned short>(sheet)) != FREEXL_OK ||
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

inline std::vector<std::string> ReadXlsCells(const std::string& path)
{
    return ReadXlsSheetCells(path, 0);
}

inline std::vector<std::string> XlsSheetNames(const std::string& path)
{
    const void* handle = nullptr;
    if (freexl_open(path.c_str(), &handle) != FREEXL_OK)
        return {"(freexl cannot open the file)"};
    unsigned int count = 0;
    std::vector<std::string> names;
    if (freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &count) == FREEXL_OK)
        for (unsigned short i = 0; i < count; ++i) {
            const char* name = nullptr;
            names.push_back(freexl_get_worksheet_name(handle, i, &name) == FREEXL_OK && name ? name : "(no name)");
        }
    freexl_close(handle);
    return names;
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

// sheetNumber from 1
inline std::vector<std::string> ReadXlsxSheetCells(const std::string& path, int sheetNumber)
{
    const std::string sheet = ReadZipEntry(path, "xl/worksheets/sheet" + std::to_string(sheetNumber) + ".xml");
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

inline std::vector<std::string> ReadXlsxCells(const std::string& path)
{
    return ReadXlsxSheetCells(path, 1);
}

// The second reader: libgsf's ZIP reader and libxml2.
class XlsxDocument {
public:
    explicit XlsxDocument(const std::string& path)
    {
        gsf_init();
        GError* error = nullptr;
        GsfInput* file = gsf_input_stdio_new(path.c_str(), &error);
        if (file) {
            zip_ = gsf_infile_zip_new(file, &error);
            g_object_unref(file);
        }
        g_clear_error(&error);
        if (!zip_) {
            problems.push_back("not a zip archive");
            return;
        }
        for (const auto& [name, kind] : std::vector<std::pair<std::string, std::string>>{
                 {"[Content_Types].xml", "Types"}, {"_rels/.rels", "Relationships"}})
            if (Root(Part(name)) != kind)
                problems.push_back(name + " is not a " + kind + " part");
        const std::string workbookPart = Target("_rels/.rels", "", "officeDocument");
        if (workbookPart.empty()) {
            problems.push_back("no workbook");
            return;
        }
        const std::string folder = workbookPart.substr(0, workbookPart.rfind('/') + 1);
        const std::string relationships = folder + "_rels/" + workbookPart.substr(folder.size()) + ".rels";
        const xmlDocPtr workbook = Part(workbookPart);
        for (xmlNodePtr sheets = Child(xmlDocGetRootElement(workbook), "sheets"); sheets;
             sheets = nullptr)
            for (xmlNodePtr sheet = sheets->children; sheet; sheet = sheet->next) {
                if (sheet->type != XML_ELEMENT_NODE)
                    continue;
                xmlChar* id = xmlGetNsProp(sheet, BAD_CAST "id",
                                           BAD_CAST "http://schemas.openxmlformats.org/officeDocument/2006/relationships");
                sheetNames.push_back(Attribute(sheet, "name"));
                sheetParts.push_back(Target(relationships, folder, "", id ? reinterpret_cast<const char*>(id) : ""));
                xmlFree(id);
            }
        const std::string stylesPart = Target(relationships, folder, "styles");
        int index = 0;
        if (xmlNodePtr xfs = Child(xmlDocGetRootElement(Part(stylesPart)), "cellXfs"))
            for (xmlNodePtr xf = xfs->children; xf; xf = xf->next)
                if (xf->type == XML_ELEMENT_NODE) {
                    if (Attribute(xf, "quotePrefix") == "1")
                        quotedStyles.push_back(index);
                    ++index;
                }
    }
    ~XlsxDocument()
    {
        for (auto& [name, document] : parts_)
            if (document)
                xmlFreeDoc(document);
        if (zip_)
            g_object_unref(zip_);
    }
    XlsxDocument(const XlsxDocument&) = delete;
    XlsxDocument& operator=(const XlsxDocument&) = delete;

    // The cells of sheet (from 0) as the lines described above.
    std::vector<std::string> Cells(std::size_t sheet)
    {
        if (sheet >= sheetParts.size())
            return {"(no such sheet)"};
        std::vector<std::string> cells;
        xmlNodePtr data = Child(xmlDocGetRootElement(Part(sheetParts[sheet])), "sheetData");
        for (xmlNodePtr row = data ? data->children : nullptr; row; row = row->next)
            for (xmlNodePtr cell = row->children; cell; cell = cell->next) {
                if (cell->type != XML_ELEMENT_NODE)
                    continue;
                const std::string ref = Attribute(cell, "r");
                const auto digits = ref.find_first_of("0123456789");
                int column = 0;
                for (char ch : ref.substr(0, digits))
                    column = column * 26 + (ch - 'A' + 1);
                const std::string style = Attribute(cell, "s");
                const bool quoted = !style.empty() &&
                    std::find(quotedStyles.begin(), quotedStyles.end(), std::stoi(style)) != quotedStyles.end();
                std::string line = "R" + ref.substr(digits) + "C" + std::to_string(column) + (quoted ? "'=" : "=");
                if (!cell->children) {
                    cells.push_back(line + "(blank)");
                } else if (Attribute(cell, "t") == "inlineStr") {
                    cells.push_back(line + Unescape(Text(Child(cell, "is"))));
                } else {
                    cells.push_back(line + "#" + Text(Child(cell, "v")));
                }
            }
        return cells;
    }

    std::vector<std::string> problems;
    std::vector<std::string> sheetNames;
    std::vector<std::string> sheetParts;
    std::vector<int> quotedStyles;

private:
    xmlDocPtr Part(const std::string& name)
    {
        auto found = std::find_if(parts_.begin(), parts_.end(), [&](const auto& p) { return p.first == name; });
        if (found != parts_.end())
            return found->second;
        xmlDocPtr document = nullptr;
        GsfInput* input = nullptr;
        std::string path = name;
        GsfInfile* folder = zip_;
        std::vector<GsfInput*> opened;
        for (std::size_t slash; folder && (slash = path.find('/')) != std::string::npos; path.erase(0, slash + 1)) {
            GsfInput* child = gsf_infile_child_by_name(folder, path.substr(0, slash).c_str());
            opened.push_back(child);
            folder = child && GSF_IS_INFILE(child) ? GSF_INFILE(child) : nullptr;
        }
        if (folder)
            input = gsf_infile_child_by_name(folder, path.c_str());
        if (input) {
            const auto size = static_cast<std::size_t>(gsf_input_size(input));
            std::string bytes(size, '\0');
            if (size == 0 || gsf_input_read(input, size, reinterpret_cast<guint8*>(bytes.data())))
                document = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), name.c_str(), nullptr,
                                         XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE);
            g_object_unref(input);
            if (!document)
                problems.push_back(name + " is not well-formed XML");
        } else {
            problems.push_back(name + " is missing");
        }
        for (GsfInput* child : opened)
            if (child)
                g_object_unref(child);
        parts_.emplace_back(name, document);
        return document;
    }

    static std::string Root(xmlDocPtr document)
    {
        const xmlNodePtr root = document ? xmlDocGetRootElement(document) : nullptr;
        return root ? reinterpret_cast<const char*>(root->name) : "";
    }

    static xmlNodePtr Child(xmlNodePtr parent, const char* name)
    {
        for (xmlNodePtr node = parent ? parent->children : nullptr; node; node = node->next)
            if (node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, BAD_CAST name) == 0)
                return node;
        return nullptr;
    }

    static std::string Attribute(xmlNodePtr node, const char* name)
    {
        xmlChar* value = xmlGetProp(node, BAD_CAST name);
        std::string text = value ? reinterpret_cast<const char*>(value) : "";
        xmlFree(value);
        return text;
    }

    static std::string Text(xmlNodePtr node)
    {
        xmlChar* value = node ? xmlNodeGetContent(node) : nullptr;
        std::string text = value ? reinterpret_cast<const char*>(value) : "";
        xmlFree(value);
        return text;
    }

    // "_xHHHH_" is the character HHHH (as UTF-8).
    static std::string Unescape(const std::string& text)
    {
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '_' && i + 6 < text.size() && (text[i + 1] == 'x') && text[i + 6] == '_' &&
                std::all_of(text.begin() + static_cast<long>(i) + 2, text.begin() + static_cast<long>(i) + 6,
                            [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
                const unsigned code = static_cast<unsigned>(std::stoul(text.substr(i + 2, 4), nullptr, 16));
                if (code < 0x80) {
                    out.push_back(static_cast<char>(code));
                } else if (code < 0x800) {
                    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
                    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
                } else {
                    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
                    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
                    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
                }
                i += 6;
                continue;
            }
            out.push_back(text[i]);
        }
        return out;
    }

    // The target of the relationship of type (its last path segment) or
    // of id, in the part's folder.
    std::string Target(const std::string& relationshipsPart, const std::string& folder, const std::string& type,
                       const std::string& id = "")
    {
        const xmlDocPtr document = Part(relationshipsPart);
        for (xmlNodePtr node = document ? xmlDocGetRootElement(document)->children : nullptr; node; node = node->next) {
            if (node->type != XML_ELEMENT_NODE)
                continue;
            const std::string kind = Attribute(node, "Type");
            if ((!type.empty() && kind.size() > type.size() && kind.compare(kind.size() - type.size() - 1, std::string::npos, "/" + type) == 0) ||
                (!id.empty() && Attribute(node, "Id") == id)) {
                const std::string target = Attribute(node, "Target");
                return target.starts_with("/") ? target.substr(1) : folder + target;
            }
        }
        problems.push_back("no relationship " + type + id + " in " + relationshipsPart);
        return {};
    }

    GsfInfile* zip_ = nullptr;
    std::vector<std::pair<std::string, xmlDocPtr>> parts_;
};

} // namespace querlin::test
