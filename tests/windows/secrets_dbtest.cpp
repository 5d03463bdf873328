// The password stays where the user typed it: after a Login through the
// windows, no file the program wrote (tnsnames.ora, the hive, table.mdb,
// an export, temporary files in the program directory and in /tmp) and no text it
// showed or raised holds it, whether the password was right, wrong, or a
// query failed afterwards.
#include "LoginFixture.h"

#include "windows/Globals.h"
#include "windows/TestAccess.h"
#include "windows/TSaveDialog.h"
#include "platform/Utf8.h"

#include <QTest>

#include <chrono>
#include <filesystem>

using namespace querlin;
using namespace querlin::test;

namespace {

// Distinctive enough that it turns up nowhere by chance.
constexpr char kPassword[] = "Zx9-Secr3t#Pw-4417";
constexpr char kWrongPassword[] = "Wr0ng-Qv5#Passw0rd-2281";

std::string Upper(std::string text)
{
    return platform::AsciiUpper(text);
}

// The password in every form a file could carry it: UTF-8 and UTF-16LE
// (the hive), each compared without regard to ASCII case.
std::vector<std::string> Forms(const std::string& password)
{
    const std::u16string units = platform::Utf8ToUtf16(Upper(password));
    std::string utf16;
    for (char16_t u : units) {
        utf16 += static_cast<char>(u & 0xFF);
        utf16 += static_cast<char>(u >> 8);
    }
    return {Upper(password), utf16};
}

bool Holds(const std::string& bytes, const std::string& password)
{
    const std::string upper = Upper(bytes);
    for (const auto& form : Forms(password))
        if (upper.find(form) != std::string::npos)
            return true;
    return false;
}

class Secrets : public LoginEndToEnd {
protected:
    void SetUp() override
    {
        LoginEndToEnd::SetUp();
        Psql(database_, kSmallSite);
        AddRole("secret_keeper", kPassword);
        // The test's own SQL file named the password; it is the test's, not
        // the program's, and goes before the program starts.
        fs::remove(dir.File("step.sql"));
        app::SetMessageBoxRecorder(&boxes_);
        start_ = fs::file_time_type::clock::now() - std::chrono::seconds(2);
        testing::internal::CaptureStderr();
    }

    void TearDown() override
    {
        if (!stderrTaken_)
            testing::internal::GetCapturedStderr();
        LoginEndToEnd::TearDown();
    }

    // Every file the program may have written: the program directory
    // whole, and what appeared or changed in /tmp since the test began.
    std::vector<fs::path> WrittenFiles() const
    {
        std::vector<fs::path> files;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(dir.Path(), ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            if (it->is_regular_file(ec))
                files.push_back(it->path());
        for (auto it = fs::recursive_directory_iterator("/tmp", fs::directory_options::skip_permission_denied, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec) && (it.depth() >= 2 || it->path().filename().string().rfind("bash_jobs", 0) == 0 ||
                                         it->path() == dir.Path())) {
                it.disable_recursion_pending();
                continue;
            }
            if (it->is_regular_file(ec) && it->last_write_time(ec) >= start_ && it->file_size(ec) < (64u << 20))
                files.push_back(it->path());
        }
        return files;
    }

    // Checks files and texts for each password given.
    void ExpectNowhere(const std::vector<std::string>& passwords, const std::vector<std::string>& raisedTexts = {},
                       const std::string& exported = {})
    {
        const std::string err = testing::internal::GetCapturedStderr();
        stderrTaken_ = true;
        int checked = 0;
        bool sawTnsnames = false, sawHive = false, sawStore = false, sawOdbc = false, sawExport = exported.empty();
        for (const auto& file : WrittenFiles()) {
            const std::string bytes = ReadFile(file);
            ++checked;
            sawTnsnames |= file.filename() == "tnsnames.ora";
            sawHive |= file.filename() == "registry.reg";
            sawStore |= file.filename() == "table.mdb";
            sawOdbc |= file.filename() == "odbc.ini";
            sawExport |= file.filename() == exported;
            for (const auto& p : passwords)
                EXPECT_FALSE(Holds(bytes, p)) << file << " holds the password";
        }
        EXPECT_TRUE(sawTnsnames && sawHive && sawStore && sawOdbc && sawExport)
            << "the program's files were not all written";
        std::vector<std::string> texts = raisedTexts;
        texts.push_back(err);
        for (const auto& r : reports)
            texts.push_back(r.caption.toStdString() + "\n" + r.text.toStdString());
        for (const auto& b : boxes_)
            texts.push_back(b.caption.toStdString() + "\n" + b.text.toStdString());
        for (const auto& t : texts)
            for (const auto& p : passwords)
                EXPECT_FALSE(Holds(t, p)) << "a shown or raised text holds the password: " << t;
        EXPECT_GT(checked, 2);
    }

    std::vector<app::MessageBoxRecord> boxes_;
    fs::file_time_type start_;
    bool stderrTaken_ = false;
};

TEST_F(Secrets, RightPasswordIsInNoFileAndNoText)
{
    Login("secret_keeper", kPassword);
    ASSERT_TRUE(test::Of(*Form1).qry1.Active()) << "the login failed";
    // The viewed rows saved to a workbook: the worker opens its own record
    // set with the window's connection string.
    ASSERT_TRUE(test::Of(*Form1).qry4.Active());
    TSaveDialog::SetAnswerForTesting(
        [&](const std::string&) { return std::optional<std::string>(dir.File("oracle导出数据表.xls")); });
    test::Of(*Form1).S1Click();
    EXPECT_TRUE(QTest::qWaitFor([] { return ExportIdle.load(); }, 60000));
    QTest::qWait(50);
    TSaveDialog::SetAnswerForTesting(nullptr);
    ExpectNowhere({kPassword}, {}, "oracle导出数据表.xls");
}

TEST_F(Secrets, WrongPasswordIsInNoFileAndNoText)
{
    Login("secret_keeper", kWrongPassword);
    EXPECT_FALSE(test::Of(*Form1).qry1.Active());
    ExpectNowhere({kPassword, kWrongPassword});
}

TEST_F(Secrets, QueryErrorsAfterTheLoginCarryNoPassword)
{
    // The first favourite in name order is a table the browser cannot
    // open: the login itself meets a failing query.
    Favourites({"AAA.NOSUCH_TABLE", "BRAVEL.T_OTHER"});
    Login("secret_keeper", kPassword);
    ASSERT_TRUE(test::Of(*Form1).qry1.Active());
    EXPECT_FALSE(test::Of(*Form1).qry4.Active());
    std::vector<std::string> raised;
    // And the record set's own errors, as a handler would show them: a
    // missing table, a syntax error, a statement the read-only connection
    // refuses, and a second opening with another password.
    for (const char* sql : {"SELECT * FROM nosuch.table_of_nothing", "SELEC broken", "DELETE FROM bravel.t_other"}) {
        test::Of(*Form1).qry4.Close();
        test::Of(*Form1).qry4.SetSQL(sql);
        try {
            test::Of(*Form1).qry4.Open();
            ADD_FAILURE() << sql << " opened";
        } catch (const std::exception& e) {
            raised.push_back(e.what());
        }
    }
    test::Of(*frmmain).upass->setText(QString::fromUtf8(kWrongPassword));
    test::Of(*frmmain).setora();
    ExpectNowhere({kPassword, kWrongPassword}, raised);
}

} // namespace
