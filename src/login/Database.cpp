#include "login/Database.h"

namespace querlin::login {

namespace {

bool HasOuterBlank(const std::string& value)
{
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    return !value.empty() && (blank(value.front()) || blank(value.back()));
}

// A value of the driver's part: braces when it holds a separator or a brace
// or would lose its outer blanks; a closing brace inside is written twice.
std::string OdbcValue(const std::string& value)
{
    if (value.find_first_of(";{}=") == std::string::npos && !HasOuterBlank(value))
        return value;
    std::string quoted = "{";
    for (char c : value) {
        quoted += c;
        if (c == '}')
            quoted += '}';
    }
    return quoted + "}";
}

std::string DoubleChar(const std::string& value, char twice)
{
    std::string result;
    result.reserve(value.size());
    for (char c : value) {
        result += c;
        if (c == twice)
            result += twice;
    }
    return result;
}

// A value of the outer part: double quotes when it holds a separator, starts
// with a quote of either kind or has outer blanks; double quotes inside are
// doubled.
std::string AdoValue(const std::string& value)
{
    const bool leadingQuote = !value.empty() && (value.front() == '"' || value.front() == '\'');
    if (value.find(';') == std::string::npos && !leadingQuote && !HasOuterBlank(value))
        return value;
    return "\"" + DoubleChar(value, '"') + "\"";
}

} // namespace

std::string DatabaseConnectionString(const std::string& password, const std::string& user,
                                     const std::string& sid)
{
    const std::string driverPart = "DSN=" + OdbcValue(sid) + ";UID=" + OdbcValue(user) +
                                   ";PWD=" + OdbcValue(password) + ";SERVER=" + OdbcValue(sid) + ";";
    // The driver's part is one value of the outer part, always in double
    // quotes; its own double quotes are doubled to stay inside them.
    return "Provider=MSDASQL.1;Password=" + AdoValue(password) +
           ";Persist Security Info=True;User ID=" + AdoValue(user) +
           ";Mode=Read;Extended Properties=\"" + DoubleChar(driverPart, '"') + "\"";
}

std::string UsersSql()
{
    return "SELECT username as 用户 FROM ALL_USERS  order by 用户";
}

std::string TablesSql(const std::string& user)
{
    return "SELECT TABLE_NAME as 用户表 FROM SYS.ALL_TABLES WHERE OWNER = '" + DoubleChar(user, '\'') +
           "' order by 用户表";
}

std::string RowsSql(const std::string& qualifiedTable)
{
    return "SELECT * FROM " + qualifiedTable;
}

std::string DataCaptionFor(const std::string& qualifiedTable)
{
    return kDataCaptionPrefix + qualifiedTable;
}

} // namespace querlin::login
