// Excel 97-2003 workbooks: BIFF8 records in the "Workbook" stream of an
// OLE2 compound file. libgsf's MS-OLE writer makes the container; the
// records are written here.
//
// The stream is the workbook globals (formats, one entry per sheet and the
// shared string table that holds every text cell), then the sheets. A
// sheet's entry gives the sheet's position in the stream, which depends on
// the size of the string table and of the sheets before it, so a first pass
// counts those bytes and two more write the globals and the sheets. Each
// pass reads the cell spool from its start; nothing grows with the number
// of cells.
#include "export/WorkbookFormats.h"

#include "export/Workbook.h"

#include <gsf/gsf-infile.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace querlin::exports::detail {

namespace {

// The longest record body; the string table goes on in CONTINUE records.
constexpr std::size_t kMaxRecordData = 8224;

enum RecordType : std::uint16_t {
    kBof = 0x0809, kEof = 0x000A, kInterfaceHdr = 0x00E1, kMms = 0x00C1, kInterfaceEnd = 0x00E2,
    kCodePage = 0x0042, kDsf = 0x0161, kTabId = 0x013D, kWindow1 = 0x003D, kBackup = 0x0040,
    kHideObj = 0x008D, kDateMode = 0x0022, kPrecision = 0x000E, kBookBool = 0x00DA, kFont = 0x0031,
    kXf = 0x00E0, kStyle = 0x0293, kUsesElfs = 0x0160, kBoundSheet = 0x0085, kCountry = 0x008C,
    kSst = 0x00FC, kContinue = 0x003C, kExtSst = 0x00FF, kDimensions = 0x0200, kRow = 0x0208,
    kLabelSst = 0x00FD, kNumber = 0x0203, kBlank = 0x0201, kWindow2 = 0x023E,
};

constexpr std::size_t kMinimumStreamSize = 4096;

// The default cell format, and the same with the quote prefix.
constexpr std::uint16_t kDefaultXf = 15;
constexpr std::uint16_t kQuotedXf = 16;

class Bytes {
public:
    Bytes& U8(std::uint8_t v) { data_.push_back(static_cast<char>(v)); return *this; }
    Bytes& U16(std::uint16_t v) { return U8(v & 0xFF).U8(v >> 8); }
    Bytes& U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
    Bytes& F64(double v)
    {
        char raw[8];
        std::memcpy(raw, &v, 8);  // little-endian hosts only, as BIFF itself
        data_.append(raw, 8);
        return *this;
    }
    Bytes& Text(std::string_view latin) { data_.append(latin); return *this; }
    const std::string& Data() const { return data_; }
    std::size_t Size() const { return data_.size(); }
    void Clear() { data_.clear(); }

private:
    std::string data_;
};

// Where the stream's bytes go: nowhere (to count them) or the container.
class Sink {
public:
    virtual ~Sink() = default;
    void Put(const char* data, std::size_t size)
    {
        Write(data, size);
        position_ += size;
    }
    void Record(std::uint16_t type, const std::string& body)
    {
        char header[4] = {static_cast<char>(type & 0xFF), static_cast<char>(type >> 8),
                          static_cast<char>(body.size() & 0xFF), static_cast<char>(body.size() >> 8)};
        Put(header, 4);
        Put(body.data(), body.size());
    }
    void Record(std::uint16_t type, const Bytes& body) { Record(type, body.Data()); }
    std::uint64_t Position() const { return position_; }

protected:
    virtual void Write(const char* data, std::size_t size) = 0;

private:
    std::uint64_t position_ = 0;
};

class CountingSink : public Sink {
protected:
    void Write(const char*, std::size_t) override {}
};

class StreamSink : public Sink {
public:
    StreamSink(GsfOutput* stream, TargetFile& target) : stream_(stream), target_(target) { buffer_.reserve(kChunk); }
    void Flush()
    {
        if (!buffer_.empty() &&
            !gsf_output_write(stream_, buffer_.size(), reinterpret_cast<const guint8*>(buffer_.data())))
            FailWithStreamError(stream_, target_);
        buffer_.clear();
    }
    static void FailWithStreamError(GsfOutput* output, TargetFile& target)
    {
        const GError* error = gsf_output_error(output);
        target.Fail(error && error->message ? error->message : "The file cannot be written.");
    }

protected:
    void Write(const char* data, std::size_t size) override
    {
        buffer_.append(data, size);
        if (buffer_.size() >= kChunk)
            Flush();
    }

private:
    static constexpr std::size_t kChunk = 1 << 16;
    GsfOutput* stream_;
    TargetFile& target_;
    std::string buffer_;
};

// One cell's text as BIFF8 keeps it: one byte per character when every
// character fits in one (Latin-1), else UTF-16LE.
struct BiffText {
    std::u16string units;
    bool wide = false;

    void Assign(std::string_view utf8)
    {
        units.clear();
        AppendUtf16(utf8, units);
        wide = false;
        for (char16_t u : units)
            if (u > 0xFF) {
                wide = true;
                break;
            }
    }
};

// The shared string table: one entry per text cell, in the order of the
// sheet's cells. Entries run on in CONTINUE records; an entry's header is
// never split, its characters may be, each part led by its width flag.
class StringTable {
public:
    // index: keep the places for the index record (not needed to count
    // the bytes, and the count is not known then).
    StringTable(Sink& sink, std::uint32_t count, bool index = true) : sink_(sink), index_(index)
    {
        // Excel's lookup index: every bucketSize-th entry's place, at most
        // 128 buckets.
        bucketSize_ = BucketSize(count);
        body_.U32(count).U32(count);
        type_ = kSst;
    }

    void Add(const BiffText& text)
    {
        if (body_.Size() + 3 > kMaxRecordData)
            StartContinue();
        if (index_ && added_ % bucketSize_ == 0)
            buckets_.push_back({static_cast<std::uint32_t>(recordStart_ + 4 + body_.Size()),
                                static_cast<std::uint16_t>(4 + body_.Size())});
        ++added_;
        const std::uint8_t flag = text.wide ? 1 : 0;
        body_.U16(static_cast<std::uint16_t>(text.units.size())).U8(flag);
        const std::size_t unitSize = text.wide ? 2 : 1;
        std::size_t done = 0;
        while (done < text.units.size()) {
            std::size_t room = (kMaxRecordData - body_.Size()) / unitSize;
            if (room == 0) {
                StartContinue();
                body_.U8(flag);
                continue;
            }
            const std::size_t part = std::min(room, text.units.size() - done);
            for (std::size_t i = done; i < done + part; ++i) {
                if (text.wide)
                    body_.U16(text.units[i]);
                else
                    body_.U8(static_cast<std::uint8_t>(text.units[i]));
            }
            done += part;
        }
    }

    std::uint32_t Added() const { return added_; }

    // The bytes of the index record (header included) that Finish writes
    // behind a table of count strings.
    static std::size_t IndexRecordSize(std::uint32_t count)
    {
        const std::uint32_t bucketSize = BucketSize(count);
        return 4 + 2 + 8 * static_cast<std::size_t>((count + bucketSize - 1) / bucketSize);
    }

    // Writes what is left of the table; with index, the index record too.
    void Finish(bool index = true)
    {
        sink_.Record(type_, body_);
        body_.Clear();
        if (!index)
            return;
        Bytes extSst;
        extSst.U16(static_cast<std::uint16_t>(bucketSize_));
        for (const auto& bucket : buckets_)
            extSst.U32(bucket.position).U16(bucket.offset).U16(0);
        sink_.Record(kExtSst, extSst);
    }

private:
    static std::uint32_t BucketSize(std::uint32_t count) { return std::max<std::uint32_t>(8, (count + 127) / 128); }

    void StartContinue()
    {
        sink_.Record(type_, body_);
        body_.Clear();
        recordStart_ = sink_.Position();
        type_ = kContinue;
    }

    struct Bucket {
        std::uint32_t position;
        std::uint16_t offset;
    };

    Sink& sink_;
    bool index_;
    std::uint32_t bucketSize_ = 8;
    std::uint32_t added_ = 0;
    std::uint16_t type_ = kSst;
    std::uint64_t recordStart_ = sink_.Position();
    Bytes body_;
    std::vector<Bucket> buckets_;
};

// An empty text has no entry in the string table (readers stumble over
// empty entries); a lone apostrophe is a blank cell with the quote prefix,
// as in the .xlsx workbook.
bool IsTextCell(const exports::SpoolCell& cell)
{
    return cell.kind != exports::SpoolCellKind::Number && !cell.text.empty();
}

Bytes Bof(std::uint16_t kind)
{
    Bytes b;
    b.U16(0x0600).U16(kind).U16(0x0DBB).U16(0x07CC).U32(0).U32(6);
    return b;
}

Bytes Xf(std::uint16_t font, std::uint16_t flags, std::uint8_t usedAttributes)
{
    Bytes b;
    b.U16(font).U16(0).U16(flags).U8(0x20).U8(0).U8(0).U8(usedAttributes).U32(0).U32(0).U16(0x20C0);
    return b;
}

Bytes U16Body(std::uint16_t value)
{
    Bytes b;
    b.U16(value);
    return b;
}

// The globals up to the string table: formats and one entry per sheet,
// each with its sheet's place in the stream.
void WriteGlobalsHead(Sink& sink, const std::vector<std::uint32_t>& sheetPositions)
{
    sink.Record(kBof, Bof(0x0005));
    sink.Record(kInterfaceHdr, U16Body(0x04B0));
    sink.Record(kMms, U16Body(0));
    sink.Record(kInterfaceEnd, std::string());
    sink.Record(kCodePage, U16Body(0x04B0));  // texts are UTF-16
    sink.Record(kDsf, U16Body(0));
    Bytes tabs;
    for (std::size_t i = 0; i < sheetPositions.size(); ++i)
        tabs.U16(static_cast<std::uint16_t>(i + 1));
    sink.Record(kTabId, tabs);
    Bytes window1;
    window1.U16(0x0168).U16(0x001E).U16(0x3A5C).U16(0x23BE).U16(0x0038).U16(0).U16(0).U16(1).U16(0x0258);
    sink.Record(kWindow1, window1);
    sink.Record(kBackup, U16Body(0));
    sink.Record(kHideObj, U16Body(0));
    sink.Record(kDateMode, U16Body(0));
    sink.Record(kPrecision, U16Body(1));
    sink.Record(kBookBool, U16Body(0));
    // Font 4 does not exist in BIFF; four fonts fill 0 to 3.
    for (int i = 0; i < 4; ++i) {
        Bytes font;
        font.U16(200).U16(0).U16(0x7FFF).U16(400).U16(0).U8(0).U8(0).U8(0).U8(0);
        font.U8(5).U8(0).Text("Arial");
        sink.Record(kFont, font);
    }
    // Fifteen style formats, the default cell format, the quoted one.
    sink.Record(kXf, Xf(0, 0xFFF5, 0x00));
    for (std::uint16_t i = 1; i < 15; ++i)
        sink.Record(kXf, Xf(i <= 2 ? 1 : i <= 4 ? 2 : 0, 0xFFF5, 0xF4));
    sink.Record(kXf, Xf(0, 0x0001, 0x00));
    sink.Record(kXf, Xf(0, 0x0001 | 0x0008, 0x00));  // locked, quote prefix
    Bytes style;
    style.U16(0x8000).U8(0).U8(0xFF);  // the built-in "Normal" style on format 0
    sink.Record(kStyle, style);
    sink.Record(kUsesElfs, U16Body(0));
    for (std::size_t i = 0; i < sheetPositions.size(); ++i) {
        const std::string name = SheetName(static_cast<std::uint32_t>(i));
        Bytes sheet;
        sheet.U32(sheetPositions[i]).U8(0).U8(0).U8(static_cast<std::uint8_t>(name.size())).U8(0).Text(name);
        sink.Record(kBoundSheet, sheet);
    }
    Bytes country;
    country.U16(86).U16(86);
    sink.Record(kCountry, country);
}

// Adds a row's texts to the string table, in the order the sheets use them.
void AddRowTexts(StringTable& table, BiffText& text, std::uint32_t row, std::span<const exports::SpoolCell> rowCells,
                 const SheetLayout& layout, std::uint32_t sheet, TargetFile& target)
{
    for (const auto& cell : rowCells) {
        if (!IsTextCell(cell))
            continue;
        text.Assign(cell.text);
        if (text.units.size() > kMaxCellCharacters)
            target.Fail(CellTooLongCause(row, cell.column, text.units.size(), layout, sheet));
        table.Add(text);
    }
}

// The records of the sheets, one after the other.
class SheetWriter {
public:
    SheetWriter(Sink& sink, const SheetLayout& layout) : sink_(sink), layout_(layout) {}

    void Start(std::uint32_t sheet)
    {
        starts_.push_back(sink_.Position());
        sink_.Record(kBof, Bof(0x0010));
        Bytes dimensions;
        const std::uint32_t lastRow = layout_.LastRowOf(sheet);
        if (lastRow == 0)
            dimensions.U32(0).U32(0).U16(0).U16(0).U16(0);
        else
            dimensions.U32(0).U32(lastRow).U16(0).U16(static_cast<std::uint16_t>(layout_.lastColumn)).U16(0);
        sink_.Record(kDimensions, dimensions);
    }

    void Row(std::uint32_t row, std::span<const exports::SpoolCell> rowCells)
    {
        const auto r = static_cast<std::uint16_t>(row - 1);
        Bytes rowRecord;
        rowRecord.U16(r)
            .U16(static_cast<std::uint16_t>(rowCells.front().column - 1))
            .U16(static_cast<std::uint16_t>(rowCells.back().column))
            .U16(0x00FF).U16(0).U16(0).U16(0x0100).U16(kDefaultXf);
        sink_.Record(kRow, rowRecord);
        for (const auto& cell : rowCells) {
            const auto c = static_cast<std::uint16_t>(cell.column - 1);
            record_.Clear();
            if (cell.kind == exports::SpoolCellKind::Number) {
                record_.U16(r).U16(c).U16(kDefaultXf).F64(std::strtod(cell.text.data(), nullptr));
                sink_.Record(kNumber, record_);
            } else if (IsTextCell(cell)) {
                const std::uint16_t xf = cell.kind == exports::SpoolCellKind::QuotedText ? kQuotedXf : kDefaultXf;
                record_.U16(r).U16(c).U16(xf).U32(stringIndex_++);
                sink_.Record(kLabelSst, record_);
            } else if (cell.kind == exports::SpoolCellKind::QuotedText) {
                record_.U16(r).U16(c).U16(kQuotedXf);
                sink_.Record(kBlank, record_);
            }
        }
    }

    void End(std::uint32_t sheet)
    {
        // Only the first sheet is selected and shown.
        Bytes window2;
        window2.U16(sheet == 0 ? 0x06B6 : 0x00B6).U16(0).U16(0).U32(0x40).U16(0).U16(0).U32(0);
        sink_.Record(kWindow2, window2);
        sink_.Record(kEof, std::string());
    }

    // Where each sheet started, in the sink's bytes.
    const std::vector<std::uint64_t>& Starts() const { return starts_; }

private:
    Sink& sink_;
    const SheetLayout& layout_;
    std::uint32_t stringIndex_ = 0;
    Bytes record_;
    std::vector<std::uint64_t> starts_;
};

template <typename T>
struct Unref {
    void operator()(T* object) const
    {
        if (object)
            g_object_unref(object);
    }
};

} // namespace

void WriteXls(const exports::CellSpool& cells, const SheetLayout& layout, TargetFile& target)
{
    static std::once_flag gsfReady;
    std::call_once(gsfReady, [] { gsf_init(); });

    // Counted first: the globals' size and where each sheet starts behind
    // them, in one pass over the cells.
    std::vector<std::uint32_t> positions(layout.sheetCount, 0);
    CountingSink globalsCounter;
    CountingSink sheetsCounter;
    std::uint32_t strings = 0;
    {
        WriteGlobalsHead(globalsCounter, positions);
        StringTable table(globalsCounter, 0, false);
        BiffText text;
        SheetWriter sheets(sheetsCounter, layout);
        std::uint32_t current = 0;
        ForEachSheetRow(cells, layout,
                        {[&](std::uint32_t sheet) {
                             current = sheet;
                             sheets.Start(sheet);
                         },
                         [&](std::uint32_t row, std::span<const exports::SpoolCell> rowCells) {
                             AddRowTexts(table, text, row, rowCells, layout, current, target);
                             sheets.Row(row, rowCells);
                         },
                         [&](std::uint32_t sheet) { sheets.End(sheet); }});
        // The index's size follows from the number of strings, known only now.
        table.Finish(false);
        strings = table.Added();
        const std::uint64_t globalsSize = globalsCounter.Position() + StringTable::IndexRecordSize(strings) + 4;
        for (std::size_t i = 0; i < positions.size(); ++i) {
            const std::uint64_t at = globalsSize + sheets.Starts()[i];
            if (at > 0xFFFFFFFFull)
                target.Fail("The table is too large for an .xls workbook; an .xlsx workbook holds it.");
            positions[i] = static_cast<std::uint32_t>(at);
        }
    }

    std::unique_ptr<GsfOutput, Unref<GsfOutput>> file(
        gsf_output_stdio_new_FILE(target.TemporaryName().c_str(), target.Stream(), TRUE));
    if (!file)
        target.Fail("The file cannot be written.");
    std::unique_ptr<GsfOutfile, Unref<GsfOutfile>> container(gsf_outfile_msole_new(file.get()));
    if (!container)
        target.Fail("The file cannot be written.");
    std::unique_ptr<GsfOutput, Unref<GsfOutput>> stream(gsf_outfile_new_child(container.get(), "Workbook", FALSE));
    if (!stream)
        target.Fail("The file cannot be written.");

    StreamSink sink(stream.get(), target);
    WriteGlobalsHead(sink, positions);
    {
        StringTable table(sink, strings);
        BiffText text;
        std::uint32_t current = 0;
        ForEachSheetRow(cells, layout,
                        {[&](std::uint32_t sheet) { current = sheet; },
                         [&](std::uint32_t row, std::span<const exports::SpoolCell> rowCells) {
                             AddRowTexts(table, text, row, rowCells, layout, current, target);
                         },
                         [](std::uint32_t) {}});
        table.Finish();
        sink.Record(kEof, std::string());
    }
    SheetWriter sheets(sink, layout);
    ForEachSheetRow(cells, layout,
                    {[&](std::uint32_t sheet) { sheets.Start(sheet); },
                     [&](std::uint32_t row, std::span<const exports::SpoolCell> rowCells) { sheets.Row(row, rowCells); },
                     [&](std::uint32_t sheet) { sheets.End(sheet); }});
    // A stream under 4,096 bytes would go into the container's short-stream
    // area, which some Excel versions do not read for the workbook; zeros
    // after the last EOF record are ignored by every reader.
    if (sink.Position() < kMinimumStreamSize) {
        const std::string padding(kMinimumStreamSize - sink.Position(), '\0');
        sink.Put(padding.data(), padding.size());
    }
    sink.Flush();
    if (sink.Position() > 0xFFFFFFFFull)
        target.Fail("The table is too large for an .xls workbook; an .xlsx workbook holds it.");

    if (!gsf_output_close(stream.get()))
        StreamSink::FailWithStreamError(stream.get(), target);
    if (!gsf_output_close(GSF_OUTPUT(container.get())))
        StreamSink::FailWithStreamError(GSF_OUTPUT(container.get()), target);
    // Closing the container closes the file output too.
    if (!gsf_output_is_closed(file.get()) && !gsf_output_close(file.get()))
        StreamSink::FailWithStreamError(file.get(), target);
}

} // namespace querlin::exports::detail
