#include "windows/BrowserSql.h"

#include "platform/AsciiText.h"

namespace querlin::browser {

std::string UsersSql()
{
    return "SELECT username as 用户 FROM ALL_USERS  order by 用户";
}

std::string TablesSql(const std::string& user)
{
    return "SELECT TABLE_NAME as 用户表 FROM SYS.ALL_TABLES WHERE OWNER = '" + platform::DoubleEvery(user, '\'') +
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

} // namespace querlin::browser
