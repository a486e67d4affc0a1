#include "peerlistener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

PeerListener::PeerListener() {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_fd, 16) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = -1;
        return;
    }
    m_port = ntohs(address.sin_port);
}

PeerListener::~PeerListener() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

std::optional<HostilePeer> PeerListener::accept(int timeoutMs) {
    if (m_fd < 0) {
        return std::nullopt;
    }
    pollfd entry{m_fd, POLLIN, 0};
    int n;
    do {
        n = ::poll(&entry, 1, timeoutMs);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        return std::nullopt;
    }
    const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    return HostilePeer(fd);
}
