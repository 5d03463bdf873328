// The program starts and works on what killed writers left behind: the
// registry hive, the net service name file and the favourites store of its
// program directory are each changed by a writer (crashwriter) that is
// killed at random moments; then the program starts on them, a Login reads,
// rewrites and opens them, and the browser window shows what they hold.
#include "windows/TestAccess.h"
#include "LoginFixture.h"

#include "testsupport/CrashStates.h"
#include "testsupport/KilledWriter.h"
#include "login/NetServiceFile.h"
#include "platform/FileRegistry.h"

#include <algorithm>
#include <random>
#include <thread>

using namespace querlin;
using namespace querlin::test;

namespace {

constexpr int kKillsPerFile = 30;

// Lets the writer make changes to the file and kills it at a random moment,
// again and again; each new writer has to manage a change on what the last
// kill left.
void KillWritersOf(const std::string& kind, const std::string& path, std::mt19937& random)
{
    for (int kill = 0; kill < kKillsPerFile; ++kill) {
        crash::Writer writer(kind, path);
        ASSERT_NE(writer.NextReport(std::chrono::seconds(30)), 0)
            << kind << ", kill " << kill << ": the writer made no change on what the last kill left";
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 20000)(random)));
        writer.Kill();
    }
}

using ProgramAfterKills = LoginEndToEnd;

TEST_F(ProgramAfterKills, StartsAndLogsInOnTheHiveNetServiceFileAndFavouritesTheKillsLeft)
{
    PsqlFile(database_, SourceFile("scripts/demo-fixture.sql"));
    std::mt19937 random(20261209);
    const std::string hiveFile = dir.File("registry.reg");
    const std::string netService = dir.File("tnsnames.ora");
    // The hive is the one the program reads: the fixture's machine registry.
    KillWritersOf("hive", hiveFile, random);
    KillWritersOf("tnsnames", netService, random);
    KillWritersOf("favourites", dir.Path().string(), random);
    // A fresh read of the hive, not the fixture's object from before the kills.
    UseHive(hiveFile);

    Login("system", "manager");
    ExpectBrowserShownWithoutReports();
    EXPECT_EQ(Column(test::Of(*Form1).qry1, "用户"), (std::vector<std::string>{"BRAVEL", "HR", "OUTLN", "SCOTT", "TELMIR"}));
    // The seeds, and the favourite the writer adds and removes when the
    // last kill left it in.
    std::vector<std::string> favourites = Column(test::Of(*Form1).qry3, "常用数据表");
    const auto added = std::find(favourites.begin(), favourites.end(), crash::FavouriteName());
    if (added != favourites.end())
        favourites.erase(added);
    EXPECT_EQ(favourites, kSeedsInNameOrder);
    ASSERT_TRUE(test::Of(*Form1).qry4.Active());
    EXPECT_EQ(Caption(), "数据表：BRAVEL.T_RUDATASOURCETYPE");

    // The Login rewrote the net service file and registered the data
    // source, keeping the killed writer's last value beside it.
    const auto entry = login::ReadNetServiceFile(netService);
    ASSERT_TRUE(entry.host.has_value());
    EXPECT_EQ(*entry.host, platform::AsciiUpper(test::Of(*frmmain).ipadd->text().toStdString()));
    const auto hive = platform::hive::Parse(ReadFile(hiveFile), hiveFile);
    EXPECT_NE(hive.FindKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBC.INI\\" + sid_), nullptr);
    const auto* probe = hive.FindKey(std::string("HKEY_LOCAL_MACHINE\\") + crash::kHiveKey);
    const auto* value = probe ? platform::hive::FindValue(*probe, crash::kHiveValue) : nullptr;
    ASSERT_NE(value, nullptr) << "the value the killed writers changed is lost";
    EXPECT_TRUE(value->value.data == crash::HiveText('A') || value->value.data == crash::HiveText('B'));

    // And the favourites still change: the viewed user's second table is
    // added, and stays once the list is read again.
    test::Of(*Form1).qry2.MoveLast();
    ASSERT_EQ(test::Of(*Form1).qry2.FieldNamed("用户表").PlainText(), "T_RUREPORT");
    app::Guard([] { test::Of(*Form1).N2Click(); });
    EXPECT_TRUE(reports.empty()) << (reports.empty() ? "" : reports[0].text.toStdString());
    test::Of(*Form1).qry3.Close();
    test::Of(*Form1).qry3.Open();
    const auto stored = Column(test::Of(*Form1).qry3, "常用数据表");
    EXPECT_NE(std::find(stored.begin(), stored.end(), "BRAVEL.T_RUREPORT"), stored.end());
}

} // namespace
