// ODBC handles and the driver's diagnostics.
#include "data/OdbcInternal.h"

#include "data/ProviderText.h"
#include "platform/Error.h"

#include <algorithm>
#include <vector>

namespace querlin::data::odbc {

SQLWCHAR* Wide(std::u16string& text)
{
    return reinterpret_cast<SQLWCHAR*>(text.data());
}

std::string Narrow(const SQLWCHAR* text, std::size_t units)
{
    std::string out;
    AppendUtf16AsUtf8(out, reinterpret_cast<const char16_t*>(text), units);
    return out;
}

namespace {

// Every diagnostic record of a handle, one message per line, in the
// driver's own words.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    std::string messages;
    for (SQLSMALLINT record = 1; record < 64; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        std::vector<SQLWCHAR> text(1024);
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, text.data(),
                                      static_cast<SQLSMALLINT>(text.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(text.size())) {
            text.resize(static_cast<std::size_t>(length) + 1);
            rc = SQLGetDiagRecW(type, handle, record, state, &native, text.data(),
                                static_cast<SQLSMALLINT>(text.size()), &length);
        }
        if (!SQL_SUCCEEDED(rc))
            break;
        std::size_t units = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)),
                                                  text.size() - 1);
        std::string message = Narrow(text.data(), units);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
            message.pop_back();
        if (message.empty() || messages.find(message) != std::string::npos)
            continue;
        if (!messages.empty())
            messages += '\n';
        messages += message;
    }
    return messages;
}

} // namespace

void ThrowDiagnostics(SQLSMALLINT type, SQLHANDLE handle, const char* what)
{
    std::string messages = Diagnostics(type, handle);
    throw Error(messages.empty() ? std::string(what) : messages);
}

void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what)
{
    if (!SQL_SUCCEEDED(rc))
        ThrowDiagnostics(type, handle, what);
}

Link::~Link()
{
    if (connected)
        SQLDisconnect(dbc);
    if (dbc != SQL_NULL_HDBC)
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    if (env != SQL_NULL_HENV)
        SQLFreeHandle(SQL_HANDLE_ENV, env);
}

StatementHandle::StatementHandle(const Link& link)
{
    Check(SQLAllocHandle(SQL_HANDLE_STMT, link.dbc, &stmt_), SQL_HANDLE_DBC, link.dbc,
          "Cannot allocate a statement.");
}

void StatementHandle::Free()
{
    if (stmt_ != SQL_NULL_HSTMT) {
        SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
        stmt_ = SQL_NULL_HSTMT;
    }
}

bool Run(SQLHSTMT stmt, const std::string& sql)
{
    std::u16string wide = Utf8ToUtf16(sql);
    SQLRETURN rc = SQLExecDirectW(stmt, Wide(wide), static_cast<SQLINTEGER>(wide.size()));
    if (rc == SQL_NO_DATA)
        return false;
    Check(rc, SQL_HANDLE_STMT, stmt, "The statement failed.");
    return true;
}

} // namespace querlin::data::odbc
