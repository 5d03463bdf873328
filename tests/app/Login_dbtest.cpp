// Login end to end through the windows, against a database of its own on
// the PostgreSQL test server, reached through an ODBC data source named
// like the SID: what the browser window holds afterwards, for good and bad
// passwords, odd dictionaries and odd favourites.
#include "ShellFixture.h"

#include "app/MessageBox.h"
#include "data/DataSet.h"
#include "favourites/Favourites.h"
#include "data/Provider.h"
#include "platform/AsciiText.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include <unistd.h>

using namespace querlin;
using querlin::test::ShellFixture;
namespace fs = std::filesystem;

using querlin::test::ReadFile;
using querlin::test::WriteFile;

namespace {

std::string SourceFile(const std::string& relative)
{
    return (fs::path(__FILE__).parent_path() / "../.." / relative).lexically_normal().string();
}

// A PostgreSQL literal.
std::string Literal(const std::string& text)
{
    return querlin::platform::Enclose(text, '\'');
}

// A PostgreSQL quoted identifier.
std::string Identifier(const std::string& name)
{
    return querlin::platform::Enclose(name, '"');
}

class LoginEndToEnd : public ShellFixture {
protected:
    void SetUp() override
    {
        ShellFixture::SetUp();
        const auto& db = test::RequireTestDatabase();
        database_ = "querlin_login_" + std::to_string(getpid());
        Psql("querlin", "DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
        Psql("querlin", "CREATE DATABASE " + database_ + " TEMPLATE template0 ENCODING 'UTF8'");
        PsqlFile(database_, SourceFile("scripts/testdb-fixture.sql"));
        WriteOdbcIni(db.port);
    }

    void TearDown() override
    {
        app::SetMessageBoxRecorder(nullptr);
        ShellFixture::TearDown();
        Psql("querlin", "DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
        for (const auto& role : roles_)
            Psql("querlin", "DROP ROLE IF EXISTS " + Identifier(role));
    }

    // Runs SQL on the test server as its superuser.
    void Psql(const std::string& database, const std::string& sql)
    {
        const std::string file = dir.File("step.sql");
        std::ofstream(file, std::ios::binary) << sql << ";\n";
        PsqlFile(database, file);
    }

    void PsqlFile(const std::string& database, const std::string& file)
    {
        const auto& db = test::RequireTestDatabase();
        const std::string command = "PGPASSWORD='" + db.password + "' psql -X -q -v ON_ERROR_STOP=1 -h " + db.host +
                                    " -p " + std::to_string(db.port) + " -U " + db.user + " -d " + database +
                                    " -f '" + file + "' >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    // A data source named like the SID, with the test server's settings and
    // this test's database; or a port nobody listens on. Each gets a SID and
    // a file of its own: the driver manager keeps what it read from a data
    // source's file for a while, also when the file is replaced.
    void WriteOdbcIni(int port)
    {
        static int counter = 0;
        sid_ = "favsite" + std::to_string(++counter);
        const auto& db = test::RequireTestDatabase();
        std::string text = ReadFile(db.odbcIni);
        ASSERT_FALSE(text.empty()) << "no data source settings in " << db.odbcIni;
        text = std::regex_replace(text, std::regex(R"(^\[.*\]$)", std::regex::multiline), "[" + sid_ + "]");
        text = std::regex_replace(text, std::regex(R"(^Database=.*$)", std::regex::multiline), "Database=" + database_);
        text = std::regex_replace(text, std::regex(R"(^Port=.*$)", std::regex::multiline), "Port=" + std::to_string(port));
        odbcIni_ = dir.File(sid_ + ".ini");
        std::ofstream(odbcIni_, std::ios::binary) << text;
        setenv("ODBCINI", odbcIni_.c_str(), 1);
    }

    void AddRole(const std::string& name, const std::string& password)
    {
        roles_.push_back(name);
        Psql("querlin", "DROP ROLE IF EXISTS " + Identifier(name));
        Psql("querlin", "CREATE ROLE " + Identifier(name) + " LOGIN SUPERUSER PASSWORD " + Literal(password));
    }

    // A favourites file in the program directory holding these favourites.
    void Favourites(const std::vector<std::string>& texts)
    {
        const std::string file = dir.File("table.mdb");
        data::CreateLocalStore(favourites::CreationConnectionString(file));
        data::TADOQuery q;
        q.SetConnectionString(favourites::StoreConnectionString(file));
        q.SetSQL(favourites::kCreateTableSql);
        q.Execute();
        for (const auto& text : texts) {
            q.SetSQL("insert into tablecy (常用数据表) values (" + Literal(text) + ")");
            q.Execute();
        }
    }

    // Starts the program, fills the fields as a user would and presses Login.
    void Login(const std::string& user, const std::string& password)
    {
        Start();
        frmmain->ipsid->setText(QString::fromStdString(sid_));
        frmmain->uname->setText(QString::fromUtf8(user));
        frmmain->upass->clear();
        QTest::keyClicks(frmmain->upass, QString::fromUtf8(password));
        ASSERT_EQ(frmmain->upass->text(), QString::fromUtf8(password));
        QTest::mouseClick(frmmain->btn1, Qt::LeftButton);
    }

    static std::vector<std::string> Column(data::TADOQuery& q, const char* field)
    {
        std::vector<std::string> values;
        if (!q.Active())
            return values;
        for (q.MoveFirst(); !q.AtEnd(); q.MoveNext())
            values.push_back(q.FieldNamed(field).PlainText());
        q.MoveFirst();
        return values;
    }

    static std::string Caption() { return Form1->grp1->title().toStdString(); }

    void ExpectBrowserShownWithoutReports()
    {
        EXPECT_TRUE(reports.empty()) << (reports.empty() ? "" : reports[0].text.toStdString());
        EXPECT_TRUE(Form1->isVisible());
        EXPECT_FALSE(frmmain->isVisible());
    }

    void ExpectNothingFromTheDatabase()
    {
        EXPECT_FALSE(Form1->qry1.Active());
        EXPECT_FALSE(Form1->qry2.Active());
        EXPECT_FALSE(Form1->qry4.Active());
        EXPECT_EQ(Caption(), "数据表");
    }

    std::string database_;
    std::string odbcIni_;
    std::string sid_;
    std::vector<std::string> roles_;
};

const std::vector<std::string> kSeedsInNameOrder = {
    "BRAVEL.T_RUDATASOURCETYPE", "TELMIR.KJASSISTANTREF", "TELMIR.KJBASEUNITACCOUNT", "TELMIR.KJBASEUNITINFO",
};

// Two users: BRAVEL (first in name order) with two tables, TELMIR with one.
const char kSmallSite[] = R"(
CREATE SCHEMA bravel;
CREATE TABLE bravel.t_rudatasourcetype (typeid integer, typename varchar(40));
INSERT INTO bravel.t_rudatasourcetype VALUES (1, 'Oracle 数据库'), (2, '电子表格');
CREATE TABLE bravel.t_other (x integer);
CREATE SCHEMA telmir;
CREATE TABLE telmir.kjbaseunitinfo (unitid integer);
)";

} // namespace

TEST_F(LoginEndToEnd, RightPasswordFillsAllFourListsAndTheCaption)
{
    // The demo site, as scripts/run serves it.
    PsqlFile(database_, SourceFile("scripts/demo-fixture.sql"));
    Login("system", "manager");
    ExpectBrowserShownWithoutReports();
    EXPECT_EQ(Column(Form1->qry1, "用户"),
              (std::vector<std::string>{"BRAVEL", "HR", "OUTLN", "SCOTT", "TELMIR"}));
    EXPECT_EQ(Column(Form1->qry2, "用户表"), (std::vector<std::string>{"T_RUDATASOURCETYPE", "T_RUREPORT"}));
    EXPECT_EQ(Column(Form1->qry3, "常用数据表"), kSeedsInNameOrder);
    ASSERT_TRUE(Form1->qry4.Active());
    EXPECT_EQ(Form1->qry4.RecordCount(), 5);
    EXPECT_EQ(Form1->qry4.FieldNamed("typename").PlainText(), "Oracle 数据库");
    EXPECT_EQ(Caption(), "数据表：BRAVEL.T_RUDATASOURCETYPE");
    EXPECT_EQ(Form1->qry4.SQL(), "SELECT * FROM BRAVEL.T_RUDATASOURCETYPE");
    EXPECT_EQ(FavouritesFileName, "table.mdb");
    EXPECT_TRUE(fs::exists(dir.File("table.mdb")));
    // Each of the three has its own copy of the same connection string.
    EXPECT_EQ(Form1->qry1.ConnectionString(),
              "Provider=MSDASQL.1;Password=manager;Persist Security Info=True;User ID=system;Mode=Read;"
              "Extended Properties=\"DSN=" + sid_ + ";UID=system;PWD=manager;SERVER=" + sid_ + ";\"");
    EXPECT_EQ(Form1->qry2.ConnectionString(), Form1->qry1.ConnectionString());
    EXPECT_EQ(Form1->qry4.ConnectionString(), Form1->qry1.ConnectionString());
}

TEST_F(LoginEndToEnd, WrongPasswordShowsNothingButTheFavourites)
{
    Psql(database_, kSmallSite);
    Login("system", "wrong");
    ExpectBrowserShownWithoutReports();
    ExpectNothingFromTheDatabase();
    EXPECT_EQ(Column(Form1->qry3, "常用数据表"), kSeedsInNameOrder);
}

TEST_F(LoginEndToEnd, DatabaseDownBehavesAsAWrongPassword)
{
    Psql(database_, kSmallSite);
    // A port that was free a moment ago: nobody listens there.
    WriteOdbcIni(1);
    Login("system", "manager");
    ExpectBrowserShownWithoutReports();
    ExpectNothingFromTheDatabase();
    EXPECT_EQ(Column(Form1->qry3, "常用数据表"), kSeedsInNameOrder);
}

TEST_F(LoginEndToEnd, FirstUserWithoutTablesStillShowsTheFirstFavourite)
{
    Psql(database_, std::string(kSmallSite) + "CREATE SCHEMA aaa_empty;");
    Login("system", "manager");
    ExpectBrowserShownWithoutReports();
    EXPECT_EQ(Column(Form1->qry1, "用户"), (std::vector<std::string>{"AAA_EMPTY", "BRAVEL", "TELMIR"}));
    ASSERT_TRUE(Form1->qry2.Active());
    EXPECT_EQ(Form1->qry2.RecordCount(), 0);
    ASSERT_TRUE(Form1->qry4.Active());
    EXPECT_EQ(Form1->qry4.RecordCount(), 2);
    EXPECT_EQ(Caption(), "数据表：BRAVEL.T_RUDATASOURCETYPE");
}

TEST_F(LoginEndToEnd, QuoteInTheFirstUserNameStillListsItsTables)
{
    Psql(database_, std::string(kSmallSite) + "CREATE SCHEMA \"a'b\"; CREATE TABLE \"a'b\".t1 (x integer);");
    Login("system", "manager");
    ExpectBrowserShownWithoutReports();
    ASSERT_FALSE(Column(Form1->qry1, "用户").empty());
    EXPECT_EQ(Column(Form1->qry1, "用户")[0], "A'B");
    EXPECT_EQ(Column(Form1->qry2, "用户表"), (std::vector<std::string>{"T1"}));
    EXPECT_EQ(Caption(), "数据表：BRAVEL.T_RUDATASOURCETYPE");
}

TEST_F(LoginEndToEnd, EmptyFavouritesLeaveTheRowsEmpty)
{
    Psql(database_, kSmallSite);
    Favourites({});
    Login("system", "manager");
    ExpectBrowserShownWithoutReports();
    EXPECT_EQ(Column(Form1->qry1, "用户"), (std::vector<std::string>{"BRAVEL", "TELMIR"}));
    EXPECT_EQ(Column(Form1->qry2, "用户表"), (std::vector<std::string>{"T_OTHER", "T_RUDATASOURCETYPE"}));
    EXPECT_TRUE(Form1->qry3.Active());
    EXPECT_EQ(Form1->qry3.RecordCount(), 0);
    EXPECT_FALSE(Form1->qry4.Active());
    EXPECT_EQ(Caption(), "数据表");
}

TEST_F(LoginEndToEnd, FirstFavouriteThatIsNoTableLeavesTheRowsEmpty)
{
    struct Case {
        const char* label;
        const char* favourite;
    };
    const Case cases[] = {
        {"missing table", "AAA.NOSUCH"},
        {"not a table name", "AAA; DROP SCHEMA bravel CASCADE --"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove(dir.File("table.mdb"));
        Psql(database_, "DROP SCHEMA IF EXISTS bravel CASCADE; DROP SCHEMA IF EXISTS telmir CASCADE;");
        Psql(database_, kSmallSite);
        Favourites({c.favourite, "BRAVEL.T_RUDATASOURCETYPE"});
        Login("system", "manager");
        ExpectBrowserShownWithoutReports();
        EXPECT_EQ(Column(Form1->qry1, "用户"), (std::vector<std::string>{"BRAVEL", "TELMIR"}));
        EXPECT_EQ(Column(Form1->qry2, "用户表"), (std::vector<std::string>{"T_OTHER", "T_RUDATASOURCETYPE"}));
        EXPECT_FALSE(Form1->qry4.Active());
        EXPECT_EQ(Caption(), "数据表");
        EXPECT_EQ(Column(Form1->qry3, "常用数据表").size(), 2u);
        app::DestroyWindows();
        app::ResetTerminationForTesting();
    }
}

TEST_F(LoginEndToEnd, SecondOpeningWithAnotherPasswordSaysEooorAndKeepsTheLists)
{
    Psql(database_, kSmallSite);
    std::vector<app::MessageBoxRecord> boxes;
    app::SetMessageBoxRecorder(&boxes);
    Login("system", "manager");
    ASSERT_TRUE(Form1->qry1.Active());
    const std::string before = Form1->qry1.ConnectionString();
    frmmain->upass->setText(QStringLiteral("other"));
    frmmain->setora();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, QStringLiteral("Querlin"));
    EXPECT_EQ(boxes[0].text, QStringLiteral("eooor"));
    EXPECT_EQ(Form1->qry1.ConnectionString(), before);
    EXPECT_EQ(Form1->qry2.ConnectionString(), before) << "the steps after the failed one did not run";
    EXPECT_TRUE(Form1->qry1.Active());
    EXPECT_TRUE(Form1->qry2.Active());
}

TEST_F(LoginEndToEnd, BrowserWindowAddsAndRemovesFavourites)
{
    Psql(database_, kSmallSite);
    Login("system", "manager");
    ASSERT_EQ(Form1->qry2.FieldNamed("用户表").PlainText(), "T_OTHER");

    app::Guard([] { Form1->N2Click(); });
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(Form1->qry3.FieldNamed("常用数据表").PlainText(), "BRAVEL.T_OTHER") << "the new favourite is current";
    std::vector<std::string> expected = kSeedsInNameOrder;
    expected.push_back("BRAVEL.T_OTHER");
    EXPECT_EQ(Column(Form1->qry3, "常用数据表"), expected) << "shown last until the list is reopened";

    Form1->qry3.MoveLast();
    app::Guard([] { Form1->N3Click(); });
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(Column(Form1->qry3, "常用数据表"), kSeedsInNameOrder);

    // The table list failed to refresh: the add is reported and its empty
    // row stays pending until the remove drops it; no favourite is lost.
    Form1->qry2.Close();
    app::Guard([] { Form1->N2Click(); });
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].text, QString::fromUtf8("qry2: Field '用户表' not found."));
    EXPECT_EQ(reports[0].caption, QStringLiteral("Querlin"));
    EXPECT_EQ(Form1->qry3.State(), data::TDataSetState::dsInsert);
    app::Guard([] { Form1->N3Click(); });
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_EQ(Column(Form1->qry3, "常用数据表"), kSeedsInNameOrder);
    Form1->qry3.Close();
    Form1->qry3.Open();
    EXPECT_EQ(Column(Form1->qry3, "常用数据表"), kSeedsInNameOrder) << "as stored";
}

TEST_F(LoginEndToEnd, FavouritesFileThatIsNoStoreStopsLoginWithAReport)
{
    Psql(database_, kSmallSite);
    const std::string garbage = "not a database" + std::string(3000, '!');
    std::ofstream(dir.File("table.mdb"), std::ios::binary) << garbage;
    Login("system", "manager");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_FALSE(reports[0].text.isEmpty());
    EXPECT_TRUE(frmmain->isVisible()) << "the login window stays";
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_TRUE(Form1->qry1.ConnectionString().empty()) << "no database connection string set yet";
    EXPECT_EQ(ReadFile(dir.File("table.mdb")), garbage);
    // The program is still usable: with the file out of the way, Login works.
    fs::rename(dir.File("table.mdb"), dir.File("table.bad"));
    QTest::mouseClick(frmmain->btn1, Qt::LeftButton);
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_EQ(Column(Form1->qry1, "用户"), (std::vector<std::string>{"BRAVEL", "TELMIR"}));
}

// ---- Hostile passwords and user names reach the server whole --------------

namespace {

struct Credentials {
    const char* label;
    const char* user;
    const char* password;
};

void PrintTo(const Credentials& c, std::ostream* out)
{
    *out << c.label;
}

class LoginWithHostileCredentials : public LoginEndToEnd,
                                    public ::testing::WithParamInterface<Credentials> {};

const Credentials kHostile[] = {
    {"Semicolon", "fav_semi", "pa;ss"},
    {"SmuggledAttribute", "fav_smuggle", "x;DSN=nosuch;UID=postgres"},
    {"DoubleQuote", "fav_dq", "pa\"ss"},
    {"LeadingDoubleQuote", "fav_ldq", "\"quoted\""},
    {"SingleQuote", "fav_sq", "it's"},
    {"LeadingSingleQuote", "fav_lsq", "'x'"},
    {"Braces", "fav_br", "{a}b}"},
    {"ClosingBraceAndSemicolon", "fav_cb", "a};b"},
    {"EqualsSign", "fav_eq", "a=b"},
    {"OuterBlanks", "fav_bl", " pad "},
    {"Everything", "fav_all", "'\";{}=; x"},
    // User names with quotes of both kinds; one that needs braces in the
    // driver's part cannot be tried here, as the stand-in driver takes
    // braces off passwords only.
    {"QuotesInUserName", "fav_o'k\"u", "plain"},
    {"LeadingQuoteInUserName", "'fav\"lq", "it's;{x}"},
};

} // namespace

TEST_P(LoginWithHostileCredentials, ConnectWhenRight)
{
    const auto& c = GetParam();
    Psql(database_, kSmallSite);
    AddRole(c.user, c.password);
    Login(c.user, c.password);
    ExpectBrowserShownWithoutReports();
    EXPECT_EQ(Column(Form1->qry1, "用户"), (std::vector<std::string>{"BRAVEL", "TELMIR"}));
    EXPECT_EQ(Caption(), "数据表：BRAVEL.T_RUDATASOURCETYPE");
}

TEST_P(LoginWithHostileCredentials, FailSilentlyWhenWrong)
{
    const auto& c = GetParam();
    Psql(database_, kSmallSite);
    AddRole(c.user, c.password);
    Login(c.user, std::string(c.password) + "X");
    ExpectBrowserShownWithoutReports();
    ExpectNothingFromTheDatabase();
}

INSTANTIATE_TEST_SUITE_P(Passwords, LoginWithHostileCredentials, ::testing::ValuesIn(kHostile),
                         [](const auto& info) { return std::string(info.param.label); });
