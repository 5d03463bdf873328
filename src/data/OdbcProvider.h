#pragma once
// Databases through unixODBC's wide-character API, as the OLE DB provider
// for ODBC reached them: the text of "Extended Properties" is the ODBC
// connection string; "User ID" and "Password" fill UID and PWD when it
// lacks them; "Mode=Read" asks the driver for read-only access.
// One connection per object; owned by one thread at a time.

#include "data/ConnectionString.h"
#include "data/Provider.h"

#include <memory>

namespace querlin::data {

// Connects; throws querlin::Error with the driver's diagnostics on failure.
std::unique_ptr<Connection> OpenOdbc(const ConnectionString& settings);

} // namespace querlin::data
