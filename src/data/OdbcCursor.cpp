// The connection's own cursor on PostgreSQL: a query's rows FETCH by FETCH,
// each FETCH a result the driver reads whole (see ServerCursor in
// OdbcInternal.h for why the driver's own streaming is not used).
#include "data/OdbcInternal.h"

#include "data/ProviderText.h"
#include "platform/AsciiText.h"

#include <algorithm>
#include <string>

namespace querlin::data::odbc {

namespace {

// One cursor at a time on a connection: a fixed name does.
constexpr char kDeclare[] = "DECLARE querlin_rows NO SCROLL CURSOR FOR ";

SQLRETURN SetAutocommit(SQLHDBC dbc, bool on)
{
    return SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
                      0);
}

} // namespace

bool HasOwnCursors(const Link& link)
{
    if (link.server != ServerKind::PostgreSql)
        return false;
    SQLWCHAR name[128] = {};
    SQLSMALLINT bytes = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(link.dbc, SQL_DRIVER_NAME, name, sizeof name, &bytes)))
        return false;
    const std::size_t units = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(bytes, 0)) / 2,
                                                    sizeof name / sizeof name[0] - 1);
    // "psqlodbcw.so", "PSQLODBC35W.DLL"
    return platform::AsciiUpper(Narrow(name, units)).find("PSQLODBC") != std::string::npos;
}

ServerCursor::ServerCursor(std::shared_ptr<Link> link)
    : link_(std::move(link)), fetch_(Utf8ToUtf16("FETCH FORWARD " + std::to_string(kRows) + " FROM querlin_rows"))
{
    link_->cursorOpen = true;
}

ServerCursor::~ServerCursor()
{
    // The cursor ends with its transaction. Nothing was written: a commit
    // keeps what the query's own functions may have done, as the plain
    // path's autocommit would; on a lost connection both calls fail, and
    // there is nothing to keep.
    SQLEndTran(SQL_HANDLE_DBC, link_->dbc, SQL_COMMIT);
    SetAutocommit(link_->dbc, true);
    link_->cursorOpen = false;
}

std::unique_ptr<ServerCursor> ServerCursor::Open(std::shared_ptr<Link> link, SQLHSTMT statement,
                                                 const std::string& sql)
{
    if (!link->ownCursors || link->cursorOpen)
        return nullptr;
    // A cursor lives in a transaction; the driver begins one before the
    // first statement once autocommit is off.
    if (!SQL_SUCCEEDED(SetAutocommit(link->dbc, false)))
        return nullptr;
    std::unique_ptr<ServerCursor> cursor(new ServerCursor(std::move(link)));
    std::u16string declare = Utf8ToUtf16(kDeclare + sql);
    const SQLRETURN declared = SQLExecDirectW(statement, Wide(declare), static_cast<SQLINTEGER>(declare.size()));
    SQLFreeStmt(statement, SQL_CLOSE);
    if (!SQL_SUCCEEDED(declared))
        return nullptr;  // the transaction ends with the cursor object
    Check(SQLExecDirectW(statement, Wide(cursor->fetch_), static_cast<SQLINTEGER>(cursor->fetch_.size())),
          SQL_HANDLE_STMT, statement, "Fetching the rows failed.");
    return cursor;
}

bool ServerCursor::FetchMore(SQLHSTMT statement, std::size_t rowsOfLastFetch)
{
    if (rowsOfLastFetch < kRows)
        return false;
    SQLFreeStmt(statement, SQL_CLOSE);
    Check(SQLExecDirectW(statement, Wide(fetch_), static_cast<SQLINTEGER>(fetch_.size())), SQL_HANDLE_STMT,
          statement, "Fetching the rows failed.");
    return true;
}

} // namespace querlin::data::odbc
