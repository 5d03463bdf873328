// A data grid over a record set, for looking at the grid while it grows.
//
//   gridviewer [--shot FILE.png] [--size WxH] [--focus] [--always] SOURCE SQL
//
// SOURCE is --store FILE (a local store file), --testdb (the running test
// server, from the env file scripts/testdb wrote; QUERLIN_TESTDB_ENV points
// elsewhere) or --demo N (a fresh local store with a table "demo" of N
// rows). --focus gives the grid the keyboard focus; --always adds
// dgAlwaysShowSelection, as the browser window's first three grids have. Rows are painted red for odd record numbers and blue for even ones,
// through the draw hook, as the browser window does. With --shot the grid is
// painted offscreen into FILE and the program ends.

#include "data/DataSet.h"
#include "data/Provider.h"
#include "grid/TDataGrid.h"
#include "testsupport/TestSupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

using namespace querlin;

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: gridviewer [--shot FILE.png] [--size WxH] [--focus] [--always] "
                         "(--store FILE | --testdb | --demo N) SQL\n");
    return 2;
}

std::string MakeDemoStore(const test::TempDir& dir, int rows)
{
    std::string connection = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + dir.File("demo.mdb") + ";";
    data::CreateLocalStore(connection);
    data::TADOQuery query("qryDemo");
    query.SetConnectionString(connection);
    query.SetSQL("CREATE TABLE demo (id INTEGER, name VARCHAR(20), amount DOUBLE, "
                 "a_title_wider_than_its_column INTEGER, note VARCHAR(12))");
    query.Execute();
    if (rows > 0) {
        query.SetSQL("INSERT INTO demo WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 "
                     "FROM c WHERE x < " + std::to_string(rows) +
                     ") SELECT x, 'name ' || x, x * 12.5 - 40, x % 7, "
                     "CASE WHEN x % 3 = 0 THEN NULL ELSE 'note ' || x END FROM c");
        query.Execute();
    }
    return connection;
}

} // namespace

int main(int argc, char** argv)
{
    std::string shot, store, sql, size = "640x400";
    bool testdb = false, focus = false, always = false;
    int demoRows = -1;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        if (arg == "--shot") shot = next();
        else if (arg == "--size") size = next();
        else if (arg == "--store") store = next();
        else if (arg == "--testdb") testdb = true;
        else if (arg == "--demo") demoRows = std::atoi(next().c_str());
        else if (arg == "--focus") focus = true;
        else if (arg == "--always") always = true;
        else if (sql.empty()) sql = arg;
        else return Usage();
    }
    if (sql.empty() || (store.empty() && !testdb && demoRows < 0))
        return Usage();
    if (!shot.empty())
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

    try {
        test::TempDir dir;
        std::string connection;
        if (testdb)
            connection = test::RequireTestDatabase().AdoConnectionString();
        else if (demoRows >= 0)
            connection = MakeDemoStore(dir, demoRows);
        else
            connection = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + store + ";";

        data::TADOQuery query("qry1");
        data::TDataSource source;
        source.SetDataSet(&query);
        query.SetConnectionString(connection);

        QWidget window;
        window.setWindowTitle("gridviewer");
        auto* layout = new QVBoxLayout(&window);
        auto* grid = new grid::TDataGrid(&window);
        auto* other = new QLineEdit(&window);
        other->setPlaceholderText("focus goes here when the grid loses it");
        layout->addWidget(grid);
        layout->addWidget(other);
        grid->SetDataSource(&source);
        grid->SetReadOnly(true);
        if (always)
            grid->SetOptions(grid->Options() + grid::dgAlwaysShowSelection);
        grid->OnError = [](const std::exception& e) { std::fprintf(stderr, "grid: %s\n", e.what()); };
        grid->OnDrawColumnCell = [&query](grid::TCustomDataGrid* Sender, const QRect& Rect, int,
                                          grid::TGridColumn* Column, grid::TGridDrawState State) {
            Sender->Canvas().Font.Color = query.RecordNumber() % 2 != 0 ? 255 : 0xFF0000;
            Sender->DrawFieldText(Rect, Column->Field(), State);
        };

        int width = 640, height = 400;
        std::sscanf(size.c_str(), "%dx%d", &width, &height);
        window.resize(width, height);
        query.SetSQL(sql);
        query.Open();
        window.show();
        if (focus)
            grid->setFocus();
        else
            other->setFocus();
        QApplication::setActiveWindow(&window);
        QApplication::processEvents();

        if (!shot.empty()) {
            if (!window.grab().save(QString::fromStdString(shot))) {
                std::fprintf(stderr, "cannot write %s\n", shot.c_str());
                return 1;
            }
            return 0;
        }
        return app.exec();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gridviewer: %s\n", e.what());
        return 1;
    }
}
