#include "windows/TestAccess.h"
#include "ShellFixture.h"

#include "testsupport/GridTestSupport.h"
#include "platform/Error.h"

#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

using namespace querlin;
using querlin::test::ShellFixture;

namespace {

using StartUp = ShellFixture;

// A pixel of the etched frame: clearly darker than the face colour round it.
bool IsFrameShade(QRgb p, QRgb face) { return qGray(p) + 24 < qGray(face); }

// Every group box of a window shows its etched frame: down its left edge
// below the caption and along its top line past the caption's end, the
// caption itself not struck through.
void ExpectEtchedFrames(QWidget& window)
{
    const QImage shot = window.grab().toImage();
    const auto boxes = window.findChildren<QGroupBox*>();
    ASSERT_FALSE(boxes.empty());
    for (QGroupBox* box : boxes) {
        const QRect r(box->mapTo(&window, QPoint(0, 0)), box->size());
        const QRgb face = shot.pixel(r.left() + 1, r.bottom() + 1 < shot.height() ? r.bottom() + 1 : r.top() + 2);
        SCOPED_TRACE(box->objectName().toStdString());
        int left = 0;
        for (int y = r.top() + 16; y < r.bottom() - 4; ++y)
            left += IsFrameShade(shot.pixel(r.left(), y), face) || IsFrameShade(shot.pixel(r.left() + 1, y), face);
        EXPECT_GT(left, (r.height() - 20) * 9 / 10) << "the left edge is drawn";
        bool top = false;
        for (int y = r.top() + 4; y <= r.top() + 8; ++y)
            top = top || IsFrameShade(shot.pixel(r.right() - 12, y), face);
        EXPECT_TRUE(top) << "the top line runs through the caption line";
        if (!box->title().isEmpty()) {
            // The caption sits 8 pixels in, on the face colour.
            for (int y = r.top() + 4; y <= r.top() + 8; ++y)
                EXPECT_FALSE(IsFrameShade(shot.pixel(r.left() + 8, y), face)) << "the frame strikes the caption";
        }
    }
}

TEST_F(StartUp, GroupBoxesOfBothWindowsDrawAnEtchedFrameRoundTheirCaption)
{
    Start();
    ExpectEtchedFrames(*frmmain);
    Form1->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1));
    ExpectEtchedFrames(*Form1);
    // The progress line sits on the data frame's top line and covers it.
    test::Of(*Form1).lbl1->setText(QStringLiteral("            "));
    test::Of(*Form1).lbl1->adjustSize();
    const QImage shot = Form1->grab().toImage();
    const QRect label(test::Of(*Form1).lbl1->mapTo(Form1, QPoint(0, 0)), test::Of(*Form1).lbl1->size());
    const QRgb face = shot.pixel(label.left() - 30, label.top() + 1);
    ASSERT_GT(label.width(), 10);
    for (int x = label.left(); x < label.right(); ++x)
        for (int y = label.top(); y < label.bottom(); ++y)
            ASSERT_FALSE(IsFrameShade(shot.pixel(x, y), face)) << "the frame runs through the label at " << x << ", " << y;
}

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
    std::unique_ptr<ProbeForm> owner;
    app::CreateForm(owner, ProbeForm::global);
    ASSERT_NE(ProbeForm::global, nullptr);
    EXPECT_EQ(ProbeForm::global, owner.get());
    EXPECT_TRUE(ProbeForm::global->sawItself);
    // The error is reported and the window exists all the same.
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].text, "creation failed.");
}

using Shutdown = ShellFixture;

TEST_F(Shutdown, CancelEndsTheProgram)
{
    Start();
    QTest::mouseClick(test::Of(*frmmain).btn2, Qt::LeftButton);
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

// A Login whose sign-on fails keeps the login window, and the program
// with it; closing it then ends the program. (The hand-over to the browser
// window, and closing that, are tested against a server.)
TEST_F(Shutdown, FailedSignOnKeepsTheLoginWindowAndClosingItEndsTheProgram)
{
    Start();
    QTest::mouseClick(test::Of(*frmmain).btn1, Qt::LeftButton);
    ExpectSignOnReported();
    EXPECT_FALSE(app::TerminationRequested());

    frmmain->close();
    EXPECT_TRUE(app::TerminationRequested());
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_FALSE(frmmain->isVisible());
}

// The message loop itself ends, rather than only a flag being set.
TEST_F(Shutdown, MessageLoopEndsAfterCancel)
{
    app::CreateWindows();
    QTimer::singleShot(0, [] { test::Of(*frmmain).btn2->click(); });
    // Only reached when the program fails to end.
    QTimer::singleShot(20000, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(app::RunMessageLoop(), 0);
}

TEST_F(Shutdown, MessageLoopEndsWhenTheBrowserWindowIsClosed)
{
    app::CreateWindows();
    QTimer::singleShot(0, [] {
        test::Of(*frmmain).btn1->click();
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
