#include "identity/lanetls.h"
#include "identity/securelaneserver.h"
#include "identity/tlspeerguard.h"
#include "tlsfixture.h"

#include <QElapsedTimer>
#include <QSslCipher>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

const QByteArray kGreeting("RUVOLANE\0\1", 10);

class LaneTlsTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    Identity receiver = makeIdentity(dir.filePath(QStringLiteral("receiver")));
    Identity sender = makeIdentity(dir.filePath(QStringLiteral("sender")));
    Identity stranger = makeIdentity(dir.filePath(QStringLiteral("stranger")));

    // The first bytes a TLS client sends (its hello), as a peer that stops half-way would.
    QByteArray clientHello() {
        QTcpServer plain;
        EXPECT_TRUE(plain.listen(QHostAddress::LocalHost, 0));
        std::unique_ptr<QSslSocket> client(lanetls::clientSocket(sender, lanetls::anyPeer()));
        client->connectToHostEncrypted(QStringLiteral("127.0.0.1"), plain.serverPort());
        EXPECT_TRUE(waitUntil([&] { return plain.hasPendingConnections(); }));
        std::unique_ptr<QTcpSocket> accepted(plain.nextPendingConnection());
        QByteArray hello;
        waitUntil([&] {
            hello += accepted->readAll();
            return hello.size() >= 200;
        });
        return hello;
    }
};

TEST_F(LaneTlsTest, BothEndsKnowEachOtherByFingerprint) {
    SecureLaneServer server(receiver, lanetls::expect(sender.fingerprint()));
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QSslSocket* accepted = nullptr;
    QByteArray greeting;
    QObject::connect(&server, &QTcpServer::pendingConnectionAvailable, [&] {
        accepted = static_cast<QSslSocket*>(server.nextPendingConnection());
        QObject::connect(accepted, &QTcpSocket::readyRead,
                         [&] { greeting += accepted->readAll(); });
    });
    std::unique_ptr<QSslSocket> client(
        lanetls::clientSocket(sender, lanetls::expect(receiver.fingerprint())));
    // The greeting goes out the moment the client's side is done, as the lane's sender does:
    // the server must hand it over with the connection, not lose it.
    QObject::connect(client.get(), &QSslSocket::encrypted, [&] { client->write(kGreeting); });
    client->connectToHostEncrypted(QStringLiteral("127.0.0.1"), server.serverPort());

    ASSERT_TRUE(waitUntil([&] { return greeting.size() == kGreeting.size(); }));
    EXPECT_EQ(greeting, kGreeting);
    EXPECT_EQ(lanetls::peerFingerprint(*accepted), sender.fingerprint());
    EXPECT_EQ(lanetls::peerFingerprint(*client), receiver.fingerprint());
    EXPECT_EQ(client->findChild<TlsPeerGuard*>()->fingerprint(), receiver.fingerprint());
    EXPECT_EQ(accepted->sessionProtocol(), QSsl::TlsV1_3);
    EXPECT_EQ(client->sessionCipher().name(), QStringLiteral("TLS_AES_128_GCM_SHA256"));
}

// Every peer that is not the expected copy of Ruvo is closed by the receiving side, at once
// or (a peer that stalls) at the handshake deadline, with a reason, and is never handed to
// the lane.
TEST_F(LaneTlsTest, ReceiverClosesEveryOtherPeer) {
    const QByteArray hello = clientHello();
    ASSERT_GT(hello.size(), 100);
    constexpr int kDeadlineMs = 400;
    struct Case {
        const char* name;
        std::function<std::unique_ptr<QTcpSocket>(quint16 port)> peer;
        bool waitsForDeadline;
    };
    const auto plainPeer = [](quint16 port, QByteArray bytes, bool thenClose) {
        auto socket = std::make_unique<QTcpSocket>();
        QTcpSocket* raw = socket.get();
        QObject::connect(raw, &QTcpSocket::connected, [raw, bytes, thenClose] {
            raw->write(bytes);
            if (thenClose) {
                raw->disconnectFromHost();
            }
        });
        socket->connectToHost(QHostAddress::LocalHost, port);
        return socket;
    };
    const Case cases[] = {
        {"another certificate",
         [&](quint16 port) -> std::unique_ptr<QTcpSocket> {
             std::unique_ptr<QSslSocket> s(lanetls::clientSocket(stranger, lanetls::anyPeer()));
             s->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
             return s;
         },
         false},
        {"no certificate",
         [&](quint16 port) -> std::unique_ptr<QTcpSocket> {
             auto s = std::make_unique<QSslSocket>();
             QSslConfiguration config = lanetls::configuration(sender);
             config.setLocalCertificate(QSslCertificate());
             config.setPrivateKey(QSslKey());
             config.setPeerVerifyMode(QSslSocket::VerifyNone);
             s->setSslConfiguration(config);
             s->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
             return s;
         },
         false},
        {"TLS 1.2 only",
         [&](quint16 port) -> std::unique_ptr<QTcpSocket> {
             std::unique_ptr<QSslSocket> s(lanetls::clientSocket(sender, lanetls::anyPeer()));
             QSslConfiguration config = s->sslConfiguration();
             config.setProtocol(QSsl::TlsV1_2);
             config.setCiphers(QSslConfiguration::supportedCiphers());
             s->setSslConfiguration(config);
             s->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
             return s;
         },
         false},
        {"the lane in plain", [&](quint16 port) { return plainPeer(port, kGreeting, false); },
         false},
        {"stops mid-handshake",
         [&](quint16 port) { return plainPeer(port, hello.left(hello.size() / 2), true); }, false},
        {"stalls mid-handshake",
         [&](quint16 port) { return plainPeer(port, hello.left(hello.size() / 2), false); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SecureLaneServer server(receiver, lanetls::expect(sender.fingerprint()));
        server.setHandshakeTimeout(kDeadlineMs);
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        int handedOut = 0;
        QStringList reasons;
        QObject::connect(&server, &QTcpServer::pendingConnectionAvailable, [&] { ++handedOut; });
        QObject::connect(&server, &SecureLaneServer::refused,
                         [&](const QString&, const QString& reason) { reasons << reason; });
        QElapsedTimer clock;
        clock.start();
        std::unique_ptr<QTcpSocket> peer = c.peer(server.serverPort());
        ASSERT_TRUE(waitUntil([&] { return !reasons.isEmpty(); }, 3000));
        const qint64 ms = clock.elapsed();
        if (c.waitsForDeadline) {
            EXPECT_GE(ms, kDeadlineMs - 50);
        } else {
            EXPECT_LT(ms, kDeadlineMs);
        }
        // The peer sees its connection closed.
        EXPECT_TRUE(
            waitUntil([&] { return peer->state() == QAbstractSocket::UnconnectedState; }, 2000));
        waitUntil([] { return false; }, 50);
        EXPECT_EQ(reasons.size(), 1) << reasons.join(QStringLiteral(" | ")).toStdString();
        EXPECT_FALSE(reasons.value(0).isEmpty());
        EXPECT_EQ(handedOut, 0);
        EXPECT_FALSE(server.hasPendingConnections());
    }
}

// The sending side closes at once when another computer answers at the lane's port, and
// when the answer is not TLS at all (an older lane, another program): that is the moment
// to fall back or to stop, never to send.
TEST_F(LaneTlsTest, SenderClosesAtOnceOnAnotherComputerOrPlainAnswer) {
    const struct {
        const char* name;
        bool tls;
    } cases[] = {{"another certificate", true}, {"plain answer", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<QTcpServer> server;
        if (c.tls) {
            server = std::make_unique<SecureLaneServer>(stranger, lanetls::anyPeer());
        } else {
            server = std::make_unique<QTcpServer>();
            QObject::connect(server.get(), &QTcpServer::newConnection,
                             [&] { server->nextPendingConnection()->write(kGreeting); });
        }
        ASSERT_TRUE(server->listen(QHostAddress::LocalHost, 0));
        std::unique_ptr<QSslSocket> client(
            lanetls::clientSocket(sender, lanetls::expect(receiver.fingerprint())));
        QStringList reasons;
        int encrypted = 0;
        QObject::connect(client->findChild<TlsPeerGuard*>(), &TlsPeerGuard::refused,
                         [&](const QString& reason) { reasons << reason; });
        QObject::connect(client.get(), &QSslSocket::encrypted, [&] { ++encrypted; });
        QElapsedTimer clock;
        clock.start();
        client->connectToHostEncrypted(QStringLiteral("127.0.0.1"), server->serverPort());
        ASSERT_TRUE(waitUntil([&] { return !reasons.isEmpty(); }, 3000));
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_TRUE(
            waitUntil([&] { return client->state() == QAbstractSocket::UnconnectedState; }, 1000));
        EXPECT_EQ(encrypted, 0);
        EXPECT_EQ(reasons.size(), 1);
    }
}

}  // namespace
