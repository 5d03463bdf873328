#include <gtest/gtest.h>

#include "windows/Globals.h"
#include "windows/TestAccess.h"
#include "windows/Guard.h"
#include "windows/Unit1.h"
#include "testsupport/LocalStoreFile.h"
#include "export/Export.h"
#include "platform/Automation.h"
#include "export/Spreadsheet.h"
#include "testsupport/TestSupport.h"

#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QTest>

#include <filesystem>

using namespace querlin;
using test::LocalStoreFile;
using test::ReadFile;
using test::TempDir;

namespace {

// The browser window with a viewed table over a local store, the dialog
// answered by the test and the error report recorded.
class BrowserExport : public ::testing::Test {
protected:
    void SetUp() override
    {
        app::SetErrorReportRecorder(&reports);
        store.MakeNumbered(3);
        form = std::make_unique<TForm1>();
        form->FormCreate();
        test::Of(*form).qry4.SetConnectionString(store.ConnectionString());
        test::Of(*form).qry4.SetSQL("SELECT n, name FROM t ORDER BY n");
        test::Of(*form).qry4.Open();
        test::Of(*form).grp1->setTitle(QStringLiteral("数据表：SCOTT.T"));
    }

    void TearDown() override
    {
        form.reset();
        TSaveDialog::SetAnswerForTesting(nullptr);
        app::SetErrorReportRecorder(nullptr);
        ExportIdle = false;
    }

    // The next dialog answers with name (or cancels), recording the name it proposed.
    void Answer(std::optional<std::string> name)
    {
        TSaveDialog::SetAnswerForTesting([this, name](const std::string& proposed) {
            proposals.push_back(proposed);
            return name;
        });
    }

    // Waits for the running export to end and its queued calls to arrive.
    void WaitForExport()
    {
        ASSERT_TRUE(QTest::qWaitFor([] { return ExportIdle.load(); }, 60000));
        QTest::qWait(50);
    }

    std::string Label() const { return test::Of(*form).lbl1->text().toStdString(); }

    LocalStoreFile store;
    TempDir dir;
    std::unique_ptr<TForm1> form;
    std::vector<app::ErrorReportRecord> reports;
    std::vector<std::string> proposals;
};

} // namespace

TEST_F(BrowserExport, SaveWritesTheViewedTableOnTheWorker)
{
    EXPECT_EQ(test::Of(*form).lbl1->parentWidget(), test::Of(*form).grp1);
    EXPECT_EQ(test::Of(*form).lbl1->pos(), QPoint(416, 0));
    EXPECT_EQ(Label(), "");
    ASSERT_EQ(test::Of(*form).pm4->actions().size(), 1);
    EXPECT_EQ(test::Of(*form).pm4->actions().front(), test::Of(*form).S1);
    EXPECT_EQ(test::Of(*form).S1->text(), QStringLiteral("保存数据到(&S)"));

    Answer(dir.File("t.csv"));
    test::Of(*form).S1->trigger();
    WaitForExport();
    EXPECT_EQ(proposals, std::vector<std::string>{"oracle导出数据表.xls"});
    EXPECT_EQ(ReadFile(dir.File("t.csv")),
              "\xEF\xBB\xBF数据表：SCOTT.T导出之数据,\r\nn,name\r\n1,row 1\r\n2,row 2\r\n3,row 3\r\n");
    EXPECT_EQ(Label(), "导出完成！");
    EXPECT_EQ(test::Of(*form).lbl1->width(), test::Of(*form).lbl1->sizeHint().width());
    EXPECT_TRUE(reports.empty());
}

TEST_F(BrowserExport, CancelledDialogDoesNothing)
{
    Answer(std::nullopt);
    test::Of(*form).S1Click();
    EXPECT_TRUE(ExportIdle);
    QTest::qWait(50);
    EXPECT_EQ(Label(), "");
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST_F(BrowserExport, SaveWhileAnExportRunsShowsTheDialogAndDoesNothing)
{
    store.MakeNumbered(40000, "big");
    test::Of(*form).qry4.SetSQL("SELECT * FROM big");
    Answer(dir.File("first.csv"));
    test::Of(*form).S1Click();
    ASSERT_FALSE(ExportIdle);
    Answer(dir.File("second.csv"));
    test::Of(*form).S1Click();
    EXPECT_EQ(proposals.size(), 2u);
    WaitForExport();
    EXPECT_TRUE(std::filesystem::exists(dir.File("first.csv")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("second.csv")));
    EXPECT_EQ(Label(), "导出完成！");
    EXPECT_TRUE(reports.empty());
}

TEST_F(BrowserExport, FailureGoesToTheErrorReportAndTheProgramGoesOn)
{
    const std::string target = dir.File("missing/t.xls");
    Answer(target);
    test::Of(*form).S1Click();
    WaitForExport();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].text.toStdString(), "Cannot create file \"" + target + "\". No such file or directory.");
    EXPECT_TRUE(ExportIdle);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

    // And the next export works.
    Answer(dir.File("t.xlsx"));
    test::Of(*form).S1Click();
    WaitForExport();
    EXPECT_TRUE(std::filesystem::exists(dir.File("t.xlsx")));
    EXPECT_EQ(reports.size(), 1u);
}

TEST_F(BrowserExport, NoSpreadsheetApplicationIsSilent)
{
    platform::SetAutomationClassHidden(exports::kSpreadsheetApplicationProgId, true);
    Answer(dir.File("t.xls"));
    test::Of(*form).S1Click();
    WaitForExport();
    platform::SetAutomationClassHidden(exports::kSpreadsheetApplicationProgId, false);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(Label(), "");
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST_F(BrowserExport, ClosingTheWindowDuringAnExportLeavesNoFile)
{
    store.MakeNumbered(40000, "big");
    test::Of(*form).qry4.SetSQL("SELECT * FROM big");
    Answer(dir.File("gone.xlsx"));
    test::Of(*form).S1Click();
    form.reset();
    EXPECT_TRUE(ExportIdle);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}
