#pragma once
// Connection strings: the ADO form ("Key=value;Key=\"quoted; value\";") and
// the ODBC form inside its "Extended Properties" ("DSN=x;PWD={a;b}}c};").
// Parsing keeps every character of a value, so a password may hold any
// character; the builders quote a value only when it needs it, so ordinary
// values come out exactly as an unquoted template would have written them.
// Plain values, no state: callable from any thread.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace querlin::data {

// The key/value pairs of one connection string in their written order. Keys
// are compared without regard to ASCII letter case; when a key is written
// twice, Value() answers with the last one for ADO strings and the first one
// for ODBC strings, as the respective layers do.
class ConnectionString {
public:
    using Entry = std::pair<std::string, std::string>;

    // ADO form: pairs separated by ";". Blanks around keys and unquoted
    // values are dropped. A value may be enclosed in double or single quotes;
    // inside, the enclosing quote written twice stands for itself. "==" in a
    // key stands for "=". Throws querlin::Error on an unclosed quote or text
    // after a closing quote.
    static ConnectionString ParseAdo(std::string_view text);

    // ODBC form: pairs separated by ";". A value may be enclosed in braces,
    // inside which "}}" stands for "}" and ";" and "=" are plain characters.
    // Throws querlin::Error on an unclosed brace.
    static ConnectionString ParseOdbc(std::string_view text);

    const std::vector<Entry>& Entries() const { return entries_; }
    std::optional<std::string> Value(std::string_view key) const;
    bool Has(std::string_view key) const { return Value(key).has_value(); }

private:
    std::vector<Entry> entries_;
    bool lastWins_ = true;
};

// Compares two keys as both forms do: ASCII letters without regard to case.
bool SameKey(std::string_view a, std::string_view b);

// The value as it must be written after "Key=" in an ADO string: unchanged
// when it can be written bare, otherwise in double quotes with inner double
// quotes doubled.
std::string QuoteAdoValue(std::string_view value);

// The value as it must be written after "KEY=" in an ODBC string: unchanged
// when it can be written bare, otherwise in braces with "}" doubled.
std::string QuoteOdbcValue(std::string_view value);

// "key=value;" pairs for the ADO form and the ODBC form, quoting as above.
std::string BuildAdo(const std::vector<ConnectionString::Entry>& entries);
std::string BuildOdbc(const std::vector<ConnectionString::Entry>& entries);

// What signs on to an ODBC data source. server is the Oracle net service
// name; empty leaves it out.
struct DataSourceSignOn {
    std::string dsn;
    std::string user;
    std::string password;
    std::string server;
};

// The driver's part: "DSN=D;UID=U;PWD=P" and ";SERVER=S" when a server is
// given, each value quoted as QuoteOdbcValue does; no closing ";".
std::string OdbcSignOn(const DataSourceSignOn& signOn);

// The read-only connection through the data source, the one form the
// program and its tests open the database with:
//   Provider=MSDASQL.1;Password=P;Persist Security Info=True;User ID=U;
//   Mode=Read;Extended Properties="DSN=D;UID=U;PWD=P;SERVER=S;"
// Every value is quoted where it has to be, so that a password holding ";",
// a quote or a brace reaches the driver whole instead of ending the value
// early or smuggling in attributes of its own: braces (with "}" doubled)
// inside the driver's part, double quotes (with '"' doubled) outside it.
// Ordinary values are written as they stand.
std::string ReadOnlyConnectionString(const DataSourceSignOn& signOn);

} // namespace querlin::data
