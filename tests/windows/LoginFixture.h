#pragma once
// Login end to end through the windows, against a database of its own on
// the PostgreSQL test server, reached through an ODBC data source named
// like the SID: the fixture that the login and browser tests share.
#include "ShellFixture.h"

#include "windows/MessageBox.h"
#include "windows/TestAccess.h"
#include "data/DataSet.h"
#include "data/Provider.h"
#include "favourites/Favourites.h"
#include "platform/AsciiText.h"

#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include <unistd.h>

namespace querlin::test {

namespace fs = std::filesystem;


inline std::string SourceFile(const std::string& relative)
{
    return (fs::path(__FILE__).parent_path() / "../.." / relative).lexically_normal().string();
}

// A PostgreSQL literal.
inline std::string Literal(const std::string& text)
{
    return platform::Enclose(text, '\'');
}

// A PostgreSQL quoted identifier.
inline std::string Identifier(const std::string& name)
{
    return platform::Enclose(name, '"');
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
        sid_ = database_;
        Dial(db.host);
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

    // Where Login dials: the login window's fixed port 1521 of this host.
    // Nothing is prepared for it: the Login itself registers the data
    // source named after the SID, which names the database.
    void Dial(const std::string& host) { host_ = host; }

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
        test::Of(*frmmain).ipadd->setText(QString::fromStdString(host_));
        ASSERT_EQ(test::Of(*frmmain).ipport->text(), "1521");
        test::Of(*frmmain).ipsid->setText(QString::fromStdString(sid_));
        test::Of(*frmmain).uname->setText(QString::fromUtf8(user));
        test::Of(*frmmain).upass->clear();
        QTest::keyClicks(test::Of(*frmmain).upass, QString::fromUtf8(password));
        ASSERT_EQ(test::Of(*frmmain).upass->text(), QString::fromUtf8(password));
        QTest::mouseClick(test::Of(*frmmain).btn1, Qt::LeftButton);
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

    static std::string Caption() { return test::Of(*Form1).grp1->title().toStdString(); }

    void ExpectBrowserShownWithoutReports()
    {
        EXPECT_TRUE(reports.empty()) << (reports.empty() ? "" : reports[0].text.toStdString());
        EXPECT_TRUE(Form1->isVisible());
        EXPECT_FALSE(frmmain->isVisible());
    }

    void ExpectNothingFromTheDatabase()
    {
        EXPECT_FALSE(test::Of(*Form1).qry1.Active());
        EXPECT_FALSE(test::Of(*Form1).qry2.Active());
        EXPECT_FALSE(test::Of(*Form1).qry4.Active());
        EXPECT_EQ(Caption(), "数据表");
    }

    std::string database_;
    std::string host_;
    std::string sid_;
    std::vector<std::string> roles_;
};

// The rows' text colours, as the grids paint them, and how many pixels of
// a colour lie in a part of a shot.
inline bool IsRed(QRgb p) { return qRed(p) > 200 && qGreen(p) < 90 && qBlue(p) < 90; }
inline bool IsBlue(QRgb p) { return qBlue(p) > 200 && qRed(p) < 90 && qGreen(p) < 90; }

inline int CountPixels(const QImage& image, QRect rect, bool (*test)(QRgb))
{
    int n = 0;
    rect = rect.intersected(image.rect());
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            n += test(image.pixel(x, y)) ? 1 : 0;
    return n;
}

inline const std::vector<std::string> kSeedsInNameOrder = {
    "BRAVEL.T_RUDATASOURCETYPE", "TELMIR.KJASSISTANTREF", "TELMIR.KJBASEUNITACCOUNT", "TELMIR.KJBASEUNITINFO",
};

// Two users: BRAVEL (first in name order) with two tables, TELMIR with one.
inline constexpr char kSmallSite[] = R"(
CREATE SCHEMA bravel;
CREATE TABLE bravel.t_rudatasourcetype (typeid integer, typename varchar(40));
INSERT INTO bravel.t_rudatasourcetype VALUES (1, 'Oracle 数据库'), (2, '电子表格');
CREATE TABLE bravel.t_other (x integer);
CREATE SCHEMA telmir;
CREATE TABLE telmir.kjbaseunitinfo (unitid integer);
)";


} // namespace querlin::test
