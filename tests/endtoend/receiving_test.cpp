// A receiving window against raw peers: whatever a peer sends, nothing is written where the
// user did not agree, and the window is ready for the next peer afterwards.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <stdexcept>
#include <utility>

#include "copies.h"
#include "shell/formruvo.h"
#include "shell/ruvoapplication.h"
#include "transfer/protocol.h"
#include "widgets/folderedit.h"

namespace {

class ReceivingTest : public ::testing::Test {
protected:
    Copy receiver;

    QString received(const QString& name) const { return receiver.receiveFolder() + name; }
    bool listeningAgain() {
        return waitUntil([&] { return receiver.panel(0) == QStringLiteral("Desconectado."); });
    }
    // A peer that has offered `name` of `size` bytes; the offer is on the page.
    std::unique_ptr<RawPeer> offering(const QByteArray& name, qint64 size) {
        auto peer = std::make_unique<RawPeer>(receiver.port());
        peer->send("i|" + name + "|" + QByteArray::number(size));
        waitUntil([&] { return receiver.w().Recibir->isEnabled(); });
        return peer;
    }
    QByteArray block(qint64 index, const QByteArray& data) { return BlockMessage(index, data); }
};

TEST_F(ReceivingTest, UnsafeNamesAreRefused) {
    const QByteArray names[] = {"../x", "/etc/x", "a/b", "..", ".", "a\\b", "x\ty", "x\x81y"};
    for (const QByteArray& name : names) {
        SCOPED_TRACE(name.toStdString());
        RawPeer peer(receiver.port());
        peer.send("i|" + name + "|10");
        EXPECT_TRUE(peer.waitClosed());
        ASSERT_TRUE(listeningAgain());
        EXPECT_EQ(receiver.panel(1), QStringLiteral("Nombre de archivo no valido"));
        EXPECT_FALSE(receiver.w().Recibir->isEnabled());
    }
    EXPECT_TRUE(QDir(receiver.receiveFolder()).isEmpty());
}

TEST_F(ReceivingTest, PeerCannotActBeforeTheUserAccepts) {
    const QByteArray early[] = {"d|0|3|abc", "r", "p"};
    for (const QByteArray& message : early) {
        SCOPED_TRACE(message.toStdString());
        auto peer = offering("early.bin", 3);
        peer->send(message + QByteArray(2049, '\0'));
        EXPECT_TRUE(peer->waitClosed());
        ASSERT_TRUE(listeningAgain());
        EXPECT_FALSE(QFileInfo::exists(received(QStringLiteral("early.bin"))));
    }
}

TEST_F(ReceivingTest, OnlyTheRequestedBlockIsWrittenAndNeverPastTheOffer) {
    auto peer = offering("tiny.bin", 10);
    receiver.w().Recibir->click();
    EXPECT_EQ(peer->receive(3), QByteArray("a|0"));
    // 2048 bytes come for a 10-byte offer: only the first 10 land, and the file is complete.
    peer->send(block(0, QByteArray(2048, 'z')));
    EXPECT_EQ(peer->receive(1), QByteArray("f"));
    EXPECT_EQ(readFile(received(QStringLiteral("tiny.bin"))), QByteArray(10, 'z'));
    peer->close();
    ASSERT_TRUE(listeningAgain());
    EXPECT_EQ(receiver.panel(1), QStringLiteral("Recibido!"));
}

TEST_F(ReceivingTest, BlocksThatWereNotAskedForCloseTheConnection) {
    struct Case {
        const char* what;
        QByteArray message;
    };
    const Case cases[] = {
        {"another index", BlockMessage(5, QByteArray(2048, 'y'))},
        {"a second offer", "i|other.bin|10"},
        {"an empty block inside the file", BlockMessage(0, QByteArray())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(received(QStringLiteral("asked.bin")));
        auto peer = offering("asked.bin", 5000);
        receiver.w().Recibir->click();
        EXPECT_EQ(peer->receive(3), QByteArray("a|0"));
        peer->send(c.message);
        EXPECT_TRUE(peer->waitClosed());
        ASSERT_TRUE(listeningAgain());
        EXPECT_EQ(QFileInfo(received(QStringLiteral("asked.bin"))).size(), 0);
    }
}

TEST_F(ReceivingTest, AnAnswerNeverGoesToAPeerThatCameWhileTheBoxWasOpen) {
    writeFile(received(QStringLiteral("same.bin")), "partial");
    auto first = offering("same.bin", 5000);
    std::unique_ptr<RawPeer> second;
    receiver.dialogs.queueYesNo(true);
    receiver.dialogs.onAsk = [&](const ScriptedUserDialogs::Asked&) {
        first->close();
        listeningAgain();
        second = std::make_unique<RawPeer>(receiver.port());
        second->send("i|same.bin|5000");
        waitUntil([&] { return receiver.w().Recibir->isEnabled(); });
    };
    receiver.w().Recibir->click();
    // The box answers from the event loop, after the peer changed under it.
    ASSERT_TRUE(waitUntil([&] { return second != nullptr; }));
    EXPECT_EQ(second->receive(1, 300), QByteArray());
    EXPECT_EQ(readFile(received(QStringLiteral("same.bin"))), QByteArray("partial"));
}

TEST_F(ReceivingTest, ASymbolicLinkAtTheTargetIsNotFollowed) {
    QTemporaryDir elsewhere;
    const QString outside = elsewhere.filePath(QStringLiteral("secret"));
    writeFile(outside, "untouched");
    ASSERT_TRUE(QFile::link(outside, received(QStringLiteral("link.bin"))));
    auto peer = offering("link.bin", 5000);
    receiver.dialogs.queueYesNo(true);
    receiver.w().Recibir->click();
    EXPECT_TRUE(peer->waitClosed());
    ASSERT_TRUE(listeningAgain());
    EXPECT_EQ(receiver.panel(1), QStringLiteral("No se puede abrir el archivo"));
    EXPECT_EQ(readFile(outside), QByteArray("untouched"));
}

TEST_F(ReceivingTest, AcceptingWithoutAReceiveFolderAsksForOne) {
    QTemporaryDir chosen;
    receiver.w().GuardarEn->setText(QString());
    auto peer = offering("here.bin", 3);
    receiver.dialogs.queueFolder(chosen.path());
    receiver.w().Recibir->click();
    EXPECT_EQ(peer->receive(3), QByteArray("a|0"));
    EXPECT_EQ(receiver.w().GuardarEn->text(), chosen.path() + QLatin1Char('/'));
    EXPECT_TRUE(QFileInfo::exists(chosen.filePath(QStringLiteral("here.bin"))));
}

TEST_F(ReceivingTest, GarbageAndEmptyReadsAreHandledWithoutABox) {
    {
        RawPeer peer(receiver.port());
        peer.send(QByteArray(64 * 1024, 'x'));
        EXPECT_TRUE(peer.waitClosed());
    }
    ASSERT_TRUE(listeningAgain());
    {
        RawPeer peer(receiver.port());
        peer.send("a|");
        EXPECT_TRUE(peer.waitClosed());
    }
    ASSERT_TRUE(listeningAgain());
    EXPECT_TRUE(receiver.dialogs.asked().empty());
}

// An exception in the middle of handling a peer's input (here from a listener of the offer)
// goes to the error box; the receiving side goes on reading the next peers as before.
TEST_F(ReceivingTest, AnExceptionWhileHandlingInputLeavesTheReceiverReading) {
    auto* app = qobject_cast<RuvoApplication*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    app->setErrorDialogs(&receiver.dialogs);
    bool thrown = false;
    QObject::connect(receiver.w().Receiving(), &ReceivingService::offerArrived, &receiver.w(),
                     [&thrown] {
                         if (!std::exchange(thrown, true)) {
                             throw std::runtime_error("Fallo al mostrar la oferta");
                         }
                     });
    {
        auto peer = offering("first.bin", 3);
        ASSERT_TRUE(waitUntil(
            [&] { return !receiver.dialogs.texts(ScriptedUserDialogs::Kind::Error).isEmpty(); }));
    }
    ASSERT_TRUE(listeningAgain());
    auto peer = offering("second.bin", 3);
    ASSERT_TRUE(receiver.w().Recibir->isEnabled());
    receiver.w().Recibir->click();
    EXPECT_EQ(peer->receive(3), QByteArray("a|0"));
    app->setErrorDialogs(nullptr);
}

}  // namespace
