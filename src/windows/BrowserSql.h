#pragma once
// The texts the browser window sends to the database and shows about it:
// the three queries of the drill-down from user to table to rows, their
// column titles and the data group box's caption. Plain text builders, no
// state; any thread.

#include <string>

namespace querlin::browser {

// Column titles of the user list and of a user's tables.
inline constexpr char kUserColumn[] = "用户";
inline constexpr char kTableColumn[] = "用户表";

// Caption of the data group box before any table's rows are shown, and the
// prefix put before the owner-qualified table name while rows are shown.
inline constexpr char kDataCaption[] = "数据表";
inline constexpr char kDataCaptionPrefix[] = "数据表：";

// "SELECT username as 用户 FROM ALL_USERS  order by 用户"
std::string UsersSql();
// The tables of one user. The user name lands inside a string literal, so
// its single quotes are doubled: a name such as O'HARA selects its own
// tables instead of breaking the statement.
std::string TablesSql(const std::string& user);
// "SELECT * FROM " and the owner-qualified table name, as it stands (the
// read-only check and the read-only session guard it).
std::string RowsSql(const std::string& qualifiedTable);
// The data group box's caption while the rows of that table are shown.
std::string DataCaptionFor(const std::string& qualifiedTable);

} // namespace querlin::browser
