#pragma once
// The local store: an embedded SQLite file standing in for the Jet 4.0 file
// of the favourites. It accepts the store's own statements (Counter columns,
// table-level primary keys), sorts text columns without regard to ASCII
// letter case, and reports its columns the way the Jet provider did.
// One connection per object; owned by one thread at a time.

#include "data/ConnectionString.h"
#include "data/Provider.h"

#include <memory>
#include <string>
#include <string_view>

namespace querlin::data {

// Opens the file named by "Data Source" (relative to the current
// directory); "Mode=Read" opens it read-only. Throws querlin::Error when the
// file is missing or is not a store.
std::unique_ptr<Connection> OpenLocalStore(const ConnectionString& settings);

// The statement as the store runs it: a CREATE TABLE has its Counter columns
// turned into auto-numbered integer keys (taking over a table-level primary
// key that names them) and its text columns made to compare without regard
// to letter case. Any other statement is returned unchanged.
std::string TranslateLocalStoreStatement(std::string_view sql);

// The column as the Jet provider would describe it, from the declared type
// text of a column ("varchar(200)", "Counter", "double", ...).
ColumnInfo LocalStoreColumnFromDeclaredType(std::string_view declaredType);

} // namespace querlin::data
