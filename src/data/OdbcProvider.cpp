// Databases through the ODBC driver manager's wide-character API: the
// connection, its statements and the catalogue. The pieces it rests on are
// in the other Odbc*.cpp files (see OdbcInternal.h).
#include "data/OdbcProvider.h"

#include "data/OdbcInternal.h"
#include "data/ProviderText.h"
#include "data/QueryText.h"
#include "platform/Error.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <vector>

namespace querlin::data {

using namespace odbc;

namespace {

constexpr int kLoginTimeoutSeconds = 15;
// Connections are made on the GUI thread and on the export worker.
std::atomic<int> loginTimeoutSeconds{kLoginTimeoutSeconds};

class OdbcConnection : public Connection {
public:
    explicit OdbcConnection(std::shared_ptr<Link> link) : link_(std::move(link)) {}

    std::unique_ptr<ResultReader> Query(const std::string& sql) override
    {
        CheckReadOnlyText(*link_, sql);
        KeepReadOnlyAtServer(*link_);
        auto statement = std::make_unique<StatementHandle>(*link_);
        std::unique_ptr<ServerCursor> cursor;
        if (IsSingleQuery(sql))
            cursor = ServerCursor::Open(link_, statement->Get(), sql);
        if (!cursor && !Run(statement->Get(), sql))
            return nullptr;
        SQLSMALLINT columns = 0;
        Check(SQLNumResultCols(statement->Get(), &columns), SQL_HANDLE_STMT, statement->Get(),
              "Cannot count the result's columns.");
        if (columns <= 0)
            return nullptr;
        return MakeReader(link_, std::move(statement), columns, std::move(cursor));
    }

    std::int64_t Execute(const std::string& sql) override
    {
        CheckReadOnlyText(*link_, sql);
        KeepReadOnlyAtServer(*link_);
        StatementHandle statement(*link_);
        if (!Run(statement.Get(), sql))
            return 0;
        SQLLEN rows = 0;
        if (!SQL_SUCCEEDED(SQLRowCount(statement.Get(), &rows)) || rows < 0)
            return 0;
        return rows;
    }

    std::vector<CatalogEntry> Tables() override
    {
        StatementHandle statement(*link_);
        SQLHSTMT stmt = statement.Get();
        Check(SQLTablesW(stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_HANDLE_STMT, stmt,
              "Cannot list the tables.");
        std::vector<CatalogEntry> entries;
        SQLRETURN rc;
        while ((rc = SQLFetch(stmt)) != SQL_NO_DATA) {
            Check(rc, SQL_HANDLE_STMT, stmt, "Cannot list the tables.");
            CatalogEntry entry;
            entry.name = TextOf(stmt, 3);
            entry.type = TextOf(stmt, 4);
            entries.push_back(std::move(entry));
        }
        return entries;
    }

    // Through ODBC the program only reads: rows are stored and deleted in
    // the local store alone, so nothing here writes them.
    std::vector<NamedValue> InsertRow(const std::string&, const std::vector<NamedValue>&) override
    {
        RefuseRowWrites();
    }

    void DeleteRow(const std::string&, const std::vector<NamedValue>&) override { RefuseRowWrites(); }

private:
    [[noreturn]] void RefuseRowWrites() const
    {
        if (link_->readOnly)
            throw Error("rows cannot be stored or deleted on a read-only connection");
        throw Error("rows cannot be stored or deleted through an ODBC connection: it only reads the database");
    }

    static std::string TextOf(SQLHSTMT stmt, SQLUSMALLINT column)
    {
        SQLWCHAR text[512] = {};
        SQLLEN length = 0;
        if (!SQL_SUCCEEDED(SQLGetData(stmt, column, SQL_C_WCHAR, text, sizeof text, &length)) ||
            length == SQL_NULL_DATA)
            return {};
        std::size_t units = length == SQL_NO_TOTAL ? sizeof text / sizeof text[0] - 1
                                                   : std::min<std::size_t>(static_cast<std::size_t>(length) / 2,
                                                                           sizeof text / sizeof text[0] - 1);
        return Narrow(text, units);
    }

    std::shared_ptr<Link> link_;
};

// Allocates the handles and sets what must be set before connecting.
std::shared_ptr<Link> NewLink(bool readOnly)
{
    auto link = std::make_shared<Link>();
    link->readOnly = readOnly;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &link->env)))
        throw Error("Cannot start the ODBC driver manager.");
    Check(SQLSetEnvAttr(link->env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
          SQL_HANDLE_ENV, link->env, "Cannot start the ODBC driver manager.");
    Check(SQLAllocHandle(SQL_HANDLE_DBC, link->env, &link->dbc), SQL_HANDLE_ENV, link->env,
          "Cannot start an ODBC connection.");
    // A server that does not answer fails the connection after 15 seconds,
    // the wait a desktop data-access layer gives a login by default,
    // instead of hanging the window.
    SQLSetConnectAttr(link->dbc, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(loginTimeoutSeconds.load())), 0);
    // Read-only access is a request: a driver that ignores or refuses it
    // still connects.
    if (readOnly)
        RequestReadOnlyAccess(*link);
    return link;
}

SQLRETURN DriverConnect(SQLHDBC dbc, const std::string& text)
{
    std::u16string wide = Utf8ToUtf16(text);
    std::vector<SQLWCHAR> completed(2048);
    SQLSMALLINT completedLength = 0;
    return SQLDriverConnectW(dbc, nullptr, Wide(wide), static_cast<SQLSMALLINT>(wide.size()), completed.data(),
                             static_cast<SQLSMALLINT>(completed.size()), &completedLength, SQL_DRIVER_NOPROMPT);
}

} // namespace

void SetOdbcLoginTimeoutForTesting(int seconds)
{
    loginTimeoutSeconds = seconds > 0 ? seconds : kLoginTimeoutSeconds;
}

std::unique_ptr<Connection> OpenOdbc(const ConnectionString& settings)
{
    const std::string connectText = OdbcConnectText(settings);
    const std::optional<DataSourceLogin> plain = PlainDataSourceLogin(connectText);
    // Drivers differ in how they read braces around a user name (psqlODBC
    // keeps them as part of it), so a data source, a user and a password
    // that would need them go to SQLConnectW as they are, and only a
    // sign-on written without them carries the driver's cursor options.
    // Braces around a password psqlODBC does read.
    const bool needsBraces = plain && (QuoteOdbcValue(plain->dsn) != plain->dsn ||
                                       QuoteOdbcValue(plain->uid) != plain->uid);
    const std::string driverText =
        needsBraces ? connectText : WithCursorOptions(connectText, DriverNames(connectText));
    auto link = NewLink(WantsReadOnly(settings));

    SQLRETURN rc;
    if (plain && driverText == connectText) {
        // Any character of the three reaches the server intact.
        std::u16string dsn = Utf8ToUtf16(plain->dsn), uid = Utf8ToUtf16(plain->uid), pwd = Utf8ToUtf16(plain->pwd);
        rc = SQLConnectW(link->dbc, Wide(dsn), static_cast<SQLSMALLINT>(dsn.size()), Wide(uid),
                         static_cast<SQLSMALLINT>(uid.size()), Wide(pwd), static_cast<SQLSMALLINT>(pwd.size()));
    } else {
        rc = DriverConnect(link->dbc, driverText);
    }
    Check(rc, SQL_HANDLE_DBC, link->dbc, "Cannot connect to the data source.");
    link->connected = true;
    link->server = KindOfServer(link->dbc);
    link->ownCursors = HasOwnCursors(*link);
    MakeReadOnly(*link);

    SQLUINTEGER extensions = 0;
    if (SQL_SUCCEEDED(SQLGetInfoW(link->dbc, SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions, nullptr)))
        link->getDataExtensions = extensions;
    return std::make_unique<OdbcConnection>(std::move(link));
}

} // namespace querlin::data
