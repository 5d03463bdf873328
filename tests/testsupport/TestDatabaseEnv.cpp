#include "testsupport/TestDatabaseEnv.h"

#include <cstdlib>
#include <fstream>

namespace querlin::test {

std::optional<std::map<std::string, std::string>> LoadTestDatabaseEnv(const std::string& file)
{
    std::ifstream in(file);
    if (!in)
        return std::nullopt;
    std::map<std::string, std::string> values;
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
#ifndef _WIN32
    setenv("ODBCINI", values["ODBCINI"].c_str(), 1);
    if (!values["ODBCSYSINI"].empty())
        setenv("ODBCSYSINI", values["ODBCSYSINI"].c_str(), 1);
#endif
    // Under Wine the driver manager is the machine's unixODBC, which reads
    // the Unix environment of the Wine process; tests/wine/wine-run sets
    // ODBCINI there from this same file.
    return values;
}

} // namespace querlin::test
