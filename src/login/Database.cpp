#include "login/Database.h"

#include "data/ConnectionString.h"

namespace querlin::login {

std::string DatabaseConnectionString(const std::string& password, const std::string& user,
                                     const std::string& sid)
{
    return data::ReadOnlyConnectionString({sid, user, password, sid});
}

} // namespace querlin::login
