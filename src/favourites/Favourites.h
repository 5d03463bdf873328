#pragma once
// The favourites store: a short list of owner-qualified table names kept in
// a local file beside the program, in the one table "tablecy". This layer
// makes the file, the table and the seed rows on first use, opens the list,
// and adds and removes favourites. It works on record sets and a connection
// that belong to the browser window, passed in; it owns none itself and
// shows nothing: failures are thrown with the text the user will see.
// GUI thread only.

#include "data/DataSet.h"

#include <array>
#include <string>

namespace querlin::favourites {

inline constexpr char kFileName[] = "table.mdb";
inline constexpr char kTableName[] = "tablecy";
inline constexpr char kFavouriteColumn[] = "常用数据表";
inline constexpr char kCreateTableSql[] =
    "Create table tablecy (ID  Counter,常用数据表 varchar(200),primary key (id))";
inline constexpr char kFavouritesSql[] = "select 常用数据表,id from tablecy  order by 常用数据表";
// Stored, in this order, when the table is made.
inline constexpr std::array<const char*, 4> kSeeds = {
    "BRAVEL.T_RUDATASOURCETYPE",
    "TELMIR.KJBASEUNITINFO",
    "TELMIR.KJASSISTANTREF",
    "TELMIR.KJBASEUNITACCOUNT",
};
// The automation class that creates an empty store file, and its method.
inline constexpr char kCatalogProgId[] = "ADOX.Catalog";
inline constexpr char kCatalogCreate[] = "Create";

// For creating the file, and for the connection and the list.
std::string CreationConnectionString(const std::string& fileName);
std::string StoreConnectionString(const std::string& fileName);

// Whether the connection lists a table (system tables included) whose name
// equals the one asked for when both are upper-cased; only a to z change
// case, other characters compare as they are.
bool TableExist(data::TADOConnection& connection, const std::string& tableName);

// Makes the store ready and opens the list. In this order: the favourites
// file name becomes "table.mdb"; a missing file is created through the
// catalog object; con1 and qry3 get the store's connection string; a
// missing table is created and seeded one row at a time; qry3 is opened on
// the list in name order, its first favourite current. Nothing is caught:
// a file that is no store, or a folder that cannot take one, ends it with
// the provider's or the platform's message. The file is folder + the name:
// the window names its folder in full, so that neither the worker that
// opens the store nor anything else depends on the working folder.
void EnsureAndOpen(std::string& favouritesFileName, data::TADOConnection& con1, data::TADOQuery& qry3,
                   const std::string& folder = {});

// Adds the table current in qry2, owned by the user current in qry1, as
// "USER.TABLE", stored at once and shown last until the list is reopened.
// The new row is appended before the names are read, so when a list has no
// such field the row stays pending and empty; the record set drops it at
// the next append, or a remove drops it.
void AddSelectedTable(data::TADOQuery& qry3, const data::TADOQuery& qry1, const data::TADOQuery& qry2);

// Deletes the current favourite from the file at once, without asking.
void RemoveCurrent(data::TADOQuery& qry3);

// Registers the catalog class with the automation layer, once; the ensure
// step does it itself, so callers need not.
void RegisterCatalogClass();

} // namespace querlin::favourites
