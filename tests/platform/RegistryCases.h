#pragma once
// The cases the registry is held to on both sides, the file-backed hive and
// the Windows registry: each test file sets the values up its own way and
// runs the same table.

#include "platform/Registry.h"

#include <string>

namespace querlin::test {

// Values of one key read through ReadRegString: their text, or the type
// error. The key holds "Text" (REG_SZ abc), "Padded" (REG_SZ a, b, NUL, c),
// "Expand" (REG_EXPAND_SZ %P%), "EmptyText" (REG_SZ of its NUL alone),
// "NoBytes" (REG_SZ of no bytes), "EmptyBinary" (REG_BINARY of no bytes),
// "Number" (REG_DWORD 1) and "Blob" (REG_BINARY a, b).
struct StringReadingCase {
    const char* name;
    const char* expected;  // nullptr: the type error
};
inline const StringReadingCase kStringReadingCases[] = {
    {"Absent", ""},       {"Text", "abc"},    {"Padded", "ab"},      {"Expand", "%P%"},
    {"EmptyText", ""},    {"NoBytes", ""},    {"EmptyBinary", ""},   {"Number", nullptr},
    {"Blob", nullptr},
};

// Texts written and read back as they were, unexpanded.
struct WrittenTextCase {
    const char* label;
    platform::RegType type;
    std::string text;
};
inline const WrittenTextCase kWrittenTextCases[] = {
    {"Plain", platform::RegType::Sz, "site042"},
    {"Empty", platform::RegType::Sz, ""},
    {"QuotesAndBackslashes", platform::RegType::Sz, "%systemroot%\\\\system32\\\\msorcl32.dll \"x\""},
    {"LineBreaks", platform::RegType::Sz, "one\r\ntwo\n"},
    {"EmbeddedNul", platform::RegType::Sz, std::string("ab\0cd", 5)},
    {"Chinese", platform::RegType::Sz, "SIMPLIFIED CHINESE_CHINA.ZHS16GBK 简体"},
    {"ExpandPath", platform::RegType::ExpandSz, "%SystemRoot%\\system32;/opt/querlin/"},
    {"ExpandEmpty", platform::RegType::ExpandSz, ""},
    {"OutsideBasicPlane", platform::RegType::ExpandSz, "\xF0\x9F\x98\x80"},
    {"SystemRoot", platform::RegType::ExpandSz, "%systemroot%\\system32;C:\\Program Files\\Querlin\\"},
    {"LongText", platform::RegType::Sz, std::string(300, 'q') + "\\\"数据\""},
    {"LongExpand", platform::RegType::ExpandSz, "%PATH%;" + std::string(120, 'p') + ";D:\\数据库\\"},
};

// Look-ups of values written to
// \SYSTEM\ControlSet001\Control\Session Manager\Environment as "Path"
// (C:\Windows), "Ärger" (1) and "Имя" (2), under other spellings.
struct LetterCaseLookup {
    const char* label;
    const char* keyPath;
    const char* name;
    const char* expected;
};
inline const LetterCaseLookup kLetterCaseLookups[] = {
    {"SameSpelling", "\\SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment", "Path", "C:\\Windows"},
    {"LowerCaseName", "\\SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment", "path", "C:\\Windows"},
    {"UpperCaseKey", "SYSTEM\\CONTROLSET001\\CONTROL\\SESSION MANAGER\\ENVIRONMENT", "PATH", "C:\\Windows"},
    {"TrailingBackslash", "\\system\\controlset001\\control\\session manager\\environment\\", "pAtH",
     "C:\\Windows"},
    {"LatinOne", "\\SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment", "äRGER", "1"},
    {"Cyrillic", "\\SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment", "иМЯ", "2"},
};

} // namespace querlin::test
