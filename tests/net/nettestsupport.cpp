#include "nettestsupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace {

void pumpEvents(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

sockaddr_in loopback(quint16 port, const QByteArray& host = QByteArrayLiteral("127.0.0.1")) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, host.constData(), &address.sin_addr);
    return address;
}

RawSocket boundSocket(quint16& port, const QByteArray& host = QByteArrayLiteral("127.0.0.1")) {
    RawSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = loopback(0, host);
    if (!socket.isOpen() ||
        ::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("bind failed");
    port = localPort(socket.fd());
    return socket;
}

}  // namespace

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return done();
        pumpEvents(5);
    }
    return true;
}

void runEventsFor(int ms) {
    pumpEvents(ms);
}

double processCpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

quint16 localPort(int socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

RawSocket& RawSocket::operator=(RawSocket&& other) noexcept {
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

RawSocket::~RawSocket() {
    close();
}

void RawSocket::close() {
    if (m_fd != -1)
        ::close(m_fd);
    m_fd = -1;
}

void RawSocket::reset() {
    const linger option{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    close();
}

RawSocket RawSocket::listening(quint16& port, int backlog, const QByteArray& address) {
    RawSocket socket = boundSocket(port, address);
    ::listen(socket.fd(), backlog);
    return socket;
}

RawSocket RawSocket::boundOnly(quint16& port) {
    return boundSocket(port);
}

RawSocket RawSocket::connectTo(quint16 port) {
    RawSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = loopback(port);
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("connect failed");
    return socket;
}

RawSocket RawSocket::startConnect(quint16 port) {
    RawSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const sockaddr_in address = loopback(port);
    ::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return socket;
}

RawSocket RawSocket::acceptOne(int timeoutMs) const {
    int fd = -1;
    waitUntil(
        [&] {
            pollfd state{m_fd, POLLIN, 0};
            if (::poll(&state, 1, 0) == 1)
                fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            return fd != -1;
        },
        timeoutMs);
    return RawSocket(fd);
}

bool RawSocket::send(const QByteArray& bytes) {
    return ::send(m_fd, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL) ==
           bytes.size();
}

QByteArray RawSocket::readAvailable() {
    QByteArray result;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            break;
        result.append(buffer, n);
    }
    return result;
}

QByteArray RawSocket::readExactly(qsizetype count, int timeoutMs) {
    QByteArray result;
    waitUntil(
        [&] {
            result.append(readAvailable());
            return result.size() >= count;
        },
        timeoutMs);
    return result;
}

RawSocket::Ending RawSocket::waitForEnd(int timeoutMs) {
    Ending ending = Ending::Open;
    waitUntil(
        [&] {
            char buffer[65536];
            for (;;) {
                const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (n > 0)
                    continue;
                if (n == 0)
                    ending = Ending::Orderly;
                else if (errno != EAGAIN && errno != EWOULDBLOCK)
                    ending = Ending::Reset;
                break;
            }
            return ending != Ending::Open;
        },
        timeoutMs);
    return ending;
}

QString errorEntry(TErrorEvent kind, int code) {
    return QStringLiteral("error:%1:%2").arg(int(kind)).arg(code);
}
