// Login on a machine where only the packages are installed: nothing but the
// host, SID, user and password the user types reaches the connection. The
// Login registers the data source with the driver manager itself, from the
// net service entry it wrote, and a sign-on that fails is told.
#include "windows/TestAccess.h"
#include "LoginFixture.h"
#include "testsupport/SilentListener.h"

#include "data/OdbcProvider.h"
#include "testsupport/PrivateServer.h"


#include <iostream>
#include <map>

using namespace querlin;
using namespace querlin::test;

namespace {

// The data sources of one unixODBC file, section by section.
std::map<std::string, std::map<std::string, std::string>> Sections(const std::string& file)
{
    std::map<std::string, std::map<std::string, std::string>> sections;
    std::istringstream in(ReadFile(file));
    std::string current;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() > 1 && line.front() == '[' && line.back() == ']') {
            current = line.substr(1, line.size() - 2);
            sections[current];
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || current.empty())
            continue;
        auto trim = [](std::string t) { return std::string(platform::Trim(t)); };
        sections[current][trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
    }
    return sections;
}

class Connect : public LoginEndToEnd {
protected:
    std::string MachineOdbcIni() const { return odbcMachineFolder + "/odbc.ini"; }
};

} // namespace

TEST_F(Connect, LoginRegistersTheDataSourceFromTheNetServiceEntryAndASecondLoginWritesNothing)
{
    Psql(database_, kSmallSite);
    Login("system", "manager");
    ExpectBrowserShownWithoutReports();
    EXPECT_EQ(Column(test::Of(*Form1).qry1, "用户"), (std::vector<std::string>{"BRAVEL", "TELMIR"}));

    const auto sections = Sections(MachineOdbcIni());
    ASSERT_EQ(sections.count(sid_), 1u) << ReadFile(MachineOdbcIni());
    const auto& source = sections.at(sid_);
    EXPECT_EQ(source.at("Driver"), "PostgreSQL Unicode");
    EXPECT_EQ(source.at("Servername"), test::RequireTestDatabase().host);
    EXPECT_EQ(source.at("Port"), "1521");
    EXPECT_EQ(source.at("Database"), database_);
    EXPECT_EQ(source.at("Username"), "system");
    for (const auto& [key, value] : source) {
        EXPECT_NE(platform::AsciiUpper(key), "PWD");
        EXPECT_NE(platform::AsciiUpper(key), "PASSWORD");
        EXPECT_EQ(value.find("manager"), std::string::npos) << key;
    }

    // The same fields again: no file changes.
    const std::string odbcBefore = ReadFile(MachineOdbcIni());
    const std::string hiveBefore = ReadFile(hive->FileName());
    const std::string tnsBefore = ReadFile(dir.File("tnsnames.ora"));
    const auto odbcTime = fs::last_write_time(MachineOdbcIni());
    const int hiveWrites = hive->WriteCount();
    app::DestroyWindows();
    app::ResetTerminationForTesting();
    Login("system", "manager");
    ExpectBrowserShownWithoutReports();
    EXPECT_EQ(ReadFile(MachineOdbcIni()), odbcBefore);
    EXPECT_EQ(fs::last_write_time(MachineOdbcIni()), odbcTime);
    EXPECT_EQ(ReadFile(hive->FileName()), hiveBefore);
    EXPECT_EQ(hive->WriteCount(), hiveWrites);
    EXPECT_EQ(ReadFile(dir.File("tnsnames.ora")), tnsBefore);
}

TEST_F(Connect, SecondSidOnAnotherAddressIsRegisteredBesideTheFirst)
{
    Psql(database_, kSmallSite);
    Login("system", "manager");
    ExpectBrowserShownWithoutReports();

    // Another site: its own server on another loopback address, its
    // database named QUERLIN.
    PrivateServer other("otherpw", "CREATE SCHEMA onlyhere;", SideAddress(5) + ":1521");
    app::DestroyWindows();
    app::ResetTerminationForTesting();
    Dial(other.Host());
    sid_ = "QUERLIN";
    Login("system", "otherpw");
    ExpectBrowserShownWithoutReports();
    EXPECT_EQ(Column(test::Of(*Form1).qry1, "用户"), (std::vector<std::string>{"ONLYHERE"}));

    const auto sections = Sections(MachineOdbcIni());
    ASSERT_EQ(sections.count(database_), 1u);
    ASSERT_EQ(sections.count("QUERLIN"), 1u);
    EXPECT_EQ(sections.at(database_).at("Servername"), test::RequireTestDatabase().host);
    EXPECT_EQ(sections.at("QUERLIN").at("Servername"), SideAddress(5));
    EXPECT_EQ(sections.at("QUERLIN").at("Database"), "querlin");
}

TEST_F(Connect, NoDriverInstalledSaysWhatToInstallAndKeepsTheLoginWindow)
{
    Psql(database_, kSmallSite);
    UseOdbcMachineFiles(false);
    Login("system", "manager");
    ASSERT_EQ(reports.size(), 1u);
    const std::string report = reports[0].text.toStdString();
    EXPECT_NE(report.find("No ODBC driver"), std::string::npos) << report;
    EXPECT_NE(report.find("odbc-postgresql"), std::string::npos) << report;
    EXPECT_TRUE(frmmain->isVisible());
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_FALSE(fs::exists(MachineOdbcIni()) && !Sections(MachineOdbcIni()).empty());

    // Once the driver is there, the next Login goes through.
    UseOdbcMachineFiles(true);
    reports.clear();
    QTest::mouseClick(test::Of(*frmmain).btn1, Qt::LeftButton);
    ExpectBrowserShownWithoutReports();
}

TEST_F(Connect, HostThatNeverAnswersIsReportedAfterTheTimeOut)
{
    Psql(database_, kSmallSite);
    const std::string silentHost = SideAddress(6);
    test::SilentListener silent(silentHost);
    data::SetOdbcLoginTimeoutForTesting(2);
    Dial(silentHost);
    Login("system", "manager");
    data::SetOdbcLoginTimeoutForTesting(0);
    ExpectSignOnReported();
    std::cout << "[ connect ] a host that never answers: " << reports[0].text.toStdString() << "\n";
}
