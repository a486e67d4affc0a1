// Copies as separate processes, one of them killed (SIGKILL) in the middle of a large
// transfer and started again: the receiving copy re-listens on its port at once, the same
// file is offered again, the partial file is continued, and the result is byte-identical.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <signal.h>

#include "harnessprocess.h"
#include "hostilesupport.h"

namespace {

class CrashRestart : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid());
        ASSERT_TRUE(QDir(m_root.path()).mkpath(QStringLiteral("recv")));
        m_size = 24 << 20;
        ASSERT_TRUE(writePatternFile(source(), m_size, 11));
    }

    QString source() const { return m_root.filePath(QStringLiteral("big.bin")); }
    QString received() const { return m_root.filePath(QStringLiteral("recv/big.bin")); }

    QStringList receiverArguments(quint16 port) const {
        // "yes": continue the existing file when the same file is offered again.
        return m_lane + QStringList{QStringLiteral("--listen-port"),
                                    QString::number(port),
                                    QStringLiteral("--folder"),
                                    m_root.filePath(QStringLiteral("recv")) + u'/',
                                    QStringLiteral("--accept"),
                                    QStringLiteral("--answers"),
                                    QStringLiteral("yes")};
    }
    QStringList senderArguments(quint16 port) const {
        return m_lane + QStringList{QStringLiteral("--listen-port"),  QStringLiteral("0"),
                                    QStringLiteral("--connect-port"), QString::number(port),
                                    QStringLiteral("--folder"),       m_root.path() + u'/',
                                    QStringLiteral("--send"),         source()};
    }

    // Waits until the partial file holds a third of the bytes, while they still flow.
    void waitForAThird() {
        EXPECT_TRUE(waitUntil([this] { return fileSize(received()) >= m_size / 3; }, 120000))
            << "only " << fileSize(received()) << " bytes arrived\n"
            << receiver.transcript().toStdString() << sender.transcript().toStdString();
        ASSERT_LT(fileSize(received()), m_size) << "the transfer ended before the kill";
    }

    void expectIntactAndBothDone() {
        EXPECT_GE(receiver.waitForLine(QStringLiteral("box question ¿Continuar con el archivo "
                                                      "existente?"),
                                       30000),
                  0)
            << receiver.transcript().toStdString();
        EXPECT_GE(receiver.waitForLine(QStringLiteral("panel1 Recibido!"), 120000), 0)
            << receiver.transcript().toStdString() << sender.transcript().toStdString();
        EXPECT_GE(sender.waitForLine(QStringLiteral("panel1 Enviado!"), 30000), 0)
            << sender.transcript().toStdString();
        EXPECT_EQ(fileSize(received()), m_size);
        EXPECT_EQ(sha256OfFile(received()), sha256OfFile(source()));
        EXPECT_TRUE(receiver.stop()) << receiver.transcript().toStdString();
        EXPECT_TRUE(sender.stop()) << sender.transcript().toStdString();
    }

    // The fast lane moves the file faster than any wait for a third of it could catch: the
    // copy to kill is frozen as soon as bytes arrive, which TCP's flow control turns into a
    // stalled transfer, then killed.
    void freezeOnceBytesArrive(HarnessProcess& copy) {
        EXPECT_TRUE(waitUntil([this] { return fileSize(received()) > 0; }, 120000));
        ::kill(static_cast<pid_t>(copy.pid()), SIGSTOP);
        ASSERT_LT(fileSize(received()), m_size) << "the transfer ended before the kill";
    }

    QStringList m_lane;
    QTemporaryDir m_root;
    qint64 m_size = 0;
    HarnessProcess receiver{QStringLiteral("receiver")};
    HarnessProcess sender{QStringLiteral("sender")};
};

TEST_F(CrashRestart, KilledReceiverListensAgainAtOnceAndContinuesTheFile) {
    ASSERT_TRUE(receiver.start(receiverArguments(0))) << receiver.transcript().toStdString();
    const quint16 port = receiver.port();
    ASSERT_TRUE(sender.start(senderArguments(port))) << sender.transcript().toStdString();
    waitForAThird();
    receiver.kill();
    const qint64 partial = fileSize(received());

    // The sender sees the connection go and is ready to send again.
    EXPECT_TRUE(sender.waitForStatus(
        [](const HarnessProcess::Status& s) {
            return s.at(QStringLiteral("enviar")) == QStringLiteral("Enviar") &&
                   s.at(QStringLiteral("panel0")) == QStringLiteral("Desconectado.");
        },
        30000))
        << sender.transcript().toStdString();

    // The port the killed copy held (its connection may linger in the kernel) is free for
    // the new copy at once.
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(receiver.start(receiverArguments(port))) << receiver.transcript().toStdString();
    EXPECT_EQ(receiver.port(), port);
    EXPECT_FALSE(receiver.sawLine(QStringLiteral("panel1 [Recibir] No Disponible")));
    EXPECT_LT(clock.elapsed(), sanitizedBuild() ? 20000 : 10000);
    EXPECT_EQ(fileSize(received()), partial) << "the new copy changed the partial file";

    sender.command(QStringLiteral("send ") + source());
    expectIntactAndBothDone();
}

TEST_F(CrashRestart, KilledSenderStartedAgainCompletesTheFile) {
    ASSERT_TRUE(receiver.start(receiverArguments(0))) << receiver.transcript().toStdString();
    const quint16 port = receiver.port();
    ASSERT_TRUE(sender.start(senderArguments(port))) << sender.transcript().toStdString();
    waitForAThird();
    sender.kill();

    // The receiver sees its peer go and listens for the next one.
    EXPECT_TRUE(receiver.waitForStatus(
        [](const HarnessProcess::Status& s) {
            return s.at(QStringLiteral("panel0")) == QStringLiteral("Desconectado.") &&
                   s.at(QStringLiteral("served")) == QStringLiteral("0") &&
                   s.at(QStringLiteral("listening")) == QStringLiteral("1");
        },
        30000))
        << receiver.transcript().toStdString();

    ASSERT_TRUE(sender.start(senderArguments(port))) << sender.transcript().toStdString();
    expectIntactAndBothDone();
}

TEST_F(CrashRestart, OnTheLaneAKilledCopyOfEitherSideIsFollowedByAResumedIntactFile) {
    m_lane = {QStringLiteral("--lane")};
    // Larger, so that the freeze surely comes while bytes still flow.
    m_size = 64 << 20;
    ASSERT_TRUE(writePatternFile(source(), m_size, 12));
    for (const bool killReceiver : {true, false}) {
        SCOPED_TRACE(killReceiver ? "receiver killed" : "sender killed");
        QFile::remove(received());
        ASSERT_TRUE(receiver.start(receiverArguments(0))) << receiver.transcript().toStdString();
        const quint16 port = receiver.port();
        ASSERT_TRUE(sender.start(senderArguments(port))) << sender.transcript().toStdString();
        HarnessProcess& victim = killReceiver ? receiver : sender;
        freezeOnceBytesArrive(victim);
        victim.kill();
        if (killReceiver) {
            EXPECT_TRUE(sender.waitForStatus(
                [](const HarnessProcess::Status& s) {
                    return s.at(QStringLiteral("enviar")) == QStringLiteral("Enviar");
                },
                30000))
                << sender.transcript().toStdString();
            ASSERT_TRUE(receiver.start(receiverArguments(port)))
                << receiver.transcript().toStdString();
            sender.command(QStringLiteral("send ") + source());
        } else {
            EXPECT_TRUE(receiver.waitForStatus(
                [](const HarnessProcess::Status& s) {
                    return s.at(QStringLiteral("served")) == QStringLiteral("0") &&
                           s.at(QStringLiteral("receiving")) == QStringLiteral("0");
                },
                30000))
                << receiver.transcript().toStdString();
            ASSERT_TRUE(sender.start(senderArguments(port))) << sender.transcript().toStdString();
        }
        expectIntactAndBothDone();
    }
}

}  // namespace
