// A sending copy (the harness, as its own process) against receivers of ours that speak raw
// bytes. After every hostile answer the copy has closed the connection (or waits, where
// the bytes so far are a request still incomplete), is back on its ready page, and sends
// the file intact to a well-behaved receiver afterwards.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include "harnessprocess.h"
#include "hostilepeer.h"
#include "hostilesupport.h"
#include "peerlistener.h"

namespace {

constexpr qint64 kFileSize = 10000;

class HostileSender : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid());
        ASSERT_TRUE(listener.isListening());
        m_content = patternBytes(kFileSize, 7);
        ASSERT_TRUE(writeBytes(source(), m_content));
        ASSERT_TRUE(copy.start({QStringLiteral("--listen-port"), QStringLiteral("0"),
                                QStringLiteral("--connect-port"), QString::number(listener.port()),
                                QStringLiteral("--folder"), m_root.path() + QLatin1Char('/')}))
            << copy.transcript().toStdString();
    }

    void TearDown() override {
        for (const QString& line : copy.troubleLines()) {
            ADD_FAILURE() << line.toStdString();
        }
        EXPECT_TRUE(copy.stop()) << copy.transcript().toStdString();
    }

    QString source() const { return m_root.filePath(QStringLiteral("source.bin")); }

    // The copy sends its file; the connection it makes, with the offer read.
    std::optional<HostilePeer> offered() {
        copy.command(QStringLiteral("send ") + source());
        std::optional<HostilePeer> peer = listener.accept(15000);
        if (!peer) {
            ADD_FAILURE() << "the copy did not connect\n" << copy.transcript().toStdString();
            return std::nullopt;
        }
        const std::optional<HostilePeer::Offer> offer = peer->readOffer();
        EXPECT_TRUE(offer && offer->name == "source.bin" && offer->size == kFileSize);
        return peer;
    }

    // The copy is back on its ready page, with `panel1` as the outcome shown if given.
    void expectReady(const std::optional<QString>& panel1 = std::nullopt) {
        HarnessProcess::Status status;
        EXPECT_TRUE(copy.waitForStatus(
            [](const HarnessProcess::Status& s) {
                return s.at(QStringLiteral("enviar")) == QStringLiteral("Enviar") &&
                       s.at(QStringLiteral("panel0")) == QStringLiteral("Desconectado.") &&
                       s.at(QStringLiteral("listening")) == QStringLiteral("1");
            },
            15000, &status))
            << copy.transcript().toStdString();
        if (panel1) {
            EXPECT_EQ(status[QStringLiteral("panel1")].toStdString(), panel1->toStdString());
        }
    }

    // A well-behaved receiver gets the file intact (requests optionally in pieces).
    void expectNormalTransfer(std::optional<HostilePeer> peer = std::nullopt, qsizetype piece = 0,
                              int pauseUs = 0) {
        if (!peer) {
            peer = offered();
        }
        ASSERT_TRUE(peer);
        EXPECT_EQ(peer->fetchFile(kFileSize, 30000, piece, pauseUs), m_content);
        EXPECT_TRUE(peer->waitClosed()) << "a sender closes on \"f\"";
        expectReady(QStringLiteral("Enviado!"));
    }

    HarnessProcess copy{QStringLiteral("sender")};
    PeerListener listener;
    QTemporaryDir m_root;
    QByteArray m_content;
};

TEST_F(HostileSender, HostileRequestsAreAnsweredSafely) {
    enum class Then {
        Closes,      // the copy closes the connection at once
        EmptyBlock,  // the copy answers with an empty block (or closes), and goes on
        Waits,       // the copy waits for more; the peer then closes
    };
    struct Case {
        const char* what;
        QByteArray reply;
        Then then;
        QString panel1;  // shown when it is over
    };
    const Case cases[] = {
        {"a block far beyond the file", "a|999999999", Then::EmptyBlock, {}},
        {"the last block index there is", "a|4503599627370494", Then::EmptyBlock, {}},
        {"an index past any offset", "a|4503599627370495", Then::Closes, {}},
        {"an index of 20 digits", "a|99999999999999999999", Then::Closes, {}},
        {"index -5", "a|-5", Then::Closes, {}},
        {"a| followed by a letter", "a|x", Then::Closes, {}},
        {"a| with no number", "a|", Then::Waits, {}},
        {"the intruder notice", "Jodete!", Then::Closes, {}},
        {"4 MB of bytes without a separator", QByteArray(4 << 20, 'x'), Then::Closes, {}},
        {"busy", "o", Then::Waits, QStringLiteral("Destino Ocupado.")},
        {"paused", "p", Then::Waits, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<HostilePeer> peer = offered();
        ASSERT_TRUE(peer);
        peer->send(c.reply);
        switch (c.then) {
            case Then::Closes:
                EXPECT_TRUE(peer->waitClosed());
                break;
            case Then::EmptyBlock: {
                const std::optional<HostilePeer::Block> block = peer->readBlock();
                if (block) {
                    EXPECT_EQ(block->count, 0);
                    EXPECT_EQ(block->index, c.reply.mid(2).toLongLong());
                    // Nothing went wrong: the same connection still carries the file.
                    expectNormalTransfer(std::move(peer));
                    continue;
                }
                EXPECT_TRUE(peer->closedByCopy());
                break;
            }
            case Then::Waits:
                EXPECT_EQ(peer->receiveUntilQuiet(300, 100), QByteArray());
                EXPECT_FALSE(peer->closedByCopy());
                peer->close();
                break;
        }
        expectReady(c.panel1);
        expectNormalTransfer();
        if (HasFailure()) {
            break;
        }
    }
}

TEST_F(HostileSender, RequestsInSingleBytesAreServed) {
    expectNormalTransfer(offered(), 1, 20000);
}

// A run of requests, "a|0" again and again, as a receiver that asks ahead would send them.
QByteArray requestFlood(qsizetype bytes) {
    QByteArray flood;
    flood.reserve(bytes);
    while (flood.size() < bytes) {
        flood.append("a|0");
    }
    return flood;
}

TEST_F(HostileSender, AReceiverThatAsksForMoreThanItReadsIsClosed) {
    const qint64 residentBefore = copy.residentKilobytes();
    std::optional<HostilePeer> peer = offered();
    ASSERT_TRUE(peer);
    // Every request is worth a block of 2 KiB: unread, they would pile up without bound.
    // The peer never reads (its close would stay queued behind what it left unread), so the
    // copy's page tells that it closed.
    peer->send(requestFlood(4 << 20), 60000);  // stops where the copy closes
    expectReady(QString());
    if (!sanitizedBuild()) {  // the sanitizers keep freed memory in quarantine
        EXPECT_LT(copy.residentKilobytes() - residentBefore, 64 * 1024);
    }
    peer->abort();
    expectNormalTransfer();
}

}  // namespace
