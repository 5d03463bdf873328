#pragma once
// The settings file that scripts/testdb writes (KEY=VALUE lines), read for
// the tests and the benchmarks alike. Plain C++, no test framework.

#include <map>
#include <optional>
#include <string>

namespace querlin::test {

// The file's values, or nothing when it cannot be read. Reading it also
// points unixODBC at the server's data sources (ODBCINI, ODBCSYSINI).
std::optional<std::map<std::string, std::string>> LoadTestDatabaseEnv(const std::string& file);

} // namespace querlin::test
