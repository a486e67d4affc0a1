// A receiving copy (the harness, as its own process) against peers of ours that speak raw
// bytes as senders. After every hostile input: the connection is closed or the offer refused,
// nothing is written outside the receive folder (a sibling folder and the parent stay as
// they were), nothing is written inside it but what a user accepted, no error box shows,
// and the copy is listening again and takes a normal file afterwards.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <atomic>
#include <map>
#include <thread>

#include "foldersnapshot.h"
#include "harnessprocess.h"
#include "hostilepeer.h"
#include "hostilesupport.h"

namespace {

const QString kInvalidName = QStringLiteral("Nombre de archivo no valido");

// Random bytes holding no "|", so no field ever ends.
QByteArray bytesWithoutSeparator(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes) {
        do {
            c = static_cast<char>(QRandomGenerator::global()->bounded(256));
        } while (c == '|');
    }
    return bytes;
}

// Windows-1252 0x80-0x9F as Unicode, written out here rather than taken from the program;
// 0 marks the five bytes that stand for no character. 0xA0-0xFF are U+00A0-U+00FF.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// A wire name made of the given bytes (each assigned) with its expected name on disk.
std::pair<QByteArray, QString> windowsName(int from, int to, const char* suffix) {
    QByteArray wire;
    QString local;
    for (int byte = from; byte <= to; ++byte) {
        const char16_t unicode =
            byte < 0xA0 ? kWindows1252High[byte - 0x80] : static_cast<char16_t>(byte);
        if (unicode != 0) {
            wire.append(static_cast<char>(byte));
            local.append(QChar(unicode));
        }
    }
    wire.append(suffix);
    local.append(QLatin1String(suffix));
    return {wire, local};
}

class HostileReceiver : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid());
        const QDir root(m_root.path());
        ASSERT_TRUE(root.mkpath(QStringLiteral("recv")) && root.mkpath(QStringLiteral("sibling")));
        // Where "../x" and "../sibling/..." from the receive folder would land.
        ASSERT_TRUE(writeBytes(root.filePath(QStringLiteral("x")), "outside"));
        ASSERT_TRUE(writeBytes(root.filePath(QStringLiteral("sibling/x")), "sibling"));
        m_outside = FolderSnapshot::take(m_root.path(), {QStringLiteral("recv")});
        m_etcHadX = QFileInfo::exists(QStringLiteral("/etc/x"));
        ASSERT_TRUE(copy.start({QStringLiteral("--listen-port"), QStringLiteral("0"),
                                QStringLiteral("--folder"), folder(), QStringLiteral("--accept")}))
            << copy.transcript().toStdString();
    }

    void TearDown() override {
        for (const QString& line : copy.troubleLines()) {
            ADD_FAILURE() << line.toStdString();
        }
        EXPECT_TRUE(copy.stop()) << copy.transcript().toStdString();
    }

    QString folder() const { return m_root.filePath(QStringLiteral("recv")) + QLatin1Char('/'); }

    // Nothing outside the receive folder changed, and inside it only the files a user
    // accepted hold bytes (an accepted offer that then went wrong leaves an empty file).
    void expectNothingMisplaced() {
        EXPECT_EQ(
            m_outside.differencesTo(FolderSnapshot::take(m_root.path(), {QStringLiteral("recv")})),
            QStringList());
        EXPECT_EQ(QFileInfo::exists(QStringLiteral("/etc/x")), m_etcHadX);
        const QDir received(folder());
        for (const QFileInfo& info :
             received.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
            const auto expected = m_expected.find(info.fileName());
            if (expected == m_expected.end()) {
                EXPECT_TRUE(info.isFile() && !info.isSymLink() && info.size() == 0)
                    << "unexpected " << info.fileName().toStdString();
            } else {
                EXPECT_EQ(readBytes(info.filePath()), expected->second)
                    << info.fileName().toStdString();
            }
        }
    }

    // The copy is back to listening with nobody served.
    void expectListening() {
        HarnessProcess::Status status;
        EXPECT_TRUE(copy.waitForStatus(
            [](const HarnessProcess::Status& s) {
                return s.at(QStringLiteral("panel0")) == QStringLiteral("Desconectado.") &&
                       s.at(QStringLiteral("listening")) == QStringLiteral("1") &&
                       s.at(QStringLiteral("served")) == QStringLiteral("0");
            },
            15000, &status))
            << copy.transcript().toStdString();
    }

    // A well-behaved sender gets a file through, intact.
    void expectNormalTransfer() {
        ++m_normal;
        const QString name = QStringLiteral("normal-%1.bin").arg(m_normal);
        const QByteArray content = patternBytes(5000 + m_normal * 731, m_normal);
        HostilePeer sender;
        ASSERT_TRUE(sender.connectTo(copy.port()));
        EXPECT_TRUE(sender.serveFile(name.toLatin1(), content)) << copy.transcript().toStdString();
        m_expected[name] = content;
        EXPECT_EQ(readBytes(folder() + name), content);
        EXPECT_TRUE(copy.waitForStatus(
            [](const HarnessProcess::Status& s) {
                return s.at(QStringLiteral("panel1")) == QStringLiteral("Recibido!") &&
                       s.at(QStringLiteral("served")) == QStringLiteral("0");
            },
            15000))
            << copy.transcript().toStdString();
    }

    HarnessProcess copy{QStringLiteral("receiver")};
    QTemporaryDir m_root;
    FolderSnapshot m_outside;
    bool m_etcHadX = false;
    std::map<QString, QByteArray> m_expected;  // files in the receive folder and their bytes
    int m_normal = 0;
};

TEST_F(HostileReceiver, HostileOffersAndBlocksEndTheConnection) {
    const QByteArray fourMegabytes = bytesWithoutSeparator(4 << 20);
    const QByteArray filler(2049, '\0');
    struct Case {
        const char* what;
        QByteArray first;         // sent on connecting
        QByteArray afterRequest;  // if any: sent once the copy accepted and asked for block 0
        bool refusedName;         // panel 1 then says the name is not valid
    };
    const Case cases[] = {
        {"name ../x", "i|../x|10", {}, true},
        {"name /etc/x", "i|/etc/x|10", {}, true},
        {"name a/b", "i|a/b|10", {}, true},
        {"name ..", "i|..|10", {}, true},
        {"empty name", "i||10", {}, true},
        {"name ../sibling/x", "i|../sibling/x|10", {}, true},
        {"unassigned byte 0x81", "i|a\x81.bin|10", {}, true},
        {"unassigned byte 0x8D", "i|a\x8D.bin|10", {}, true},
        {"unassigned byte 0x8F", "i|a\x8F.bin|10", {}, true},
        {"unassigned byte 0x90", "i|a\x90.bin|10", {}, true},
        {"unassigned byte 0x9D", "i|a\x9D.bin|10", {}, true},
        {"size 12a", "i|s12a.bin|12a", {}, false},
        {"size -1", "i|neg.bin|-1", {}, false},
        {"count 4096", "i|c4096.bin|5000", "d|0|4096|" + QByteArray(4096, 'c') + filler, false},
        {"count -1", "i|cneg.bin|5000", "d|0|-1|" + filler, false},
        {"index -5", "i|ineg.bin|5000", "d|-5|10|" + filler, false},
        {"index far beyond the offer", "i|ifar.bin|5000", "d|99999999|10|" + filler, false},
        {"count not a number", "i|cnan.bin|5000", "d|0|1x|" + filler, false},
        {"a pause that answers no request", "i|pause.bin|5000", "pp", false},
        {"a| with no number", "a|", {}, false},
        {"4 MB without a separator", fourMegabytes, {}, false},
        {"an offer whose name never ends", "i|" + fourMegabytes, {}, false},
        {"a block index that never ends", "i|digits.bin|5000", "d|" + QByteArray(4 << 20, '7'),
         false},
        {"a block header that never ends", "i|header.bin|5000", "d|0|" + QByteArray(4 << 20, '0'),
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HostilePeer peer;
        ASSERT_TRUE(peer.connectTo(copy.port()));
        peer.send(c.first);  // may fail part-way: the copy is allowed to close early
        if (!c.afterRequest.isEmpty()) {
            EXPECT_EQ(peer.receive(3, 10000), QByteArray("a|0"));
            peer.send(c.afterRequest);
        }
        EXPECT_TRUE(peer.waitClosed(10000)) << "still open";
        expectListening();
        if (c.refusedName) {
            EXPECT_EQ(copy.status()[QStringLiteral("panel1")], kInvalidName);
        }
        expectNothingMisplaced();
        expectNormalTransfer();
        if (HasFailure()) {
            break;
        }
    }
}

TEST_F(HostileReceiver, NamesAndSplitBlocksArriveIntact) {
    const auto [lowWire, lowLocal] = windowsName(0x80, 0x9F, "-c1.bin");
    const auto [highWire, highLocal] = windowsName(0xA0, 0xFF, ".bin");
    struct Case {
        const char* what;
        QByteArray wireName;
        QString localName;
        qint64 size;
        qsizetype piece;  // block messages go out in pieces of this many bytes (0: whole)
        int pauseUs;
    };
    const Case cases[] = {
        {"Windows-1252 0x80-0x9F", lowWire, lowLocal, 3000, 0, 0},
        {"Windows-1252 0xA0-0xFF", highWire, highLocal, 3000, 0, 0},
        {"blocks in single bytes", "single.bin", QStringLiteral("single.bin"), 2048 + 700, 1, 300},
        {"blocks in pieces of 7 bytes", "seven.bin", QStringLiteral("seven.bin"), 3 * 2048, 7,
         2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray content = patternBytes(c.size, static_cast<quint32>(c.size));
        HostilePeer peer;
        ASSERT_TRUE(peer.connectTo(copy.port()));
        EXPECT_TRUE(peer.serveFile(c.wireName, content, 60000, c.piece, c.pauseUs))
            << copy.transcript().toStdString();
        m_expected[c.localName] = content;
        EXPECT_EQ(readBytes(folder() + c.localName), content);
        expectListening();
        expectNothingMisplaced();
        expectNormalTransfer();
    }
}

TEST_F(HostileReceiver, AnOfferOfHundredGigabytesIsAskedAboutAndCanBeDeclined) {
    copy.command(QStringLiteral("answer no"));
    HostilePeer peer;
    ASSERT_TRUE(peer.connectTo(copy.port()));
    const int from = static_cast<int>(copy.lines().size());
    peer.send("i|huge.bin|99999999999");
    EXPECT_GE(copy.waitForLine(QStringLiteral("offer huge.bin 99999999999"), 10000, from), 0);
    EXPECT_GE(copy.waitForLine(QStringLiteral("box question El espacio libre es menor que el de "
                                              "archivo, ¿Continuar?"),
                               10000, from),
              0)
        << copy.transcript().toStdString();
    // Declined for lack of space: the offer stays, nothing is created, nothing is asked.
    EXPECT_EQ(peer.receiveUntilQuiet(300, 100), QByteArray());
    EXPECT_FALSE(peer.closedByCopy());
    EXPECT_EQ(copy.status()[QStringLiteral("offer")], QStringLiteral("1"));
    EXPECT_FALSE(QFileInfo::exists(folder() + QStringLiteral("huge.bin")));
    peer.close();
    expectListening();
    expectNothingMisplaced();
    expectNormalTransfer();
}

TEST_F(HostileReceiver, APeerThatPausesAndResumesButReadsNothingIsClosed) {
    const qint64 residentBefore = copy.residentKilobytes();
    HostilePeer peer;
    ASSERT_TRUE(peer.connectTo(copy.port(), 20000, 4096));
    peer.send("i|flood.bin|100000");
    EXPECT_EQ(peer.receive(3, 10000), QByteArray("a|0"));
    // Each "p" answers the request outstanding and each "r" brings the next request, which
    // this peer never reads: without a bound the copy would queue requests for ever.
    QByteArray flood;
    flood.reserve(8 << 20);
    while (flood.size() < (8 << 20)) {
        flood.append("pr");
    }
    peer.send(flood, 60000);  // stops where the copy closes
    // The peer never reads (the copy's close would stay queued behind what it left unread),
    // so the copy's page tells that it closed.
    expectListening();
    if (!sanitizedBuild()) {  // the sanitizers keep freed memory in quarantine
        EXPECT_LT(copy.residentKilobytes() - residentBefore, 64 * 1024);
    }
    peer.abort();
    expectNothingMisplaced();
    expectNormalTransfer();
}

TEST_F(HostileReceiver, AFloodOfResumesClosesThePeerWithAText) {
    HostilePeer peer;
    ASSERT_TRUE(peer.connectTo(copy.port()));
    peer.send("i|resumes.bin|100000");
    EXPECT_EQ(peer.receive(3, 10000), QByteArray("a|0"));
    // A resume ends only a pause of the sender's own; one with no pause before it is no
    // message of the protocol, and the first of a flood closes the peer.
    peer.send(QByteArray(4 << 20, 'r'), 60000);
    EXPECT_TRUE(peer.waitClosed(10000));
    HarnessProcess::Status status;
    ASSERT_TRUE(copy.waitForStatus(
        [&](const HarnessProcess::Status& s) {
            return s.at(QStringLiteral("panel1")) == QStringLiteral("Error en la conexion.");
        },
        10000, &status))
        << status[QStringLiteral("panel1")].toStdString();
    expectListening();
    expectNothingMisplaced();
    expectNormalTransfer();
}

}  // namespace
