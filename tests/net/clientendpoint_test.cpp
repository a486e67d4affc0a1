#include <gtest/gtest.h>

#include <QPointer>
#include <QThreadPool>

#include <cerrno>
#include <memory>

#include "net/clientendpoint.h"
#include "net/uncaughtexceptions.h"
#include "nettestsupport.h"

namespace {

class ClientEndpointTest : public ::testing::Test {
protected:
    void SetUp() override {
        setUncaughtExceptionHandler([this](const QString& message) { uncaught.append(message); });
        client = std::make_unique<TClientEndpoint>();
        record(*client);
    }
    void TearDown() override {
        client.reset();
        setUncaughtExceptionHandler(nullptr);
    }

    // Every event goes to the log; errors are handled (code set to 0) unless errorCodeLeft is
    // set, and are logged with the code they arrived with.
    void record(TClientEndpoint& endpoint) {
        auto note = [this](const char* name) {
            return [this, name](QObject* sender, TSocketConnection* socket) {
                EXPECT_EQ(sender, client.get());
                EXPECT_EQ(socket, client->Connection());
                log.add(QString::fromLatin1(name));
            };
        };
        endpoint.OnLookup = note("lookup");
        endpoint.OnConnecting = note("connecting");
        endpoint.OnConnect = [this, note](QObject* sender, TSocketConnection* socket) {
            activeInsideConnect = client->Active();
            note("connect")(sender, socket);
        };
        endpoint.OnDisconnect = note("disconnect");
        endpoint.OnRead = note("read");
        endpoint.OnWrite = note("write");
        endpoint.OnError = [this](QObject*, TSocketConnection*, TErrorEvent kind, int& code) {
            log.add(errorEntry(kind, code));
            if (!errorCodeLeft)
                code = 0;
        };
    }

    void connectTo(int port, const QString& address = QStringLiteral("127.0.0.1")) {
        client->SetAddress(address);
        client->SetPort(port);
        client->SetActive(true);
    }

    std::unique_ptr<TClientEndpoint> client;
    EventLog log;
    QStringList uncaught;
    bool errorCodeLeft = false;
    bool activeInsideConnect = false;
};

TEST_F(ClientEndpointTest, ConnectsWithEventsInOrderAndActiveFollowingTheConnection) {
    quint16 port = 0;
    RawSocket listener = RawSocket::listening(port);

    connectTo(port);
    EXPECT_EQ(log.text(), QStringLiteral("lookup connecting"));
    EXPECT_FALSE(client->Active());
    EXPECT_FALSE(client->Connection()->IsConnected());

    ASSERT_TRUE(waitUntil([&] { return log.count(QStringLiteral("write")) == 1; }));
    RawSocket peer = listener.acceptOne();
    runEventsFor(200);
    // FD_WRITE is reported once after the connect and not again while nothing would block.
    EXPECT_EQ(log.text(), QStringLiteral("lookup connecting connect write"));
    EXPECT_TRUE(activeInsideConnect);
    EXPECT_TRUE(client->Active());
    EXPECT_EQ(client->Connection()->PeerAddressText(), QStringLiteral("127.0.0.1"));

    ASSERT_EQ(client->Connection()->SendString("hello"), 5);
    EXPECT_EQ(peer.readExactly(5), QByteArray("hello"));
}

TEST_F(ClientEndpointTest, PortAboveSixteenBitsUsesItsLowBits) {
    quint16 port = 0;
    RawSocket listener = RawSocket::listening(port);
    connectTo(port + 65536);
    EXPECT_TRUE(waitUntil([&] { return client->Active(); }));
}

TEST_F(ClientEndpointTest, RefusedConnectHandledInOnErrorEndsThere) {
    quint16 port = 0;
    RawSocket notListening = RawSocket::boundOnly(port);

    connectTo(port);
    ASSERT_TRUE(waitUntil([&] { return log.entries().size() == 3; }));
    runEventsFor(200);
    EXPECT_EQ(log.text(),
              QStringLiteral("lookup connecting ") + errorEntry(ekConnect, ECONNREFUSED));
    EXPECT_FALSE(client->Active());
    EXPECT_TRUE(uncaught.isEmpty());
    // The failed socket stays open until it is closed, which fires the disconnect event.
    EXPECT_NE(client->Connection()->SocketHandle(), -1);
    client->Connection()->CloseConnection();
    EXPECT_EQ(log.entries().last(), QStringLiteral("disconnect"));
    EXPECT_EQ(client->Connection()->SocketHandle(), -1);
}

TEST_F(ClientEndpointTest, RefusedConnectWithCodeLeftReachesTheUncaughtHandler) {
    quint16 port = 0;
    RawSocket notListening = RawSocket::boundOnly(port);
    errorCodeLeft = true;

    connectTo(port);
    ASSERT_TRUE(waitUntil([&] { return !uncaught.isEmpty(); }));
    EXPECT_EQ(uncaught,
              QStringList{QStringLiteral("Asynchronous socket error %1").arg(ECONNREFUSED)});
    EXPECT_EQ(log.count(QStringLiteral("disconnect")), 0);
}

TEST_F(ClientEndpointTest, ActivatingAgainWhileAConnectIsPendingReplacesTheSocket) {
    quint16 refusedPort = 0;
    RawSocket notListening = RawSocket::boundOnly(refusedPort);
    quint16 port = 0;
    RawSocket listener = RawSocket::listening(port);

    connectTo(refusedPort);
    ASSERT_TRUE(waitUntil([&] { return log.count(errorEntry(ekConnect, ECONNREFUSED)) == 1; }));
    const int failedSocket = client->Connection()->SocketHandle();
    client->SetPort(port);
    client->SetActive(true);
    ASSERT_TRUE(waitUntil([&] { return client->Active(); }));
    // The failed socket was closed, not leaked: its number was free for the new one.
    EXPECT_EQ(client->Connection()->SocketHandle(), failedSocket);
    EXPECT_EQ(log.count(QStringLiteral("disconnect")), 0);
}

TEST_F(ClientEndpointTest, ConnectFailingAtOnceClosesThenRaisesToTheCaller) {
    // Text that is no dotted address becomes 255.255.255.255, which connect() refuses at once.
    client->SetAddress(QStringLiteral("not an address"));
    client->SetPort(9);
    try {
        client->SetActive(true);
        FAIL() << "no exception";
    } catch (const ESocketError& e) {
        EXPECT_TRUE(
            QString::fromUtf8(e.what()).startsWith(QStringLiteral("Windows socket error: ")));
        EXPECT_TRUE(QString::fromUtf8(e.what()).endsWith(QStringLiteral(", on API 'connect'")));
    }
    EXPECT_EQ(log.text(), QStringLiteral("lookup connecting disconnect"));
    EXPECT_FALSE(client->Active());
    EXPECT_EQ(client->Connection()->SocketHandle(), -1);
}

TEST_F(ClientEndpointTest, NoAddressClosesThenRaises) {
    client->SetPort(9);
    try {
        client->SetActive(true);
        FAIL() << "no exception";
    } catch (const ESocketError& e) {
        EXPECT_STREQ(e.what(), "No address specified");
    }
    EXPECT_EQ(log.text(), QStringLiteral("lookup disconnect"));
    EXPECT_EQ(client->Connection()->SocketHandle(), -1);
    EXPECT_EQ(client->Connection()->LookupStage(), lkIdle);
}

TEST_F(ClientEndpointTest, PeerCloseFiresDisconnectOnce) {
    quint16 port = 0;
    RawSocket listener = RawSocket::listening(port);
    connectTo(port);
    RawSocket peer = listener.acceptOne();
    ASSERT_TRUE(waitUntil([&] { return client->Active(); }));

    peer.close();
    ASSERT_TRUE(waitUntil([&] { return log.count(QStringLiteral("disconnect")) == 1; }));
    runEventsFor(200);
    EXPECT_EQ(log.count(QStringLiteral("disconnect")), 1);
    EXPECT_FALSE(client->Active());
    EXPECT_EQ(client->Connection()->SocketHandle(), -1);
}

TEST_F(ClientEndpointTest, PeerBytesBeforeItsCloseAreReadFirst) {
    quint16 port = 0;
    RawSocket listener = RawSocket::listening(port);
    QByteArray received;
    client->OnRead = [&](QObject*, TSocketConnection* socket) {
        log.add(QStringLiteral("read"));
        received += socket->ReceiveString();
    };
    connectTo(port);
    RawSocket peer = listener.acceptOne();
    ASSERT_TRUE(waitUntil([&] { return client->Active(); }));

    peer.send("last words");
    peer.close();
    ASSERT_TRUE(waitUntil([&] { return log.count(QStringLiteral("disconnect")) == 1; }));
    EXPECT_EQ(received, QByteArray("last words"));
    EXPECT_EQ(log.entries().mid(4),
              (QStringList{QStringLiteral("read"), QStringLiteral("disconnect")}));
}

// A reset reported with the close is an error (ekDisconnect) and leaves the socket open when
// handled; the next send then fails with EPIPE, which must take the error path rather than
// raise SIGPIPE (the default action would end this test process).
TEST_F(ClientEndpointTest, SendingToAPeerThatResetTakesTheErrorPath) {
    quint16 port = 0;
    RawSocket listener = RawSocket::listening(port);
    connectTo(port);
    RawSocket peer = listener.acceptOne();
    ASSERT_TRUE(waitUntil([&] { return client->Active(); }));
    log.clear();

    peer.reset();
    ASSERT_TRUE(waitUntil([&] { return !log.entries().isEmpty(); }));
    EXPECT_EQ(log.text(), errorEntry(ekDisconnect, ECONNRESET));
    EXPECT_TRUE(client->Active());

    log.clear();
    EXPECT_EQ(client->Connection()->SendString("x"), -1);
    EXPECT_EQ(log.text(), errorEntry(ekSend, EPIPE) + QStringLiteral(" disconnect"));
    EXPECT_FALSE(client->Active());
    EXPECT_TRUE(uncaught.isEmpty());
}

TEST_F(ClientEndpointTest, SendFailureWithCodeLeftClosesThenRaises) {
    quint16 port = 0;
    RawSocket listener = RawSocket::listening(port);
    connectTo(port);
    RawSocket peer = listener.acceptOne();
    ASSERT_TRUE(waitUntil([&] { return client->Active(); }));
    log.clear();

    // Reset arrives before the event loop notices it: the send meets it first.
    peer.reset();
    errorCodeLeft = true;
    try {
        client->Connection()->SendString("x");
        FAIL() << "no exception";
    } catch (const ESocketError& e) {
        EXPECT_EQ(
            QString::fromUtf8(e.what()),
            QStringLiteral("Windows socket error: Connection reset by peer (%1), on API 'send'")
                .arg(ECONNRESET));
    }
    EXPECT_EQ(log.text(), errorEntry(ekSend, ECONNRESET) + QStringLiteral(" disconnect"));
}

TEST_F(ClientEndpointTest, CloseConnectionFiresDisconnectOnce) {
    quint16 port = 0;
    RawSocket listener = RawSocket::listening(port);
    // A close requested again from inside the disconnect event does not fire it again.
    client->OnDisconnect = [&](QObject*, TSocketConnection* socket) {
        log.add(QStringLiteral("disconnect"));
        EXPECT_EQ(socket->PeerAddressText(), QStringLiteral("127.0.0.1"));  // still open
        socket->CloseConnection();
    };
    connectTo(port);
    RawSocket peer = listener.acceptOne();
    ASSERT_TRUE(waitUntil([&] { return client->Active(); }));

    client->Connection()->CloseConnection();
    client->Connection()->CloseConnection();
    runEventsFor(100);
    EXPECT_EQ(log.count(QStringLiteral("disconnect")), 1);
    EXPECT_FALSE(client->Active());
    EXPECT_EQ(peer.waitForEnd(), RawSocket::Ending::Orderly);
}

TEST_F(ClientEndpointTest, CloseConnectionClosesAPendingConnect) {
    // A listener whose accept queue is full drops further handshakes: the connect stays pending.
    quint16 port = 0;
    RawSocket listener = RawSocket::listening(port, 0);
    RawSocket filler1 = RawSocket::startConnect(port);
    RawSocket filler2 = RawSocket::startConnect(port);
    runEventsFor(50);
    connectTo(port);
    runEventsFor(100);
    EXPECT_FALSE(client->Active());
    client->SetActive(false);  // not connected yet: nothing happens
    EXPECT_NE(client->Connection()->SocketHandle(), -1);
    client->Connection()->CloseConnection();
    EXPECT_EQ(log.text(), QStringLiteral("lookup connecting disconnect"));
    EXPECT_EQ(client->Connection()->SocketHandle(), -1);
}

TEST_F(ClientEndpointTest, SettersFollowTheActiveRules) {
    client->SetAddress(QStringLiteral("Example.Host"));
    client->SetAddress(QStringLiteral("example.host"));
    EXPECT_EQ(client->Address(), QStringLiteral("Example.Host"));  // case alone is no change

    quint16 port = 0;
    RawSocket listener = RawSocket::listening(port);
    connectTo(port);
    // Still pending, so not active: changes are allowed and apply to the next activation.
    client->SetAddress(QStringLiteral("127.0.0.2"));
    ASSERT_TRUE(waitUntil([&] { return client->Active(); }));

    auto expectRefused = [](const std::function<void()>& change) {
        try {
            change();
            ADD_FAILURE() << "no exception";
        } catch (const ESocketError& e) {
            EXPECT_STREQ(e.what(), "Can't change value while socket is active");
        }
    };
    expectRefused([&] { client->SetAddress(QStringLiteral("10.0.0.1")); });
    expectRefused([&] { client->SetHost(QStringLiteral("localhost")); });
    expectRefused([&] { client->SetService(QStringLiteral("http")); });
    expectRefused([&] { client->SetPort(port + 1); });
    expectRefused([&] { client->SetClientType(ctBlocking); });
    try {
        client->Connection()->StartConnect({}, QStringLiteral("127.0.0.1"), {}, port, false);
        ADD_FAILURE() << "no exception";
    } catch (const ESocketError& e) {
        EXPECT_STREQ(e.what(), "Socket already open");
    }
    EXPECT_EQ(client->Address(), QStringLiteral("127.0.0.2"));
    EXPECT_EQ(client->Port(), port);
    client->SetAddress(QStringLiteral("127.0.0.2"));  // equal: no change, no exception
    client->SetPort(port);

    client->SetActive(false);
    EXPECT_EQ(log.count(QStringLiteral("disconnect")), 1);
    client->SetClientType(ctBlocking);
    EXPECT_EQ(client->Connection()->NotificationSet(), 0);
    client->SetClientType(ctNonBlocking);
    EXPECT_EQ(client->Connection()->NotificationSet(), FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE);
}

TEST_F(ClientEndpointTest, BlockingModeConnectsBeforeTheSetterReturns) {
    quint16 port = 0;
    RawSocket listener = RawSocket::listening(port);
    client->SetClientType(ctBlocking);
    connectTo(port);
    EXPECT_EQ(log.text(), QStringLiteral("lookup connecting connect"));
    EXPECT_TRUE(client->Active());
    EXPECT_EQ(client->Connection()->SendString("b"), 1);
    RawSocket peer = listener.acceptOne();
    EXPECT_EQ(peer.readExactly(1), QByteArray("b"));
}

TEST_F(ClientEndpointTest, HostIsResolvedBeforeConnecting) {
    quint16 port = 0;
    RawSocket listener = RawSocket::listening(port);
    client->SetHost(QStringLiteral("localhost"));
    client->SetPort(port);
    client->SetActive(true);
    EXPECT_EQ(log.text(), QStringLiteral("lookup"));
    EXPECT_EQ(client->Connection()->LookupStage(), lkResolvingHost);
    ASSERT_TRUE(waitUntil([&] { return client->Active(); }));
    EXPECT_EQ(log.entries().mid(0, 3).join(QLatin1Char(' ')),
              QStringLiteral("lookup connecting connect"));
}

TEST_F(ClientEndpointTest, ServiceIsResolvedForTcp) {
    // Numeric text is taken as the port by the services lookup.
    quint16 port = 0;
    RawSocket listener = RawSocket::listening(port);
    client->SetAddress(QStringLiteral("127.0.0.1"));
    client->SetService(QString::number(port));
    client->SetActive(true);
    EXPECT_EQ(client->Connection()->LookupStage(), lkResolvingService);
    EXPECT_TRUE(waitUntil([&] { return client->Active(); }));
}

TEST_F(ClientEndpointTest, FailedLookupClosesReportsAndAllowsANewOpen) {
    quint16 port = 0;
    RawSocket listener = RawSocket::listening(port);
    client->SetAddress(QStringLiteral("127.0.0.1"));
    client->SetPort(port);
    client->SetService(QStringLiteral("no-such-service-ruvo"));
    client->SetActive(true);
    ASSERT_TRUE(waitUntil([&] { return !uncaught.isEmpty(); }));
    ASSERT_EQ(uncaught.size(), 1);
    EXPECT_TRUE(uncaught[0].startsWith(QStringLiteral("Windows socket error: ")));
    EXPECT_TRUE(uncaught[0].endsWith(QStringLiteral(", on API 'ASync Lookup'")));
    EXPECT_EQ(log.text(), QStringLiteral("lookup disconnect"));  // no error event
    EXPECT_EQ(client->Connection()->LookupStage(), lkIdle);

    client->SetService(QString());
    client->SetActive(true);
    EXPECT_TRUE(waitUntil([&] { return client->Active(); }));
}

// The answer of a lookup cancelled by a close arrives while the reopened connection waits for
// its own lookup; applied, it would send the new connect to the old host.
TEST_F(ClientEndpointTest, AnswerOfACancelledLookupIsDropped) {
    // One worker: the cancelled lookup is answered first.
    QThreadPool* pool = QThreadPool::globalInstance();
    const int threads = pool->maxThreadCount();
    pool->setMaxThreadCount(1);
    quint16 port = 0;
    RawSocket listener = RawSocket::listening(port, 16, QByteArrayLiteral("127.0.0.2"));
    client->SetHost(QStringLiteral("localhost"));
    client->SetPort(port);
    client->SetActive(true);
    client->Connection()->CloseConnection();
    EXPECT_EQ(client->Connection()->LookupStage(), lkIdle);

    client->SetHost(QStringLiteral("127.0.0.2"));
    client->SetActive(true);
    const bool connected = waitUntil([&] { return client->Active(); });
    pool->setMaxThreadCount(threads);
    ASSERT_TRUE(connected) << log.text().toStdString();
    EXPECT_EQ(client->Connection()->PeerAddressText(), QStringLiteral("127.0.0.2"));
    runEventsFor(200);
    EXPECT_EQ(log.text(), QStringLiteral("lookup disconnect lookup connecting connect write"));
}

TEST_F(ClientEndpointTest, DestroyingTheEndpointClosesWithoutDisconnect) {
    quint16 port = 0;
    RawSocket listener = RawSocket::listening(port);
    connectTo(port);
    RawSocket peer = listener.acceptOne();
    ASSERT_TRUE(waitUntil([&] { return client->Active(); }));
    peer.send("unread");
    ASSERT_TRUE(waitUntil([&] { return log.count(QStringLiteral("read")) == 1; }));

    QPointer<TClientConnection> connection = client->Connection();
    client.reset();
    EXPECT_TRUE(connection.isNull());
    EXPECT_EQ(log.count(QStringLiteral("disconnect")), 0);
    // Unread input was dropped before the close, so the peer sees FIN, not a reset.
    EXPECT_EQ(peer.waitForEnd(), RawSocket::Ending::Orderly);
}

}  // namespace
