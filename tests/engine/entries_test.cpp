// Offers of several entries and of a text on the fast lane, between a sending session and a
// receiving service over loopback: trees arrive whole with their times, a send cut short
// is completed without sending again what arrived, hostile lists and frame sequences are
// refused with nothing written, and peers that take one file per offer get each file in
// turn.

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSslSocket>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>

#include "identity/lanetls.h"
#include "identity/securelaneserver.h"
#include "identity/tlspeerguard.h"
#include "lane/entries/entrieswire.h"
#include "lane/entries/manifest.h"
#include "lane/filehash.h"
#include "lane/lanewire.h"
#include "rolefixtures.h"

namespace {

using entries::Entry;
using entries::EntryKind;
using entries::Manifest;

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

void setModified(const QString& path, qint64 ns) {
    const timespec times[2] = {{0, UTIME_OMIT}, {time_t(ns / 1000000000), long(ns % 1000000000)}};
    ASSERT_EQ(::utimensat(AT_FDCWD, native(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// Everything under `root` as lstat sees it: 'f' file (with content), 'd' folder, 'l' link,
// with the modification time of files and folders.
struct Node {
    char kind;
    QByteArray content;
    qint64 modifiedNs;
    friend bool operator==(const Node&, const Node&) = default;
};
std::map<QString, Node> snapshot(const QString& root) {
    std::map<QString, Node> nodes;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat status {};
        EXPECT_EQ(::lstat(native(path).constData(), &status), 0);
        const qint64 ns = qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
        Node node{'p', {}, 0};
        if (S_ISLNK(status.st_mode)) {
            node = {'l', QFile::symLinkTarget(path).toUtf8(), 0};
        } else if (S_ISDIR(status.st_mode)) {
            node = {'d', {}, ns};
        } else if (S_ISREG(status.st_mode)) {
            node = {'f', readFile(path), ns};
        }
        nodes[QDir(root).relativeFilePath(path)] = node;
    }
    return nodes;
}

QStringList folderContent(const QString& folder) {
    QStringList all;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        all.append(it.next());
    }
    return all;
}

// Records the per-file reports of either role.
struct FileLog {
    template <typename Role>
    void watch(Role* role) {
        QObject::connect(role, &Role::fileStarted,
                         [this](const QString& path, qint64) { started.append(path); });
        QObject::connect(role, &Role::fileEnded, [this](const QString& path, FileVerdict v) {
            ended[path] = v;
            order.append(path);
        });
    }
    QStringList started;
    std::map<QString, FileVerdict> ended;
    QStringList order;
};

// A peer on the lane speaking raw bytes inside TLS, with the test program's identity.
struct RawPeer : QSslSocket {
    RawPeer() {
        setSslConfiguration(lanetls::configuration(testLaneIdentity()->identity()));
        new TlsPeerGuard(this, lanetls::anyPeer(), lanetls::kHandshakeTimeoutMs);
    }
    bool open(quint16 port) {
        connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        return waitUntil([this] { return isEncrypted() || state() == UnconnectedState; }) &&
               isEncrypted();
    }
    bool closed(int ms = 10000) {
        return waitUntil(
            [this] {
                heard += readAll();
                return state() == UnconnectedState;
            },
            ms);
    }
    QByteArray heard;
};

class EntriesTest : public ::testing::Test {
protected:
    EntriesTest() {
        sent.watch(&sender.session);
        got.watch(&receiver.service);
    }
    Receiver receiver{true};
    Sender sender{receiver.port(), true};
    QTemporaryDir source;
    FileLog sent;
    FileLog got;

    QString src(const QString& relative) const { return source.filePath(relative); }
    QString dst(const QString& relative) const { return receiver.folder() + relative; }
    void put(const QString& relative, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(src(relative)).path());
        writeFile(src(relative), bytes);
    }
    void sendAll(const QStringList& relatives) {
        QStringList paths;
        for (const QString& r : relatives) {
            paths.append(src(r));
        }
        sender.ended.clear();
        receiver.ended.clear();
        ASSERT_TRUE(sender.session.chooseFiles(paths));
        sender.session.start(QStringLiteral("127.0.0.1"));
    }
    bool bothEnded() {
        return waitUntil([&] { return !sender.ended.isEmpty() && !receiver.ended.isEmpty(); });
    }
};

TEST_F(EntriesTest, ATreeArrivesWholeWithItsTimesAndNoLink) {
    ASSERT_TRUE(receiver.service.laneListening());
    put(QStringLiteral("árbol/a.bin"), patternBytes(300000, 1));
    put(QStringLiteral("árbol/vacío.txt"), {});
    put(QStringLiteral("árbol/sub/niño/ü.bin"), patternBytes(70000, 2));
    put(QStringLiteral("árbol/sub/b.bin"), patternBytes(5 * 1024 * 1024 + 3, 3));
    put(QStringLiteral("suelto.txt"), "un archivo suelto");
    ASSERT_TRUE(QDir().mkpath(src(QStringLiteral("árbol/carpeta vacía"))));
    QTemporaryDir outside;
    writeFile(outside.filePath(QStringLiteral("secreto")), "fuera");
    ASSERT_EQ(::symlink(native(outside.filePath(QStringLiteral("secreto"))).constData(),
                        native(src(QStringLiteral("árbol/enlace"))).constData()),
              0);
    // Times in the past, folders last (writing into a folder changes its time).
    qint64 ns = 1600000000LL * 1000000000 + 123456789;
    for (const char* path :
         {"árbol/a.bin", "árbol/vacío.txt", "árbol/sub/niño/ü.bin", "árbol/sub/b.bin", "suelto.txt",
          "árbol/carpeta vacía", "árbol/sub/niño", "árbol/sub", "árbol"}) {
        setModified(src(QString::fromUtf8(path)), ns += 1000000007);
    }
    sendAll({QStringLiteral("árbol"), QStringLiteral("suelto.txt")});
    ASSERT_TRUE(sender.session.entries());
    ASSERT_EQ(sender.session.entries()->skipped.size(), 1U);  // the link, reported
    EXPECT_EQ(sender.session.entries()->skipped[0].reason, entries::SkipReason::Link);
    ASSERT_TRUE(bothEnded());
    EXPECT_TRUE(sender.wentOverLane);
    EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::Sent});
    EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::Received});
    const ReceivingService::Offer& offer = receiver.offers.last();
    EXPECT_EQ(offer.kind, TransferOffer::Kind::Entries);
    EXPECT_EQ(offer.fileCount, 5);
    EXPECT_EQ(offer.folderCount, 4);
    EXPECT_EQ(offer.size, 300000 + 70000 + 5 * 1024 * 1024 + 3 + 17);
    EXPECT_EQ(offer.name, QStringLiteral("árbol"));

    std::map<QString, Node> expected = snapshot(source.path());
    expected.erase(QStringLiteral("árbol/enlace"));
    EXPECT_EQ(snapshot(receiver.dir.path()), expected);
    EXPECT_EQ(sent.started.size(), 5);
    EXPECT_EQ(got.ended.size(), 5U);
    for (const auto& [path, verdict] : sent.ended) {
        EXPECT_EQ(verdict, FileVerdict::Arrived) << path.toStdString();
    }
    EXPECT_EQ(readFile(outside.filePath(QStringLiteral("secreto"))), QByteArray("fuera"));
}

// A send cut short (the sending program gone half-way, its connection dropped without a
// word) and made again completes every file; what had arrived is not sent again and a file
// cut half-way goes on from where it was cut.
TEST_F(EntriesTest, ASendCutShortAndRepeatedCompletesWithoutSendingFinishedFilesAgain) {
    for (int i = 0; i < 6; ++i) {
        put(QStringLiteral("lote/%1.bin").arg(i), patternBytes(6 * 1024 * 1024, 10 + i));
    }
    {
        auto killed = std::make_unique<Sender>(receiver.port(), true);
        ASSERT_TRUE(killed->session.chooseFiles({src(QStringLiteral("lote"))}));
        killed->session.start(QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(waitUntil([&] { return got.ended.size() >= 2; }));
        killed.reset();
    }
    ASSERT_TRUE(waitUntil([&] { return !receiver.ended.isEmpty(); }));
    EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::ConnectionError});
    const std::map<QString, FileVerdict> arrived = got.ended;
    ASSERT_LT(arrived.size(), 6U);

    sent = FileLog();
    got = FileLog();
    sent.watch(&sender.session);
    got.watch(&receiver.service);
    sendAll({QStringLiteral("lote")});
    ASSERT_TRUE(bothEnded());
    EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::Sent});
    EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::Received});
    for (int i = 0; i < 6; ++i) {
        const QString path = QStringLiteral("lote/%1.bin").arg(i);
        EXPECT_EQ(readFile(dst(path)), patternBytes(6 * 1024 * 1024, 10 + i)) << i;
        if (arrived.contains(path)) {
            EXPECT_EQ(sent.ended[path], FileVerdict::AlreadyThere) << i;
            EXPECT_FALSE(sent.started.contains(path)) << i;
        } else {
            // Written whole just before the connection dropped, its result unsaid: it is
            // found whole now.
            EXPECT_TRUE(sent.ended[path] == FileVerdict::Arrived ||
                        sent.ended[path] == FileVerdict::AlreadyThere)
                << i;
        }
    }
    // A file cut half-way was continued, not written again beside its start.
    EXPECT_EQ(QDir(dst(QStringLiteral("lote"))).entryList(QDir::Files).size(), 6);
}

// A file whose name is held by a link or a folder at the receiver is reported by name; the
// others still arrive, and nothing is written through the link.
TEST_F(EntriesTest, AFileThatCannotArriveIsReportedByNameAndTheOthersArrive) {
    put(QStringLiteral("c/uno.txt"), "uno");
    put(QStringLiteral("c/dos.txt"), "dos");
    put(QStringLiteral("c/tres.txt"), "tres");
    put(QStringLiteral("c/cuatro.txt"), "cuatro");
    QTemporaryDir outside;
    writeFile(outside.filePath(QStringLiteral("v")), "intacto");
    ASSERT_TRUE(QDir().mkpath(dst(QStringLiteral("c/tres.txt"))));
    ASSERT_EQ(::symlink(native(outside.filePath(QStringLiteral("v"))).constData(),
                        native(dst(QStringLiteral("c/dos.txt"))).constData()),
              0);
    writeFile(dst(QStringLiteral("c/cuatro.txt")), "otro archivo mas largo");  // kept; beside
    sendAll({QStringLiteral("c")});
    ASSERT_TRUE(bothEnded());
    EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::Incomplete});
    EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::Incomplete});
    EXPECT_EQ(sent.ended[QStringLiteral("c/dos.txt")], FileVerdict::NotCreated);
    EXPECT_EQ(sent.ended[QStringLiteral("c/tres.txt")], FileVerdict::NotCreated);
    EXPECT_EQ(sent.ended[QStringLiteral("c/uno.txt")], FileVerdict::Arrived);
    EXPECT_EQ(got.ended[QStringLiteral("c/dos.txt")], FileVerdict::NotCreated);
    EXPECT_EQ(readFile(dst(QStringLiteral("c/uno.txt"))), QByteArray("uno"));
    EXPECT_EQ(readFile(outside.filePath(QStringLiteral("v"))), QByteArray("intacto"));
    EXPECT_EQ(readFile(dst(QStringLiteral("c/cuatro.txt"))), QByteArray("otro archivo mas largo"));
    EXPECT_EQ(readFile(dst(QStringLiteral("c/cuatro (1).txt"))), QByteArray("cuatro"));
}

// A view that ends the transfer from its handler of a file's report (the first file whose
// name is refused, or the first that arrives) ends it once, and nothing is reported after.
TEST_F(EntriesTest, EndingTheTransferFromAFileReportEndsItOnce) {
    for (int i = 0; i < 5; ++i) {
        put(QStringLiteral("v/%1.txt").arg(i), QByteArray(70000 + i, 'x'));
    }
    ASSERT_TRUE(QDir().mkpath(dst(QStringLiteral("v/0.txt"))));  // refused by name
    for (const bool senderSide : {true, false}) {
        SCOPED_TRACE(senderSide ? "the sender" : "the receiver");
        int afterEnd = 0;
        bool ended = false;
        QObject* const role = senderSide ? static_cast<QObject*>(&sender.session)
                                         : static_cast<QObject*>(&receiver.service);
        const auto onFile = [&] {
            if (ended) {
                ++afterEnd;
                return;
            }
            ended = true;
            if (senderSide) {
                sender.session.cancel();
            } else {
                receiver.service.cancel();
            }
        };
        const QMetaObject::Connection watch =
            senderSide
                ? QObject::connect(&sender.session, &SendingSession::fileEnded, role, onFile)
                : QObject::connect(&receiver.service, &ReceivingService::fileEnded, role, onFile);
        sendAll({QStringLiteral("v")});
        ASSERT_TRUE(bothEnded());
        QTest::qWait(200);
        QObject::disconnect(watch);
        EXPECT_EQ(sender.ended.size(), 1);
        EXPECT_EQ(receiver.ended.size(), 1);
        EXPECT_EQ(afterEnd, 0);
    }
}

TEST_F(EntriesTest, ATextOfTheLargestSizeArrivesAndOneByteMoreIsNotOffered) {
    QString text = QStringLiteral("línea\tcon tab\r\n");
    while (text.toUtf8().size() < lanewire::kMaxTextBytes) {
        text += QLatin1Char('x');
    }
    ASSERT_EQ(text.toUtf8().size(), lanewire::kMaxTextBytes);
    EXPECT_FALSE(sender.session.chooseText(text + QLatin1Char('y')));
    EXPECT_FALSE(sender.session.chooseText(QStringLiteral("escape \x1b[2J")));
    ASSERT_TRUE(sender.session.chooseText(text));
    sender.session.start(QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(bothEnded());
    EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::Sent});
    EXPECT_EQ(receiver.ended, QList<Outcome>{Outcome::Received});
    ASSERT_EQ(receiver.offers.size(), 1);
    EXPECT_EQ(receiver.offers[0].kind, TransferOffer::Kind::Text);
    EXPECT_EQ(receiver.offers[0].text, text);
    EXPECT_EQ(folderContent(receiver.dir.path()), QStringList());
}

// Peers that take one file per offer: a classic receiver gets several files one offer
// each; a folder or a text ends before anything is offered.
TEST(EntriesClassic, SeveralFilesGoOneOfferEachAndAFolderOrATextEndsWithAReason) {
    QTemporaryDir source;
    writeFile(source.filePath(QStringLiteral("a.txt")), "primero");
    writeFile(source.filePath(QStringLiteral("b.bin")), patternBytes(200000, 4));
    QDir(source.path()).mkdir(QStringLiteral("carpeta"));
    writeFile(source.filePath(QStringLiteral("carpeta/c.txt")), "c");
    Receiver receiver(false);
    Sender sender(receiver.port(), true);
    FileLog sent;
    sent.watch(&sender.session);
    ASSERT_TRUE(sender.session.chooseFiles(
        {source.filePath(QStringLiteral("a.txt")), source.filePath(QStringLiteral("b.bin"))}));
    sender.session.start(QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(waitUntil([&] { return !sender.ended.isEmpty(); }));
    EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::Sent});
    EXPECT_EQ(receiver.offers.size(), 2);
    EXPECT_EQ(readFile(receiver.folder() + QStringLiteral("a.txt")), QByteArray("primero"));
    EXPECT_EQ(readFile(receiver.folder() + QStringLiteral("b.bin")), patternBytes(200000, 4));
    EXPECT_EQ(sent.order, (QStringList{QStringLiteral("a.txt"), QStringLiteral("b.bin")}));

    for (const bool text : {false, true}) {
        SCOPED_TRACE(text ? "a text" : "a folder");
        sender.ended.clear();
        ASSERT_TRUE(text
                        ? sender.session.chooseText(QStringLiteral("hola"))
                        : sender.session.chooseFiles({source.filePath(QStringLiteral("carpeta"))}));
        sender.session.start(QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(waitUntil([&] { return !sender.ended.isEmpty(); }));
        EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::NeedsLane});
        EXPECT_EQ(receiver.offers.size(), 2);
    }
}

QByteArray entryBytes(quint8 kind, quint64 size, const QByteArray& path) {
    QByteArray out;
    out.append(char(kind));
    for (int shift = 56; shift >= 0; shift -= 8) {
        out.append(char((size >> shift) & 0xFF));
    }
    out.append(QByteArray(8, '\0'));
    out.append(char(path.size() >> 8));
    out.append(char(path.size() & 0xFF));
    return out + path;
}

QByteArray listOf(quint32 count, const QByteArray& entries) {
    QByteArray out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.append(char((count >> shift) & 0xFF));
    }
    return out + entries;
}

QByteArray framesOf(const QByteArray& list) {
    QByteArray out;
    for (const QByteArray& frame : entrieswire::entriesFrames(list)) {
        out += frame;
    }
    return out;
}

// A sender on the lane that offers a hostile list, or breaks the order of the entries'
// frames: the receiver closes without an answer to it, having written nothing.
TEST(EntriesHostile, HostileListsAndFrameSequencesAreRefusedWithNothingWritten) {
    const QByteArray hello = lanewire::greeting();
    const auto file = [](const QByteArray& path, quint64 size = 1) {
        return entryBytes(0, size, path);
    };
    const auto folder = [](const QByteArray& path) { return entryBytes(1, 0, path); };
    const quint64 huge = quint64(1) << 63;
    const QByteArray good = framesOf(listOf(2, folder("d") + file("d/x", 70000)));
    using lanewire::Type;
    struct Case {
        const char* what;
        QByteArray bytes;  // after the greeting
        bool accept = true;
    };
    const Case cases[] = {
        {"../x", framesOf(listOf(1, file("../x")))},
        {"/etc/x", framesOf(listOf(1, file("/etc/x")))},
        {"a//b", framesOf(listOf(1, file("a//b")))},
        {".ssh/x", framesOf(listOf(1, file(".ssh/x")))},
        {"two spellings of one name",
         framesOf(listOf(2, file("caf\xc3\xa9") + file("cafe\xcc\x81")))},
        {"a file and a folder of one name", framesOf(listOf(2, file("a") + file("a/b")))},
        {"a folder and a file of one name", framesOf(listOf(2, folder("a") + file("a")))},
        {"a million entries", framesOf(listOf(1000000, file("x")))},
        {"sizes summing past 2^64",
         framesOf(listOf(3, file("a", huge - 1) + file("b", huge - 1) + file("c", 3)))},
        {"a size past 2^63", framesOf(listOf(1, file("a", huge)))},
        {"a list past 16 MiB",
         [] {
             QByteArray all;
             for (int i = 0; i < 17; ++i) {
                 all += lanewire::frame(Type::Entries,
                                        QByteArray(1, '\1') + QByteArray(1024 * 1024, 'a'));
             }
             return all;
         }()},
        {"a text with an escape", lanewire::frame(Type::Text, "\x1b[2J")},
        {"a text of invalid UTF-8", lanewire::frame(Type::Text, "\xc3(")},
        {"a text one byte too long", lanewire::frame(Type::Text, QByteArray(65537, 'a'))},
        {"data before the plan", good + lanewire::frame(Type::Data, "x"), false},
        {"a file before the plan", good + entrieswire::file(1, 0), false},
        {"a list and then an offer", good + lanewire::offer("x", 1), false},
        {"a file that is a folder", good + entrieswire::file(0, 0)},
        {"a file at another offset", good + entrieswire::file(1, 5)},
        {"data outside a file", good + lanewire::frame(Type::Data, QByteArray(70000, 'x'))},
        {"data past the file",
         good + entrieswire::file(1, 0) + lanewire::frame(Type::Data, QByteArray(70001, 'x'))},
        {"a short frame that does not end the file",
         good + entrieswire::file(1, 0) + lanewire::frame(Type::Data, "x")},
        {"a file done before its bytes",
         good + entrieswire::file(1, 0) + entrieswire::fileDone(1, QByteArray(32, 0))},
        {"an end with a file owed", good + entrieswire::end()},
        {"a proof that nothing asked for", good + entrieswire::proof(1, QByteArray(32, 0))},
        {"a single file's proof", good + lanewire::frame(Type::Proof, QByteArray(32, 0))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Receiver receiver(true);
        receiver.acceptOffers = c.accept;
        RawPeer peer;
        ASSERT_TRUE(peer.open(static_cast<quint16>(receiver.port() + 1)));
        peer.write(hello + c.bytes);
        EXPECT_TRUE(peer.closed());
        EXPECT_TRUE(peer.heard.startsWith(hello));
        // Nothing of the list is answered but its plan, and no file is written.
        EXPECT_FALSE(peer.heard.contains(entrieswire::fileResult(1, entrieswire::FileCode::Ok)));
        const QStringList written = folderContent(receiver.dir.path());
        EXPECT_TRUE(written.isEmpty() ||
                    written == QStringList{receiver.folder() + QStringLiteral("d")})
            << written.join(u' ').toStdString();
        EXPECT_TRUE(
            waitUntil([&] { return receiver.service.state() == ReceivingService::State::Idle; }));
    }
}

// A receiver that breaks the entries' rules: the sender closes and never reports success.
TEST(EntriesHostile, ReceiversThatBreakTheRulesEndTheSendAsAnError) {
    QTemporaryDir source;
    QDir(source.path()).mkdir(QStringLiteral("d"));
    writeFile(source.filePath(QStringLiteral("d/x.bin")), patternBytes(5000, 1));
    writeFile(source.filePath(QStringLiteral("d/y.bin")), patternBytes(5000, 2));
    using entrieswire::PlanItem;
    using entrieswire::PlanState;
    struct Case {
        const char* what;
        QByteArray reply;  // once the list is read
    };
    const Case cases[] = {
        {"a plan past the list", entrieswire::plan({{7, PlanState::Prove, 1}})},
        {"a plan naming a folder", entrieswire::plan({{0, PlanState::Prove, 1}})},
        {"a proof longer than the file", entrieswire::plan({{1, PlanState::Prove, 5001}})},
        {"a plan out of order",
         entrieswire::plan({{2, PlanState::Refuse, 0}, {1, PlanState::Refuse, 0}})},
        {"a start before any proof", entrieswire::start({})},
        {"a start for a file not proved",
         entrieswire::plan({{1, PlanState::Prove, 10}}) + entrieswire::start({2})},
        {"a result for a file not sent",
         entrieswire::plan({}) + entrieswire::fileResult(1, entrieswire::FileCode::Ok)},
        {"a verdict before the end", entrieswire::plan({{1, PlanState::Prove, 10}}) +
                                         lanewire::result(lanewire::ResultCode::Ok)},
        {"a single file's acceptance", lanewire::accept(0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SecureLaneServer fake(testLaneIdentity()->identity(), lanetls::anyPeer());
        ASSERT_TRUE(fake.listen(QHostAddress::LocalHost, 0));
        QByteArray heard;
        bool replied = false;
        QObject::connect(&fake, &QTcpServer::pendingConnectionAvailable, [&] {
            QTcpSocket* peer = fake.nextPendingConnection();
            QObject::connect(peer, &QTcpSocket::readyRead, [&, peer] {
                heard += peer->readAll();
                if (heard.size() >= lanewire::kGreetingSize && !heard.startsWith("done")) {
                    if (!replied) {
                        peer->write(lanewire::greeting());
                    }
                }
                if (!replied && heard.size() > lanewire::kGreetingSize + 5) {
                    replied = true;
                    peer->write(c.reply);
                }
            });
        });
        Sender sender(static_cast<quint16>(fake.serverPort() - 1), true);
        ASSERT_TRUE(sender.session.chooseFiles({source.filePath(QStringLiteral("d"))}));
        sender.session.start(QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(waitUntil([&] { return !sender.ended.isEmpty(); }));
        EXPECT_TRUE(sender.wentOverLane);
        EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::ConnectionError});
    }
}

// A receiver of the lane's version 2 takes one file per offer: several files go one offer
// each over the classic port, a folder ends before it is offered.
TEST(EntriesHostile, AnOlderLaneReadsAsAPeerOfOneFilePerOffer) {
    QTemporaryDir source;
    QDir(source.path()).mkdir(QStringLiteral("d"));
    writeFile(source.filePath(QStringLiteral("d/x.bin")), "x");
    SecureLaneServer fake(testLaneIdentity()->identity(), lanetls::anyPeer());
    ASSERT_TRUE(fake.listen(QHostAddress::LocalHost, 0));
    QByteArray heard;
    QObject::connect(&fake, &QTcpServer::pendingConnectionAvailable, [&] {
        QTcpSocket* peer = fake.nextPendingConnection();
        QObject::connect(peer, &QTcpSocket::readyRead, [&, peer] {
            heard += peer->readAll();
            if (heard.size() == lanewire::kGreetingSize) {
                peer->write(lanewire::greeting(2));
            }
        });
    });
    Sender sender(static_cast<quint16>(fake.serverPort() - 1), true);
    ASSERT_TRUE(sender.session.chooseFiles({source.filePath(QStringLiteral("d"))}));
    sender.session.start(QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(waitUntil([&] { return !sender.ended.isEmpty(); }));
    EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::NeedsLane});
    EXPECT_EQ(heard, lanewire::greeting());  // nothing of the list went out
}

TEST(EntriesWire, FramesRoundTrip) {
    using entrieswire::PlanState;
    const std::vector<entrieswire::PlanItem> items = {{0, PlanState::Prove, 5},
                                                      {99999, PlanState::Refuse, 0}};
    lanewire::FrameReader reader;
    reader.feed(entrieswire::plan(items) + entrieswire::start({3, 4}) +
                entrieswire::file(7, 1234567890123) +
                entrieswire::fileResult(9, entrieswire::FileCode::NotCreated));
    lanewire::Type type{};
    QByteArray payload;
    ASSERT_EQ(reader.next(type, payload), lanewire::FrameReader::Status::Frame);
    EXPECT_EQ(entrieswire::parsePlan(payload), items);
    ASSERT_EQ(reader.next(type, payload), lanewire::FrameReader::Status::Frame);
    EXPECT_EQ(entrieswire::parseStart(payload), (std::vector<quint32>{3, 4}));
    ASSERT_EQ(reader.next(type, payload), lanewire::FrameReader::Status::Frame);
    ASSERT_TRUE(entrieswire::parseFile(payload));
    EXPECT_EQ(entrieswire::parseFile(payload)->offset, 1234567890123);
    ASSERT_EQ(reader.next(type, payload), lanewire::FrameReader::Status::Frame);
    EXPECT_EQ(entrieswire::parseFileResult(payload)->code, entrieswire::FileCode::NotCreated);
    // A list of 2.5 MiB goes in three pieces, the last without "more".
    const QList<QByteArray> pieces = entrieswire::entriesFrames(QByteArray(5 * 512 * 1024, 'a'));
    ASSERT_EQ(pieces.size(), 3);
    EXPECT_EQ(pieces[0].at(5), '\1');
    EXPECT_EQ(pieces[2].at(5), '\0');
    // Counts that disagree with the payload's length, and values out of range.
    EXPECT_FALSE(entrieswire::parsePlan(QByteArray("\0\0\0\2", 4) + QByteArray(13, '\0')));
    EXPECT_FALSE(entrieswire::parsePlan(QByteArray("\0\0\0\1\0\0\0\0\2", 9) + QByteArray(8, 0)));
    EXPECT_FALSE(entrieswire::parseStart(QByteArray("\0\0\0\1", 4)));
    EXPECT_FALSE(entrieswire::parseFile(QByteArray(4, 0) + QByteArray(8, '\xff')));
}

}  // namespace
