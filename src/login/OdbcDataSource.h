#pragma once
// The data source named after the SID where the driver manager reads data
// sources. On Windows that is the registry, which the client registration
// writes; on Linux it is unixODBC's own files, written here through its
// installer library: the machine's data sources where the machine's file can
// be written, else the user's. The hive keeps its Windows shape beside it.
//
// The driver, in this order: one that the site registered under the name
// "Microsoft ODBC for Oracle"; else one whose name says Oracle; else the
// PostgreSQL driver, which serves sites that stand in for Oracle. An Oracle
// driver is handed the SID as its net service name and finds the
// tnsnames.ora the Login wrote through the client's configuration directory,
// put into the process's environment before the first connection (the
// Oracle client on Linux reads it nowhere else). The PostgreSQL driver
// cannot read tnsnames.ora, so its data source takes the host and port of
// the file's entry, and the SID names the database, folded to lower case as
// the server folds unquoted names.
//
// The password is never written. Plain C++ (no Qt); GUI thread only.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace querlin::login {

enum class DriverKind { Oracle, PostgreSql };

struct OdbcDriver {
    std::string name;
    DriverKind kind;

    bool operator==(const OdbcDriver&) const = default;
};

// The name the Windows registration gives the driver.
inline constexpr char kMicrosoftOracleDriver[] = "Microsoft ODBC for Oracle";

// The driver to use among the installed ones, by their names; nothing when
// none will do. Among PostgreSQL drivers the Unicode one is preferred.
std::optional<OdbcDriver> ChooseOdbcDriver(const std::vector<std::string>& installed);

// The keys and values of the data source, in the order they are written.
struct DataSourceSite {
    std::string sid;
    std::string user;
    std::string host;  // of the net service entry
    std::string port;
};
std::vector<std::pair<std::string, std::string>> DataSourceValues(const OdbcDriver& driver,
                                                                  const DataSourceSite& site);

#ifndef _WIN32
// The drivers unixODBC lists as installed.
std::vector<std::string> InstalledOdbcDrivers();

// Registers the data source with unixODBC: each value only when it is absent
// or differs, so a second Login with the same fields writes nothing; a data
// source of another SID stays beside it. Returns how many values were
// written; an empty SID registers nothing. For an Oracle driver, also points the client at clientHome (its
// home and configuration directory) through the process's environment.
//
// Throws querlin::Error when no usable driver is installed (saying what to
// install), when the SID cannot name a data source, or when neither the
// machine's nor the user's file can be written.
int RegisterOdbcDataSource(const DataSourceSite& site, const std::string& clientHome);
#endif

} // namespace querlin::login
