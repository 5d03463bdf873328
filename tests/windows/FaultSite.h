#pragma once
// The browser window logged in on a server of the test's own, reached
// through a TCP proxy on a loopback address of its own, and the faults that
// the fault tests and the soak inject: the server's process killed, the
// server stopped and resumed, the connection cut or stalled, the server
// restarted, the favourites file locked or read-only, the disk full under
// an export, the export's folder removed. Each fault is undone by the same
// object, and the window is then checked the way a user would: it shows,
// it paints, it told what it had to, and the next action works.
#include "LoginFixture.h"

#include "export/Export.h"
#include "grid/TDataGrid.h"
#include "grid/TGridFindDlg.h"
#include "windows/BrowserSql.h"
#include "windows/Shell.h"
#include "windows/TSaveDialog.h"
#include "windows/TestAccess.h"
#include "testsupport/PrivateServer.h"
#include "testsupport/TcpProxy.h"

#include <QAction>
#include <QLabel>
#include <QTimer>

#include <dirent.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace querlin::test {

inline constexpr char kFaultPassword[] = "Soak-Pass;{9}";

// User SOAK: tables from ten rows to many (the largest's size given), all
// "id, t" with t = 'row <id>', and a view that naps now and then while it
// streams, so that a fault has a stream to fall on. User SOAKB has one table.
inline std::string FaultSiteSql(long bigRows)
{
    return R"(
CREATE SCHEMA soak;
CREATE TABLE soak.t10 AS SELECT g AS id, CAST('row ' || g AS varchar(30)) AS t FROM generate_series(1, 10) g;
CREATE TABLE soak.t300 AS SELECT g AS id, CAST('row ' || g AS varchar(30)) AS t FROM generate_series(1, 300) g;
CREATE TABLE soak.t100k AS SELECT g AS id, CAST('row ' || g AS varchar(30)) AS t FROM generate_series(1, 100000) g;
CREATE TABLE soak.tbig AS SELECT g AS id, CAST('row ' || g AS varchar(30)) AS t FROM generate_series(1, )" +
           std::to_string(bigRows) + R"() g;
CREATE VIEW soak.vslow AS
  SELECT g AS id, CAST('row ' || g AS varchar(30)) AS t,
         CASE WHEN g % 10000 = 0 THEN length(pg_sleep(0.1)::text) END AS nap
  FROM generate_series(1, 200000) AS g;
CREATE SCHEMA soakb;
CREATE TABLE soakb.only AS SELECT g AS id FROM generate_series(1, 5) g;
)";
}

// The favourites the window starts with; the first is shown at the Login.
inline const std::vector<std::string> kFaultFavourites = {"SOAK.T10", "SOAK.TBIG", "SOAK.VSLOW", "SOAK.T300"};

enum class Fault {
    ServerKilled,      // a server process killed; the server recovers by itself
    ServerFrozen,      // every server process stopped, then resumed
    ConnectionCut,     // the proxy resets every connection
    ConnectionStalled, // the proxy passes nothing for a while, then goes on
    ServerRestarted,   // the server stopped and started again
    FavouritesLocked,  // another program holds the favourites file locked
    FavouritesReadOnly,// the favourites file and its folder read-only
    DiskFull,          // the export's folder on a full disk
    FolderRemoved,     // the export's folder removed
};

inline const char* FaultName(Fault fault)
{
    switch (fault) {
    case Fault::ServerKilled: return "server process killed";
    case Fault::ServerFrozen: return "server stopped and resumed";
    case Fault::ConnectionCut: return "connection cut";
    case Fault::ConnectionStalled: return "connection stalled";
    case Fault::ServerRestarted: return "server restarted";
    case Fault::FavouritesLocked: return "favourites file locked";
    case Fault::FavouritesReadOnly: return "favourites file read-only";
    case Fault::DiskFull: return "disk full while saving";
    case Fault::FolderRemoved: return "export folder removed";
    }
    return "?";
}

inline constexpr Fault kAllFaults[] = {Fault::ServerKilled,     Fault::ServerFrozen,       Fault::ConnectionCut,
                                       Fault::ConnectionStalled, Fault::ServerRestarted,   Fault::FavouritesLocked,
                                       Fault::FavouritesReadOnly, Fault::DiskFull,         Fault::FolderRemoved};

// The process's own figures, read from /proc.
inline long ProcCount(const char* folder)
{
    long n = 0;
    if (DIR* d = ::opendir(folder)) {
        while (dirent* e = ::readdir(d))
            n += e->d_name[0] != '.';
        ::closedir(d);
    }
    return n - (std::string(folder) == "/proc/self/fd" ? 1 : 0);  // the listing's own
}
inline long OpenFiles() { return ProcCount("/proc/self/fd"); }
inline long Threads() { return ProcCount("/proc/self/task"); }
inline long ResidentKb()
{
    std::istringstream status(ReadFile("/proc/self/status"));
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

// The permission bits bind the calling thread while it lives: root's
// override rights are taken out of its effective set and put back at the
// end of the scope (they stay permitted, so they can come back).
class WithoutOverrideRightsHere {
public:
    WithoutOverrideRightsHere()
    {
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        active_ = ::syscall(SYS_capset, &header_, lowered) == 0;
    }
    ~WithoutOverrideRightsHere()
    {
        if (active_)
            ::syscall(SYS_capset, &header_, saved_);
    }
    WithoutOverrideRightsHere(const WithoutOverrideRightsHere&) = delete;
    WithoutOverrideRightsHere& operator=(const WithoutOverrideRightsHere&) = delete;

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

// A test's window over the site: logged in through the proxy, rows
// streaming through the program's own poster.
class FaultSite : public LoginEndToEnd {
protected:
    // The lane of the proxy's loopback address (test::SideAddress), and the
    // size of the largest table.
    FaultSite(int lane, long bigRows) : lane_(lane), bigRows_(bigRows) {}

    void SetUp() override
    {
        LoginEndToEnd::SetUp();
        if (HasFatalFailure())
            return;
        app::InstallGuiPoster();
        server_ = std::make_unique<PrivateServer>(kFaultPassword);
        proxy_ = std::make_unique<TcpProxy>(SideAddress(lane_), 1521, "127.0.0.1", server_->Port());
        server_->Psql("DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)", "postgres");
        server_->Psql("CREATE DATABASE " + database_ + " TEMPLATE template0 ENCODING 'UTF8'", "postgres");
        server_->Psql(ReadFile(SourceFile("scripts/testdb-fixture.sql")), database_);
        server_->Psql(FaultSiteSql(bigRows_), database_);
        // The test servers commit without waiting for the log: a server
        // process killed before the log is written would lose the site's
        // last tables in the recovery. On disk before any fault.
        server_->Psql("CHECKPOINT", database_);
        Favourites(kFaultFavourites);
        Dial(SideAddress(lane_));
        exportDir_ = dir.File("exports");
        fs::create_directories(exportDir_);
    }

    void TearDown() override
    {
        TSaveDialog::SetAnswerForTesting(nullptr);
        UndoFilesystem();
        LoginEndToEnd::TearDown();
        data::SetGuiPoster({});
        proxy_.reset();
        server_.reset();
    }

    static bool WaitFor(const std::function<bool()>& done, int ms = 60000)
    {
        return QTest::qWaitFor(done, ms);
    }

    // A fresh program logged in through the proxy: the users, SOAK's tables,
    // the favourites and the first favourite's rows shown.
    ::testing::AssertionResult LogIn()
    {
        app::DestroyWindows();
        app::ResetTerminationForTesting();
        Login("system", kFaultPassword);
        if (::testing::Test::HasFatalFailure())
            return ::testing::AssertionFailure() << "the Login could not be pressed";
        if (!WaitFor([] {
                auto w = Of(*Form1);
                return Form1->isVisible() && w.qry4.Active() && !w.qry4.Opening() && w.qry2.Active() &&
                       Caption() == "数据表：SOAK.T10";
            }))
            return ::testing::AssertionFailure()
                   << "after the Login: window " << (Form1->isVisible() ? "shown" : "hidden") << ", caption "
                   << Caption() << ", " << reports.size() << " reports"
                   << (reports.empty() ? "" : ": " + reports[0].text.toStdString());
        return ::testing::AssertionSuccess();
    }

    // Makes the row of a list whose first column reads `text` current;
    // false when the list has none.
    static bool Select(data::TADOQuery& q, const char* field, const std::string& text)
    {
        if (!q.Active())
            return false;
        for (q.MoveFirst(); !q.AtEnd(); q.MoveNext())
            if (q.FieldNamed(field).PlainText() == text)
                return true;
        return false;
    }

    // The user's click on a table of SOAK (SOAK's tables listed first when
    // they are not); returns at once, rows come.
    static bool ClickTable(const std::string& table)
    {
        if (!SelectSoakTable(table))
            return false;
        Of(*Form1).dbgrd2CellClick(nullptr);
        return true;
    }

    // SOAK current in the user list and `table` in the tables list, listed
    // by a click on the user when they are not.
    static bool SelectSoakTable(const std::string& table)
    {
        auto w = Of(*Form1);
        if (!Select(w.qry2, browser::kTableColumn, table) || !Select(w.qry1, browser::kUserColumn, "SOAK")) {
            if (!Select(w.qry1, browser::kUserColumn, "SOAK"))
                return false;
            w.dbgrd1CellClick(nullptr);
            if (!WaitFor([&] { return !w.qry2.Opening(); }))
                return false;
        }
        return Select(w.qry1, browser::kUserColumn, "SOAK") && Select(w.qry2, browser::kTableColumn, table);
    }

    // The user's click on a favourite; returns at once, rows come.
    static bool ClickFavourite(const std::string& favourite)
    {
        auto w = Of(*Form1);
        if (!Select(w.qry3, favourites::kFavouriteColumn, favourite))
            return false;
        w.dbgrd3CellClick(nullptr);
        return true;
    }

    // Waits for a click's rows to have come (or the open to have failed).
    static bool WaitForRows()
    {
        return WaitFor([] {
            auto w = Of(*Form1);
            return !w.qry4.Opening() && (!w.qry4.Active() || w.qry4.FetchState() != data::TFetchState::fsFetching);
        });
    }

    // A table opened on a fresh click, all of it in: the next action after
    // a fault. Lists the users again first (the click on the user is the
    // first thing a user does after a failure).
    ::testing::AssertionResult NextClickWorks(const std::string& table = "T10", int rows = 10)
    {
        auto w = Of(*Form1);
        if (!Select(w.qry1, browser::kUserColumn, "SOAK"))
            return ::testing::AssertionFailure() << "SOAK is not in the user list";
        w.dbgrd1CellClick(nullptr);
        if (!WaitFor([&] { return !w.qry2.Opening(); }) || !w.qry2.Active())
            return ::testing::AssertionFailure() << "the click on the user listed no tables";
        if (!ClickTable(table))
            return ::testing::AssertionFailure() << table << " is not in SOAK's tables";
        if (!WaitForRows())
            return ::testing::AssertionFailure() << "the rows of " << table << " never came";
        if (!w.qry4.Active() || w.qry4.RecordCount() != rows ||
            w.qry4.FetchState() != data::TFetchState::fsComplete)
            return ::testing::AssertionFailure() << "the click on " << table << " showed "
                                                 << (w.qry4.Active() ? w.qry4.RecordCount() : -1) << " rows";
        if (Caption() != "数据表：SOAK." + table)
            return ::testing::AssertionFailure() << "the caption reads " << Caption();
        return ::testing::AssertionSuccess();
    }

    // The window shows, each grid paints, and a posted call runs.
    static ::testing::AssertionResult Answers()
    {
        if (!Form1 || !Form1->isVisible())
            return ::testing::AssertionFailure() << "the browser window is gone";
        auto w = Of(*Form1);
        for (grid::TDataGrid* grid : {w.dbgrd1, w.dbgrd2, w.dbgrd3, w.dbgrd4})
            if (grid->viewport()->grab().isNull())
                return ::testing::AssertionFailure() << "a grid does not paint";
        bool ran = false;
        QTimer::singleShot(0, Form1, [&ran] { ran = true; });
        if (!WaitFor([&ran] { return ran; }, 30000))
            return ::testing::AssertionFailure() << "the window's event loop does not answer";
        return ::testing::AssertionSuccess();
    }

    // The viewed rows' state line.
    static std::string Status()
    {
        QLabel* label = Of(*Form1).lbl2;
        return label->isVisible() ? label->text().toStdString() : "";
    }

    // --- The server.

    // The server's processes: the postmaster (first, named by the pid file
    // in its data folder) and its children. Never a pid that would signal
    // more than one process.
    std::vector<pid_t> ServerProcesses() const
    {
        const std::string data = server_->Psql("SHOW data_directory");
        std::istringstream pidFile(ReadFile(data + "/postmaster.pid"));
        pid_t parent = 0;
        pidFile >> parent;
        if (parent <= 1)
            throw std::runtime_error("no postmaster pid in " + data);
        std::vector<pid_t> all{parent};
        if (DIR* d = ::opendir("/proc")) {
            while (dirent* e = ::readdir(d)) {
                const pid_t p = std::atoi(e->d_name);
                if (p <= 1 || p == parent)
                    continue;
                std::ifstream s("/proc/" + std::to_string(p) + "/stat");
                std::string line;
                std::getline(s, line);
                const auto close = line.rfind(')');
                if (close == std::string::npos)
                    continue;
                std::istringstream rest(line.substr(close + 2));
                std::string state;
                pid_t pp = 0;
                rest >> state >> pp;
                if (pp == parent)
                    all.push_back(p);
            }
            ::closedir(d);
        }
        return all;
    }

    // The server answers a query of its own (through no proxy).
    bool ServerAnswers() const
    {
        try {
            return server_->Psql("SELECT 1") == "1";
        } catch (const std::exception&) {
            return false;
        }
    }

    bool WaitForServer() const
    {
        return WaitFor([this] { return ServerAnswers(); }, 120000);
    }

    // The sessions serving the test's database.
    std::vector<pid_t> Sessions() const
    {
        std::vector<pid_t> pids;
        std::istringstream out(server_->Psql("SELECT pid FROM pg_stat_activity WHERE datname = '" + database_ +
                                             "' AND pid <> pg_backend_pid()"));
        for (std::string line; std::getline(out, line);)
            if (!line.empty())
                pids.push_back(std::stoi(line));
        return pids;
    }

    // --- The files.

    std::string FavouritesFile() const { return dir.File("table.mdb"); }

    // Another program's exclusive hold on the favourites file, until Release.
    void LockFavourites()
    {
        const std::string command = "sqlite3 '" + FavouritesFile() + "' >/dev/null 2>&1";
        locker_ = ::popen(command.c_str(), "w");
        ASSERT_NE(locker_, nullptr);
        // It waits its turn if the program is reading the file just then.
        std::fputs(".timeout 10000\nBEGIN EXCLUSIVE;\nSELECT count(*) FROM tablecy;\n", locker_);
        std::fflush(locker_);
        // Until the lock is held: a write of our own would wait for it.
        ASSERT_TRUE(WaitFor([this] {
            return std::system(("sqlite3 -cmd '.timeout 0' '" + FavouritesFile() +
                                "' 'BEGIN IMMEDIATE; ROLLBACK;' >/dev/null 2>&1")
                                   .c_str()) != 0;
        }));
    }
    void UnlockFavourites()
    {
        if (locker_) {
            std::fputs("ROLLBACK;\n.quit\n", locker_);
            ::pclose(locker_);
            locker_ = nullptr;
        }
    }

    // A folder on a file system of a few kilobytes, nearly all taken.
    std::string FullFolder()
    {
        const std::string folder = dir.File("full");
        fs::create_directories(folder);
        if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=256k") != 0)
            throw std::runtime_error("cannot mount a small file system on " + folder);
        mounted_ = folder;
        // Fill it up to the last few blocks.
        std::string block(4096, 'x');
        for (int i = 0;; ++i) {
            std::FILE* f = std::fopen((folder + "/filler" + std::to_string(i)).c_str(), "wb");
            if (!f)
                break;
            const bool full = std::fwrite(block.data(), 1, block.size(), f) != block.size();
            if (std::fclose(f) != 0 || full) {
                fs::remove(folder + "/filler" + std::to_string(i));
                break;
            }
        }
        return folder;
    }
    void FreeFullFolder()
    {
        for (const std::string& name : Entries(mounted_))
            if (name.rfind("filler", 0) == 0)
                fs::remove(mounted_ + "/" + name);
    }
    static std::string Joined(const std::vector<std::string>& texts)
    {
        std::string all = "{";
        for (const std::string& text : texts)
            all += (all.size() > 1 ? ", " : "") + text;
        return all + "}";
    }
    void UndoFilesystem()
    {
        UnlockFavourites();
        if (!mounted_.empty()) {
            ::umount2(mounted_.c_str(), MNT_DETACH);
            mounted_.clear();
        }
        std::error_code ec;
        fs::permissions(dir.Path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::permissions(FavouritesFile(), fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, ec);
    }

    // Saves the viewed rows through the window's menu into `file`; waits for
    // the export to end and its news to arrive.
    static bool Save(const std::string& file)
    {
        TSaveDialog::SetAnswerForTesting([file](const std::string&) { return std::optional<std::string>(file); });
        Of(*Form1).S1->trigger();
        const bool ended = WaitFor([] { return ExportIdle.load(); }, 180000);
        QTest::qWait(50);
        return ended;
    }

    // The entries of a folder, sorted.
    static std::vector<std::string> Entries(const std::string& folder)
    {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // --- The faults, each injected now, whatever the window is doing, and
    // undone; then the window is checked. Reports the window made are
    // taken out of `reports`.

    // The user's actions that each file fault falls on.
    ::testing::AssertionResult AddFavourite(const std::string& table)
    {
        if (!SelectSoakTable(table))
            return ::testing::AssertionFailure() << table << " cannot be selected";
        Of(*Form1).N2->trigger();
        return ::testing::AssertionSuccess();
    }
    std::vector<std::string> FavouritesShown() { return Column(Of(*Form1).qry3, favourites::kFavouriteColumn); }
    // The favourites the file holds, in name order, read by another program.
    std::vector<std::string> FavouritesStored()
    {
        std::vector<std::string> stored;
        const std::string command = "sqlite3 '" + FavouritesFile() + "' 'SELECT 常用数据表 FROM tablecy ORDER BY 1'";
        if (FILE* out = ::popen(command.c_str(), "r")) {
            char line[512];
            while (std::fgets(line, sizeof line, out)) {
                std::string text(line);
                while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
                    text.pop_back();
                stored.push_back(text);
            }
            ::pclose(out);
        }
        return stored;
    }
    static std::vector<std::string> Sorted(std::vector<std::string> texts)
    {
        std::sort(texts.begin(), texts.end());
        return texts;
    }
    static std::vector<std::string> With(std::vector<std::string> texts, const std::string& more)
    {
        texts.push_back(more);
        return texts;
    }
    bool RemoveFavourite(const std::string& text)
    {
        if (!Select(Of(*Form1).qry3, favourites::kFavouriteColumn, text))
            return false;
        Of(*Form1).N3->trigger();
        return true;
    }

    // One report was made, it says something and holds no password.
    ::testing::AssertionResult OneReportTold(const char* what)
    {
        if (reports.size() != 1) {
            auto failure = ::testing::AssertionFailure() << what << ": " << reports.size() << " reports instead of one";
            for (const auto& report : reports)
                failure << " [" << report.text.toStdString() << "]";
            reports.clear();
            return failure;
        }
        const std::string text = reports[0].text.toStdString();
        reports.clear();
        if (text.empty() || text.find(kFaultPassword) != std::string::npos)
            return ::testing::AssertionFailure() << what << ": the report reads \"" << text << "\"";
        return ::testing::AssertionSuccess();
    }

    // The state line says what qry4's rows are.
    static ::testing::AssertionResult StatusTellsTheRows()
    {
        auto w = Of(*Form1);
        const std::string status = Status();
        if (!w.qry4.Active() || w.qry4.Opening())
            return ::testing::AssertionSuccess();
        const char* expected = "";
        switch (w.qry4.FetchState()) {
        case data::TFetchState::fsComplete: expected = ""; break;
        case data::TFetchState::fsFetching: expected = "正在读取数据"; break;
        case data::TFetchState::fsStopped: expected = "已停止读取"; break;
        case data::TFetchState::fsFailed: expected = "读取中断"; break;
        }
        if (*expected ? status.find(expected) == std::string::npos : !status.empty())
            return ::testing::AssertionFailure() << "the state line reads \"" << status << "\"";
        return ::testing::AssertionSuccess();
    }

    // Injects the fault at this moment; `midway` runs while it holds (the
    // user's Esc, a click). Undoes it and checks the window and the next
    // action.
    ::testing::AssertionResult InjectAndRecover(Fault fault, unsigned holdMs,
                                                const std::function<void()>& midway = {})
    {
        const auto hold = [&] {
            QTest::qWait(static_cast<int>(holdMs));
            if (midway)
                midway();
        };
        switch (fault) {
        case Fault::ServerKilled: {
            std::vector<pid_t> victims = Sessions();
            if (victims.empty())
                victims.push_back(ServerProcesses().back());
            if (victims.front() > 1)
                ::kill(victims.front(), SIGKILL);
            hold();
            if (!WaitForServer())
                return ::testing::AssertionFailure() << "the server did not come back";
            break;
        }
        case Fault::ServerFrozen: {
            const std::vector<pid_t> processes = ServerProcesses();
            for (pid_t p : processes)
                ::kill(p, SIGSTOP);
            hold();
            for (pid_t p : processes)
                ::kill(p, SIGCONT);
            break;
        }
        case Fault::ConnectionCut:
            proxy_->Cut();
            hold();
            break;
        case Fault::ConnectionStalled:
            proxy_->Stall(true);
            hold();
            proxy_->Stall(false);
            break;
        case Fault::ServerRestarted:
            server_->Halt(false);
            hold();
            server_->Resume();
            break;
        case Fault::FavouritesLocked:
        case Fault::FavouritesReadOnly: {
            const std::vector<std::string> before = FavouritesShown();
            if (fault == Fault::FavouritesLocked) {
                LockFavourites();
            } else {
                fs::permissions(FavouritesFile(), fs::perms::owner_write | fs::perms::group_write,
                                fs::perm_options::remove);
                fs::permissions(dir.Path(), fs::perms::owner_write | fs::perms::group_write,
                                fs::perm_options::remove);
            }
            {
                std::optional<WithoutOverrideRightsHere> bound;
                if (fault == Fault::FavouritesReadOnly)
                    bound.emplace();
                const auto added = AddFavourite("T100K");
                if (!added)
                    return added;
                hold();
            }
            UndoFilesystem();
            if (auto told = OneReportTold(FaultName(fault)); !told)
                return told;
            // The row the file refused stays pending with its text (read
            // where it is: moving off it would store it); the file holds
            // what it held.
            const std::string added = "SOAK.T100K";
            auto w = Of(*Form1);
            if (w.qry3.State() != data::TDataSetState::dsInsert ||
                w.qry3.FieldNamed(favourites::kFavouriteColumn).PlainText() != added)
                return ::testing::AssertionFailure() << "the refused row is not pending with its text";
            if (const auto stored = FavouritesStored(); stored != Sorted(before))
                return ::testing::AssertionFailure() << "the file under the failed add holds " << Joined(stored);
            // The next add stores the pending row first (a value was set
            // in it) and then its own: the name twice, as two adds of it
            // would leave it. The removes that undo them work too.
            if (const auto again = AddFavourite("T100K"); !again)
                return again;
            const auto twice = With(With(before, added), added);
            if (!reports.empty() || FavouritesShown() != twice || FavouritesStored() != Sorted(twice))
                return ::testing::AssertionFailure() << "the add after " << FaultName(fault) << " did not work: "
                                                     << Joined(FavouritesShown()) << " shown, "
                                                     << Joined(FavouritesStored()) << " stored";
            if (!RemoveFavourite(added) || !RemoveFavourite(added) || !reports.empty() ||
                FavouritesShown() != before || FavouritesStored() != Sorted(before))
                return ::testing::AssertionFailure() << "the removes after " << FaultName(fault) << " did not work";
            break;
        }
        case Fault::DiskFull:
        case Fault::FolderRemoved: {
            // A few hundred rows to save.
            if (const auto shown = NextClickWorks("T300", 300); !shown)
                return shown;
            std::string folder;
            if (fault == Fault::DiskFull) {
                folder = FullFolder();
            } else {
                folder = exportDir_ + "/gone";
                fs::create_directories(folder);
                fs::remove_all(folder);
            }
            const std::vector<std::string> present = Entries(folder);
            const std::string target = folder + "/saved" + std::to_string(holdMs % 3) +
                                       (holdMs % 3 == 0 ? ".xls" : holdMs % 3 == 1 ? ".xlsx" : ".csv");
            if (!Save(target))
                return ::testing::AssertionFailure() << "the export never ended";
            hold();
            if (auto told = OneReportTold(FaultName(fault)); !told)
                return told;
            if (Entries(folder) != present)
                return ::testing::AssertionFailure() << "the failed export left a file in " << folder;
            if (fault == Fault::DiskFull)
                FreeFullFolder();
            else
                fs::create_directories(folder);
            if (!Save(target) || !reports.empty() || !fs::exists(target) || fs::file_size(target) < 300)
                return ::testing::AssertionFailure()
                       << "the export after " << FaultName(fault) << " did not work: "
                       << (reports.empty() ? std::string("no report") : reports[0].text.toStdString()) << ", "
                       << (fs::exists(target) ? "a file of " + std::to_string(fs::file_size(target)) : "no file");
            UndoFilesystem();
            fs::remove(target);
            break;
        }
        }
        if (auto answers = Answers(); !answers)
            return answers;
        if (!reports.empty()) {
            const std::string text = reports[0].text.toStdString();
            reports.clear();
            return ::testing::AssertionFailure() << FaultName(fault) << " was reported: " << text;
        }
        // The rows the fault fell on end one way or another, and the state
        // line says how.
        if (!WaitForRows())
            return ::testing::AssertionFailure() << "the viewed rows hang after " << FaultName(fault);
        if (auto told = StatusTellsTheRows(); !told)
            return told;
        if (!WaitForServer())
            return ::testing::AssertionFailure() << "the server did not come back";
        if (auto next = NextClickWorks(); !next)
            return next << " (after " << FaultName(fault) << ")";
        return ::testing::AssertionSuccess();
    }

    int lane_;
    long bigRows_;
    std::unique_ptr<PrivateServer> server_;
    std::unique_ptr<TcpProxy> proxy_;
    std::string exportDir_;
    std::FILE* locker_ = nullptr;
    std::string mounted_;
};

} // namespace querlin::test
