#include "testsupport/TcpProxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>

namespace querlin::test {

namespace {

sockaddr_in Address(const std::string& host, int port)
{
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &at.sin_addr) != 1)
        throw std::runtime_error("not an IPv4 address: " + host);
    return at;
}

void NonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Closing with a zero linger sends a reset instead of an orderly end, as a
// link that broke would leave the peers.
void Reset(int fd)
{
    linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

// One direction of a connection: bytes read from `from` and not yet
// written to `to`.
struct Pipe {
    int from = -1;
    int to = -1;
    std::string pending;
    bool closed = false;  // `from` ended; pass the end on once pending is out
};

struct Link {
    int client = -1;
    int server = -1;
    Pipe up;
    Pipe down;
};

} // namespace

TcpProxy::TcpProxy(const std::string& address, int port, const std::string& targetHost, int targetPort)
    : targetHost_(targetHost), targetPort_(targetPort)
{
    sockaddr_in at = Address(address, port);
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    socklen_t length = sizeof at;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::listen(listenFd_, 64) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&at), &length) != 0 ||
        ::pipe(wakeFds_) != 0) {
        if (listenFd_ >= 0)
            ::close(listenFd_);
        throw std::runtime_error("the proxy cannot listen on " + address + ":" + std::to_string(port));
    }
    port_ = ntohs(at.sin_port);
    NonBlocking(listenFd_);
    NonBlocking(wakeFds_[0]);
    thread_ = std::thread([this] { Run(); });
}

TcpProxy::~TcpProxy()
{
    ending_ = true;
    Wake();
    thread_.join();
    ::close(listenFd_);
    ::close(wakeFds_[0]);
    ::close(wakeFds_[1]);
}

void TcpProxy::Stall(bool stalled)
{
    stalled_ = stalled;
    Wake();
}

void TcpProxy::Cut()
{
    cut_ = true;
    Wake();
    // The cut is made on the proxy's thread; wait until it is.
    while (cut_.load())
        std::this_thread::yield();
}

void TcpProxy::Wake()
{
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wakeFds_[1], &byte, 1);
}

void TcpProxy::Run()
{
    std::vector<Link> links;
    auto closeAll = [&](bool reset) {
        for (Link& link : links) {
            if (reset) {
                Reset(link.client);
                Reset(link.server);
            } else {
                ::close(link.client);
                ::close(link.server);
            }
        }
        links.clear();
        connections_ = 0;
    };

    while (!ending_) {
        if (cut_) {
            closeAll(true);
            cut_ = false;
        }
        const bool stalled = stalled_;
        std::vector<pollfd> fds{{wakeFds_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
        // Each link's two sockets, in order: what each waits for.
        for (Link& link : links) {
            short client = 0;
            short server = 0;
            if (!stalled) {
                if (link.up.pending.empty() && !link.up.closed)
                    client |= POLLIN;
                if (!link.up.pending.empty())
                    server |= POLLOUT;
                if (link.down.pending.empty() && !link.down.closed)
                    server |= POLLIN;
                if (!link.down.pending.empty())
                    client |= POLLOUT;
            }
            fds.push_back({link.client, client, 0});
            fds.push_back({link.server, server, 0});
        }
        if (::poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR)
            break;

        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (::read(wakeFds_[0], drain, sizeof drain) > 0) {
            }
        }
        if (stalled_ != stalled || cut_ || ending_)
            continue;

        // Moves what one side has to the other; false once the link is over.
        auto pass = [](Pipe& pipe, short fromEvents, short toEvents) {
            if ((fromEvents & (POLLIN | POLLHUP | POLLERR)) && pipe.pending.empty() && !pipe.closed) {
                char buffer[65536];
                const ssize_t got = ::read(pipe.from, buffer, sizeof buffer);
                if (got > 0)
                    pipe.pending.assign(buffer, static_cast<std::size_t>(got));
                else if (got == 0 || (errno != EAGAIN && errno != EINTR))
                    pipe.closed = true;
            }
            if ((toEvents & (POLLOUT | POLLERR)) && !pipe.pending.empty()) {
                const ssize_t put = ::send(pipe.to, pipe.pending.data(), pipe.pending.size(), MSG_NOSIGNAL);
                if (put > 0)
                    pipe.pending.erase(0, static_cast<std::size_t>(put));
                else if (put < 0 && errno != EAGAIN && errno != EINTR)
                    return false;
            }
            return !(pipe.closed && pipe.pending.empty());
        };
        std::vector<Link> kept;
        for (std::size_t i = 0; i < links.size(); ++i) {
            Link& link = links[i];
            const short client = fds[2 + 2 * i].revents;
            const short server = fds[3 + 2 * i].revents;
            const bool upAlive = pass(link.up, client, server);
            const bool downAlive = pass(link.down, server, client);
            if (upAlive && downAlive) {
                kept.push_back(std::move(link));
            } else {
                // One side ended: end the other as plainly.
                ::close(link.client);
                ::close(link.server);
            }
        }
        links = std::move(kept);

        if (fds[1].revents & POLLIN) {
            while (true) {
                const int client = ::accept(listenFd_, nullptr, nullptr);
                if (client < 0)
                    break;
                const int server = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in target = Address(targetHost_, targetPort_);
                if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
                    // Nobody behind: the program sees its connection end.
                    if (server >= 0)
                        ::close(server);
                    ::close(client);
                    continue;
                }
                NonBlocking(client);
                NonBlocking(server);
                Link link;
                link.client = client;
                link.server = server;
                link.up = Pipe{client, server, {}, false};
                link.down = Pipe{server, client, {}, false};
                links.push_back(std::move(link));
            }
        }
        connections_ = static_cast<int>(links.size());
    }
    closeAll(false);
}

} // namespace querlin::test
