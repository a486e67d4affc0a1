// Fuzzes both ends of an offer of several entries or of a text on the fast lane as whole
// sessions: a LaneReceivingSession or a LaneSendingSession of entries (the first byte
// chooses) talks over loopback and TLS with a peer that sends the entries' frames the input
// picks, in every phase (before the list, between its pieces, before and after the plan,
// inside and between files, after the end), mixed with the local user's answers, pauses,
// resumes and cancels. Whatever comes, a session ends at most once and is silent afterwards,
// nothing lands outside the receive folder, and a file already there keeps its bytes unless
// the peer proved them.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSslSocket>
#include <QTemporaryDir>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/lanereceivingsession.h"
#include "engine/lanesendingsession.h"
#include "engine/outgoingentries.h"
#include "fuzzcheck.h"
#include "identity/identity.h"
#include "identity/lanetls.h"
#include "identity/securelaneserver.h"
#include "lane/entries/entrieswire.h"
#include "lane/entries/manifest.h"
#include "lane/filehash.h"
#include "lane/lanewire.h"

namespace {

const QByteArray kThere = QByteArray("the start of a file already there, not to be lost");

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "fuzz_entriessession";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

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

struct Input {
    QByteArrayView bytes;
    qsizetype at = 0;
    bool done() const { return at >= bytes.size(); }
    quint8 next() { return done() ? 0 : static_cast<quint8>(bytes[at++]); }
};

struct Ends {
    int ended = 0;
    int afterEnd = 0;
    void signal() {
        if (ended > 0) {
            ++afterEnd;
        }
    }
};

// The list the fuzzed peer offers: a folder "d" with "d/a" (which the receive folder may
// hold a start of) and "d/b", of sizes the input picks.
entries::Manifest listOf(qint64 sizeA, qint64 sizeB) {
    entries::Manifest list;
    list.entries.push_back({entries::EntryKind::Folder, "d", 0, 0});
    list.entries.push_back({entries::EntryKind::File, "d/a", sizeA, 1000000000});
    list.entries.push_back({entries::EntryKind::File, "d/b", sizeB, 2000000000});
    return list;
}

QByteArray raw(Input& in) {
    QByteArray bytes;
    for (int n = in.next() % 8; n > 0; --n) {
        bytes.append(static_cast<char>(in.next()));
    }
    return bytes;
}

// A frame a sender of entries may send (or should not), with fields the input picks.
QByteArray senderFrame(Input& in, const entries::Manifest& list) {
    using lanewire::Type;
    const quint32 index = in.next() % 4;
    switch (in.next() % 14) {
        case 0: {
            const QList<QByteArray> frames =
                entrieswire::entriesFrames(entries::encodeManifest(list));
            return frames.front();
        }
        case 1:
            return lanewire::frame(Type::Entries, QByteArray(1, char(in.next() % 3)) + raw(in));
        case 2:
            return lanewire::frame(Type::Text, in.next() % 2 ? QByteArray("hola") : raw(in));
        case 3:
            return entrieswire::proof(index, FileHash::of(in.next() % 2 ? kThere : QByteArray()));
        case 4:
            return entrieswire::file(index, in.next() % 2 ? 0 : kThere.size());
        case 5: {
            const qsizetype length = in.next() % 2 ? lanewire::kMinData : 1 + in.next();
            return lanewire::frame(Type::Data, QByteArray(length, 'd'));
        }
        case 6:
            return entrieswire::fileDone(
                index, FileHash::of(QByteArray(
                           list.entries.size() > index ? list.entries[index].size : 0, 'd')));
        case 7:
            return entrieswire::fileSkip(index);
        case 8:
            return entrieswire::end();
        case 9:
            return lanewire::frame(Type::Pause);
        case 10:
            return lanewire::frame(Type::Resume);
        case 11:
            return lanewire::frame(Type::Cancel);
        case 12:
            return lanewire::frame(static_cast<Type>(in.next()));
        default:
            return raw(in);
    }
}

// A frame a receiver of entries may send (or should not).
QByteArray receiverFrame(Input& in) {
    using entrieswire::PlanState;
    using lanewire::Type;
    const quint32 index = in.next() % 4;
    switch (in.next() % 12) {
        case 0:
            return entrieswire::plan({});
        case 1:
            return entrieswire::plan({{index, PlanState(in.next() % 3), qint64(in.next())}});
        case 2:
            return entrieswire::plan(
                {{1, PlanState::Prove, qint64(in.next() % 8)}, {2, PlanState::Refuse, 0}});
        case 3:
            return entrieswire::start(in.next() % 2 ? std::vector<quint32>{}
                                                    : std::vector<quint32>{index});
        case 4:
            return entrieswire::fileResult(index, entrieswire::FileCode(in.next() % 5));
        case 5:
            return lanewire::result(static_cast<lanewire::ResultCode>(in.next() % 4));
        case 6:
            return lanewire::frame(Type::Pause);
        case 7:
            return lanewire::frame(Type::Resume);
        case 8:
            return lanewire::frame(Type::Cancel);
        case 9:
            return lanewire::frame(in.next() % 2 ? Type::Decline : Type::Busy);
        case 10:
            return lanewire::frame(static_cast<Type>(in.next()));
        default:
            return raw(in);
    }
}

void fuzzReceiver(Input& in, SecureLaneServer& server) {
    QTemporaryDir top;
    const QString folder = top.filePath(QStringLiteral("in"));
    QDir().mkpath(folder + QStringLiteral("/d"));
    const QString there = folder + QStringLiteral("/d/a");
    const bool seeded = in.next() % 2 == 0;
    if (seeded) {
        QFile file(there);
        file.open(QIODevice::WriteOnly);
        file.write(kThere);
    }
    const entries::Manifest list =
        listOf(kThere.size() + (in.next() % 2 ? 0 : lanewire::kMinData), in.next() % 3);
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
    auto* session = new LaneReceivingSession(socket, false);
    QObject::connect(session, &LaneReceivingSession::ended, [&] {
        ends.signal();
        ++ends.ended;
    });
    QObject::connect(session, &LaneReceivingSession::started, [&] { ends.signal(); });
    QObject::connect(session, &LaneReceivingSession::progress, [&] { ends.signal(); });
    QObject::connect(session, &LaneReceivingSession::fileEnded, [&] { ends.signal(); });
    peer.write(lanewire::greeting());
    if (in.next() % 4 != 0) {
        peer.write(entrieswire::entriesFrames(entries::encodeManifest(list)).front());
    }
    while (!in.done()) {
        switch (in.next() % 8) {
            case 0:
                session->accept(folder + QLatin1Char('/'), {});
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
                const QByteArray frame = senderFrame(in, list);
                proved = proved || frame == entrieswire::proof(1, FileHash::of(kThere));
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
    spin(0);
    // Nothing outside the receive folder: only "in" in the folder above it.
    FUZZ_CHECK(QDir(top.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden) ==
               QStringList{QStringLiteral("in")});
    if (seeded) {
        QFile file(there);
        file.open(QIODevice::ReadOnly);
        const QByteArray now = file.readAll();
        FUZZ_CHECK(now.startsWith(kThere));
        FUZZ_CHECK(proved || now == kThere);
    }
}

void fuzzSender(Input& in, SecureLaneServer& server) {
    QTemporaryDir folder;
    QDir().mkpath(folder.filePath(QStringLiteral("d")));
    for (const char* name : {"d/a", "d/b"}) {
        QFile file(folder.filePath(QString::fromLatin1(name)));
        file.open(QIODevice::WriteOnly);
        file.write(QByteArray(static_cast<qsizetype>(in.next() % 4) * 40000, 'd'));
    }
    const bool text = in.next() % 4 == 0;
    auto offered = std::make_shared<OutgoingEntries>(
        text ? OutgoingEntries::ofText(QStringLiteral("hola"))
             : OutgoingEntries::collect({folder.filePath(QStringLiteral("d"))}));
    Ends ends;
    auto* session = new LaneSendingSession(std::move(offered), identity());
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
    QObject::connect(session, &LaneSendingSession::fileEnded, [&] { ends.signal(); });
    session->start(QHostAddress::LocalHost, server.serverPort());
    for (int i = 0; i < 500 && !server.hasPendingConnections(); ++i) {
        spin(1);
    }
    std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
    if (!peer) {
        delete session;
        return;
    }
    peer->write(lanewire::greeting(in.next() % 8 == 0 ? 2 : lanewire::kVersion));
    while (!in.done()) {
        switch (in.next() % 8) {
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
                peer->write(receiverFrame(in));
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
