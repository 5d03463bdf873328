// Developers' tool: starts Querlin as its program directory and the
// environment (QUERLIN_REGISTRY) describe, types the password into
// the login window, presses Login and writes a picture of the browser
// window. Optionally clicks a user, a table and a favourite first, by row.
//
//   browsershot OUT.png PASSWORD [--user ROW] [--table ROW]
//
// scripts/screenshot runs it on the demo under a virtual display.
#include "windows/Globals.h"
#include "windows/TestAccess.h"
#include "windows/Shell.h"
#include "windows/Unit1.h"
#include "windows/main.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace querlin;

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUT.png PASSWORD [--user ROW] [--table ROW]\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString password = QString::fromLocal8Bit(argv[2]);
    int userRow = 0, tableRow = 0;
    for (int i = 3; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--user")
            userRow = std::atoi(argv[i + 1]);
        else if (std::string(argv[i]) == "--table")
            tableRow = std::atoi(argv[i + 1]);
    }

    QApplication application(argc, argv);
    app::InitialiseApplication(application);
    app::CreateWindows();
    app::ShowMainWindow();
    if (!QTest::qWaitForWindowExposed(frmmain)) {
        std::fprintf(stderr, "The login window was not shown\n");
        return 1;
    }
    test::Of(*frmmain).upass->setText(password);
    QTest::mouseClick(test::Of(*frmmain).btn1, Qt::LeftButton);
    if (!Form1->isVisible()) {
        std::fprintf(stderr, "Login did not show the browser window\n");
        return 1;
    }
    if (!QTest::qWaitForWindowExposed(Form1)) {
        std::fprintf(stderr, "The browser window was not shown\n");
        return 1;
    }
    if (userRow > 0 && test::Of(*Form1).qry1.Active()) {
        test::Of(*Form1).qry1.MoveRows(userRow);
        test::Of(*Form1).dbgrd1CellClick(nullptr);
    }
    if (tableRow > 0 && test::Of(*Form1).qry2.Active()) {
        test::Of(*Form1).qry2.MoveRows(tableRow);
        test::Of(*Form1).dbgrd2CellClick(nullptr);
    }
    QTest::qWait(300);
    const bool saved = Form1->grab().save(out);
    app::DestroyWindows();
    if (!saved) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
