#pragma once
// The login window (unit "main"): the program's main window. It collects
// host address, listener port, SID, user name and password in its five edit
// fields, which the net service name file, the client registration and the
// database opening read at the moment they need them. Its single instance is
// the global frmmain; it lives for the whole run. GUI thread only.

#include <QWidget>

#include <exception>
#include <functional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace querlin {

namespace test {
struct LoginAccess;
}

class Tfrmmain : public QWidget {
    Q_OBJECT

public:
    explicit Tfrmmain(QWidget* parent = nullptr);

    // The creation handler, run by the shell once the global names the
    // window.
    void FormCreate();
private:
    // The tests reach the window's own members through one access.
    friend struct test::LoginAccess;

    QGroupBox* grp1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label5;
    QLabel* Label4;
    QLabel* Label3;
    QLineEdit* ipadd;
    QLineEdit* ipport;
    QLineEdit* ipsid;
    QLineEdit* uname;
    QLineEdit* upass;
    QGroupBox* grp2;
    QPushButton* btn1;
    QPushButton* btn2;

    // Event handlers; each runs inside the application's guard.
    void ipaddKeyPress(char16_t& Key);
    void ipportKeyPress(char16_t& Key);
    void ipsidKeyPress(char16_t& Key);
    void unameKeyPress(char16_t& Key);
    void upassKeyPress(char16_t& Key);
    void btn1Click();
    void btn2Click();

    // Fills ipadd, ipport and ipsid from "tnsnames.ora" in the folder of
    // the program's files, if it exists (else the one shipped beside the
    // program).
    void readora();
    // Writes "tnsnames.ora" into the program directory from ipadd, ipport
    // and ipsid.
    void creatora();
    // Registers the client environment and the ODBC data source named by
    // ipsid for the user uname.
    void regcreat();
    // Opens the database as uname with upass and fills the browser window;
    // the sign-on is made on a worker when rows stream. done hears how it
    // went (nullptr when signed on) on the GUI thread; without done, a
    // failed sign-on is reported.
    void setora(std::function<void(std::exception_ptr)> done = {});

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FillFromDataSource();

    bool centred_ = false;
};

} // namespace querlin
