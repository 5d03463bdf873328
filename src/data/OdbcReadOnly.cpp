// The read-only guard: what Mode=Read asks the driver for, and what the
// connection keeps to itself, since drivers take the access mode as a
// wish (psqlODBC accepts it and still lets statements write).
#include "data/OdbcInternal.h"

#include "data/ProviderText.h"
#include "data/QueryText.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"

#include <algorithm>
#include <cstdlib>

namespace querlin::data::odbc {

ServerKind KindOfServer(SQLHDBC dbc)
{
    SQLWCHAR name[64] = {};
    SQLSMALLINT bytes = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(dbc, SQL_DBMS_NAME, name, sizeof name, &bytes)))
        return ServerKind::Other;
    const std::string text = platform::AsciiUpper(
        Narrow(name, std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(bytes, 0)) / 2, 63)));
    if (text.find("POSTGRES") != std::string::npos)
        return ServerKind::PostgreSql;
    if (text.find("ORACLE") != std::string::npos)
        return ServerKind::Oracle;
    return ServerKind::Other;
}

namespace {

void RunOwnStatement(const Link& link, const char* sql)
{
    StatementHandle statement(link);
    std::u16string wide = Utf8ToUtf16(sql);
    SQLRETURN rc = SQLExecDirectW(statement.Get(), Wide(wide), static_cast<SQLINTEGER>(wide.size()));
    if (rc != SQL_NO_DATA)
        Check(rc, SQL_HANDLE_STMT, statement.Get(), "Cannot make the connection read-only.");
}

} // namespace

bool WantsReadOnly(const ConnectionString& settings)
{
    std::optional<std::string> mode = settings.Value("Mode");
    if (!mode)
        return false;
    // "Read", "Read|Share Deny None", or the number of the read mode.
    std::string text = *mode;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t bar = text.find('|', start);
        std::string part = text.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        while (!part.empty() && part.front() == ' ')
            part.erase(0, 1);
        while (!part.empty() && part.back() == ' ')
            part.pop_back();
        if (SameKey(part, "Read"))
            return true;
        if (!part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return (std::atol(part.c_str()) & 3) == 1;
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    return false;
}

void RequestReadOnlyAccess(const Link& link)
{
    SQLSetConnectAttr(link.dbc, SQL_ATTR_ACCESS_MODE, reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0);
}

// The access mode is only a hint to most drivers: a single SELECT can still
// write through a function it calls. So the server is asked for read-only
// transactions itself, before every statement, since whatever ran last (a
// function calling set_config, say) may have turned the default off for the
// transactions after its own. A function cannot lift the read-only mode of
// the transaction it runs in; PostgreSQL refuses that once the query has
// begun. Oracle knows no session default: each transaction is opened
// read-only by hand, which is why its connections do not commit by
// themselves.
void KeepReadOnlyAtServer(Link& link)
{
    if (!link.readOnly)
        return;
    switch (link.server) {
    case ServerKind::PostgreSql:
        RunOwnStatement(link, "SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY");
        break;
    case ServerKind::Oracle:
        SQLEndTran(SQL_HANDLE_DBC, link.dbc, SQL_ROLLBACK);
        RunOwnStatement(link, "SET TRANSACTION READ ONLY");
        break;
    case ServerKind::Other:
        break;
    }
}

void MakeReadOnly(Link& link)
{
    if (!link.readOnly)
        return;
    RequestReadOnlyAccess(link);
    if (link.server == ServerKind::Oracle)
        Check(SQLSetConnectAttr(link.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
              SQL_HANDLE_DBC, link.dbc, "Cannot make the connection read-only.");
    KeepReadOnlyAtServer(link);
}

void CheckReadOnlyText(const Link& link, const std::string& sql)
{
    if (link.readOnly && !IsSingleQuery(sql))
        throw Error(kReadOnlyQueryOnly);
}

} // namespace querlin::data::odbc
