#pragma once
// The browser window (unit "Unit1"), created hidden at start-up and shown by
// the login window's Login. Its single instance is the global Form1; it
// lives for the whole run. GUI thread only.

#include "data/DataSet.h"

#include <QWidget>

#include <string>

class QGroupBox;

namespace querlin {

class TForm1 : public QWidget {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);

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

    // Event handlers; each runs inside the application's guard.
    void FormCreate();
    void FormClose();
    // Adds the table current in qry2, owned by the user current in qry1, to
    // the favourites.
    void N2Click();
    // Removes the current favourite.
    void N3Click();

    // Whether the connection lists the table, system tables included.
    bool TableExist(data::TADOConnection& connection, const std::string& tableName);

protected:
    void closeEvent(QCloseEvent* event) override;
};

} // namespace querlin
