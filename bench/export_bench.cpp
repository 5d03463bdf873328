// The spreadsheet export: speed against a bare libxlsxwriter loop, the
// memory the workbook writing takes, and how long the GUI thread is held up.
//
// Figures:
//   export_xlsx_cells_per_s   cells per second of a 100,000 x 10 ".xlsx" export
//                             through the automation objects (one late-bound
//                             call per cell, from an open record set, saveas
//                             included); best of three
//   bare_xlsx_cells_per_s     a bare libxlsxwriter constant-memory loop writing
//                             the same strings, interleaved with the above
//   export_ratio              export_xlsx / bare_xlsx (target >= 1.5)
//   export_xls_cells_per_s    the same export of 60,000 x 10 saved as ".xls"
//   export_csv_cells_per_s    the 100,000 x 10 export saved as ".csv"
//   export_writer_peak_mb_100k, export_writer_peak_mb_1m
//                             peak RSS growth of the workbook writing beyond
//                             the record set's own snapshot (each in a fresh
//                             process; target < 20), and of 60,000 rows
//                             saved as ".xls"
//   export_writer_peak_mb_10m_xlsx, export_writer_peak_mb_10m_csv
//                             peak RSS growth of saving a workbook of
//                             10,000,000 rows x 4 cells (written straight into
//                             the cell spool, no record set), 10 sheets in
//                             the .xlsx; flat means the same as for 100,000
//   export_gui_stall_ms       longest lateness of a 10 ms timer on the GUI
//                             thread during a 100,000-row export started from
//                             the browser window (target <= 50)
//
// The tables live in a local store file made for the run, so no server is
// needed.
#include "BenchSupport.h"

#include "windows/Globals.h"
#include "windows/TestAccess.h"
#include "windows/Unit1.h"
#include "data/DataSet.h"
#include "data/Provider.h"
#include "export/Export.h"
#include "export/Workbook.h"
#include "platform/Automation.h"
#include "export/Spreadsheet.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <xlsxwriter.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace querlin;
using namespace querlin::bench;
using platform::OleVariant;

namespace {

constexpr int kColumns = 10;
constexpr int kRounds = 3;

std::string StoreConnection(const std::string& file)
{
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file + ";";
}

void Run(const std::string& connection, const std::string& sql)
{
    data::TADOQuery q;
    q.SetConnectionString(connection);
    q.SetSQL(sql);
    q.Execute();
}

void MakeTable(const std::string& connection, const std::string& name, int rows)
{
    std::string columns, values;
    for (int k = 1; k <= kColumns; ++k) {
        columns += (k > 1 ? ", c" : "c") + std::to_string(k) + " varchar(40)";
        values += std::string(k > 1 ? ", " : "") + (k == 1 ? "printf('%07d', x)" : "'值' || x || '-" + std::to_string(k) + "'");
    }
    Run(connection, "CREATE TABLE " + name + " (" + columns + ")");
    Run(connection, "INSERT INTO " + name + " WITH RECURSIVE s(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM s WHERE x < " +
                        std::to_string(rows) + ") SELECT " + values + " FROM s");
}

// The export's cell writing, from an open record set, through the objects.
void WriteThroughAutomation(data::TADOQuery& query, const std::string& fileName)
{
    exports::RegisterSpreadsheetApplication();
    auto application = platform::CreateOleObject(exports::kSpreadsheetApplicationProgId);
    auto workbook = application->GetProperty("workbooks").AsObject()->CallMethod("add").AsObject();
    auto put = [&](const char* name, int row, int column, std::string value) {
        const OleVariant args[] = {OleVariant(row), OleVariant(column), OleVariant(std::move(value))};
        application->SetProperty(name, args);
    };
    put("cells", 1, 1, "数据表：BENCH导出之数据");
    for (int k = 1; k <= query.FieldCount(); ++k)
        put("cells", 2, k, query.FieldAt(k - 1).FieldName());
    query.MoveFirst();
    int row = 3;
    std::string value;
    while (!query.AtEnd()) {
        for (int k = 1; k <= query.FieldCount(); ++k) {
            value.assign(1, '\'');
            value += query.FieldAt(k - 1).PlainText();
            put("Cells", row, k, std::move(value));
        }
        ++row;
        query.MoveNext();
    }
    const OleVariant name[] = {OleVariant(fileName)};
    workbook->CallMethod("saveas", name);
    workbook->CallMethod("close");
}

void WriteBare(const std::vector<std::string>& strings, int rows, const std::string& fileName)
{
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* workbook = workbook_new_opt(fileName.c_str(), &options);
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
    lxw_format* quoted = workbook_add_format(workbook);
    format_set_hidden(quoted);
    std::size_t i = 0;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < kColumns; ++c)
            worksheet_write_string(sheet, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c), strings[i++].c_str(), quoted);
    workbook_close(workbook);
}

void OpenQuery(data::TADOQuery& query, const std::string& connection, const std::string& table)
{
    query.SetConnectionString(connection);
    query.SetSQL("SELECT * FROM " + table);
    query.Open();
}

// Runs in a child process, so that no earlier run's heap is counted.
void MeasurePeak(const std::string& connection, const std::string& table, const std::string& figure,
                 const std::string& fileName)
{
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        data::TADOQuery query;
        OpenQuery(query, connection, table);
        query.FieldAt(0).PlainText();
        ResetPeakRss();
        const long long before = CurrentRssBytes();
        WriteThroughAutomation(query, fileName);
        Figure(figure, static_cast<double>(PeakRssBytes() - before) / (1024.0 * 1024.0));
        std::filesystem::remove(fileName);
        std::_Exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
}

// Saving rows x 4 cells from the spool, in a child process: the peak RSS
// growth of the save alone.
void MeasureSpoolPeak(int rows, const std::string& figure, const std::string& fileName)
{
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        exports::RegisterSpreadsheetApplication();
        exports::CellSpool spool;
        spool.Write(1, 1, exports::SpoolCellKind::Text, "数据表：BENCH导出之数据");
        for (int k = 1; k <= 4; ++k)
            spool.Write(2, static_cast<std::uint32_t>(k), exports::SpoolCellKind::Text, std::string("c") + std::to_string(k));
        char text[32];
        for (int r = 1; r <= rows; ++r) {
            const auto row = static_cast<std::uint32_t>(r + 2);
            std::snprintf(text, sizeof text, "%07d", r);
            spool.Write(row, 1, exports::SpoolCellKind::QuotedText, text);
            for (int k = 2; k <= 4; ++k) {
                std::snprintf(text, sizeof text, "值%d-%d", r, k);
                spool.Write(row, static_cast<std::uint32_t>(k), exports::SpoolCellKind::QuotedText, text);
            }
        }
        ResetPeakRss();
        const long long before = CurrentRssBytes();
        const double start = NowSeconds();
        exports::SaveWorkbook(spool, fileName);
        std::cerr << figure << ": saved in " << NowSeconds() - start << " s\n";
        Figure(figure, static_cast<double>(PeakRssBytes() - before) / (1024.0 * 1024.0));
        std::filesystem::remove(fileName);
        std::_Exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
}

double GuiStallMs(const std::string& connection, const std::string& table, const std::string& fileName, int argc,
                  char** argv)
{
    QApplication app(argc, argv);
    TForm1 form;
    form.FormCreate();
    test::Of(form).qry4.SetConnectionString(connection);
    test::Of(form).qry4.SetSQL("SELECT * FROM " + table);
    test::Of(form).qry4.Open();
    TSaveDialog::SetAnswerForTesting([&](const std::string&) { return std::optional<std::string>(fileName); });

    QElapsedTimer clock;
    qint64 expected = 0;
    qint64 worst = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst = std::max(worst, now - expected);
        expected = now + 10;
        if (ExportIdle)
            app.quit();
    });
    QTimer::singleShot(0, [&] {
        clock.start();
        expected = 10;
        timer.start();
        test::Of(form).S1Click();
    });
    app.exec();
    std::filesystem::remove(fileName);
    return static_cast<double>(worst);
}

} // namespace

int main(int argc, char** argv)
{
    const auto folder = std::filesystem::temp_directory_path() / ("querlin-export-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string store = (folder / "bench.mdb").string();
    const std::string connection = StoreConnection(store);
    data::CreateLocalStore(connection);
    std::cerr << "making the tables\n";
    constexpr int kRows = 100000;
    MakeTable(connection, "t100k", kRows);
    MakeTable(connection, "t1m", 1000000);
    constexpr int kXlsRows = 60000;
    MakeTable(connection, "t60k", kXlsRows);

    const std::string xlsx = (folder / "out.xlsx").string();
    const std::string xls = (folder / "out.xls").string();
    const std::string csv = (folder / "out.csv").string();
    const double cells = static_cast<double>(kRows) * kColumns;

    {
        data::TADOQuery query;
        OpenQuery(query, connection, "t100k");
        data::TADOQuery xlsQuery;
        OpenQuery(xlsQuery, connection, "t60k");
        std::vector<std::string> strings;
        strings.reserve(static_cast<std::size_t>(kRows) * kColumns);
        for (query.MoveFirst(); !query.AtEnd(); query.MoveNext())
            for (int k = 0; k < kColumns; ++k)
                strings.push_back(query.FieldAt(k).PlainText());

        double bestExport = 1e9, bestBare = 1e9, bestXls = 1e9, bestCsv = 1e9;
        for (int round = 0; round < kRounds; ++round) {
            double start = NowSeconds();
            WriteBare(strings, kRows, xlsx);
            bestBare = std::min(bestBare, NowSeconds() - start);
            start = NowSeconds();
            WriteThroughAutomation(query, xlsx);
            bestExport = std::min(bestExport, NowSeconds() - start);
            start = NowSeconds();
            WriteThroughAutomation(xlsQuery, xls);
            bestXls = std::min(bestXls, NowSeconds() - start);
            start = NowSeconds();
            WriteThroughAutomation(query, csv);
            bestCsv = std::min(bestCsv, NowSeconds() - start);
            std::cerr << "round " << round + 1 << ": bare " << bestBare << " s, export " << bestExport << " s, xls "
                      << bestXls << " s, csv " << bestCsv << " s\n";
        }
        Figure("export_xlsx_cells_per_s", cells / bestExport);
        Figure("bare_xlsx_cells_per_s", cells / bestBare);
        Figure("export_ratio", (cells / bestExport) / (cells / bestBare));
        Figure("export_xls_cells_per_s", static_cast<double>(kXlsRows) * kColumns / bestXls);
        Figure("export_csv_cells_per_s", cells / bestCsv);
    }

    MeasurePeak(connection, "t100k", "export_writer_peak_mb_100k", xlsx);
    MeasurePeak(connection, "t1m", "export_writer_peak_mb_1m", xlsx);
    MeasurePeak(connection, "t60k", "export_writer_peak_mb_60k_xls", xls);
    MeasureSpoolPeak(10000000, "export_writer_peak_mb_10m_xlsx", xlsx);
    MeasureSpoolPeak(10000000, "export_writer_peak_mb_10m_csv", csv);

    Figure("export_gui_stall_ms", GuiStallMs(connection, "t100k", xlsx, argc, argv));
    std::filesystem::remove_all(folder);
    return 0;
}
