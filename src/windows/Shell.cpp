#include "windows/Shell.h"

#include "windows/Globals.h"
#include "windows/Guard.h"
#include "windows/Unit1.h"
#include "windows/main.h"
#include "data/DataSet.h"
#include "platform/Error.h"
#include "platform/Registry.h"

#include "grid/TCustomCellGrid.h"
#include "grid/TGridFindDlg.h"

#include <QApplication>
#include <QIcon>
#include <QScreen>
#include <QWidget>
#include <QTimer>

namespace querlin::app {

namespace {

bool terminationRequested = false;

// The two windows live from CreateWindows to DestroyWindows; the globals
// frmmain and Form1 name them for the code that reaches them.
std::unique_ptr<Tfrmmain> loginWindow;
std::unique_ptr<TForm1> browserWindow;

} // namespace

void InstallGuiPoster()
{
    data::SetGuiPoster([](int delayMs, std::function<void()> task) {
        // Any thread. Once the application object is gone the task is dropped.
        QCoreApplication* application = QCoreApplication::instance();
        if (!application)
            return;
        QMetaObject::invokeMethod(
            application,
            [delayMs, task = std::move(task)]() mutable {
                if (delayMs <= 0)
                    task();
                else
                    QTimer::singleShot(delayMs, QCoreApplication::instance(), std::move(task));
            },
            Qt::QueuedConnection);
    });
}

void InitialiseApplication(QApplication& application)
{
    // The title goes into captions explicitly; Qt's display name is left
    // unset because Linux window managers would append it to every caption.
    QCoreApplication::setApplicationName(QString::fromUtf8(ApplicationTitle));
    QCoreApplication::setOrganizationName(QString::fromUtf8(ApplicationTitle));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUERLIN_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("querlin"));
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/icons/querlin-%1.png").arg(size), QSize(size, size));
    application.setWindowIcon(icon);
    // The machine registry is located now, before the login window moves
    // the current directory, so a relative QUERLIN_REGISTRY means what the
    // caller meant.
    platform::MachineRegistry();
    // Only closing the login window ends the program; hiding a window, or
    // closing the last visible one, does not.
    application.setQuitOnLastWindowClosed(false);
    // An error escaping a grid's paint goes to the error report like any
    // handler's; the box waits for the paint to finish, since a modal loop
    // inside a paint event would paint again into the one being painted.
    grid::TCustomCellGrid::SetErrorReporter([](const std::exception& error) {
        if (dynamic_cast<const Abort*>(&error))
            return;
        std::string message = error.what();
        QTimer::singleShot(0, [message] { ShowErrorReport(message); });
    });
    // Ctrl+F in any grid opens the one find dialog.
    grid::TGridFindDlg::Install();
}

void CreateWindows()
{
    CreateForm(loginWindow, frmmain);
    // The main window's native window exists from here on.
    frmmain->winId();
    CreateForm(browserWindow, Form1);
}

void CentreOnScreen(QWidget& window)
{
    QScreen* screen = window.screen();
    if (!screen)
        return;
    // The frame is known once the native window exists, which it does by
    // the first show; where the window manager adds it later, the client
    // size stands in for it.
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

void EtchGroupBoxes(QWidget& window)
{
    // The caption line is 13 pixels high at 8 points; the frame runs
    // through its middle and the caption sits 8 pixels in.
    window.setStyleSheet(window.styleSheet() + QStringLiteral(
        "QGroupBox { border: 2px groove #b4b4b4; margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 8px; top: -1px;"
        " padding: 0 1px; background-color: palette(window); }"));
}

void CentreOnFirstShow(QWidget& window, bool& centred)
{
    if (centred)
        return;
    centred = true;
    CentreOnScreen(window);
}

void ShowMainWindow()
{
    frmmain->show();
}

int RunMessageLoop()
{
    ShowMainWindow();
    if (terminationRequested)
        return 0;
    return QApplication::exec();
}

void DestroyWindows()
{
    browserWindow.reset();
    Form1 = nullptr;
    loginWindow.reset();
    frmmain = nullptr;
}

void Terminate()
{
    terminationRequested = true;
    QCoreApplication::exit(0);
}

bool TerminationRequested()
{
    return terminationRequested;
}

void ResetTerminationForTesting()
{
    terminationRequested = false;
}

} // namespace querlin::app
