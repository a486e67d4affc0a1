#include <gtest/gtest.h>

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "net/clientendpoint.h"
#include "net/serverendpoint.h"
#include "net/uncaughtexceptions.h"
#include "nettestsupport.h"

namespace {

// A listening server endpoint whose accepted connections are driven by raw peers.
class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        setUncaughtExceptionHandler([this](const QString& message) { uncaught.append(message); });
        server = std::make_unique<TServerEndpoint>();
        server->OnClientConnect = [this](QObject*, TSocketConnection*) {
            log.add(QStringLiteral("connect"));
        };
        server->OnClientDisconnect = [this](QObject*, TSocketConnection*) {
            log.add(QStringLiteral("disconnect"));
        };
        server->OnClientRead = [this](QObject*, TSocketConnection*) {
            log.add(QStringLiteral("read"));
        };
        server->OnClientWrite = [this](QObject*, TSocketConnection*) {
            log.add(QStringLiteral("write"));
        };
        server->OnClientError = [this](QObject*, TSocketConnection*, TErrorEvent kind, int& code) {
            log.add(errorEntry(kind, code));
            code = 0;
        };
        server->SetPort(0);
        server->SetActive(true);
        port = localPort(server->Listener()->SocketHandle());
    }
    void TearDown() override {
        server.reset();
        setUncaughtExceptionHandler(nullptr);
    }

    // A raw peer and the connection that accepted it, once its first FD_WRITE has been seen.
    // A buffer size makes both the peer's receive and the connection's send buffer that small
    // (no automatic growth), so that a test can fill them quickly.
    TAcceptedConnection* accept(RawSocket& peer, int bufferSize = 0) {
        const int before = server->ConnectionCount();
        const int writes = log.count(QStringLiteral("write"));
        if (bufferSize > 0) {
            peer = RawSocket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            ::setsockopt(peer.fd(), SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(port);
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::connect(peer.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
        } else {
            peer = RawSocket::connectTo(port);
        }
        EXPECT_TRUE(waitUntil([&] {
            return server->ConnectionCount() == before + 1 &&
                   log.count(QStringLiteral("write")) == writes + 1;
        }));
        TAcceptedConnection* connection = server->ConnectionAt(before);
        if (bufferSize > 0)
            ::setsockopt(connection->SocketHandle(), SOL_SOCKET, SO_SNDBUF, &bufferSize,
                         sizeof bufferSize);
        return connection;
    }

    std::unique_ptr<TServerEndpoint> server;
    quint16 port = 0;
    EventLog log;
    QStringList uncaught;
};

TEST_F(ConnectionTest, UnconnectedConnectionSendsAndReadsNothing) {
    TClientConnection connection;
    EXPECT_FALSE(connection.IsConnected());
    EXPECT_EQ(connection.SendString("text"), 0);
    EXPECT_FALSE(connection.SendMessage("text"));
    EXPECT_EQ(connection.ReceiveString(), QByteArray());
    char buffer[4];
    EXPECT_EQ(connection.ReceiveBytes(buffer, sizeof buffer), 0);
    EXPECT_EQ(connection.PendingByteCount(), 0);
    EXPECT_EQ(connection.PeerAddressText(), QString());
    connection.CloseConnection();  // nothing to close

    TClientConnection other;
    EXPECT_NE(connection.NotificationHandle(), other.NotificationHandle());
    EXPECT_EQ(connection.NotificationHandle(), connection.NotificationHandle());
}

TEST_F(ConnectionTest, UnreadBytesAreReportedOnceUntilReceived) {
    RawSocket peer;
    TAcceptedConnection* connection = accept(peer);
    EXPECT_EQ(connection->ReceiveString(), QByteArray());  // nothing pending

    peer.send("abc");
    ASSERT_TRUE(waitUntil([&] { return log.count(QStringLiteral("read")) == 1; }));
    peer.send("def");
    runEventsFor(200);
    EXPECT_EQ(log.count(QStringLiteral("read")), 1);
    EXPECT_EQ(connection->PendingByteCount(), 6);

    char first[2];
    ASSERT_EQ(connection->ReceiveBytes(first, sizeof first), 2);
    // The receive re-armed the notification and bytes are still waiting: reported again.
    ASSERT_TRUE(waitUntil([&] { return log.count(QStringLiteral("read")) == 2; }));
    EXPECT_EQ(connection->ReceiveString(), QByteArray("cdef"));
    runEventsFor(100);
    EXPECT_EQ(log.count(QStringLiteral("read")), 2);

    peer.send("g");
    ASSERT_TRUE(waitUntil([&] { return log.count(QStringLiteral("read")) == 3; }));
    EXPECT_EQ(connection->ReceiveBytes(first, -1), 1);  // -1 asks for the pending count
}

// Notifications are one-shot: connections with unread input, a peer's close not yet reported
// (input before it unread), writable sockets and a listener must all sit without CPU use.
TEST_F(ConnectionTest, IdleConnectionsUseNoCpu) {
    RawSocket unreadPeer;
    accept(unreadPeer);
    unreadPeer.send("never read");
    RawSocket closedPeer;
    accept(closedPeer);
    closedPeer.send("unread before the close");
    closedPeer.close();
    TClientEndpoint client;
    client.SetAddress(QStringLiteral("127.0.0.1"));
    client.SetPort(port);
    client.SetActive(true);
    ASSERT_TRUE(waitUntil([&] { return client.Active() && server->ConnectionCount() == 3; }));
    server->ConnectionAt(2)->SendString("for the client, unread");
    runEventsFor(100);

    const double before = processCpuMs();
    runEventsFor(300);
    const double used = processCpuMs() - before;
    EXPECT_LT(used, 100.0) << "a notifier is spinning";
    EXPECT_EQ(log.count(QStringLiteral("disconnect")), 0);
}

TEST_F(ConnectionTest, OwnCloseWithUnreadInputIsAnOrderlyClose) {
    RawSocket peer;
    TAcceptedConnection* connection = accept(peer);
    peer.send(QByteArray(100000, 'x'));
    ASSERT_TRUE(waitUntil([&] { return log.count(QStringLiteral("read")) == 1; }));
    connection->CloseConnection();
    EXPECT_EQ(peer.waitForEnd(), RawSocket::Ending::Orderly);
}

// Two connections become readable in the same turn of the event loop. The handler of the
// first closes the second and opens a new socket, which gets the second's descriptor number.
// The second's pending readiness must reach neither the closed connection nor the new one.
TEST_F(ConnectionTest, ReadinessOfAClosedSocketNeverReachesTheNextSocketWithItsNumber) {
    RawSocket peerA;
    TAcceptedConnection* a = accept(peerA);
    RawSocket peerB;
    TAcceptedConnection* b = accept(peerB);
    quint16 otherPort = 0;
    RawSocket otherListener = RawSocket::listening(otherPort);
    TClientEndpoint fresh;
    EventLog freshLog;
    fresh.OnConnect = [&](QObject*, TSocketConnection*) {
        freshLog.add(QStringLiteral("connect"));
    };
    fresh.OnRead = [&](QObject*, TSocketConnection*) { freshLog.add(QStringLiteral("read")); };
    fresh.OnWrite = [&](QObject*, TSocketConnection*) { freshLog.add(QStringLiteral("write")); };
    fresh.OnDisconnect = [&](QObject*, TSocketConnection*) {
        freshLog.add(QStringLiteral("disconnect"));
    };
    fresh.OnError = [&](QObject*, TSocketConnection*, TErrorEvent kind, int& code) {
        freshLog.add(errorEntry(kind, code));
        code = 0;
    };
    fresh.SetAddress(QStringLiteral("127.0.0.1"));
    fresh.SetPort(otherPort);

    QPointer<TAcceptedConnection> closed;
    int closedNumber = -1;
    QList<TSocketConnection*> readers;
    server->OnClientRead = [&](QObject*, TSocketConnection* socket) {
        readers.append(socket);
        if (closed)
            return;
        closed = socket == a ? b : a;
        closedNumber = closed->SocketHandle();
        closed->CloseConnection();
        fresh.SetActive(true);
    };
    peerA.send("a");
    peerB.send("b");
    ASSERT_TRUE(waitUntil([&] { return freshLog.count(QStringLiteral("write")) == 1; }));
    ASSERT_EQ(fresh.Connection()->SocketHandle(), closedNumber) << "number not reused; test void";
    RawSocket freshPeer = otherListener.acceptOne();
    runEventsFor(200);
    EXPECT_EQ(freshLog.text(), QStringLiteral("connect write"));
    EXPECT_EQ(readers.size(), 1);
    EXPECT_TRUE(closed.isNull());
}

// A modal box in a read handler runs a nested event loop. The connection's close and its
// posted destruction are handled inside it; the destruction must wait until the handler that
// is still on the stack has returned.
TEST_F(ConnectionTest, DestructionRequestedInANestedLoopWaitsForTheHandler) {
    RawSocket peer;
    TAcceptedConnection* connection = accept(peer);
    EventLog order;
    QObject::connect(connection, &QObject::destroyed,
                     [&] { order.add(QStringLiteral("destroyed")); });
    server->OnClientDisconnect = [&](QObject*, TSocketConnection*) {
        order.add(QStringLiteral("disconnect"));
    };
    bool nested = false;
    server->OnClientRead = [&](QObject*, TSocketConnection* socket) {
        if (nested)
            return;
        nested = true;
        order.add(QStringLiteral("read"));
        socket->ReceiveString();
        peer.close();
        QEventLoop box;
        QTimer::singleShot(300, &box, &QEventLoop::quit);
        box.exec();
        // Still alive and still counted after everything the nested loop ran.
        EXPECT_EQ(server->ConnectionCount(), 1);
        EXPECT_EQ(socket->PeerAddressText(), QString());  // closed, but the object is there
        order.add(QStringLiteral("handler returns"));
    };
    peer.send("offer");
    ASSERT_TRUE(waitUntil([&] { return order.count(QStringLiteral("destroyed")) == 1; }));
    EXPECT_EQ(order.text(), QStringLiteral("read disconnect handler returns destroyed"));
    EXPECT_EQ(server->ConnectionCount(), 0);
}

// Deactivating the server from inside a connection's own handler cannot destroy that
// connection in place; it is closed at once and destroyed after the handler.
TEST_F(ConnectionTest, DeactivationInsideAClientHandlerDefersThatConnection) {
    RawSocket peer;
    TAcceptedConnection* connection = accept(peer);
    QPointer<TAcceptedConnection> watch = connection;
    server->OnClientRead = [&](QObject*, TSocketConnection* socket) {
        server->SetActive(false);
        EXPECT_FALSE(watch.isNull());
        EXPECT_FALSE(socket->IsConnected());
        EXPECT_EQ(server->ConnectionCount(), 0);
    };
    peer.send("x");
    ASSERT_TRUE(waitUntil([&] { return watch.isNull(); }));
    EXPECT_EQ(log.count(QStringLiteral("disconnect")), 0);
    EXPECT_EQ(peer.waitForEnd(), RawSocket::Ending::Orderly);
}

TEST_F(ConnectionTest, SendWhileTheBufferIsFullReturnsMinusOneAndWriteFollowsTheDrain) {
    RawSocket peer;
    TAcceptedConnection* connection = accept(peer, 16384);
    const int writes = log.count(QStringLiteral("write"));
    const QByteArray chunk(65536, 'c');
    qint64 sent = 0;
    int result = 0;
    for (int i = 0; i < 10000 && result != -1; ++i) {
        result = connection->SendString(chunk);
        if (result > 0)
            sent += result;
    }
    ASSERT_EQ(result, -1);
    EXPECT_TRUE(uncaught.isEmpty());
    // What was refused is not sent later: the peer gets exactly what the calls reported, and
    // the socket reports writable once when it has drained.
    QByteArray received;
    ASSERT_TRUE(waitUntil([&] {
        received += peer.readAvailable();
        return received.size() >= sent && log.count(QStringLiteral("write")) > writes;
    }));
    runEventsFor(100);
    received += peer.readAvailable();
    EXPECT_EQ(received.size(), sent);
    EXPECT_EQ(log.count(QStringLiteral("write")), writes + 1);
}

QByteArray pattern(qsizetype size, char seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(seed + (i * 7 + i / 251) % 97);
    return bytes;
}

TEST_F(ConnectionTest, SendMessageArrivesWholeAndInOrderAtASlowReader) {
    RawSocket peer;
    TAcceptedConnection* connection = accept(peer, 16384);
    const QByteArray big = pattern(2 * 1024 * 1024, 'a');
    const QByteArray second = pattern(5000, 'k');
    const QByteArray third("third");

    // Sent from a buffer that is overwritten at once, as a sender reuses its block buffer:
    // what the socket did not take must have been kept as it was.
    std::vector<char> scratch(big.begin(), big.end());
    ASSERT_TRUE(connection->SendMessage(QByteArrayView(scratch.data(), big.size())));
    std::fill(scratch.begin(), scratch.end(), '#');
    ASSERT_GT(connection->OutboxByteCount(), 0) << "the socket took it all; test void";
    EXPECT_TRUE(connection->SendMessage(second));
    // Bytes may not overtake the queue: a plain send is refused as if it would block, and the
    // write event follows once the queue has gone out.
    EXPECT_EQ(connection->SendString("z"), -1);
    EXPECT_TRUE(connection->SendMessage(third));
    qint64 outboxAtWrite = -1;
    server->OnClientWrite = [&](QObject*, TSocketConnection* socket) {
        outboxAtWrite = static_cast<TAcceptedConnection*>(socket)->OutboxByteCount();
    };

    const qsizetype total = big.size() + second.size() + third.size();
    QByteArray received;
    ASSERT_TRUE(waitUntil(
        [&] {
            // A slow reader: at most 16 KiB per turn of the event loop.
            char buffer[16384];
            const ssize_t n = ::recv(peer.fd(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                received.append(buffer, n);
            return received.size() >= total;
        },
        60000));
    EXPECT_TRUE(received == big + second + third);
    ASSERT_TRUE(waitUntil([&] { return outboxAtWrite != -1; }));
    EXPECT_EQ(outboxAtWrite, 0);
    EXPECT_EQ(connection->OutboxByteCount(), 0);
    EXPECT_TRUE(uncaught.isEmpty());
}

TEST_F(ConnectionTest, ExceptionFromAHandlerGoesToTheUncaughtHandler) {
    server->OnClientRead = [](QObject*, TSocketConnection*) {
        throw std::runtime_error("handler failed");
    };
    RawSocket peer;
    accept(peer);
    peer.send("x");
    ASSERT_TRUE(waitUntil([&] { return !uncaught.isEmpty(); }));
    EXPECT_EQ(uncaught, QStringList{QStringLiteral("handler failed")});
    // The loop and the server go on.
    RawSocket another;
    accept(another);
    EXPECT_EQ(server->ConnectionCount(), 2);
}

// Out of descriptors, a pending connection keeps the listener readable; accepting pauses
// instead of spinning, and resumes once descriptors are free again.
TEST_F(ConnectionTest, AcceptingPausesWhileOutOfDescriptors) {
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
    // The sanitizer runtime needs descriptors of its own the first time it checks a type: run
    // the code of this test once before the descriptors run out.
    RawSocket warmUp;
    accept(warmUp);
    QTimer timer;
    timer.setSingleShot(true);
    timer.setInterval(1);
    timer.start();
    timer.stop();

    RawSocket peer = RawSocket::startConnect(port);
    const int base = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_NE(base, -1);
    int highest = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        highest = std::max(highest, std::stoi(entry.path().filename().string()));
    rlimit lowered = original;
    lowered.rlim_cur = static_cast<rlim_t>(highest + 16);
    ASSERT_LE(lowered.rlim_cur, original.rlim_max);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    std::vector<int> filler{base};
    for (int fd = ::dup(base); fd != -1; fd = ::dup(base))
        filler.push_back(fd);

    const double before = processCpuMs();
    runEventsFor(300);
    const double used = processCpuMs() - before;

    for (int fd : filler)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &original);
    EXPECT_LT(used, 100.0) << "accepting spins";
    EXPECT_EQ(server->ConnectionCount(), 1);
    EXPECT_TRUE(waitUntil([&] { return server->ConnectionCount() == 2; }, 2000));
}

}  // namespace

// Sizes travel as qsizetype from end to end: a count above 2 GiB must not be narrowed on its
// way into or out of the socket calls (a large chunk would otherwise turn negative).
static_assert(std::is_same_v<decltype(std::declval<TSocketConnection&>().SendBytes(nullptr, 0)),
                             qsizetype>);
static_assert(
    std::is_same_v<decltype(std::declval<TSocketConnection&>().SendString(QByteArray())),
                   qsizetype>);
static_assert(std::is_same_v<decltype(std::declval<TSocketConnection&>().PendingByteCount()),
                             qsizetype>);
static_assert(
    std::is_same_v<decltype(std::declval<TSocketConnection&>().ReceiveBytes(nullptr, 0)),
                   qsizetype>);
static_assert(std::is_same_v<decltype(&TSocketConnection::SendBytes),
                             qsizetype (TSocketConnection::*)(const char*, qsizetype)>);
