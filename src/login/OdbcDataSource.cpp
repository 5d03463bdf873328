#include "login/OdbcDataSource.h"

#include "platform/AsciiText.h"
#include "platform/Error.h"

#ifndef _WIN32
#include <odbcinst.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace querlin::login {

namespace {

bool Says(const std::string& name, std::string_view word)
{
    return platform::AsciiUpper(name).find(word) != std::string::npos;
}

} // namespace

std::optional<OdbcDriver> ChooseOdbcDriver(const std::vector<std::string>& installed)
{
    for (const std::string& name : installed)
        if (name == kMicrosoftOracleDriver)
            return OdbcDriver{name, DriverKind::Oracle};
    for (const std::string& name : installed)
        if (Says(name, "ORACLE"))
            return OdbcDriver{name, DriverKind::Oracle};
    std::optional<OdbcDriver> postgres;
    for (const std::string& name : installed) {
        if (!Says(name, "POSTGRES") && !Says(name, "PSQLODBC"))
            continue;
        // Text reaches the program as UTF-16 either way; the ANSI driver
        // would pass it through the server's code page first.
        if (Says(name, "UNICODE"))
            return OdbcDriver{name, DriverKind::PostgreSql};
        if (!postgres)
            postgres = OdbcDriver{name, DriverKind::PostgreSql};
    }
    return postgres;
}

std::vector<std::pair<std::string, std::string>> DataSourceValues(const OdbcDriver& driver,
                                                                  const DataSourceSite& site)
{
    if (driver.kind == DriverKind::Oracle) {
        return {
            {"Driver", driver.name},
            {"DSN", site.sid},
            {"Description", site.sid},
            {"ServerName", site.sid},
            {"UserID", site.user},
        };
    }
    return {
        {"Driver", driver.name},
        {"Description", site.sid},
        {"Servername", site.host},
        {"Port", site.port},
        {"Database", platform::AsciiLower(site.sid)},
        {"Username", site.user},
        // Large tables stream in blocks instead of landing in the driver's
        // memory whole beside the record set's own copy.
        {"UseDeclareFetch", "1"},
        {"Fetch", "10000"},
        {"BoolsAsChar", "0"},
        {"SSLmode", "prefer"},
    };
}

#ifndef _WIN32

namespace {

constexpr char kDataSourceFile[] = "odbc.ini";

// The installer library keeps one mode for the process; every call here
// leaves it as the driver manager expects it, reading both files.
class ConfigMode {
public:
    ConfigMode() = default;
    ~ConfigMode() { SQLSetConfigMode(ODBC_BOTH_DSN); }
    ConfigMode(const ConfigMode&) = delete;
    ConfigMode& operator=(const ConfigMode&) = delete;
    void Use(UWORD mode) { SQLSetConfigMode(mode); }
};

std::optional<std::string> Stored(const std::string& section, const std::string& key)
{
    // A default no stored value can hold tells "absent" from "empty".
    static const char kAbsent[] = "\x01" "absent" "\x01";
    std::string text(4096, '\0');
    int length = SQLGetPrivateProfileString(section.c_str(), key.c_str(), kAbsent, text.data(),
                                            static_cast<int>(text.size()), kDataSourceFile);
    text.resize(static_cast<std::size_t>(std::max(length, 0)));
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    if (text == kAbsent)
        return std::nullopt;
    return text;
}

void CheckFitsTheFile(const DataSourceSite& site)
{
    if (site.sid.find_first_of("[]") != std::string::npos)
        throw Error("The SID '" + site.sid + "' cannot name an ODBC data source: it holds '[' or ']'");
    for (const std::string* text : {&site.sid, &site.user, &site.host, &site.port})
        if (text->find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
            throw Error("The data source's settings cannot hold a line break");
}

void PointTheOracleClientAt(const std::string& clientHome)
{
    // Only the environment tells the Oracle client on Linux where its home
    // and its tnsnames.ora are.
    std::string folder = clientHome;
    if (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    setenv("ORACLE_HOME", folder.c_str(), 1);
    setenv("TNS_ADMIN", folder.c_str(), 1);
    setenv("NLS_LANG", "SIMPLIFIED CHINESE_CHINA.ZHS16GBK", 0);
}

} // namespace

std::vector<std::string> InstalledOdbcDrivers()
{
    std::vector<char> list(1 << 16, '\0');
    WORD used = 0;
    std::vector<std::string> names;
    if (!SQLGetInstalledDrivers(list.data(), static_cast<WORD>(list.size() - 2), &used))
        return names;
    // NUL after each name, a second NUL after the last.
    std::size_t at = 0;
    while (at < list.size() && list[at] != '\0') {
        std::string name(list.data() + at);
        at += name.size() + 1;
        names.push_back(std::move(name));
    }
    return names;
}

int RegisterOdbcDataSource(const DataSourceSite& site, const std::string& clientHome)
{
    std::optional<OdbcDriver> driver = ChooseOdbcDriver(InstalledOdbcDrivers());
    if (!driver)
        throw Error("No ODBC driver for the database is installed. Install the Oracle ODBC driver (Oracle Instant "
                    "Client ODBC), or for a PostgreSQL site the package odbc-postgresql, and log in again");
    // No SID names no data source; the connection then fails in the driver
    // manager's own words.
    if (site.sid.empty())
        return 0;
    CheckFitsTheFile(site);
    if (driver->kind == DriverKind::Oracle)
        PointTheOracleClientAt(clientHome);

    const auto values = DataSourceValues(*driver, site);
    ConfigMode mode;
    for (UWORD scope : {static_cast<UWORD>(ODBC_SYSTEM_DSN), static_cast<UWORD>(ODBC_USER_DSN)}) {
        mode.Use(scope);
        int written = 0;
        bool refused = false;
        for (const auto& [key, value] : values) {
            if (Stored(site.sid, key) == value)
                continue;
            if (!SQLWritePrivateProfileString(site.sid.c_str(), key.c_str(), value.c_str(), kDataSourceFile)) {
                refused = true;
                break;
            }
            ++written;
        }
        // The machine's file refuses its first write, so nothing of the data
        // source is left half there before the user's file is tried.
        if (!refused)
            return written;
    }
    // unixODBC keeps the user's data sources in the account's home, whatever
    // $HOME says: an account without one (nobody's /nonexistent) has none.
    const passwd* account = getpwuid(getuid());
    const std::string userFile = std::string(account && account->pw_dir ? account->pw_dir : "~") + "/.odbc.ini";
    throw Error("Cannot register the ODBC data source '" + site.sid +
                "': neither the machine's nor the user's data sources can be written (the user's are kept in " +
                userFile + ", in the account's home folder)");
}

#endif

} // namespace querlin::login
