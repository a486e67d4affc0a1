#include "hostilepeer.h"

#include <QElapsedTimer>
#include <QThread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <utility>

#include "transfer/protocol.h"

namespace {

constexpr qsizetype kPayload = 2049;
constexpr qsizetype kBlock = 2048;

// Milliseconds left until a deadline, at least 0.
int remaining(const QElapsedTimer& clock, int timeoutMs) {
    return static_cast<int>(std::max<qint64>(0, timeoutMs - clock.elapsed()));
}

bool waitFor(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    int n;
    do {
        n = ::poll(&entry, 1, timeoutMs);
    } while (n < 0 && errno == EINTR);
    return n > 0;
}

// The digits at `from`, and where they end.
std::optional<qint64> digitsAt(QByteArrayView bytes, qsizetype from, qsizetype& end) {
    end = from;
    qint64 value = 0;
    while (end < bytes.size() && bytes[end] >= '0' && bytes[end] <= '9') {
        if (end - from >= 18) {
            return std::nullopt;
        }
        value = value * 10 + (bytes[end] - '0');
        ++end;
    }
    return end > from ? std::optional<qint64>(value) : std::nullopt;
}

}  // namespace

HostilePeer::HostilePeer(int fd) : m_fd(fd) {
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    const int on = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

HostilePeer::~HostilePeer() {
    close();
}

HostilePeer::HostilePeer(HostilePeer&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_closedByCopy(other.m_closedByCopy),
      m_input(std::move(other.m_input)) {}

HostilePeer& HostilePeer::operator=(HostilePeer&& other) noexcept {
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
        m_closedByCopy = other.m_closedByCopy;
        m_input = std::move(other.m_input);
    }
    return *this;
}

bool HostilePeer::connectTo(quint16 port, int timeoutMs, int receiveBuffer) {
    close();
    m_closedByCopy = false;
    m_input.clear();
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        return false;
    }
    const int on = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (receiveBuffer > 0) {
        // Before the connect, so that the window offered to the copy stays small.
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        close();
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (!waitFor(m_fd, POLLOUT, timeoutMs) ||
        ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        close();
        return false;
    }
    return true;
}

bool HostilePeer::send(QByteArrayView bytes, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    qsizetype sent = 0;
    while (m_fd >= 0 && sent < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + sent,
                                 static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            m_closedByCopy = true;  // EPIPE or ECONNRESET: the copy has gone
            return false;
        }
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        waitFor(m_fd, POLLOUT, std::min(remaining(clock, timeoutMs), 50));
    }
    return m_fd >= 0;
}

bool HostilePeer::sendWhileDraining(QByteArrayView bytes, qint64 answerBytes, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    qsizetype sent = 0;
    qint64 answered = 0;
    char buffer[65536];
    while (m_fd >= 0 && (sent < bytes.size() || answered < answerBytes) &&
           clock.elapsed() <= timeoutMs) {
        const short events = sent < bytes.size() ? POLLIN | POLLOUT : POLLIN;
        pollfd entry{m_fd, events, 0};
        if (::poll(&entry, 1, 50) <= 0) {
            continue;
        }
        if ((entry.revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                m_closedByCopy = true;
                return false;
            }
            answered += std::max<ssize_t>(n, 0);
        }
        if ((entry.revents & POLLOUT) != 0) {
            const ssize_t n = ::send(m_fd, bytes.data() + sent,
                                     static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
            if (n > 0) {
                sent += n;
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                m_closedByCopy = true;
                return false;
            }
        }
    }
    return sent == bytes.size() && answered >= answerBytes;
}

bool HostilePeer::sendInPieces(QByteArrayView bytes, qsizetype piece, int pauseUs, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    for (qsizetype at = 0; at < bytes.size(); at += piece) {
        if (!send(bytes.sliced(at, std::min(piece, bytes.size() - at)),
                  remaining(clock, timeoutMs))) {
            return false;
        }
        if (pauseUs > 0) {
            QThread::usleep(static_cast<unsigned long>(pauseUs));
        }
    }
    return true;
}

bool HostilePeer::fill(int timeoutMs) {
    if (m_fd < 0 || m_closedByCopy) {
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            m_input.append(buffer, n);
            return true;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            m_closedByCopy = true;
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        if (!waitFor(m_fd, POLLIN, timeoutMs)) {
            return true;  // nothing came in time, but the connection is still open
        }
        timeoutMs = 0;
    }
}

QByteArray HostilePeer::receive(qsizetype count, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (m_input.size() < count && clock.elapsed() <= timeoutMs &&
           fill(std::min(remaining(clock, timeoutMs), 50))) {
    }
    return takeUnread();
}

QByteArray HostilePeer::receiveUntilQuiet(int firstTimeoutMs, int quietMs) {
    QElapsedTimer clock;
    clock.start();
    while (m_input.isEmpty() && clock.elapsed() <= firstTimeoutMs &&
           fill(std::min(remaining(clock, firstTimeoutMs), 50))) {
    }
    for (;;) {
        const qsizetype before = m_input.size();
        if (!fill(quietMs) || m_input.size() == before) {
            return takeUnread();
        }
    }
}

bool HostilePeer::waitClosed(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!m_closedByCopy && clock.elapsed() <= timeoutMs) {
        fill(std::min(remaining(clock, timeoutMs), 50));
        if (m_input.size() > (1 << 20)) {
            m_input.clear();
        }
    }
    return m_closedByCopy;
}

QByteArray HostilePeer::takeUnread() {
    return std::exchange(m_input, QByteArray());
}

void HostilePeer::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void HostilePeer::abort() {
    if (m_fd >= 0) {
        const linger reset{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    close();
}

bool HostilePeer::serveFile(const QByteArray& wireName, QByteArrayView content, int timeoutMs,
                            qsizetype piece, int pauseUs) {
    QElapsedTimer clock;
    clock.start();
    if (!send(OfferMessage(wireName, content.size()), timeoutMs)) {
        return false;
    }
    // The receiver sends no terminator: a request is complete when its digits are followed
    // by nothing for a moment. With one block in flight nothing else can follow it.
    for (;;) {
        while (m_input.isEmpty()) {
            if (clock.elapsed() > timeoutMs || !fill(std::min(remaining(clock, timeoutMs), 50))) {
                return false;
            }
        }
        if (m_input.startsWith('f')) {
            close();
            return true;
        }
        if (!m_input.startsWith("a|")) {
            return false;
        }
        qsizetype end = 0;
        std::optional<qint64> index = digitsAt(m_input, 2, end);
        if (index && end == m_input.size() && *index > 0 && *index * 10 * kBlock < content.size()) {
            // Another digit would still name a block of the file: perhaps it is on its way.
            fill(20);
            index = digitsAt(m_input, 2, end);
        }
        if (!index || end != m_input.size()) {
            if (clock.elapsed() > timeoutMs) {
                return false;
            }
            continue;
        }
        m_input.clear();
        const qint64 offset = *index * kBlock;
        const QByteArrayView data =
            offset < content.size()
                ? content.sliced(offset, std::min<qint64>(kBlock, content.size() - offset))
                : QByteArrayView();
        const QByteArray message = BlockMessage(*index, data);
        const bool sent = piece > 0
                              ? sendInPieces(message, piece, pauseUs, remaining(clock, timeoutMs))
                              : send(message, remaining(clock, timeoutMs));
        if (!sent) {
            return false;
        }
    }
}

std::optional<HostilePeer::Offer> HostilePeer::readOffer(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const qsizetype nameEnd = m_input.startsWith("i|") ? m_input.indexOf('|', 2) : -1;
        qsizetype end = 0;
        if (nameEnd > 0 && digitsAt(m_input, nameEnd + 1, end) && end == m_input.size()) {
            fill(30);  // the rest of the size, if it was cut
            const std::optional<qint64> size = digitsAt(m_input, nameEnd + 1, end);
            if (end == m_input.size()) {
                Offer offer{m_input.mid(2, nameEnd - 2), *size};
                m_input.clear();
                return offer;
            }
            return std::nullopt;
        }
        if (clock.elapsed() > timeoutMs || !fill(std::min(remaining(clock, timeoutMs), 50))) {
            return std::nullopt;
        }
    }
}

std::optional<HostilePeer::Block> HostilePeer::readBlock(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (!m_input.isEmpty() && !m_input.startsWith('d')) {
            return std::nullopt;
        }
        qsizetype indexEnd = 0;
        qsizetype countEnd = 0;
        const std::optional<qint64> index = digitsAt(m_input, 2, indexEnd);
        const std::optional<qint64> count = index && indexEnd < m_input.size()
                                                ? digitsAt(m_input, indexEnd + 1, countEnd)
                                                : std::nullopt;
        if (count && countEnd < m_input.size()) {
            if (m_input[indexEnd] != '|' || m_input[countEnd] != '|' || *count > kBlock) {
                return std::nullopt;
            }
            const qsizetype payload = countEnd + 1;
            if (m_input.size() >= payload + kPayload) {
                Block block{*index, *count, m_input.mid(payload, *count)};
                m_input.remove(0, payload + kPayload);
                return block;
            }
        }
        if (clock.elapsed() > timeoutMs || !fill(std::min(remaining(clock, timeoutMs), 50))) {
            return std::nullopt;
        }
    }
}

std::optional<QByteArray> HostilePeer::fetchFile(qint64 size, int timeoutMs, qsizetype piece,
                                                 int pauseUs) {
    QElapsedTimer clock;
    clock.start();
    QByteArray content;
    while (content.size() < size) {
        const qint64 index = content.size() / kBlock;
        const QByteArray request = BlockRequest(index);
        const bool sent = piece > 0
                              ? sendInPieces(request, piece, pauseUs, remaining(clock, timeoutMs))
                              : send(request, remaining(clock, timeoutMs));
        if (!sent) {
            return std::nullopt;
        }
        const std::optional<Block> block = readBlock(remaining(clock, timeoutMs));
        if (!block || block->index != index || block->count == 0) {
            return std::nullopt;
        }
        content.truncate(index * kBlock);
        content.append(block->data);
    }
    if (!send(FinishedNotice(), remaining(clock, timeoutMs))) {
        return std::nullopt;
    }
    return content;
}
