#pragma once
// What the grid benchmarks share: a local store made for the run with
// tables of numbers, and a grid over one of them sized to show exactly a
// window of rows and columns.

#include "data/DataSet.h"
#include "data/Provider.h"
#include "grid/TDataGrid.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace querlin::bench {

constexpr int kGridColumns = 20;
constexpr int kGridWindowRows = 40;

inline void ExecuteSql(const std::string& connection, const std::string& sql)
{
    data::TADOQuery query("qryBench");
    query.SetConnectionString(connection);
    query.SetSQL(sql);
    query.Execute();
}

// A table of kGridColumns integer columns. The values repeat every 1,000
// rows, so every window shows the same texts and only the record count
// differs between tables.
inline void MakeNumbersTable(const std::string& connection, const std::string& table, int rows)
{
    std::string columns, values;
    for (int c = 0; c < kGridColumns; ++c) {
        columns += (c ? ", c" : "c") + std::to_string(c) + " INTEGER";
        values += (c ? ", (x % 1000) * " : "(x % 1000) * ") + std::to_string(c + 1);
    }
    ExecuteSql(connection, "CREATE TABLE " + table + " (" + columns + ")");
    ExecuteSql(connection, "INSERT INTO " + table +
                               " WITH RECURSIVE s(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM s "
                               "WHERE x < " + std::to_string(rows) + ") SELECT " + values + " FROM s");
}

// A local store in a fresh temporary folder, removed at the end.
class BenchStore {
public:
    BenchStore()
        : folder_((std::filesystem::temp_directory_path() /
                   ("querlin-grid-bench-" + std::to_string(getpid()))).string())
    {
        std::filesystem::create_directories(folder_);
        connection_ = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + folder_ + "/bench.mdb;";
        data::CreateLocalStore(connection_);
    }
    ~BenchStore() { std::filesystem::remove_all(folder_); }
    const std::string& Connection() const { return connection_; }

private:
    std::string folder_;
    std::string connection_;
};

// Resizes a shown grid so that its client area holds exactly the window of
// kGridWindowRows x kGridColumns cells.
inline void SizeToWindow(grid::TDataGrid& grid)
{
    int pitch = grid.DataRowHeight() + 1;
    int width = 0;
    for (int c = 0; c < grid.ColCount(); ++c)
        width += grid.ColWidths(c) + 1;
    int height = grid.TitleRowHeight() + 1 + kGridWindowRows * pitch;
    QSize frame = grid.size() - grid.viewport()->size();
    grid.resize(QSize(width, height) + frame + QSize(40, 40));  // room for the bars
    QApplication::processEvents();
    grid.resize(grid.size() - (grid.viewport()->size() - QSize(width, height)));
    QApplication::processEvents();
    if (grid.RowWindowSize() != kGridWindowRows ||
        grid.Geometry().LastFullyVisibleCol() != kGridColumns)
        throw std::runtime_error("the grid does not show a window of 40 x 20 cells");
}

} // namespace querlin::bench
