#include "ShellFixture.h"

#include "grid/GridTestSupport.h"
#include "platform/Error.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

using namespace querlin;
using querlin::test::ShellFixture;

namespace {

using StartUp = ShellFixture;

TEST_F(StartUp, OnlyTheLoginWindowIsVisibleAndExportIsIdle)
{
    Start();
    ASSERT_NE(frmmain, nullptr);
    ASSERT_NE(Form1, nullptr);
    EXPECT_TRUE(frmmain->isVisible());
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_TRUE(ExportIdle);
    EXPECT_EQ(Form1->windowTitle(), "Querlin");
    EXPECT_TRUE(reports.empty());
    EXPECT_FALSE(app::TerminationRequested());
}

TEST_F(StartUp, ApplicationCarriesNameAndVersion)
{
    app::InitialiseApplication(*qApp);
    EXPECT_EQ(QCoreApplication::applicationName(), "Querlin");
    EXPECT_EQ(QCoreApplication::applicationVersion(), "1.0.0.0");
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());
}

TEST_F(StartUp, WindowsAreDestroyedAndTheGlobalsCleared)
{
    Start();
    QPointer<QWidget> login = frmmain;
    QPointer<QWidget> browser = Form1;
    app::DestroyWindows();
    EXPECT_TRUE(login.isNull());
    EXPECT_TRUE(browser.isNull());
    EXPECT_EQ(frmmain, nullptr);
    EXPECT_EQ(Form1, nullptr);
}

// A window that notes what its creation handler saw.
struct ProbeForm {
    static ProbeForm* global;
    bool sawItself = false;
    void FormCreate()
    {
        sawItself = global == this;
        throw Error("creation failed");
    }
};
ProbeForm* ProbeForm::global = nullptr;

TEST_F(StartUp, GlobalIsAssignedBeforeTheCreationHandlerRuns)
{
    app::CreateForm(ProbeForm::global);
    ASSERT_NE(ProbeForm::global, nullptr);
    EXPECT_TRUE(ProbeForm::global->sawItself);
    // The error is reported and the window exists all the same.
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].text, "creation failed.");
    delete ProbeForm::global;
}

using Shutdown = ShellFixture;

TEST_F(Shutdown, CancelEndsTheProgram)
{
    Start();
    QTest::mouseClick(frmmain->btn2, Qt::LeftButton);
    EXPECT_TRUE(app::TerminationRequested());
    EXPECT_FALSE(frmmain->isVisible());
}

TEST_F(Shutdown, CloseBoxOfTheLoginWindowEndsTheProgram)
{
    Start();
    frmmain->close();
    EXPECT_TRUE(app::TerminationRequested());
    EXPECT_FALSE(frmmain->isVisible());
}

TEST_F(Shutdown, HidingEitherWindowNeverEndsTheProgram)
{
    Start();
    Form1->show();
    Form1->hide();
    frmmain->hide();
    EXPECT_FALSE(app::TerminationRequested());
}

TEST_F(Shutdown, LoginHandsOverAndClosingTheBrowserEndsTheProgram)
{
    Start();
    QTest::mouseClick(frmmain->btn1, Qt::LeftButton);
    EXPECT_FALSE(frmmain->isVisible());
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_FALSE(app::TerminationRequested());
    EXPECT_TRUE(reports.empty());

    Form1->close();
    EXPECT_TRUE(app::TerminationRequested());
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_FALSE(frmmain->isVisible());
}

// The message loop itself ends, rather than only a flag being set.
TEST_F(Shutdown, MessageLoopEndsAfterCancel)
{
    app::CreateWindows();
    QTimer::singleShot(0, [] { frmmain->btn2->click(); });
    // Only reached when the program fails to end.
    QTimer::singleShot(20000, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(app::RunMessageLoop(), 0);
}

TEST_F(Shutdown, MessageLoopEndsWhenTheBrowserWindowIsClosed)
{
    app::CreateWindows();
    QTimer::singleShot(0, [] {
        frmmain->btn1->click();
        QTimer::singleShot(0, [] { Form1->close(); });
    });
    QTimer::singleShot(20000, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(app::RunMessageLoop(), 0);
    EXPECT_FALSE(frmmain->isVisible());
}

using ErrorReport = ShellFixture;

TEST_F(ErrorReport, FullStopRule)
{
    struct Case {
        const char* label;
        const char* message;
        const char* shown;
    } cases[] = {
        {"EndsInFullStop", "Cannot open file.", "Cannot open file."},
        {"EndsInParenthesis", "Failed (code 5)", "Failed (code 5)"},
        {"EndsInSpace", "Failed ", "Failed "},
        {"EndsInLetter", "Field not found", "Field not found."},
        {"EndsInQuote", "Failed to set data for 'UID'", "Failed to set data for 'UID'"},
        {"EndsInDigit", "Error 42", "Error 42."},
        {"EndsInChinese", "无法连接数据库", "无法连接数据库."},
        {"EndsInExclamation", "Stop!", "Stop!"},
        {"EndsInComma", "a,", "a,"},
        {"EndsInSlash", "a/", "a/."},
        {"EndsOutsideBasicPlane", "x\xF0\x9F\x98\x80", "x\xF0\x9F\x98\x80."},
        {"Empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        reports.clear();
        app::Guard([&] { throw Error(c.message); });
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].caption, "Querlin");
        EXPECT_EQ(reports[0].text, QString::fromUtf8(c.shown));
    }
}

TEST_F(ErrorReport, EverythingThatEscapesIsCaughtAndAbortIsSilent)
{
    struct Case {
        const char* label;
        std::function<void()> handler;
        std::vector<QString> shown;
    } cases[] = {
        {"QuerlinError", [] { throw Error("Field 'X' not found"); }, {"Field 'X' not found."}},
        {"StandardException", [] { throw std::runtime_error("disk full"); }, {"disk full."}},
        {"AnythingElse", [] { throw 42; }, {"Unknown error."}},
        {"SilentAbort", [] { throw Abort(); }, {}},
        {"NothingThrown", [] {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        reports.clear();
        app::Guard(c.handler);
        std::vector<QString> shown;
        for (const auto& r : reports)
            shown.push_back(r.text);
        EXPECT_EQ(shown, c.shown);
    }
}

TEST_F(ErrorReport, IsAModalStopBoxWithOk)
{
    auto box = app::MakeErrorReportBox("Cannot open <file>");
    EXPECT_EQ(box->windowTitle(), "Querlin");
    EXPECT_EQ(box->text(), "Cannot open <file>.");
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
}

TEST_F(ErrorReport, IsShownAsABoxWhenNotRecording)
{
    app::SetErrorReportRecorder(nullptr);
    QString seenTitle, seenText;
    QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
    // Answer the box as a user would, the moment it is up.
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seenTitle = box->windowTitle();
        seenText = box->text();
        seenIcon = box->icon();
        QTest::keyClick(box, Qt::Key_Return);
    });
    app::Guard([] { throw Error("boom"); });
    EXPECT_EQ(seenTitle, "Querlin");
    EXPECT_EQ(seenText, "boom.");
    EXPECT_EQ(seenIcon, QMessageBox::Critical);
}

} // namespace

// An error escaping a grid's paint reaches the error report once the paint
// is over, never Qt.
TEST_F(StartUp, ErrorInAGridPaintIsReportedAfterThePaint)
{
    app::InitialiseApplication(*qApp);
    test::GridOverStore t;
    t.store.MakeNumbers(3);
    t.Open("SELECT id, name FROM nums");
    t.grid.OnDrawColumnCell = [](grid::TCustomDataGrid*, const QRect&, int, grid::TGridColumn*, grid::TGridDrawState) {
        throw Error("Hook failed on a row");
    };
    t.grid.viewport()->grab();
    EXPECT_TRUE(reports.empty()) << "reported inside the paint";
    QCoreApplication::processEvents();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].text, "Hook failed on a row.");
    EXPECT_EQ(t.query.RecordNumber(), 1) << "the painted row was not given back";
}
