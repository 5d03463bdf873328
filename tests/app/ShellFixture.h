#pragma once
// A fresh program per test: its own program directory, its own registry
// hive, error reports recorded instead of shown. Start() runs the program's
// own start-up up to the message loop.

#include <gtest/gtest.h>

#include "app/Globals.h"
#include "app/Guard.h"
#include "app/Shell.h"
#include "browser/Unit1.h"
#include "login/main.h"
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
    std::unique_ptr<platform::FileRegistry> hive;
    std::vector<app::ErrorReportRecord> reports;

private:
    std::filesystem::path savedDirectory_;
};

} // namespace querlin::test
