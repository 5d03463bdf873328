#include "windows/TestAccess.h"
#include "ShellFixture.h"

#include "platform/Error.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include <fstream>
#include <sstream>

using namespace querlin;
using querlin::test::ShellFixture;

using querlin::test::ReadFile;
using querlin::test::WriteFile;

namespace {

// ---- Layout: a window as its constructor builds it -------------------------

TEST(LoginWindowLayout, ControlsSitWhereTheyBelong)
{
    Tfrmmain w;
    struct Case {
        const char* label;
        QWidget* control;
        QWidget* parent;
        QRect rect;
        const char* text;
    } cases[] = {
        {"grp1", test::Of(w).grp1, &w, {0, 0, 249, 167}, "数据库连接设置"},
        {"Label1", test::Of(w).Label1, test::Of(w).grp1, {7, 22, 63, 13}, "主机地址:"},
        {"Label2", test::Of(w).Label2, test::Of(w).grp1, {15, 51, 55, 13}, "端口:"},
        {"Label5", test::Of(w).Label5, test::Of(w).grp1, {15, 80, 55, 13}, "SID:"},
        {"Label4", test::Of(w).Label4, test::Of(w).grp1, {19, 109, 51, 13}, "\u3000用户名:"},
        {"Label3", test::Of(w).Label3, test::Of(w).grp1, {15, 138, 55, 13}, "密码:"},
        {"ipadd", test::Of(w).ipadd, test::Of(w).grp1, {72, 16, 169, 21}, "192.168.10.42"},
        {"ipport", test::Of(w).ipport, test::Of(w).grp1, {72, 48, 169, 21}, "1521"},
        {"ipsid", test::Of(w).ipsid, test::Of(w).grp1, {72, 76, 169, 21}, "site042"},
        {"uname", test::Of(w).uname, test::Of(w).grp1, {72, 104, 169, 21}, "system"},
        {"upass", test::Of(w).upass, test::Of(w).grp1, {72, 134, 169, 21}, ""},
        {"grp2", test::Of(w).grp2, &w, {0, 167, 249, 49}, ""},
        {"btn1", test::Of(w).btn1, test::Of(w).grp2, {8, 11, 114, 33}, "登录(&L)"},
        {"btn2", test::Of(w).btn2, test::Of(w).grp2, {125, 10, 114, 33}, "取消(&C)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.control->parentWidget(), c.parent);
        EXPECT_EQ(c.control->geometry(), c.rect);
        QString text;
        if (auto* g = qobject_cast<QGroupBox*>(c.control))
            text = g->title();
        else if (auto* l = qobject_cast<QLabel*>(c.control))
            text = l->text();
        else if (auto* e = qobject_cast<QLineEdit*>(c.control))
            text = e->text();
        else if (auto* b = qobject_cast<QPushButton*>(c.control))
            text = b->text();
        EXPECT_EQ(text, QString::fromUtf8(c.text));
        if (auto* l = qobject_cast<QLabel*>(c.control)) {
            EXPECT_TRUE(l->alignment() & Qt::AlignRight);
            // The right edges of all labels line up, two pixels left of the fields.
            EXPECT_EQ(l->geometry().left() + l->geometry().width(), 70);
        }
    }
}

TEST(LoginWindowLayout, WindowProperties)
{
    Tfrmmain w;
    EXPECT_EQ(w.windowTitle(), QString::fromUtf8("登录窗口"));
    EXPECT_EQ(w.minimumSize(), QSize(249, 216));
    EXPECT_EQ(w.maximumSize(), QSize(249, 216));
    Qt::WindowFlags flags = w.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w.font().family(), "MS Sans Serif");
    EXPECT_EQ(w.font().pointSize(), 8);
    EXPECT_TRUE(test::Of(w).ipport->isReadOnly());
    EXPECT_EQ(test::Of(w).ipport->focusPolicy(), Qt::StrongFocus);
    EXPECT_EQ(test::Of(w).upass->echoMode(), QLineEdit::Password);
    for (QPushButton* b : {test::Of(w).btn1, test::Of(w).btn2}) {
        EXPECT_FALSE(b->autoDefault());
        EXPECT_FALSE(b->isDefault());
    }
}

TEST(LoginWindowLayout, PasswordShowsAsStars)
{
    Tfrmmain w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::keyClicks(test::Of(w).upass, "s3cret");
    EXPECT_EQ(test::Of(w).upass->text(), "s3cret");
    EXPECT_EQ(test::Of(w).upass->displayText(), "******");

    // What is painted is what a plain field showing stars paints.
    QLineEdit plain(test::Of(w).grp1);
    plain.setStyleSheet(test::Of(w).upass->styleSheet());
    plain.setGeometry(test::Of(w).upass->geometry().translated(0, 200));
    plain.setText("******");
    plain.show();
    test::Of(w).ipadd->setFocus();
    QImage painted = test::Of(w).upass->grab().toImage();
    QImage expected = plain.grab().toImage();
    EXPECT_EQ(painted, expected);
}

// ---- Behaviour of the started program --------------------------------------

using LoginWindow = ShellFixture;

TEST_F(LoginWindow, IsCentredOnTheScreen)
{
    Start();
    QPoint centre = frmmain->screen()->availableGeometry().center();
    QPoint mine = frmmain->frameGeometry().center();
    EXPECT_LE(std::abs(mine.x() - centre.x()), 1);
    EXPECT_LE(std::abs(mine.y() - centre.y()), 1);
}

TEST_F(LoginWindow, TabOrderRunsThroughAllSevenControls)
{
    Start();
    EXPECT_EQ(QApplication::focusWidget(), test::Of(*frmmain).ipadd);
    std::vector<QWidget*> seen{QApplication::focusWidget()};
    for (int i = 0; i < 7; ++i) {
        Press(Qt::Key_Tab);
        seen.push_back(QApplication::focusWidget());
    }
    std::vector<QWidget*> expected{test::Of(*frmmain).ipadd, test::Of(*frmmain).ipport, test::Of(*frmmain).ipsid, test::Of(*frmmain).uname,
                                   test::Of(*frmmain).upass, test::Of(*frmmain).btn1,   test::Of(*frmmain).btn2,  test::Of(*frmmain).ipadd};
    EXPECT_EQ(seen, expected);
}

TEST_F(LoginWindow, EnterChainMovesThroughAllSixControlsWithoutLoggingIn)
{
    for (Qt::Key enter : {Qt::Key_Return, Qt::Key_Enter}) {
        SCOPED_TRACE(enter == Qt::Key_Return ? "Return" : "keypad Enter");
        Start();
        test::Of(*frmmain).upass->setText("pw");
        std::vector<QWidget*> seen{QApplication::focusWidget()};
        for (int i = 0; i < 5; ++i) {
            Press(enter);
            seen.push_back(QApplication::focusWidget());
        }
        std::vector<QWidget*> expected{test::Of(*frmmain).ipadd, test::Of(*frmmain).ipport, test::Of(*frmmain).ipsid,
                                       test::Of(*frmmain).uname, test::Of(*frmmain).upass,  test::Of(*frmmain).btn1};
        EXPECT_EQ(seen, expected);
        EXPECT_TRUE(frmmain->isVisible());
        EXPECT_FALSE(Form1->isVisible());
        EXPECT_EQ(test::Of(*frmmain).ipadd->text(), "192.168.10.42");
        EXPECT_EQ(test::Of(*frmmain).ipport->text(), "1521");
        EXPECT_EQ(test::Of(*frmmain).upass->text(), "pw");

        // On the focused Login button Enter logs in (and, with nobody at the
        // default host here, is told so).
        Press(enter);
        ExpectSignOnReported();
        reports.clear();
        app::DestroyWindows();
    }
}

TEST_F(LoginWindow, PortFieldTakesFocusButNoTyping)
{
    Start();
    Press(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), test::Of(*frmmain).ipport);
    QTest::keyClicks(test::Of(*frmmain).ipport, "99");
    Press(Qt::Key_Backspace);
    EXPECT_EQ(test::Of(*frmmain).ipport->text(), "1521");
}

TEST_F(LoginWindow, SpaceOnTheFocusedLoginButtonLogsIn)
{
    Start();
    test::Of(*frmmain).btn1->setFocus();
    Press(Qt::Key_Space);
    ExpectSignOnReported();
}

TEST_F(LoginWindow, EnterOnTheFocusedCancelButtonEndsTheProgram)
{
    Start();
    test::Of(*frmmain).btn2->setFocus();
    Press(Qt::Key_Return);
    EXPECT_TRUE(app::TerminationRequested());
}

TEST_F(LoginWindow, EscapeDoesNothingAnywhere)
{
    Start();
    QWidget* controls[] = {test::Of(*frmmain).ipadd, test::Of(*frmmain).ipport, test::Of(*frmmain).ipsid, test::Of(*frmmain).uname,
                           test::Of(*frmmain).upass, test::Of(*frmmain).btn1,   test::Of(*frmmain).btn2};
    test::Of(*frmmain).upass->setText("pw");
    for (QWidget* control : controls) {
        SCOPED_TRACE(control->objectName().toStdString() + " " + control->metaObject()->className());
        control->setFocus();
        Press(Qt::Key_Escape);
        EXPECT_EQ(QApplication::focusWidget(), control);
        EXPECT_TRUE(frmmain->isVisible());
        EXPECT_FALSE(Form1->isVisible());
        EXPECT_FALSE(app::TerminationRequested());
    }
    EXPECT_EQ(test::Of(*frmmain).ipadd->text(), "192.168.10.42");
    EXPECT_EQ(test::Of(*frmmain).upass->text(), "pw");
}

TEST_F(LoginWindow, AltLPressesLogin)
{
    Start();
    // Through the window, where shortcuts are looked up.
    QTest::keyClick(frmmain->windowHandle(), Qt::Key_L, Qt::AltModifier);
    // The button shows itself pressed for a moment before it clicks.
    EXPECT_TRUE(QTest::qWaitFor([this] { return !reports.empty(); }));
    ExpectSignOnReported();
    EXPECT_FALSE(app::TerminationRequested());
}

// ---- Filling the fields from the registered data source --------------------

using DataSourceFill = ShellFixture;

const char* const kDataSourceKey = "\\SOFTWARE\\ODBC\\ODBC.INI\\site042";

TEST_F(DataSourceFill, AbsentKeyIsCreatedAndEmptiesTheFields)
{
    Start();
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(test::Of(*frmmain).ipsid->text(), "");
    EXPECT_EQ(test::Of(*frmmain).uname->text(), "");
    EXPECT_EQ(test::Of(*frmmain).ipadd->text(), "192.168.10.42");
    auto parsed = platform::hive::Parse(ReadFile(hive->FileName()), hive->FileName());
    const auto* key = parsed.FindKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBC.INI\\site042");
    ASSERT_NE(key, nullptr);
    EXPECT_TRUE(key->values.empty());
}

TEST_F(DataSourceFill, RegisteredValuesWinWithTheirLetterCase)
{
    {
        auto key = hive->OpenOrCreateKey(kDataSourceKey);
        key->WriteString("DSN", "Site042", platform::RegType::Sz);
        key->WriteString("UID", std::string("scott\0padding", 13), platform::RegType::ExpandSz);
    }
    Start();
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(test::Of(*frmmain).ipsid->text(), "Site042");
    EXPECT_EQ(test::Of(*frmmain).uname->text(), "scott");
}

TEST_F(DataSourceFill, WithoutRightsTheDefaultsStay)
{
    WriteFile(dir.File("notafolder"), "");
    UseHive(dir.File("notafolder") + "/registry.reg");
    Start();
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(test::Of(*frmmain).ipsid->text(), "site042");
    EXPECT_EQ(test::Of(*frmmain).uname->text(), "system");
}

TEST_F(DataSourceFill, ValueOfAnotherTypeIsReportedAndTheWindowStillComesUp)
{
    struct Case {
        const char* label;
        const char* values;
        const char* report;
        const char* sid;
        const char* user;
    } cases[] = {
        {"DsnIsANumber", "\"DSN\"=dword:00000001\n\"UID\"=\"scott\"\n", "Invalid data type for 'DSN'", "site042",
         "system"},
        {"UidIsBinary", "\"DSN\"=\"Other\"\n\"UID\"=hex:01,02\n", "Invalid data type for 'UID'", "Other",
         "system"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        reports.clear();
        ExportIdle = false;
        WriteFile(hive->FileName(), std::string("Windows Registry Editor Version 5.00\n\n"
                                                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBC.INI\\site042]\n") +
                                        c.values);
        Start();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].text, c.report);
        EXPECT_EQ(reports[0].caption, "Querlin");
        EXPECT_TRUE(frmmain->isVisible());
        EXPECT_NE(Form1, nullptr);
        EXPECT_TRUE(ExportIdle);
        // Filled as far as the handler got.
        EXPECT_EQ(test::Of(*frmmain).ipsid->text(), c.sid);
        EXPECT_EQ(test::Of(*frmmain).uname->text(), c.user);
        app::DestroyWindows();
    }
}

TEST_F(DataSourceFill, DamagedHiveIsReportedAndLeftAlone)
{
    const std::string damaged = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\n";
    WriteFile(hive->FileName(), damaged);
    Start();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].text.indexOf("is damaged"), -1);
    EXPECT_TRUE(frmmain->isVisible());
    EXPECT_EQ(test::Of(*frmmain).ipsid->text(), "site042");
    EXPECT_EQ(ReadFile(hive->FileName()), damaged);
}

TEST_F(DataSourceFill, CreationEntersTheProgramDirectory)
{
    Start();
    EXPECT_EQ(std::filesystem::current_path(), dir.Path());
}

} // namespace
