#include "peerstorm.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include "hostilesupport.h"

PeerStorm::PeerStorm(quint16 port, int peers, int burst, int spacingMs, int peerTimeoutMs)
    : m_port(port),
      m_burst(std::max(1, burst)),
      m_spacingMs(spacingMs),
      m_peerTimeoutMs(peerTimeoutMs),
      m_peers(static_cast<size_t>(peers)),
      m_results(static_cast<size_t>(peers)) {
    for (int n = 0; n < peers; ++n) {
        m_results[static_cast<size_t>(n)].behaviour = static_cast<Behaviour>(n % 4);
    }
}

PeerStorm::~PeerStorm() {
    for (size_t n = 0; n < m_peers.size(); ++n) {
        if (m_peers[n].fd >= 0) {
            ::close(m_peers[n].fd);
        }
    }
}

void PeerStorm::start(int n) {
    Peer& peer = m_peers[static_cast<size_t>(n)];
    peer.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (peer.fd < 0 ||
        (::connect(peer.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
         errno != EINPROGRESS)) {
        finish(n);
        return;
    }
    peer.connecting = true;
    switch (m_results[static_cast<size_t>(n)].behaviour) {
        case Behaviour::Garbage:
            peer.toSend = patternBytes(16384, static_cast<quint32>(n));
            break;
        case Behaviour::Offers:
            peer.toSend = "i|storm-" + QByteArray::number(n) + ".bin|1000";
            break;
        default:
            break;
    }
}

void PeerStorm::finish(int n) {
    Peer& peer = m_peers[static_cast<size_t>(n)];
    if (peer.fd >= 0) {
        ::close(peer.fd);
        peer.fd = -1;
    }
    peer.done = true;
}

void PeerStorm::step(int n, short events) {
    Peer& peer = m_peers[static_cast<size_t>(n)];
    Result& result = m_results[static_cast<size_t>(n)];
    if (peer.connecting) {
        if ((events & (POLLOUT | POLLERR | POLLHUP)) == 0) {
            return;
        }
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(peer.fd, SOL_SOCKET, SO_ERROR, &error, &length);
        peer.connecting = false;
        result.connected = error == 0;
        if (!result.connected) {
            finish(n);
            return;
        }
        if (result.behaviour == Behaviour::Drops) {
            if (n % 8 == 3) {
                const linger reset{1, 0};
                ::setsockopt(peer.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            }
            finish(n);
            return;
        }
    }
    if (!peer.toSend.isEmpty() && (events & POLLOUT) != 0) {
        const ssize_t sent = ::send(peer.fd, peer.toSend.constData(),
                                    static_cast<size_t>(peer.toSend.size()), MSG_NOSIGNAL);
        if (sent > 0) {
            peer.toSend.remove(0, sent);
        } else if (sent < 0 && errno != EAGAIN && errno != EINTR) {
            peer.toSend.clear();  // the copy closed first; the read below will see it
        }
    }
    if ((events & (POLLIN | POLLERR | POLLHUP)) != 0) {
        char buffer[4096];
        const ssize_t n_read = ::recv(peer.fd, buffer, sizeof buffer, 0);
        if (n_read > 0) {
            result.received.append(buffer, n_read);
        } else if (n_read == 0 || (errno != EAGAIN && errno != EINTR)) {
            result.closedByCopy = true;
            finish(n);
        }
    }
}

bool PeerStorm::run(int timeoutMs, const std::function<void()>& idle) {
    QElapsedTimer clock;
    clock.start();
    int started = 0;
    const int total = static_cast<int>(m_peers.size());
    for (;;) {
        while (started < total &&
               clock.elapsed() >= static_cast<qint64>(started / m_burst) * m_burst * m_spacingMs) {
            m_peers[static_cast<size_t>(started)].startedMs = clock.elapsed();
            start(started++);
        }
        std::vector<pollfd> entries;
        std::vector<int> numbers;
        for (int n = 0; n < started; ++n) {
            const Peer& peer = m_peers[static_cast<size_t>(n)];
            if (!peer.done && clock.elapsed() - peer.startedMs > m_peerTimeoutMs) {
                m_results[static_cast<size_t>(n)].timedOut = true;
                finish(n);
            }
            if (peer.done) {
                continue;
            }
            short events = POLLIN;
            if (peer.connecting || !peer.toSend.isEmpty()) {
                events |= POLLOUT;
            }
            entries.push_back({peer.fd, events, 0});
            numbers.push_back(n);
        }
        if (entries.empty() && started == total) {
            return true;
        }
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        if (entries.empty()) {
            ::usleep(1000);  // the next connect is not due yet
        } else if (::poll(entries.data(), entries.size(), 5) > 0) {
            for (size_t i = 0; i < entries.size(); ++i) {
                if (entries[i].revents != 0) {
                    step(numbers[i], entries[i].revents);
                }
            }
        }
        idle();
    }
}
