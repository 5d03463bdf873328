#pragma once
// A listener between the program and a server on loopback that passes the
// traffic both ways until a test tells it to misbehave: Stall keeps every
// connection open but passes no byte (a network that stopped answering),
// Cut resets every connection there is (a link gone), and new connections
// are taken all the while (a stalled proxy stalls them too). One thread of
// its own; the methods may be called from any thread. POSIX sockets.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace querlin::test {

class TcpProxy {
public:
    // Listens on address:port (port 0 takes a free one) and forwards each
    // connection to targetHost:targetPort. Throws std::runtime_error when
    // it cannot listen.
    TcpProxy(const std::string& address, int port, const std::string& targetHost, int targetPort);
    ~TcpProxy();
    TcpProxy(const TcpProxy&) = delete;
    TcpProxy& operator=(const TcpProxy&) = delete;

    int Port() const { return port_; }
    // Stops or resumes passing bytes; the connections stay.
    void Stall(bool stalled);
    // Resets every open connection on both sides at once.
    void Cut();
    // Connections forwarded now.
    int Connections() const { return connections_.load(); }

private:
    void Run();
    void Wake();

    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    int port_ = 0;
    std::string targetHost_;
    int targetPort_ = 0;
    std::atomic<bool> stalled_{false};
    std::atomic<bool> cut_{false};
    std::atomic<bool> ending_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

} // namespace querlin::test
