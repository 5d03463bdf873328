// The favourites store over the real local store file: first start, an
// existing file, the table check, adding and removing, and bad files and
// folders.
#include <gtest/gtest.h>

#include "data/DataSet.h"
#include "data/Provider.h"
#include "favourites/Favourites.h"
#include "platform/Error.h"
#include "testsupport/TestSupport.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

using namespace querlin;
using namespace querlin::data;
using namespace querlin::favourites;
namespace fs = std::filesystem;

using querlin::test::ErrorOf;
using querlin::test::ReadFile;

namespace {


// Runs a statement on a store file of the folder.
void RunOn(const std::string& file, const std::string& sql)
{
    TADOQuery query;
    query.SetConnectionString(StoreConnectionString(file));
    query.SetSQL(sql);
    query.Execute();
}

// Each test works in a fresh folder that is the current directory, as the
// program directory is when the store is made ready.
class FavouritesStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = fs::current_path();
        fs::current_path(dir_.Path());
    }
    void TearDown() override
    {
        qry1.Close();
        qry2.Close();
        qry3.Close();
        fs::current_path(previous_);
    }

    // The favourites as listed, first to last; leaves the last one current.
    std::vector<std::string> Listed()
    {
        std::vector<std::string> texts;
        qry3.MoveFirst();
        while (!qry3.AtEnd()) {
            texts.push_back(qry3.FieldNamed(kFavouriteColumn).PlainText());
            qry3.MoveNext();
        }
        return texts;
    }

    // As a second start of the program finds them.
    std::vector<std::string> Reopened()
    {
        TADOConnection connection;
        TADOQuery again("qry3");
        std::string fileName;
        EnsureAndOpen(fileName, connection, again);
        std::vector<std::string> texts;
        for (again.MoveFirst(); !again.AtEnd(); again.MoveNext())
            texts.push_back(again.FieldNamed(kFavouriteColumn).PlainText());
        return texts;
    }

    // Lists standing in for the user and table lists of the database, in a
    // store of their own, with the current rows on user and table.
    void SelectTable(const std::string& user, const std::string& table)
    {
        const std::string dict = "dict.mdb";
        if (!fs::exists(dict)) {
            CreateLocalStore(CreationConnectionString(dict));
            RunOn(dict, "Create table users (name varchar(250))");
            RunOn(dict, "Create table tabs (name varchar(250))");
        }
        RunOn(dict, "delete from users");
        RunOn(dict, "delete from tabs");
        RunOn(dict, "insert into users (name) values ('" + user + "')");
        RunOn(dict, "insert into tabs (name) values ('" + table + "')");
        qry1.SetConnectionString(StoreConnectionString(dict));
        qry1.SetSQL("select name as 用户 from users");
        qry1.Open();
        qry2.SetConnectionString(StoreConnectionString(dict));
        qry2.SetSQL("select name as 用户表 from tabs");
        qry2.Open();
    }

    test::TempDir dir_;
    fs::path previous_;
    std::string fileName;
    TADOConnection con1;
    TADOQuery qry1{"qry1"};
    TADOQuery qry2{"qry2"};
    TADOQuery qry3{"qry3"};
};

const std::vector<std::string> kSeedsInNameOrder = {
    "BRAVEL.T_RUDATASOURCETYPE",
    "TELMIR.KJASSISTANTREF",
    "TELMIR.KJBASEUNITACCOUNT",
    "TELMIR.KJBASEUNITINFO",
};

} // namespace

TEST_F(FavouritesStore, FirstStartMakesFileTableAndSeedsListedInNameOrder)
{
    EnsureAndOpen(fileName, con1, qry3);
    EXPECT_EQ(fileName, "table.mdb");
    EXPECT_TRUE(fs::is_regular_file(dir_.File("table.mdb")));
    EXPECT_TRUE(TableExist(con1, "tablecy"));
    EXPECT_EQ(qry3.ConnectionString(),
              "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=table.mdb;Mode=ReadWrite;Persist Security Info=false;");
    EXPECT_EQ(con1.ConnectionString(), qry3.ConnectionString());
    EXPECT_EQ(qry3.SQL(), "select 常用数据表,id from tablecy  order by 常用数据表");
    EXPECT_EQ(qry3.FieldNamed(kFavouriteColumn).PlainText(), "BRAVEL.T_RUDATASOURCETYPE") << "first favourite current";
    ASSERT_EQ(qry3.FieldCount(), 2);
    EXPECT_EQ(qry3.FieldAt(1).DataType(), TFieldType::ftAutoInc);

    // Stored one by one in their given order: the file numbered them so.
    std::map<std::string, long> ids;
    for (qry3.MoveFirst(); !qry3.AtEnd(); qry3.MoveNext())
        ids[qry3.FieldNamed(kFavouriteColumn).PlainText()] = std::stol(qry3.FieldNamed("id").PlainText());
    ASSERT_EQ(ids.size(), 4u);
    for (std::size_t i = 1; i < kSeeds.size(); ++i)
        EXPECT_LT(ids[kSeeds[i - 1]], ids[kSeeds[i]]) << kSeeds[i];
    EXPECT_EQ(Listed(), kSeedsInNameOrder);
}

TEST_F(FavouritesStore, ExistingTableIsLeftAsItIsWhateverItHolds)
{
    struct Case {
        const char* label;
        std::vector<std::string> rows;
        std::vector<std::string> listed;
    };
    const Case cases[] = {
        {"empty", {}, {}},
        {"own rows", {"ZZZ.Y", "AAA.X"}, {"AAA.X", "ZZZ.Y"}},
    };
    for (const auto& c : cases) {
        fs::remove("table.mdb");
        CreateLocalStore(CreationConnectionString("table.mdb"));
        RunOn("table.mdb", kCreateTableSql);
        for (const auto& row : c.rows)
            RunOn("table.mdb", "insert into tablecy (常用数据表) values ('" + row + "')");
        EXPECT_EQ(Reopened(), c.listed) << c.label;
        EXPECT_EQ(Reopened(), c.listed) << c.label << ": a second start adds nothing either";
    }
}

TEST_F(FavouritesStore, EmptiedListStaysEmpty)
{
    EnsureAndOpen(fileName, con1, qry3);
    for (int i = 0; i < 4; ++i)
        RemoveCurrent(qry3);
    EXPECT_TRUE(Listed().empty());
    qry3.Close();
    EXPECT_TRUE(Reopened().empty());
}

TEST_F(FavouritesStore, FileWithoutTheTableGetsTableAndSeeds)
{
    CreateLocalStore(CreationConnectionString("table.mdb"));
    RunOn("table.mdb", "Create table other (x varchar(10))");
    RunOn("table.mdb", "insert into other (x) values ('kept')");
    EnsureAndOpen(fileName, con1, qry3);
    EXPECT_EQ(Listed(), kSeedsInNameOrder);
    TADOQuery other;
    other.SetConnectionString(StoreConnectionString("table.mdb"));
    other.SetSQL("select x from other");
    other.Open();
    EXPECT_EQ(other.FieldNamed("x").PlainText(), "kept");
}

TEST_F(FavouritesStore, TableExistComparesUpperCasedAsciiOnlyAndSeesSystemTables)
{
    CreateLocalStore(CreationConnectionString("table.mdb"));
    RunOn("table.mdb", "Create table TABLECY (ID  Counter,常用数据表 varchar(200),primary key (id))");
    RunOn("table.mdb", "Create table 表ä (x varchar(1))");
    con1.SetConnectionString(StoreConnectionString("table.mdb"));
    std::vector<std::string> names;
    con1.TableNames(names, true);
    std::string systemTable;
    for (const auto& name : names)
        if (name != "TABLECY" && name != "表ä")
            systemTable = name;
    ASSERT_FALSE(systemTable.empty()) << "the store lists no system table";

    struct Case {
        std::string asked;
        bool found;
    };
    const Case cases[] = {
        {"tablecy", true}, {"TableCy", true}, {"TABLECY", true}, {"tablecy2", false}, {"tablec", false},
        {"表ä", true}, {"表Ä", false}, {systemTable, true}, {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TableExist(con1, c.asked), c.found) << "asked for '" << c.asked << "'";
    // The store's own table is found under the name asked for by the store.
    std::string ignored;
    EnsureAndOpen(ignored, con1, qry3);
    EXPECT_TRUE(Listed().empty()) << "TABLECY was taken for tablecy: nothing created, nothing seeded";
}

TEST_F(FavouritesStore, AddingTwiceStoresTwoRowsWithDifferentIds)
{
    EnsureAndOpen(fileName, con1, qry3);
    SelectTable("USERA", "T1");
    AddSelectedTable(qry3, qry1, qry2);
    const std::string firstId = qry3.FieldNamed("id").PlainText();
    AddSelectedTable(qry3, qry1, qry2);
    const std::string secondId = qry3.FieldNamed("id").PlainText();
    EXPECT_FALSE(firstId.empty());
    EXPECT_NE(firstId, secondId);
    qry3.Close();
    auto stored = Reopened();
    EXPECT_EQ(std::count(stored.begin(), stored.end(), "USERA.T1"), 2);
    EXPECT_EQ(stored.size(), 6u);
}

TEST_F(FavouritesStore, AddedFavouriteShowsLastAndCurrentUntilReopened)
{
    CreateLocalStore(CreationConnectionString("table.mdb"));
    RunOn("table.mdb", kCreateTableSql);
    RunOn("table.mdb", "insert into tablecy (常用数据表) values ('ZZZ.Y')");
    RunOn("table.mdb", "insert into tablecy (常用数据表) values ('AAA.X')");
    EnsureAndOpen(fileName, con1, qry3);
    SelectTable("USERA", "T1");
    AddSelectedTable(qry3, qry1, qry2);
    EXPECT_EQ(qry3.FieldNamed(kFavouriteColumn).PlainText(), "USERA.T1");
    EXPECT_EQ(qry3.State(), TDataSetState::dsBrowse);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"AAA.X", "ZZZ.Y", "USERA.T1"}));
    qry3.Close();
    EXPECT_EQ(Reopened(), (std::vector<std::string>{"AAA.X", "USERA.T1", "ZZZ.Y"}));
}

TEST_F(FavouritesStore, LongFavouriteIsStoredCutTo200Characters)
{
    struct Case {
        const char* label;
        std::string user;
        std::string table;
        std::string stored;
    };
    std::string chinese199;
    for (int i = 0; i < 199; ++i)
        chinese199 += "表";
    std::string chinese198;
    for (int i = 0; i < 198; ++i)
        chinese198 += "表";
    const Case cases[] = {
        // 1 + 1 + 199 = 201 characters.
        {"ascii", "U", std::string(199, 'T'), "U." + std::string(198, 'T')},
        {"exactly 200", "U", std::string(198, 'T'), "U." + std::string(198, 'T')},
        {"chinese", "用", chinese199, "用." + chinese198},
    };
    EnsureAndOpen(fileName, con1, qry3);
    for (const auto& c : cases) {
        SelectTable(c.user, c.table);
        AddSelectedTable(qry3, qry1, qry2);
        EXPECT_EQ(qry3.FieldNamed(kFavouriteColumn).PlainText(), c.stored) << c.label << " as listed";
    }
    qry3.Close();
    auto stored = Reopened();
    for (const auto& c : cases)
        EXPECT_NE(std::find(stored.begin(), stored.end(), c.stored), stored.end()) << c.label << " as stored";
}

TEST_F(FavouritesStore, RemovingTheLastRowMakesTheNewLastCurrent)
{
    EnsureAndOpen(fileName, con1, qry3);
    qry3.MoveLast();
    ASSERT_EQ(qry3.FieldNamed(kFavouriteColumn).PlainText(), "TELMIR.KJBASEUNITINFO");
    RemoveCurrent(qry3);
    EXPECT_EQ(qry3.FieldNamed(kFavouriteColumn).PlainText(), "TELMIR.KJBASEUNITACCOUNT");
    qry3.Close();
    EXPECT_EQ(Reopened(), (std::vector<std::string>{"BRAVEL.T_RUDATASOURCETYPE", "TELMIR.KJASSISTANTREF",
                                                    "TELMIR.KJBASEUNITACCOUNT"}));
}

TEST_F(FavouritesStore, RemovingFromAnEmptyListSaysSo)
{
    CreateLocalStore(CreationConnectionString("table.mdb"));
    RunOn("table.mdb", kCreateTableSql);
    EnsureAndOpen(fileName, con1, qry3);
    EXPECT_EQ(ErrorOf([&] { RemoveCurrent(qry3); }), "qry3: Cannot perform this operation on an empty dataset");
    EXPECT_TRUE(Listed().empty());
}

TEST_F(FavouritesStore, FailedAddLeavesAnEmptyPendingRowThatTheNextAddDrops)
{
    EnsureAndOpen(fileName, con1, qry3);
    // The table list failed to refresh: it has no field "用户表".
    SelectTable("USERA", "T1");
    qry2.Close();
    EXPECT_EQ(ErrorOf([&] { AddSelectedTable(qry3, qry1, qry2); }), "qry2: Field '用户表' not found");
    EXPECT_EQ(qry3.State(), TDataSetState::dsInsert) << "the empty row stays pending";
    qry2.Open();
    AddSelectedTable(qry3, qry1, qry2);
    EXPECT_EQ(qry3.State(), TDataSetState::dsBrowse);
    std::vector<std::string> expected = kSeedsInNameOrder;
    expected.push_back("USERA.T1");
    EXPECT_EQ(Listed(), expected) << "no empty row listed";
    qry3.Close();
    EXPECT_EQ(Reopened().size(), 5u) << "no empty row stored";
}

TEST_F(FavouritesStore, RemoveAfterFailedAddDropsThePendingRowNotAFavourite)
{
    EnsureAndOpen(fileName, con1, qry3);
    EXPECT_THROW(AddSelectedTable(qry3, qry1, qry2), Error);
    RemoveCurrent(qry3);
    EXPECT_EQ(qry3.State(), TDataSetState::dsBrowse);
    EXPECT_EQ(Listed(), kSeedsInNameOrder);
    qry3.Close();
    EXPECT_EQ(Reopened(), kSeedsInNameOrder);
}

TEST_F(FavouritesStore, FileThatIsNoStoreIsReportedAndLeftUntouched)
{
    const std::string garbage = "This is a letter, not a database.\n" + std::string(5000, 'x');
    std::ofstream("table.mdb", std::ios::binary) << garbage;
    try {
        EnsureAndOpen(fileName, con1, qry3);
        FAIL() << "opened a file that is no store";
    } catch (const Error& e) {
        EXPECT_FALSE(std::string(e.what()).empty());
    }
    EXPECT_FALSE(qry3.Active());
    EXPECT_EQ(ReadFile(dir_.File("table.mdb")), garbage);
}

TEST_F(FavouritesStore, FavouriteTextThatIsNoTableNameIsStoredAsText)
{
    EnsureAndOpen(fileName, con1, qry3);
    SelectTable("O''B; drop table tablecy; --", "X");
    AddSelectedTable(qry3, qry1, qry2);
    qry3.Close();
    auto stored = Reopened();
    EXPECT_EQ(stored.size(), 5u);
    EXPECT_NE(std::find(stored.begin(), stored.end(), "O'B; drop table tablecy; --.X"), stored.end());
}

namespace {

// Runs the step as a user without write rights (the tests may run as root,
// whom folder modes do not stop) and returns the error text it raised, or
// "no error".
std::string RunWithoutWriteRights(const std::function<void()>& step)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return "pipe failed";
    pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        std::string result = "no error";
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            result = "could not drop rights";
        else {
            try {
                step();
            } catch (const std::exception& e) {
                result = e.what();
            }
        }
        ssize_t written = write(pipeEnds[1], result.data(), result.size());
        (void)written;
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string result;
    char buffer[512];
    ssize_t n;
    while ((n = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, static_cast<std::size_t>(n));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return result;
}

} // namespace

TEST_F(FavouritesStore, ReadOnlyFolderWithoutFileIsReportedAndLeftEmpty)
{
    fs::permissions(dir_.Path(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const std::string error = RunWithoutWriteRights([&] { EnsureAndOpen(fileName, con1, qry3); });
    EXPECT_NE(error, "no error");
    EXPECT_NE(error, "could not drop rights");
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_empty(dir_.Path())) << "no half-made file left behind";
}

TEST_F(FavouritesStore, ReadOnlyFolderWithStoreStillListsAndRefusesAddsClearly)
{
    EnsureAndOpen(fileName, con1, qry3);
    qry3.Close();
    const std::string before = ReadFile(dir_.File("table.mdb"));
    fs::permissions(dir_.Path(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(dir_.File("table.mdb"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    std::string listed;
    const std::string error = RunWithoutWriteRights([&] {
        TADOConnection connection;
        TADOQuery list("qry3");
        std::string name;
        EnsureAndOpen(name, connection, list);
        for (list.MoveFirst(); !list.AtEnd(); list.MoveNext())
            listed += list.FieldNamed(kFavouriteColumn).PlainText() + ",";
        if (listed != "BRAVEL.T_RUDATASOURCETYPE,TELMIR.KJASSISTANTREF,TELMIR.KJBASEUNITACCOUNT,TELMIR.KJBASEUNITINFO,")
            throw Error("listed " + listed);
        list.MoveFirst();
        RemoveCurrent(list);
    });
    EXPECT_NE(error, "no error") << "a remove in a read-only folder must fail";
    EXPECT_EQ(error.rfind("listed ", 0), std::string::npos) << error;
    EXPECT_EQ(ReadFile(dir_.File("table.mdb")), before) << "the store is never damaged";
}
