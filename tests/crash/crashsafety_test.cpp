// Crash safety of the files the program replaces: a writer in a child
// process (crashwriter) flips a file between two contents and is killed with
// SIGKILL at random moments; after every kill the file must be wholly the
// old or wholly the new content, and the next writer must work on it. Each
// kind is killed QUERLIN_CRASH_KILLS times (200 unless set).
#include <gtest/gtest.h>

#include "testsupport/CrashStates.h"
#include "testsupport/KilledWriter.h"
#include "testsupport/ExportProbe.h"
#include "testsupport/WorkbookReaders.h"
#include "favourites/Favourites.h"
#include "login/NetServiceFile.h"
#include "platform/Error.h"
#include "platform/FileRegistry.h"
#include "testsupport/TestSupport.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace querlin;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using crash::Writer;

int Kills()
{
    const char* text = std::getenv("QUERLIN_CRASH_KILLS");
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : 200;
}

char Other(char state) { return state == 'A' ? 'B' : 'A'; }

// The kill loop shared by every kind. state(path) tells which content the
// file holds ('A', 'B', or 0 for anything else, with a reason in why).
void KillRepeatedly(const std::string& kind, const std::string& path,
                    const std::function<char(std::string& why)>& state)
{
    // A first complete change makes the file; it is then in state B.
    {
        Writer first(kind, path, true);
        ASSERT_EQ(first.Wait(), 0) << kind << ": the first writer failed";
        std::string why;
        ASSERT_EQ(state(why), 'B') << why;
    }
    // How long one change takes, to spread the kills over it.
    Clock::duration perChange;
    {
        Writer timing(kind, path);
        ASSERT_NE(timing.NextReport(std::chrono::seconds(30)), 0) << kind << ": the writer made no change";
        const auto start = Clock::now();
        for (int i = 0; i < 10; ++i)
            ASSERT_NE(timing.NextReport(std::chrono::seconds(30)), 0);
        perChange = (Clock::now() - start) / 10;
        timing.Kill();
    }
    std::string why;
    char before = state(why);
    ASSERT_NE(before, 0) << why;

    std::mt19937 random(20261209);
    const auto spread = std::chrono::duration_cast<std::chrono::microseconds>(perChange * 3);
    int midChange = 0;
    for (int kill = 0; kill < Kills(); ++kill) {
        Writer writer(kind, path);
        // The writer has to manage its first change on what the last kill
        // left: that is "the next writer works on it".
        const char first = writer.NextReport(std::chrono::seconds(30));
        ASSERT_EQ(first, Other(before)) << kind << ", kill " << kill << ": the next writer failed on the file";
        std::this_thread::sleep_for(std::chrono::microseconds(
            std::uniform_int_distribution<long long>(0, spread.count())(random)));
        const char completed = writer.Kill();
        const char now = state(why);
        ASSERT_NE(now, 0) << kind << ", kill " << kill << ": " << why;
        // Wholly the last completed content (old) or the one after it (new).
        ASSERT_TRUE(now == completed || now == Other(completed))
            << kind << ", kill " << kill << ": holds " << now << " after completing " << completed;
        if (now != completed)
            ++midChange;
        before = now;
    }
    // Kills that landed after the new content was in place but before the
    // writer could report it; a sign that the kills hit inside changes.
    std::printf("%s: %d kills, %lld us per change, %d after the switch but before the report\n",
                kind.c_str(), Kills(),
                static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(perChange).count()),
                midChange);
}

TEST(CrashSafety, RegistryHiveIsWhollyOldOrNewAfterEveryKill)
{
    test::TempDir dir;
    const std::string file = dir.File("registry.reg");
    // Other keys and values the change must keep.
    {
        platform::FileRegistry registry(file);
        auto key = registry.OpenOrCreateKey("SOFTWARE\\ODBC\\ODBC.INI\\site042");
        ASSERT_TRUE(key);
        key->WriteString("DSN", "site042", platform::RegType::Sz);
        key->WriteString("path", "%SystemRoot%;/opt/querlin/", platform::RegType::ExpandSz);
    }
    KillRepeatedly("hive", file, [&](std::string& why) -> char {
        try {
            const auto hive = platform::hive::Parse(test::ReadFile(file), file);
            const auto* other = hive.FindKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBC.INI\\site042");
            if (!other || !platform::hive::FindValue(*other, "path")) {
                why = "the other key's values are lost";
                return 0;
            }
            const auto* key = hive.FindKey(std::string("HKEY_LOCAL_MACHINE\\") + crash::kHiveKey);
            const auto* value = key ? platform::hive::FindValue(*key, crash::kHiveValue) : nullptr;
            for (char s : {'A', 'B'})
                if (value && value->value.data == crash::HiveText(s))
                    return s;
            why = "the value is neither the old nor the new text";
        } catch (const Error& e) {
            why = e.what();
        }
        return 0;
    });
}

TEST(CrashSafety, NetServiceFileIsWhollyOldOrNewAfterEveryKill)
{
    test::TempDir dir;
    const std::string file = dir.File("tnsnames.ora");
    KillRepeatedly("tnsnames", file, [&](std::string& why) -> char {
        const std::string bytes = test::ReadFile(file);
        for (char s : {'A', 'B'})
            if (bytes == login::NetServiceText(crash::NetServiceHost(s), "1521", crash::kNetServiceSid))
                return s;
        why = "the file holds neither the old nor the new text (" + std::to_string(bytes.size()) + " bytes)";
        return 0;
    });
}

// The store as SQLite itself finds it: integrity, then the favourites.
char FavouritesState(const std::string& file, std::string& why)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        why = "the store does not open: " + std::string(db ? sqlite3_errmsg(db) : "?");
        sqlite3_close(db);
        return 0;
    }
    std::vector<std::string> rows;
    auto collect = [](void* out, int, char** values, char**) {
        static_cast<std::vector<std::string>*>(out)->push_back(values[0] ? values[0] : "(null)");
        return 0;
    };
    std::vector<std::string> integrity;
    sqlite3_exec(db, "PRAGMA integrity_check", collect, &integrity, nullptr);
    char* error = nullptr;
    sqlite3_exec(db, "select 常用数据表 from tablecy order by 常用数据表", collect, &rows, &error);
    sqlite3_close(db);
    if (integrity != std::vector<std::string>{"ok"}) {
        why = "integrity_check: " + (integrity.empty() ? std::string("nothing") : integrity.front());
        return 0;
    }
    if (error) {
        why = error;
        sqlite3_free(error);
        return 0;
    }
    std::vector<std::string> old(favourites::kSeeds.begin(), favourites::kSeeds.end());
    std::sort(old.begin(), old.end());
    std::vector<std::string> added = old;
    added.push_back(crash::FavouriteName());
    std::sort(added.begin(), added.end());
    if (rows == old)
        return 'A';
    if (rows == added)
        return 'B';
    why = "the store holds " + std::to_string(rows.size()) + " favourites, neither the old nor the new list";
    return 0;
}

TEST(CrashSafety, FavouritesStoreIsWhollyOldOrNewAfterEveryKill)
{
    test::TempDir dir;
    const std::string folder = dir.Path().string();
    KillRepeatedly("favourites", folder,
                   [&](std::string& why) { return FavouritesState(dir.File(favourites::kFileName), why); });
}

// The first start makes the favourites store and its four seeds; a kill
// during that leaves no store at all (the next start makes it whole) or the
// whole store, never a table with seeds missing.
TEST(CrashSafety, NewFavouritesStoreIsWhollyMadeOrAbsentAfterEveryKill)
{
    test::TempDir dir;
    Clock::duration perStore;
    {
        Writer timing("seeding", dir.File("timing"));
        ASSERT_NE(timing.NextReport(std::chrono::seconds(30)), 0) << "the writer made no store";
        const auto start = Clock::now();
        for (int i = 0; i < 5; ++i)
            ASSERT_NE(timing.NextReport(std::chrono::seconds(30)), 0);
        perStore = (Clock::now() - start) / 5;
        timing.Kill();
    }
    std::mt19937 random(20261210);
    const auto spread = std::chrono::duration_cast<std::chrono::microseconds>(perStore * 3);
    int absent = 0;
    fs::path strandedFolder;
    for (int kill = 0; kill < Kills(); ++kill) {
        const std::string path = dir.File(std::to_string(kill));
        {
            Writer writer("seeding", path);
            std::this_thread::sleep_for(std::chrono::microseconds(
                std::uniform_int_distribution<long long>(0, spread.count())(random)));
            writer.Kill();
        }
        if (!fs::exists(path))
            continue;
        for (const auto& folder : fs::directory_iterator(path)) {
            const fs::path store = folder.path() / favourites::kFileName;
            if (!fs::exists(store)) {
                ++absent;
                strandedFolder = folder.path();
                continue;
            }
            std::string why;
            ASSERT_EQ(FavouritesState(store.string(), why), 'A') << "kill " << kill << ", " << folder.path() << ": " << why;
        }
    }
    std::printf("seeding: %d kills, %lld us per store, %d left no store\n", Kills(),
                static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(perStore).count()),
                absent);
    // The next start in a folder a kill left without a store makes it whole.
    if (!strandedFolder.empty()) {
        Writer again("seeding", strandedFolder.string(), true);
        ASSERT_EQ(again.Wait(), 0);
        std::string why;
        EXPECT_EQ(FavouritesState((strandedFolder / favourites::kFileName).string(), why), 'A') << why;
    }
}

// An export target: absent before the first export, afterwards always a
// complete workbook of one export or the next, and no temporary file left
// beside it by a finished writer.
TEST(CrashSafety, ExportTargetIsWhollyOldOrNewAfterEveryKill)
{
    test::TempDir dir;
    const std::string file = dir.File("oracle导出数据表.xls");
    KillRepeatedly("export", file, [&](std::string& why) -> char {
        const auto cells = test::ReadXlsCells(file);
        for (char s : {'A', 'B'})
            if (cells == crash::ExportCells(s))
                return s;
        why = "the workbook holds neither the old nor the new export (" + std::to_string(cells.size()) +
              " cells, first: " + (cells.empty() ? std::string() : cells.front()) + ")";
        return 0;
    });
    // The writers' last run ended by a kill; a clean export afterwards
    // leaves only its file, its source and what the kills stranded.
    {
        test::TempDir fresh;
        const std::string target = fresh.File("t.xls");
        std::filesystem::copy_file(dir.File("rows.mdb"), fresh.File("rows.mdb"));
        Writer once("export", target, true);
        ASSERT_EQ(once.Wait(), 0);
        EXPECT_EQ(test::FilesIn(fresh.Path()), (std::vector<std::string>{"rows.mdb", "t.xls"}));
    }
}

// The same with exports that roll over into further sheets of an .xlsx
// workbook; and a kill during the first export to a new name leaves no
// file of that name, only ever a whole workbook.
TEST(CrashSafety, RolledOverExportIsWhollyOldOrNewAfterEveryKill)
{
    test::TempDir dir;
    const std::string file = dir.File("rows.xlsx");
    auto sheetsOf = [](const std::string& path, std::string& why) -> char {
        test::XlsxDocument document(path);
        std::vector<std::vector<std::string>> sheets;
        for (std::size_t i = 0; i < document.sheetParts.size(); ++i)
            sheets.push_back(document.Cells(i));
        for (char s : {'A', 'B'})
            if (document.problems.empty() && sheets == crash::ExportSheets(s))
                return s;
        why = "the workbook holds neither the old nor the new export (" + std::to_string(sheets.size()) +
              " sheets, " + (document.problems.empty() ? std::string("readable") : document.problems.front()) + ")";
        return 0;
    };
    KillRepeatedly("export-sheets", file, [&](std::string& why) { return sheetsOf(file, why); });

    std::mt19937 random(20261210);
    for (int kill = 0; kill < std::max(1, Kills() / 10); ++kill) {
        test::TempDir fresh;
        std::filesystem::copy_file(dir.File("rows.mdb"), fresh.File("rows.mdb"));
        const std::string target = fresh.File("new.xlsx");
        Writer writer("export-sheets", target, true);
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 40000)(random)));
        writer.Kill();
        if (std::filesystem::exists(target)) {
            std::string why;
            EXPECT_NE(sheetsOf(target, why), 0) << "kill " << kill << ": " << why;
        }
    }
}

} // namespace
