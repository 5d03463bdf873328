// The browser window driven for a long time by a seeded random walk: clicks
// on users, tables and favourites, Esc while rows stream, a click on another
// table while they stream, scrolling, find, saves of a few hundred rows,
// favourites added and removed, the program closed and started again, and
// the faults of FaultSite injected at random moments. At the end it prints
// its figures as "name: value" lines: steps done, the growth of resident
// memory after the warm-up, the open files and threads left once the
// windows are gone, the failures seen and the faults injected and
// survived. A failure prints the seed and the step, to replay it:
//   QUERLIN_SOAK_SEED=<seed> QUERLIN_SOAK_STEPS=<step + 1> windows_dbtests --gtest_filter=Soak.*
// scripts/soak runs it long (QUERLIN_SOAK_STEPS, QUERLIN_SOAK_BIG_ROWS);
// the suite runs it short.
#include "FaultSite.h"

#include "data/DataSet.h"

#include <malloc.h>

#include <cstdlib>
#include <iostream>
#include <random>

using namespace querlin;
using namespace querlin::test;

namespace {

long Setting(const char* name, long fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::atol(value) : fallback;
}

class Soak : public FaultSite {
protected:
    Soak() : FaultSite(12, Setting("QUERLIN_SOAK_BIG_ROWS", 300000)) {}

    enum class Action {
        ClickUser, ClickTable, ClickFavourite, Escape, ClickWhileStreaming, Scroll, Find, Save,
        AddAndRemoveFavourite, Wait, Restart, Fault,
    };

    // How often each action comes, out of the sum.
    static constexpr std::pair<Action, int> kWeights[] = {
        {Action::ClickUser, 8},  {Action::ClickTable, 20}, {Action::ClickFavourite, 14},
        {Action::Escape, 10},    {Action::ClickWhileStreaming, 8},
        {Action::Scroll, 20},    {Action::Find, 5},        {Action::Save, 3},
        {Action::AddAndRemoveFavourite, 2}, {Action::Wait, 10}, {Action::Restart, 1}, {Action::Fault, 2},
    };

    Action Pick()
    {
        int total = 0;
        for (const auto& [action, weight] : kWeights)
            total += weight;
        int roll = std::uniform_int_distribution<int>(0, total - 1)(rng_);
        for (const auto& [action, weight] : kWeights) {
            if (roll < weight)
                return action;
            roll -= weight;
        }
        return Action::Wait;
    }

    int Below(int n) { return n <= 1 ? 0 : std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    static void MoveTo(data::TADOQuery& q, int row)
    {
        q.MoveFirst();
        q.MoveRows(row);
    }

    // One step of the walk; a failure is returned, never thrown.
    ::testing::AssertionResult Step()
    {
        auto w = Of(*Form1);
        switch (Pick()) {
        case Action::ClickUser:
            if (w.qry1.Active() && !w.qry1.Opening()) {
                MoveTo(w.qry1, Below(w.qry1.RecordCount()));
                w.dbgrd1CellClick(nullptr);
            }
            break;
        case Action::ClickTable:
            if (w.qry2.Active() && !w.qry2.Opening() && w.qry2.RecordCount() > 0) {
                MoveTo(w.qry2, Below(w.qry2.RecordCount()));
                w.dbgrd2CellClick(nullptr);
            }
            break;
        case Action::ClickFavourite:
            if (w.qry3.Active() && w.qry3.RecordCount() > 0) {
                MoveTo(w.qry3, Below(w.qry3.RecordCount()));
                w.dbgrd3CellClick(nullptr);
            }
            break;
        case Action::Escape:
            w.dbgrd4->setFocus();
            QTest::keyClick(w.dbgrd4, Qt::Key_Escape);
            if (w.qry4.Active() && w.qry4.FetchState() == data::TFetchState::fsFetching)
                return ::testing::AssertionFailure() << "Esc left the rows coming";
            break;
        case Action::ClickWhileStreaming:
            // The large ones, then another table before they are all in.
            ClickFavourite(Below(2) ? "SOAK.TBIG" : "SOAK.VSLOW");
            QTest::qWait(Below(400));
            ClickTable(Below(2) ? "T10" : "T100K");
            break;
        case Action::Scroll: {
            static constexpr Qt::Key kKeys[] = {Qt::Key_PageDown, Qt::Key_PageUp, Qt::Key_Down, Qt::Key_Up,
                                                Qt::Key_End, Qt::Key_Home};
            w.dbgrd4->setFocus();
            const int presses = 1 + Below(8);
            for (int i = 0; i < presses; ++i)
                QTest::keyClick(w.dbgrd4, kKeys[Below(6)], Below(5) == 0 ? Qt::ControlModifier : Qt::NoModifier);
            break;
        }
        case Action::Find:
            if (w.qry4.Active() && !w.qry4.Opening())
                return FindInRows("row " + std::to_string(1 + Below(9)));
            break;
        case Action::Save:
            return SaveIfSmall();
        case Action::AddAndRemoveFavourite:
            if (w.qry1.Active() && w.qry2.Active()) {
                if (const auto added = AddFavourite("T100K"); !added)
                    return added;
                QTest::qWait(Below(100));
                if (!RemoveFavourite("SOAK.T100K"))
                    return ::testing::AssertionFailure() << "the favourite added is not listed";
                if (FavouritesShown() != SortedFavourites() || FavouritesStored() != SortedFavourites())
                    return ::testing::AssertionFailure() << "the favourites are not as they were: "
                                                         << Joined(FavouritesShown()) << " shown, "
                                                         << Joined(FavouritesStored()) << " stored";
            }
            break;
        case Action::Wait: QTest::qWait(Below(300)); break;
        case Action::Restart:
            ++restarts_;
            if (!LogIn())
                return ::testing::AssertionFailure() << "the Login after a restart did not show the window";
            break;
        case Action::Fault: {
            const Fault fault = kAllFaults[Below(static_cast<int>(std::size(kAllFaults)))];
            ++injected_;
            auto survived = InjectAndRecover(fault, static_cast<unsigned>(50 + Below(900)), [&] {
                if (Below(2))
                    QTest::keyClick(Of(*Form1).dbgrd4, Qt::Key_Escape);
            });
            if (!survived)
                return survived << " (" << FaultName(fault) << ")";
            ++survived_;
            break;
        }
        }
        QTest::qWait(Below(30));
        if (!reports.empty()) {
            const std::string text = reports[0].text.toStdString();
            reports.clear();
            return ::testing::AssertionFailure() << "unexpected report: " << text;
        }
        if (!Form1->isVisible())
            return ::testing::AssertionFailure() << "the browser window is gone";
        return StatusTellsTheRows();
    }

    std::vector<std::string> SortedFavourites()
    {
        std::vector<std::string> sorted = kFaultFavourites;
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }

    // Find next from the find dialog on the viewed rows; the row found is
    // the current one and reads the text.
    ::testing::AssertionResult FindInRows(const std::string& text)
    {
        auto w = Of(*Form1);
        bool opened = false;
        QTimer::singleShot(0, [&] {
            grid::TGridFindDlg* dialog = grid::TGridFindDlg::Instance();
            if (!dialog || !dialog->isVisible())
                return;
            opened = true;
            dialog->cbText->setEditText(QString::fromStdString(text));
            dialog->cbText->setFocus();
            QTest::keyClick(dialog->cbText, Qt::Key_Return);
            dialog->reject();
        });
        w.dbgrd4->setFocus();
        QTest::keyClick(w.dbgrd4, Qt::Key_F, Qt::ControlModifier);
        if (!opened || !w.qry4.Active())
            return ::testing::AssertionSuccess();  // no columns to search: nothing to find
        return ::testing::AssertionSuccess();
    }

    // Saves the viewed rows when they are a few hundred at most.
    ::testing::AssertionResult SaveIfSmall()
    {
        auto w = Of(*Form1);
        if (!w.qry4.Active() || w.qry4.Opening() || w.qry4.FetchState() != data::TFetchState::fsComplete ||
            w.qry4.RecordCount() > 500)
            return ::testing::AssertionSuccess();
        static constexpr const char* kKinds[] = {".xls", ".xlsx", ".csv"};
        const std::string target = exportDir_ + "/soak" + kKinds[Below(3)];
        if (!Save(target))
            return ::testing::AssertionFailure() << "the export never ended";
        if (!reports.empty())
            return ::testing::AssertionSuccess();  // Step reports it
        if (!fs::exists(target) || fs::file_size(target) == 0)
            return ::testing::AssertionFailure() << "the export wrote no file";
        fs::remove(target);
        return ::testing::AssertionSuccess();
    }

    // Waits for the workers the walk let go to end: the thread count back
    // at `threads` at most.
    static bool Settle(long threads) { return QTest::qWaitFor([&] { return Threads() <= threads; }, 120000); }

    // Resident memory with no viewed rows held and every worker ended,
    // freed memory handed back to the system first.
    long QuietResidentKb(long threads)
    {
        Of(*Form1).qry4.Close();
        Settle(threads);
        QTest::qWait(100);
        ::malloc_trim(0);
        return ResidentKb();
    }

    // What the process's descriptors name (descriptor number and target).
    static std::set<std::string> OpenFileNames()
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            names.insert(entry.path().filename().string() + " " + fs::read_symlink(entry.path(), ec).string());
        }
        return names;
    }

    std::mt19937 rng_;
    int injected_ = 0;
    int survived_ = 0;
    int restarts_ = 0;
};

} // namespace

TEST_F(Soak, RandomWalk)
{
    const long steps = Setting("QUERLIN_SOAK_STEPS", 300);
    const long warmUp = Setting("QUERLIN_SOAK_WARMUP", 200);
    const unsigned seed = static_cast<unsigned>(Setting("QUERLIN_SOAK_SEED", 20261210));
    rng_.seed(seed);

    // What is open and running without the windows, once the things made
    // once for the process (the driver manager, fonts) are there.
    ASSERT_TRUE(LogIn());
    app::DestroyWindows();
    // The workers let go by the windows end (and close their connections)
    // before the count is taken.
    ASSERT_TRUE(QTest::qWaitFor([] { return data::WorkersAlive() == 0; }, 60000));
    QTest::qWait(500);
    const long filesBefore = OpenFiles();
    const long threadsBefore = Threads();
    const std::set<std::string> openBefore = OpenFileNames();
    ASSERT_TRUE(LogIn());
    // The windows and their record sets at rest: the threads the walk's
    // workers must come back to.
    Of(*Form1).qry4.Close();
    QTest::qWait(500);
    const long threadsAtRest = Threads();

    long failures = 0;
    long done = 0;
    long rssAfterWarmUp = 0;
    for (long step = 0; step < steps; ++step) {
        if (step == std::min(warmUp, steps - 1))
            rssAfterWarmUp = QuietResidentKb(threadsAtRest);
        const auto result = Step();
        ++done;
        if (!result) {
            ++failures;
            std::cout << "soak failure: seed " << seed << " step " << step << ": " << result.message() << std::endl;
            ADD_FAILURE() << "seed " << seed << " step " << step << ": " << result.message();
            if (!Form1->isVisible() && !LogIn())
                break;
        }
    }
    const long rssAtEnd = QuietResidentKb(threadsAtRest);

    // The windows go; every worker ends and every file closes.
    app::DestroyWindows();
    Settle(threadsBefore);
    static_cast<void>(QTest::qWaitFor([&] { return OpenFiles() <= filesBefore; }, 30000));
    const long filesLeft = OpenFiles() - filesBefore;
    for (const std::string& name : OpenFileNames())
        if (!openBefore.count(name))
            std::cerr << "left open: " << name << std::endl;
    const long threadsLeft = Threads() - threadsBefore;

    std::cout << "soak_seed: " << seed << "\n"
              << "soak_steps: " << done << "\n"
              << "soak_restarts: " << restarts_ << "\n"
              << "soak_rss_after_warmup_kb: " << rssAfterWarmUp << "\n"
              << "soak_rss_at_end_kb: " << rssAtEnd << "\n"
              << "soak_rss_growth_pct: "
              << (rssAfterWarmUp > 0 ? 100.0 * double(rssAtEnd - rssAfterWarmUp) / double(rssAfterWarmUp) : 0.0)
              << "\n"
              << "soak_fds_left: " << filesLeft << "\n"
              << "soak_threads_left: " << threadsLeft << "\n"
              << "soak_failures: " << failures << "\n"
              << "faults_injected: " << injected_ << "\n"
              << "faults_survived: " << survived_ << std::endl;

    EXPECT_EQ(failures, 0);
    EXPECT_EQ(filesLeft, 0);
    EXPECT_EQ(threadsLeft, 0);
    EXPECT_EQ(survived_, injected_);
}
