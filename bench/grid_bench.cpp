// Painting cost of a full grid window (40 rows x 20 columns) over a short
// and a huge record set, and of a one-row repaint against a full repaint.
//
//   paint_1k_us, paint_1m_us   time per full paint over 1,000 / 1,000,000 rows
//   paint_scale_ratio          paint_1m_us / paint_1k_us (target <= 1.1)
//   row_repaint_us             time per repaint of one data row
//   row_repaint_ratio          row_repaint_us / paint_1m_us
//   paint_10m_cell_us          time per full paint of a 400 x 300 grid over
//                              rows of long texts, one ten million characters
//   paint_10m_cell_ratio       paint_10m_cell_us / the same paint with that
//                              cell holding 3,000 characters (target <= 1.5:
//                              only what shows is laid out)
//
// The record sets live in a local store made for the run; each paint goes
// through the grid's painter into an image, with the red/blue draw hook the
// browser window uses.

#include "GridBenchSupport.h"

#include <QImage>
#include <QPainter>

#include <algorithm>

using namespace querlin;
using Clock = std::chrono::steady_clock;

namespace {

// One grid over one table, sized to show exactly the window.
class BenchGrid {
public:
    // Sized to the 40 x 20 window, or left at 400 x 300 pixels.
    BenchGrid(const std::string& connection, const std::string& table, int current, bool window = true)
    {
        source_.SetDataSet(&query_);
        query_.SetConnectionString(connection);
        grid_.SetDataSource(&source_);
        grid_.OnDrawColumnCell = [this](grid::TCustomDataGrid* Sender, const QRect& Rect, int,
                                        grid::TGridColumn* Column, grid::TGridDrawState State) {
            Sender->Canvas().Font.Color = query_.RecordNumber() % 2 != 0 ? 255 : 0xFF0000;
            Sender->DrawFieldText(Rect, Column->Field(), State);
        };
        query_.SetSQL("SELECT * FROM " + table);
        auto opened = Clock::now();
        query_.Open();
        std::fprintf(stderr, "%s opened in %.0f ms\n", table.c_str(),
                     std::chrono::duration<double, std::milli>(Clock::now() - opened).count());
        query_.SetRecordNumber(current);

        // A client area of exactly the window: 40 rows under the title, 20 columns.
        grid_.resize(400, 300);
        grid_.show();
        if (window)
            bench::SizeToWindow(grid_);
        int pitch = grid_.DataRowHeight() + 1;

        image_ = QImage(grid_.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
        full_ = QRegion(image_.rect());
        row_ = QRegion(0, grid_.cellRect(1, 20).top(), image_.width(), pitch);
    }

    double FullMicros(int rounds) { return Time(full_, rounds); }
    double RowMicros(int rounds) { return Time(row_, rounds); }

private:
    double Time(const QRegion& region, int rounds)
    {
        QPainter painter(&image_);
        grid_.PaintGrid(painter, region);  // warm-up
        auto start = Clock::now();
        for (int i = 0; i < rounds; ++i)
            grid_.PaintGrid(painter, region);
        return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / rounds;
    }

    data::TADOQuery query_{"qryBench"};
    data::TDataSource source_;
    grid::TDataGrid grid_;
    QImage image_;
    QRegion full_, row_;
};

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    int status = 0;
    try {
        bench::BenchStore store;
        const std::string& connection = store.Connection();
        bench::MakeNumbersTable(connection, "small", 1000);
        bench::MakeNumbersTable(connection, "huge", 1000000);
        // 40 rows of 3,000 characters; in "longcell" row 5, in view, has ten
        // million.
        const std::string digits = "replace(hex(zeroblob(524288)), '0', '0123456789')";
        for (const char* table : {"shortcell", "longcell"}) {
            bench::ExecuteSql(connection, std::string("CREATE TABLE ") + table + " (id INTEGER, v VARCHAR(255))");
            bench::ExecuteSql(connection, std::string("INSERT INTO ") + table +
                                              " WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
                                              "WHERE x < 40) SELECT x, substr(" + digits + ", 1, 3000) FROM c");
        }
        bench::ExecuteSql(connection, "UPDATE longcell SET v = " + digits + " WHERE id = 5");
        BenchGrid shortCell(connection, "shortcell", 1, false);
        BenchGrid longCell(connection, "longcell", 1, false);
        BenchGrid small(connection, "small", 500);
        BenchGrid huge(connection, "huge", 500000);
        // Best of several alternating runs: both sets see the same noise of a
        // shared machine.
        double smallFull = 1e30, hugeFull = 1e30, hugeRow = 1e30;
        for (int run = 0; run < 7; ++run) {
            smallFull = std::min(smallFull, small.FullMicros(10));
            hugeFull = std::min(hugeFull, huge.FullMicros(10));
            hugeRow = std::min(hugeRow, huge.RowMicros(100));
        }
        double shortFull = 1e30, longFull = 1e30;
        for (int run = 0; run < 5; ++run) {
            shortFull = std::min(shortFull, shortCell.FullMicros(5));
            longFull = std::min(longFull, longCell.FullMicros(5));
        }
        std::printf("paint_1k_us: %.1f\n", smallFull);
        std::printf("paint_1m_us: %.1f\n", hugeFull);
        std::printf("paint_scale_ratio: %.3f\n", hugeFull / smallFull);
        std::printf("row_repaint_us: %.1f\n", hugeRow);
        std::printf("row_repaint_ratio: %.3f\n", hugeRow / hugeFull);
        std::printf("paint_10m_cell_us: %.1f\n", longFull);
        std::printf("paint_10m_cell_ratio: %.3f\n", longFull / shortFull);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "grid_bench: %s\n", e.what());
        status = 1;
    }
    return status;
}
