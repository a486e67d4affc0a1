// Load on a receiving copy: while a large transfer runs between two copies (separate
// processes), 200 more peers connect and go: some stay silent, some send garbage, some
// offer files, some drop the connection at once. The listen queue holds 5, so many connects
// wait for a SYN retry; the timeouts allow for that and stay bounded. The transfer ends
// byte-identical, every extra peer is told "o" and closed, and the copy holds as many file
// descriptors afterwards as before.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <atomic>
#include <thread>
#include <vector>

#include "harnessprocess.h"
#include "hostilepeer.h"
#include "hostilesupport.h"

namespace {

constexpr int kPeers = 200;
constexpr int kThreads = 25;

enum class Behaviour { Silent, Garbage, Offers, Drops };

struct PeerResult {
    Behaviour behaviour = Behaviour::Silent;
    bool connected = false;
    QByteArray received;
    bool closedByCopy = false;
};

// One extra peer, run on a thread of the storm.
PeerResult runPeer(quint16 port, int number) {
    PeerResult result;
    result.behaviour = static_cast<Behaviour>(number % 4);
    HostilePeer peer;
    result.connected = peer.connectTo(port, 30000);
    if (!result.connected) {
        return result;
    }
    switch (result.behaviour) {
        case Behaviour::Silent:
            break;
        case Behaviour::Garbage:
            peer.send(patternBytes(16384, static_cast<quint32>(number)), 5000);
            break;
        case Behaviour::Offers:
            peer.send("i|storm-" + QByteArray::number(number) + ".bin|1000", 5000);
            break;
        case Behaviour::Drops:
            if (number % 8 == 3) {
                peer.abort();
            } else {
                peer.close();
            }
            return result;
    }
    peer.waitClosed(20000);
    result.received = peer.takeUnread();
    result.closedByCopy = peer.closedByCopy();
    return result;
}

TEST(Load, TransferSurvivesAStormOfPeersWithoutLeakingDescriptors) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("recv")));
    const qint64 size = (sanitizedBuild() ? 16 : 64) << 20;
    const QString source = root.filePath(QStringLiteral("load.bin"));
    const QString received = root.filePath(QStringLiteral("recv/load.bin"));
    ASSERT_TRUE(writePatternFile(source, size, 3));

    // The transfer's own offer is accepted by a command, so that no storm peer's offer is
    // ever accepted.
    HarnessProcess receiver(QStringLiteral("receiver"));
    ASSERT_TRUE(
        receiver.start({QStringLiteral("--listen-port"), QStringLiteral("0"),
                        QStringLiteral("--folder"), root.filePath(QStringLiteral("recv")) + u'/'}))
        << receiver.transcript().toStdString();
    ASSERT_FALSE(receiver.status().empty());
    const int descriptorsBefore = receiver.openDescriptorCount();
    ASSERT_GT(descriptorsBefore, 0);

    HarnessProcess sender(QStringLiteral("sender"));
    ASSERT_TRUE(sender.start({QStringLiteral("--listen-port"), QStringLiteral("0"),
                              QStringLiteral("--connect-port"), QString::number(receiver.port()),
                              QStringLiteral("--folder"), root.path() + u'/',
                              QStringLiteral("--send"), source}))
        << sender.transcript().toStdString();
    ASSERT_GE(receiver.waitForLine(QStringLiteral("offer load.bin %1").arg(size), 30000), 0)
        << receiver.transcript().toStdString();
    receiver.command(QStringLiteral("click Recibir"));
    ASSERT_TRUE(waitUntil([&] { return fileSize(received) > 0; }, 30000));

    // The storm, on threads of its own while this one reads the copies' output.
    std::vector<PeerResult> results(kPeers);
    std::atomic<int> finished{0};
    std::vector<std::thread> storm;
    const quint16 port = receiver.port();
    QElapsedTimer clock;
    clock.start();
    for (int t = 0; t < kThreads; ++t) {
        storm.emplace_back([&, t] {
            for (int n = t; n < kPeers; n += kThreads) {
                results[static_cast<size_t>(n)] = runPeer(port, n);
            }
            ++finished;
        });
    }
    const bool stormOver = waitUntil([&] { return finished == kThreads; }, 240000);
    for (std::thread& thread : storm) {
        thread.join();  // every peer is bounded by its own timeouts
    }
    ASSERT_TRUE(stormOver);
    const qint64 stormMs = clock.elapsed();
    const qint64 whenStormEnded = fileSize(received);
    EXPECT_LT(whenStormEnded, size)
        << "the transfer ended before the storm (" << stormMs << " ms); make the file larger";

    for (int n = 0; n < kPeers; ++n) {
        const PeerResult& r = results[static_cast<size_t>(n)];
        SCOPED_TRACE(n);
        EXPECT_TRUE(r.connected);
        if (r.behaviour != Behaviour::Drops) {
            EXPECT_EQ(r.received, QByteArray("o"));
            EXPECT_TRUE(r.closedByCopy);
        }
    }

    EXPECT_GE(receiver.waitForLine(QStringLiteral("panel1 Recibido!"), 240000), 0)
        << receiver.transcript().toStdString() << sender.transcript().toStdString();
    EXPECT_GE(sender.waitForLine(QStringLiteral("panel1 Enviado!"), 30000), 0)
        << sender.transcript().toStdString();
    EXPECT_EQ(sha256OfFile(received), sha256OfFile(source));
    EXPECT_EQ(QDir(root.filePath(QStringLiteral("recv"))).entryList(QDir::Files),
              QStringList{QStringLiteral("load.bin")});

    // Every connection is gone, and with it every descriptor it held.
    int descriptorsAfter = -1;
    EXPECT_TRUE(waitUntil(
        [&] {
            descriptorsAfter = receiver.openDescriptorCount();
            return descriptorsAfter == descriptorsBefore;
        },
        15000))
        << descriptorsBefore << " descriptors before, " << descriptorsAfter << " after";
    const HarnessProcess::Status status = receiver.status();
    EXPECT_EQ(status.at(QStringLiteral("listening")), QStringLiteral("1"));
    EXPECT_EQ(status.at(QStringLiteral("connections")), QStringLiteral("0"));
    std::printf("storm of %d peers: %lld ms; transfer of %lld MiB ran on\n", kPeers,
                static_cast<long long>(stormMs), static_cast<long long>(size >> 20));

    EXPECT_TRUE(sender.stop()) << sender.transcript().toStdString();
    EXPECT_TRUE(receiver.stop()) << receiver.transcript().toStdString();
}

}  // namespace
