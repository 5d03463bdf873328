#pragma once
// A PostgreSQL server of a test's own, for the tests that stop the server on
// purpose: the shared test server serves every other test and must stay up.
// Started by scripts/testdb in a folder under the shared server's folder, so
// the shared server's stop also removes one that a crashed test left behind.
// Plain C++, no test framework: failures throw std::runtime_error.

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace querlin::test {

// psql -At against a server on a loopback address as "system": its output,
// trailing line end dropped. Throws std::runtime_error when psql fails.
std::string PsqlOn(int port, const std::string& password, const std::string& database, const std::string& sql,
                   const std::string& host = "127.0.0.1");

class PrivateServer {
public:
    // Starts a server with the dictionary fixture and then these SQL texts
    // run in its database "querlin", for user "system" with this password;
    // on a free port of 127.0.0.1, or where listen ("127.0.0.x:1521") says,
    // for a Login to reach.
    explicit PrivateServer(const std::string& password, const std::string& setupSql = {},
                           const std::string& listen = {});
    ~PrivateServer();  // stops the server and removes its data
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;

    // Stops the server (its sessions end), keeping its data and its port;
    // "immediate" kills the sessions without a word to the clients.
    void Halt(bool immediate = false);
    // Starts it again on the same port.
    void Resume();

    int Port() const { return port_; }
    const std::string& Host() const { return host_; }
    const std::string& Password() const { return password_; }
    // The record set's connection string for the database "querlin",
    // naming the driver and the server itself (no data source file), with
    // the shared data source's settings (streamed results included); with
    // a port, the same for a server on that port of this host.
    std::string AdoConnectionString(int port = 0) const;

    // Runs SQL as the superuser; the output of psql -At (trailing line end
    // dropped). Throws when psql fails.
    std::string Psql(const std::string& sql, const std::string& database = "querlin") const;

private:
    std::string dir_;
    std::string password_;
    std::vector<std::pair<std::string, std::string>> odbcSettings_;  // the data source's
    int port_ = 0;
    std::string host_ = "127.0.0.1";
};

// Runs an action on another thread as soon as a session of the server sits
// in pg_sleep (the test's SQL puts one at the point where it wants the
// connection to go), polling through psql; or after `patience` polls
// without one. Joined on destruction.
class Saboteur {
public:
    Saboteur(const std::function<std::string(const std::string&)>& psql, std::function<void()> action);
    ~Saboteur();
    Saboteur(const Saboteur&) = delete;
    Saboteur& operator=(const Saboteur&) = delete;
    // Whether the action ran because a sleeping session was seen.
    bool Struck() const { return struck_; }
    void Join();

private:
    std::atomic<bool> struck_{false};
    std::thread thread_;
};

// SQL that ends the sessions sitting in pg_sleep, from another session.
extern const char* const kTerminateSleepers;

// Turns a hang into a failure: when the scope has not ended after this many
// seconds, names what hung on standard error and aborts the test program.
// Generous by intent; it measures nothing.
class HangWatchdog {
public:
    HangWatchdog(std::string what, int seconds);
    ~HangWatchdog();
    HangWatchdog(const HangWatchdog&) = delete;
    HangWatchdog& operator=(const HangWatchdog&) = delete;

private:
    struct State;
    State* state_;
    std::thread thread_;
};

} // namespace querlin::test
