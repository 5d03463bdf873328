#include "testsupport/WithoutOverrideRights.h"
#include "platform/UserOverMachineRegistry.h"
#include <gtest/gtest.h>

#include "platform/AsciiText.h"
#include "platform/Error.h"
#include "platform/FileRegistry.h"
#include "platform/Utf8.h"
#include "RegistryCases.h"
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

using querlin::test::ErrorOf;

namespace {

std::string Bytes(std::initializer_list<int> list)
{
    std::string out;
    for (int b : list)
        out += char(b);
    return out;
}

// A hive file as regedit writes it: UTF-16LE behind a byte-order mark.
std::string Utf16File(const std::string& text)
{
    std::string out = "\xFF\xFE";
    for (char16_t unit : Utf8ToUtf16(text)) {
        out += char(unit & 0xFF);
        out += char(unit >> 8);
    }
    return out;
}

// The text of a UTF-16LE file, or "(no byte-order mark)".
std::string TextOf(const std::string& bytes)
{
    if (bytes.rfind("\xFF\xFE", 0) != 0)
        return "(no byte-order mark)";
    std::u16string units;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        units += char16_t(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return Utf16ToUtf8(units);
}

std::string Fixture(const std::string& name)
{
    const auto file = std::filesystem::path(__FILE__).parent_path() / "fixtures" / name;
    const std::string bytes = ReadFile(file);
    if (bytes.empty())
        ADD_FAILURE() << "fixture " << file << " is missing";
    return bytes;
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
    const auto& cases = test::kWrittenTextCases;
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
    EXPECT_EQ(ReadFile(hiveName), Utf16File("Windows Registry Editor Version 5.00\r\n"
                                            "\r\n"
                                            "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n"
                                            "\r\n"
                                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC]\r\n"
                                            "\r\n"
                                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBC.INI]\r\n"
                                            "\r\n"
                                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBC.INI\\site042]\r\n"
                                            "\"DSN\"=\"site042\"\r\n"
                                            "\"path\"=hex(2):61,00,3b,00,00,00\r\n"
                                            "\r\n"));
}

// Long data wrap as regedit wraps them: inside 80 columns counted in
// UTF-16 characters, a backslash at the end of every line but the last,
// two blanks before each continuation.
TEST_F(RegistryTest, LongDataWrapInsideEightyColumns)
{
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\K");
    std::string longPath = "%SystemRoot%\\system32";
    for (int i = 0; i < 8; ++i)
        longPath += ";D:\\数据库\\客户端" + std::to_string(i);
    key->WriteString("path", longPath, RegType::ExpandSz);
    key->WriteString("中文路径", longPath, RegType::ExpandSz);
    key->WriteString("Lines", std::string(200, 'x') + "\r\n" + std::string(50, 'y'), RegType::Sz);
    const std::string text = TextOf(ReadFile(hiveName));
    int continued = 0;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "every line ends in CR LF";
        const std::string line = text.substr(start, end - start);
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        EXPECT_LE(Utf8ToUtf16(line).size(), 80u) << line;
        if (line.rfind("  ", 0) == 0)
            ++continued;
        start = end + 2;
    }
    EXPECT_GT(continued, 10);
    // The Chinese name takes fewer columns than its UTF-8 bytes: 21 bytes
    // fit on its first line, as on every line starting "name"=hex(2): of
    // fourteen characters.
    EXPECT_NE(text.find("\"中文路径\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,\\\r\n"),
              std::string::npos);
    FileRegistry reader(hiveName);
    auto again = reader.OpenOrCreateKey("\\K");
    EXPECT_EQ(ReadRegString(*again, "path"), longPath);
    EXPECT_EQ(ReadRegString(*again, "中文路径"), longPath);
    EXPECT_EQ(ReadRegString(*again, "Lines"), std::string(200, 'x') + "\r\n" + std::string(50, 'y'));
}

TEST_F(RegistryTest, KeyPathsAndValueNamesIgnoreLetterCase)
{
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment");
    key->WriteString("Path", "C:\\Windows", RegType::ExpandSz);
    key->WriteString("Ärger", "1", RegType::Sz);
    key->WriteString("Имя", "2", RegType::Sz);

    const auto& cases = test::kLetterCaseLookups;
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
    std::string text = TextOf(ReadFile(hiveName));
    EXPECT_NE(text.find("\"Path\"=hex(2)"), std::string::npos);
    EXPECT_EQ(text.find("\"PATH\""), std::string::npos);
    EXPECT_EQ(ReadRegString(*key, "path"), "C:\\Windows;/opt/");
}

// A hive of many and deep keys (a damaged or hostile file) is read with
// every key found under any spelling, the first of two spellings of one key
// winning, and keys appended or taken away directly still found right.
TEST(Hive, LookUpsInALargeDeepHive)
{
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    std::string deep = "HKEY_LOCAL_MACHINE\\SOFTWARE";
    for (int i = 0; i < 300; ++i)
        deep += "\\k" + std::to_string(i);
    text += "[" + deep + "]\r\n\"v\"=\"deep\"\r\n\r\n";
    for (int i = 0; i < 3000; ++i)
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Flat\\Ключ" + std::to_string(i) + "]\r\n\"v\"=\"" +
                std::to_string(i) + "\"\r\n\r\n";
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\FLAT\\КЛЮЧ7]\r\n\"w\"=\"again\"\r\n\r\n";
    hive::Hive parsed = hive::Parse(text, "large.reg");
    // SOFTWARE, the 300 deep keys, Flat and its 3,000 keys.
    EXPECT_EQ(parsed.keys.size(), 1u + 300u + 1u + 3000u);

    const hive::Key* deepest = parsed.FindKey(platform::AsciiUpper(deep));
    ASSERT_TRUE(deepest);
    EXPECT_EQ(deepest->path, deep);
    const hive::Key* seventh = parsed.FindKey("HKEY_LOCAL_MACHINE\\software\\flat\\ключ7");
    ASSERT_TRUE(seventh);
    EXPECT_EQ(seventh->path, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Flat\\Ключ7");
    EXPECT_TRUE(hive::FindValue(*seventh, "W")) << "the second spelling added to the first key";
    EXPECT_FALSE(parsed.FindKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Flat\\Ключ3000"));

    parsed.keys.push_back({"HKEY_LOCAL_MACHINE\\SOFTWARE\\Appended", {}});
    EXPECT_EQ(parsed.FindKey("hkey_local_machine\\software\\appended"), &parsed.keys.back());
    parsed.keys.erase(parsed.keys.begin());
    ASSERT_TRUE(parsed.FindKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Flat\\Ключ9"));
    EXPECT_EQ(parsed.FindKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Flat\\Ключ9")->path,
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Flat\\Ключ9");
    EXPECT_FALSE(parsed.FindKey("HKEY_LOCAL_MACHINE\\SOFTWARE"));
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
    const auto& cases = test::kStringReadingCases;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.expected) {
            EXPECT_EQ(ReadRegString(*key, c.name), c.expected);
        } else {
            EXPECT_EQ(ErrorOf([&] { ReadRegString(*key, c.name); }),
                      std::string("Invalid data type for '") + c.name + "'");
        }
    }
}

TEST_F(RegistryTest, OnlyStringTypesCanBeWritten)
{
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\K");
    EXPECT_EQ(ErrorOf([&] { key->WriteString("Count", "1", RegType::Dword); }), "Failed to set data for 'Count'");
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
    const std::string broken = ReadFile(hiveName) + Utf16File("\"B\"=hex:zz\r\n").substr(2);
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

std::string Utf16Le(const std::string& text)
{
    return Utf16File(text).substr(2);
}

// Every key and value of expected is in actual with the same type and data,
// and actual holds nothing more.
void ExpectSameHive(const hive::Hive& actual, const hive::Hive& expected)
{
    EXPECT_EQ(actual.keys.size(), expected.keys.size());
    for (const auto& key : expected.keys) {
        SCOPED_TRACE(key.path);
        const hive::Key* found = actual.FindKey(key.path);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->values.size(), key.values.size());
        for (const auto& v : key.values) {
            SCOPED_TRACE(v.name);
            const hive::Value* w = hive::FindValue(*found, v.name);
            ASSERT_TRUE(w);
            EXPECT_EQ(w->value.type, v.value.type);
            EXPECT_EQ(w->value.data, v.value.data);
        }
    }
}

// Exported by Wine's regedit (/E) after importing these values.
const ValueCase kWineExportValues[] = {
    {"Default", "", RegType::Sz, "default text"},
    {"QuotesAndBackslashes", "Quoted", RegType::Sz, "say \"hi\" to C:\\Program Files\\Querlin\\"},
    {"Chinese", "Chinese", RegType::Sz, "数据库 用户表"},
    {"EmptyText", "Empty", RegType::Sz, ""},
    {"SystemRoot", "Expand", RegType::ExpandSz, "%systemroot%\\system32;C:\\Querlin\\"},
    {"EmptyExpand", "EmptyExpand", RegType::ExpandSz, ""},
    {"LongText", "LongText", RegType::Sz,
     "abcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghij"
     "abcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghij"
     "abcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghij"},
    {"LongExpandWrapped", "LongExpand", RegType::ExpandSz,
     "%PATH%;C:\\Program Files\\数据\\bin;C:\\Program Files\\数据\\bin;C:\\Program Files\\数据\\bin;"
     "C:\\Program Files\\数据\\bin;C:\\Program Files\\数据\\bin;C:\\Program Files\\数据\\bin;"},
    {"ChineseName", "中文路径", RegType::ExpandSz, "%SystemRoot%\\system32;D:\\数据库\\客户端\\"},
    {"Dword", "Number", RegType::Dword, Bytes({0xff, 0xff, 0, 0})},
    {"Binary", "Blob", RegType::Binary, Bytes({0, 1, 0xfe, 0xff})},
    {"MultiString", "Multi", RegType::MultiSz, Utf16Le(std::string("one\0二\0\0", 9))},
};

TEST_F(RegistryTest, WineRegeditExportIsReadWithEveryValue)
{
    WriteFile(hiveName, Fixture("wine-export.reg"));
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\Software\\QuerlinFixture");
    ASSERT_TRUE(key);
    for (const auto& c : kWineExportValues) {
        SCOPED_TRACE(c.label);
        auto value = key->ReadValue(c.name);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(value->type, c.type);
        EXPECT_EQ(value->data, c.data);
    }
    auto sub = registry.OpenOrCreateKey("\\Software\\QuerlinFixture\\Sub Key");
    EXPECT_EQ(ReadRegString(*sub, "NLS_LANG"), "SIMPLIFIED CHINESE_CHINA.ZHS16GBK");
}

// Values this program wrote, imported by Wine's regedit and exported again:
// Wine writes the line breaks of a text as \r and \n escapes.
TEST_F(RegistryTest, WineExportOfOurValuesIsReadBack)
{
    WriteFile(hiveName, Fixture("wine-export-line-breaks.reg"));
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\SOFTWARE\\QuerlinKinds");
    const ValueCase cases[] = {
        {"LineBreaks", "Lines", RegType::Sz, "one\r\ntwo\nthree"},
        {"QuotesAndBackslashes", "Quoted", RegType::Sz, "say \"hi\" C:\\x\\"},
        {"Chinese", "Chinese", RegType::Sz, "数据库"},
        {"EmptyText", "Empty", RegType::Sz, ""},
        {"EmptyExpand", "EmptyExpand", RegType::ExpandSz, ""},
        {"OutsideBasicPlane", "Emoji", RegType::ExpandSz, "\xF0\x9F\x98\x80"},
        {"ChineseNameWrapped", "中文路径", RegType::ExpandSz,
         "%SystemRoot%\\system32;D:\\数据库\\客户端\\;D:\\数据库\\客户端\\;D:\\数据库\\客户端\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto value = key->ReadValue(c.name);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(value->type, c.type);
        EXPECT_EQ(value->data, c.data);
    }
}

// Found by fuzzing: a value name holding a line break (Wine writes it as
// \r, \n) was written raw, so the new file would not read back and every
// later write to the hive was refused.
TEST_F(RegistryTest, ValueNameWithLineBreaksIsWrittenSoTheHiveReadsBack)
{
    WriteFile(hiveName, std::string("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n") +
                            "\"two\\r\\nlines\\0\"=\"x\"\r\n");
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\K");
    ASSERT_TRUE(key);
    key->WriteString("Next", "y", RegType::Sz);
    EXPECT_EQ(ReadRegString(*key, "Next"), "y");
    EXPECT_EQ(ReadRegString(*key, std::string("two\r\nlines\0", 11)), "x");
    const hive::Hive reread = hive::Parse(ReadFile(hiveName), hiveName);
    ASSERT_EQ(reread.keys.size(), 1u);
    EXPECT_EQ(reread.keys[0].values.size(), 2u);
}

// The file is UTF-16, so bytes that are not UTF-8 cannot be stored as
// they are: the write is refused rather than altered, and the file kept.
TEST_F(RegistryTest, TextThatIsNotUtf8IsRefusedNotAltered)
{
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\K");
    key->WriteString("A", "1", RegType::Sz);
    const std::string before = ReadFile(hiveName);
    for (RegType type : {RegType::Sz, RegType::ExpandSz}) {
        EXPECT_EQ(test::ErrorOf([&] { key->WriteString("Gbk", "\xD6\xD0", type); }),
                  "Failed to set data for 'Gbk'");
    }
    EXPECT_EQ(ReadFile(hiveName), before);
    EXPECT_FALSE(key->ValueExists("Gbk"));
}

TEST_F(RegistryTest, WhatRegeditExportedIsWrittenByteForByte)
{
    const std::string exported = Fixture("wine-export.reg");
    hive::Hive parsed = hive::Parse(exported, "wine-export.reg");
    // Parsing lists the parent key, which the export leaves out.
    ASSERT_EQ(parsed.keys.front().path, "HKEY_LOCAL_MACHINE\\Software");
    parsed.keys.erase(parsed.keys.begin());
    EXPECT_EQ(hive::Format(parsed), exported);
}

TEST_F(RegistryTest, Regedit4FileInTheCodePageIsRead)
{
    // Written by hand in code page 936; Wine's regedit, running in that code
    // page, imported it and exported the second file.
    const std::string regedit4 = Fixture("regedit4-gbk.reg");
    ASSERT_EQ(regedit4.rfind("REGEDIT4\r\n", 0), 0u);
    const hive::Hive expected = hive::Parse(Fixture("wine-export-of-regedit4.reg"), "wine-export-of-regedit4.reg");
    ExpectSameHive(hive::Parse(regedit4, "regedit4-gbk.reg"), expected);

    WriteFile(hiveName, regedit4);
    FileRegistry registry(hiveName);
    auto key = registry.OpenOrCreateKey("\\Software\\QuerlinRegedit4");
    ASSERT_TRUE(key);
    EXPECT_EQ(registry.WriteCount(), 0) << "reading leaves the file as it is";
    EXPECT_EQ(ReadRegString(*key, ""), "默认");
    EXPECT_EQ(ReadRegString(*key, "path"), "%SystemRoot%\\system32;D:\\数据库\\客户端\\");
    EXPECT_EQ(key->ReadValue("Multi")->data, Utf16Le(std::string("one\0二\0\0", 9)));

    // The next change writes the version 5 form, every value kept.
    key->WriteString("Added", "新", RegType::Sz);
    const std::string rewritten = ReadFile(hiveName);
    EXPECT_EQ(rewritten.rfind("\xFF\xFE", 0), 0u);
    hive::Hive after = hive::Parse(rewritten, hiveName);
    hive::Key* changed = after.FindKey("HKEY_LOCAL_MACHINE\\Software\\QuerlinRegedit4");
    ASSERT_EQ(changed->values.back().name, "Added");
    EXPECT_EQ(changed->values.back().value.data, "新");
    changed->values.pop_back();
    ExpectSameHive(after, expected);
}

TEST_F(RegistryTest, HiveOfAnEarlierBuildIsReadAndRewrittenInTheNewForm)
{
    // Written in UTF-8 by an earlier build after a Login with the SID
    // site042, the user scott and the program in /opt/数据/querlin/.
    const std::string old = Fixture("utf8-hive-of-an-earlier-build.reg");
    ASSERT_EQ(old.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    WriteFile(hiveName, old);
    FileRegistry registry(hiveName);
    auto environment = registry.OpenOrCreateKey("\\SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment");
    ASSERT_TRUE(environment);
    EXPECT_EQ(ReadRegString(*environment, "ORACLE_HOME"), "/opt/数据/querlin/");
    EXPECT_EQ(ReadRegString(*environment, "path"), ";/opt/数据/querlin/");
    EXPECT_EQ(ReadFile(hiveName), old) << "opening a key that exists changes nothing";

    auto source = registry.OpenOrCreateKey("\\SOFTWARE\\ODBC\\ODBC.INI\\site042");
    source->WriteString("UID", "scott", RegType::Sz);  // the same text: still a change of form
    source->WriteString("Description", "site042", RegType::Sz);
    const std::string rewritten = ReadFile(hiveName);
    EXPECT_EQ(rewritten.rfind("\xFF\xFE" "W\0i\0n\0", 0), 0u);
    ExpectSameHive(hive::Parse(rewritten, hiveName), hive::Parse(old, "old"));
}

TEST_F(RegistryTest, DamagedFileInAnyFormNamesItsLineAndIsKept)
{
    struct Case {
        const char* label;
        std::string bytes;
        const char* line;
    } cases[] = {
        {"Utf16BadHex", Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"A\"=hex:0g\r\n"),
         "line 4"},
        {"Utf16HalfACharacter", Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n") + "A",
         "line 4"},
        {"Utf16LoneSurrogate",
         Utf16File("Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"") + std::string("\x00\xD8", 2) +
             Utf16Le("\"=\"1\"\r\n"),
         "line 3"},
        {"Utf8NotUtf8", "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=\"\xD6\xD0\"\n", "line 3"},
        {"Regedit4NotInTheCodePage", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"A\"=\"\x81\x20\"\r\n", "line 4"},
        {"Regedit4BadTextBytes", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"A\"=hex(2):81,20,00\r\n", "line 3"},
        {"KeyDeeperThanTheRegistryAllows", [] {
             std::string deep = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n[HKEY_LOCAL_MACHINE";
             for (int i = 0; i < 513; ++i)
                 deep += "\\k";
             return deep + "]\n";
         }(), "line 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        WriteFile(hiveName, c.bytes);
        FileRegistry registry(hiveName);
        const std::string message = test::ErrorOf([&] { registry.OpenOrCreateKey("\\SOFTWARE\\K2"); });
        EXPECT_NE(message.find("'" + hiveName + "' is damaged"), std::string::npos) << message;
        EXPECT_NE(message.find(c.line), std::string::npos) << message;
        EXPECT_EQ(ReadFile(hiveName), c.bytes);
        EXPECT_EQ(registry.WriteCount(), 0);
    }
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

// The user's hive in front of the machine's, as Windows virtualises the
// machine's registry for a program that may not write there.
TEST_F(RegistryTest, UsersHiveStandsInWhereTheMachinesCannotBeWritten)
{
    const std::string key = "\\SOFTWARE\\ODBC\\ODBC.INI\\site042";
    struct Case {
        const char* label;
        bool machineWritable;
    };
    for (const Case c : {Case{"machine writable", true}, Case{"machine read-only", false}}) {
        SCOPED_TRACE(c.label);
        test::TempDir here;
        const std::string machineFile = here.File("machine/registry.reg");
        {
            FileRegistry setup(machineFile);
            auto k = setup.OpenOrCreateKey(key);
            k->WriteString("DSN", "site042", RegType::Sz);
            k->WriteString("UID", "system", RegType::Sz);
        }
        if (!c.machineWritable) {
            std::filesystem::permissions(machineFile, std::filesystem::perms::owner_read);
            std::filesystem::permissions(here.File("machine"), std::filesystem::perms::owner_read |
                                                                   std::filesystem::perms::owner_exec);
        }
        FileRegistry machine(machineFile);
        FileRegistry user(here.File("user/registry.reg"));
        const std::string machineBefore = ReadFile(machineFile);
        test::RunWithoutOverrideRights([&] {
            // Made as the program makes it, with the rights of the run.
            UserOverMachineRegistry layered(machine, user);
            EXPECT_EQ(layered.MachineWritable(), c.machineWritable);
            auto k = layered.OpenOrCreateKey(key);
            ASSERT_NE(k, nullptr);
            EXPECT_EQ(ReadRegString(*k, "UID"), "system") << "the machine's value is seen";
            k->WriteString("UID", "scott", RegType::Sz);
            EXPECT_EQ(ReadRegString(*k, "UID"), "scott");
            EXPECT_TRUE(k->ValueExists("DSN"));
            EXPECT_FALSE(k->ValueExists("PWD"));
        });
        if (c.machineWritable) {
            EXPECT_EQ(machine.Peek(key, "UID")->data, "scott");
            EXPECT_FALSE(std::filesystem::exists(user.FileName()));
        } else {
            EXPECT_EQ(ReadFile(machineFile), machineBefore) << "the machine's hive is untouched";
            EXPECT_EQ(user.Peek(key, "UID")->data, "scott");
            EXPECT_FALSE(user.Peek(key, "DSN").has_value()) << "only what was written goes to the user's";
            std::filesystem::permissions(here.File("machine"), std::filesystem::perms::owner_all);
        }
    }
}
