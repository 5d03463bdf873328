// Painting cost of a full grid window (40 rows x 20 columns) over a short
// and a huge record set, and of a one-row repaint against a full repaint.
//
//   paint_1k_us, paint_1m_us   time per full paint over 1,000 / 1,000,000 rows
//   paint_scale_ratio          paint_1m_us / paint_1k_us (target <= 1.1)
//   row_repaint_us             time per repaint of one data row
//   row_repaint_ratio          row_repaint_us / paint_1m_us
//
// The record sets live in a local store made for the run; each paint goes
// through the grid's painter into an image, with the red/blue draw hook the
// browser window uses.

#include "data/DataSet.h"
#include "data/Provider.h"
#include "grid/TDataGrid.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace querlin;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kColumns = 20;
constexpr int kWindowRows = 40;

void Execute(const std::string& connection, const std::string& sql)
{
    data::TADOQuery query("qryBench");
    query.SetConnectionString(connection);
    query.SetSQL(sql);
    query.Execute();
}

void MakeTable(const std::string& connection, const std::string& table, int rows)
{
    std::string columns, values;
    for (int c = 0; c < kColumns; ++c) {
        columns += (c ? ", c" : "c") + std::to_string(c) + " INTEGER";
        values += (c ? ", x * " : "x * ") + std::to_string(c + 1);
    }
    Execute(connection, "CREATE TABLE " + table + " (" + columns + ")");
    Execute(connection, "INSERT INTO " + table + " WITH RECURSIVE s(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM s "
                        "WHERE x < " + std::to_string(rows) + ") SELECT " + values + " FROM s");
}

struct Measured {
    double fullMicros;
    double rowMicros;
};

Measured Measure(const std::string& connection, const std::string& table, int current)
{
    data::TADOQuery query("qryBench");
    data::TDataSource source;
    source.SetDataSet(&query);
    query.SetConnectionString(connection);
    grid::TDataGrid grid;
    grid.SetDataSource(&source);
    grid.OnDrawColumnCell = [&query](grid::TCustomDataGrid* Sender, const QRect& Rect, int,
                                     grid::TGridColumn* Column, grid::TGridDrawState State) {
        Sender->Canvas().Font.Color = query.RecordNumber() % 2 != 0 ? 255 : 0xFF0000;
        Sender->DrawFieldText(Rect, Column->Field(), State);
    };
    query.SetSQL("SELECT * FROM " + table);
    auto opened = Clock::now();
    query.Open();
    std::fprintf(stderr, "%s opened in %.0f ms\n", table.c_str(),
                 std::chrono::duration<double, std::milli>(Clock::now() - opened).count());
    query.SetRecordNumber(current);

    // A client area of exactly the window: 40 rows under the title and 20 columns.
    grid.resize(400, 300);
    grid.show();
    int pitch = grid.DataRowHeight() + 1;
    int width = 0;
    for (int c = 0; c < grid.ColCount(); ++c)
        width += grid.ColWidths(c) + 1;
    int height = grid.TitleRowHeight() + 1 + kWindowRows * pitch;
    QSize frame = grid.size() - grid.viewport()->size();
    grid.resize(QSize(width, height) + frame + QSize(40, 40));  // room for the bars
    QApplication::processEvents();
    QSize extra = grid.viewport()->size() - QSize(width, height);
    grid.resize(grid.size() - extra);
    QApplication::processEvents();
    if (grid.RowWindowSize() != kWindowRows || grid.Geometry().LastFullyVisibleCol() != kColumns) {
        std::fprintf(stderr, "grid window is %d rows, last column %d\n", grid.RowWindowSize(),
                     grid.Geometry().LastFullyVisibleCol());
        std::exit(1);
    }

    QImage image(grid.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    QRegion full(image.rect());
    QRect rowRect = grid.cellRect(1, 20);
    QRegion row(0, rowRect.top(), image.width(), pitch);
    auto time = [&](const QRegion& region, int rounds) {
        QPainter painter(&image);
        grid.PaintGrid(painter, region);  // warm-up
        auto start = Clock::now();
        for (int i = 0; i < rounds; ++i)
            grid.PaintGrid(painter, region);
        return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / rounds;
    };
    // Best of a few runs, to keep out the noise of a shared machine.
    Measured best{1e30, 1e30};
    for (int run = 0; run < 5; ++run) {
        best.fullMicros = std::min(best.fullMicros, time(full, 20));
        best.rowMicros = std::min(best.rowMicros, time(row, 200));
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    std::string folder = (std::filesystem::temp_directory_path() /
                          ("querlin-grid-bench-" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(folder);
    std::string connection = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + folder + "/bench.mdb;";
    int status = 0;
    try {
        data::CreateLocalStore(connection);
        MakeTable(connection, "small", 1000);
        MakeTable(connection, "huge", 1000000);
        Measured small = Measure(connection, "small", 500);
        Measured huge = Measure(connection, "huge", 500000);
        std::printf("paint_1k_us: %.1f\n", small.fullMicros);
        std::printf("paint_1m_us: %.1f\n", huge.fullMicros);
        std::printf("paint_scale_ratio: %.3f\n", huge.fullMicros / small.fullMicros);
        std::printf("row_repaint_us: %.1f\n", huge.rowMicros);
        std::printf("row_repaint_ratio: %.3f\n", huge.rowMicros / huge.fullMicros);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "grid_bench: %s\n", e.what());
        status = 1;
    }
    std::filesystem::remove_all(folder);
    return status;
}
