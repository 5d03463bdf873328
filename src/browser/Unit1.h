#pragma once
// The browser window (unit "Unit1"), created hidden at start-up and shown by
// the login window's Login. Its single instance is the global Form1; it
// lives for the whole run. GUI thread only.

#include "browser/TSaveDialog.h"
#include "data/DataSet.h"
#include "export/Export.h"

#include <QWidget>

#include <string>

class QAction;
class QGroupBox;
class QLabel;
class QMenu;

namespace querlin {

class TForm1 : public QWidget {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);
    // Stops a running export (it leaves no file) and waits for its thread.
    ~TForm1() override;

    // The users, the tables of one user, the favourites and the rows of the
    // table being viewed; each connects by itself with its own connection
    // string. Their links bind them to the grids.
    data::TADOQuery qry1{"qry1"};
    data::TADOQuery qry2{"qry2"};
    data::TADOQuery qry3{"qry3"};
    data::TADOQuery qry4{"qry4"};
    data::TDataSource ds1;
    data::TDataSource ds2;
    data::TDataSource ds3;
    data::TDataSource ds4;
    // Lists the favourites file's tables; never asks for credentials.
    data::TADOConnection con1;
    // The frame round the rows of the table being viewed; its caption names it.
    QGroupBox* grp1;

    // The export's progress line, on grp1's caption line; sized to its text.
    QLabel* lbl1;
    // Asks for the spreadsheet file's name.
    TSaveDialog dlgSave1{this};
    // grp1's popup menu: its one item saves the viewed rows to a spreadsheet.
    QMenu* pm4;
    QAction* S1;

    // Event handlers; each runs inside the application's guard.
    void FormCreate();
    void FormClose();
    // Adds the table current in qry2, owned by the user current in qry1, to
    // the favourites.
    void N2Click();
    // Removes the current favourite.
    void N3Click();

    // Saves the viewed rows into a spreadsheet file on the export worker;
    // returns at once. Does nothing when cancelled or while an export runs.
    void S1Click();
    // The export worker's work: grid is the link whose record set's field
    // names head the sheet (the viewed table's, qry4's). Runs on the worker;
    // reaches the window only through queued calls.
    void CopyDbDataToExcel(data::TDataSource& grid);

    // Whether the connection lists the table, system tables included.
    bool TableExist(data::TADOConnection& connection, const std::string& tableName);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Runs on the worker: the window's state, read on the GUI thread.
    exports::WindowState ReadExportState(data::TDataSource& grid);

    // The name chosen when the running export started; written only while
    // no export runs.
    std::string exportFileName_;
    exports::ProgressLabel progress_;
    // Last, so that it is destroyed first: a running export must end before
    // anything it uses goes.
    exports::ExportWorker exportWorker_;
};

} // namespace querlin
