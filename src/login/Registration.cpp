#include "login/Registration.h"

#include <string_view>

namespace querlin::login {

namespace {

using platform::ReadRegString;
using platform::RegistryKey;
using platform::RegType;

const char* const EnvironmentKey = "\\SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment";
const char* const DataSourcesRoot = "\\SOFTWARE\\ODBC\\ODBC.INI\\";
const char* const DataSourceListKey = "\\SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources";
const char* const ClientCharacterSet = "SIMPLIFIED CHINESE_CHINA.ZHS16GBK";
const char* const DriverName = "Microsoft ODBC for Oracle";
// Stored unexpanded and with each separator doubled: the text our data
// sources have always carried, so that the rewrite pass leaves them as found.
const char* const DriverLibrary = "%systemroot%\\\\system32\\\\msorcl32.dll";

// Writes wanted unless the value already holds exactly that text.
void Ensure(RegistryKey& key, const std::string& name, const std::string& wanted)
{
    if (ReadRegString(key, name) != wanted)
        key.WriteString(name, wanted, RegType::Sz);
}

void WriteWhenAbsent(RegistryKey& key, const std::string& name, const std::string& wanted)
{
    if (!key.ValueExists(name))
        key.WriteString(name, wanted, RegType::Sz);
}

void RegisterEnvironment(RegistryKey& key, const std::string& programDirectory)
{
    // NLS_LANG is only ever created. A machine that already has one keeps it,
    // whatever it holds: other clients on the machine depend on it, and
    // nothing else is written in its place.
    WriteWhenAbsent(key, "NLS_LANG", ClientCharacterSet);
    WriteWhenAbsent(key, "ORACLE_HOME", programDirectory);
    WriteWhenAbsent(key, "TNS_ADMIN", programDirectory);
    Ensure(key, "ORACLE_HOME", programDirectory);
    Ensure(key, "TNS_ADMIN", programDirectory);

    // The test is for the directory with its trailing separator, letter case
    // and all: a path holding it in another spelling gets it once more.
    const std::string path = ReadRegString(key, "path");
    if (path.find(programDirectory) == std::string::npos)
        key.WriteString("path", path + ";" + programDirectory, RegType::ExpandSz);
    key.Close();
}

void RegisterDataSource(RegistryKey& key, const std::string& sid, const std::string& userName)
{
    struct Wanted {
        const char* name;
        std::string text;
    };
    const Wanted values[] = {
        {"Driver", DriverLibrary},
        {"DSN", sid},
        {"Description", sid},
        {"UID", userName},
        {"PWD", ""},
        {"SERVER", sid},
        {"BufferSize", "65535"},
        {"SynonymColumns", "1"},
        {"Remarks", "0"},
        {"StdDayOfWeek", "1"},
        {"GuessTheColDef", "0"},
        {"StripTrailingZero", "0"},
    };
    for (const auto& value : values)
        WriteWhenAbsent(key, value.name, value.text);
    // PWD is left as it is: whatever a user put there is theirs.
    for (const auto& value : values) {
        if (std::string_view(value.name) != "PWD")
            Ensure(key, value.name, value.text);
    }
    key.Close();
}

void RegisterInDataSourceList(RegistryKey& key, const std::string& sid)
{
    WriteWhenAbsent(key, sid, DriverName);
    Ensure(key, sid, DriverName);
    key.Close();
}

// An empty SID would put the data source's values into the ODBC.INI key
// itself, and a backslash would place it in a key of another name; neither
// names a data source.
bool NamesADataSource(const std::string& sid)
{
    return !sid.empty() && sid.find('\\') == std::string::npos;
}

} // namespace

void RegisterClient(platform::Registry& registry, const std::string& sid, const std::string& userName,
                    const std::string& programDirectory)
{
    if (auto key = registry.OpenOrCreateKey(EnvironmentKey))
        RegisterEnvironment(*key, programDirectory);

    if (!NamesADataSource(sid))
        return;
    if (auto key = registry.OpenOrCreateKey(DataSourcesRoot + sid))
        RegisterDataSource(*key, sid, userName);
    if (auto key = registry.OpenOrCreateKey(DataSourceListKey))
        RegisterInDataSourceList(*key, sid);
    // The File DSN default directory is not written: the conventional text
    // names a folder that does not exist on these machines, and nothing here
    // reads it.
}

} // namespace querlin::login
