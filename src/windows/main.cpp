#include "windows/main.h"

#include "login/NetServiceFile.h"
#include "login/OdbcDataSource.h"
#include "login/Registration.h"
#include "platform/ProgramDirectory.h"
#include "platform/Registry.h"
#include "windows/BusyCursor.h"
#include "windows/Globals.h"
#include "windows/Guard.h"
#include "windows/MessageBox.h"
#include "windows/Shell.h"
#include "windows/Unit1.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <filesystem>

namespace querlin {

namespace {

// What Enter hands a field's key-press handler, whichever Enter key it was.
constexpr char16_t kCarriageReturn = u'\r';

QLabel* MakeLabel(QWidget* parent, const char* text, int left, int top, int width, int height)
{
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setGeometry(left, top, width, height);
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* text, int left, int top, int width, int height)
{
    auto* edit = new QLineEdit(QString::fromUtf8(text), parent);
    edit->setGeometry(left, top, width, height);
    return edit;
}

QPushButton* MakeButton(QWidget* parent, const char* text, int left, int top, int width, int height)
{
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setGeometry(left, top, width, height);
    // Neither button is a default button: Enter in a field never logs in.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace

Tfrmmain::Tfrmmain(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmmain"));
    setWindowTitle(QString::fromUtf8("登录窗口"));
    // System menu and close box only: no minimise or maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    // The platform substitutes its nearest font where this one is missing.
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    setFont(font);
    // The client area fits the two group boxes exactly.
    setFixedSize(249, 216);

    grp1 = new QGroupBox(QString::fromUtf8("数据库连接设置"), this);
    grp1->setGeometry(0, 0, 249, 167);
    Label1 = MakeLabel(grp1, "主机地址:", 7, 22, 63, 13);
    Label2 = MakeLabel(grp1, "端口:", 15, 51, 55, 13);
    Label5 = MakeLabel(grp1, "SID:", 15, 80, 55, 13);
    Label4 = MakeLabel(grp1, "\u3000用户名:", 19, 109, 51, 13);
    Label3 = MakeLabel(grp1, "密码:", 15, 138, 55, 13);
    ipadd = MakeEdit(grp1, "192.168.10.42", 72, 16, 169, 21);
    ipport = MakeEdit(grp1, "1521", 72, 48, 169, 21);
    // Read-only, yet it keeps taking the focus in the tab and Enter chain.
    ipport->setReadOnly(true);
    ipsid = MakeEdit(grp1, "site042", 72, 76, 169, 21);
    uname = MakeEdit(grp1, "system", 72, 104, 169, 21);
    upass = MakeEdit(grp1, "", 72, 134, 169, 21);
    upass->setEchoMode(QLineEdit::Password);
    // Every character of the password shows as '*' (Qt's styles default to a bullet).
    upass->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    // Screen readers name each field by its label, without the colon.
    for (auto [edit, label] : {std::pair{ipadd, Label1}, std::pair{ipport, Label2}, std::pair{ipsid, Label5},
                               std::pair{uname, Label4}, std::pair{upass, Label3}})
        edit->setAccessibleName(label->text().remove(QLatin1Char(':')).trimmed());

    grp2 = new QGroupBox(this);
    grp2->setGeometry(0, 167, 249, 49);
    btn1 = MakeButton(grp2, "登录(&L)", 8, 11, 114, 33);
    btn2 = MakeButton(grp2, "取消(&C)", 125, 10, 114, 33);

    app::EtchGroupBoxes(*this);

    const QWidget* chain[] = {ipadd, ipport, ipsid, uname, upass, btn1, btn2};
    for (size_t i = 0; i + 1 < std::size(chain); ++i)
        setTabOrder(const_cast<QWidget*>(chain[i]), const_cast<QWidget*>(chain[i + 1]));
    ipadd->setFocus();

    for (QWidget* w : std::initializer_list<QWidget*>{ipadd, ipport, ipsid, uname, upass, btn1, btn2})
        w->installEventFilter(this);
    connect(btn1, &QPushButton::clicked, this, [this] { app::Guard([this] { btn1Click(); }); });
    connect(btn2, &QPushButton::clicked, this, [this] { app::Guard([this] { btn2Click(); }); });
}

bool Tfrmmain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto* keyEvent = static_cast<QKeyEvent*>(event);
    // Esc ends a sign-on under way; the fields stay for another try.
    if (keyEvent->key() == Qt::Key_Escape && Form1 && Form1->SigningOn()) {
        Form1->StopSigningOn();
        return true;
    }
    bool enter = keyEvent->key() == Qt::Key_Return || keyEvent->key() == Qt::Key_Enter;

    // A focused button is pressed by Enter as well as by Space.
    if (watched == btn1 || watched == btn2) {
        if (enter && keyEvent->modifiers() == Qt::NoModifier) {
            static_cast<QPushButton*>(watched)->click();
            return true;
        }
        return false;
    }

    // Character keys reach the field's key-press handler; Enter is
    // carriage return whichever of the two Enter keys was pressed.
    char16_t key = 0;
    if (enter)
        key = kCarriageReturn;
    else if (keyEvent->text().size() == 1)
        key = keyEvent->text().at(0).unicode();
    if (key == 0)
        return false;
    void (Tfrmmain::*handler)(char16_t&) = nullptr;
    if (watched == ipadd)
        handler = &Tfrmmain::ipaddKeyPress;
    else if (watched == ipport)
        handler = &Tfrmmain::ipportKeyPress;
    else if (watched == ipsid)
        handler = &Tfrmmain::ipsidKeyPress;
    else if (watched == uname)
        handler = &Tfrmmain::unameKeyPress;
    else if (watched == upass)
        handler = &Tfrmmain::upassKeyPress;
    if (!handler)
        return false;
    app::Guard([&] { (this->*handler)(key); });
    // A handler that clears the key keeps it from the field.
    return key == 0;
}

void Tfrmmain::showEvent(QShowEvent* event)
{
    app::Guard([this] { app::CentreOnFirstShow(*this, centred_); });
    QWidget::showEvent(event);
}

void Tfrmmain::closeEvent(QCloseEvent* event)
{
    // The main window: closing it hides it and ends the program.
    event->accept();
    app::Guard([] { app::Terminate(); });
}

void Tfrmmain::FormCreate()
{
    platform::EnterProgramDirectory();
    readora();
    FillFromDataSource();
}

void Tfrmmain::FillFromDataSource()
{
    // Opened with full access and created when absent, so a first start
    // leaves an empty data-source key behind and then empties both fields.
    std::unique_ptr<platform::RegistryKey> key =
        platform::MachineRegistry().OpenOrCreateKey("\\SOFTWARE\\ODBC\\ODBC.INI\\" + ipsid->text().toStdString());
    if (!key)
        return;  // no rights: the fields keep their values
    ipsid->setText(QString::fromStdString(platform::ReadRegString(*key, "DSN")));
    uname->setText(QString::fromStdString(platform::ReadRegString(*key, "UID")));
    key->Close();
}

void Tfrmmain::ipaddKeyPress(char16_t& Key)
{
    if (Key == kCarriageReturn)
        ipport->setFocus();
}

void Tfrmmain::ipportKeyPress(char16_t& Key)
{
    if (Key == kCarriageReturn)
        ipsid->setFocus();
}

void Tfrmmain::ipsidKeyPress(char16_t& Key)
{
    if (Key == kCarriageReturn)
        uname->setFocus();
}

void Tfrmmain::unameKeyPress(char16_t& Key)
{
    if (Key == kCarriageReturn)
        upass->setFocus();
}

void Tfrmmain::upassKeyPress(char16_t& Key)
{
    if (Key == kCarriageReturn)
        btn1->setFocus();
}

void Tfrmmain::btn1Click()
{
    // Opening the database and its first queries take a while: the busy
    // pointer shows until they are done, or the sign-on is stopped.
    auto busy = std::make_shared<app::BusyCursor>();
    creatora();
    regcreat();
    // A failed sign-on is reported and keeps this window for another try.
    setora([this, busy](std::exception_ptr failure) {
        app::Guard([&] {
            if (failure)
                std::rethrow_exception(failure);
            hide();
            Form1->show();
            Form1->raise();
            Form1->activateWindow();
        });
    });
}

void Tfrmmain::btn2Click()
{
    close();
}

void Tfrmmain::readora()
{
    // An installed program's user has a folder of their own; until a Login
    // writes a file there, the one shipped beside the program is read.
    std::filesystem::path file = std::filesystem::path(platform::FilesDirectory()) / "tnsnames.ora";
    if (!std::filesystem::exists(file))
        file = std::filesystem::path(platform::ProgramDirectory()) / "tnsnames.ora";
    // Only the fields a line matched change; the rest keep their texts.
    const login::NetServiceEntry entry = login::ReadNetServiceFile(file);
    if (entry.host)
        ipadd->setText(QString::fromStdString(*entry.host));
    if (entry.port)
        ipport->setText(QString::fromStdString(*entry.port));
    if (entry.sid)
        ipsid->setText(QString::fromStdString(*entry.sid));
}

void Tfrmmain::creatora()
{
    platform::EnterProgramDirectory();
    login::WriteNetServiceFile(platform::FilesDirectory() + "tnsnames.ora", ipadd->text().toStdString(), ipport->text().toStdString(),
                               ipsid->text().toStdString());
}

void Tfrmmain::regcreat()
{
    platform::EnterProgramDirectory();
    const std::string sid = ipsid->text().toStdString();
    const std::string user = uname->text().toStdString();
    login::RegisterClient(platform::MachineRegistry(), sid, user, platform::FilesDirectory());
#ifndef _WIN32
    // The driver manager reads its own files here, not the hive; the host
    // and port come from the entry just written.
    const login::NetServiceEntry entry = login::ReadNetServiceFile(platform::FilesDirectory() + "tnsnames.ora");
    login::RegisterOdbcDataSource({sid, user, entry.host.value_or(""), entry.port.value_or("")},
                                  platform::FilesDirectory());
#endif
}

void Tfrmmain::setora(std::function<void(std::exception_ptr)> done)
{
    const std::string password = upass->text().toStdString();
    const std::string user = uname->text().toStdString();
    const std::string sid = ipsid->text().toStdString();
    if (!done) {
        // A sign-on that fails is reported, whenever it is known.
        done = [](std::exception_ptr failure) {
            if (failure)
                app::Guard([&] { std::rethrow_exception(failure); });
        };
    }
    Form1->OpenDatabase(password, user, sid, std::move(done));
}

} // namespace querlin
