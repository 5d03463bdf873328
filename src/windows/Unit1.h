#pragma once
// The browser window (unit "Unit1"), created hidden at start-up and shown by
// the login window's Login. Its single instance is the global Form1; it
// lives for the whole run. GUI thread only.
//
// Four read-only grids, each in a group box: the users (dbgrd1 over qry1),
// the tables of the selected user (dbgrd2 over qry2), the favourites (dbgrd3
// over qry3) and the rows of the table being viewed (dbgrd4 over qry4).
// Clicking a row, or moving through a list with Page Up, Page Down, Up, Down
// or Tab, refreshes the list below it; every row is painted red or blue by
// the parity of its record number. The popup menus of the group boxes add
// and remove favourites and save the viewed rows.

#include "windows/TSaveDialog.h"
#include "data/DataSet.h"
#include "export/Export.h"
#include "grid/TDataGrid.h"

#include <QWidget>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

class QAction;
class QGroupBox;
class QLabel;
class QMenu;

namespace querlin {

namespace test {
struct BrowserAccess;
}

class TForm1 : public QWidget {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);
    // Stops a running export (it leaves no file) and waits for its thread.
    ~TForm1() override;

    // The Login's opening of the database: ensures and opens the favourites
    // store (its failure raises here), gives qry1, qry2 and qry4 the
    // read-only connection for the user (a string that cannot be set shows
    // "eooor"), and signs on with the users' query on a worker: returns at
    // once when rows stream. Once signed on it runs the first queries, so
    // that the window comes up with the users, the first user's tables, the
    // favourites and the first favourite's rows, its frame naming that
    // favourite. done runs on the GUI thread with the data::ConnectionFailed
    // of a sign-on that failed, or with none (later failures end the first
    // queries silently); never, when the sign-on is stopped.
    void OpenDatabase(const std::string& password, const std::string& user, const std::string& sid,
                      std::function<void(std::exception_ptr)> done);
    // The creation handler, run by the shell once the global names the
    // window.
    void FormCreate();
    // A sign-on under way, and stopping it (the window stays as it was).
    bool SigningOn() const;
    void StopSigningOn();

private:
    // The tests reach the window's own members through one access.
    friend struct test::BrowserAccess;


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

    // The group boxes: user list, user tables, favourites, and the frame
    // round the rows of the table being viewed, whose caption names it.
    QGroupBox* grp2;
    QGroupBox* grp3;
    QGroupBox* grp4;
    QGroupBox* grp1;
    grid::TDataGrid* dbgrd1;
    grid::TDataGrid* dbgrd2;
    grid::TDataGrid* dbgrd3;
    grid::TDataGrid* dbgrd4;
    // The export's progress line, on grp1's caption line.
    QLabel* lbl1;
    // On the same line: whether the viewed rows are still coming, or were
    // stopped or cut short and so are shown in part; empty once all are in.
    QLabel* lbl2;
    // Popup menus of grp3, grp4 and grp1 (grp2 has none) and their items.
    QMenu* pm2;
    QAction* N2;
    QMenu* pm3;
    QAction* N3;
    QMenu* pm4;
    QAction* S1;
    // Asks for the spreadsheet file's name.
    TSaveDialog dlgSave1{this};

    // Event handlers; each runs inside the application's guard.
    void FormClose();
    // A user was selected: list that user's tables.
    void dbgrd1CellClick(grid::TGridColumn* Column);
    // A table of the user was selected: show its rows and name it.
    void dbgrd2CellClick(grid::TGridColumn* Column);
    // A favourite was selected: show its rows and name it.
    void dbgrd3CellClick(grid::TGridColumn* Column);
    // The moving keys refresh as a click on the new current row does.
    void dbgrd1KeyUp(std::uint16_t& Key, grid::TShiftState Shift);
    void dbgrd2KeyUp(std::uint16_t& Key, grid::TShiftState Shift);
    void dbgrd3KeyUp(std::uint16_t& Key, grid::TShiftState Shift);
    // Red text for odd record numbers, blue for even ones.
    void dbgrd1DrawColumnCell(const QRect& Rect, int DataCol, grid::TGridColumn* Column, grid::TGridDrawState State);
    void dbgrd2DrawColumnCell(const QRect& Rect, int DataCol, grid::TGridColumn* Column, grid::TGridDrawState State);
    void dbgrd3DrawColumnCell(const QRect& Rect, int DataCol, grid::TGridColumn* Column, grid::TGridDrawState State);
    void dbgrd4DrawColumnCell(const QRect& Rect, int DataCol, grid::TGridColumn* Column, grid::TGridDrawState State);
    // Adds the table current in qry2, owned by the user current in qry1, to
    // the favourites.
    void N2Click();
    // Removes the current favourite.
    void N3Click();
    // Saves the viewed rows into a spreadsheet file on the export worker;
    // returns at once. Does nothing when cancelled or while an export runs.
    void S1Click();
    // The export worker's work: grid is the one whose record set's field
    // names head the sheet (always dbgrd4, the viewed table's). Runs on the
    // worker; reaches the window only through queued calls.
    void CopyDbDataToExcel(grid::TDataGrid& grid);

    // Whether the connection lists the table, system tables included.
    bool TableExist(data::TADOConnection& connection, const std::string& tableName);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // The favourites store and the connection strings; false after
    // "eooor" (a string that cannot be set).
    bool PrepareDatabase(const std::string& password, const std::string& user, const std::string& sid);
    // After the sign-on: the users, the first user's tables, the first
    // favourite's rows; failures end them silently.
    void FirstQueries();
    // Shows in lbl2 how far qry4's rows have come.
    void ShowFetchState();
    // Opens qry4 (on a worker when rows stream) and then names it in
    // grp1's caption.
    void ShowRowsThen(const std::string& caption);
    // Runs on the worker: the window's state, read on the GUI thread.
    exports::WindowState ReadExportState(grid::TDataGrid& grid);

    bool centred_ = false;
    // The name chosen when the running export started; written only while
    // no export runs.
    std::string exportFileName_;
    exports::ProgressLabel progress_;
    // Last, so that it is destroyed first: a running export must end before
    // anything it uses goes.
    exports::ExportWorker exportWorker_;
};

} // namespace querlin
