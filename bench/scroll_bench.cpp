// Cost of following the record set: a one-record move past the bottom of
// the window (the notification, the pixel shift and painting the uncovered
// row) on a short and a huge record set, against a full repaint, and the
// rate of held-down Down presses.
//
//   scroll_step_1k_us, scroll_step_1m_us  time per step over 1,000 / 1,000,000 rows
//   scroll_step_ratio                     1m / 1k (target <= 1.1)
//   full_repaint_1m_us                    time per full repaint of the same grid
//   scroll_step_vs_full_repaint           step / full repaint (target <= 0.25)
//   key_repeat_rows_per_s                 records per second by repeated Down
//                                         presses, each followed by its paint
//
// Each paint goes through the event loop into the window's backing store,
// as on screen, with the red/blue draw hook the browser window uses.

#include "GridBenchSupport.h"

#include <QKeyEvent>

#include <algorithm>
#include <cstdlib>

using namespace querlin;
using Clock = std::chrono::steady_clock;

namespace {

class ScrollGrid {
public:
    ScrollGrid(const std::string& connection, const std::string& table)
    {
        source_.SetDataSet(&query_);
        query_.SetConnectionString(connection);
        grid_.SetReadOnly(true);
        grid_.SetDataSource(&source_);
        grid_.OnDrawColumnCell = [this](grid::TCustomDataGrid* Sender, const QRect& Rect, int,
                                        grid::TGridColumn* Column, grid::TGridDrawState State) {
            Sender->Canvas().Font.Color = query_.RecordNumber() % 2 != 0 ? 255 : 0xFF0000;
            Sender->DrawFieldText(Rect, Column->Field(), State);
        };
        query_.SetSQL("SELECT * FROM " + table);
        query_.Open();
        grid_.resize(400, 300);
        grid_.show();
        bench::SizeToWindow(grid_);
        grid_.activateWindow();
        grid_.setFocus();
        Flush();
    }

    // Puts the current record on the window's bottom row, some records in.
    void StartAt(int record)
    {
        query_.SetRecordNumber(record);
        query_.MoveRows(-(grid_.DataLink().ActiveRecord()));
        query_.MoveRows(grid_.RowWindowSize() - 1);
        Flush();
    }

    double StepMicros(int steps)
    {
        auto start = Clock::now();
        for (int i = 0; i < steps; ++i) {
            query_.MoveNext();
            Flush();
        }
        return Micros(start) / steps;
    }

    double FullRepaintMicros(int rounds)
    {
        auto start = Clock::now();
        for (int i = 0; i < rounds; ++i) {
            grid_.viewport()->update();
            Flush();
        }
        return Micros(start) / rounds;
    }

    double KeyRepeatRowsPerSecond(int presses)
    {
        int before = query_.RecordNumber();
        QKeyEvent first(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier, QString(), false);
        QApplication::sendEvent(&grid_, &first);
        Flush();
        auto start = Clock::now();
        for (int i = 1; i < presses; ++i) {
            QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier, QString(), true);
            QApplication::sendEvent(&grid_, &repeat);
            Flush();
        }
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Down, Qt::NoModifier, QString(), false);
        QApplication::sendEvent(&grid_, &release);
        return double(query_.RecordNumber() - before - 1) / seconds;
    }

private:
    static void Flush() { QApplication::processEvents(); }
    static double Micros(Clock::time_point start)
    {
        return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    }

    data::TADOQuery query_{"qryBench"};
    data::TDataSource source_;
    grid::TDataGrid grid_;
};

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    int status = 0;
    try {
        bench::BenchStore store;
        bench::MakeNumbersTable(store.Connection(), "small", 1000);
        bench::MakeNumbersTable(store.Connection(), "huge", 1000000);
        ScrollGrid small(store.Connection(), "small");
        ScrollGrid huge(store.Connection(), "huge");
        constexpr int kSteps = 200;
        // Best of several alternating runs, so both sets see the same noise
        // of a shared machine; each run starts where kSteps steps fit.
        double smallStep = 1e30, hugeStep = 1e30, hugeFull = 1e30;
        for (int run = 0; run < 5; ++run) {
            small.StartAt(100);
            huge.StartAt(500000);
            smallStep = std::min(smallStep, small.StepMicros(kSteps));
            hugeStep = std::min(hugeStep, huge.StepMicros(kSteps));
            hugeFull = std::min(hugeFull, huge.FullRepaintMicros(50));
        }
        huge.StartAt(200000);
        double rowsPerSecond = huge.KeyRepeatRowsPerSecond(2000);
        std::printf("scroll_step_1k_us: %.1f\n", smallStep);
        std::printf("scroll_step_1m_us: %.1f\n", hugeStep);
        std::printf("scroll_step_ratio: %.3f\n", hugeStep / smallStep);
        std::printf("full_repaint_1m_us: %.1f\n", hugeFull);
        std::printf("scroll_step_vs_full_repaint: %.3f\n", hugeStep / hugeFull);
        std::printf("key_repeat_rows_per_s: %.0f\n", rowsPerSecond);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "scroll_bench: %s\n", e.what());
        status = 1;
    }
    return status;
}
