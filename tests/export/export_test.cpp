#include <gtest/gtest.h>

#include "testsupport/LocalStoreFile.h"
#include "export/Export.h"
#include "testsupport/ExportProbe.h"
#include "testsupport/WorkbookReaders.h"
#include "platform/Automation.h"
#include "platform/Error.h"
#include "export/Spreadsheet.h"
#include "testsupport/TestSupport.h"

#include <filesystem>

using namespace querlin;
using namespace querlin::exports;
using test::ExportProbe;
using test::FilesIn;
using test::LocalStoreFile;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

namespace {

const std::string kBase = kProgressBaseText;
const std::string kDone = kProgressDoneText;

// The 3 x 2 table of the examples: a null, leading zeros, a Chinese text.
void MakeCustomers(const LocalStoreFile& store)
{
    store.Run("CREATE TABLE 客户 (编号 varchar(10), 名称 varchar(50))");
    store.Run("INSERT INTO 客户 VALUES ('007', '北京')");
    store.Run("INSERT INTO 客户 VALUES ('0001.50', NULL)");
    store.Run("INSERT INTO 客户 VALUES ('12', '上海, \"浦东\"')");
}

} // namespace

TEST(Export, SmallTableReadsBackInEveryFormat)
{
    test::FixedLocale locale;
    LocalStoreFile store;
    MakeCustomers(store);
    TempDir dir;

    struct Case {
        const char* name;
        std::function<std::vector<std::string>(const std::string&)> read;
        std::vector<std::string> cells;
    };
    const Case cases[] = {
        {"oracle导出数据表.xls", test::ReadXlsCells,
         {"R1C1=数据表：SCOTT.客户导出之数据", "R2C1=编号", "R2C2=名称", "R3C1=007", "R3C2=北京", "R4C1=0001.50",
          "R5C1=12", "R5C2=上海, \"浦东\""}},
        {"out.xlsx", test::ReadXlsxCells,
         {"R1C1=数据表：SCOTT.客户导出之数据", "R2C1=编号", "R2C2=名称", "R3C1'=007", "R3C2'=北京", "R4C1'=0001.50",
          "R4C2'=(blank)", "R5C1'=12", "R5C2'=上海, \"浦东\""}},
        {"out.csv", [](const std::string& path) { return std::vector<std::string>{ReadFile(path)}; },
         {"\xEF\xBB\xBF数据表：SCOTT.客户导出之数据,\r\n编号,名称\r\n007,北京\r\n0001.50,\r\n12,\"上海, \"\"浦东\"\"\"\r\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExportProbe probe(store.ConnectionString(), "SELECT * FROM 客户", dir.File(c.name));
        probe.Run();
        EXPECT_EQ(probe.errors, std::vector<std::string>{});
        EXPECT_EQ(probe.stateReads, 1);
        EXPECT_EQ(c.read(dir.File(c.name)), c.cells);
        EXPECT_EQ(probe.labels, (std::vector<std::string>{kBase, kBase + ">", kBase + ">>", kBase + ">>>", kDone}));
    }
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"oracle导出数据表.xls", "out.csv", "out.xlsx"}));
}

TEST(Export, LabelStartsAgainEveryThirtyFiveRows)
{
    LocalStoreFile store;
    store.MakeNumbered(36);
    TempDir dir;
    ExportProbe probe(store.ConnectionString(), "SELECT n FROM t ORDER BY n", dir.File("n.xls"));
    probe.Run();
    ASSERT_EQ(probe.labels.size(), 38u);  // base, one per row, done
    EXPECT_EQ(probe.labels[34], kBase + std::string(34, '>'));
    EXPECT_EQ(AnsiLength(probe.labels[34]), 55u);
    EXPECT_EQ(probe.labels[35], kBase);
    EXPECT_EQ(probe.labels[36], kBase + ">");
    EXPECT_EQ(probe.labels[37], kDone);
}

TEST(Export, DateTimesAndEmptyTables)
{
    test::FixedLocale locale;
    LocalStoreFile store;
    store.Run("CREATE TABLE d (at datetime)");
    store.Run("INSERT INTO d VALUES ('2024-03-01 00:00:00')");
    store.Run("INSERT INTO d VALUES ('2024-03-01 08:05:09')");
    store.Run("CREATE TABLE empty_t (a varchar(5), b integer)");
    TempDir dir;

    ExportProbe dates(store.ConnectionString(), "SELECT at FROM d", dir.File("d.xlsx"));
    dates.Run();
    EXPECT_EQ(test::ReadXlsxCells(dir.File("d.xlsx")),
              (std::vector<std::string>{"R1C1=数据表：SCOTT.客户导出之数据", "R2C1=at", "R3C1'=2024-3-1",
                                        "R4C1'=2024-3-1 8:05:09"}));

    ExportProbe empty(store.ConnectionString(), "SELECT * FROM empty_t", dir.File("e.xls"));
    empty.Run();
    EXPECT_EQ(empty.errors, std::vector<std::string>{});
    EXPECT_EQ(test::ReadXlsCells(dir.File("e.xls")),
              (std::vector<std::string>{"R1C1=数据表：SCOTT.客户导出之数据", "R2C1=a", "R2C2=b"}));
    EXPECT_EQ(empty.labels, (std::vector<std::string>{kBase, kDone}));
}

TEST(Export, NoSpreadsheetApplicationEndsSilently)
{
    LocalStoreFile store;
    MakeCustomers(store);
    TempDir dir;
    for (const char* progId : {exports::kSpreadsheetApplicationProgId, exports::kSpreadsheetSheetProgId}) {
        SCOPED_TRACE(progId);
        platform::SetAutomationClassHidden(progId, true);
        ExportProbe probe(store.ConnectionString(), "SELECT * FROM 客户", dir.File("x.xls"));
        probe.Run();
        platform::SetAutomationClassHidden(progId, false);
        EXPECT_EQ(probe.stateReads, 0);
        EXPECT_EQ(probe.labels, std::vector<std::string>{});
        EXPECT_EQ(probe.errors, std::vector<std::string>{});
        EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{});
    }
}

TEST(Export, FailuresAfterTheObjectsExistAreReportedAndLeaveNoFile)
{
    TempDir dir;
    struct Case {
        const char* label;
        std::string fileName;
        std::function<void(LocalStoreFile&, ExportProbe&)> arrange;
        std::string error;
    };
    const std::string existing = dir.File("existing.xls");
    const Case cases[] = {
        {"database gone before the export connects", existing,
         [](LocalStoreFile& store, ExportProbe& probe) {
             const std::string file = probe.state.connectionString.substr(
                 probe.state.connectionString.find("Source=") + 7);
             probe.onStateRead = [file = file.substr(0, file.size() - 1)] { std::filesystem::remove(file); };
             (void)store;
         },
         "Could not find file"},
        {"window state unreadable", existing,
         [](LocalStoreFile&, ExportProbe& probe) { probe.onStateRead = [] { throw Error("qry4: Field 'x' not found"); }; },
         "qry4: Field 'x' not found"},
        {"target folder missing", dir.File("missing/x.xls"), [](LocalStoreFile&, ExportProbe&) {},
         "Cannot create file \"" + dir.File("missing/x.xls") + "\". No such file or directory"},
        {"too many columns for .xls", existing,
         [](LocalStoreFile& store, ExportProbe& probe) {
             std::string columns, values;
             for (int k = 1; k <= 257; ++k) {
                 columns += (k > 1 ? ", c" : "c") + std::to_string(k) + " integer";
                 values += k > 1 ? ", 1" : "1";
             }
             store.Run("CREATE TABLE wide (" + columns + ")");
             store.Run("INSERT INTO wide VALUES (" + values + ")");
             probe.state.sql = "SELECT * FROM wide";
         },
         "Cannot create file \"" + existing +
             "\". The table has 257 columns, and an .xls sheet holds 256; an .xlsx workbook holds up to 16,384 columns."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        WriteFile(existing, "earlier export");
        LocalStoreFile store;
        MakeCustomers(store);
        ExportProbe probe(store.ConnectionString(), "SELECT * FROM 客户", c.fileName);
        c.arrange(store, probe);
        probe.Run();
        ASSERT_EQ(probe.errors.size(), 1u);
        EXPECT_EQ(probe.errors[0].substr(0, c.error.size()), c.error);
        EXPECT_EQ(ReadFile(existing), "earlier export");
        EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"existing.xls"}));
    }
}

// The default name's format holds 65,536 rows a sheet: the rest of the
// table goes on in a second sheet, after the title and the field names
// again, in the query's order, no row lost or written twice.
TEST(Export, HundredThousandRowsFillTwoXlsSheetsInTheQuerysOrder)
{
    LocalStoreFile store;
    store.MakeNumbered(100000);
    TempDir dir;
    ExportProbe probe(store.ConnectionString(), "SELECT n FROM t ORDER BY n DESC", dir.File("oracle导出数据表.xls"));
    probe.state.fieldNames = {"n"};
    probe.Run();
    EXPECT_EQ(probe.errors, std::vector<std::string>{});
    EXPECT_EQ(probe.labels.back(), kDone);
    EXPECT_EQ(test::XlsSheetNames(dir.File("oracle导出数据表.xls")), (std::vector<std::string>{"Sheet1", "Sheet2"}));

    std::vector<std::string> expected[2];
    int n = 100000;
    for (int sheet = 0; sheet < 2; ++sheet) {
        expected[sheet] = {"R1C1=数据表：SCOTT.客户导出之数据", "R2C1=n"};
        for (int row = 3; row <= 65536 && n >= 1; ++row, --n)
            expected[sheet].push_back("R" + std::to_string(row) + "C1=" + std::to_string(n));
    }
    const auto first = test::ReadXlsSheetCells(dir.File("oracle导出数据表.xls"), 0);
    const auto second = test::ReadXlsSheetCells(dir.File("oracle导出数据表.xls"), 1);
    EXPECT_EQ(first.size(), 65536u);
    EXPECT_EQ(second.size(), 100000u - 65534u + 2u);
    EXPECT_TRUE(first == expected[0]);
    EXPECT_TRUE(second == expected[1]);
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"oracle导出数据表.xls"});
}

TEST(ProgressLabel, CoalescesUntilTheGuiTakesTheText)
{
    int posts = 0;
    ProgressLabel label([&] { ++posts; });
    label.Set("a");
    label.Set("b");
    label.Set("c");
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(label.Take(), "c");
    label.Set("d");
    EXPECT_EQ(posts, 2);
    EXPECT_EQ(label.Take(), "d");
}

TEST(ExportWorker, RunsOffTheCallingThreadAndSetsTheFlagAtTheEnd)
{
    LocalStoreFile store;
    store.MakeNumbered(2000);
    TempDir dir;
    ExportProbe probe(store.ConnectionString(), "SELECT * FROM t", dir.File("w.xlsx"));

    // Deliveries go through a queue that this thread drains, as the GUI
    // thread's event loop would.
    std::mutex queueMutex;
    std::vector<std::function<void()>> queue;
    std::vector<std::string> shown;
    ProgressLabel label([&] {
        std::lock_guard lock(queueMutex);
        queue.push_back([&] { shown.push_back(label.Take()); });
    });
    probe.environment.setLabel = [&](const std::string& text) { label.Set(text); };

    std::atomic<bool> idle{false};
    ExportWorker worker;
    const auto caller = std::this_thread::get_id();
    std::thread::id ranOn;
    ASSERT_TRUE(worker.Start([&] { ranOn = std::this_thread::get_id(); probe.Run(); }, idle));
    while (!idle) {
        std::vector<std::function<void()>> batch;
        {
            std::lock_guard lock(queueMutex);
            batch.swap(queue);
        }
        for (auto& call : batch)
            call();
        std::this_thread::yield();
    }
    worker.Wait();
    for (auto& call : queue)
        call();
    EXPECT_NE(ranOn, caller);
    EXPECT_EQ(probe.errors, std::vector<std::string>{});
    ASSERT_FALSE(shown.empty());
    EXPECT_LE(shown.size(), 2002u);
    EXPECT_EQ(shown.back(), kDone);
    EXPECT_EQ(test::ReadXlsxCells(dir.File("w.xlsx")).size(), 1u + 3u + 2000u * 3u);
}

TEST(ExportWorker, CancelStopsTheExportWithoutAFile)
{
    LocalStoreFile store;
    store.MakeNumbered(20000);
    TempDir dir;
    ExportProbe probe(store.ConnectionString(), "SELECT * FROM t", dir.File("c.xlsx"));
    std::atomic<bool> idle{false};
    ExportWorker worker;
    probe.environment.cancelled = worker.CancelFlag();
    std::atomic<bool> started{false};
    probe.environment.setLabel = [&](const std::string&) { started = true; };
    ASSERT_TRUE(worker.Start([&] { probe.Run(); }, idle));
    while (!started)
        std::this_thread::yield();
    worker.CancelAndWait();
    EXPECT_TRUE(idle);
    EXPECT_EQ(probe.errors, std::vector<std::string>{});
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{});
}
