// The demo that scripts/run serves: the login window comes up filled from
// the prepared program directory, and the password from the README logs in.
#include "windows/TestAccess.h"
#include "ShellFixture.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include <cstdlib>
#include <fstream>
#include <map>

using namespace querlin;
using querlin::test::ShellFixture;
namespace fs = std::filesystem;

namespace {

std::string Script(const std::string& name)
{
    return (fs::path(__FILE__).parent_path() / "../../scripts" / name).lexically_normal().string();
}

class Demo : public ShellFixture {
protected:
    void SetUp() override
    {
        ShellFixture::SetUp();
        server_ = dir.File("server");
        app_ = dir.File("app");
        // An address of its own, beside a demo a developer may be running.
        const std::string command = "QUERLIN_DEMO_LISTEN=" + test::SideAddress(7) + ":1521 " + Script("demo") +
                                    " start '" + server_ + "' '" + app_ + "' >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        started_ = true;
        std::ifstream in(server_ + "/demo.env");
        std::string line;
        while (std::getline(in, line))
            if (auto eq = line.find('='); eq != std::string::npos)
                env_[line.substr(0, eq)] = line.substr(eq + 1);
        EXPECT_EQ(env_.count("ODBCINI"), 0u) << "no data source is prepared";
        ASSERT_FALSE(env_["QUERLIN_REGISTRY"].empty());
        UseHive(env_["QUERLIN_REGISTRY"]);
        platform::SetProgramDirectoryForTesting(app_ + "/");
    }

    void TearDown() override
    {
        ShellFixture::TearDown();
        if (started_)
            std::system((Script("demo") + " stop '" + server_ + "' >/dev/null 2>&1").c_str());
    }

    std::string server_;
    std::string app_;
    bool started_ = false;
    std::map<std::string, std::string> env_;
};

} // namespace

TEST_F(Demo, LoginWindowComesUpFilledAndTheReadmePasswordLogsIn)
{
    Start();
    EXPECT_EQ(test::Of(*frmmain).ipadd->text().toStdString(), test::SideAddress(7));
    EXPECT_EQ(test::Of(*frmmain).ipport->text(), QStringLiteral("1521"));
    EXPECT_EQ(test::Of(*frmmain).ipsid->text(), QStringLiteral("site042"));
    EXPECT_EQ(test::Of(*frmmain).uname->text(), QStringLiteral("system"));
    EXPECT_TRUE(test::Of(*frmmain).upass->text().isEmpty());

    QTest::keyClicks(test::Of(*frmmain).upass, QStringLiteral("manager"));
    QTest::mouseClick(test::Of(*frmmain).btn1, Qt::LeftButton);

    EXPECT_TRUE(reports.empty()) << (reports.empty() ? "" : reports[0].text.toStdString());
    EXPECT_TRUE(Form1->isVisible());
    ASSERT_TRUE(test::Of(*Form1).qry1.Active());
    EXPECT_EQ(test::Of(*Form1).qry1.RecordCount(), 5);
    EXPECT_EQ(test::Of(*Form1).qry1.FieldNamed("用户").PlainText(), "BRAVEL");
    ASSERT_TRUE(test::Of(*Form1).qry2.Active());
    EXPECT_EQ(test::Of(*Form1).qry2.FieldNamed("用户表").PlainText(), "T_RUDATASOURCETYPE");
    ASSERT_TRUE(test::Of(*Form1).qry4.Active());
    EXPECT_EQ(test::Of(*Form1).qry4.RecordCount(), 5);
    EXPECT_EQ(test::Of(*Form1).grp1->title(), QString::fromUtf8("数据表：BRAVEL.T_RUDATASOURCETYPE"));
    EXPECT_TRUE(fs::exists(app_ + "/table.mdb"));

    // Every favourite out of the box names a table of the demo, the big one
    // included.
    for (test::Of(*Form1).qry3.MoveFirst(); !test::Of(*Form1).qry3.AtEnd(); test::Of(*Form1).qry3.MoveNext()) {
        const std::string favourite = test::Of(*Form1).qry3.FieldNamed("常用数据表").PlainText();
        SCOPED_TRACE(favourite);
        data::TADOQuery rows;
        rows.SetConnectionString(test::Of(*Form1).qry4.ConnectionString());
        rows.SetSQL("SELECT * FROM " + favourite);
        ASSERT_NO_THROW(rows.Open());
        EXPECT_GT(rows.RecordCount(), 0);
        if (favourite == "TELMIR.KJBASEUNITACCOUNT") {
            EXPECT_GE(rows.RecordCount(), 100000);
        }
    }
}
