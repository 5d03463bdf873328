// The client registration against the real registry (Wine's in the Windows
// pass), under a key of its own below HKEY_LOCAL_MACHINE, removed afterwards.
#ifdef _WIN32

#include "login/Registration.h"

#include "platform/WindowsRegistry.h"

#include <gtest/gtest.h>

#include <windows.h>

using querlin::platform::ReadRegString;
using querlin::platform::Registry;
using querlin::platform::RegistryKey;
using querlin::platform::RegType;
using querlin::platform::RegValue;

namespace {

// Counts the writes that reach the registry.
class CountingRegistry : public Registry {
public:
    explicit CountingRegistry(Registry& inner) : inner_(inner) {}
    std::unique_ptr<RegistryKey> OpenOrCreateKey(const std::string& path) override
    {
        auto key = inner_.OpenOrCreateKey(path);
        return key ? std::make_unique<Key>(std::move(key), writes) : nullptr;
    }
    int writes = 0;

private:
    class Key : public RegistryKey {
    public:
        Key(std::unique_ptr<RegistryKey> inner, int& writes) : inner_(std::move(inner)), writes_(writes) {}
        bool ValueExists(const std::string& name) override { return inner_->ValueExists(name); }
        std::optional<RegValue> ReadValue(const std::string& name) override { return inner_->ReadValue(name); }
        void WriteString(const std::string& name, const std::string& text, RegType type) override
        {
            ++writes_;
            inner_->WriteString(name, text, type);
        }
        void Close() override { inner_->Close(); }

    private:
        std::unique_ptr<RegistryKey> inner_;
        int& writes_;
    };
    Registry& inner_;
};

class WindowsRegistration : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QuerlinTest"); }
    void TearDown() override { EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QuerlinTest"), ERROR_SUCCESS); }

    std::string Text(const std::string& key, const std::string& name)
    {
        auto k = machine.OpenOrCreateKey(key);
        auto value = k->ReadValue(name);
        return value ? value->data : "<absent>";
    }

    querlin::platform::WindowsRegistry machine{"SOFTWARE\\QuerlinTest"};
    CountingRegistry registry{machine};
};

const std::string Environment = "\\SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment";
const std::string OdbcIni = "\\SOFTWARE\\ODBC\\ODBC.INI";
const std::string ProgramDir = "C:\\Program Files\\Querlin\\";

TEST_F(WindowsRegistration, ALoginWritesItsValuesAndASecondWritesNothing)
{
    querlin::login::RegisterClient(registry, "orcl", "scott", ProgramDir);
    // 4 environment values, 12 data source values, 1 list entry.
    EXPECT_EQ(registry.writes, 4 + 12 + 1);
    EXPECT_EQ(Text(Environment, "NLS_LANG"), "SIMPLIFIED CHINESE_CHINA.ZHS16GBK");
    EXPECT_EQ(Text(Environment, "ORACLE_HOME"), ProgramDir);
    EXPECT_EQ(Text(Environment, "TNS_ADMIN"), ProgramDir);
    EXPECT_EQ(Text(Environment, "PATH"), ";" + ProgramDir);
    EXPECT_EQ(machine.OpenOrCreateKey(Environment)->ReadValue("path")->type, RegType::ExpandSz);
    EXPECT_EQ(Text(OdbcIni + "\\orcl", "DSN"), "orcl");
    EXPECT_EQ(Text(OdbcIni + "\\orcl", "UID"), "scott");
    EXPECT_EQ(Text(OdbcIni + "\\orcl", "PWD"), "");
    EXPECT_EQ(Text(OdbcIni + "\\ODBC Data Sources", "orcl"), "Microsoft ODBC for Oracle");

    registry.writes = 0;
    querlin::login::RegisterClient(registry, "orcl", "scott", ProgramDir);
    EXPECT_EQ(registry.writes, 0);
    EXPECT_EQ(Text(Environment, "path"), ";" + ProgramDir) << "the folder is appended once";

    querlin::login::RegisterClient(registry, "orcl", "tiger", ProgramDir);
    EXPECT_EQ(registry.writes, 1) << "only the user name differs";
    EXPECT_EQ(Text(OdbcIni + "\\orcl", "UID"), "tiger");
}

// What the machine holds before a later Login, how many writes that Login
// makes, and what a value then holds.
TEST_F(WindowsRegistration, ALaterLoginWritesOnlyWhatDiffers)
{
    struct Case {
        const char* label;
        std::string key, name, before;
        RegType type;
        int writes;
        std::string after;
    } cases[] = {
        {"PasswordIsNeverRewritten", OdbcIni + "\\orcl", "PWD", "secret", RegType::Sz, 0, "secret"},
        {"ChangedValueIsSetBack", OdbcIni + "\\orcl", "BufferSize", "4096", RegType::Sz, 1, "65535"},
        {"ListEntryOfAnotherDriverIsSetBack", OdbcIni + "\\ODBC Data Sources", "orcl", "SQL Server", RegType::Sz,
         1, "Microsoft ODBC for Oracle"},
        {"ClientOfAnotherInstallationIsOverwritten", Environment, "ORACLE_HOME", "C:\\oracle\\ora92",
         RegType::Sz, 1, ProgramDir},
        {"OtherCharacterSetIsLeftAlone", Environment, "NLS_LANG", "AMERICAN_AMERICA.WE8MSWIN1252", RegType::Sz, 0,
         "AMERICAN_AMERICA.WE8MSWIN1252"},
        {"PathHoldingTheDirectoryIsKept", Environment, "Path", "C:\\Windows;" + ProgramDir + ";C:\\bin",
         RegType::ExpandSz, 0, "C:\\Windows;" + ProgramDir + ";C:\\bin"},
        {"PathWithoutTheDirectoryGetsItAppended", Environment, "Path", "C:\\Windows", RegType::ExpandSz, 1,
         "C:\\Windows;" + ProgramDir},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QuerlinTest");
        querlin::login::RegisterClient(registry, "orcl", "scott", ProgramDir);
        machine.OpenOrCreateKey(c.key)->WriteString(c.name, c.before, c.type);
        registry.writes = 0;
        querlin::login::RegisterClient(registry, "orcl", "scott", ProgramDir);
        EXPECT_EQ(registry.writes, c.writes);
        EXPECT_EQ(Text(c.key, c.name), c.after);
    }
}

TEST_F(WindowsRegistration, EmptySidRegistersNoDataSource)
{
    querlin::login::RegisterClient(registry, "", "scott", ProgramDir);
    EXPECT_EQ(Text(Environment, "TNS_ADMIN"), ProgramDir);
    EXPECT_EQ(Text(OdbcIni, "DSN"), "<absent>");
    EXPECT_EQ(Text(OdbcIni + "\\ODBC Data Sources", ""), "<absent>");
}

TEST_F(WindowsRegistration, AValueOfAnotherTypeStopsWithTheMessage)
{
    querlin::login::RegisterClient(registry, "orcl", "scott", ProgramDir);
    const DWORD number = 65535;
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QuerlinTest\\SOFTWARE\\ODBC\\ODBC.INI\\orcl", 0,
                            KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"BufferSize", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    RegCloseKey(key);
    try {
        querlin::login::RegisterClient(registry, "orcl", "scott", ProgramDir);
        ADD_FAILURE() << "no error";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'BufferSize'");
    }
}

} // namespace

#endif
