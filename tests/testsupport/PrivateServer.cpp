#include "testsupport/PrivateServer.h"

#include "data/ConnectionString.h"
#include "testsupport/TestDatabaseEnv.h"
#include "testsupport/TestSupport.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <vector>

#ifdef _WIN32
#include <process.h>
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <unistd.h>
#endif

namespace querlin::test {

namespace fs = std::filesystem;

namespace {

std::string ShellQuote(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

#ifdef _WIN32
// Under Wine the shell is the Unix one, reached through the helper that
// tests/wine/wine-run starts (QUERLIN_UNIX_RUNNER: its loopback port and
// token); paths are given to it without Wine's drive letter.
std::string UnixPath(const std::string& path)
{
    std::string out = path.rfind("Z:", 0) == 0 || path.rfind("z:", 0) == 0 ? path.substr(2) : path;
    for (char& c : out)
        if (c == '\\')
            c = '/';
    return out;
}

// The command's exit status and its output (standard error included).
std::pair<int, std::string> RunShell(const std::string& command)
{
    const char* runner = std::getenv("QUERLIN_UNIX_RUNNER");
    if (!runner)
        throw std::runtime_error("no Unix command helper (run the test through tests/wine/wine-run): " + command);
    std::istringstream settings(runner);
    int port = 0;
    std::string token;
    settings >> port >> token;
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    const SOCKET s = started ? socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (s != INVALID_SOCKET)
            closesocket(s);
        throw std::runtime_error("cannot reach the Unix command helper: " + command);
    }
    const std::string request = token + "\n" + command + std::string(1, '\0');
    for (std::size_t sent = 0; sent < request.size();) {
        const int n = send(s, request.data() + sent, int(request.size() - sent), 0);
        if (n <= 0) {
            closesocket(s);
            throw std::runtime_error("cannot send to the Unix command helper: " + command);
        }
        sent += std::size_t(n);
    }
    std::string answer;
    char buffer[4096];
    for (int n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;)
        answer.append(buffer, std::size_t(n));
    closesocket(s);
    const std::size_t end = answer.find('\n');
    if (end == std::string::npos)
        throw std::runtime_error("no answer from the Unix command helper: " + command);
    return {std::atoi(answer.substr(0, end).c_str()), answer.substr(end + 1)};
}

int System(const std::string& command)
{
    return RunShell(command).first;
}
#else
std::string UnixPath(const std::string& path)
{
    return path;
}

std::pair<int, std::string> RunShell(const std::string& command)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot run: " + command);
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    return {pclose(pipe), out};
}

int System(const std::string& command)
{
    return std::system(command.c_str());
}
#endif

const std::string kScript = UnixPath(std::string(QUERLIN_SOURCE_DIR)) + "/scripts/testdb";

std::string Run(const std::string& command)
{
    auto [status, out] = RunShell(command);
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    if (status != 0)
        throw std::runtime_error("failed (" + std::to_string(status) + "): " + command + "\n" + out);
    return out;
}

} // namespace

std::string PsqlOn(int port, const std::string& password, const std::string& database, const std::string& sql,
                   const std::string& host)
{
    return Run("PGPASSWORD=" + ShellQuote(password) + " psql -X -q -At -v ON_ERROR_STOP=1 -h " + host + " -p " +
               std::to_string(port) + " -U system -d " + ShellQuote(database) + " -c " + ShellQuote(sql));
}

const char* const kTerminateSleepers =
    "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
    "WHERE wait_event = 'PgSleep' AND pid <> pg_backend_pid()";

PrivateServer::PrivateServer(const std::string& password, const std::string& setupSql, const std::string& listen)
    : password_(password)
{
    static int counter = 0;
    dir_ = (fs::path(QUERLIN_TESTDB_ENV_FILE).parent_path() / "private" /
            (std::to_string(getpid()) + "-" + std::to_string(++counter)))
               .string();
    fs::create_directories(dir_);
    std::vector<std::string> fixtures = {std::string(QUERLIN_SOURCE_DIR) + "/scripts/testdb-fixture.sql"};
    if (!setupSql.empty()) {
        const std::string file = dir_ + "/setup.sql";
        WriteFile(file, setupSql + "\n");
        fixtures.push_back(file);
    }
    std::string command = "QUERLIN_TESTDB_PASSWORD=" + ShellQuote(password_) + " QUERLIN_TESTDB_DSN=QUERLIN_PRIVATE " +
                          "QUERLIN_TESTDB_LISTEN=" + ShellQuote(listen) + " " +
                          kScript + " start " + ShellQuote(UnixPath(dir_));
    for (const auto& f : fixtures)
        command += " " + ShellQuote(UnixPath(f));
    if (System((command + " >/dev/null").c_str()) != 0) {
        System((kScript + " stop " + ShellQuote(UnixPath(dir_)) + " >/dev/null 2>&1").c_str());
        throw std::runtime_error("cannot start a private test server: " + command);
    }
    std::istringstream env(ReadFile(dir_ + "/env"));
    for (std::string line; std::getline(env, line);)
        if (line.rfind("QUERLIN_TESTDB_PORT=", 0) == 0)
            port_ = std::atoi(line.c_str() + 20);
        else if (line.rfind("QUERLIN_TESTDB_HOST=", 0) == 0)
            host_ = line.substr(20);
    // The data source's settings, to name in a connection string.
    std::vector<data::ConnectionString::Entry> entries;
    std::istringstream ini(ReadFile(dir_ + "/odbc.ini"));
    for (std::string line; std::getline(ini, line);) {
        const auto eq = line.find('=');
        if (line.empty() || line[0] == '[' || eq == std::string::npos)
            continue;
        entries.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    odbcSettings_ = entries;
    if (port_ == 0 || entries.empty()) {
        System((kScript + " stop " + ShellQuote(UnixPath(dir_)) + " >/dev/null 2>&1").c_str());
        throw std::runtime_error("the private test server left no settings in " + dir_);
    }
}

PrivateServer::~PrivateServer()
{
    System((kScript + " stop " + ShellQuote(UnixPath(dir_)) + " >/dev/null 2>&1").c_str());
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

void PrivateServer::Halt(bool immediate)
{
    Run(kScript + " halt " + ShellQuote(UnixPath(dir_)) + (immediate ? " immediate" : " fast"));
}

void PrivateServer::Resume()
{
    Run(kScript + " resume " + ShellQuote(UnixPath(dir_)));
}

std::string PrivateServer::AdoConnectionString(int port) const
{
    std::vector<data::ConnectionString::Entry> entries = odbcSettings_;
    for (auto& entry : entries)
        if (data::SameKey(entry.first, "Port") && port != 0)
            entry.second = std::to_string(port);
    return "Provider=MSDASQL.1;Password=" + data::QuoteAdoValue(password_) +
           ";User ID=system;Mode=Read;Extended Properties=" + data::QuoteAdoValue(data::BuildOdbc(entries)) + ";";
}

std::string PrivateServer::Psql(const std::string& sql, const std::string& database) const
{
    return PsqlOn(port_, password_, database, sql, host_);
}

Saboteur::Saboteur(const std::function<std::string(const std::string&)>& psql, std::function<void()> action)
{
    thread_ = std::thread([this, psql, action = std::move(action)] {
        // About a minute; a session asleep is seen within a poll or two.
        for (int poll = 0; poll < 600; ++poll) {
            std::string sleepers;
            try {
                sleepers = psql("SELECT count(*) FROM pg_stat_activity WHERE wait_event = 'PgSleep'");
            } catch (const std::exception&) {
            }
            if (!sleepers.empty() && sleepers != "0") {
                struck_ = true;
                try {
                    action();
                } catch (const std::exception& e) {
                    std::cerr << "the saboteur's action failed: " << e.what() << "\n";
                }
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
}

Saboteur::~Saboteur()
{
    Join();
}

void Saboteur::Join()
{
    if (thread_.joinable())
        thread_.join();
}

struct HangWatchdog::State {
    std::mutex mutex;
    std::condition_variable done;
    bool ended = false;
};

HangWatchdog::HangWatchdog(std::string what, int seconds) : state_(new State)
{
    thread_ = std::thread([state = state_, what = std::move(what), seconds] {
        std::unique_lock lock(state->mutex);
        if (!state->done.wait_for(lock, std::chrono::seconds(seconds), [state] { return state->ended; })) {
            std::cerr << "hang: " << what << " has not ended after " << seconds << " seconds\n";
            std::abort();
        }
    });
}

HangWatchdog::~HangWatchdog()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->ended = true;
    }
    state_->done.notify_all();
    thread_.join();
    delete state_;
}

} // namespace querlin::test
