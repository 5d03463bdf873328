#include "data/OdbcProvider.h"

#include "platform/Error.h"

namespace querlin::data {

std::unique_ptr<Connection> OpenOdbc(const ConnectionString&)
{
    throw Error("The ODBC provider is not available in this build.");
}

} // namespace querlin::data
