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
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QIcon>
#include <QScreen>
#include <QWidget>
#include <QTimer>
#include <QPointer>
#include <QSocketNotifier>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <sys/eventfd.h>
#include <unistd.h>
#endif

namespace querlin::app {

namespace {

bool terminationRequested = false;

// The two windows live from CreateWindows to DestroyWindows; the globals
// frmmain and Form1 name them for the code that reaches them.
std::unique_ptr<Tfrmmain> loginWindow;
std::unique_ptr<TForm1> browserWindow;

} // namespace

namespace {

// The workers' tasks on their way to the GUI thread: handed over under a
// lock of this program's own (so every byte a worker wrote before is seen),
// and an eventfd wakes the GUI thread, whose notifier runs them. Made once
// and never freed: a worker left behind may still post at the very end.
struct Handover {
    std::mutex lock;
    std::vector<std::pair<int, std::function<void()>>> tasks;
#ifndef _WIN32
    int wake = -1;
#endif
};

Handover& TheHandover()
{
    static Handover* handover = [] {
        auto* h = new Handover;
#ifndef _WIN32
        h->wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
#endif
        return h;
    }();
    return *handover;
}

// GUI thread: runs what the workers handed over, the delayed ones later.
void RunHandedOver()
{
    Handover& h = TheHandover();
#ifndef _WIN32
    std::uint64_t count = 0;
    while (::read(h.wake, &count, sizeof count) > 0) {
    }
#endif
    std::vector<std::pair<int, std::function<void()>>> tasks;
    {
        std::lock_guard<std::mutex> hold(h.lock);
        tasks.swap(h.tasks);
    }
    for (auto& [delayMs, task] : tasks) {
        if (delayMs <= 0)
            task();
        else
            QTimer::singleShot(delayMs, QCoreApplication::instance(), std::move(task));
    }
}

} // namespace

void InstallGuiPoster()
{
    Handover& h = TheHandover();
    static QPointer<QObject> waker;
    if (!waker) {
#ifndef _WIN32
        auto* notifier = new QSocketNotifier(h.wake, QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] { RunHandedOver(); });
        waker = notifier;
#else
        waker = new QObject(QCoreApplication::instance());
#endif
    }
    data::SetGuiPoster([&h](int delayMs, std::function<void()> task) {
        // Any thread.
        {
            std::lock_guard<std::mutex> hold(h.lock);
            h.tasks.emplace_back(delayMs, std::move(task));
        }
#ifndef _WIN32
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(h.wake, &one, sizeof one);
#else
        if (QCoreApplication* application = QCoreApplication::instance())
            QMetaObject::invokeMethod(application, [] { RunHandedOver(); }, Qt::QueuedConnection);
#endif
    });
}

std::optional<int> AnswerCommandLine(int argc, char** argv)
{
    // A core application knows the arguments and the program's name without
    // a display, so --help works over ssh and in a package's build.
    int coreArgc = argc;
    QCoreApplication core(coreArgc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("querlin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUERLIN_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Look into an Oracle database without a configured client: type host, SID,\n"
        "user and password in the login window and browse users, tables and rows.\n"
        "See querlin(1) for the files it keeps and the environment it reads."));
    // Qt's options are single-dash words (-platform offscreen).
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // The options the GUI application object reads itself, with a value or
    // without; they must not be refused here.
    for (const char* name : {"platform", "platformpluginpath", "platformtheme", "plugin",
                             "qmljsdebugger", "qwindowgeometry", "qwindowicon", "qwindowtitle",
                             "session", "display", "geometry", "style", "stylesheet"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    const auto refuse = [](const QString& message) {
        std::fprintf(stderr, "querlin: %s\nTry 'querlin --help' for more information.\n",
                     message.toLocal8Bit().constData());
        return 2;
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return refuse(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    // Qt's --help-all would list the toolkit's options; the short help says
    // what matters here, so both print it rather than start the program.
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("querlin %s\n", QUERLIN_VERSION);
        return 0;
    }
    return std::nullopt;
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
