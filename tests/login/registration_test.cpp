#include "login/OdbcDataSource.h"
#include "login/Registration.h"

#include "platform/Error.h"
#include "platform/FileRegistry.h"
#include "platform/UserOverMachineRegistry.h"
#include "testsupport/TestSupport.h"
#include "testsupport/WithoutOverrideRights.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>

using querlin::login::RegisterClient;
using querlin::platform::FileRegistry;
using querlin::platform::RegType;
using querlin::platform::RegValue;
namespace fs = std::filesystem;

using querlin::test::ErrorOf;
namespace login = querlin::login;

namespace {

const std::string Environment = "HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment";
const std::string OdbcIni = "HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBC.INI";
const std::string DataSourceList = OdbcIni + "\\ODBC Data Sources";
const std::string ProgramDir = "/opt/querlin/";
const std::string Driver = "%systemroot%\\\\system32\\\\msorcl32.dll";

RegValue Sz(const std::string& text)
{
    return {RegType::Sz, text};
}
RegValue ExpandSz(const std::string& text)
{
    return {RegType::ExpandSz, text};
}

class Registration : public testing::Test {
protected:
    std::optional<RegValue> Value(const std::string& key, const std::string& name) const
    {
        return registry.Read(key, name);
    }
    std::string Text(const std::string& key, const std::string& name) const
    {
        auto value = registry.Read(key, name);
        return value ? value->data : "<absent>";
    }
    // Writes done by one Login.
    int Login(const std::string& sid, const std::string& user)
    {
        int before = registry.WriteCount();
        RegisterClient(registry, sid, user, ProgramDir);
        return registry.WriteCount() - before;
    }

    querlin::test::TempDir dir;
    FileRegistry registry{dir.File("registry.reg")};
};

} // namespace

namespace querlin::platform {
bool operator==(const RegValue& a, const RegValue& b)
{
    return a.type == b.type && a.data == b.data;
}
void PrintTo(const RegValue& v, std::ostream* os)
{
    *os << "{type " << static_cast<int>(v.type) << ", \"" << v.data << "\"}";
}
} // namespace querlin::platform

TEST_F(Registration, FirstLoginOnAnEmptyHiveWritesEverything)
{
    // 3 keys created, 4 environment values, 12 data source values, 1 list entry.
    EXPECT_EQ(Login("orcl", "scott"), 3 + 4 + 12 + 1);

    const std::string dsn = OdbcIni + "\\orcl";
    const std::pair<const char*, std::string> expected[] = {
        {"Driver", Driver}, {"DSN", "orcl"},        {"Description", "orcl"},  {"UID", "scott"},
        {"PWD", ""},        {"SERVER", "orcl"},      {"BufferSize", "65535"}, {"SynonymColumns", "1"},
        {"Remarks", "0"},   {"StdDayOfWeek", "1"}, {"GuessTheColDef", "0"},   {"StripTrailingZero", "0"},
    };
    for (const auto& [name, text] : expected)
        EXPECT_EQ(Value(dsn, name), Sz(text)) << name;
    EXPECT_EQ(Value(DataSourceList, "orcl"), Sz("Microsoft ODBC for Oracle"));

    EXPECT_EQ(Value(Environment, "NLS_LANG"), Sz("SIMPLIFIED CHINESE_CHINA.ZHS16GBK"));
    EXPECT_EQ(Value(Environment, "ORACLE_HOME"), Sz(ProgramDir));
    EXPECT_EQ(Value(Environment, "TNS_ADMIN"), Sz(ProgramDir));
    EXPECT_EQ(Value(Environment, "path"), ExpandSz(";" + ProgramDir));
    // Neither a stray character set value nor the File DSN folder.
    EXPECT_EQ(Value(Environment, "mysql"), std::nullopt);
    EXPECT_EQ(Value(OdbcIni + "\\ODBC File DSN", "DefaultDSNDir"), std::nullopt);
}

TEST_F(Registration, SecondIdenticalLoginWritesNothing)
{
    Login("orcl", "scott");
    EXPECT_EQ(Login("orcl", "scott"), 0);
    FileRegistry nextStart(registry.FileName());
    RegisterClient(nextStart, "orcl", "scott", ProgramDir);
    EXPECT_EQ(nextStart.WriteCount(), 0);
}

// What a machine holds before a Login, what that Login writes, and what the
// values then hold.
struct LaterLoginCase {
    const char* name;
    std::function<void(FileRegistry&)> before;
    std::string sid, user;
    int writes;
    std::vector<std::tuple<std::string, std::string, std::optional<RegValue>>> after;
};

void PrintTo(const LaterLoginCase& c, std::ostream* os)
{
    *os << c.name;
}

class RegistrationLaterLogin : public Registration, public testing::WithParamInterface<LaterLoginCase> {};

TEST_P(RegistrationLaterLogin, WritesOnlyWhatDiffers)
{
    const auto& c = GetParam();
    Login("orcl", "scott");
    c.before(registry);
    EXPECT_EQ(Login(c.sid, c.user), c.writes);
    for (const auto& [key, name, value] : c.after)
        EXPECT_EQ(Value(key, name), value) << key << " " << name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistrationLaterLogin,
    testing::Values(
        LaterLoginCase{"AnotherUserRewritesOnlyUid", [](FileRegistry&) {}, "orcl", "hr", 1,
                       {{OdbcIni + "\\orcl", "UID", Sz("hr")}, {OdbcIni + "\\orcl", "DSN", Sz("orcl")}}},
        LaterLoginCase{"PasswordIsNeverRewritten",
                       [](FileRegistry& r) { r.Write(OdbcIni + "\\orcl", "PWD", Sz("secret")); }, "orcl", "scott", 0,
                       {{OdbcIni + "\\orcl", "PWD", Sz("secret")}}},
        LaterLoginCase{"ChangedValuesAreSetBack",
                       [](FileRegistry& r) {
                           r.Write(OdbcIni + "\\orcl", "BufferSize", Sz("4096"));
                           r.Write(OdbcIni + "\\orcl", "Driver", Sz("C:\\other.dll"));
                       },
                       "orcl", "scott", 2,
                       {{OdbcIni + "\\orcl", "BufferSize", Sz("65535")}, {OdbcIni + "\\orcl", "Driver", Sz(Driver)}}},
        LaterLoginCase{"DeletedValuesAreCreatedAgain",
                       [](FileRegistry& r) {
                           auto key = r.OpenOrCreateKey("\\SOFTWARE\\ODBC\\ODBC.INI\\other");
                           key->WriteString("x", "y", RegType::Sz);
                       },
                       "other", "scott", 12 + 1,
                       {{OdbcIni + "\\other", "DSN", Sz("other")}, {OdbcIni + "\\other", "PWD", Sz("")}}},
        LaterLoginCase{"SecondSidRegistersBesideTheFirst", [](FileRegistry&) {}, "test", "scott", 1 + 12 + 1,
                       {{OdbcIni + "\\test", "SERVER", Sz("test")},
                        {OdbcIni + "\\orcl", "SERVER", Sz("orcl")},
                        {DataSourceList, "test", Sz("Microsoft ODBC for Oracle")},
                        {DataSourceList, "orcl", Sz("Microsoft ODBC for Oracle")}}},
        LaterLoginCase{"ListEntryOfAnotherDriverIsSetBack",
                       [](FileRegistry& r) { r.Write(DataSourceList, "orcl", Sz("SQL Server")); }, "orcl", "scott", 1,
                       {{DataSourceList, "orcl", Sz("Microsoft ODBC for Oracle")}}},
        LaterLoginCase{"ClientOfAnotherInstallationIsOverwritten",
                       [](FileRegistry& r) {
                           r.Write(Environment, "ORACLE_HOME", Sz("C:\\oracle\\ora92"));
                           r.Write(Environment, "TNS_ADMIN", ExpandSz("%ORACLE_HOME%\\network\\admin"));
                       },
                       "orcl", "scott", 2,
                       {{Environment, "ORACLE_HOME", Sz(ProgramDir)}, {Environment, "TNS_ADMIN", Sz(ProgramDir)}}},
        LaterLoginCase{"OtherCharacterSetIsLeftAlone",
                       [](FileRegistry& r) { r.Write(Environment, "NLS_LANG", Sz("AMERICAN_AMERICA.WE8MSWIN1252")); },
                       "orcl", "scott", 0,
                       {{Environment, "NLS_LANG", Sz("AMERICAN_AMERICA.WE8MSWIN1252")}, {Environment, "mysql", {}}}},
        LaterLoginCase{"PathHoldingTheDirectoryIsKept",
                       [](FileRegistry& r) { r.Write(Environment, "Path", ExpandSz("/usr/bin;/opt/querlin/;/bin")); },
                       "orcl", "scott", 0, {{Environment, "path", ExpandSz("/usr/bin;/opt/querlin/;/bin")}}},
        LaterLoginCase{"PathWithTheDirectoryInOtherCaseGetsItAppended",
                       [](FileRegistry& r) { r.Write(Environment, "path", ExpandSz("/usr/bin;/OPT/Querlin/")); },
                       "orcl", "scott", 1, {{Environment, "path", ExpandSz("/usr/bin;/OPT/Querlin/;/opt/querlin/")}}},
        LaterLoginCase{"PathWithTheDirectoryWithoutSeparatorGetsItAppended",
                       [](FileRegistry& r) { r.Write(Environment, "path", Sz("/usr/bin;/opt/querlin")); }, "orcl",
                       "scott", 1, {{Environment, "path", ExpandSz("/usr/bin;/opt/querlin;/opt/querlin/")}}}),
    [](const testing::TestParamInfo<LaterLoginCase>& info) { return std::string(info.param.name); });

TEST_F(Registration, PathIsAppendedOnce)
{
    registry.Write(Environment, "path", ExpandSz("/usr/bin"));
    Login("orcl", "scott");
    Login("orcl", "scott");
    EXPECT_EQ(Value(Environment, "path"), ExpandSz("/usr/bin;/opt/querlin/"));
}

// A user's copy of the registry left from runs without rights (another
// character set, the user's own search path, an older data source) beside a
// machine hive this run may write: the machine's hive is read and written as
// if the copy were not there, and the next start reads none of it either.
TEST_F(Registration, StaleUserCopyNeverReachesAWritableMachineHive)
{
    registry.Write(Environment, "path", ExpandSz("/usr/bin"));
    registry.Write(OdbcIni + "\\orcl", "UID", Sz("hr"));
    const std::string machineBefore = querlin::test::ReadFile(registry.FileName());
    const std::string reference = dir.File("reference.reg");
    querlin::test::WriteFile(reference, machineBefore);

    FileRegistry user(dir.File("user/registry.reg"));
    user.Write(Environment, "NLS_LANG", Sz("AMERICAN_AMERICA.WE8ISO8859P1"));
    user.Write(Environment, "ORACLE_HOME", Sz(ProgramDir));
    user.Write(Environment, "path", ExpandSz("/home/user/bin"));
    for (const char* name : {"DSN", "Description", "SERVER"})
        user.Write(OdbcIni + "\\orcl", name, Sz("orcl"));
    user.Write(OdbcIni + "\\orcl", "UID", Sz("scott"));
    user.Write(OdbcIni + "\\old", "DSN", Sz("old"));
    const std::string userBefore = querlin::test::ReadFile(user.FileName());

    {
        querlin::platform::UserOverMachineRegistry layered(registry, user);
        ASSERT_TRUE(layered.MachineWritable());
        RegisterClient(layered, "orcl", "scott", ProgramDir);
    }
    FileRegistry alone(reference);
    RegisterClient(alone, "orcl", "scott", ProgramDir);
    EXPECT_EQ(querlin::test::ReadFile(registry.FileName()), querlin::test::ReadFile(reference));
    EXPECT_EQ(Value(Environment, "NLS_LANG"), Sz("SIMPLIFIED CHINESE_CHINA.ZHS16GBK"));
    EXPECT_EQ(Value(Environment, "path"), ExpandSz("/usr/bin;" + ProgramDir));
    EXPECT_EQ(Value(OdbcIni + "\\orcl", "UID"), Sz("scott"));
    EXPECT_EQ(querlin::test::ReadFile(user.FileName()), userBefore) << "the copy is left as it was";

    // The next start.
    FileRegistry machine(registry.FileName());
    FileRegistry userAgain(user.FileName());
    querlin::platform::UserOverMachineRegistry nextStart(machine, userAgain);
    auto old = nextStart.OpenOrCreateKey("\\SOFTWARE\\ODBC\\ODBC.INI\\old");
    ASSERT_TRUE(old);
    EXPECT_FALSE(old->ValueExists("DSN"));
    auto environment = nextStart.OpenOrCreateKey("\\SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment");
    ASSERT_TRUE(environment);
    EXPECT_EQ(querlin::platform::ReadRegString(*environment, "NLS_LANG"), "SIMPLIFIED CHINESE_CHINA.ZHS16GBK");
    EXPECT_EQ(querlin::platform::ReadRegString(*environment, "PATH"), "/usr/bin;" + ProgramDir);
    RegisterClient(nextStart, "orcl", "scott", ProgramDir);
    EXPECT_EQ(machine.WriteCount(), 1) << "only the key the look-up above created";
    EXPECT_EQ(querlin::test::ReadFile(user.FileName()), userBefore);
}

TEST_F(Registration, WithoutRightsNothingIsWrittenAndNoErrorRaised)
{
    fs::permissions(dir.Path(), fs::perms::owner_read | fs::perms::owner_exec);
    querlin::test::RunWithoutOverrideRights([&] { RegisterClient(registry, "orcl", "scott", ProgramDir); });
    fs::permissions(dir.Path(), fs::perms::owner_all);
    EXPECT_EQ(registry.WriteCount(), 0);
    EXPECT_FALSE(fs::exists(registry.FileName()));
}

TEST_F(Registration, BufferSizeStoredAsNumberStopsWithTheMessage)
{
    registry.Write(OdbcIni + "\\orcl", "BufferSize", RegValue{RegType::Dword, std::string("\xff\xff\0\0", 4)});
    EXPECT_EQ(ErrorOf([&] { RegisterClient(registry, "orcl", "scott", ProgramDir); }),
              "Invalid data type for 'BufferSize'");
    // What came before stays; what comes after is not done.
    EXPECT_EQ(Text(Environment, "ORACLE_HOME"), ProgramDir);
    EXPECT_EQ(Text(OdbcIni + "\\orcl", "UID"), "scott");
    EXPECT_EQ(Text(OdbcIni + "\\orcl", "Remarks"), "0") << "the creation pass has run";
    EXPECT_EQ(Value(DataSourceList, "orcl"), std::nullopt);
}

// A registry that refuses one value, as a policy on the machine might.
class RefusingRegistry : public querlin::platform::Registry {
public:
    RefusingRegistry(FileRegistry& inner, std::string refused) : inner_(inner), refused_(std::move(refused)) {}
    std::unique_ptr<querlin::platform::RegistryKey> OpenOrCreateKey(const std::string& path) override
    {
        auto key = inner_.OpenOrCreateKey(path);
        if (!key)
            return nullptr;
        return std::make_unique<Key>(std::move(key), refused_);
    }

private:
    class Key : public querlin::platform::RegistryKey {
    public:
        Key(std::unique_ptr<RegistryKey> inner, const std::string& refused) : inner_(std::move(inner)), refused_(refused) {}
        bool ValueExists(const std::string& name) override { return inner_->ValueExists(name); }
        std::optional<RegValue> ReadValue(const std::string& name) override { return inner_->ReadValue(name); }
        void WriteString(const std::string& name, const std::string& text, RegType type) override
        {
            if (name == refused_)
                throw querlin::Error("Failed to set data for '" + name + "'");
            inner_->WriteString(name, text, type);
        }
        void Close() override { inner_->Close(); }

    private:
        std::unique_ptr<RegistryKey> inner_;
        std::string refused_;
    };
    FileRegistry& inner_;
    std::string refused_;
};

TEST_F(Registration, RefusedWriteLeavesAtOnce)
{
    RefusingRegistry refusing(registry, "UID");
    EXPECT_EQ(ErrorOf([&] { RegisterClient(refusing, "orcl", "scott", ProgramDir); }), "Failed to set data for 'UID'");
    EXPECT_EQ(Text(OdbcIni + "\\orcl", "Description"), "orcl");
    EXPECT_EQ(Value(OdbcIni + "\\orcl", "PWD"), std::nullopt);
    EXPECT_EQ(Value(DataSourceList, "orcl"), std::nullopt);
}

TEST_F(Registration, EmptySidRegistersNoDataSource)
{
    Login("", "scott");
    EXPECT_EQ(Text(Environment, "TNS_ADMIN"), ProgramDir);
    EXPECT_EQ(Value(OdbcIni, "DSN"), std::nullopt);
    EXPECT_EQ(Value(DataSourceList, ""), std::nullopt);
}

// ---- The data source where unixODBC reads it ------------------------------

TEST(OdbcDriverChoice, OracleFirstThenPostgreSqlUnicodeFirst)
{
    using login::ChooseOdbcDriver;
    using login::DriverKind;
    using login::OdbcDriver;
    struct Case {
        const char* label;
        std::vector<std::string> installed;
        std::optional<OdbcDriver> chosen;
    };
    const Case cases[] = {
        {"the site's own name", {"PostgreSQL Unicode", "Oracle 19 ODBC driver", "Microsoft ODBC for Oracle"},
         OdbcDriver{"Microsoft ODBC for Oracle", DriverKind::Oracle}},
        {"a name that says Oracle", {"PostgreSQL Unicode", "Oracle in instantclient_19_8"},
         OdbcDriver{"Oracle in instantclient_19_8", DriverKind::Oracle}},
        {"Unicode before ANSI", {"PostgreSQL ANSI", "PostgreSQL Unicode"},
         OdbcDriver{"PostgreSQL Unicode", DriverKind::PostgreSql}},
        {"ANSI alone", {"SQLite3", "PostgreSQL ANSI"}, OdbcDriver{"PostgreSQL ANSI", DriverKind::PostgreSql}},
        {"nothing that will do", {"SQLite3", "MariaDB Unicode"}, std::nullopt},
        {"nothing installed", {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(ChooseOdbcDriver(c.installed), c.chosen);
    }
}

TEST(OdbcDataSourceValues, NameTheSiteAndNeverAPassword)
{
    const login::DataSourceSite site{"SITE7", "scott", "127.0.0.77", "1521"};
    const auto postgres = login::DataSourceValues({"PostgreSQL Unicode", login::DriverKind::PostgreSql}, site);
    const std::map<std::string, std::string> p(postgres.begin(), postgres.end());
    EXPECT_EQ(p.at("Driver"), "PostgreSQL Unicode");
    EXPECT_EQ(p.at("Servername"), "127.0.0.77");
    EXPECT_EQ(p.at("Port"), "1521");
    EXPECT_EQ(p.at("Database"), "site7") << "the server folds unquoted names to lower case";
    EXPECT_EQ(p.at("Username"), "scott");
    const auto oracle = login::DataSourceValues({"Oracle 19 ODBC driver", login::DriverKind::Oracle}, site);
    const std::map<std::string, std::string> o(oracle.begin(), oracle.end());
    EXPECT_EQ(o.at("ServerName"), "SITE7") << "the net service name, which tnsnames.ora resolves";
    EXPECT_EQ(o.count("Servername") + o.count("Port"), 0u);
    for (const auto* values : {&postgres, &oracle})
        for (const auto& [key, value] : *values) {
            EXPECT_NE(key, "PWD");
            EXPECT_NE(key, "Password");
        }
}
