#include <gtest/gtest.h>

#include "platform/Error.h"
#include "platform/FileRegistry.h"
#include "testsupport/TestSupport.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace querlin;
using namespace querlin::platform;

using querlin::test::ReadFile;
using querlin::test::WriteFile;

namespace {

std::string Bytes(std::initializer_list<int> list)
{
    std::string out;
    for (int b : list)
        out += char(b);
    return out;
}

const char* const kSampleHive =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "; a comment line\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Sample]\n"
    "@=\"default text\"\n"
    "\"Plain\"=\"C:\\\\dir\\\\ with \\\"quotes\\\"\"\n"
    "\"Chinese\"=\"数据库\"\n"
    "\"Expand\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,3b,00,70,65,00,00\n"
    "\"Number\"=dword:0000ffff\n"
    "\"Blob\"=hex:00,01,fe,ff\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
    "\"Quad\"=hex(b):01,00,00,00,00,00,00,80\n"
    "\"Nothing\"=hex(0):\n"
    "\"EmptyText\"=hex(1):\n"
    "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,\\\n"
    "  19,1a,1b,1c,1d,1e,1f\n";

struct ValueCase {
    const char* label;
    const char* name;
    RegType type;
    std::string data;
};

const ValueCase kSampleValues[] = {
    {"Default", "", RegType::Sz, "default text"},
    {"EscapedText", "Plain", RegType::Sz, "C:\\dir\\ with \"quotes\""},
    {"ChineseText", "Chinese", RegType::Sz, "数据库"},
    {"ExpandableUnexpanded", "Expand", RegType::ExpandSz, "%PATH%;\xE6\x95\xB0"},
    {"Dword", "Number", RegType::Dword, Bytes({0xff, 0xff, 0, 0})},
    {"Binary", "Blob", RegType::Binary, Bytes({0, 1, 0xfe, 0xff})},
    {"MultiStringRaw", "Multi", RegType::MultiSz, Bytes({0x61, 0, 0, 0, 0x62, 0, 0, 0, 0, 0})},
    {"Qword", "Quad", RegType::Qword, Bytes({1, 0, 0, 0, 0, 0, 0, 0x80})},
    {"NoneType", "Nothing", RegType::None, ""},
    {"ZeroLengthText", "EmptyText", RegType::Sz, ""},
    {"WrappedHex", "Long", RegType::Binary,
     Bytes({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26,
            27, 28, 29, 30, 31})},
};

class RegistryTest : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string hiveName = dir.File("registry.reg");
};

void ExpectSampleValues(RegistryKey& key)
{
    for (const auto& c : kSampleValues) {
        SCOPED_TRACE(c.label);
        auto value = key.ReadValue(c.name);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(value->type, c.type);
        EXPECT_EQ(value->data, c.data);
    }
}

} // namespace

TEST_F(RegistryTest, EveryValueTypeSurvivesReadingAndRewriting)
{
    WriteFile(hiveName, kSampleHive);
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\SOFTWARE\\Sample");
    ASSERT_TRUE(key);
    ExpectSampleValues(*key);

    // A write rewrites the whole file from what was parsed.
    key->WriteString("Added", "new", RegType::Sz);
    FileRegistry again(hiveName);
    auto reread = again.OpenOrCreateKey("SOFTWARE\\Sample");
    ASSERT_TRUE(reread);
    ExpectSampleValues(*reread);
    EXPECT_EQ(ReadRegString(*reread, "Added"), "new");

    // Writing the same hive again gives the same bytes.
    std::string once = ReadFile(hiveName);
    EXPECT_EQ(hive::Format(hive::Parse(once, hiveName)), once);
}

TEST_F(RegistryTest, WrittenTextsReadBackAsWritten)
{
    struct Case {
        const char* label;
        RegType type;
        std::string text;
    } cases[] = {
        {"Plain", RegType::Sz, "site042"},
        {"Empty", RegType::Sz, ""},
        {"QuotesAndBackslashes", RegType::Sz, "%systemroot%\\\\system32\\\\msorcl32.dll \"x\""},
        {"LineBreaks", RegType::Sz, "one\r\ntwo\n"},
        {"EmbeddedNul", RegType::Sz, std::string("ab\0cd", 5)},
        {"Chinese", RegType::Sz, "SIMPLIFIED CHINESE_CHINA.ZHS16GBK 简体"},
        {"ExpandPath", RegType::ExpandSz, "%SystemRoot%\\system32;/opt/querlin/"},
        {"ExpandEmpty", RegType::ExpandSz, ""},
        {"OutsideBasicPlane", RegType::ExpandSz, "\xF0\x9F\x98\x80"},
    };
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\SOFTWARE\\ODBC\\ODBC.INI\\site042");
    ASSERT_TRUE(key);
    for (const auto& c : cases)
        key->WriteString(c.label, c.text, c.type);
    FileRegistry reader(hiveName);
    auto again = reader.OpenOrCreateKey("\\SOFTWARE\\ODBC\\ODBC.INI\\site042");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto value = again->ReadValue(c.label);
        ASSERT_TRUE(value);
        EXPECT_EQ(value->type, c.type);
        EXPECT_EQ(value->data, c.text);
    }
}

TEST_F(RegistryTest, FileLooksAsRegeditWritesIt)
{
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\SOFTWARE\\ODBC\\ODBC.INI\\site042");
    key->WriteString("DSN", "site042", RegType::Sz);
    key->WriteString("path", "a;", RegType::ExpandSz);
    EXPECT_EQ(ReadFile(hiveName),
              "Windows Registry Editor Version 5.00\n"
              "\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
              "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC]\n"
              "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBC.INI]\n"
              "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBC.INI\\site042]\n"
              "\"DSN\"=\"site042\"\n"
              "\"path\"=hex(2):61,00,3b,00,00,00\n");
}

TEST_F(RegistryTest, KeyPathsAndValueNamesIgnoreLetterCase)
{
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment");
    key->WriteString("Path", "C:\\Windows", RegType::ExpandSz);
    key->WriteString("Ärger", "1", RegType::Sz);
    key->WriteString("Имя", "2", RegType::Sz);

    struct Case {
        const char* label;
        const char* keyPath;
        const char* name;
        const char* expected;
    } cases[] = {
        {"SameSpelling", "\\SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment", "Path", "C:\\Windows"},
        {"LowerCaseName", "\\SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment", "path", "C:\\Windows"},
        {"UpperCaseKey", "SYSTEM\\CONTROLSET001\\CONTROL\\SESSION MANAGER\\ENVIRONMENT", "PATH", "C:\\Windows"},
        {"TrailingBackslash", "\\system\\controlset001\\control\\session manager\\environment\\", "pAtH",
         "C:\\Windows"},
        {"LatinOne", "\\SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment", "äRGER", "1"},
        {"Cyrillic", "\\SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment", "иМЯ", "2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto k = registry.OpenOrCreateKey(c.keyPath);
        ASSERT_TRUE(k);
        EXPECT_TRUE(k->ValueExists(c.name));
        EXPECT_EQ(ReadRegString(*k, c.name), c.expected);
    }
    // Opening under another spelling created no second key.
    EXPECT_EQ(hive::Parse(ReadFile(hiveName), hiveName).keys.size(), 5u);

    // Writing under another spelling replaces the value and keeps its name.
    key->WriteString("PATH", "C:\\Windows;/opt/", RegType::ExpandSz);
    std::string text = ReadFile(hiveName);
    EXPECT_NE(text.find("\"Path\"=hex(2)"), std::string::npos);
    EXPECT_EQ(text.find("\"PATH\""), std::string::npos);
    EXPECT_EQ(ReadRegString(*key, "path"), "C:\\Windows;/opt/");
}

TEST_F(RegistryTest, ReadingRuleForStringValues)
{
    WriteFile(hiveName, "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n"
                        "\"Text\"=\"abc\"\n"
                        "\"Padded\"=hex(1):61,00,62,00,00,00,63,00,00,00\n"
                        "\"Expand\"=hex(2):25,00,50,00,25,00,00,00\n"
                        "\"EmptyText\"=\"\"\n"
                        "\"NoBytes\"=hex(1):\n"
                        "\"EmptyBinary\"=hex:\n"
                        "\"Number\"=dword:00000001\n"
                        "\"Blob\"=hex:61,62\n");
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\K");
    struct Case {
        const char* name;
        const char* expected;  // nullptr: the type error
    } cases[] = {
        {"Absent", ""},       {"Text", "abc"},    {"Padded", "ab"},      {"Expand", "%P%"},
        {"EmptyText", ""},    {"NoBytes", ""},    {"EmptyBinary", ""},   {"Number", nullptr},
        {"Blob", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.expected) {
            EXPECT_EQ(ReadRegString(*key, c.name), c.expected);
        } else {
            try {
                ReadRegString(*key, c.name);
                ADD_FAILURE() << "no error";
            } catch (const Error& e) {
                EXPECT_EQ(std::string(e.what()), std::string("Invalid data type for '") + c.name + "'");
            }
        }
    }
}

TEST_F(RegistryTest, OnlyStringTypesCanBeWritten)
{
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\K");
    try {
        key->WriteString("Count", "1", RegType::Dword);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Failed to set data for 'Count'");
    }
    EXPECT_FALSE(key->ValueExists("Count"));
}

TEST_F(RegistryTest, NoRightsWhereTheFolderCannotBeWritten)
{
    // A plain file where the folder should be: no user, root included, can
    // create the hive there.
    WriteFile(dir.File("notafolder"), "x");
    FileRegistry registry(dir.File("notafolder") + "/registry.reg");
    EXPECT_EQ(registry.OpenOrCreateKey("\\SOFTWARE\\ODBC\\ODBC.INI\\site042"), nullptr);
    EXPECT_EQ(registry.WriteCount(), 0);
}

TEST_F(RegistryTest, MissingFolderIsCreated)
{
    FileRegistry registry(dir.File("var/lib/querlin") + "/registry.reg");
    auto key = registry.OpenOrCreateKey("\\K");
    ASSERT_TRUE(key);
    EXPECT_TRUE(std::filesystem::exists(dir.File("var/lib/querlin/registry.reg")));
}

TEST_F(RegistryTest, WriteCounterCountsReplacementsOnly)
{
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\A\\B");
    EXPECT_EQ(registry.WriteCount(), 1);
    registry.OpenOrCreateKey("\\a\\b");  // exists: nothing written
    EXPECT_EQ(registry.WriteCount(), 1);
    key->WriteString("X", "1", RegType::Sz);
    key->WriteString("X", "1", RegType::Sz);
    EXPECT_EQ(registry.WriteCount(), 3);
    EXPECT_EQ(ReadRegString(*key, "X"), "1");
    EXPECT_EQ(registry.WriteCount(), 3);
}

TEST_F(RegistryTest, ReplacementIsAtomicAndLeavesNoTemporaryFiles)
{
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\K");
    key->WriteString("A", "1", RegType::Sz);
    ::chmod(hiveName.c_str(), 0640);
    struct stat before {};
    ASSERT_EQ(::stat(hiveName.c_str(), &before), 0);
    key->WriteString("B", "2", RegType::Sz);
    struct stat after {};
    ASSERT_EQ(::stat(hiveName.c_str(), &after), 0);
    // A new file took the old one's place; it was not written over in place.
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(after.st_mode & 0777, 0640u);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST_F(RegistryTest, TwoInstancesNeverLoseEachOthersValues)
{
    FileRegistry first(hiveName);
    FileRegistry second(hiveName);
    auto a = first.OpenOrCreateKey("\\K");
    auto b = second.OpenOrCreateKey("\\K");
    a->WriteString("FromFirst", "1", RegType::Sz);
    b->WriteString("FromSecond", "2", RegType::Sz);
    a->WriteString("FromFirstAgain", "3", RegType::Sz);
    FileRegistry reader(hiveName);
    auto k = reader.OpenOrCreateKey("\\K");
    EXPECT_EQ(ReadRegString(*k, "FromFirst"), "1");
    EXPECT_EQ(ReadRegString(*k, "FromSecond"), "2");
    EXPECT_EQ(ReadRegString(*k, "FromFirstAgain"), "3");
}

TEST_F(RegistryTest, ConcurrentProcessesNeverLoseEachOthersValues)
{
    const int processes = 4;
    const int valuesEach = 15;
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int rc = 0;
            try {
                FileRegistry registry(hiveName);
                auto key = registry.OpenOrCreateKey("\\SOFTWARE\\Shared\\Key" + std::to_string(p % 2));
                for (int i = 0; i < valuesEach && key; ++i)
                    key->WriteString("P" + std::to_string(p) + "V" + std::to_string(i), std::to_string(i),
                                     RegType::Sz);
                rc = key ? 0 : 2;
            } catch (...) {
                rc = 1;
            }
            ::_exit(rc);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    FileRegistry reader(hiveName);
    for (int p = 0; p < processes; ++p) {
        auto key = reader.OpenOrCreateKey("\\SOFTWARE\\Shared\\Key" + std::to_string(p % 2));
        for (int i = 0; i < valuesEach; ++i)
            EXPECT_EQ(ReadRegString(*key, "P" + std::to_string(p) + "V" + std::to_string(i)), std::to_string(i));
    }
}

TEST_F(RegistryTest, DamagedFileGivesClearErrorAndIsNeverOverwritten)
{
    struct Case {
        const char* label;
        const char* text;
        const char* line;
    } cases[] = {
        {"NoHeader", "[HKEY_LOCAL_MACHINE\\K]\n\"A\"=\"1\"\n", "line 1"},
        {"UnclosedKey", "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K\n", "line 3"},
        {"ValueBeforeKey", "Windows Registry Editor Version 5.00\n\"A\"=\"1\"\n", "line 2"},
        {"UnclosedText", "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=\"1\n", "line 3"},
        {"BadHexByte", "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=hex:0g\n", "line 3"},
        {"BadDword", "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=dword:123456789\n",
         "line 3"},
        {"OddTextBytes", "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=hex(2):41\n",
         "line 3"},
        {"CutOffContinuation",
         "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=hex:01,02,\\\n", "line 3"},
        {"Garbage", "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n\x01\x02\x03\n", "line 3"},
        {"UnknownData", "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=42\n", "line 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        WriteFile(hiveName, c.text);
        FileRegistry registry(hiveName);
        try {
            registry.OpenOrCreateKey("\\SOFTWARE\\ODBC\\ODBC.INI\\site042");
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            std::string message = e.what();
            EXPECT_NE(message.find("'" + hiveName + "' is damaged"), std::string::npos) << message;
            EXPECT_NE(message.find(c.line), std::string::npos) << message;
        }
        EXPECT_EQ(ReadFile(hiveName), c.text);
        EXPECT_EQ(registry.WriteCount(), 0);
    }
}

TEST_F(RegistryTest, DamageFoundWhileWritingLeavesTheFileAlone)
{
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\K");
    key->WriteString("A", "1", RegType::Sz);
    // Another program breaks the file after we opened the key.
    const std::string broken = ReadFile(hiveName) + "\"B\"=hex:zz\n";
    WriteFile(hiveName, broken);
    EXPECT_THROW(key->WriteString("C", "3", RegType::Sz), Error);
    EXPECT_THROW(key->ReadValue("A"), Error);
    EXPECT_EQ(ReadFile(hiveName), broken);
}

TEST_F(RegistryTest, EmptyFileIsAnEmptyHive)
{
    WriteFile(hiveName, "");
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\K");
    ASSERT_TRUE(key);
    EXPECT_EQ(ReadRegString(*key, "A"), "");
}

TEST_F(RegistryTest, Utf16FileAsRegeditWritesItIsRead)
{
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"名\"=\"值\"\r\n";
    // Encode as UTF-16LE with its byte order mark (all characters here are
    // in the basic plane).
    std::string utf16 = "\xFF\xFE";
    std::u32string wide;
    for (size_t i = 0; i < text.size();) {
        unsigned char b = text[i];
        char32_t c;
        if (b < 0x80) {
            c = b;
            i += 1;
        } else {
            c = ((b & 0x0F) << 12) | ((text[i + 1] & 0x3F) << 6) | (text[i + 2] & 0x3F);
            i += 3;
        }
        utf16 += char(c & 0xFF);
        utf16 += char(c >> 8);
    }
    WriteFile(hiveName, utf16);
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\K");
    EXPECT_EQ(ReadRegString(*key, "名"), "值");
}

TEST_F(RegistryTest, ClosedKeyRefusesFurtherUse)
{
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\K");
    key->Close();
    EXPECT_THROW(key->ReadValue("A"), Error);
    EXPECT_THROW(key->WriteString("A", "1", RegType::Sz), Error);
}

TEST(MachineRegistry, HiveFileComesFromTheEnvironment)
{
    const char* old = std::getenv("QUERLIN_REGISTRY");
    std::string saved = old ? old : "";
    setenv("QUERLIN_REGISTRY", "/tmp/somewhere/hive.reg", 1);
    EXPECT_EQ(MachineRegistryFileName(), "/tmp/somewhere/hive.reg");
    unsetenv("QUERLIN_REGISTRY");
    EXPECT_EQ(MachineRegistryFileName(), "/var/lib/querlin/registry.reg");
    if (old)
        setenv("QUERLIN_REGISTRY", saved.c_str(), 1);
}

TEST(MachineRegistry, TestsCanPutTheirOwnInPlace)
{
    test::TempDir dir;
    FileRegistry mine(dir.File("hive.reg"));
    SetMachineRegistryForTesting(&mine);
    EXPECT_EQ(&MachineRegistry(), &mine);
    SetMachineRegistryForTesting(nullptr);
    EXPECT_NE(&MachineRegistry(), &mine);
}

TEST(MachineRegistry, RelativeFileNameKeepsItsMeaningAfterTheDirectoryChanges)
{
    test::TempDir dir;
    auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    FileRegistry registry("hive.reg");
    std::filesystem::create_directory(dir.Path() / "elsewhere");
    std::filesystem::current_path(dir.Path() / "elsewhere");
    auto key = registry.OpenOrCreateKey("\\K");
    std::filesystem::current_path(before);
    ASSERT_TRUE(key);
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "hive.reg"));
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "elsewhere" / "hive.reg"));
}
