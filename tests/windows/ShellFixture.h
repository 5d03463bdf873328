#pragma once
// A fresh program per test: its own program directory, its own registry
// hive, its own machine ODBC files (the machine's driver list, no data
// sources), its own user folders, error reports recorded instead of shown.
// Start() runs the program's own start-up up to the message loop.

#include <gtest/gtest.h>

#include "windows/Globals.h"
#include "windows/Guard.h"
#include "windows/Shell.h"
#include "windows/Unit1.h"
#include "windows/main.h"
#include "platform/FileRegistry.h"
#include "platform/ProgramDirectory.h"
#include "testsupport/TestSupport.h"

#include <QApplication>
#include <QTest>

#include <filesystem>
#include <memory>

namespace querlin::test {

class ShellFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedDirectory_ = std::filesystem::current_path();
        platform::SetProgramDirectoryForTesting(dir.Path().string() + "/");
        UseOdbcMachineFiles(true);
        setenv("XDG_CONFIG_HOME", dir.File("user-config").c_str(), 1);
        setenv("XDG_DATA_HOME", dir.File("user-data").c_str(), 1);
        UseHive(dir.File("registry.reg"));
        app::SetErrorReportRecorder(&reports);
        app::ResetTerminationForTesting();
        ExportIdle = false;
    }

    void TearDown() override
    {
        app::DestroyWindows();
        app::ResetTerminationForTesting();
        app::SetErrorReportRecorder(nullptr);
        platform::SetMachineRegistryForTesting(nullptr);
        platform::SetProgramDirectoryForTesting("");
        std::filesystem::current_path(savedDirectory_);
    }

    // The folder unixODBC takes for the machine's: the drivers the machine
    // has installed (or none), and the data sources a Login registers. The
    // driver manager settles on the folder once per process, so a change of
    // drivers rewrites the list in place.
    void UseOdbcMachineFiles(bool withDrivers)
    {
        const std::string folder = dir.File("odbc-machine");
        std::filesystem::create_directories(folder);
        WriteFile(folder + "/odbcinst.ini", withDrivers ? ReadFile("/etc/odbcinst.ini") : std::string());
        setenv("ODBCSYSINI", folder.c_str(), 1);
        odbcMachineFolder = folder;
    }

    // After a Login whose sign-on failed: reported once, by the user list's
    // record set in the driver's words, and the login window stays.
    void ExpectSignOnReported()
    {
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].text.toStdString().rfind("qry1: ", 0), 0u) << reports[0].text.toStdString();
        EXPECT_TRUE(frmmain->isVisible());
        EXPECT_FALSE(Form1->isVisible());
    }

    void UseHive(const std::string& fileName)
    {
        hive = std::make_unique<platform::FileRegistry>(fileName);
        platform::SetMachineRegistryForTesting(hive.get());
    }

    // Start-up as the program runs it, up to the message loop.
    void Start()
    {
        app::CreateWindows();
        app::ShowMainWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frmmain));
    }

    // A key pressed where the focus is, as the user types it.
    static void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget* target = QApplication::focusWidget();
        ASSERT_NE(target, nullptr);
        QTest::keyClick(target, key, modifiers);
    }

    TempDir dir;
    std::string odbcMachineFolder;
    std::unique_ptr<platform::FileRegistry> hive;
    std::vector<app::ErrorReportRecord> reports;

private:
    std::filesystem::path savedDirectory_;
};

} // namespace querlin::test
