#pragma once
// The connection string of the user, table and row record sets. A plain text
// builder, no state; any thread.

#include <string>

namespace querlin::login {

// The read-only connection through the ODBC data source named after the SID,
// the SID standing for the server too:
//   Provider=MSDASQL.1;Password=P;Persist Security Info=True;User ID=U;
//   Mode=Read;Extended Properties="DSN=S;UID=U;PWD=P;SERVER=S;"
// quoted as data::ReadOnlyConnectionString quotes.
std::string DatabaseConnectionString(const std::string& password, const std::string& user,
                                     const std::string& sid);

} // namespace querlin::login
