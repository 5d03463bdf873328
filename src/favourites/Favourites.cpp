#include "favourites/Favourites.h"

#include "platform/AsciiText.h"
#include "platform/AtomicFile.h"
#include "platform/Automation.h"
#include "platform/Error.h"

#include <filesystem>
#include <vector>

namespace querlin::favourites {

namespace {

// The columns of the user list and of the table list the add reads from.
constexpr char kUserColumn[] = "用户";
constexpr char kTableColumn[] = "用户表";

std::string FillFileName(const char* pattern, const std::string& fileName)
{
    std::string text = pattern;
    return text.replace(text.find("%s"), 2, fileName);
}

} // namespace

std::string CreationConnectionString(const std::string& fileName)
{
    return FillFileName("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%s;", fileName);
}

std::string StoreConnectionString(const std::string& fileName)
{
    return FillFileName("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%s;Mode=ReadWrite;Persist Security Info=false;",
                        fileName);
}

bool TableExist(data::TADOConnection& connection, const std::string& tableName)
{
    std::vector<std::string> names;
    connection.TableNames(names, true);
    const std::string wanted = platform::AsciiUpper(tableName);
    for (const auto& name : names)
        if (platform::AsciiUpper(name) == wanted)
            return true;
    return false;
}

namespace {

// Makes the table and stores the seeds, in this order, through qry3.
void CreateAndSeed(data::TADOQuery& qry3)
{
    qry3.SetSQL(kCreateTableSql);
    qry3.Execute();
    qry3.SetSQL(kFavouritesSql);
    qry3.Open();
    for (const char* seed : kSeeds) {
        qry3.AppendRow();
        qry3.FieldNamed(kFavouriteColumn).SetValue(seed);
        qry3.PostRow();
    }
}

// A new store is made whole under a temporary name, table and seeds
// included, and only then given its name: a program killed half-way leaves
// no file, and the next start makes it again, instead of a file whose table
// exists with some seeds missing, which would never be seeded again.
void CreateSeededStore(const std::string& fileName)
{
    const auto error = platform::PlaceFileAtomically(
        fileName,
        [](const std::filesystem::path& temporary) {
            // The catalog makes its file itself and refuses a name in use.
            std::filesystem::remove(temporary);
            RegisterCatalogClass();
            auto catalog = platform::CreateOleObject(kCatalogProgId);
            catalog->Invoke(kCatalogCreate, {CreationConnectionString(temporary.string())});
            data::TADOQuery store("qry3");
            store.SetConnectionString(StoreConnectionString(temporary.string()));
            CreateAndSeed(store);
            store.Close();
        },
        {platform::Placement::CreateNew, {}});
    // Another copy of the program made the store meanwhile: it is used as
    // it stands.
    if (error && error != std::errc::file_exists)
        throw Error("Cannot create '" + fileName + "': " + error.message());
}

} // namespace

void EnsureAndOpen(std::string& favouritesFileName, data::TADOConnection& con1, data::TADOQuery& qry3,
                   const std::string& folder)
{
    favouritesFileName = kFileName;
    const std::string file = folder + favouritesFileName;
    std::error_code ignored;
    if (!std::filesystem::exists(file, ignored))
        CreateSeededStore(file);
    const std::string connectionString = StoreConnectionString(file);
    con1.SetConnectionString(connectionString);
    qry3.SetConnectionString(connectionString);
    // A store file that the user brought without the table.
    if (!TableExist(con1, kTableName))
        CreateAndSeed(qry3);
    qry3.SetSQL(kFavouritesSql);
    qry3.Open();
}

void AddSelectedTable(data::TADOQuery& qry3, const data::TADOQuery& qry1, const data::TADOQuery& qry2)
{
    qry3.AppendRow();
    const std::string user = qry1.FieldNamed(kUserColumn).PlainText();
    const std::string table = qry2.FieldNamed(kTableColumn).PlainText();
    qry3.FieldNamed(kFavouriteColumn).SetValue(user + "." + table);
    qry3.PostRow();
}

void RemoveCurrent(data::TADOQuery& qry3)
{
    qry3.DeleteRow();
}

} // namespace querlin::favourites
