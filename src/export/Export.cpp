#include "export/Export.h"

#include "data/DataSet.h"
#include "export/Workbook.h"
#include "export/WorkbookFormats.h"
#include "platform/Automation.h"
#include "platform/Error.h"

#include <memory>
#include <system_error>

namespace querlin::exports {

using platform::AutomationObject;
using platform::OleVariant;

std::size_t AnsiLength(const std::string& utf8)
{
    std::size_t bytes = 0;
    for (unsigned char c : utf8) {
        if (c < 0x80)
            bytes += 1;
        else if (c >= 0xC0)
            bytes += 2;
    }
    return bytes;
}

namespace {

void PutCell(AutomationObject& application, const char* name, int row, int column, std::string value)
{
    const OleVariant indexAndValue[] = {OleVariant(row), OleVariant(column), OleVariant(std::move(value))};
    application.SetProperty(name, indexAndValue);
}

void CheckCancelled(const ExportEnvironment& environment)
{
    if (environment.cancelled && environment.cancelled->load(std::memory_order_relaxed))
        throw Abort();
}

// A field's plain text for the cell at row and column. A value that has
// none (a fixed-point value beyond its range) ends the export with the
// cell's place, as a cell too long for its sheet does.
std::string PlainTextOf(const data::TField& field, int row, int column)
{
    try {
        return field.PlainText();
    } catch (const Error& e) {
        throw Error("The cell in row " + detail::Grouped(static_cast<std::uint64_t>(row)) + ", column " +
                    detail::Grouped(static_cast<std::uint64_t>(column)) + " (" + field.FieldName() +
                    ") cannot be written: " + e.what());
    }
}

// Everything after the two objects exist: the workbook, the window's state,
// the cells, the file.
void WriteWorkbook(const ExportEnvironment& environment, AutomationObject& application,
                   std::unique_ptr<AutomationObject>& sheet)
{
    std::shared_ptr<AutomationObject> workbooks = application.GetProperty("workbooks").AsObject();
    // The new workbook takes the sheet object's place.
    std::shared_ptr<AutomationObject> workbook = workbooks->CallMethod("add").AsObject();
    sheet.reset();

    const WindowState state = environment.takeWindowState();

    PutCell(application, "cells", 1, 1, state.caption + kTitleSuffix);
    for (std::size_t i = 0; i < state.fieldNames.size(); ++i)
        PutCell(application, "cells", 2, static_cast<int>(i + 1), state.fieldNames[i]);

    data::TADOQuery query;
    query.SetConnectionString(state.connectionString);
    query.SetSQL(state.sql);
    query.Open();
    query.MoveFirst();

    std::string label = kProgressBaseText;
    environment.setLabel(label);

    int row = 3;
    std::string value;
    while (!query.AtEnd()) {
        CheckCancelled(environment);
        const int fieldCount = query.FieldCount();
        for (int k = 1; k <= fieldCount; ++k) {
            value.assign(1, '\'');
            value += PlainTextOf(query.FieldAt(k - 1), row, k);
            PutCell(application, "Cells", row, k, std::move(value));
        }
        ++row;
        query.MoveNext();
        label += '>';
        if (AnsiLength(label) > kProgressMaxAnsiBytes)
            label = kProgressBaseText;
        environment.setLabel(label);
    }

    CheckCancelled(environment);
    const OleVariant fileName[] = {OleVariant(environment.fileName)};
    workbook->CallMethod("saveas", fileName);
    workbook->CallMethod("close");
    environment.setLabel(kProgressDoneText);
}

} // namespace

void CopyDbDataToExcel(const ExportEnvironment& environment)
{
    RegisterSpreadsheetApplication();

    // No spreadsheet application: the export ends here, silently.
    std::unique_ptr<AutomationObject> application;
    std::unique_ptr<AutomationObject> sheet;
    try {
        application = platform::CreateOleObject(exports::kSpreadsheetApplicationProgId);
        sheet = platform::CreateOleObject(exports::kSpreadsheetSheetProgId);
    } catch (...) {
        return;
    }

    // Everything the export made is released when this returns, whatever
    // happened: the workbook's cells, the record set and its connection.
    // The save stops too when the export is cancelled.
    const SaveCancellation cancellation(environment.cancelled);
    try {
        WriteWorkbook(environment, *application, sheet);
    } catch (const Abort&) {
    } catch (const std::exception& e) {
        if (environment.reportError)
            environment.reportError(e.what());
    } catch (...) {
        if (environment.reportError)
            environment.reportError("Unknown error");
    }
}

void ProgressLabel::Set(const std::string& text)
{
    bool post = false;
    {
        std::lock_guard lock(mutex_);
        text_ = text;
        if (!pending_)
            pending_ = post = true;
    }
    if (post)
        post_();
}

std::string ProgressLabel::Take()
{
    std::lock_guard lock(mutex_);
    pending_ = false;
    return text_;
}

ExportWorker::~ExportWorker()
{
    CancelAndWait();
}

bool ExportWorker::Start(std::function<void()> run, std::atomic<bool>& idle)
{
    // The previous export has set the flag as its last step: its thread is
    // ending, if it has not ended already.
    Wait();
    cancelled_ = false;
    try {
        thread_ = std::thread([run = std::move(run), &idle] {
            try {
                run();
            } catch (...) {
                // The export reports its own failures; nothing may end the program.
            }
            idle = true;
        });
    } catch (const std::system_error&) {
        idle = true;
        return false;
    }
    return true;
}

void ExportWorker::CancelAndWait()
{
    cancelled_ = true;
    Wait();
}

void ExportWorker::Wait()
{
    if (thread_.joinable())
        thread_.join();
}

} // namespace querlin::exports
