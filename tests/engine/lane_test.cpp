// The fast lane between a sending session and a receiving service over loopback: files
// travel whole, partial files are continued or refused by their hash, pauses and cancels
// work from both sides, the classic protocol takes over where no lane answers, and peers
// that break the lane's rules are closed before anything is written.

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <csignal>
#include <memory>

#include "identity/lanetls.h"
#include "identity/securelaneserver.h"
#include "identity/tlspeerguard.h"
#include "lane/entries/entrieswire.h"
#include "lane/filehash.h"
#include "lane/lanewire.h"
#include "lane/numberedname.h"
#include "lane/offeredname.h"
#include "lane/pauserate.h"
#include "rolefixtures.h"

namespace {

// A fake lane receiver: TLS with the test program's identity.
struct FakeLane : SecureLaneServer {
    FakeLane() : SecureLaneServer(testLaneIdentity()->identity(), lanetls::anyPeer()) {}
};

// A lane receiver and a lane sender aimed at it, and a folder of files to send.
class LaneTest : public ::testing::Test {
protected:
    Receiver receiver{true};
    Sender sender{receiver.port(), true};
    QTemporaryDir source;

    QString sourceFile(const QString& name, const QByteArray& bytes) {
        const QString path = source.filePath(name);
        writeFile(path, bytes);
        return path;
    }
    QString received(const QString& name) const { return receiver.folder() + name; }
    void send(const QString& path) {
        ASSERT_TRUE(sender.session.chooseFile(path));
        sender.session.start(QStringLiteral("127.0.0.1"));
    }
    bool bothEnded() {
        return waitUntil([&] { return !sender.ended.isEmpty() && !receiver.ended.isEmpty(); });
    }
};

TEST_F(LaneTest, FilesOfEverySizeTravelOverTheLaneIntact) {
    ASSERT_TRUE(receiver.service.laneListening());
    for (const qint64 size : {0, 1, 300000, 3 * 1024 * 1024 + 5}) {
        SCOPED_TRACE(size);
        const QString name = QStringLiteral("f%1.bin").arg(size);
        const QByteArray bytes = patternBytes(size, static_cast<quint32>(size));
        send(sourceFile(name, bytes));
        ASSERT_TRUE(bothEnded());
        EXPECT_TRUE(sender.wentOverLane);
        EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::Sent});
        EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::Received});
        EXPECT_EQ(readFile(received(name)), bytes);
        EXPECT_EQ(receiver.offers.last().name, name);
        EXPECT_EQ(receiver.offers.last().size, size);
        EXPECT_EQ(receiver.offers.last().address, QStringLiteral("127.0.0.1"));
        sender.ended.clear();
        receiver.ended.clear();
    }
}

TEST_F(LaneTest, APartialFileIsContinuedOnlyWhenItIsTheStartOfTheFile) {
    const QByteArray bytes = patternBytes(1024 * 1024 + 77, 5);
    const QString path = sourceFile(QStringLiteral("v.bin"), bytes);

    // The start of this very file: continued after the question, the end arrives.
    writeFile(received(QStringLiteral("v.bin")), bytes.first(300001));
    send(path);
    ASSERT_TRUE(bothEnded());
    EXPECT_EQ(receiver.questions, QList{ReceivingService::Question::ContinueExisting});
    EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::Sent});
    EXPECT_EQ(readFile(received(QStringLiteral("v.bin"))), bytes);

    // Another file of that name: shorter than the offer and of other bytes, as long and
    // equal to its start but longer, or any file against an empty offer. It stays as it is
    // and the file goes beside it, to the first free "name (n).ext".
    const QByteArray empty;
    const QByteArray sameStart = bytes + "and more";
    const struct {
        const char* what;
        QByteArray there;
        const QByteArray& sent;
    } others[] = {
        {"other bytes", patternBytes(300001, 99), bytes},
        {"the file and more", sameStart, bytes},
        {"an empty offer over a file", QByteArray("45 bytes of something else entirely, kept."),
         empty},
    };
    for (const auto& c : others) {
        SCOPED_TRACE(c.what);
        const QString name = QStringLiteral("o.bin");
        QFile::remove(received(QStringLiteral("o (1).bin")));
        writeFile(received(name), c.there);
        writeFile(received(QStringLiteral("o (1).bin")), "taken");
        sender.ended.clear();
        receiver.ended.clear();
        QStringList saved;
        const auto watch =
            QObject::connect(&receiver.service, &ReceivingService::savedUnderOtherName,
                             [&](const QString& p) { saved.append(p); });
        send(sourceFile(name, c.sent));
        ASSERT_TRUE(bothEnded());
        QObject::disconnect(watch);
        EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::Sent});
        EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::Received});
        EXPECT_EQ(readFile(received(name)), c.there);
        EXPECT_EQ(readFile(received(QStringLiteral("o (1).bin"))), QByteArray("taken"));
        EXPECT_EQ(readFile(received(QStringLiteral("o (2).bin"))), c.sent);
        EXPECT_EQ(saved, QStringList{received(QStringLiteral("o (2).bin"))});
        QFile::remove(received(QStringLiteral("o (2).bin")));
    }
}

// The receiving user's file, gone or replaced before the end, is not reported received.
TEST_F(LaneTest, AFileMovedAwayBeforeTheEndIsNotReportedReceived) {
    const QByteArray bytes = patternBytes(16 * 1024 * 1024, 21);
    const QString path = sourceFile(QStringLiteral("m.bin"), bytes);
    send(path);
    sender.session.pauseByUser();
    ASSERT_TRUE(waitUntil([&] { return receiver.peerPauses == 1; }));
    ASSERT_TRUE(
        QFile::rename(received(QStringLiteral("m.bin")), received(QStringLiteral("moved"))));
    sender.session.resumeByUser();
    ASSERT_TRUE(bothEnded());
    EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::CannotWrite});
    EXPECT_NE(sender.ended, QList<Outcome>{Outcome::Sent});
}

// Pauses hold the stream, from either side, until the side that paused resumes; cancels
// end it on both sides and keep the partial file.
TEST_F(LaneTest, PauseResumeAndCancelWorkFromEitherSide) {
    const QByteArray bytes = patternBytes(48 * 1024 * 1024, 8);
    const QString path = sourceFile(QStringLiteral("p.bin"), bytes);
    struct Case {
        const char* what;
        bool senderActs;
        bool cancel;
    };
    const Case cases[] = {
        {"the sender pauses and resumes", true, false},
        {"the receiver pauses and resumes", false, false},
        {"the sender cancels", true, true},
        {"the receiver cancels", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(received(QStringLiteral("p.bin")));
        sender.ended.clear();
        receiver.ended.clear();
        sender.peerPauses = receiver.peerPauses = 0;
        sender.bytesDone = receiver.bytesDone = 0;
        // Paused as the transfer starts, so that it is surely under way and not yet over.
        if (c.senderActs) {
            send(path);
            sender.session.pauseByUser();
        } else {
            // Right after accepting the offer, while the partial file is being measured.
            QMetaObject::Connection pauser =
                QObject::connect(&receiver.service, &ReceivingService::offerArrived,
                                 [&] { receiver.service.pauseByUser(); });
            const qsizetype offers = receiver.offers.size();
            send(path);
            ASSERT_TRUE(waitUntil([&] { return receiver.offers.size() > offers; }));
            QObject::disconnect(pauser);
        }
        if (c.senderActs) {
            ASSERT_TRUE(waitUntil([&] { return receiver.peerPauses == 1; }));
        } else {
            ASSERT_TRUE(waitUntil([&] { return sender.peerPauses == 1; }));
        }
        // Held: what was in flight arrives, then nothing more.
        const qint64 held = receiver.bytesDone;
        QTest::qWait(300);
        EXPECT_LT(receiver.bytesDone, bytes.size());
        EXPECT_LE(receiver.bytesDone - held, 16 * 1024 * 1024);
        if (c.cancel) {
            if (c.senderActs) {
                sender.session.cancel();
            } else {
                receiver.service.cancel();
            }
            ASSERT_TRUE(bothEnded());
            EXPECT_EQ(sender.ended,
                      QList<Outcome>{c.senderActs ? Outcome::Cancelled : Outcome::CancelledByPeer});
            EXPECT_EQ(receiver.ended,
                      QList<Outcome>{c.senderActs ? Outcome::CancelledByPeer : Outcome::Cancelled});
            const QByteArray partial = readFile(received(QStringLiteral("p.bin")));
            EXPECT_LT(partial.size(), bytes.size());
            EXPECT_EQ(partial, bytes.first(partial.size()));
            continue;
        }
        if (c.senderActs) {
            sender.session.resumeByUser();
        } else {
            receiver.service.resumeByUser();
        }
        ASSERT_TRUE(bothEnded());
        EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::Sent});
        EXPECT_EQ(readFile(received(QStringLiteral("p.bin"))), bytes);
    }
}

TEST_F(LaneTest, AFileChangedWhileSentIsCaughtByTheFinalHash) {
    const QByteArray bytes = patternBytes(16 * 1024 * 1024, 3);
    const QString path = sourceFile(QStringLiteral("c.bin"), bytes);
    // Made an hour ago: a change a few milliseconds after its making could fall within one
    // tick of the file system's clock, and its time would not show it.
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                     QFileDevice::FileModificationTime));
    }
    send(path);
    sender.session.pauseByUser();
    ASSERT_TRUE(waitUntil([&] { return receiver.peerPauses == 1; }));
    // The sender's reader has its first chunks by now (over TLS the pause reaches the
    // receiver sooner than they are read).
    QTest::qWait(200);
    {
        QFile file(path);  // its first bytes, long read, change on disk
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write("changed");
    }
    sender.session.resumeByUser();
    ASSERT_TRUE(bothEnded());
    EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::Corrupted});
    EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::Corrupted});
}

TEST_F(LaneTest, AWriteThatFailsEndsTheTransferAndKeepsThePartialFile) {
    const QByteArray bytes = patternBytes(4 * 1024 * 1024, 4);
    const QString path = sourceFile(QStringLiteral("w.bin"), bytes);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1024 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    send(path);
    const bool ended = bothEnded();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(ended);
    EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::CannotWrite});
    EXPECT_NE(sender.ended, QList<Outcome>{Outcome::Sent});
    EXPECT_EQ(readFile(received(QStringLiteral("w.bin"))), bytes.first(1024 * 1024));
}

// A target that is no plain file of ours is never opened for writing, nor waited on.
TEST_F(LaneTest, ALinkOrAFifoUnderTheNameIsNotWrittenThrough) {
    const QString path = sourceFile(QStringLiteral("t.bin"), patternBytes(10000, 9));
    QTemporaryDir elsewhere;
    const QString outside = elsewhere.filePath(QStringLiteral("victim"));
    writeFile(outside, "keep");
    ASSERT_TRUE(QFile::link(outside, received(QStringLiteral("t.bin"))));
    receiver.answers = {true};  // "continue the existing file?": yes
    send(path);
    ASSERT_TRUE(bothEnded());
    EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::CannotOpen});
    EXPECT_EQ(readFile(outside), QByteArray("keep"));

    ASSERT_TRUE(QFile::remove(received(QStringLiteral("t.bin"))));
    ASSERT_EQ(::mkfifo(QFile::encodeName(received(QStringLiteral("t.bin"))).constData(), 0600), 0);
    sender.ended.clear();
    receiver.ended.clear();
    receiver.answers = {true};
    send(path);
    ASSERT_TRUE(bothEnded());
    EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::CannotOpen});
    EXPECT_NE(sender.ended, QList<Outcome>{Outcome::Sent});
}

// One transfer at a time across both ports: while the lane serves, a classic sender is
// told the receiver is busy, and the other way round.
TEST_F(LaneTest, OneTransferIsServedAcrossBothPorts) {
    const QByteArray bytes = patternBytes(8 * 1024 * 1024, 6);
    const QString path = sourceFile(QStringLiteral("b.bin"), bytes);
    send(path);
    sender.session.pauseByUser();
    ASSERT_TRUE(waitUntil([&] { return receiver.peerPauses == 1; }));

    Sender classic(receiver.port(), false);
    ASSERT_TRUE(classic.session.chooseFile(path));
    classic.session.start(QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(waitUntil([&] { return !classic.ended.isEmpty(); }));
    EXPECT_EQ(classic.ended, QList<Outcome>{Outcome::Busy});
    sender.session.resumeByUser();
    ASSERT_TRUE(bothEnded());
    EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::Sent});

    // A classic transfer held by its sender's pause; a lane sender comes.
    QFile::remove(received(QStringLiteral("b.bin")));
    receiver.ended.clear();
    receiver.peerPauses = 0;
    classic.ended.clear();
    classic.session.start(QStringLiteral("127.0.0.1"));
    classic.session.pauseByUser();  // the receiver is told at the first request
    ASSERT_TRUE(waitUntil([&] { return receiver.peerPauses > 0; }));
    Sender late(receiver.port(), true);
    ASSERT_TRUE(late.session.chooseFile(path));
    late.session.start(QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(waitUntil([&] { return !late.ended.isEmpty(); }));
    EXPECT_EQ(late.ended, QList<Outcome>{Outcome::Busy});
    classic.session.cancel();
    ASSERT_TRUE(waitUntil([&] { return !receiver.ended.isEmpty(); }));
}

// A classic receiver on port P, and on P + 1 whatever `lanePort` does.
struct ClassicBeside {
    explicit ClassicBeside(std::function<void(QTcpSocket*)> onLanePeer) {
        // Two free ports in a row: the lane's stand-in first, the receiver just below.
        for (int attempt = 0; attempt < 50 && !receiver; ++attempt) {
            auto server = std::make_unique<QTcpServer>();
            if (!server->listen(QHostAddress::AnyIPv4, 0) || server->serverPort() < 2) {
                continue;
            }
            auto candidate = std::make_unique<Receiver>(false, server->serverPort() - 1);
            if (candidate->listening) {
                lane = std::move(server);
                receiver = std::move(candidate);
            }
        }
        if (lane) {
            QObject::connect(lane.get(), &QTcpServer::newConnection, [this, onLanePeer] {
                while (QTcpSocket* peer = lane->nextPendingConnection()) {
                    onLanePeer(peer);
                }
            });
        }
    }
    std::unique_ptr<QTcpServer> lane;
    std::unique_ptr<Receiver> receiver;
};

TEST(LaneFallback, WhereNoLaneAnswersTheClassicProtocolTakesOver) {
    QTemporaryDir source;
    const QByteArray bytes = patternBytes(100000, 2);
    writeFile(source.filePath(QStringLiteral("k.bin")), bytes);
    const auto sendTo = [&](Receiver& receiver) {
        Sender sender(receiver.port(), true);
        EXPECT_TRUE(sender.session.chooseFile(source.filePath(QStringLiteral("k.bin"))));
        sender.session.start(QStringLiteral("127.0.0.1"));
        EXPECT_TRUE(waitUntil([&] { return !sender.ended.isEmpty(); }));
        EXPECT_FALSE(sender.wentOverLane);
        EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::Sent});
        EXPECT_EQ(readFile(receiver.folder() + QStringLiteral("k.bin")), bytes);
    };
    {
        SCOPED_TRACE("a receiver without the lane: nothing listens after its port");
        Receiver classic(false);
        sendTo(classic);
    }
    {
        SCOPED_TRACE("the lane's port accepts and stays silent");
        // The accepted peers stay open, children of the server, and hear nothing.
        ClassicBeside beside([](QTcpSocket*) {});
        ASSERT_TRUE(beside.receiver);
        sendTo(*beside.receiver);
    }
    {
        SCOPED_TRACE("the lane's port speaks another protocol, not TLS");
        QByteArray heard;
        ClassicBeside beside([&heard](QTcpSocket* peer) {
            peer->write("HTTP/1.1 400 Bad Request\r\n\r\n");
            QObject::connect(peer, &QTcpSocket::readyRead, peer,
                             [&heard, peer] { heard += peer->readAll(); });
            QObject::connect(peer, &QTcpSocket::disconnected, peer, &QObject::deleteLater);
        });
        ASSERT_TRUE(beside.receiver);
        sendTo(*beside.receiver);
        // It heard a TLS hello at most: never the lane's greeting, the offer or the file.
        EXPECT_FALSE(heard.contains("RUVOLANE"));
        EXPECT_FALSE(heard.contains("k.bin"));
    }
}

// Relays the lane between a sender and a receiver on loopback and records every byte it
// carries, both ways.
struct RecordingRelay {
    explicit RecordingRelay(quint16 upstream) {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, [this, upstream] {
            while (QTcpSocket* down = server.nextPendingConnection()) {
                auto* up = new QTcpSocket(down);
                up->connectToHost(QHostAddress::LocalHost, upstream);
                const auto pipe = [this](QTcpSocket* from, QTcpSocket* to) {
                    QObject::connect(from, &QTcpSocket::readyRead, to, [this, from, to] {
                        const QByteArray bytes = from->readAll();
                        captured += bytes;
                        to->write(bytes);
                    });
                };
                pipe(down, up);
                pipe(up, down);
                QObject::connect(up, &QTcpSocket::disconnected, down,
                                 &QTcpSocket::disconnectFromHost);
                QObject::connect(down, &QTcpSocket::disconnected, up,
                                 &QTcpSocket::disconnectFromHost);
            }
        });
    }
    QTcpServer server;
    QByteArray captured;
};

TEST(LaneCapture, HoldsNoneOfTheFileOrItsName) {
    Receiver receiver(true);
    ASSERT_TRUE(receiver.service.laneListening());
    RecordingRelay relay(static_cast<quint16>(receiver.port() + 1));
    ASSERT_TRUE(relay.server.isListening());
    QTemporaryDir source;
    QByteArray secret;
    for (int i = 0; secret.size() < 300000; ++i) {
        secret +=
            "contrase\xc3\xb1"
            "a secreta: hunter2 #" +
            QByteArray::number(i) + '\n';
    }
    const QString path = source.filePath(QStringLiteral("claves-privadas.txt"));
    writeFile(path, secret);
    // The sender's lane port is the relay's; its classic port below it answers nothing.
    Sender sender(static_cast<quint16>(relay.server.serverPort() - 1), true);
    ASSERT_TRUE(sender.session.chooseFile(path));
    sender.session.start(QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(waitUntil([&] { return !sender.ended.isEmpty() && !receiver.ended.isEmpty(); }));
    EXPECT_TRUE(sender.wentOverLane);
    EXPECT_EQ(readFile(receiver.folder() + QStringLiteral("claves-privadas.txt")), secret);
    EXPECT_GT(relay.captured.size(), secret.size());  // the file went through the relay
    for (const QByteArray& plain : {QByteArray("hunter2"), QByteArray("secreta"),
                                    QByteArray("claves-privadas"), QByteArray("RUVOLANE")}) {
        EXPECT_FALSE(relay.captured.contains(plain)) << plain.constData();
    }
}

// A sender of version 2 is answered in version 2: it offers one file (or pairs), and the
// frames of several entries, which its version has not, close the connection.
TEST(LaneHostile, AVersion2SenderOffersOneFileAndNoList) {
    struct Case {
        const char* what;
        QByteArray bytes;
        bool offered;
    };
    const Case cases[] = {
        {"one file", lanewire::greeting(2) + lanewire::offer("x.bin", 10), true},
        {"a text", lanewire::greeting(2) + entrieswire::text("hola"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Receiver receiver(true);
        receiver.acceptOffers = false;
        TlsPeer peer;
        ASSERT_TRUE(peer.open(static_cast<quint16>(receiver.port() + 1)));
        peer.write(c.bytes);
        QByteArray answer;
        EXPECT_TRUE(waitUntil([&] {
            answer += peer.readAll();
            return c.offered ? !receiver.offers.isEmpty()
                             : peer.state() == QAbstractSocket::UnconnectedState;
        }));
        EXPECT_TRUE(answer.startsWith(lanewire::greeting(2)));
        EXPECT_EQ(receiver.offers.size(), c.offered ? 1 : 0);
    }
}

// A peer on the lane that breaks its rules, speaking raw bytes.
TEST(LaneHostile, PeersThatBreakTheRulesAreClosedBeforeAnythingIsWritten) {
    using lanewire::Type;
    const QByteArray hello = lanewire::greeting();
    const QByteArray bigOffer = lanewire::offer("x.bin", 10);
    struct Case {
        const char* what;
        QByteArray bytes;
        bool greeted;  // the receiver answers the greeting before it closes
    };
    const Case cases[] = {
        {"another protocol", "GET / HTTP/1.1\r\n\r\n", false},
        {"version 0", lanewire::greeting(0), false},
        {"an unknown frame type", hello + lanewire::frame(Type(77)), true},
        {"a length past its type's bound", hello + QByteArray("\x01\x7f\xff\xff\xff", 5), true},
        {"data before any offer", hello + lanewire::frame(Type::Data, "abc"), true},
        {"an offer of ../x", hello + lanewire::offer("../x", 3), true},
        {"an offer of a hidden name", hello + lanewire::offer(".bashrc", 3), true},
        {"an offer with a slash", hello + lanewire::offer("a/b", 3), true},
        {"an offer with a control byte",
         hello + lanewire::offer("a\x01"
                                 "b",
                                 3),
         true},
        {"an offer of invalid UTF-8", hello + lanewire::offer("\xff\xfe", 3), true},
        {"a frame only a receiver sends", hello + lanewire::accept(0), true},
        {"a proof before any acceptance",
         hello + bigOffer + lanewire::frame(Type::Proof, QByteArray(32, 0)), true},
        {"a right-to-left override in the name", hello + lanewire::offer("factura\u202efdp.exe", 3),
         true},
        {"a zero-width space in the name", hello + lanewire::offer("a\u200bb.txt", 3), true},
        {"a line separator in the name", hello + lanewire::offer("a\u2028b.txt", 3), true},
        {"a version 1 greeting", lanewire::greeting(1) + bigOffer, false},
        {"a resume that ends no pause", hello + bigOffer + lanewire::frame(Type::Resume), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Receiver receiver(true);
        receiver.acceptOffers = false;  // nothing may be written before acceptance
        TlsPeer peer;
        ASSERT_TRUE(peer.open(static_cast<quint16>(receiver.port() + 1)));
        peer.write(c.bytes);
        QByteArray answer;
        EXPECT_TRUE(waitUntil([&] {
            answer += peer.readAll();
            return peer.state() == QAbstractSocket::UnconnectedState;
        }));
        EXPECT_EQ(answer.startsWith(hello), c.greeted);
        EXPECT_EQ(QDir(receiver.folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                  QStringList());
        EXPECT_EQ(receiver.service.state(), ReceivingService::State::Idle);
    }
}

// A sender on the lane speaking raw bytes to a receiver that accepts every offer.
struct RawSender {
    explicit RawSender(quint16 lanePort) { peer.open(lanePort); }
    // Reads until `frames` frames after the greeting came; their types and payloads.
    bool hear(int frames) {
        return waitUntil([&] {
            heard += peer.readAll();
            lanewire::FrameReader reader;
            reader.feed(
                QByteArrayView(heard).sliced(std::min(heard.size(), lanewire::kGreetingSize)));
            types.clear();
            payloads.clear();
            reader.drain([&](lanewire::Type type, const QByteArray& payload) {
                types.append(type);
                payloads.append(payload);
                return true;
            });
            return types.size() >= frames;
        });
    }
    // Greets and offers; true once the receiver's ACCEPT came.
    bool offer(const QByteArray& name, qint64 size) {
        peer.write(lanewire::greeting() + lanewire::offer(name, size));
        return hear(1) && types.first() == lanewire::Type::Accept;
    }
    // Proves `prefix`; the offset the receiver starts at, or -1.
    qint64 prove(const QByteArray& prefix) {
        peer.write(lanewire::frame(lanewire::Type::Proof, FileHash::of(prefix)));
        if (!hear(2) || types.at(1) != lanewire::Type::Start) {
            return -1;
        }
        return lanewire::parseOffset(payloads.at(1)).value_or(-1);
    }
    bool closed() {
        return waitUntil([&] {
            heard += peer.readAll();
            return peer.state() == QAbstractSocket::UnconnectedState;
        });
    }
    TlsPeer peer;
    QByteArray heard;
    QList<lanewire::Type> types;
    QList<QByteArray> payloads;
};

// After acceptance: data past the offered size, a second pause, small data frames that do
// not end the file, or a flood of pauses close the connection.
TEST(LaneHostile, AnAcceptedSenderThatBreaksTheRulesIsClosed) {
    using lanewire::Type;
    const QByteArray pause = lanewire::frame(Type::Pause);
    const QByteArray resume = lanewire::frame(Type::Resume);
    struct Case {
        const char* what;
        qint64 size;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"data past the size", 4, lanewire::frame(Type::Data, "12345")},
        {"a pause while paused", 4, pause + pause},
        {"one-byte data frames", 1000,
         lanewire::frame(Type::Data, "1") + lanewire::frame(Type::Data, "2")},
        {"a flood of pauses", 4, (pause + resume).repeated(PauseRate::kMost + 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Receiver receiver(true);
        RawSender raw(static_cast<quint16>(receiver.port() + 1));
        ASSERT_TRUE(raw.offer("d.bin", c.size));
        EXPECT_EQ(raw.payloads.first().size(), 8);  // the length only, nothing of the bytes
        ASSERT_EQ(raw.prove({}), 0);
        raw.peer.write(c.bytes);
        EXPECT_TRUE(raw.closed());
        ASSERT_TRUE(waitUntil([&] { return !receiver.ended.isEmpty(); }));
        EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::ConnectionError});
        EXPECT_EQ(QFileInfo(receiver.folder() + QStringLiteral("d.bin")).size(), 0);
    }
}

// The offset is the receiver's: the length of its file of that name, never less, and never
// with anything of its bytes. Only a sender that proves those bytes continues the file;
// any other gets a new file beside it, and the file stays as it was.
TEST(LaneHostile, ASenderLearnsNothingOfAFileItDidNotSendAndCannotWriteIntoIt) {
    const QByteArray secret = "usuario=ana\nclave=7h1s-is-n0t-for-y0u\n0123456789";
    struct Case {
        const char* what;
        qint64 offered;
        QByteArray proven;  // what the sender claims the file starts with
        qint64 accepted;    // the K it is told
        qint64 start;
        const char* written;  // where the data goes
    };
    const Case cases[] = {
        {"an offer shorter than the file", 1, {}, 0, 0, "creds (1).txt"},
        {"an offer as long as the file, a wrong guess", secret.size(), "x", secret.size(), 0,
         "creds (1).txt"},
        {"a longer offer, a wrong guess of the same length", secret.size() + 5,
         QByteArray(secret.size(), 'u'), secret.size(), 0, "creds (1).txt"},
        {"a longer offer that knows the file", secret.size() + 5, secret, secret.size(),
         secret.size(), "creds.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Receiver receiver(true);
        writeFile(receiver.folder() + QStringLiteral("creds.txt"), secret);
        RawSender raw(static_cast<quint16>(receiver.port() + 1));
        ASSERT_TRUE(raw.offer("creds.txt", c.offered));
        ASSERT_EQ(raw.payloads.first().size(), 8);
        EXPECT_EQ(lanewire::parseOffset(raw.payloads.first()), c.accepted);
        EXPECT_EQ(raw.prove(c.proven), c.start);
        const QByteArray rest(static_cast<qsizetype>(c.offered - c.start), 'z');
        if (!rest.isEmpty()) {
            raw.peer.write(lanewire::frame(lanewire::Type::Data, rest));
        }
        raw.peer.write(lanewire::done(QByteArray(lanewire::kHashSize, '\0')));
        ASSERT_TRUE(waitUntil([&] { return !receiver.ended.isEmpty(); }));
        if (c.start == 0) {
            EXPECT_EQ(readFile(receiver.folder() + QStringLiteral("creds.txt")), secret);
        }
        EXPECT_EQ(QFileInfo(receiver.folder() + QLatin1String(c.written)).size(), c.offered);
        EXPECT_EQ(receiver.service.targetPath(), receiver.folder() + QLatin1String(c.written));
    }
}

// Issue-free transfers in spite of a sender that ignores the receiving user's pause, and
// one that shuts its side of the connection right after DONE.
TEST(LaneHostile, TheReceiversPauseHoldsAndAHalfCloseAfterDoneEndsWell) {
    const QByteArray bytes = patternBytes(6 * 1024 * 1024, 31);
    const auto sendAll = [&](RawSender& raw) {
        for (qsizetype at = 0; at < bytes.size(); at += lanewire::kMaxData) {
            raw.peer.write(lanewire::frame(lanewire::Type::Data,
                                           QByteArrayView(bytes).sliced(at, lanewire::kMaxData)));
        }
        raw.peer.write(lanewire::done(FileHash::of(bytes)));
    };
    {
        SCOPED_TRACE("a sender that ignores the pause");
        Receiver receiver(true);
        RawSender raw(static_cast<quint16>(receiver.port() + 1));
        ASSERT_TRUE(raw.offer("p.bin", bytes.size()));
        ASSERT_EQ(raw.prove({}), 0);
        receiver.service.pauseByUser();
        sendAll(raw);
        QTest::qWait(500);
        EXPECT_TRUE(receiver.ended.isEmpty());
        EXPECT_LE(QFileInfo(receiver.folder() + QStringLiteral("p.bin")).size(), 4 * 1024 * 1024);
        receiver.service.resumeByUser();
        ASSERT_TRUE(waitUntil([&] { return !receiver.ended.isEmpty(); }));
        EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::Received});
    }
    {
        SCOPED_TRACE("a half-close after DONE");
        Receiver receiver(true);
        RawSender raw(static_cast<quint16>(receiver.port() + 1));
        ASSERT_TRUE(raw.offer("h.bin", bytes.size()));
        ASSERT_EQ(raw.prove({}), 0);
        sendAll(raw);
        ASSERT_TRUE(waitUntil(
            [&] { return raw.peer.bytesToWrite() == 0 && raw.peer.encryptedBytesToWrite() == 0; }));
        ::shutdown(static_cast<int>(raw.peer.socketDescriptor()), SHUT_WR);
        ASSERT_TRUE(waitUntil([&] { return !receiver.ended.isEmpty(); }));
        EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::Received});
        EXPECT_EQ(readFile(receiver.folder() + QStringLiteral("h.bin")), bytes);
    }
}

// Extra lane peers are told at once and let go within half a second, greeting or not.
TEST(LaneHostile, ExtraPeersAreDismissedAtOnce) {
    Receiver receiver(true);
    RawSender served(static_cast<quint16>(receiver.port() + 1));
    ASSERT_TRUE(served.offer("s.bin", 10));
    QElapsedTimer clock;
    clock.start();
    RawSender extra(static_cast<quint16>(receiver.port() + 1));  // says nothing
    ASSERT_TRUE(extra.closed());
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_EQ(extra.heard, lanewire::greeting() + lanewire::frame(lanewire::Type::Busy));
}

// A peer has six seconds from its connection to its offer, however it spends them.
TEST(LaneHostile, APeerThatGreetsLateAndOffersNothingIsClosedSixSecondsAfterItCame) {
    Receiver receiver(true);
    QElapsedTimer clock;
    clock.start();
    RawSender slow(static_cast<quint16>(receiver.port() + 1));
    QTest::qWait(4000);
    slow.peer.write(lanewire::greeting());
    ASSERT_TRUE(slow.closed());
    EXPECT_LT(clock.elapsed(), 7500);
    EXPECT_EQ(slow.heard, lanewire::greeting());
}

// A receiver that accepts and ends in the same write, while the sender still hashes its
// first bytes for the proof: the send ends once, as an error or a cancel, and the
// sender's work on the file dies with it.
TEST(LaneHostile, AReceiverThatAcceptsAndEndsAtOnceEndsTheSendCleanly) {
    using lanewire::Type;
    QTemporaryDir source;
    const QByteArray bytes = patternBytes(32 * 1024 * 1024, 13);
    writeFile(source.filePath(QStringLiteral("e.bin")), bytes);
    const struct {
        QByteArray ending;
        Outcome outcome;
    } cases[] = {
        {lanewire::frame(Type::Cancel), Outcome::CancelledByPeer},
        {lanewire::frame(Type::Busy), Outcome::ConnectionError},
        {lanewire::frame(Type::Decline), Outcome::ConnectionError},
        {lanewire::frame(Type(99)), Outcome::ConnectionError},
        {lanewire::result(lanewire::ResultCode::Ok), Outcome::ConnectionError},
        {lanewire::start(0), Outcome::ConnectionError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ending.toHex().toStdString());
        FakeLane fake;
        ASSERT_TRUE(fake.listen(QHostAddress::LocalHost, 0));
        QByteArray heard;
        QObject::connect(&fake, &QTcpServer::pendingConnectionAvailable, [&] {
            QTcpSocket* peer = fake.nextPendingConnection();
            QObject::connect(peer, &QTcpSocket::readyRead, [&, peer] {
                const bool first = heard.isEmpty();
                heard += peer->readAll();
                if (first) {
                    peer->write(lanewire::greeting());
                } else if (heard.size() > lanewire::kGreetingSize && !heard.contains("e.bin\x01")) {
                    heard += "e.bin\x01";  // answered once
                    peer->write(lanewire::accept(bytes.size()) + c.ending);
                }
            });
        });
        Sender sender(static_cast<quint16>(fake.serverPort() - 1), true);
        ASSERT_TRUE(sender.session.chooseFile(source.filePath(QStringLiteral("e.bin"))));
        sender.session.start(QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(waitUntil([&] { return !sender.ended.isEmpty(); }));
        QTest::qWait(300);  // the hash of the prefix would have come by now
        EXPECT_EQ(sender.ended, QList<Outcome>{c.outcome});
    }
}

// Hashing a large partial file is work the receiver can drop at once: a cancel while it
// runs neither waits for it nor hears from it afterwards.
TEST(LaneHostile, ACancelWhileALargePartialFileIsHashedIsImmediate) {
    Receiver receiver(true);
    const qint64 partial = qint64(4) << 30;
    {
        QFile file(receiver.folder() + QStringLiteral("big.bin"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(partial));  // sparse: no disk, but every byte to hash
    }
    RawSender raw(static_cast<quint16>(receiver.port() + 1));
    raw.peer.write(lanewire::greeting() + lanewire::offer("big.bin", partial * 2));
    ASSERT_TRUE(waitUntil([&] {
        return receiver.service.state() == ReceivingService::State::Asking ||
               receiver.questions.size() > 0;
    }));
    QTest::qWait(100);  // the hash is under way
    QElapsedTimer clock;
    clock.start();
    receiver.service.cancel();
    EXPECT_LT(clock.elapsed(), 1000);
    ASSERT_TRUE(waitUntil([&] { return !receiver.ended.isEmpty(); }));
    QTest::qWait(200);
    EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::Cancelled});
    EXPECT_EQ(QFileInfo(receiver.folder() + QStringLiteral("big.bin")).size(), partial);
}

TEST(OfferedName, IsStoredInNfcAndRefusedWhenItLooksLikeAnotherName) {
    const struct {
        QByteArray utf8;
        std::optional<QString> stored;
    } cases[] = {
        {"informe.pdf", QStringLiteral("informe.pdf")},
        {"cafe\xcc\x81.txt", QStringLiteral("caf\u00e9.txt")},  // NFD becomes NFC
        {"caf\xc3\xa9.txt", QStringLiteral("caf\u00e9.txt")},
        {"factura\xe2\x80\xae"
         "fdp.exe",
         std::nullopt},  // U+202E
        {"a\xe2\x81\xa6"
         "b",
         std::nullopt},  // U+2066
        {"a\xe2\x80\x8b"
         "b",
         std::nullopt},  // U+200B
        {"a\xef\xbb\xbf"
         "b",
         std::nullopt},  // U+FEFF
        {"a\xe2\x80\xa8"
         "b",
         std::nullopt},  // U+2028
        {"a\xe2\x80\xa9"
         "b",
         std::nullopt},  // U+2029
        {"..", std::nullopt},
        {"a/b", std::nullopt},
        {"\xff", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(offeredFileName(c.utf8), c.stored) << c.utf8.toHex().toStdString();
    }
    EXPECT_EQ(numberedName(QStringLiteral("informe.pdf"), 1), QStringLiteral("informe (1).pdf"));
    EXPECT_EQ(numberedName(QStringLiteral("LEEME"), 2), QStringLiteral("LEEME (2)"));
}

// A receiver on the lane that breaks its rules: the sender closes, and never reports success.
TEST(LaneHostile, ReceiversThatBreakTheRulesEndTheSendAsAnError) {
    using lanewire::Type;
    QTemporaryDir source;
    const QByteArray bytes = patternBytes(5000, 12);
    writeFile(source.filePath(QStringLiteral("h.bin")), bytes);
    struct Case {
        const char* what;
        QByteArray reply;  // after the greeting, once the offer is read
    };
    const Case cases[] = {
        {"an offset past the file", lanewire::accept(5001)},
        {"a start before any acceptance", lanewire::start(0)},
        {"a start at neither 0 nor K", lanewire::accept(100) + lanewire::start(50)},
        {"data, which only a sender sends", lanewire::frame(Type::Data, "x")},
        {"a result before the file was sent", lanewire::result(lanewire::ResultCode::Ok)},
        {"a resume that ends no pause", lanewire::frame(Type::Resume)},
        {"a length past its type's bound", QByteArray("\x02\x00\x10\x00\x00", 5)},
        {"an unknown frame type", lanewire::frame(Type(200))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeLane fake;
        ASSERT_TRUE(fake.listen(QHostAddress::LocalHost, 0));
        QByteArray heard;
        bool greeted = false;
        bool replied = false;
        QObject::connect(&fake, &QTcpServer::pendingConnectionAvailable, [&] {
            QTcpSocket* peer = fake.nextPendingConnection();
            QObject::connect(peer, &QTcpSocket::readyRead, [&, peer] {
                heard += peer->readAll();
                if (!greeted && heard.size() >= lanewire::kGreetingSize) {
                    greeted = true;
                    peer->write(lanewire::greeting());
                }
                if (!replied && heard.size() > lanewire::kGreetingSize) {  // the offer
                    replied = true;
                    peer->write(c.reply);
                }
            });
        });
        // The lane is the port after the sender's: the fake stands on it.
        Sender sender(static_cast<quint16>(fake.serverPort() - 1), true);
        ASSERT_TRUE(sender.session.chooseFile(source.filePath(QStringLiteral("h.bin"))));
        sender.session.start(QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(waitUntil([&] { return !sender.ended.isEmpty(); }));
        EXPECT_TRUE(sender.wentOverLane);
        EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::ConnectionError});
    }
}

TEST(LaneWire, FramesRoundTripAndBadHeadersAreRefusedForGood) {
    lanewire::FrameReader reader;
    const QByteArray stream = lanewire::offer("é.txt", 1234567890123) + lanewire::accept(42) +
                              lanewire::frame(lanewire::Type::Data, "xyz") +
                              lanewire::result(lanewire::ResultCode::HashMismatch);
    // Fed a byte at a time, the frames come out whole.
    for (const char c : stream) {
        reader.feed(QByteArrayView(&c, 1));
    }
    lanewire::Type type{};
    QByteArray payload;
    ASSERT_EQ(reader.next(type, payload), lanewire::FrameReader::Status::Frame);
    const auto offer = lanewire::parseOffer(payload);
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->name, QByteArray("é.txt"));
    EXPECT_EQ(offer->size, 1234567890123);
    ASSERT_EQ(reader.next(type, payload), lanewire::FrameReader::Status::Frame);
    EXPECT_EQ(type, lanewire::Type::Accept);
    EXPECT_EQ(lanewire::parseOffset(payload), 42);
    ASSERT_EQ(reader.next(type, payload), lanewire::FrameReader::Status::Frame);
    EXPECT_EQ(type, lanewire::Type::Data);
    EXPECT_EQ(payload, QByteArray("xyz"));
    ASSERT_EQ(reader.next(type, payload), lanewire::FrameReader::Status::Frame);
    EXPECT_EQ(type, lanewire::Type::Result);
    EXPECT_EQ(reader.next(type, payload), lanewire::FrameReader::Status::NeedMore);

    for (const QByteArray& bad :
         {QByteArray("\x00\x00\x00\x00\x00", 5), QByteArray("\x05\x00\x04\x00\x01", 5),
          QByteArray("\x05\x00\x00\x00\x00", 5), QByteArray("\x09\x00\x00\x00\x05", 5)}) {
        lanewire::FrameReader r;
        r.feed(bad);
        EXPECT_EQ(r.next(type, payload), lanewire::FrameReader::Status::Bad) << bad.toHex().data();
        r.feed(lanewire::frame(lanewire::Type::Pause));
        EXPECT_EQ(r.next(type, payload), lanewire::FrameReader::Status::Bad);
    }
}

// Read from a device that holds the stream in pieces, under small and large budgets, the
// frames are those the stream holds; a payload read straight from the device arrives whole
// and a bad header still breaks the reading.
TEST(LaneWire, ReadingFromADeviceGivesTheFramesWhateverPiecesItHolds) {
    QByteArray data(lanewire::kMaxData, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 7 % 253);
    }
    const QByteArray stream = lanewire::offer("a.bin", 5) + lanewire::frame(lanewire::Type::Pause) +
                              lanewire::dataHeader(data.size()) + data +
                              lanewire::frame(lanewire::Type::Data, "xyz") +
                              lanewire::done(FileHash::of(data));
    for (const auto& [piece, budget] : std::vector<std::pair<qsizetype, qint64>>{
             {1, 1}, {7, 3}, {4096, 1 << 20}, {stream.size(), 5}, {stream.size(), 1 << 20}}) {
        QBuffer device;
        device.open(QIODevice::ReadWrite);
        lanewire::FrameReader reader;
        QList<QPair<lanewire::Type, QByteArray>> frames;
        for (qsizetype at = 0; at < stream.size();) {
            const qint64 readAt = device.pos();
            device.buffer().append(stream.sliced(at, std::min(piece, stream.size() - at)));
            device.seek(readAt);
            at += piece;
            while (reader.readFrom(device, budget, [&](auto type, const QByteArray& payload) {
                frames.append({type, payload});
                return true;
            }) == lanewire::FrameReader::Read::Framed) {
            }
        }
        ASSERT_EQ(frames.size(), 5) << piece << " " << budget;
        EXPECT_EQ(frames[0].first, lanewire::Type::Offer);
        EXPECT_EQ(frames[1].first, lanewire::Type::Pause);
        EXPECT_EQ(frames[2].first, lanewire::Type::Data);
        EXPECT_TRUE(frames[2].second == data);
        EXPECT_EQ(frames[3].second, QByteArray("xyz"));
        EXPECT_EQ(frames[4].second, FileHash::of(data));
        EXPECT_EQ(reader.pending(), 0);
    }
    QBuffer bad;
    bad.setData(lanewire::frame(lanewire::Type::Pause) + QByteArray("\x05\x00\x04\x00\x01", 5));
    bad.open(QIODevice::ReadOnly);
    lanewire::FrameReader reader;
    int frames = 0;
    EXPECT_EQ(reader.readFrom(bad, 1 << 20, [&](auto, const auto&) { return ++frames > 0; }),
              lanewire::FrameReader::Read::Broken);
    EXPECT_EQ(frames, 1);
}

// BLAKE3 as everyone computes it (the values b3sum prints), whichever pieces the bytes come
// in: short input, and one long enough for the wide kernels, fed unevenly, with a look at the
// hash on the way.
TEST(FileHash, IsBlake3WhateverPiecesTheBytesComeIn) {
    EXPECT_EQ(FileHash::of("abc").toHex(),
              QByteArray("6437b3ac38465133ffb63b75273a8db548c558465d79db03fd359c6cd5bd9d85"));
    EXPECT_EQ(FileHash().digestSoFar().toHex(),
              QByteArray("af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262"));
    QByteArray bytes(3 * 1024 * 1024 + 5, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i % 251);
    }
    FileHash hash;
    qsizetype at = 0;
    for (const qsizetype piece : {1, 63, 1000, 4096, 65537, 1 << 20}) {
        hash.add(QByteArrayView(bytes).sliced(at, piece));
        at += piece;
        if (at == 1000 + 64) {
            EXPECT_EQ(hash.digestSoFar(), FileHash::of(QByteArrayView(bytes).first(at)));
        }
    }
    hash.add(QByteArrayView(bytes).sliced(at));
    EXPECT_EQ(FileHash::of(QByteArrayView(bytes).first(1000)).toHex(),
              QByteArray("b43670a52d1af24abdac5d2c3ed19ff4e62b60a618e823ad555888b1b0b91cff"));
    EXPECT_EQ(hash.digestSoFar().toHex(),
              QByteArray("a7bb55bed0c04f58879d1fc1cafb27e14e931f4411fe63baf5b2d5a60357bffb"));
}

}  // namespace
