#pragma once
// A data grid over a real local store: a fresh store file in a temporary
// folder, a record set with its data source, and the grid bound to it.

#include "data/DataSet.h"
#include "data/Provider.h"
#include "grid/TDataGrid.h"
#include "testsupport/TestSupport.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTest>

#include <string>

namespace querlin::test {

class LocalStore {
public:
    LocalStore() : connection_("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + dir_.File("grid.mdb") + ";")
    {
        data::CreateLocalStore(connection_);
    }
    const std::string& Connection() const { return connection_; }
    void Execute(const std::string& sql) const
    {
        data::TADOQuery query("qryStore");
        query.SetConnectionString(connection_);
        query.SetSQL(sql);
        query.Execute();
    }
    // A table "nums" of n rows: id 1..n, "name" a short text.
    void MakeNumbers(int rows) const
    {
        Execute("CREATE TABLE nums (id INTEGER, name VARCHAR(30), amount INTEGER)");
        if (rows <= 0)
            return;
        Execute("INSERT INTO nums (id, name, amount) WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL "
                "SELECT x + 1 FROM c WHERE x < " + std::to_string(rows) +
                ") SELECT x, 'row ' || x, x * 1000 + 345 FROM c");
    }

private:
    TempDir dir_;
    std::string connection_;
};

struct GridOverStore {
    LocalStore store;
    data::TADOQuery query{"qry1"};
    data::TDataSource source;
    grid::TDataGrid grid;

    explicit GridOverStore(QSize size = QSize(400, 300))
    {
        query.SetConnectionString(store.Connection());
        source.SetDataSet(&query);
        grid.SetDataSource(&source);
        grid.resize(size);
        // Shown (offscreen), so that resizing reaches the grid at once.
        grid.show();
    }
    void Open(const std::string& sql)
    {
        query.SetSQL(sql);
        query.Open();
    }
    // The client area as painted, without the frame.
    QImage Shot()
    {
        return grid.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    // Sizes the grid so that exactly `rows` data rows are fully visible, wide
    // enough for the columns of the numbers table.
    void ShowRows(int rows, int width = 600)
    {
        int height = grid.TitleRowHeight() + 1 + rows * (grid.DataRowHeight() + 1);
        QSize frame = grid.size() - grid.viewport()->size();
        grid.resize(width, height + frame.height());
        QApplication::processEvents();
    }
    // Makes the grid's window active and gives the grid the focus, as a
    // user's click would.
    bool Focus()
    {
        grid.activateWindow();
        QApplication::setActiveWindow(&grid);
        if (!QTest::qWaitForWindowActive(&grid))
            return false;
        grid.setFocus();
        QApplication::processEvents();
        return grid.hasFocus();
    }
    // Lets the event loop deliver the pending paints.
    static void Flush()
    {
        QApplication::processEvents();
        QTest::qWait(5);
        QApplication::processEvents();
    }
    // A palette colour as the pixels of a 32-bit image show it.
    QRgb Palette(QPalette::ColorRole role) const
    {
        return grid.palette().color(QPalette::Active, role).rgb();
    }
};

} // namespace querlin::test
