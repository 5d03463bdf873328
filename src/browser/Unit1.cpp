#include "browser/Unit1.h"

#include "app/Globals.h"
#include "app/Guard.h"
#include "login/main.h"

#include <QCloseEvent>

namespace querlin {

TForm1::TForm1(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(ApplicationTitle));
}

void TForm1::FormCreate()
{
    ExportIdle = true;
}

void TForm1::FormClose()
{
    frmmain->close();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    app::Guard([this] { FormClose(); });
    // The window's own close action stays "hide".
    event->accept();
}

} // namespace querlin
