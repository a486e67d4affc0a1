#include "identity/lanetls.h"
#include "identity/pairingexchange.h"
#include "identity/securelaneserver.h"
#include "tlsfixture.h"

#include <QPointer>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

using Role = PairingExchange::Role;
using Step = PairingExchange::Step;

const QString kA =
    QStringLiteral("AAAA1111AAAA1111AAAA1111AAAA1111AAAA1111AAAA1111AAAA1111AAAA1111");
const QString kB =
    QStringLiteral("BBBB2222BBBB2222BBBB2222BBBB2222BBBB2222BBBB2222BBBB2222BBBB2222");

TEST(PairingExchange, BothEndsDeriveTheSameSixDigits) {
    PairingExchange initiator(Role::Initiator, kA, kB);
    PairingExchange responder(Role::Responder, kB, kA);
    EXPECT_TRUE(responder.start().isEmpty());
    QByteArray toResponder = initiator.start();
    QByteArray toInitiator;
    ASSERT_EQ(responder.receive(toResponder, &toInitiator), Step::Continue);
    ASSERT_EQ(initiator.receive(toInitiator, &toResponder), Step::Done);
    QByteArray none;
    ASSERT_EQ(responder.receive(toResponder, &none), Step::Done);
    EXPECT_TRUE(none.isEmpty());
    EXPECT_EQ(initiator.code(), responder.code());
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^[0-9]{6}$")).match(initiator.code()).hasMatch());
    // A fresh nonce for every exchange: the same two computers get another code next time.
    EXPECT_NE(PairingExchange(Role::Initiator, kA, kB).start(),
              PairingExchange(Role::Initiator, kA, kB).start());
}

TEST(PairingExchange, CodeDependsOnBothIdentitiesAndBothNonces) {
    const QByteArray n1(32, '\1');
    const QByteArray n2(32, '\2');
    const QString code = PairingExchange::codeFor(kA, kB, n1, n2);
    EXPECT_EQ(PairingExchange::codeFor(kB, kA, n1, n2), code);  // either end's view
    const QString kC = QString(kB).replace(0, 1, QLatin1Char('C'));
    // Different inputs may in principle meet on a code (one in a million); these do not.
    EXPECT_NE(PairingExchange::codeFor(kA, kC, n1, n2), code);
    EXPECT_NE(PairingExchange::codeFor(kA, kB, n2, n1), code);
    EXPECT_NE(PairingExchange::codeFor(kA, kB, n1, QByteArray(32, '\3')), code);
}

// Any message out of turn, of another size, or a revealed nonce that is not the committed
// one ends the exchange for good, with no code.
TEST(PairingExchange, BrokenExchangesFail) {
    const auto kindOnly = [](PairingExchange::Kind kind) {
        return QByteArray(1, static_cast<char>(kind)) + QByteArray(32, '\7');
    };
    struct Case {
        const char* name;
        Role role;
        std::function<QList<QByteArray>(PairingExchange& peer)> messages;
    };
    const Case cases[] = {
        {"responder: a nonce first", Role::Responder,
         [&](PairingExchange&) { return QList{kindOnly(PairingExchange::Kind::Nonce)}; }},
        {"responder: reveal first", Role::Responder,
         [&](PairingExchange&) { return QList{kindOnly(PairingExchange::Kind::Reveal)}; }},
        {"responder: short message", Role::Responder,
         [&](PairingExchange& peer) { return QList{peer.start().left(20)}; }},
        {"responder: reveal of another nonce", Role::Responder,
         [&](PairingExchange& peer) {
             return QList{peer.start(), kindOnly(PairingExchange::Kind::Reveal)};
         }},
        {"responder: commitment twice", Role::Responder,
         [&](PairingExchange& peer) {
             const QByteArray commit = peer.start();
             return QList{commit, commit};
         }},
        {"initiator: a commitment back", Role::Initiator,
         [&](PairingExchange&) { return QList{kindOnly(PairingExchange::Kind::Commit)}; }},
        {"initiator: unknown kind", Role::Initiator,
         [&](PairingExchange&) { return QList{QByteArray(33, '\x09')}; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PairingExchange end(c.role, kA, kB);
        PairingExchange peer(Role::Initiator, kB, kA);
        end.start();
        Step last = Step::Continue;
        for (const QByteArray& message : c.messages(peer)) {
            QByteArray reply;
            last = end.receive(message, &reply);
        }
        EXPECT_EQ(last, Step::Failed);
        EXPECT_TRUE(end.code().isEmpty());
        QByteArray reply;
        EXPECT_EQ(end.receive(kindOnly(PairingExchange::Kind::Reveal), &reply), Step::Failed);
    }
}

// One end of a pairing over a TLS socket: messages are whole kMessageSize units.
struct PairingEnd {
    PairingEnd(QSslSocket* s, Role role, const QString& own)
        : socket(s), exchange(role, own, lanetls::peerFingerprint(*s)) {
        QObject::connect(socket, &QTcpSocket::readyRead, [this] { read(); });
        socket->write(exchange.start());
        read();
    }
    void read() {
        buffer += socket->readAll();
        while (buffer.size() >= PairingExchange::kMessageSize && step == Step::Continue) {
            QByteArray reply;
            step = exchange.receive(buffer.left(PairingExchange::kMessageSize), &reply);
            buffer.remove(0, PairingExchange::kMessageSize);
            socket->write(reply);
        }
    }
    QPointer<QSslSocket> socket;
    PairingExchange exchange;
    QByteArray buffer;
    Step step = Step::Continue;
};

class PairingOverTls : public ::testing::Test {
protected:
    QTemporaryDir dir;
    Identity a = makeIdentity(dir.filePath(QStringLiteral("a")));
    Identity b = makeIdentity(dir.filePath(QStringLiteral("b")));
    Identity relay = makeIdentity(dir.filePath(QStringLiteral("relay")));
};

TEST_F(PairingOverTls, CodesMatchOnBothEndsOfOneSession) {
    SecureLaneServer server(b, lanetls::anyPeer());
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    std::unique_ptr<PairingEnd> responder;
    QObject::connect(&server, &QTcpServer::pendingConnectionAvailable, [&] {
        auto* socket = static_cast<QSslSocket*>(server.nextPendingConnection());
        responder = std::make_unique<PairingEnd>(socket, Role::Responder, b.fingerprint());
    });
    std::unique_ptr<QSslSocket> client(lanetls::clientSocket(a, lanetls::anyPeer()));
    std::unique_ptr<PairingEnd> initiator;
    QObject::connect(client.get(), &QSslSocket::encrypted, [&] {
        initiator = std::make_unique<PairingEnd>(client.get(), Role::Initiator, a.fingerprint());
    });
    client->connectToHostEncrypted(QStringLiteral("127.0.0.1"), server.serverPort());
    ASSERT_TRUE(waitUntil([&] {
        return initiator && responder && initiator->step == Step::Done &&
               responder->step == Step::Done;
    }));
    EXPECT_EQ(initiator->exchange.code(), responder->exchange.code());
}

// A relay that terminates TLS on each side and passes every byte on (a stranger between the
// two computers) cannot show both ends the same code: each end sees the relay's certificate.
TEST_F(PairingOverTls, CodesDifferThroughARelayThatTerminatesTls) {
    SecureLaneServer serverB(b, lanetls::anyPeer());
    ASSERT_TRUE(serverB.listen(QHostAddress::LocalHost, 0));
    std::unique_ptr<PairingEnd> responder;
    QObject::connect(&serverB, &QTcpServer::pendingConnectionAvailable, [&] {
        auto* socket = static_cast<QSslSocket*>(serverB.nextPendingConnection());
        responder = std::make_unique<PairingEnd>(socket, Role::Responder, b.fingerprint());
    });

    // The relay: TLS from A ends here, a new TLS session goes on to B, bytes cross over.
    SecureLaneServer relayServer(relay, lanetls::anyPeer());
    ASSERT_TRUE(relayServer.listen(QHostAddress::LocalHost, 0));
    std::unique_ptr<QSslSocket> relayToB(lanetls::clientSocket(relay, lanetls::anyPeer()));
    QSslSocket* relayFromA = nullptr;
    QByteArray fromA;
    bool toBReady = false;
    const auto forward = [&] {
        if (relayFromA && toBReady) {
            relayToB->write(fromA + relayFromA->readAll());
            fromA.clear();
        } else if (relayFromA) {
            fromA += relayFromA->readAll();
        }
    };
    QObject::connect(&relayServer, &QTcpServer::pendingConnectionAvailable, [&] {
        relayFromA = static_cast<QSslSocket*>(relayServer.nextPendingConnection());
        QObject::connect(relayFromA, &QTcpSocket::readyRead, forward);
        relayToB->connectToHostEncrypted(QStringLiteral("127.0.0.1"), serverB.serverPort());
    });
    QObject::connect(relayToB.get(), &QSslSocket::encrypted, [&] {
        toBReady = true;
        forward();
    });
    QObject::connect(relayToB.get(), &QTcpSocket::readyRead,
                     [&] { relayFromA->write(relayToB->readAll()); });

    std::unique_ptr<QSslSocket> client(lanetls::clientSocket(a, lanetls::anyPeer()));
    std::unique_ptr<PairingEnd> initiator;
    QObject::connect(client.get(), &QSslSocket::encrypted, [&] {
        initiator = std::make_unique<PairingEnd>(client.get(), Role::Initiator, a.fingerprint());
    });
    client->connectToHostEncrypted(QStringLiteral("127.0.0.1"), relayServer.serverPort());
    ASSERT_TRUE(waitUntil([&] {
        return initiator && responder && initiator->step == Step::Done &&
               responder->step == Step::Done;
    }));
    // The relay passed the exchange on intact (both ends finished), yet:
    EXPECT_EQ(lanetls::peerFingerprint(*client), relay.fingerprint());
    EXPECT_EQ(responder->exchange.code().size(), 6);
    EXPECT_NE(initiator->exchange.code(), responder->exchange.code());
}

}  // namespace
