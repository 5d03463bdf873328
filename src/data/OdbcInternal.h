#pragma once
// The ODBC provider's own pieces, one job a file: handles and diagnostics
// (OdbcHandles.cpp), type mapping and value conversion (OdbcTypes.cpp), the
// reader (OdbcReader.cpp), the connection text (OdbcConnectionText.cpp), the
// read-only guard (OdbcReadOnly.cpp); OdbcProvider.cpp connects and holds
// them together. Only those files include this header.

#include "data/ConnectionString.h"
#include "data/Provider.h"

#ifdef _WIN32
// Windows' ODBC headers build on its own types.
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace querlin::data::odbc {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC's wide characters are UTF-16 units");

// ---- Handles and diagnostics (OdbcHandles.cpp) ----

SQLWCHAR* Wide(std::u16string& text);
std::string Narrow(const SQLWCHAR* text, std::size_t units);

// Every diagnostic record of a handle, one message per line, duplicates
// dropped; `what` when the driver left none.
[[noreturn]] void ThrowDiagnostics(SQLSMALLINT type, SQLHANDLE handle, const char* what);
void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what);

// Servers whose read-only transactions the connection knows how to ask for.
enum class ServerKind { Other, PostgreSql, Oracle };

// The environment and connection handles; shared by the connection and
// the readers it hands out, so a reader outliving its connection object
// still frees its statement before the connection goes.
struct Link {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    bool connected = false;
    // Asked for with Mode=Read: only single queries run, whatever the
    // driver makes of the access mode.
    bool readOnly = false;
    ServerKind server = ServerKind::Other;
    SQLUINTEGER getDataExtensions = 0;
    // PostgreSQL through psqlODBC: queries stream through a cursor of the
    // connection's own (OdbcCursor.cpp), and whether one is open now.
    bool ownCursors = false;
    bool cursorOpen = false;

    Link() = default;
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;
};

class StatementHandle {
public:
    explicit StatementHandle(const Link& link);
    ~StatementHandle() { Free(); }
    StatementHandle(const StatementHandle&) = delete;
    StatementHandle& operator=(const StatementHandle&) = delete;
    SQLHSTMT Get() const { return stmt_; }
    void Free();

private:
    SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

// Runs the text on the statement; false when it ran without producing
// anything (a searched statement that touched no row).
bool Run(SQLHSTMT stmt, const std::string& sql);

// ---- Values (OdbcTypes.cpp) ----

// A decimal number as the sink wants it (optional "-", digits, optional "."
// and digits) from what drivers send ("+1.5", ".5", "1.", "1E+3"); nothing
// when the text is no number.
std::optional<std::string> PlainDecimal(std::string_view text);
// Already in that form: no blanks, sign "+" or exponent.
bool IsPlainDecimal(std::string_view text);
std::string FormatGuid(const SQLGUID& guid);
// A single-precision value as the double the user would read: 1.1 stays
// 1.1 instead of becoming 1.10000002384186.
double WidenFloat(float value);

// ---- The reader (OdbcReader.cpp) ----

class ServerCursor;

// Reads the result of an executed statement with this many columns; with a
// cursor, the statement holds its first FETCH and the reader asks it for
// the next ones.
std::unique_ptr<ResultReader> MakeReader(std::shared_ptr<Link> link, std::unique_ptr<StatementHandle> statement,
                                         SQLSMALLINT columnCount, std::unique_ptr<ServerCursor> cursor = nullptr);

// ---- The connection's own cursor (OdbcCursor.cpp) ----

// psqlODBC's own streaming (UseDeclareFetch) crashes inside SQLFetch when
// the connection is cut while a block of rows is arriving, and a crash
// takes the user's window with it. A result it reads whole does not: so
// queries on PostgreSQL declare a cursor of their own in a transaction of
// their own and take its rows FETCH by FETCH, each FETCH a result the
// driver reads whole, the same number of rows at a time as its streaming
// would hold.
class ServerCursor {
public:
    // Rows a FETCH asks for.
    static constexpr std::size_t kRows = 10000;

    // Declares the query's cursor and runs its first FETCH on the
    // statement. Nothing when the connection has no cursors of its own, has
    // one open already, or the server will not declare one for this text
    // (the caller then runs it plainly, which reports a real fault in the
    // server's words); throws when the connection fails.
    static std::unique_ptr<ServerCursor> Open(std::shared_ptr<Link> link, SQLHSTMT statement, const std::string& sql);
    // Ends the transaction, whatever became of the connection.
    ~ServerCursor();
    ServerCursor(const ServerCursor&) = delete;
    ServerCursor& operator=(const ServerCursor&) = delete;

    // After the rows of one FETCH are read: runs the next on the statement.
    // False when the last FETCH had fewer than kRows rows (the cursor is
    // spent). Throws the driver's words when it fails.
    bool FetchMore(SQLHSTMT statement, std::size_t rowsOfLastFetch);

private:
    explicit ServerCursor(std::shared_ptr<Link> link);
    std::shared_ptr<Link> link_;
    std::u16string fetch_;
};

// Whether the connection is PostgreSQL through psqlODBC (after connecting).
bool HasOwnCursors(const Link& link);

// ---- The connection text (OdbcConnectionText.cpp) ----

struct DataSourceLogin {
    std::string dsn, uid, pwd;
};

// The connect text when it names a data source, a user and a password and
// nothing else (each at most once).
std::optional<DataSourceLogin> PlainDataSourceLogin(const std::string& connectText);

// The names the connect text's driver goes by: its DRIVER, or what the
// data source it names says (the Driver entry, and on Windows its entry in
// the list of data sources), each followed by the library of an installed
// driver of that name. Empty when none is known.
std::vector<std::string> DriverNames(const std::string& connectText);

// ---- The read-only guard (OdbcReadOnly.cpp) ----

// The server behind the connection, from the driver's DBMS name.
ServerKind KindOfServer(SQLHDBC dbc);

// "Mode=Read", "Read|...", or the number of the read mode.
bool WantsReadOnly(const ConnectionString& settings);
// Asks the driver for read-only access; a request it may ignore.
void RequestReadOnlyAccess(const Link& link);
// After connecting: learns the server and asks it for read-only
// transactions where it knows how.
void MakeReadOnly(Link& link);
// Before every statement: the server's read-only default again, since a
// function run earlier may have lifted it.
void KeepReadOnlyAtServer(Link& link);
// Refuses, before the driver sees it, text other than a single query on a
// read-only connection.
void CheckReadOnlyText(const Link& link, const std::string& sql);

} // namespace querlin::data::odbc
