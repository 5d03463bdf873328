#pragma once
// Helpers shared by the test programs: temporary folders and the test
// database's connection settings.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace querlin::test {

// A fresh folder under the system's temporary folder, removed on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// A whole file's bytes (empty when it cannot be read), and a file written
// with exactly these bytes.
std::string ReadFile(const std::filesystem::path& name);
void WriteFile(const std::filesystem::path& name, const std::string& bytes);
// The names of the entries in a folder, sorted, so a test can tell that
// nothing was left behind.
std::vector<std::string> FilesIn(const std::filesystem::path& folder);

// The text of the querlin::Error the action raises, or "(no error)".
std::string ErrorOf(const std::function<void()>& action);

// Settings of the running test server, read from the file that
// scripts/testdb wrote (named by QUERLIN_TESTDB_ENV). A database test calls
// this first; it fails the test (never skips) when the server is not there.
struct TestDatabase {
    std::string dsn;       // ODBC data source name
    std::string user;
    std::string password;
    std::string host;
    int port = 0;
    std::string odbcIni;   // the odbc.ini file the data source lives in
    // The program's read-only form, "Provider=MSDASQL.1;...;Mode=Read;
    // Extended Properties="DSN=...;UID=...;PWD=...;"", quoted as the program
    // quotes it.
    std::string AdoConnectionString() const;
    // "DSN=...;UID=...;PWD=..." for raw ODBC, values quoted where needed.
    std::string OdbcConnectionString() const;
};
const TestDatabase& RequireTestDatabase();

// A loopback address of this build's own for a further server or listener
// that a Login dials (lane 1 to 9): 127.0.lane.N beside the suite's server at
// 127.0.0.N, so that the suites of two build folders never meet.
std::string SideAddress(int lane);

} // namespace querlin::test

#ifdef _WIN32
#include <cstdlib>
// The C library's environment calls the tests use, on Windows' own.
inline int setenv(const char* name, const char* value, int overwrite)
{
    if (!overwrite && std::getenv(name))
        return 0;
    return _putenv_s(name, value);
}
inline int unsetenv(const char* name)
{
    return _putenv_s(name, "");
}
#endif
