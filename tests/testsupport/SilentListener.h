#pragma once
// A listener on a loopback address that takes connections and never says a
// word: a server that does not answer. Port 0 takes a free one (Port()).
// POSIX sockets.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace querlin::test {

class SilentListener {
public:
    explicit SilentListener(const std::string& address, int port = 1521)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int yes = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(static_cast<std::uint16_t>(port));
        socklen_t length = sizeof at;
        if (fd_ < 0 || ::inet_pton(AF_INET, address.c_str(), &at.sin_addr) != 1 ||
            ::bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || ::listen(fd_, 8) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&at), &length) != 0) {
            if (fd_ >= 0)
                ::close(fd_);
            throw std::runtime_error("cannot listen on " + address + ":" + std::to_string(port));
        }
        port_ = ntohs(at.sin_port);
    }
    ~SilentListener() { ::close(fd_); }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

} // namespace querlin::test
