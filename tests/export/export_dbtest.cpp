#include <gtest/gtest.h>

#include "testsupport/ExportProbe.h"
#include "testsupport/PrivateServer.h"
#include "testsupport/TestSupport.h"

#include <memory>

using namespace querlin;
using test::ExportProbe;
using test::HangWatchdog;
using test::PrivateServer;
using test::ReadFile;
using test::Saboteur;
using test::TempDir;
using test::WriteFile;

namespace {

// Runs the export on its worker, as the window does, and waits for it.
void RunOnWorker(ExportProbe& probe)
{
    std::atomic<bool> idle{false};
    exports::ExportWorker worker;
    ASSERT_TRUE(worker.Start([&] { probe.Run(); }, idle));
    worker.Wait();
    EXPECT_TRUE(idle);
}

// The export reported one error, in the driver's words, and the target is
// what it was before: an earlier file whole, no new or temporary file.
void ExpectFailedWithoutAFile(const ExportProbe& probe, const TempDir& dir, const std::string& target,
                              const std::string& password)
{
    ASSERT_EQ(probe.errors.size(), 1u);
    EXPECT_FALSE(probe.errors[0].empty());
    EXPECT_EQ(probe.errors[0].find(password), std::string::npos) << probe.errors[0];
    EXPECT_EQ(ReadFile(target), "earlier export");
    EXPECT_EQ(test::FilesIn(dir.Path()), std::vector<std::string>{"lost.xlsx"});
    EXPECT_TRUE(probe.labels.empty() || probe.labels.back() != exports::kProgressDoneText);
}

} // namespace

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
    RunOnWorker(probe);
    ExpectFailedWithoutAFile(probe, dir, target, db.password);
    EXPECT_NE(probe.errors[0].find("terminat"), std::string::npos) << probe.errors[0];
}

namespace {

constexpr char kPassword[] = "Export-Lost;{9}";

// 300,000 rows streamed 10,000 a fetch; row 150,000 of the view sleeps
// until the test takes the connection away.
constexpr char kSite[] = R"(
CREATE SCHEMA bravel;
CREATE TABLE bravel.small (id integer, label varchar(20));
INSERT INTO bravel.small VALUES (1, 'one'), (2, 'two'), (3, 'three');
CREATE VIEW bravel.doomed AS
  SELECT x AS id, CAST('row ' || x AS varchar(20)) AS label,
         CASE WHEN x = 150000 THEN length(pg_sleep(60)::text) END AS nap
  FROM generate_series(1, 300000) AS x;
)";

} // namespace

// A large export loses its connection half-way through its rows, by another
// session ending it or by the server stopping: the error is reported, no
// file is left, and once the server is back the next export writes its file.
TEST(ExportDb, ServerGoneMidExportThenBack)
{
    PrivateServer server(kPassword, kSite);
    const auto psql = [&](const std::string& sql) { return server.Psql(sql); };
    enum class Loss { Terminated, ServerStops, ServerDies };
    const struct {
        const char* label;
        Loss loss;
    } cases[] = {
        {"session terminated from another session", Loss::Terminated},
        {"server stops", Loss::ServerStops},
        {"server stops at once", Loss::ServerDies},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        HangWatchdog watchdog(std::string("export losing its connection: ") + c.label, 180);
        TempDir dir;
        const std::string target = dir.File("lost.xlsx");
        WriteFile(target, "earlier export");
        ExportProbe probe(server.AdoConnectionString(), "SELECT * FROM bravel.doomed", target);
        // Read while the server is up: it learns its field names.
        ExportProbe away(server.AdoConnectionString(), "SELECT * FROM bravel.small ORDER BY id", target);
        {
            Saboteur saboteur(psql, [&] {
                switch (c.loss) {
                case Loss::Terminated: server.Psql(test::kTerminateSleepers); break;
                case Loss::ServerStops: server.Halt(false); break;
                case Loss::ServerDies: server.Halt(true); break;
                }
            });
            RunOnWorker(probe);
            saboteur.Join();
            ASSERT_TRUE(saboteur.Struck()) << "the export's fetch never reached the sleeping row";
        }
        ExpectFailedWithoutAFile(probe, dir, target, kPassword);
        std::cout << "[ lost ] " << c.label << ": " << probe.errors[0] << "\n";

        if (c.loss != Loss::Terminated) {
            // While the server is away the export fails at once, the same way.
            RunOnWorker(away);
            ExpectFailedWithoutAFile(away, dir, target, kPassword);
            server.Resume();
        }
        const std::string csv = dir.File("back.csv");
        ExportProbe back(server.AdoConnectionString(), "SELECT * FROM bravel.small ORDER BY id", csv);
        RunOnWorker(back);
        EXPECT_TRUE(back.errors.empty()) << back.errors[0];
        const std::string written = ReadFile(csv);
        EXPECT_NE(written.find("id,label\r\n1,one\r\n2,two\r\n3,three\r\n"), std::string::npos) << written;
        ASSERT_FALSE(back.labels.empty());
        EXPECT_EQ(back.labels.back(), exports::kProgressDoneText);
    }
}
