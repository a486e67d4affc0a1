#include <gtest/gtest.h>

#include <QPointer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>

#include "net/serverendpoint.h"
#include "net/uncaughtexceptions.h"
#include "nettestsupport.h"

namespace {

class ServerEndpointTest : public ::testing::Test {
protected:
    void SetUp() override {
        setUncaughtExceptionHandler([this](const QString& message) { uncaught.append(message); });
        server = std::make_unique<TServerEndpoint>();
        record();
    }
    void TearDown() override {
        server.reset();
        setUncaughtExceptionHandler(nullptr);
    }

    // Client events are logged with ConnectionCount as seen inside the handler.
    void record() {
        server->OnListen = [this](QObject* sender, TSocketConnection* socket) {
            EXPECT_EQ(sender, server.get());
            EXPECT_EQ(socket, server->Listener());
            activeInsideListen = server->Active();
            log.add(QStringLiteral("listen"));
        };
        server->OnDisconnect = [this](QObject*, TSocketConnection*) {
            log.add(QStringLiteral("disconnect"));
        };
        server->OnAccept = [this](QObject* sender, TSocketConnection* socket) {
            EXPECT_EQ(sender, server.get());
            EXPECT_EQ(socket, server->ConnectionAt(server->ConnectionCount() - 1));
            log.add(QStringLiteral("accept"));
        };
        auto client = [this](const char* name) {
            return [this, name](QObject* sender, TSocketConnection* socket) {
                EXPECT_EQ(sender, server->Listener());
                EXPECT_NE(socket, nullptr);
                log.add(QStringLiteral("%1:%2")
                            .arg(QLatin1String(name))
                            .arg(server->ConnectionCount()));
            };
        };
        server->OnClientConnect = client("connect");
        server->OnClientDisconnect = client("disconnect");
        server->OnClientRead = client("read");
        server->OnClientWrite = client("write");
        server->OnClientError = [this](QObject*, TSocketConnection*, TErrorEvent kind, int& code) {
            log.add(errorEntry(kind, code));
            code = 0;
        };
    }

    void listen(quint16 at = 0) {
        server->SetPort(at);
        server->SetActive(true);
        port = localPort(server->Listener()->SocketHandle());
    }

    // Connects a raw peer and waits until the server has accepted it.
    RawSocket connectPeer() {
        const int before = server->ConnectionCount();
        RawSocket peer = RawSocket::connectTo(port);
        EXPECT_TRUE(waitUntil([&] { return server->ConnectionCount() == before + 1; }));
        return peer;
    }

    std::unique_ptr<TServerEndpoint> server;
    quint16 port = 0;
    EventLog log;
    QStringList uncaught;
    bool activeInsideListen = false;
};

TEST_F(ServerEndpointTest, ListensThenAcceptsWithConnectBeforeAccept) {
    listen();
    EXPECT_EQ(log.text(), QStringLiteral("listen"));
    EXPECT_TRUE(activeInsideListen);
    EXPECT_TRUE(server->Active());

    RawSocket peer = connectPeer();
    ASSERT_TRUE(waitUntil([&] { return log.count(QStringLiteral("write:1")) == 1; }));
    runEventsFor(200);
    // Connected, then accepted; writable once and no more.
    EXPECT_EQ(log.text(), QStringLiteral("listen connect:1 accept write:1"));

    TAcceptedConnection* connection = server->ConnectionAt(0);
    EXPECT_EQ(connection->Listener(), server->Listener());
    EXPECT_TRUE(connection->IsConnected());
    EXPECT_EQ(connection->PeerAddressText(), QStringLiteral("127.0.0.1"));
    int noDelay = 0;
    socklen_t length = sizeof noDelay;
    ::getsockopt(connection->SocketHandle(), IPPROTO_TCP, TCP_NODELAY, &noDelay, &length);
    EXPECT_EQ(noDelay, 1);
    EXPECT_EQ(connection->SendString("hi"), 2);
    EXPECT_EQ(peer.readExactly(2), QByteArray("hi"));
}

TEST_F(ServerEndpointTest, SecondPeerIsCountedInItsConnectEvent) {
    listen();
    RawSocket first = connectPeer();
    RawSocket second = connectPeer();
    EXPECT_EQ(log.count(QStringLiteral("connect:1")), 1);
    EXPECT_EQ(log.count(QStringLiteral("connect:2")), 1);
    // Oldest first.
    ASSERT_TRUE(server->ConnectionAt(0)->SendString("1") == 1 &&
                server->ConnectionAt(1)->SendString("2") == 1);
    EXPECT_EQ(first.readExactly(1), QByteArray("1"));
    EXPECT_EQ(second.readExactly(1), QByteArray("2"));
}

TEST_F(ServerEndpointTest, ConnectionAtOutsideTheListRaises) {
    listen();
    try {
        server->ConnectionAt(0);
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (0)");
    }
    EXPECT_THROW(server->ConnectionAt(-1), std::out_of_range);
}

// However a connection ends, it is still counted inside OnClientDisconnect and is destroyed by
// the request posted after the handler.
TEST_F(ServerEndpointTest, ClosedConnectionStaysCountedUntilItsPostedDestruction) {
    enum class Ending { PeerCloses, ApplicationCloses, ReceiveFails };
    for (Ending ending : {Ending::PeerCloses, Ending::ApplicationCloses, Ending::ReceiveFails}) {
        SCOPED_TRACE(int(ending));
        server = std::make_unique<TServerEndpoint>();
        record();
        log.clear();
        listen();
        RawSocket peer = connectPeer();
        QPointer<TAcceptedConnection> connection = server->ConnectionAt(0);
        int countAfterHandler = -1;
        server->OnClientRead = [&](QObject*, TSocketConnection* socket) {
            if (ending == Ending::ApplicationCloses) {
                socket->CloseConnection();
            } else {
                // Bytes that came before a reset are still handed over; the next receive fails
                // (ekReceive), which closes the connection.
                socket->ReceiveString();
                char rest[8];
                socket->ReceiveBytes(rest, sizeof rest);
            }
            countAfterHandler = server->ConnectionCount();
        };
        switch (ending) {
            case Ending::PeerCloses:
                peer.close();
                break;
            case Ending::ApplicationCloses:
                peer.send("bye");
                break;
            case Ending::ReceiveFails:
                peer.send("x");
                peer.reset();
                break;
        }
        ASSERT_TRUE(waitUntil([&] { return log.count(QStringLiteral("disconnect:1")) == 1; }));
        if (ending != Ending::PeerCloses) {
            EXPECT_EQ(countAfterHandler, 1);
        }
        EXPECT_TRUE(waitUntil([&] { return connection.isNull(); }));
        EXPECT_EQ(server->ConnectionCount(), 0);
        EXPECT_EQ(log.count(QStringLiteral("disconnect:1")), 1);
        EXPECT_EQ(log.count(errorEntry(ekReceive, ECONNRESET)),
                  ending == Ending::ReceiveFails ? 1 : 0);
        EXPECT_TRUE(uncaught.isEmpty());
    }
}

TEST_F(ServerEndpointTest, HandledClientErrorLeavesTheConnectionOpenAndListed) {
    listen();
    RawSocket peer = connectPeer();
    QPointer<TAcceptedConnection> connection = server->ConnectionAt(0);
    peer.reset();
    ASSERT_TRUE(waitUntil([&] { return log.count(errorEntry(ekDisconnect, ECONNRESET)) == 1; }));
    runEventsFor(200);
    EXPECT_EQ(server->ConnectionCount(), 1);
    EXPECT_TRUE(connection->IsConnected());
    EXPECT_EQ(log.count(QStringLiteral("disconnect:1")), 0);

    connection->CloseConnection();
    EXPECT_EQ(log.count(QStringLiteral("disconnect:1")), 1);
    EXPECT_TRUE(waitUntil([&] { return connection.isNull(); }));
}

TEST_F(ServerEndpointTest, DeactivationDestroysAcceptedConnectionsWithoutEvents) {
    listen();
    RawSocket first = connectPeer();
    RawSocket second = connectPeer();
    second.send("unread");
    ASSERT_TRUE(waitUntil([&] { return log.count(QStringLiteral("read:2")) == 1; }));
    QPointer<TAcceptedConnection> a = server->ConnectionAt(0);
    QPointer<TAcceptedConnection> b = server->ConnectionAt(1);
    log.clear();

    server->SetActive(false);
    EXPECT_TRUE(a.isNull());
    EXPECT_TRUE(b.isNull());
    EXPECT_EQ(server->ConnectionCount(), 0);
    EXPECT_FALSE(server->Active());
    EXPECT_EQ(log.text(), QStringLiteral("disconnect"));  // the listener's own, nothing per client
    EXPECT_EQ(first.waitForEnd(), RawSocket::Ending::Orderly);
    EXPECT_EQ(second.waitForEnd(), RawSocket::Ending::Orderly);
    runEventsFor(100);
    EXPECT_EQ(log.text(), QStringLiteral("disconnect"));
}

TEST_F(ServerEndpointTest, ReactivationListensAgainOnTheSamePort) {
    listen();
    TListener* listener = server->Listener();
    {
        RawSocket peer = connectPeer();
        // The server side closes first, so its end of this connection stays in TIME_WAIT.
        server->ConnectionAt(0)->CloseConnection();
        EXPECT_EQ(peer.waitForEnd(), RawSocket::Ending::Orderly);
    }
    server->SetActive(false);
    const quint16 firstPort = port;
    listen(firstPort);
    EXPECT_TRUE(server->Active());
    EXPECT_EQ(server->Listener(), listener);
    EXPECT_EQ(port, firstPort);
    RawSocket peer = connectPeer();
    EXPECT_EQ(server->ConnectionCount(), 1);
}

TEST_F(ServerEndpointTest, PortHeldByAnotherListenerFailsWithTheBindMessage) {
    quint16 taken = 0;
    RawSocket other = RawSocket::listening(taken);
    server->SetPort(taken);
    try {
        server->SetActive(true);
        FAIL() << "no exception";
    } catch (const ESocketError& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()),
                  QStringLiteral("Windows socket error: Address already in use (%1), on API 'bind'")
                      .arg(EADDRINUSE));
    }
    EXPECT_FALSE(server->Active());
    EXPECT_FALSE(server->Listener()->IsConnected());
    EXPECT_EQ(server->Listener()->SocketHandle(), -1);
    EXPECT_EQ(log.count(QStringLiteral("listen")), 0);
}

TEST_F(ServerEndpointTest, ValuesCannotChangeWhileListening) {
    listen();
    auto expectRefused = [](const std::function<void()>& change) {
        try {
            change();
            ADD_FAILURE() << "no exception";
        } catch (const ESocketError& e) {
            EXPECT_STREQ(e.what(), "Can't change value while socket is active");
        }
    };
    expectRefused([&] { server->SetPort(port + 1); });
    expectRefused([&] { server->SetService(QStringLiteral("http")); });
    expectRefused([&] { server->SetServerType(stThreadBlocking); });
    try {
        server->Listener()->StartListen({}, {}, {}, 0, 5, false);
        ADD_FAILURE() << "no exception";
    } catch (const ESocketError& e) {
        EXPECT_STREQ(e.what(), "Can't listen on an open socket");
    }
    EXPECT_TRUE(server->Active());

    server->SetActive(false);
    server->SetServerType(stThreadBlocking);
    EXPECT_EQ(server->Listener()->NotificationSet(), 0);
    server->SetServerType(stNonBlocking);
    EXPECT_EQ(server->Listener()->NotificationSet(), FD_ACCEPT);
    EXPECT_EQ(server->ThreadCacheSize(), 10);
}

TEST_F(ServerEndpointTest, OnGetSocketMaySupplyTheConnection) {
    TAcceptedConnection* supplied = nullptr;
    server->OnGetSocket = [&](QObject* sender, int socket, TAcceptedConnection*& connection) {
        EXPECT_EQ(sender, server->Listener());
        connection = supplied = new TAcceptedConnection(socket, server->Listener());
    };
    listen();
    RawSocket peer = connectPeer();
    EXPECT_EQ(server->ConnectionAt(0), supplied);
    EXPECT_EQ(log.count(QStringLiteral("connect:1")), 1);
}

}  // namespace
