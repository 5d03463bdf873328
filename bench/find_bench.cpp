// Cost of the find dialog's search against the plainest loop that does the
// same comparisons.
//
//   find_ratio        a search with no match over all columns of a
//                     1,000,000-row x 6-column record set, as Find next runs
//                     it on a grid (locate text), / a plain loop over the same
//                     snapshot comparing the same cell texts with the same
//                     case rule (target <= 3)
//   find_rows_per_s   records the search passes per second
//
// The record set lives in a local store made for the run and is shown by a
// grid, as in the browser window; the search compares display texts without
// regard to letter case, from any part of the field.

#include "data/DataSet.h"
#include "data/Provider.h"
#include "data/RecordScan.h"
#include "grid/GridLocate.h"
#include "grid/TDataGrid.h"
#include "platform/LetterCase.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>

using namespace querlin;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRows = 1000000;
const char* const kSearchText = "no such text";

void Execute(const std::string& connection, const std::string& sql)
{
    data::TADOQuery query("qryBench");
    query.SetConnectionString(connection);
    query.SetSQL(sql);
    query.Execute();
}

// Six columns as a table of the browser shows them: numbers and short texts.
void MakeTable(const std::string& connection)
{
    Execute(connection, "CREATE TABLE big (id INTEGER, name VARCHAR(30), city VARCHAR(30), "
                        "amount INTEGER, code VARCHAR(12), note VARCHAR(40))");
    Execute(connection, "INSERT INTO big WITH RECURSIVE s(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM s "
                        "WHERE x < " + std::to_string(kRows) + ") SELECT x, 'Name ' || x, "
                        "'City ' || (x % 997), x * 7 + 3, 'C' || (x % 10007), "
                        "'a note for row ' || x || ' of the set' FROM s");
}

double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The baseline: every cell of every row, its display text in capitals,
// searched for the capitals of the search text.
double PlainLoop(data::TADOQuery& query, int& matches)
{
    const platform::LetterCase& rules = platform::LetterCase::User();
    std::string needleBuffer, scratch, upper;
    const std::string needle(rules.ToUpper(kSearchText, needleBuffer));
    const int fields = query.FieldCount();
    auto start = Clock::now();
    data::TRecordScan scan(query);
    data::TRecordScan::Row row = scan.First();
    matches = 0;
    if (row.Valid()) {
        do {
            for (int f = 0; f < fields; ++f) {
                std::string_view text = rules.ToUpper(scan.Text(f, row, true, scratch), upper);
                matches += text.find(needle) != std::string_view::npos;
            }
        } while (scan.Next(row));
    }
    return Seconds(start);
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    std::string folder = (std::filesystem::temp_directory_path() /
                          ("querlin-find-bench-" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(folder);
    std::string connection = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + folder + "/bench.mdb;";
    int status = 0;
    try {
        data::CreateLocalStore(connection);
        MakeTable(connection);

        data::TADOQuery query("qryBench");
        data::TDataSource source;
        source.SetDataSet(&query);
        query.SetConnectionString(connection);
        query.SetSQL("SELECT * FROM big");
        grid::TDataGrid grid;
        grid.SetReadOnly(true);
        grid.SetDataSource(&source);
        auto opened = Clock::now();
        query.Open();
        std::fprintf(stderr, "big opened in %.0f ms\n", Seconds(opened) * 1000);
        grid.resize(800, 600);
        grid.show();
        QApplication::processEvents();
        query.SetRecordNumber(kRows / 2);
        if (grid.VisibleColumns().size() != 6 || query.RecordCount() != kRows)
            throw std::runtime_error("the grid does not show the 6 x 1,000,000 set");

        grid::TLocateRequest request;
        request.Text = kSearchText;
        request.Options.CaseInsensitive = true;
        request.Options.AllColumns = true;
        request.Options.MatchFormat = true;
        request.Direction = grid::TLocateDirection::All;
        request.Matching = grid::TLocateMatching::AnyPart;

        // Best of several alternating runs: both see the same noise of a
        // shared machine.
        double search = 1e30, plain = 1e30;
        int matches = 0;
        for (int run = 0; run < 5; ++run) {
            auto start = Clock::now();
            if (grid::LocateText(grid, request))
                throw std::runtime_error("the search found a text that is not there");
            search = std::min(search, Seconds(start));
            plain = std::min(plain, PlainLoop(query, matches));
            if (matches != 0)
                throw std::runtime_error("the plain loop found a text that is not there");
        }
        if (query.RecordNumber() != kRows / 2)
            throw std::runtime_error("a search that found nothing moved the record set");
        std::fprintf(stderr, "search %.1f ms, plain loop %.1f ms\n", search * 1000, plain * 1000);
        std::printf("find_ratio: %.3f\n", search / plain);
        std::printf("find_rows_per_s: %.0f\n", kRows / search);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "find_bench: %s\n", e.what());
        status = 1;
    }
    std::filesystem::remove_all(folder);
    return status;
}
