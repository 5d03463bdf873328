#include "data/Provider.h"

#include "data/ConnectionString.h"
#include "data/OdbcProvider.h"
#include "data/SqliteProvider.h"
#include "platform/Error.h"

namespace querlin::data {

namespace {

// "MSDASQL" with or without a version suffix ("MSDASQL.1").
bool IsOdbcProvider(std::string_view name)
{
    constexpr std::string_view base = "MSDASQL";
    if (name.size() < base.size() || !SameKey(name.substr(0, base.size()), base))
        return false;
    return name.size() == base.size() || name[base.size()] == '.';
}

} // namespace

std::unique_ptr<Connection> Connect(const std::string& connectionString)
{
    const ConnectionString settings = ConnectionString::ParseAdo(connectionString);
    const std::optional<std::string> provider = settings.Value("Provider");
    if (!provider || provider->empty())
        throw Error("The connection string names no provider (Provider=MSDASQL.1 for ODBC, "
                    "Provider=Microsoft.Jet.OLEDB.4.0 for the local store).");
    if (IsOdbcProvider(*provider))
        return OpenOdbc(settings);
    if (SameKey(*provider, "Microsoft.Jet.OLEDB.4.0"))
        return OpenLocalStore(settings);
    throw Error("Provider '" + *provider + "' is not supported: use MSDASQL.1 for ODBC or "
                "Microsoft.Jet.OLEDB.4.0 for the local store.");
}

} // namespace querlin::data
