#include "export/Spreadsheet.h"

#include "platform/Automation.h"
#include "platform/Error.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace querlin::exports {

using namespace platform;

namespace {

constexpr std::size_t kSpoolBufferSize = 1 << 20;
// Beyond any sheet any application keeps; guards the arithmetic of savers.
constexpr std::int64_t kMaxRow = 0x7fffffff;
constexpr std::int64_t kMaxColumn = 0x7fffffff;

std::string SystemCause()
{
    return std::strerror(errno);
}

[[noreturn]] void SpoolFailure()
{
    throw Error("Cannot write the workbook's cells to the temporary folder. " + SystemCause());
}

struct RecordHeader {
    std::uint32_t row;
    std::uint32_t column;
    std::uint32_t length;
    std::uint8_t kind;
};
constexpr std::size_t kHeaderSize = 13;

} // namespace

CellSpool::CellSpool() = default;

// Opened with the first cell, so that a temporary folder that cannot take
// the spool is reported as the failure of a cell write, not mistaken for a
// missing spreadsheet application when the workbook is made.
void CellSpool::OpenFile()
{
#ifdef _WIN32
    // The user's temporary folder (TMP, TEMP). Deleted by the system when
    // closed, however the program ends: an open file cannot be unlinked here.
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    wchar_t name[MAX_PATH];
    if (length == 0 || length > MAX_PATH || !GetTempFileNameW(folder, L"qlc", 0, name)) {
        const DWORD error = GetLastError();
        errno = error == ERROR_ACCESS_DENIED ? EACCES : error == ERROR_DISK_FULL ? ENOSPC : ENOENT;
        SpoolFailure();
    }
    int fd = ::_wopen(name, _O_RDWR | _O_BINARY | _O_TEMPORARY | _O_NOINHERIT);
    if (fd < 0) {
        const int error = errno;
        DeleteFileW(name);
        errno = error;
        SpoolFailure();
    }
#else
    const char* folder = std::getenv("TMPDIR");
    std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/querlin-cells-XXXXXX";
    int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        SpoolFailure();
    // Unlinked at once: the spool disappears with the workbook, however the
    // program ends.
    ::unlink(pattern.c_str());
#endif
    file_ = ::fdopen(fd, "w+b");
    if (!file_) {
        ::close(fd);
        SpoolFailure();
    }
    std::setvbuf(file_, nullptr, _IOFBF, kSpoolBufferSize);
}

CellSpool::~CellSpool()
{
    if (file_)
        std::fclose(file_);
}

void CellSpool::FlushBuffer() const
{
    if (!file_)
        return;
    if (std::fflush(file_) != 0)
        SpoolFailure();
}

void CellSpool::Write(std::uint32_t row, std::uint32_t column, SpoolCellKind kind, std::string_view text)
{
    if (row < lastRow_)
        throw Error("Cells must be written row by row, from the top: row " + std::to_string(row) +
                    " comes after row " + std::to_string(lastRow_) + ".");
    if (!file_)
        OpenFile();
    unsigned char header[kHeaderSize];
    const std::uint32_t length = static_cast<std::uint32_t>(text.size());
    std::memcpy(header, &row, 4);
    std::memcpy(header + 4, &column, 4);
    std::memcpy(header + 8, &length, 4);
    header[12] = static_cast<unsigned char>(kind);
    if (std::fwrite(header, 1, kHeaderSize, file_) != kHeaderSize ||
        (length && std::fwrite(text.data(), 1, length, file_) != length))
        SpoolFailure();
    lastRow_ = row;
    lastColumn_ = std::max(lastColumn_, column);
}

void CellSpool::ForEachRow(const std::function<void(std::uint32_t, std::span<const SpoolCell>)>& visit) const
{
    if (!file_)
        return;
    FlushBuffer();
    if (std::fseek(file_, 0, SEEK_SET) != 0)
        SpoolFailure();

    struct Pending {
        std::uint32_t column;
        SpoolCellKind kind;
        std::size_t offset;
        std::size_t length;
    };
    std::vector<Pending> pending;
    std::string bytes;
    std::vector<SpoolCell> cells;
    std::uint32_t currentRow = 0;

    auto emitRow = [&] {
        if (pending.empty())
            return;
        // A cell written again replaces the earlier value: keep the last.
        std::stable_sort(pending.begin(), pending.end(),
                         [](const Pending& a, const Pending& b) { return a.column < b.column; });
        cells.clear();
        for (std::size_t i = 0; i < pending.size(); ++i) {
            if (i + 1 < pending.size() && pending[i + 1].column == pending[i].column)
                continue;
            const Pending& p = pending[i];
            cells.push_back({p.column, p.kind, std::string_view(bytes).substr(p.offset, p.length)});
        }
        visit(currentRow, cells);
        pending.clear();
        bytes.clear();
    };

    // Whatever the visitor throws, the spool is left ready for more cells.
    struct AtEnd {
        std::FILE* file;
        ~AtEnd() { std::fseek(file, 0, SEEK_END); }
    } atEnd{file_};

    unsigned char header[kHeaderSize];
    for (;;) {
        std::size_t got = std::fread(header, 1, kHeaderSize, file_);
        if (got == 0)
            break;
        if (got != kHeaderSize)
            throw Error("The workbook's cells cannot be read back from the temporary folder.");
        RecordHeader record{};
        std::memcpy(&record.row, header, 4);
        std::memcpy(&record.column, header + 4, 4);
        std::memcpy(&record.length, header + 8, 4);
        record.kind = header[12];
        if (record.row != currentRow) {
            emitRow();
            currentRow = record.row;
        }
        const std::size_t offset = bytes.size();
        bytes.resize(offset + record.length + 1);
        if (record.length && std::fread(bytes.data() + offset, 1, record.length, file_) != record.length)
            throw Error("The workbook's cells cannot be read back from the temporary folder.");
        bytes[offset + record.length] = '\0';
        pending.push_back({record.column, static_cast<SpoolCellKind>(record.kind), offset, record.length});
    }
    if (std::ferror(file_))
        throw Error("The workbook's cells cannot be read back from the temporary folder.");
    emitRow();
}

namespace {

std::mutex saverMutex;
WorkbookSaver registeredSaver;

WorkbookSaver CurrentSaver()
{
    std::lock_guard lock(saverMutex);
    return registeredSaver;
}

std::uint32_t CellIndex(const OleVariant& value, std::int64_t limit)
{
    const std::int64_t number = value.AsInteger();
    if (number < 1 || number > limit)
        throw Error("The cell index " + std::to_string(number) + " is outside the sheet.");
    return static_cast<std::uint32_t>(number);
}

// Writes one cell from the index arguments and the value of a "cells" write.
void WriteCell(CellSpool& spool, std::span<const OleVariant> indexAndValue)
{
    if (indexAndValue.size() != 3)
        throw Error("Invalid number of parameters.");
    const std::uint32_t row = CellIndex(indexAndValue[0], kMaxRow);
    const std::uint32_t column = CellIndex(indexAndValue[1], kMaxColumn);
    const OleVariant& value = indexAndValue[2];
    if (value.IsEmpty())
        return;
    if (value.IsInteger()) {
        spool.Write(row, column, SpoolCellKind::Number, std::to_string(value.AsInteger()));
        return;
    }
    const std::string& text = value.Text();
    // The leading apostrophe is the application's mark for "keep as text";
    // the cell holds what follows it.
    if (!text.empty() && text.front() == '\'')
        spool.Write(row, column, SpoolCellKind::QuotedText, std::string_view(text).substr(1));
    else
        spool.Write(row, column, SpoolCellKind::Text, text);
}

class WorkbookObject : public AutomationObject {
public:
    explicit WorkbookObject(WorkbookSaver saver) : saver_(std::move(saver)) {}

    bool Open() const { return cells_ != nullptr; }
    CellSpool& Cells()
    {
        if (!cells_)
            throw Error("The workbook is closed.");
        return *cells_;
    }

    OleVariant Dispatch(std::string_view name, DispatchKind kind, std::span<const OleVariant> arguments) override
    {
        if (SameAutomationName(name, "cells") && kind == DispatchKind::PropertyPut) {
            WriteCell(Cells(), arguments);
            return {};
        }
        if (kind != DispatchKind::PropertyPut) {
            if (SameAutomationName(name, "saveas")) {
                if (arguments.empty())
                    throw Error("Invalid number of parameters.");
                const std::string fileName = arguments[0].AsText();
                if (!saver_)
                    throw Error("No workbook file writer is available.");
                saver_(Cells(), fileName);
                return {};
            }
            if (SameAutomationName(name, "close")) {
                cells_.reset();
                return {};
            }
        }
        throw Error("Unknown name.");
    }

private:
    WorkbookSaver saver_;
    std::unique_ptr<CellSpool> cells_ = std::make_unique<CellSpool>();
};

// What the application and its workbooks collection share.
struct ApplicationState {
    std::vector<std::shared_ptr<WorkbookObject>> workbooks;

    WorkbookObject& Active()
    {
        for (auto it = workbooks.rbegin(); it != workbooks.rend(); ++it)
            if ((*it)->Open())
                return **it;
        throw Error("No workbook is open.");
    }
};

class WorkbooksObject : public AutomationObject {
public:
    explicit WorkbooksObject(std::shared_ptr<ApplicationState> state) : state_(std::move(state)) {}

    OleVariant Dispatch(std::string_view name, DispatchKind kind, std::span<const OleVariant>) override
    {
        if (kind != DispatchKind::PropertyPut) {
            if (SameAutomationName(name, "add")) {
                // Closed workbooks are dropped here so a long-lived
                // application does not collect them.
                std::erase_if(state_->workbooks, [](const auto& w) { return !w->Open(); });
                auto workbook = std::make_shared<WorkbookObject>(CurrentSaver());
                state_->workbooks.push_back(workbook);
                return OleVariant(std::shared_ptr<AutomationObject>(workbook));
            }
            if (SameAutomationName(name, "count")) {
                std::int64_t open = 0;
                for (const auto& w : state_->workbooks)
                    open += w->Open() ? 1 : 0;
                return OleVariant(open);
            }
        }
        throw Error("Unknown name.");
    }

private:
    std::shared_ptr<ApplicationState> state_;
};

class ApplicationObject : public AutomationObject {
public:
    OleVariant Dispatch(std::string_view name, DispatchKind kind, std::span<const OleVariant> arguments) override
    {
        if (SameAutomationName(name, "cells") && kind == DispatchKind::PropertyPut) {
            WriteCell(state_->Active().Cells(), arguments);
            return {};
        }
        if (kind != DispatchKind::PropertyPut) {
            if (SameAutomationName(name, "workbooks"))
                return OleVariant(std::shared_ptr<AutomationObject>(std::make_shared<WorkbooksObject>(state_)));
            if (SameAutomationName(name, "quit")) {
                state_->workbooks.clear();
                return {};
            }
        }
        // The application is never shown, and asks nothing: these settings
        // are accepted and change nothing.
        if (kind == DispatchKind::PropertyPut &&
            (SameAutomationName(name, "visible") || SameAutomationName(name, "displayalerts")))
            return {};
        throw Error("Unknown name.");
    }

private:
    std::shared_ptr<ApplicationState> state_ = std::make_shared<ApplicationState>();
};

} // namespace

void RegisterSpreadsheetClasses(WorkbookSaver saver)
{
    {
        std::lock_guard lock(saverMutex);
        registeredSaver = std::move(saver);
    }
    RegisterAutomationClass(kSpreadsheetApplicationProgId, [] { return std::make_unique<ApplicationObject>(); });
    RegisterAutomationClass(kSpreadsheetSheetProgId, [] { return std::make_unique<WorkbookObject>(CurrentSaver()); });
}

} // namespace querlin::exports
