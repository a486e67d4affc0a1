#include "net/socketconnection.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QMutexLocker>
#include <QPointer>
#include <QSocketNotifier>
#include <QThreadPool>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "net/uncaughtexceptions.h"

namespace {

constexpr int kAcceptPauseMs = 100;
// Our own close reads and drops unread input so that the kernel sends FIN rather than RST;
// a peer that keeps sending is not drained for ever.
constexpr int kDrainChunks = 256;

quint64 nextNotificationHandle() {
    static std::atomic<quint64> counter{0};
    return ++counter;
}

quint64 nextLookupRequest() {
    static std::atomic<quint64> counter{0};
    return ++counter;
}

bool isWouldBlock(int code) {
    return code == EAGAIN || code == EWOULDBLOCK || code == EINPROGRESS;
}

std::string socketErrorMessage(const char* text, int code, const char* api) {
    return QString::asprintf("Windows socket error: %s (%d), on API '%s'", text, code, api)
        .toStdString();
}

[[noreturn]] void raiseSocketError(int code, const char* api) {
    throw ESocketError(socketErrorMessage(std::strerror(code), code, api));
}

// 0 when the call did not fail; the code when it failed because it would block; raises for
// every other failure.
int checkResult(bool failed, const char* api) {
    if (!failed)
        return 0;
    const int code = errno;
    if (isWouldBlock(code))
        return code;
    raiseSocketError(code, api);
}

void setNonBlocking(int s, bool on) {
    const int flags = ::fcntl(s, F_GETFL);
    if (flags == -1)
        return;
    ::fcntl(s, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

// Small protocol messages must not wait for the peer's delayed ACK (Nagle on either side).
void setNoDelay(int s) {
    const int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void setQuickAck(int s) {
    const int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
}

ssize_t sendNoSignal(int s, const char* data, size_t size, int flags = 0) {
    ssize_t n;
    do {
        n = ::send(s, data, size, flags | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
}

void drainInput(int s) {
    char buffer[16384];
    for (int i = 0; i < kDrainChunks; ++i) {
        const ssize_t n = ::recv(s, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0 || (n < 0 && errno == EINTR))
            continue;
        break;
    }
}

struct LookupAnswer {
    int errorCode = 0;
    QByteArray errorText;
    in_addr address{};
    in_port_t port = 0;  // network byte order
};

LookupAnswer lookupFailure(int rc) {
    LookupAnswer answer;
    if (rc == EAI_SYSTEM) {
        answer.errorCode = errno != 0 ? errno : EIO;
        char text[256];
        answer.errorText = QByteArray(strerror_r(answer.errorCode, text, sizeof text));
    } else {
        answer.errorCode = rc;
        answer.errorText = QByteArray(gai_strerror(rc));
    }
    return answer;
}

// Blocking; runs on a worker thread for the asynchronous open.
LookupAnswer lookupHost(const QByteArray& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(name.constData(), nullptr, &hints, &list);
    if (rc != 0)
        return lookupFailure(rc);
    LookupAnswer answer;
    answer.address = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr;
    ::freeaddrinfo(list);
    return answer;
}

// The service's TCP port from the services database (a number is taken as it is).
LookupAnswer lookupService(const QByteArray& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(nullptr, name.constData(), &hints, &list);
    if (rc != 0)
        return lookupFailure(rc);
    LookupAnswer answer;
    answer.port = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_port;
    ::freeaddrinfo(list);
    return answer;
}

TErrorEvent errorKindOf(quint8 flag) {
    switch (flag) {
        case FD_READ:
            return ekReceive;
        case FD_WRITE:
            return ekSend;
        case FD_ACCEPT:
            return ekAccept;
        case FD_CONNECT:
            return ekConnect;
        case FD_CLOSE:
            return ekDisconnect;
        default:
            return ekGeneral;
    }
}

}  // namespace

// Counts how deep the connection is inside its own event handling, so that a requested
// destruction waits until every handler of this connection has returned.
class TSocketConnection::EventScope {
public:
    explicit EventScope(TSocketConnection* connection) : m_connection(connection) {
        ++connection->m_depth;
    }
    ~EventScope() {
        if (m_connection)
            m_connection->LeaveEvent();
    }
    EventScope(const EventScope&) = delete;
    EventScope& operator=(const EventScope&) = delete;

private:
    QPointer<TSocketConnection> m_connection;
};

TSocketConnection::TSocketConnection(int socketHandle, QObject* parent)
    : QObject(parent),
      m_socket(socketHandle),
      m_connected(socketHandle != -1),
      m_handle(nextNotificationHandle()) {
    m_address.sin_family = AF_INET;
    if (socketHandle != -1)
        ++m_generation;
}

TSocketConnection::~TSocketConnection() {
    // No event reaches the owner during destruction.
    EventHook = nullptr;
    m_lookupRequest = 0;
    try {
        CloseSocketNow();
    } catch (...) {
        reportUncaughtException(std::current_exception());
    }
}

qsizetype TSocketConnection::SendBytes(const char* buffer, qsizetype count) {
    EventScope scope(this);
    QMutexLocker locker(&m_lock);
    if (!m_connected || m_socket == -1)
        return 0;
    if (m_outboxBytes > 0) {
        m_writeEventPending = true;
        UpdateNotifiers();
        return -1;
    }
    const ssize_t n = sendNoSignal(m_socket, buffer, static_cast<size_t>(std::max<qsizetype>(count, 0)));
    if (n > 0)
        m_quickAckDue = false;  // the segment carries the acknowledgement
    if (n >= 0)
        return n;
    const int code = errno;
    if (isWouldBlock(code)) {
        m_writeEventPending = true;
        UpdateNotifiers();
        return -1;
    }
    FailTransfer(ekSend, code, "send");
    return -1;
}

qsizetype TSocketConnection::SendString(const QByteArray& text) {
    return SendBytes(text.constData(), text.size());
}

bool TSocketConnection::SendMessage(QByteArrayView message) {
    EventScope scope(this);
    QMutexLocker locker(&m_lock);
    if (!m_connected || m_socket == -1 || m_listening)
        return false;
    if (message.isEmpty())
        return true;
    if (m_outboxBytes > 0) {
        m_outbox.push_back(message.toByteArray());
        m_outboxBytes += message.size();
        return true;
    }
    ssize_t n = sendNoSignal(m_socket, message.constData(), static_cast<size_t>(message.size()));
    if (n > 0)
        m_quickAckDue = false;  // the segment carries the acknowledgement
    if (n < 0) {
        const int code = errno;
        if (!isWouldBlock(code)) {
            FailTransfer(ekSend, code, "send");
            return false;
        }
        n = 0;
    }
    if (n < message.size()) {
        m_outbox.push_back(message.sliced(n).toByteArray());
        m_outboxOffset = 0;
        m_outboxBytes = message.size() - n;
        UpdateNotifiers();
    }
    return true;
}

qsizetype TSocketConnection::PendingByteCount() {
    if (!m_connected || m_socket == -1)
        return 0;
    // The count the read event found, while nothing has been received since: the bytes are
    // there still (more may have come, which the next read event reports).
    if (m_pendingAtEvent > 0)
        return m_pendingAtEvent;
    int count = 0;
    if (::ioctl(m_socket, FIONREAD, &count) != 0)
        return 0;
    return count;
}

qsizetype TSocketConnection::ReceiveBytes(char* buffer, qsizetype count) {
    EventScope scope(this);
    QMutexLocker locker(&m_lock);
    if (count == -1)
        return PendingByteCount();
    if (!m_connected || m_socket == -1)
        return 0;
    const int s = m_socket;
    ssize_t n;
    m_pendingAtEvent = 0;
    do {
        n = ::recv(s, buffer, static_cast<size_t>(std::max<qsizetype>(count, 0)), 0);
    } while (n < 0 && errno == EINTR);
    const int code = errno;
    // Every receive re-arms FD_READ; bytes still waiting are reported again at once.
    if (!m_listening && !m_closeReported) {
        m_readArmed = true;
        UpdateNotifiers();
    }
    if (n > 0) {
        // Acknowledge at once rather than after the delayed-ACK wait: a peer whose Nagle
        // algorithm holds the rest of a message until we acknowledge would stall otherwise.
        // Inside a read event a send usually follows (the answer), and the acknowledgement
        // travels with it; a separate one would cost a packet, so it waits for the end of
        // the event and goes only when nothing was sent (FinishReadEvent).
        if (m_readEvents > 0)
            m_quickAckDue = true;
        else
            setQuickAck(s);
    }
    if (n >= 0)
        return n;
    if (isWouldBlock(code))
        return -1;
    FailTransfer(ekReceive, code, "recv");
    return -1;
}

QByteArray TSocketConnection::ReceiveString() {
    const qsizetype pending = PendingByteCount();
    QByteArray data(pending, Qt::Uninitialized);
    const qsizetype n = ReceiveBytes(data.data(), pending);
    if (n <= 0)
        return {};
    data.truncate(n);
    return data;
}

void TSocketConnection::CloseConnection() {
    EventScope scope(this);
    HandleClose(m_socket);
}

quint16 TSocketConnection::LocalPort() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (m_socket == -1 ||
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

QString TSocketConnection::PeerAddressText() {
    QMutexLocker locker(&m_lock);
    if (!m_connected || m_socket == -1)
        return {};
    in_addr address = m_peer;
    if (!m_hasPeer) {
        // Only a listener has no kept peer; the query then fails as it should.
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        checkResult(::getpeername(m_socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0,
                    "getpeername");
        address = peer.sin_addr;
    }
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return QString::fromLatin1(text);
}

quint64 TSocketConnection::NotificationHandle() {
    return m_handle;
}

void TSocketConnection::SetNotificationSet(quint8 set) {
    if (set == m_notificationSet)
        return;
    m_notificationSet = set;
    if (m_socket != -1)
        ApplyNotificationSet();
}

void TSocketConnection::OpenNewSocket(const char* alreadyOpenMessage) {
    if (m_connected)
        throw ESocketError(alreadyOpenMessage);
    // A connect still pending, or one that failed and was left open, is replaced without events
    // instead of leaking its descriptor.
    if (m_socket != -1) {
        m_lookupRequest = 0;
        CloseSocketNow();
    }
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s == -1)
        throw ESocketError("Can't create new socket");
    m_socket = s;
    ++m_generation;
    m_address = sockaddr_in{};
    m_address.sin_family = AF_INET;
    m_stage = lkIdle;
}

void TSocketConnection::StartConnect(const QString& host, const QString& address,
                                     const QString& service, quint16 port, bool blocking) {
    EventScope scope(this);
    OpenNewSocket("Socket already open");
    const int s = m_socket;
    const quint64 gen = m_generation;
    try {
        NotifyEvent(this, skLookup);
        if (!IsCurrent(s, gen))
            return;
        if (!blocking) {
            ResolveStep(host, address, service, port, 0, true);
        } else {
            ResolveAddressNow(host, address, service, port, true);
            BeginConnect();
        }
    } catch (...) {
        if (IsCurrent(s, gen))
            HandleClose(s);
        throw;
    }
}

void TSocketConnection::StartListen(const QString& host, const QString& address,
                                    const QString& service, quint16 port, int queueSize,
                                    bool blocking) {
    EventScope scope(this);
    OpenNewSocket("Can't listen on an open socket");
    const int s = m_socket;
    const quint64 gen = m_generation;
    try {
        NotifyEvent(this, skLookup);
        if (!IsCurrent(s, gen))
            return;
        if (!blocking) {
            ResolveStep(host, address, service, port, queueSize, false);
        } else {
            ResolveAddressNow(host, address, service, port, false);
            BeginListen(queueSize);
        }
    } catch (...) {
        if (IsCurrent(s, gen))
            HandleClose(s);
        throw;
    }
}

// The asynchronous open: each stage either completes at once and the next one follows, or
// starts a lookup and waits for its result (LookupDone continues from there).
void TSocketConnection::ResolveStep(const QString& host, const QString& address,
                                    const QString& service, quint16 port, int queueSize,
                                    bool client) {
    const int s = m_socket;
    const quint64 gen = m_generation;
    auto saveParameters = [&] {
        m_savedService = service;
        m_savedPort = port;
        m_savedQueueSize = queueSize;
        m_savedClient = client;
    };
    try {
        for (;;) {
            bool waiting = false;
            switch (m_stage) {
                case lkIdle:
                    if (!client) {
                        m_address.sin_addr.s_addr = htonl(INADDR_ANY);
                        m_stage = lkResolvingHost;
                    } else if (!host.isEmpty()) {
                        StartLookup(true, host);
                        saveParameters();
                        m_stage = lkResolvingHost;
                        waiting = true;
                    } else if (!address.isEmpty()) {
                        m_stage = lkResolvingHost;
                        m_address.sin_addr.s_addr = ::inet_addr(address.toLatin1().constData());
                    } else {
                        throw ESocketError("No address specified");
                    }
                    break;
                case lkResolvingHost:
                    if (!service.isEmpty()) {
                        StartLookup(false, service);
                        saveParameters();
                        m_stage = lkResolvingService;
                        waiting = true;
                    } else {
                        m_stage = lkResolvingService;
                        m_address.sin_port = htons(port);
                    }
                    break;
                case lkResolvingService:
                    m_stage = lkIdle;
                    if (client)
                        BeginConnect();
                    else
                        BeginListen(queueSize);
                    break;
            }
            if (waiting || m_stage == lkIdle || !IsCurrent(s, gen))
                return;
        }
    } catch (...) {
        if (IsCurrent(s, gen))
            HandleClose(s);
        throw;
    }
}

void TSocketConnection::ResolveAddressNow(const QString& host, const QString& address,
                                          const QString& service, quint16 port, bool client) {
    m_address.sin_family = AF_INET;
    if (!host.isEmpty()) {
        const LookupAnswer answer = lookupHost(host.toUtf8());
        m_address.sin_addr.s_addr = answer.errorCode == 0 ? answer.address.s_addr : 0;
    } else if (!address.isEmpty()) {
        m_address.sin_addr.s_addr = ::inet_addr(address.toLatin1().constData());
    } else if (client) {
        throw ESocketError("No address specified");
    } else {
        m_address.sin_addr.s_addr = htonl(INADDR_ANY);
    }
    if (!service.isEmpty()) {
        const LookupAnswer answer = lookupService(service.toUtf8());
        m_address.sin_port = answer.errorCode == 0 ? answer.port : 0;
    } else {
        m_address.sin_port = htons(port);
    }
}

// The lookup runs on a worker; its answer is posted back to the UI thread and is dropped when
// the connection is gone or the request is no longer the pending one (closed or reopened).
void TSocketConnection::StartLookup(bool host, const QString& name) {
    const quint64 request = nextLookupRequest();
    m_lookupRequest = request;
    QPointer<TSocketConnection> self(this);
    const QByteArray bytes = name.toUtf8();
    QThreadPool::globalInstance()->start([self, request, host, bytes]() mutable {
        const LookupAnswer answer = host ? lookupHost(bytes) : lookupService(bytes);
        QCoreApplication* app = QCoreApplication::instance();
        if (app == nullptr)
            return;
        QMetaObject::invokeMethod(
            app,
            [self = std::move(self), request, answer]() {
                if (!self)
                    return;
                try {
                    self->LookupDone(request, answer.errorCode, answer.errorText, answer.address,
                                     answer.port);
                } catch (...) {
                    reportUncaughtException(std::current_exception());
                }
            },
            Qt::QueuedConnection);
    });
}

void TSocketConnection::LookupDone(quint64 request, int errorCode, const QByteArray& errorText,
                                   in_addr address, in_port_t port) {
    EventScope scope(this);
    if (request == 0 || request != m_lookupRequest)
        return;
    m_lookupRequest = 0;
    if (errorCode != 0) {
        HandleClose(m_socket);
        m_stage = lkIdle;
        throw ESocketError(socketErrorMessage(errorText.constData(), errorCode, "ASync Lookup"));
    }
    const QString service = m_savedService;
    const int queueSize = m_savedQueueSize;
    const bool client = m_savedClient;
    if (m_stage == lkResolvingHost) {
        m_address.sin_addr = address;
        ResolveStep({}, {}, service, m_savedPort, queueSize, client);
    } else if (m_stage == lkResolvingService) {
        m_address.sin_port = port;
        m_savedPort = 0;
        m_savedService.clear();
        ResolveStep({}, {}, {}, 0, queueSize, client);
    }
}

void TSocketConnection::BeginConnect() {
    const int s = m_socket;
    const quint64 gen = m_generation;
    ApplyNotificationSet();
    NotifyEvent(this, skConnecting);
    if (!IsCurrent(s, gen))
        return;
    m_peer = m_address.sin_addr;
    m_hasPeer = true;
    setNoDelay(s);
    // An interrupted connect goes on in the background; it is not called again.
    if (::connect(s, reinterpret_cast<const sockaddr*>(&m_address), sizeof m_address) != 0 &&
        errno != EINTR)
        checkResult(true, "connect");
    m_stage = lkIdle;
    if ((m_notificationSet & FD_CONNECT) == 0) {
        m_connected = true;
        NotifyEvent(this, skConnect);
    } else {
        m_connectPending = true;
        UpdateNotifiers();
    }
}

void TSocketConnection::BeginListen(int queueSize) {
    const int s = m_socket;
    const quint64 gen = m_generation;
    // Re-listening must work while an earlier connection on the port is in TIME_WAIT; a
    // second listener on the port is still refused.
    const int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    checkResult(::bind(s, reinterpret_cast<const sockaddr*>(&m_address), sizeof m_address) != 0,
                "bind");
    ApplyNotificationSet();
    const int backlog = std::min(queueSize, 5);
    NotifyEvent(this, skListen);
    if (!IsCurrent(s, gen))
        return;
    checkResult(::listen(s, backlog) != 0, "listen");
    m_stage = lkIdle;
    m_connected = true;
    m_listening = true;
    m_readArmed = true;
    UpdateNotifiers();
}

void TSocketConnection::BeginAccepted(const in_addr& peer) {
    m_peer = peer;
    m_hasPeer = true;
    setNoDelay(m_socket);
    m_readArmed = true;
    m_writeEventPending = true;
    ApplyNotificationSet();
}

int TSocketConnection::AcceptNext(sockaddr_in& peer) {
    socklen_t length = sizeof peer;
    int fd;
    do {
        fd = ::accept4(m_socket, reinterpret_cast<sockaddr*>(&peer), &length,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    const int code = errno;
    if (fd < 0 && (code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM)) {
        // The connection stays queued and the listener stays readable: waiting for the
        // notifier again would spin, so accepting pauses for a moment.
        if (m_acceptPause == nullptr) {
            m_acceptPause = new QTimer(this);
            m_acceptPause->setSingleShot(true);
            m_acceptPause->setInterval(kAcceptPauseMs);
            connect(m_acceptPause, &QTimer::timeout, this, [this] {
                m_acceptPaused = false;
                m_readArmed = true;
                UpdateNotifiers();
            });
        }
        m_acceptPaused = true;
        m_acceptPause->start();
    } else {
        m_readArmed = true;
    }
    UpdateNotifiers();
    return fd;
}

void TSocketConnection::ApplyNotificationSet() {
    if (m_socket == -1)
        return;
    if (m_notificationSet == 0) {
        DeleteNotifiers();
        setNonBlocking(m_socket, false);
        return;
    }
    setNonBlocking(m_socket, true);
    if (m_readNotifier == nullptr) {
        // setSocket() leaves the notifiers disabled; UpdateNotifiers() switches them on.
        m_readNotifier = new QSocketNotifier(QSocketNotifier::Read, this);
        m_readNotifier->setSocket(m_socket);
        connect(m_readNotifier, &QSocketNotifier::activated, this,
                &TSocketConnection::OnReadActivated);
        m_writeNotifier = new QSocketNotifier(QSocketNotifier::Write, this);
        m_writeNotifier->setSocket(m_socket);
        connect(m_writeNotifier, &QSocketNotifier::activated, this,
                &TSocketConnection::OnWriteActivated);
    }
    UpdateNotifiers();
}

// A notifier is on only while the notification it stands for is armed: level-triggered
// readiness left on would report the same condition again and again.
void TSocketConnection::UpdateNotifiers() {
    if (m_readNotifier == nullptr)
        return;
    bool wantRead = false;
    bool wantWrite = false;
    if (!m_closeReported) {
        if (m_listening)
            wantRead = m_readArmed && !m_acceptPaused && (m_notificationSet & FD_ACCEPT) != 0;
        else
            wantRead = m_readArmed && (m_notificationSet & (FD_READ | FD_CLOSE)) != 0;
        if (m_connectPending)
            wantWrite = (m_notificationSet & FD_CONNECT) != 0;
        else
            wantWrite =
                (m_writeEventPending && (m_notificationSet & FD_WRITE) != 0) || m_outboxBytes > 0;
    }
    if (m_readNotifier->isEnabled() != wantRead)
        m_readNotifier->setEnabled(wantRead);
    if (m_writeNotifier->isEnabled() != wantWrite)
        m_writeNotifier->setEnabled(wantWrite);
}

void TSocketConnection::DeleteNotifiers() {
    // Off and gone before the descriptor is closed: the next socket gets the same number.
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
}

void TSocketConnection::OnReadActivated() {
    EventScope scope(this);
    ++m_readEvents;
    try {
        ReadReady();
    } catch (...) {
        reportUncaughtException(std::current_exception());
    }
    --m_readEvents;
    try {
        FinishReadEvent();
    } catch (...) {
        reportUncaughtException(std::current_exception());
    }
}

// After a read event: the read notifier goes off unless a receive re-armed it, and bytes
// received that no send has acknowledged are acknowledged now (see ReceiveBytes).
void TSocketConnection::FinishReadEvent() {
    m_pendingAtEvent = 0;
    UpdateNotifiers();
    if (m_quickAckDue) {
        m_quickAckDue = false;
        if (m_socket != -1 && !m_listening)
            setQuickAck(m_socket);
    }
}

void TSocketConnection::OnWriteActivated() {
    EventScope scope(this);
    try {
        WriteReady();
    } catch (...) {
        reportUncaughtException(std::current_exception());
    }
}

void TSocketConnection::ReadReady() {
    const int s = m_socket;
    if (s == -1)
        return;
    if (m_listening) {
        m_readArmed = false;
        UpdateNotifiers();
        DispatchNotification(s, FD_ACCEPT, 0);
        return;
    }
    if (!m_readArmed) {
        // Left on while an earlier read event was handled (below), and reporting again
        // before anything re-armed it (a nested event loop): switched off now, silently.
        UpdateNotifiers();
        return;
    }
    // Not armed from here on, but the notifier stays on while the event is handled: the
    // receive that re-arms it nearly always comes inside the handler, and switching it off
    // and on again would cost two changes of the event loop's poll set per read.
    // FinishReadEvent switches it off if nothing re-armed it.
    m_readArmed = false;
    int pending = 0;
    if (::ioctl(s, FIONREAD, &pending) == 0 && pending > 0) {
        if (m_notificationSet & FD_READ) {
            m_pendingAtEvent = pending;
            DispatchNotification(s, FD_READ, 0);
        }
        return;
    }
    char probe;
    ssize_t n;
    do {
        n = ::recv(s, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    const int code = n < 0 ? errno : 0;
    if (n > 0) {
        if (m_notificationSet & FD_READ)
            DispatchNotification(s, FD_READ, 0);
        return;
    }
    if (n < 0 && isWouldBlock(code)) {
        // Nothing happened after all.
        m_readArmed = true;
        UpdateNotifiers();
        return;
    }
    // The close is reported once; nothing more is reported for this socket.
    m_closeReported = true;
    UpdateNotifiers();
    if (m_notificationSet & FD_CLOSE)
        DispatchNotification(s, FD_CLOSE, code);
}

void TSocketConnection::WriteReady() {
    const int s = m_socket;
    const quint64 gen = m_generation;
    if (s == -1)
        return;
    if (m_connectPending) {
        // SO_ERROR first: a read-side probe would consume the error.
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        if (error == 0) {
            sockaddr_in peer{};
            socklen_t peerLength = sizeof peer;
            if (::getpeername(s, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
                error = errno;
                pollfd state{s, POLLOUT, 0};
                const bool failed =
                    ::poll(&state, 1, 0) == 1 && (state.revents & (POLLHUP | POLLERR)) != 0;
                if (!failed)
                    return;  // not connected yet: a stale wake-up; keep waiting
            }
        }
        m_connectPending = false;
        if (error == 0) {
            m_readArmed = true;
            m_writeEventPending = true;
        }
        UpdateNotifiers();
        DispatchNotification(s, FD_CONNECT, error);
        return;
    }
    if (!FlushOutbox() || !IsCurrent(s, gen))
        return;
    if (m_writeEventPending) {
        m_writeEventPending = false;
        UpdateNotifiers();
        if (m_notificationSet & FD_WRITE)
            DispatchNotification(s, FD_WRITE, 0);
    } else {
        UpdateNotifiers();
    }
}

void TSocketConnection::DispatchNotification(int socket, quint8 flag, int errorCode) {
    if (errorCode != 0) {
        // The error handler takes over: the notification's own handler does not run and the
        // connection is left as it is.
        int code = errorCode;
        NotifyError(this, errorKindOf(flag), code);
        if (code != 0)
            throw ESocketError(
                QString::asprintf("Asynchronous socket error %d", code).toStdString());
        return;
    }
    switch (flag) {
        case FD_READ:
            HandleRead(socket);
            break;
        case FD_WRITE:
            HandleWrite(socket);
            break;
        case FD_ACCEPT:
            HandleAccept(socket);
            break;
        case FD_CONNECT:
            HandleConnect(socket);
            break;
        case FD_CLOSE:
            HandleClose(socket);
            break;
        default:
            break;
    }
}

bool TSocketConnection::FlushOutbox() {
    QMutexLocker locker(&m_lock);
    while (!m_outbox.empty()) {
        const QByteArray& front = m_outbox.front();
        const ssize_t n = sendNoSignal(m_socket, front.constData() + m_outboxOffset,
                                       static_cast<size_t>(front.size() - m_outboxOffset));
        if (n < 0) {
            const int code = errno;
            if (isWouldBlock(code)) {
                UpdateNotifiers();
                return false;
            }
            FailTransfer(ekSend, code, "send");
            return false;
        }
        m_outboxOffset += n;
        m_outboxBytes -= n;
        if (m_outboxOffset == front.size()) {
            m_outbox.pop_front();
            m_outboxOffset = 0;
        }
    }
    return true;
}

// A failed send or receive: error event, close (disconnect event), then the exception unless
// the handler set the code to 0.
void TSocketConnection::FailTransfer(TErrorEvent kind, int code, const char* api) {
    const int s = m_socket;
    const quint64 gen = m_generation;
    int errorCode = code;
    NotifyError(this, kind, errorCode);
    if (IsCurrent(s, gen))
        HandleClose(s);
    if (errorCode != 0)
        raiseSocketError(errorCode, api);
}

void TSocketConnection::HandleAccept(int /*socket*/) {}

void TSocketConnection::HandleConnect(int /*socket*/) {}

void TSocketConnection::HandleClose(int socket) {
    CloseSequence(socket);
}

void TSocketConnection::HandleRead(int socket) {
    if (m_socket != -1 && socket == m_socket)
        NotifyEvent(this, skRead);
}

void TSocketConnection::HandleWrite(int socket) {
    if (m_socket != -1 && socket == m_socket)
        NotifyEvent(this, skWrite);
}

void TSocketConnection::NotifyEvent(TSocketConnection* socket, TSocketEventKind kind) {
    if (!EventHook)
        return;
    EventScope scope(this);
    // A copy: the handler may replace or clear the hook while it runs.
    const TEventHook hook = EventHook;
    hook(this, socket, kind);
}

void TSocketConnection::NotifyError(TSocketConnection* socket, TErrorEvent kind, int& code) {
    if (!ErrorHook)
        return;
    EventScope scope(this);
    const TErrorHook hook = ErrorHook;
    hook(this, socket, kind, code);
}

void TSocketConnection::CloseSequence(int socket) {
    EventScope scope(this);
    QMutexLocker locker(&m_lock);
    if (m_lookupRequest != 0) {
        // Cancelled: its answer will be dropped, and the next open starts from the beginning.
        m_lookupRequest = 0;
        m_stage = lkIdle;
    }
    if (socket == -1 || socket != m_socket)
        return;
    // A close requested again from inside the disconnect event: the outer one finishes it.
    if (m_closing && m_closingGeneration == m_generation)
        return;
    const quint64 gen = m_generation;
    m_closing = true;
    m_closingGeneration = gen;
    try {
        NotifyEvent(this, skDisconnect);
    } catch (...) {
        m_closing = false;
        if (IsCurrent(socket, gen))
            CloseSocketNow();
        throw;
    }
    m_closing = false;
    if (IsCurrent(socket, gen))
        CloseSocketNow();
}

void TSocketConnection::CloseSocketNow() {
    const int s = m_socket;
    if (s == -1)
        return;
    const bool stream = m_connected && !m_listening;
    if (stream) {
        // What the socket takes now of queued messages still goes out.
        while (!m_outbox.empty()) {
            const QByteArray& front = m_outbox.front();
            const ssize_t n =
                sendNoSignal(s, front.constData() + m_outboxOffset,
                             static_cast<size_t>(front.size() - m_outboxOffset), MSG_DONTWAIT);
            if (n <= 0 || n < front.size() - m_outboxOffset)
                break;
            m_outbox.pop_front();
            m_outboxOffset = 0;
        }
    }
    DeleteNotifiers();
    if (m_acceptPause != nullptr)
        m_acceptPause->stop();
    if (stream)
        drainInput(s);
    m_socket = -1;
    ++m_generation;
    m_connected = false;
    m_listening = false;
    m_connectPending = false;
    m_readArmed = false;
    m_quickAckDue = false;
    m_pendingAtEvent = 0;
    m_writeEventPending = false;
    m_closeReported = false;
    m_acceptPaused = false;
    m_hasPeer = false;
    m_peer = in_addr{};
    m_outbox.clear();
    m_outboxOffset = 0;
    m_outboxBytes = 0;
    m_address = sockaddr_in{};
    m_address.sin_family = AF_INET;
    m_stage = lkIdle;
    // Never retried: after EINTR the descriptor is gone all the same.
    if (::close(s) != 0 && errno != EINTR)
        raiseSocketError(errno, "closesocket");
}

void TSocketConnection::DeferredFree() {
    m_freeRequested = true;
    PostFree();
}

void TSocketConnection::Dispose() {
    if (m_depth == 0) {
        delete this;
        return;
    }
    EventHook = nullptr;
    ErrorHook = nullptr;
    DetachFromOwner();
    setParent(nullptr);
    try {
        HandleClose(m_socket);
    } catch (...) {
        reportUncaughtException(std::current_exception());
    }
    DeferredFree();
}

void TSocketConnection::PostFree() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr)
        return;
    QPointer<TSocketConnection> self(this);
    QMetaObject::invokeMethod(
        app,
        [self]() {
            // Still inside its own event (a nested loop): LeaveEvent() posts again.
            if (self && self->m_depth == 0)
                delete self.data();
        },
        Qt::QueuedConnection);
}

void TSocketConnection::LeaveEvent() {
    if (--m_depth == 0 && m_freeRequested)
        PostFree();
}
