// Pairing over the lane between two computers, each with an identity and stores of its own:
// both show the same code and trust each other only when both users confirm; a relay that
// terminates TLS on each side makes the codes differ; frames out of turn close the exchange
// with nothing trusted.

#include <QTimer>

#include <optional>

#include "engine/pairingrequest.h"
#include "identity/pairingexchange.h"
#include "identity/securelaneserver.h"
#include "identity/truststore.h"
#include "lane/lanewire.h"
#include "rolefixtures.h"

namespace {

QStringList trusted(const QString& folder) {
    TrustStore store(folder);
    QString error;
    EXPECT_TRUE(store.load(&error)) << error.toStdString();
    QStringList list;
    for (const TrustedComputer& computer : store.list()) {
        list.append(computer.fingerprint + QLatin1Char(' ') + computer.name);
    }
    return list;
}

// A computer asked for pairing: a receiving service whose user answers each code with
// `answer` (none: never).
struct Asked {
    explicit Asked(bool allowed = true)
        : identity(otherLaneIdentity(folder.path(), QStringLiteral("equipo-b"))),
          receiver(true, 0, identity) {
        receiver.service.setPairingAllowed(allowed);
        QObject::connect(&receiver.service, &ReceivingService::pairingCodeShown,
                         [this](quint64 serial, const QString& shown) {
                             code = shown;
                             if (answer) {
                                 QTimer::singleShot(0, &receiver.service, [this, serial] {
                                     receiver.service.answerPairing(serial, *answer);
                                 });
                             }
                         });
        QObject::connect(&receiver.service, &ReceivingService::pairingEnded,
                         [this](PairingOutcome outcome, const QString& peer) {
                             ended.append(outcome);
                             endedWith = peer;
                         });
    }
    quint16 lanePort() const { return static_cast<quint16>(receiver.port() + 1); }
    QString fingerprint() const { return identity->identity().fingerprint(); }

    QTemporaryDir folder;
    std::shared_ptr<const LaneIdentity> identity;
    Receiver receiver;
    std::optional<bool> answer = true;
    QString code;
    QList<PairingOutcome> ended;
    QString endedWith;
};

// The computer that asks, aimed at the lane on `lanePort`.
struct Asking {
    explicit Asking(quint16 lanePort)
        : identity(otherLaneIdentity(folder.path(), QStringLiteral("equipo-a"))),
          request(static_cast<quint16>(lanePort - 1), identity) {
        QObject::connect(&request, &PairingRequest::codeReady, [this](const QString& shown) {
            code = shown;
            if (answer) {
                QTimer::singleShot(0, &request, [this] { request.confirm(*answer); });
            }
        });
        QObject::connect(&request, &PairingRequest::ended,
                         [this](PairingOutcome outcome, const QString& peer) {
                             ended.append(outcome);
                             endedWith = peer;
                         });
    }
    QString fingerprint() const { return identity->identity().fingerprint(); }

    QTemporaryDir folder;
    std::shared_ptr<const LaneIdentity> identity;
    PairingRequest request;
    std::optional<bool> answer = true;
    QString code;
    QList<PairingOutcome> ended;
    QString endedWith;
};

TEST(LanePairing, BothTrustEachOtherOnlyWhenBothConfirmTheSameCode) {
    using P = PairingOutcome;
    struct Case {
        const char* what;
        bool allowed;
        bool busy;  // another peer is served when the pairing is asked for
        std::optional<bool> askingSays;
        std::optional<bool> askedSays;
        P asking;
        std::optional<P> asked;  // none: it never got as far as a pairing
    };
    const Case cases[] = {
        {"both confirm", true, false, true, true, P::Paired, P::Paired},
        {"the asked one refuses", true, false, true, false, P::RefusedByPeer, P::Refused},
        {"the asking one refuses", true, false, false, true, P::Refused, P::RefusedByPeer},
        {"nobody there to answer", false, false, true, true, P::NotOffered, P::Refused},
        {"the asked one serves someone else", true, true, true, true, P::Busy, std::nullopt},
        // The asking one confirmed, and gives up after the time allowed: the connection
        // closes under the other.
        {"the asked one never answers", true, false, true, std::nullopt, P::TimedOut, P::Broken},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Asked b(c.allowed);
        ASSERT_TRUE(b.receiver.service.laneListening());
        b.answer = c.askedSays;
        TlsPeer served;  // greets and offers nothing yet
        if (c.busy) {
            ASSERT_TRUE(served.open(b.lanePort()));
            served.write(lanewire::greeting());
            ASSERT_TRUE(waitUntil([&] { return b.receiver.service.isServing(); }));
        }
        Asking a(b.lanePort());
        a.answer = c.askingSays;
        if (!c.askedSays) {
            a.request.setAnswerTimeout(1500);
        }
        a.request.start(QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(
            waitUntil([&] { return !a.ended.isEmpty() && (!b.ended.isEmpty() || !c.asked); }));
        EXPECT_EQ(a.ended, QList<P>{c.asking});
        EXPECT_EQ(b.ended, c.asked ? QList<P>{*c.asked} : QList<P>());
        const bool paired = c.asking == P::Paired;
        if (c.allowed && !c.busy) {
            EXPECT_EQ(a.code.size(), 6);
            EXPECT_EQ(a.code, b.code);
        }
        EXPECT_EQ(
            trusted(a.folder.path()),
            paired ? QStringList{b.fingerprint() + QStringLiteral(" equipo-b")} : QStringList());
        EXPECT_EQ(
            trusted(b.folder.path()),
            paired ? QStringList{a.fingerprint() + QStringLiteral(" equipo-a")} : QStringList());
        if (paired) {
            EXPECT_EQ(a.endedWith, QStringLiteral("equipo-b"));
            EXPECT_EQ(b.endedWith, QStringLiteral("equipo-a"));
        }
        if (!c.busy) {
            // The asked computer serves offers again.
            EXPECT_EQ(b.receiver.service.state(), ReceivingService::State::Idle);
        }
    }
}

// A stranger between the two computers that terminates TLS on each side with an identity of
// its own and passes every byte on: the exchange completes, yet the codes differ, so two
// users who compare them refuse, and nothing is trusted.
TEST(LanePairing, CodesDifferThroughARelayThatTerminatesTls) {
    Asked b;
    ASSERT_TRUE(b.receiver.service.laneListening());
    b.answer = false;
    QTemporaryDir relayFolder;
    const auto relay = otherLaneIdentity(relayFolder.path(), QStringLiteral("equipo-b"));
    SecureLaneServer relayServer(relay->identity(), lanetls::anyPeer());
    ASSERT_TRUE(relayServer.listen(QHostAddress::LocalHost, 0));
    std::unique_ptr<QSslSocket> toB(lanetls::clientSocket(relay->identity(), lanetls::anyPeer()));
    QTcpSocket* fromA = nullptr;
    QByteArray held;  // what A said before the relay's own session with B was up
    QObject::connect(&relayServer, &QTcpServer::pendingConnectionAvailable, [&] {
        fromA = relayServer.nextPendingConnection();
        QObject::connect(fromA, &QTcpSocket::readyRead, [&] {
            held += fromA->readAll();
            if (toB->isEncrypted()) {
                toB->write(std::exchange(held, {}));
            }
        });
        toB->connectToHostEncrypted(QStringLiteral("127.0.0.1"), b.lanePort());
    });
    QObject::connect(toB.get(), &QSslSocket::encrypted,
                     [&] { toB->write(std::exchange(held, {})); });
    QObject::connect(toB.get(), &QTcpSocket::readyRead, [&] { fromA->write(toB->readAll()); });

    Asking a(relayServer.serverPort());
    a.answer = false;
    a.request.start(QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(waitUntil([&] { return !a.code.isEmpty() && !b.code.isEmpty(); }));
    EXPECT_EQ(a.request.peerFingerprint(), relay->identity().fingerprint());
    EXPECT_NE(a.code, b.code);
    ASSERT_TRUE(waitUntil([&] { return !a.ended.isEmpty() && !b.ended.isEmpty(); }));
    EXPECT_EQ(trusted(a.folder.path()), QStringList());
    EXPECT_EQ(trusted(b.folder.path()), QStringList());
}

// PAIR and PAIR_RESULT frames out of turn: the connection is closed at once and nothing is
// trusted, whatever the user answers.
TEST(LanePairing, FramesOutOfTurnCloseItWithNothingTrusted) {
    using lanewire::Type;
    using Kind = PairingExchange::Kind;
    const QByteArray nonce(PairingExchange::kNonceSize, '\x11');
    const auto message = [](Kind kind, const QByteArray& body) {
        return QByteArray(1, static_cast<char>(kind)) + body;
    };
    const QByteArray commit = lanewire::pair(
        message(Kind::Commit, PairingExchange::commitmentTo(nonce)), QByteArrayView("intruso"));
    const QByteArray reveal = lanewire::pair(message(Kind::Reveal, nonce));
    struct Case {
        const char* what;
        QByteArray bytes;
        bool codeShown;
    };
    const Case cases[] = {
        {"a result before any pair", lanewire::pairResult(true), false},
        {"a reveal first", reveal, false},
        {"a result before the reveal", commit + lanewire::pairResult(true), false},
        {"a commitment twice", commit + commit, false},
        {"a reveal of another nonce",
         commit + lanewire::pair(message(Kind::Reveal, QByteArray(32, '\x22'))), false},
        {"a name with the second message",
         commit + lanewire::pair(message(Kind::Reveal, nonce), "x"), false},
        {"a pair after an offer", lanewire::offer("o.bin", 5) + commit, false},
        {"a result that is neither yes nor no",
         commit + reveal + lanewire::frame(Type::PairResult, "\x02"), true},
        {"a result twice",
         commit + reveal + lanewire::pairResult(true) + lanewire::pairResult(true), true},
        {"a pair after the code", commit + reveal + commit, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Asked b;
        b.answer.reset();  // the user would say yes, late: by then it is over
        b.receiver.acceptOffers = false;
        TlsPeer peer;
        ASSERT_TRUE(peer.open(b.lanePort()));
        peer.write(lanewire::greeting() + c.bytes);
        peer.readToClose(5000);
        EXPECT_EQ(peer.state(), QAbstractSocket::UnconnectedState);
        EXPECT_EQ(!b.code.isEmpty(), c.codeShown);
        if (c.codeShown) {
            b.receiver.service.answerPairing(b.receiver.service.pairingSerial(), true);
        }
        EXPECT_TRUE(
            waitUntil([&] { return b.receiver.service.state() == ReceivingService::State::Idle; }));
        EXPECT_EQ(trusted(b.folder.path()), QStringList());
    }

    SCOPED_TRACE("the asking side, answered with a result out of turn");
    SecureLaneServer fake(testLaneIdentity()->identity(), lanetls::anyPeer());
    ASSERT_TRUE(fake.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&fake, &QTcpServer::pendingConnectionAvailable, [&] {
        QTcpSocket* socket = fake.nextPendingConnection();
        socket->write(lanewire::greeting() + lanewire::pairResult(true));
    });
    Asking a(fake.serverPort());
    a.request.start(QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(waitUntil([&] { return !a.ended.isEmpty(); }));
    EXPECT_EQ(a.ended, QList<PairingOutcome>{PairingOutcome::Broken});
    EXPECT_TRUE(a.code.isEmpty());
    EXPECT_EQ(trusted(a.folder.path()), QStringList());
}

}  // namespace
