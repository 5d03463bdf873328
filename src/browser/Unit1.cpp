#include "browser/Unit1.h"

#include "app/Globals.h"
#include "app/Guard.h"
#include "favourites/Favourites.h"
#include "login/Database.h"
#include "login/main.h"

#include <QCloseEvent>
#include <QGroupBox>

namespace querlin {

TForm1::TForm1(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(ApplicationTitle));
    ds1.SetDataSet(&qry1);
    ds2.SetDataSet(&qry2);
    ds3.SetDataSet(&qry3);
    ds4.SetDataSet(&qry4);
    grp1 = new QGroupBox(QString::fromUtf8(login::kDataCaption), this);
    grp1->setObjectName(QStringLiteral("grp1"));
    grp1->setGeometry(0, 172, 777, 377);
}

void TForm1::FormCreate()
{
    ExportIdle = true;
}

void TForm1::FormClose()
{
    frmmain->close();
}

void TForm1::N2Click()
{
    favourites::AddSelectedTable(qry3, qry1, qry2);
}

void TForm1::N3Click()
{
    favourites::RemoveCurrent(qry3);
}

bool TForm1::TableExist(data::TADOConnection& connection, const std::string& tableName)
{
    return favourites::TableExist(connection, tableName);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    app::Guard([this] { FormClose(); });
    // The window's own close action stays "hide".
    event->accept();
}

} // namespace querlin
