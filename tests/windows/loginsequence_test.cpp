// The login window's three file and registry steps as the user meets them:
// the fields filled from "tnsnames.ora" at creation, and the file and the
// registration written by Login, with failures reported and the window left
// usable.
#include "windows/TestAccess.h"
#include "ShellFixture.h"

#include "login/NetServiceFile.h"

#include <QLineEdit>
#include <QPushButton>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

using namespace querlin;
using querlin::test::ShellFixture;
namespace fs = std::filesystem;

using querlin::test::ReadFile;
using querlin::test::WriteFile;

namespace {

const std::string kEnvironment = "HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment";
const std::string kOdbcIni = "HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBC.INI";
const std::string kDataSourceList = kOdbcIni + "\\ODBC Data Sources";

void Type(QLineEdit* field, const QString& text)
{
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, text);
}

class LoginSequence : public ShellFixture {
protected:
    fs::path NetServiceFile() const { return dir.Path() / "tnsnames.ora"; }
    std::string Text(const std::string& key, const std::string& name) const
    {
        auto value = hive->Read(key, name);
        return value ? value->data : "<absent>";
    }
    void FillAndLogin(const QString& host, const QString& sid, const QString& user)
    {
        Type(test::Of(*frmmain).ipadd, host);
        Type(test::Of(*frmmain).ipsid, sid);
        Type(test::Of(*frmmain).uname, user);
        QTest::mouseClick(test::Of(*frmmain).btn1, Qt::LeftButton);
    }
};

// ---- Creation: the fields from the file ------------------------------------

TEST_F(LoginSequence, CreationFillsHostPortAndSidFromTheFile)
{
    // A hive we may not write: the data-source step leaves the fields alone.
    std::ofstream(dir.File("notafolder")) << "";
    UseHive(dir.File("notafolder") + "/registry.reg");
    login::WriteNetServiceFile(NetServiceFile(), "dbserver", "1522", "orcl");
    Start();
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(test::Of(*frmmain).ipadd->text(), "DBSERVER");
    EXPECT_EQ(test::Of(*frmmain).ipport->text(), "1522");
    EXPECT_EQ(test::Of(*frmmain).ipsid->text(), "ORCL");
}

TEST_F(LoginSequence, CreationWithoutFileKeepsTheDefaults)
{
    std::ofstream(dir.File("notafolder")) << "";
    UseHive(dir.File("notafolder") + "/registry.reg");
    Start();
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(test::Of(*frmmain).ipadd->text(), "192.168.10.42");
    EXPECT_EQ(test::Of(*frmmain).ipport->text(), "1521");
    EXPECT_EQ(test::Of(*frmmain).ipsid->text(), "site042");
}

TEST_F(LoginSequence, FileThatCannotBeOpenedEndsCreationBeforeTheRegistryStep)
{
    fs::create_directory(NetServiceFile());
    Start();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].text.toStdString(),
              "Cannot open file \"" + NetServiceFile().string() + "\". Is a directory.");
    EXPECT_TRUE(frmmain->isVisible());
    EXPECT_EQ(test::Of(*frmmain).ipsid->text(), "site042");
    EXPECT_EQ(test::Of(*frmmain).uname->text(), "system");
    EXPECT_FALSE(fs::exists(hive->FileName())) << "the data-source key was not created";
}

// ---- Login: the file and the registration ----------------------------------

TEST_F(LoginSequence, LoginWritesTheFileAndRegistersTheDataSource)
{
    Start();
    FillAndLogin("dbserver", "orcl", "scott");
    EXPECT_EQ(ReadFile(NetServiceFile()), login::NetServiceText("dbserver", "1521", "orcl"));
    EXPECT_EQ(Text(kOdbcIni + "\\orcl", "DSN"), "orcl");
    EXPECT_EQ(Text(kOdbcIni + "\\orcl", "UID"), "scott");
    EXPECT_EQ(Text(kOdbcIni + "\\orcl", "PWD"), "");
    EXPECT_EQ(Text(kEnvironment, "TNS_ADMIN"), dir.Path().string() + "/");
    // Nobody answers for dbserver here: the sign-on is reported.
    ExpectSignOnReported();
}

// A step that fails is reported, stops the sequence there and leaves the
// window as it was; once the cause is gone, Login runs again from the
// start, beginning with the file.
struct FailedStepCase {
    const char* name;
    // Each gets the net service file's path and the machine's hive.
    std::function<void(const fs::path&, platform::FileRegistry&)> breakIt;
    std::function<void(const fs::path&, platform::FileRegistry&)> mendIt;
    std::function<std::string(const fs::path&)> report;
    bool fileWritten;  // steps already done stay done
};

void PrintTo(const FailedStepCase& c, std::ostream* os)
{
    *os << c.name;
}

class LoginSequenceFailure : public LoginSequence, public testing::WithParamInterface<FailedStepCase> {};

TEST_P(LoginSequenceFailure, IsReportedAndASecondLoginStartsAgain)
{
    const auto& c = GetParam();
    Start();
    c.breakIt(NetServiceFile(), *hive);
    FillAndLogin("dbserver", "orcl", "scott");

    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].text.toStdString(), c.report(NetServiceFile()));
    EXPECT_TRUE(frmmain->isVisible());
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_EQ(test::Of(*frmmain).ipsid->text(), "orcl");
    EXPECT_EQ(fs::is_regular_file(NetServiceFile()), c.fileWritten);
    EXPECT_EQ(Text(kDataSourceList, "orcl"), "<absent>");
    if (!c.fileWritten) {
        EXPECT_EQ(Text(kEnvironment, "TNS_ADMIN"), "<absent>") << "nothing is registered";
    }

    c.mendIt(NetServiceFile(), *hive);
    reports.clear();
    FillAndLogin("otherserver", "orcl", "scott");
    EXPECT_EQ(ReadFile(NetServiceFile()), login::NetServiceText("otherserver", "1521", "orcl"));
    EXPECT_EQ(Text(kDataSourceList, "orcl"), "Microsoft ODBC for Oracle");
    // The sequence ran to the sign-on, which nobody answers here.
    ExpectSignOnReported();
}

INSTANTIATE_TEST_SUITE_P(
    Steps, LoginSequenceFailure,
    testing::Values(
        FailedStepCase{
            "FileCannotBeCreated",
            [](const fs::path& file, platform::FileRegistry&) { fs::create_directory(file); },
            [](const fs::path& file, platform::FileRegistry&) { fs::remove(file); },
            [](const fs::path& file) { return "Cannot create file \"" + file.string() + "\". Is a directory."; },
            false},
        FailedStepCase{
            "DataSourceValueOfAnotherType",
            [](const fs::path&, platform::FileRegistry& hive) {
                hive.Write(kOdbcIni + "\\orcl", "BufferSize",
                              platform::RegValue{platform::RegType::Dword, std::string("\xff\xff\0\0", 4)});
            },
            [](const fs::path&, platform::FileRegistry& hive) {
                hive.Write(kOdbcIni + "\\orcl", "BufferSize", platform::RegValue{platform::RegType::Sz, "4096"});
            },
            [](const fs::path&) { return std::string("Invalid data type for 'BufferSize'"); },
            true}),
    [](const testing::TestParamInfo<FailedStepCase>& info) { return std::string(info.param.name); });

} // namespace
