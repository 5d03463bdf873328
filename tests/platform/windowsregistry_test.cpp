// The registry's Windows side against the real registry (Wine's in the
// Windows pass), under a key of its own below HKEY_LOCAL_MACHINE that each
// test removes afterwards: the same cases the file-backed hive is held to.
#ifdef _WIN32

#include <gtest/gtest.h>

#include "platform/Error.h"
#include "platform/WindowsRegistry.h"
#include "LetterCaseCases.h"
#include "RegistryCases.h"
#include "testsupport/TestSupport.h"

#include <windows.h>

using namespace querlin::platform;
using querlin::test::ErrorOf;

namespace {

const wchar_t* const kTestKey = L"SOFTWARE\\QuerlinTest";

class WindowsRegistryTest : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTestKey); }
    void TearDown() override
    {
        EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTestKey), ERROR_SUCCESS);
        HKEY gone = nullptr;
        EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKey, 0, KEY_READ, &gone), ERROR_SUCCESS);
    }

    // Writes a value of any type through the registry API itself.
    void Put(const std::string& key, const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        const std::wstring path = std::wstring(kTestKey) + L"\\" + std::wstring(key.begin(), key.end());
        HKEY handle = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(handle, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        RegCloseKey(handle);
    }

    WindowsRegistry registry{"SOFTWARE\\QuerlinTest"};
};

TEST_F(WindowsRegistryTest, ReadingRuleForStringValues)
{
    const wchar_t padded[] = L"ab\0c";
    const wchar_t expand[] = L"%P%";
    const DWORD number = 1;
    const char blob[] = {'a', 'b'};
    Put("K", L"Text", REG_SZ, L"abc", 8);
    Put("K", L"Padded", REG_SZ, padded, sizeof padded);
    Put("K", L"Expand", REG_EXPAND_SZ, expand, sizeof expand);
    Put("K", L"EmptyText", REG_SZ, L"", 2);
    Put("K", L"NoBytes", REG_SZ, nullptr, 0);
    Put("K", L"EmptyBinary", REG_BINARY, nullptr, 0);
    Put("K", L"Number", REG_DWORD, &number, sizeof number);
    Put("K", L"Blob", REG_BINARY, blob, sizeof blob);
    auto key = registry.OpenOrCreateKey("\\K");
    ASSERT_TRUE(key);
    const auto& cases = querlin::test::kStringReadingCases;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.expected) {
            EXPECT_EQ(ReadRegString(*key, c.name), c.expected);
        } else {
            EXPECT_EQ(ErrorOf([&] { ReadRegString(*key, c.name); }),
                      std::string("Invalid data type for '") + c.name + "'");
        }
    }
    // The raw forms: a DWORD's bytes, the text without its terminator.
    EXPECT_EQ(key->ReadValue("Number")->type, RegType::Dword);
    EXPECT_EQ(key->ReadValue("Number")->data, std::string("\x01\0\0\0", 4));
    EXPECT_EQ(key->ReadValue("Expand")->type, RegType::ExpandSz);
    EXPECT_FALSE(key->ReadValue("Absent"));
    EXPECT_FALSE(key->ValueExists("Absent"));
    EXPECT_TRUE(key->ValueExists("NoBytes"));
}

TEST_F(WindowsRegistryTest, WrittenTextsReadBackAsWritten)
{
    const auto& cases = querlin::test::kWrittenTextCases;
    auto key = registry.OpenOrCreateKey("\\SOFTWARE\\ODBC\\ODBC.INI\\site042");
    ASSERT_TRUE(key);
    for (const auto& c : cases)
        key->WriteString(c.label, c.text, c.type);
    key->Close();
    auto again = registry.OpenOrCreateKey("SOFTWARE\\ODBC\\ODBC.INI\\site042");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto value = again->ReadValue(c.label);
        ASSERT_TRUE(value);
        EXPECT_EQ(value->type, c.type);
        EXPECT_EQ(value->data, c.text) << "left unexpanded";
    }
}

TEST_F(WindowsRegistryTest, KeyPathsAndValueNamesIgnoreLetterCase)
{
    auto key = registry.OpenOrCreateKey("\\SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment");
    ASSERT_TRUE(key);
    key->WriteString("Path", "C:\\Windows", RegType::ExpandSz);
    key->WriteString("Ärger", "1", RegType::Sz);
    key->WriteString("Имя", "2", RegType::Sz);
    const auto& cases = querlin::test::kLetterCaseLookups;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto k = registry.OpenOrCreateKey(c.keyPath);
        ASSERT_TRUE(k);
        EXPECT_TRUE(k->ValueExists(c.name));
        EXPECT_EQ(ReadRegString(*k, c.name), c.expected);
    }
    // Writing under another spelling replaces the value.
    key->WriteString("PATH", "C:\\Windows;C:\\Querlin\\", RegType::ExpandSz);
    EXPECT_EQ(ReadRegString(*key, "path"), "C:\\Windows;C:\\Querlin\\");
}

// The real registry's own answer for the names of the one letter-case
// table: the one the Linux hive and the letter-case helper give.
TEST_F(WindowsRegistryTest, NamesMatchAsTheLetterCaseTableSays)
{
    int number = 0;
    for (const auto& c : querlin::test::kLetterCaseCases) {
        const std::string key = "\\Names\\" + std::to_string(++number) + "\\";
        auto written = registry.OpenOrCreateKey(key + c.a);
        ASSERT_TRUE(written) << c.label;
        written->WriteString(c.a, "1", RegType::Sz);
        auto other = registry.OpenOrCreateKey(key + c.b);
        ASSERT_TRUE(other) << c.label;
        EXPECT_EQ(other->ValueExists(c.a), c.equal) << c.label << ": key path";
        EXPECT_EQ(written->ValueExists(c.b), c.equal) << c.label << ": value name";
    }
}

TEST_F(WindowsRegistryTest, OnlyStringTypesCanBeWrittenAndAClosedKeyRefuses)
{
    auto key = registry.OpenOrCreateKey("\\K");
    ASSERT_TRUE(key);
    EXPECT_EQ(ErrorOf([&] { key->WriteString("Count", "1", RegType::Dword); }), "Failed to set data for 'Count'");
    EXPECT_FALSE(key->ValueExists("Count"));
    key->Close();
    EXPECT_THROW(key->ReadValue("A"), querlin::Error);
    EXPECT_THROW(key->WriteString("A", "1", RegType::Sz), querlin::Error);
}

// Bytes that are not UTF-8 cannot be stored as UTF-16 as they are: the
// write is refused rather than altered, and the value left as it was.
TEST_F(WindowsRegistryTest, TextThatIsNotUtf8IsRefusedNotAltered)
{
    auto key = registry.OpenOrCreateKey("\\K");
    ASSERT_TRUE(key);
    key->WriteString("Gbk", "1", RegType::Sz);
    for (RegType type : {RegType::Sz, RegType::ExpandSz}) {
        EXPECT_EQ(ErrorOf([&] { key->WriteString("Gbk", "\xD6\xD0", type); }), "Failed to set data for 'Gbk'");
        EXPECT_EQ(ErrorOf([&] { key->WriteString("\xD6\xD0", "x", type); }),
                  "Failed to set data for '\xD6\xD0'");
    }
    EXPECT_EQ(ReadRegString(*key, "Gbk"), "1");
    EXPECT_FALSE(key->ValueExists("\xD6\xD0"));
    EXPECT_EQ(registry.OpenOrCreateKey("\\K\\\xD6\xD0"), nullptr);
}

} // namespace

#endif
