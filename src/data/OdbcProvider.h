#pragma once
// Databases through unixODBC's wide-character API, as the OLE DB provider
// for ODBC reached them: the text of "Extended Properties" is the ODBC
// connection string; "User ID" and "Password" fill UID and PWD when it
// lacks them; "Mode=Read" asks the driver for read-only access, and the
// connection then runs single queries only (see QueryText.h), whatever the
// driver makes of the request. PostgreSQL's driver is told to stream a
// result through a cursor whatever its data source says. Rows are never
// stored or deleted through ODBC: InsertRow and DeleteRow refuse.
// One connection per object; owned by one thread at a time.

#include "data/ConnectionString.h"
#include "data/Provider.h"

#include <memory>
#include <string>
#include <vector>

namespace querlin::data {

// Connects; throws querlin::Error with the driver's diagnostics on failure.
std::unique_ptr<Connection> OpenOdbc(const ConnectionString& settings);

// The seconds a connection attempt may take before it fails: 15, the wait
// a desktop data-access layer gives a login, unless a test shortens it
// (0 restores the default).
void SetOdbcLoginTimeoutForTesting(int seconds);

// The ODBC connection string handed to the driver: "Extended Properties",
// with DSN from "Data Source", UID from "User ID" and PWD from "Password"
// added (quoted as needed) when it has none of its own.
std::string OdbcConnectText(const ConnectionString& settings);

// The connect text with the options that make the driver hand a result
// over in blocks through a cursor instead of reading it whole before the
// first row, for a driver known to take them: psqlODBC (named, or its
// library, among driverNames) gets UseDeclareFetch=1 and Fetch=10000, which
// in a connect text override the data source's own settings. Options the
// text names itself stay as they are; other drivers get the text unchanged.
std::string WithCursorOptions(const std::string& connectText, const std::vector<std::string>& driverNames);

// The column type the OLE DB provider for ODBC reports for an ODBC SQL
// type (SQL_VARCHAR, SQL_NUMERIC, ...); Unsupported for types with no kind.
AdoType AdoTypeForSqlType(int sqlType, bool isUnsigned);

} // namespace querlin::data
