#include "login/Database.h"

#include "data/ConnectionString.h"

namespace querlin::login {

namespace {

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

} // namespace

std::string DatabaseConnectionString(const std::string& password, const std::string& user,
                                     const std::string& sid)
{
    const std::string driverPart = "DSN=" + data::QuoteOdbcValue(sid) + ";UID=" + data::QuoteOdbcValue(user) +
                                   ";PWD=" + data::QuoteOdbcValue(password) + ";SERVER=" + data::QuoteOdbcValue(sid) + ";";
    // The driver's part is one value of the outer part, always in double
    // quotes; its own double quotes are doubled to stay inside them.
    return "Provider=MSDASQL.1;Password=" + data::QuoteAdoValue(password) +
           ";Persist Security Info=True;User ID=" + data::QuoteAdoValue(user) +
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
