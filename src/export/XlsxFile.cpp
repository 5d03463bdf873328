// Office Open XML workbooks, written here: the parts' XML straight from the
// cell spool, in a ZIP package whose entries are deflated in pieces on
// helper threads. The spool is read once; what is held at any time is a few
// pieces in flight, so the memory stays flat whatever the row count.
#include "export/WorkbookFormats.h"

#include "export/Workbook.h"
#include "export/ZipPackage.h"
#include "platform/AsciiText.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <set>
#include <vector>
#include <unistd.h>

namespace querlin::exports::detail {

namespace {

constexpr std::string_view kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
constexpr std::string_view kMainNamespace = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kRelationshipsNamespace =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// Cell format 1 is the default one with the quote prefix: the cells written
// with a leading apostrophe.
constexpr std::string_view kStyles =
    "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font></fonts>"
    "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
    "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
    "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
    "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
    "<cellXfs count=\"2\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
    "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" quotePrefix=\"1\"/></cellXfs>"
    "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
    "</styleSheet>";

// The most bytes a cell's XML takes beyond seven per byte of its text
// ("_x0000_" for a NUL is the longest escape): room made before each row.
constexpr std::size_t kCellOverhead = 96;
constexpr std::size_t kRowOverhead = 32;
constexpr std::size_t kEscapeFactor = 7;

std::string ColumnName(std::uint32_t column)
{
    std::string name;
    for (; column > 0; column = (column - 1) / 26)
        name.insert(name.begin(), static_cast<char>('A' + (column - 1) % 26));
    return name;
}

// "_xHHHH_" (x in either case) starts at i: readers would turn it into the
// character HHHH.
bool IsEscapeAt(std::string_view text, std::size_t i)
{
    if (i + 6 >= text.size() || (text[i + 1] != 'x' && text[i + 1] != 'X') || text[i + 6] != '_')
        return false;
    for (std::size_t k = i + 2; k < i + 6; ++k)
        if (!platform::IsAsciiHexDigit(text[k]))
            return false;
    return true;
}

// What a byte of cell text needs: 0 as it stands, 1 an XML entity or an
// escape, 2 the start of a multi-byte sequence to check.
constexpr std::array<std::uint8_t, 256> kByteClass = [] {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 0x20; ++c)
        table[c] = 1;
    table['&'] = table['<'] = table['>'] = table['_'] = 1;
    for (int c = 0x80; c < 0x100; ++c)
        table[c] = 2;
    return table;
}();

char* PutHexEscape(char* out, std::uint32_t code)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    *out++ = '_';
    *out++ = 'x';
    for (int shift = 12; shift >= 0; shift -= 4)
        *out++ = kHex[(code >> shift) & 0xF];
    *out++ = '_';
    return out;
}

// Length of the well-formed UTF-8 sequence at p (1 to 4), or 0 when it is
// malformed, overlong, a surrogate or beyond U+10FFFF; code gets its value.
std::size_t Utf8Sequence(const unsigned char* p, const unsigned char* end, std::uint32_t& code)
{
    const unsigned char c = *p;
    std::size_t length;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        code = c & 0x07;
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - p) < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
        return 0;
    return length;
}

// Writes a cell's text as the element text of <t>: XML's specials as
// entities; the characters XML cannot carry (controls, U+FFFE, U+FFFF) as
// "_xHHHH_", which is how spreadsheet readers take them; an underscore that
// would start such an escape in the text itself as "_x005F_"; a carriage
// return as "_x000D_", so XML's line-end folding does not drop it; a
// malformed UTF-8 byte as U+FFFD. Returns the new end; out has room for
// seven bytes per byte of text.
char* PutCellText(char* out, std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        // The run of bytes that need nothing.
        const auto* run = p;
        while (p < end && kByteClass[*p] == 0)
            ++p;
        std::memcpy(out, run, static_cast<std::size_t>(p - run));
        out += p - run;
        if (p == end)
            break;
        const unsigned char c = *p;
        if (kByteClass[c] == 2) {
            std::uint32_t code = 0;
            const std::size_t length = Utf8Sequence(p, end, code);
            if (length == 0) {
                std::memcpy(out, "\xEF\xBF\xBD", 3);
                out += 3;
                ++p;
            } else if (code == 0xFFFE || code == 0xFFFF) {
                out = PutHexEscape(out, code);
                p += length;
            } else {
                std::memcpy(out, p, length);
                out += length;
                p += length;
            }
            continue;
        }
        switch (c) {
        case '&':
            std::memcpy(out, "&amp;", 5);
            out += 5;
            break;
        case '<':
            std::memcpy(out, "&lt;", 4);
            out += 4;
            break;
        case '>':
            std::memcpy(out, "&gt;", 4);
            out += 4;
            break;
        case '_':
            if (IsEscapeAt(text, static_cast<std::size_t>(p - reinterpret_cast<const unsigned char*>(text.data())))) {
                out = PutHexEscape(out, '_');
            } else {
                *out++ = '_';
            }
            break;
        case '\t':
        case '\n':
            *out++ = static_cast<char>(c);
            break;
        default:
            out = PutHexEscape(out, c);
        }
        ++p;
    }
    return out;
}

bool NeedsSpacePreserved(std::string_view text)
{
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    return !text.empty() && (isSpace(text.front()) || isSpace(text.back()));
}

char* PutDecimal(char* out, std::uint32_t value)
{
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    while (n)
        *out++ = digits[--n];
    return out;
}

char* Put(char* out, std::string_view text)
{
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// Writes the sheets' XML into the deflater of the current entry, a piece
// at a time.
class SheetXml {
public:
    SheetXml(ZipPackage& package, const SheetLayout& layout, const std::set<std::uint32_t>& largeSheets,
             TargetFile& target)
        : package_(package), layout_(layout), largeSheets_(largeSheets), target_(target)
    {
        for (std::uint32_t c = 1; c <= layout.lastColumn; ++c)
            columns_.push_back(ColumnName(c));
    }

    void Start(std::uint32_t sheet)
    {
        sheet_ = sheet;
        const std::uint32_t lastRow = layout_.LastRowOf(sheet);
        package_.BeginEntry("xl/worksheets/sheet" + std::to_string(sheet + 1) + ".xml", largeSheets_.contains(sheet));
        std::string head(kXmlDeclaration);
        head += "<worksheet xmlns=\"" + std::string(kMainNamespace) + "\" xmlns:r=\"" +
                std::string(kRelationshipsNamespace) + "\">";
        head += "<dimension ref=\"A1";
        if (lastRow > 0 && layout_.lastColumn > 0 && (lastRow > 1 || layout_.lastColumn > 1))
            head += ":" + columns_.back() + std::to_string(lastRow);
        head += "\"/><sheetViews><sheetView ";
        if (sheet == 0)
            head += "tabSelected=\"1\" ";
        head += "workbookViewId=\"0\"/></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/><sheetData>";
        package_.Write(head);
    }

    void Row(std::uint32_t row, std::span<const exports::SpoolCell> cells)
    {
        // Checked before room is made for the row's XML.
        std::size_t room = kRowOverhead;
        for (const auto& cell : cells) {
            if (cell.text.size() > kMaxCellCharacters) {
                const std::size_t length = Utf16Length(cell.text);
                if (length > kMaxCellCharacters)
                    target_.Fail(CellTooLongCause(row, cell.column, length, layout_, sheet_));
            }
            room += kCellOverhead + cell.text.size() * kEscapeFactor;
        }
        char* const begin = package_.Reserve(room);
        char* out = Put(begin, "<row r=\"");
        out = PutDecimal(out, row);
        out = Put(out, "\">");
        for (const auto& cell : cells) {
            const bool quoted = cell.kind == exports::SpoolCellKind::QuotedText;
            // An empty text is no cell; an empty quoted one a blank cell
            // with the quote prefix.
            if (cell.text.empty() && !quoted)
                continue;
            out = Put(out, "<c r=\"");
            out = Put(out, columns_[cell.column - 1]);
            out = PutDecimal(out, row);
            out = Put(out, quoted ? "\" s=\"1" : "");
            if (cell.text.empty()) {
                out = Put(out, "\"/>");
            } else if (cell.kind == exports::SpoolCellKind::Number) {
                out = Put(out, "\"><v>");
                out = Put(out, cell.text);
                out = Put(out, "</v></c>");
            } else {
                out = Put(out, NeedsSpacePreserved(cell.text) ? "\" t=\"inlineStr\"><is><t xml:space=\"preserve\">"
                                                               : "\" t=\"inlineStr\"><is><t>");
                out = PutCellText(out, cell.text);
                out = Put(out, "</t></is></c>");
            }
        }
        out = Put(out, "</row>");
        package_.Commit(static_cast<std::size_t>(out - begin));
    }

    void End(std::uint32_t)
    {
        package_.Write("</sheetData><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" "
                       "header=\"0.3\" footer=\"0.3\"/></worksheet>");
        package_.EndEntry();
    }

private:
    ZipPackage& package_;
    const SheetLayout& layout_;
    const std::set<std::uint32_t>& largeSheets_;
    TargetFile& target_;
    std::uint32_t sheet_ = 0;
    std::vector<std::string> columns_;
};

void WritePart(ZipPackage& package, const std::string& name, const std::string& xml)
{
    package.BeginEntry(name, false);
    package.Write(kXmlDeclaration);
    package.Write(xml);
    package.EndEntry();
}

std::string ContentTypes(std::uint32_t sheets)
{
    std::string xml =
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/xl/workbook.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
        "<Override PartName=\"/xl/styles.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>";
    for (std::uint32_t i = 1; i <= sheets; ++i)
        xml += "<Override PartName=\"/xl/worksheets/sheet" + std::to_string(i) +
               ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
    return xml + "</Types>";
}

std::string PackageRelationships()
{
    return "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"rId1\" "
           "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
           "Target=\"xl/workbook.xml\"/></Relationships>";
}

std::string WorkbookXml(std::uint32_t sheets)
{
    std::string xml = "<workbook xmlns=\"" + std::string(kMainNamespace) + "\" xmlns:r=\"" +
                      std::string(kRelationshipsNamespace) +
                      "\"><bookViews><workbookView activeTab=\"0\"/></bookViews><sheets>";
    for (std::uint32_t i = 1; i <= sheets; ++i)
        xml += "<sheet name=\"" + SheetName(i - 1) + "\" sheetId=\"" + std::to_string(i) + "\" r:id=\"rId" +
               std::to_string(i) + "\"/>";
    return xml + "</sheets></workbook>";
}

std::string WorkbookRelationships(std::uint32_t sheets)
{
    std::string xml = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (std::uint32_t i = 1; i <= sheets; ++i)
        xml += "<Relationship Id=\"rId" + std::to_string(i) +
               "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
               "Target=\"worksheets/sheet" + std::to_string(i) + ".xml\"/>";
    xml += "<Relationship Id=\"rId" + std::to_string(sheets + 1) +
           "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
           "Target=\"styles.xml\"/>";
    return xml + "</Relationships>";
}

} // namespace

void WriteXlsx(const exports::CellSpool& cells, const SheetLayout& layout, TargetFile& target)
{
    std::FILE* out = target.Stream();
    std::setvbuf(out, nullptr, _IOFBF, 1 << 20);
    // The parts before the sheets.
    constexpr std::size_t kFirstSheetEntry = 5;
    // A sheet's sizes go into 32-bit fields unless its XML turned out to
    // pass 4 GiB: the package is then written again with large sizes for
    // that sheet (some readers stumble over them where not needed).
    std::set<std::uint32_t> largeSheets;
    for (;;) {
        try {
            ZipPackage package(target);
            WritePart(package, "[Content_Types].xml", ContentTypes(layout.sheetCount));
            WritePart(package, "_rels/.rels", PackageRelationships());
            WritePart(package, "xl/workbook.xml", WorkbookXml(layout.sheetCount));
            WritePart(package, "xl/_rels/workbook.xml.rels", WorkbookRelationships(layout.sheetCount));
            WritePart(package, "xl/styles.xml", std::string(kStyles));
            SheetXml sheets(package, layout, largeSheets, target);
            ForEachSheetRow(
                cells, layout,
                {[&](std::uint32_t sheet) { sheets.Start(sheet); },
                 [&](std::uint32_t row, std::span<const exports::SpoolCell> rowCells) { sheets.Row(row, rowCells); },
                 [&](std::uint32_t sheet) { sheets.End(sheet); }});
            package.Finish();
            return;
        } catch (const EntryTooLarge& tooLarge) {
            if (tooLarge.entry < kFirstSheetEntry)
                target.Fail("A part of the workbook is too large.");
            largeSheets.insert(static_cast<std::uint32_t>(tooLarge.entry - kFirstSheetEntry));
        }
        if (std::fflush(out) != 0 || ::ftruncate(::fileno(out), 0) != 0 || std::fseek(out, 0, SEEK_SET) != 0)
            target.FailWithErrno(errno);
    }
}

} // namespace querlin::exports::detail
