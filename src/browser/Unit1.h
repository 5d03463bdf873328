#pragma once
// The browser window (unit "Unit1"), created hidden at start-up and shown by
// the login window's Login. Its single instance is the global Form1; it
// lives for the whole run. GUI thread only.

#include <QWidget>

namespace querlin {

class TForm1 : public QWidget {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);

    // Event handlers; each runs inside the application's guard.
    void FormCreate();
    void FormClose();

protected:
    void closeEvent(QCloseEvent* event) override;
};

} // namespace querlin
