// The writer the crash-safety test kills. It flips one file between two
// known contents, "A" and "B", through the program's own code, and after
// each completed change writes the letter of the new content to standard
// output (one unbuffered byte), so the test knows what the file held last.
//
//   crashwriter hive|tnsnames|favourites|seeding|export|export-sheets PATH [once]
//
// hive:       the registry hive at PATH, one long text value in a key among
//             others (FileRegistry, as the client registration writes it);
// tnsnames:   the net service name file at PATH (WriteNetServiceFile);
// favourites: the favourites store in the folder PATH (EnsureAndOpen,
//             AddSelectedTable adds "SCOTT.EMP" for B, RemoveCurrent takes
//             it away for A), the user and table lists read from a second
//             store "dict.mdb" beside it;
// seeding:    new favourites stores, made by EnsureAndOpen in the folders
//             PATH/0, PATH/1, ... (with "once": in PATH itself), each
//             reported as 'B' once made;
// export-sheets: the same with an .xlsx target at PATH whose sheets hold
//             few rows, so that every export rolls over into more sheets.
// export:     an .xls export target at PATH (CopyDbDataToExcel, as the
//             browser's worker runs it), the rows read from a local store
//             "rows.mdb" beside it.
// It loops until killed; with "once" it makes one change and exits 0.
// Any failure is printed and exits 1.
#include "testsupport/CrashStates.h"
#include "data/DataSet.h"
#include "data/Provider.h"
#include "export/Export.h"
#include "testsupport/ExportProbe.h"
#include "export/Workbook.h"
#include "testsupport/WorkbookReaders.h"
#include "favourites/Favourites.h"
#include "login/NetServiceFile.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"
#include "platform/FileRegistry.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include <unistd.h>

using namespace querlin;
namespace crash = querlin::crash;

namespace {

void Report(char state)
{
    if (::write(1, &state, 1) != 1)
        _exit(3);
}

char FlipHive(const std::string& file)
{
    platform::FileRegistry registry(file);
    auto key = registry.OpenOrCreateKey(crash::kHiveKey);
    if (!key)
        throw Error("the hive cannot be written");
    auto value = key->ReadValue(crash::kHiveValue);
    const char next = value && value->data == crash::HiveText('B') ? 'A' : 'B';
    key->WriteString(crash::kHiveValue, crash::HiveText(next), platform::RegType::Sz);
    return next;
}

char FlipNetService(const std::string& file)
{
    const auto entry = login::ReadNetServiceFile(file);
    // The reader gives the texts in capitals.
    const char next = entry.host && *entry.host == platform::AsciiUpper(crash::NetServiceHost('B')) ? 'A' : 'B';
    login::WriteNetServiceFile(file, crash::NetServiceHost(next), "1521", crash::kNetServiceSid);
    return next;
}

class FavouritesWriter {
public:
    explicit FavouritesWriter(const std::string& folder)
    {
        std::filesystem::current_path(folder);
        const std::string dict = "dict.mdb";
        if (!std::filesystem::exists(dict)) {
            const std::string creation = favourites::CreationConnectionString(dict);
            data::CreateLocalStore(creation);
            Run(dict, "create table users (name varchar(30))");
            Run(dict, "create table tabs (name varchar(30))");
            Run(dict, std::string("insert into users (name) values ('") + crash::kFavouriteUser + "')");
            Run(dict, std::string("insert into tabs (name) values ('") + crash::kFavouriteTable + "')");
        }
        favourites::EnsureAndOpen(fileName_, con1_, qry3_);
        qry1_.SetConnectionString(favourites::StoreConnectionString(dict));
        qry1_.SetSQL("select name as 用户 from users");
        qry1_.Open();
        qry2_.SetConnectionString(favourites::StoreConnectionString(dict));
        qry2_.SetSQL("select name as 用户表 from tabs");
        qry2_.Open();
    }

    char Flip()
    {
        for (qry3_.MoveFirst(); !qry3_.AtEnd(); qry3_.MoveNext()) {
            if (qry3_.FieldNamed(favourites::kFavouriteColumn).PlainText() == crash::FavouriteName()) {
                favourites::RemoveCurrent(qry3_);
                return 'A';
            }
        }
        favourites::AddSelectedTable(qry3_, qry1_, qry2_);
        return 'B';
    }

private:
    static void Run(const std::string& file, const std::string& sql)
    {
        data::TADOQuery query;
        query.SetConnectionString(favourites::StoreConnectionString(file));
        query.SetSQL(sql);
        query.Execute();
    }

    std::string fileName_;
    data::TADOConnection con1_;
    data::TADOQuery qry1_{"qry1"}, qry2_{"qry2"}, qry3_{"qry3"};
};

class ExportWriter {
public:
    explicit ExportWriter(std::string target) : target_(std::move(target))
    {
        const std::string store = (std::filesystem::path(target_).parent_path() / "rows.mdb").string();
        connectionString_ = favourites::StoreConnectionString(store);
        if (!std::filesystem::exists(store)) {
            data::CreateLocalStore(favourites::CreationConnectionString(store));
            for (char state : {'A', 'B'}) {
                const std::string table = std::string("rows_") + state;
                Run("create table " + table + " (行 varchar(50))");
                for (int n = 1; n <= crash::ExportRowCount(state); ++n)
                    Run("insert into " + table + " (行) values ('" + crash::ExportRowText(state, n) + "')");
            }
        }
    }

    char Flip()
    {
        // libfreexl leaks its buffer on a file it cannot open: ask it only
        // about a file that is there.
        const bool isB = std::filesystem::exists(target_) && IsB();
        const char next = isB ? 'A' : 'B';
        querlin::test::ExportProbe probe(connectionString_, std::string("select 行 from rows_") + next, target_);
        probe.state.caption = crash::kExportCaption;
        probe.Run();
        if (!probe.errors.empty())
            throw Error(probe.errors.front());
        return next;
    }

private:
    bool IsB() const
    {
        if (target_.ends_with(".xls"))
            return querlin::test::ReadXlsCells(target_) == crash::ExportCells('B');
        querlin::test::XlsxDocument document(target_);
        std::vector<std::vector<std::string>> sheets;
        for (std::size_t i = 0; i < document.sheetParts.size(); ++i)
            sheets.push_back(document.Cells(i));
        return document.problems.empty() && sheets == crash::ExportSheets('B');
    }

    void Run(const std::string& sql)
    {
        data::TADOQuery query;
        query.SetConnectionString(connectionString_);
        query.SetSQL(sql);
        query.Execute();
    }

    std::string target_;
    std::string connectionString_;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: crashwriter hive|tnsnames|favourites|seeding|export|export-sheets PATH [once]\n");
        return 2;
    }
    const std::string kind = argv[1], path = argv[2];
    const bool once = argc > 3 && std::string(argv[3]) == "once";
    try {
        if (kind == "favourites") {
            FavouritesWriter writer(path);
            do
                Report(writer.Flip());
            while (!once);
        } else if (kind == "seeding") {
            for (int n = 0;; ++n) {
                const auto folder = once ? std::filesystem::path(path) : std::filesystem::path(path) / std::to_string(n);
                std::filesystem::create_directories(folder);
                std::filesystem::current_path(folder);
                std::string fileName;
                data::TADOConnection con1;
                data::TADOQuery qry3("qry3");
                favourites::EnsureAndOpen(fileName, con1, qry3);
                Report('B');
                if (once)
                    break;
            }
        } else if (kind == "export" || kind == "export-sheets") {
            if (kind == "export-sheets")
                exports::SetSheetRowsForTesting(exports::WorkbookFormat::Xlsx, crash::kExportSheetRows);
            ExportWriter writer(path);
            do
                Report(writer.Flip());
            while (!once);
        } else if (kind == "hive" || kind == "tnsnames") {
            do
                Report(kind == "hive" ? FlipHive(path) : FlipNetService(path));
            while (!once);
        } else {
            std::fprintf(stderr, "unknown kind '%s'\n", kind.c_str());
            return 2;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "crashwriter %s: %s\n", kind.c_str(), e.what());
        return 1;
    }
    return 0;
}
