#include <gtest/gtest.h>

#include "export/ExportProbe.h"
#include "testsupport/TestSupport.h"

using namespace querlin;
using test::ExportProbe;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// The server ends the export's connection while the rows come in.
TEST(ExportDb, ConnectionLostMidExportIsReportedAndLeavesNoFile)
{
    const auto& db = test::RequireTestDatabase();
    TempDir dir;
    const std::string target = dir.File("lost.xlsx");
    WriteFile(target, "earlier export");
    ExportProbe probe(db.AdoConnectionString(), "SELECT 1 AS x", target);
    probe.state.sql = "SELECT x, CASE WHEN x = 3 THEN pg_terminate_backend(pg_backend_pid()) END AS k "
                      "FROM generate_series(1, 5) AS x";

    std::atomic<bool> idle{false};
    exports::ExportWorker worker;
    ASSERT_TRUE(worker.Start([&] { probe.Run(); }, idle));
    worker.Wait();

    EXPECT_TRUE(idle);
    ASSERT_EQ(probe.errors.size(), 1u);
    EXPECT_NE(probe.errors[0].find("terminat"), std::string::npos) << probe.errors[0];
    EXPECT_EQ(ReadFile(target), "earlier export");
    EXPECT_EQ(test::FilesIn(dir.Path()), std::vector<std::string>{"lost.xlsx"});
}
