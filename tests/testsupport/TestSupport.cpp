#include "testsupport/TestSupport.h"

#include "data/ConnectionString.h"
#include "platform/Error.h"
#include "testsupport/TestDatabaseEnv.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace querlin::test {

TempDir::TempDir()
{
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("querlin-test-" + std::to_string(rd()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::filesystem::path& name)
{
    std::ifstream in(name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::filesystem::path& name, const std::string& bytes)
{
    std::ofstream(name, std::ios::binary) << bytes;
}

std::vector<std::string> FilesIn(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const querlin::Error& e) {
        return e.what();
    }
    return "(no error)";
}

std::string TestDatabase::AdoConnectionString() const
{
    return data::ReadOnlyConnectionString({dsn, user, password, {}});
}

std::string TestDatabase::OdbcConnectionString() const
{
    return data::OdbcSignOn({dsn, user, password, {}});
}

const TestDatabase& RequireTestDatabase()
{
    static TestDatabase db;
    static bool loaded = false;
    if (!loaded) {
        // QUERLIN_TESTDB_ENV may point elsewhere (the benchmarks, the demo).
        const char* named = std::getenv("QUERLIN_TESTDB_ENV");
        std::string envFile = named ? named : QUERLIN_TESTDB_ENV_FILE;
#ifdef _WIN32
        // Under Wine a Unix path is one on drive Z:.
        if (envFile.rfind('/', 0) == 0)
            envFile = "Z:" + envFile;
#endif
        auto settings = LoadTestDatabaseEnv(envFile);
        if (!settings)
            throw std::runtime_error(std::string("test database not running: no ") + envFile +
                                     " (run the database tests through ctest, which starts it)");
        auto& values = *settings;
        db.dsn = values["QUERLIN_TESTDB_DSN"];
        db.user = values["QUERLIN_TESTDB_USER"];
        db.password = values["QUERLIN_TESTDB_PASSWORD"];
        db.host = values["QUERLIN_TESTDB_HOST"];
        db.port = std::atoi(values["QUERLIN_TESTDB_PORT"].c_str());
        db.odbcIni = values["ODBCINI"];
        loaded = true;
    }
    return db;
}

std::string SideAddress(int lane)
{
    const std::string& host = RequireTestDatabase().host;
    return "127.0." + std::to_string(lane) + host.substr(host.rfind('.'));
}

} // namespace querlin::test
