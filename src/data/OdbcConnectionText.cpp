// The connection text handed to the driver: the ODBC part of the
// connection string with what the ADO part adds, and the options that make
// the driver stream a result instead of reading it whole first.
#include "data/OdbcInternal.h"
#include "data/OdbcProvider.h"

#include "data/ProviderText.h"
#include "platform/AsciiText.h"

#include <odbcinst.h>

#include <algorithm>
#include <cwchar>
#include <mutex>
#include <vector>

namespace querlin::data {

namespace odbc {

// The connect text when it names a data source, a user and a password and
// nothing else (each at most once).
std::optional<DataSourceLogin> PlainDataSourceLogin(const std::string& connectText)
{
    const ConnectionString odbc = ConnectionString::ParseOdbc(connectText);
    int dsn = 0, uid = 0, pwd = 0;
    for (const auto& entry : odbc.Entries()) {
        if (SameKey(entry.first, "DSN"))
            ++dsn;
        else if (SameKey(entry.first, "UID"))
            ++uid;
        else if (SameKey(entry.first, "PWD"))
            ++pwd;
        else
            return std::nullopt;
    }
    if (dsn != 1 || uid != 1 || pwd != 1)
        return std::nullopt;
    return DataSourceLogin{*odbc.Value("DSN"), *odbc.Value("UID"), *odbc.Value("PWD")};
}

namespace {

// A value of the data sources' or the drivers' settings ("odbc.ini",
// "odbcinst.ini", or the registry behind them on Windows); empty when
// absent.
std::string Profile(const std::string& section, const std::string& key, const char* file)
{
    // The installer library reads the files into state of its own; the
    // GUI thread and a worker may both be connecting.
    static std::mutex lock;
    const std::lock_guard<std::mutex> hold(lock);
#ifdef _WIN32
    std::u16string wideSection = Utf8ToUtf16(section), wideKey = Utf8ToUtf16(key),
                   wideFile = Utf8ToUtf16(file);
    std::vector<wchar_t> text(4096, L'\0');
    const int length = SQLGetPrivateProfileStringW(
        reinterpret_cast<LPCWSTR>(wideSection.c_str()), reinterpret_cast<LPCWSTR>(wideKey.c_str()), L"",
        text.data(), static_cast<int>(text.size()), reinterpret_cast<LPCWSTR>(wideFile.c_str()));
    std::size_t units = static_cast<std::size_t>(std::clamp(length, 0, static_cast<int>(text.size()) - 1));
    units = std::min<std::size_t>(units, std::wcslen(text.data()));
    return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), units));
#else
    std::string text(4096, '\0');
    const int length = SQLGetPrivateProfileString(section.c_str(), key.c_str(), "", text.data(),
                                                  static_cast<int>(text.size()), file);
    text.resize(static_cast<std::size_t>(std::clamp(length, 0, static_cast<int>(text.size()) - 1)));
    // Cut at the first NUL, as the installer library may pad.
    text.resize(std::min(text.size(), text.find('\0')));
    return text;
#endif
}

} // namespace

std::vector<std::string> DriverNames(const std::string& connectText)
{
    const ConnectionString odbc = ConnectionString::ParseOdbc(connectText);
    std::vector<std::string> names;
    auto add = [&](std::string name) {
        if (!name.empty())
            names.push_back(std::move(name));
    };
    if (auto driver = odbc.Value("DRIVER")) {
        add(*driver);
    } else if (auto dsn = odbc.Value("DSN"); dsn && !dsn->empty()) {
        add(Profile(*dsn, "Driver", "odbc.ini"));
        // Windows keeps the driver's library in the data source, its name
        // in the list of data sources.
        add(Profile("ODBC Data Sources", *dsn, "odbc.ini"));
    }
    // An installed driver's name stands for its library.
    for (std::size_t i = 0, named = names.size(); i < named; ++i)
        add(Profile(names[i], "Driver", "odbcinst.ini"));
    return names;
}

} // namespace odbc

std::string OdbcConnectText(const ConnectionString& settings)
{
    std::string text = settings.Value("Extended Properties").value_or("");
    const ConnectionString odbc = ConnectionString::ParseOdbc(text);
    // Beside a data source, SERVER is the Oracle net service name, which
    // only the Oracle client resolves (through tnsnames.ora); the drivers
    // that stand in for it take SERVER for a host name and would miss the
    // server the data source names. So it is left to the data source.
    if (odbc.Has("DSN") && odbc.Has("SERVER")) {
        std::vector<ConnectionString::Entry> kept;
        for (const auto& entry : odbc.Entries())
            if (!SameKey(entry.first, "SERVER"))
                kept.push_back(entry);
        text = BuildOdbc(kept);
    }
    text.resize(platform::TrimRight(text, platform::kSpaceAndTab).size());
    auto add = [&](const char* key, const std::string& value) {
        if (!text.empty() && text.back() != ';')
            text += ';';
        text += key;
        text += '=';
        text += QuoteOdbcValue(value);
        text += ';';
    };
    if (!odbc.Has("DSN") && !odbc.Has("DRIVER") && !odbc.Has("FILEDSN"))
        if (auto source = settings.Value("Data Source"); source && !source->empty())
            add("DSN", *source);
    if (!odbc.Has("UID"))
        if (auto user = settings.Value("User ID"))
            add("UID", *user);
    if (!odbc.Has("PWD"))
        if (auto password = settings.Value("Password"))
            add("PWD", *password);
    return text;
}

namespace {

// psqlODBC, by the name it is installed under or by its library
// (psqlodbcw.so, psqlodbca.so, psqlodbc35w.dll).
bool IsPostgreSqlDriver(const std::string& driver)
{
    const std::string name = platform::AsciiUpper(driver);
    return name.find("PSQLODBC") != std::string::npos || name.find("POSTGRES") != std::string::npos;
}

} // namespace

std::string WithCursorOptions(const std::string& connectText, const std::vector<std::string>& driverNames)
{
    if (std::none_of(driverNames.begin(), driverNames.end(), IsPostgreSqlDriver))
        return connectText;
    // Rows come through a cursor, a block a fetch, instead of the whole
    // result landing in the driver's memory before the first row; options
    // in the connection text override the data source's settings. What the
    // text asks for itself (under the long or the short key) stays.
    struct Option {
        const char* key;
        const char* shortKey;
        const char* value;
    };
    static constexpr Option kOptions[] = {{"UseDeclareFetch", "B6", "1"}, {"Fetch", "A7", "10000"}};
    const ConnectionString odbc = ConnectionString::ParseOdbc(connectText);
    std::string text = connectText;
    text.resize(platform::TrimRight(text, platform::kSpaceAndTab).size());
    for (const Option& option : kOptions) {
        if (odbc.Has(option.key) || odbc.Has(option.shortKey))
            continue;
        if (!text.empty() && text.back() != ';')
            text += ';';
        text += option.key;
        text += '=';
        text += option.value;
        text += ';';
    }
    return text;
}

} // namespace querlin::data
