// A click on a 1,000,000-row table in the browser window, until the data
// grid has painted, against opening the same record set alone: the grid and
// the window must add nothing that grows with the rows.
//
// Figures:
//   browse_open_seconds   best of the rounds: the click handler (close,
//                         SQL, open, caption) and the data grid's paint
//   bare_open_seconds     best of the rounds: the record set's Open alone
//   browse_open_ratio     browse_open_seconds / bare_open_seconds (target <= 1.1)
//
// The table is the open benchmark's (qlbench.open1m, made if missing).
#include "BenchSupport.h"
#include "BrowserBenchSupport.h"

#include "windows/Unit1.h"
#include "windows/TestAccess.h"
#include "data/DataSet.h"
#include "data/Provider.h"
#include "windows/BrowserSql.h"

#include <QApplication>
#include <QGroupBox>

#include <iostream>
#include <string>

using namespace querlin;
using namespace querlin::bench;

namespace {

constexpr int kRounds = 3;


} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    try {
        const BenchDatabase& db = RequireBenchDatabase();
        EnsureOpenTable();
        TForm1 window;
        OfferTables(window, "SELECT 'OPEN1M' AS 用户表");
        QApplication::processEvents();

        double bestBrowse = 1e9, bestBare = 1e9;
        for (int round = 0; round < kRounds; ++round) {
            double start = NowSeconds();
            test::Of(window).dbgrd2CellClick(nullptr);
            test::Of(window).dbgrd4->viewport()->repaint();
            const double browse = NowSeconds() - start;
            if (test::Of(window).qry4.RecordCount() != kOpenTableRows) {
                std::cerr << "browse_bench: the click showed " << test::Of(window).qry4.RecordCount() << " rows\n";
                return 1;
            }
            test::Of(window).qry4.Close();

            start = NowSeconds();
            data::TADOQuery bare("qry4");
            bare.SetConnectionString(db.AdoConnectionString());
            bare.SetSQL(browser::RowsSql("QLBENCH.OPEN1M"));
            bare.Open();
            const double alone = NowSeconds() - start;
            bare.Close();
            std::cerr << "round " << round + 1 << ": click " << browse << " s, open alone " << alone << " s\n";
            bestBrowse = std::min(bestBrowse, browse);
            bestBare = std::min(bestBare, alone);
        }
        Figure("browse_open_seconds", bestBrowse);
        Figure("bare_open_seconds", bestBare);
        Figure("browse_open_ratio", bestBrowse / bestBare);
    } catch (const std::exception& e) {
        std::cerr << "browse_bench: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
