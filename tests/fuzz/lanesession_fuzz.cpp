// Fuzzes both ends of the fast lane as whole sessions, not only their framing: a
// LaneReceivingSession or a LaneSendingSession (the first byte chooses) talks over loopback
// (over TLS, as the lane always runs) with a peer that sends what the input says, frame by
// frame, in every phase, mixed with
// the local user's pauses, resumes, cancels and answers. Whatever comes, a session ends at
// most once and is silent afterwards, nothing is written before the start is agreed, and a
// file already in the receive folder keeps its bytes unless the peer proved them.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QSslSocket>
#include <QTemporaryDir>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/lanereceivingsession.h"
#include "engine/lanesendingsession.h"
#include "fuzzcheck.h"
#include "identity/identity.h"
#include "identity/lanetls.h"
#include "identity/securelaneserver.h"
#include "lane/filehash.h"
#include "lane/lanewire.h"

namespace {

const QByteArray kThere = QByteArray("the start of a file already there, not to be lost");

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "fuzz_lanesession";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

// One identity for both ends of every run: making a key costs far more than a run.
const Identity& identity() {
    static QTemporaryDir folder;
    static const Identity made = [] {
        QString error;
        auto loaded = Identity::loadOrCreate(folder.path(), &error);
        if (!loaded) {
            qFatal("no identity: %s", qPrintable(error));
        }
        return *loaded;
    }();
    return made;
}

void spin(int ms) {
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
}

// Reads the input a byte at a time; zeros once it is used up.
struct Input {
    QByteArrayView bytes;
    qsizetype at = 0;
    bool done() const { return at >= bytes.size(); }
    quint8 next() { return done() ? 0 : static_cast<quint8>(bytes[at++]); }
};

// A frame the peer sends, of a type and a payload the input picks among those that matter.
QByteArray peerFrame(Input& in, qint64 size, bool toReceiver) {
    using lanewire::Type;
    const quint8 pick = in.next();
    switch (pick % 13) {
        case 0:
            return toReceiver ? lanewire::offer("f.bin", size)
                              : lanewire::accept(in.next() % 3 == 0 ? size : in.next());
        case 1:
            return toReceiver ? lanewire::frame(Type::Proof,
                                                FileHash::of(in.next() % 2 ? kThere : QByteArray()))
                              : lanewire::start(in.next() % 2 ? 0 : in.next());
        case 2: {
            const qsizetype length = in.next() % 2 ? lanewire::kMinData : 1 + in.next();
            return lanewire::frame(Type::Data, QByteArray(length, 'd'));
        }
        case 3:
            return lanewire::frame(Type::Pause);
        case 4:
            return lanewire::frame(Type::Resume);
        case 5:
            return lanewire::frame(Type::Cancel);
        case 6:
            return lanewire::done(FileHash::of(QByteArray(size, 'd')));
        case 7:
            return lanewire::result(static_cast<lanewire::ResultCode>(in.next() % 4));
        case 8:
            return lanewire::frame(static_cast<Type>(in.next()));
        case 9:
            return lanewire::frame(Type::Decline);
        case 10:
            return lanewire::frame(Type::Busy);
        case 11:
            // A pairing message (of any kind) instead of an offer, or a pairing's answer.
            return in.next() % 2 ? lanewire::pair(QByteArray(lanewire::kPairMessageSize,
                                                             static_cast<char>(in.next() % 4)))
                                 : lanewire::pairResult(in.next() % 2 != 0);
        default: {
            // Raw bytes: a broken header, a greeting out of place.
            QByteArray raw;
            for (int n = in.next() % 8; n > 0; --n) {
                raw.append(static_cast<char>(in.next()));
            }
            return raw;
        }
    }
}

struct Ends {
    int ended = 0;
    int afterEnd = 0;
    void signal() {
        if (ended > 0) {
            ++afterEnd;
        }
    }
};

void fuzzReceiver(Input& in, SecureLaneServer& server) {
    QTemporaryDir folder;
    const QString there = folder.filePath(QStringLiteral("f.bin"));
    const bool seeded = in.next() % 2 == 0;
    if (seeded) {
        QFile file(there);
        file.open(QIODevice::WriteOnly);
        file.write(kThere);
    }
    const qint64 size = kThere.size() + (in.next() % 2 ? 0 : lanewire::kMinData);
    std::unique_ptr<QSslSocket> peerSocket(lanetls::clientSocket(identity(), lanetls::anyPeer()));
    QSslSocket& peer = *peerSocket;
    peer.connectToHostEncrypted(QStringLiteral("127.0.0.1"), server.serverPort());
    for (int i = 0; i < 500 && !server.hasPendingConnections(); ++i) {
        spin(1);
    }
    QTcpSocket* socket = server.nextPendingConnection();
    if (socket == nullptr) {
        return;
    }
    Ends ends;
    bool proved = false;
    auto* session = new LaneReceivingSession(socket, in.next() % 16 == 0);
    QObject::connect(session, &LaneReceivingSession::ended, [&] {
        ends.signal();
        ++ends.ended;
    });
    QObject::connect(session, &LaneReceivingSession::pairingAsked,
                     [&](QTcpSocket* handed, const QByteArray&) {
                         // The session is over: the connection is the pairing's now.
                         ends.signal();
                         ++ends.ended;
                         handed->deleteLater();
                     });
    QObject::connect(session, &LaneReceivingSession::started, [&] { ends.signal(); });
    QObject::connect(session, &LaneReceivingSession::progress, [&] { ends.signal(); });
    peer.write(lanewire::greeting());
    while (!in.done()) {
        const quint8 step = in.next();
        switch (step % 8) {
            case 0:
                session->accept(folder.path() + QLatin1Char('/'), session->offeredName().isEmpty()
                                                                      ? QStringLiteral("f.bin")
                                                                      : session->offeredName());
                break;
            case 1:
                session->pauseByUser();
                break;
            case 2:
                session->resumeByUser();
                break;
            case 3:
                if (in.next() % 8 == 0) {
                    session->cancel();
                } else {
                    session->decline();
                }
                break;
            case 4:
                spin(2);
                break;
            default: {
                const QByteArray frame = peerFrame(in, size, true);
                proved =
                    proved || frame == lanewire::frame(lanewire::Type::Proof, FileHash::of(kThere));
                peer.write(frame);
                break;
            }
        }
        spin(0);
    }
    spin(5);
    FUZZ_CHECK(ends.ended <= 1);
    FUZZ_CHECK(ends.afterEnd == 0);
    delete session;
    if (seeded) {
        QFile file(there);
        file.open(QIODevice::ReadOnly);
        const QByteArray now = file.readAll();
        // Kept as it was; only a peer that proved its bytes may have added to them.
        FUZZ_CHECK(now.startsWith(kThere));
        FUZZ_CHECK(proved || now == kThere);
    }
}

void fuzzSender(Input& in, SecureLaneServer& server) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("f.bin"));
    const QByteArray bytes(static_cast<qsizetype>(in.next()) * 1024, 'd');
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }
    const OutgoingFile file{path, QStringLiteral("f.bin"), bytes.size()};
    Ends ends;
    auto* session = new LaneSendingSession(file, identity());
    QObject::connect(session, &LaneSendingSession::ended, [&] {
        ends.signal();
        ++ends.ended;
    });
    QObject::connect(session, &LaneSendingSession::unavailable, [&] {
        ends.signal();
        ++ends.ended;
    });
    QObject::connect(session, &LaneSendingSession::started, [&] { ends.signal(); });
    QObject::connect(session, &LaneSendingSession::progress, [&] { ends.signal(); });
    session->start(QHostAddress::LocalHost, server.serverPort());
    for (int i = 0; i < 500 && !server.hasPendingConnections(); ++i) {
        spin(1);
    }
    std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
    if (!peer) {
        delete session;
        return;
    }
    if (in.next() % 16 != 0) {
        peer->write(lanewire::greeting());
    }
    while (!in.done()) {
        const quint8 step = in.next();
        switch (step % 8) {
            case 0:
                session->pauseByUser();
                break;
            case 1:
                session->resumeByUser();
                break;
            case 2:
                if (in.next() % 8 == 0) {
                    session->cancel();
                }
                break;
            case 3:
                spin(2);
                break;
            default:
                peer->write(peerFrame(in, bytes.size(), false));
                peer->readAll();
                break;
        }
        spin(0);
    }
    spin(5);
    FUZZ_CHECK(ends.ended <= 1);
    FUZZ_CHECK(ends.afterEnd == 0);
    delete session;
    spin(0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    app();
    static const bool ignored = [] {
        std::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)ignored;
    SecureLaneServer server(identity(), lanetls::anyPeer());
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        return 0;
    }
    Input in{QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size))};
    if (in.next() % 2 == 0) {
        fuzzReceiver(in, server);
    } else {
        fuzzSender(in, server);
    }
    return 0;
}
