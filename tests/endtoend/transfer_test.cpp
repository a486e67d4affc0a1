// Two real windows in one process, talking over loopback: files travel whole, partial files
// are continued, pauses, cancels and extra peers behave as a user expects.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <csignal>

#include "copies.h"
#include "engine/sendingsession.h"
#include "engine/ttimer.h"
#include "shell/addresschooser.h"
#include "shell/formruvo.h"
#include "shell/tpagecontrol.h"
#include "widgets/folderedit.h"

namespace {

const QString kEnviado = QStringLiteral("Enviado!");
const QString kRecibido = QStringLiteral("Recibido!");

// A receiving copy, a sending copy aimed at it, and a folder for the files to send.
class TransferTest : public ::testing::Test {
protected:
    Copy receiver;
    Copy sender{receiver.port()};
    QTemporaryDir source;

    QString sourceFile(const QString& name, const QByteArray& bytes) {
        const QString path = source.filePath(name);
        writeFile(path, bytes);
        return path;
    }
    QString received(const QString& name) const { return receiver.receiveFolder() + name; }
    bool bothEnded(const QString& senderText, const QString& receiverText, int ms = 20000) {
        return waitUntil(
            [&] {
                return sender.panel(1) == senderText && receiver.panel(1) == receiverText &&
                       receiver.panel(0) == QStringLiteral("Desconectado.") &&
                       sender.panel(0) == QStringLiteral("Desconectado.");
            },
            ms);
    }
    // Waits until blocks flow, for pausing at a point where the transfer is surely running.
    bool flowing() {
        return waitUntil([&] {
            return sender.w().PausarEnvio->isEnabled() && receiver.w().PausarRecepcion->isEnabled();
        });
    }
};

TEST_F(TransferTest, FilesOfEverySizeArriveIntact) {
    for (const qint64 size : {0, 1, 2048, 5000, 1024 * 1024 + 7}) {
        SCOPED_TRACE(size);
        const QString name = QStringLiteral("file%1.bin").arg(size);
        const QByteArray bytes = patternBytes(size, static_cast<quint32>(size));
        sender.send(sourceFile(name, bytes));
        ASSERT_TRUE(receiver.acceptOffer());
        ASSERT_TRUE(bothEnded(kEnviado, kRecibido));
        EXPECT_EQ(readFile(received(name)), bytes);
        EXPECT_EQ(receiver.w().FicheroRecibido->text(), name);
        EXPECT_EQ(receiver.w().TamanoRecibido->text(), QString::number(size));
        EXPECT_EQ(receiver.w().DireccionRecibida->text(), QStringLiteral("127.0.0.1"));
        // Both pages are back to their idle look, ready for the next file.
        EXPECT_TRUE(sender.w().Enviar->isEnabled());
        EXPECT_EQ(sender.w().Enviar->text(), QStringLiteral("Enviar"));
        EXPECT_FALSE(receiver.w().Recibir->isEnabled());
        EXPECT_TRUE(receiver.w().Paginas->isTabVisible(0));
        EXPECT_TRUE(sender.w().Paginas->isTabVisible(1));
    }
    EXPECT_TRUE(receiver.dialogs.failures().isEmpty())
        << receiver.dialogs.failures().join(u'\n').toStdString();
}

TEST_F(TransferTest, NamesTravelAsTheUserSeesThem) {
    const QString name = QStringLiteral("café – notes €.txt");
    const QByteArray bytes = patternBytes(3000, 7);
    sender.send(sourceFile(name, bytes));
    ASSERT_TRUE(receiver.acceptOffer());
    ASSERT_TRUE(bothEnded(kEnviado, kRecibido));
    EXPECT_EQ(readFile(received(name)), bytes);
}

TEST_F(TransferTest, PartialFileIsContinuedFromTheBlockHoldingItsEnd) {
    // The partial file differs from the source in its first bytes: whatever the receiver
    // fetched again would show in the result.
    const QByteArray bytes = patternBytes(10000, 1);
    const QByteArray partial = patternBytes(5000, 2);
    writeFile(received(QStringLiteral("big.bin")), partial);
    receiver.dialogs.queueYesNo(true);
    sender.send(sourceFile(QStringLiteral("big.bin"), bytes));
    ASSERT_TRUE(receiver.acceptOffer());
    ASSERT_TRUE(bothEnded(kEnviado, kRecibido));
    EXPECT_EQ(readFile(received(QStringLiteral("big.bin"))), partial.left(4096) + bytes.mid(4096));
    EXPECT_EQ(receiver.dialogs.texts(ScriptedUserDialogs::Kind::YesNo),
              QStringList{QStringLiteral("¿Continuar con el archivo existente?")});
}

TEST_F(TransferTest, ExistingCompleteFileEndsAtOnceUnchanged) {
    for (const qint64 extra : {0, 100}) {
        SCOPED_TRACE(extra);
        const QByteArray existing = patternBytes(4000 + extra, 3);
        writeFile(received(QStringLiteral("done.bin")), existing);
        receiver.dialogs.queueYesNo(true);
        sender.send(sourceFile(QStringLiteral("done.bin"), patternBytes(4000, 4)));
        ASSERT_TRUE(receiver.acceptOffer());
        ASSERT_TRUE(bothEnded(kEnviado, kRecibido));
        EXPECT_EQ(readFile(received(QStringLiteral("done.bin"))), existing);
    }
}

TEST_F(TransferTest, DecliningAnExistingFileClosesAndLeavesItAlone) {
    const QByteArray existing = patternBytes(1000, 5);
    writeFile(received(QStringLiteral("keep.bin")), existing);
    receiver.dialogs.queueYesNo(false);
    sender.send(sourceFile(QStringLiteral("keep.bin"), patternBytes(9000, 6)));
    ASSERT_TRUE(receiver.acceptOffer());
    ASSERT_TRUE(bothEnded(QString(), QString()));
    EXPECT_EQ(readFile(received(QStringLiteral("keep.bin"))), existing);
}

TEST_F(TransferTest, SenderPausesAndResumes) {
    const QByteArray bytes = patternBytes(8 * 1024 * 1024, 8);
    sender.send(sourceFile(QStringLiteral("p.bin"), bytes));
    ASSERT_TRUE(receiver.acceptOffer());
    ASSERT_TRUE(flowing());
    sender.w().PausarEnvio->click();
    EXPECT_EQ(sender.w().PausarEnvio->text(), QStringLiteral("Reanudar"));
    // The receiver follows the pause and cannot take it back itself.
    ASSERT_TRUE(waitUntil([&] {
        return !receiver.w().PausarRecepcion->isEnabled() && receiver.w().Pausado->isActive();
    }));
    EXPECT_TRUE(sender.w().PausarEnvio->isEnabled());
    EXPECT_FALSE(sender.w().Panel1->isVisible());
    const qint64 pausedAt = QFileInfo(received(QStringLiteral("p.bin"))).size();
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(QFileInfo(received(QStringLiteral("p.bin"))).size(), pausedAt);

    sender.w().PausarEnvio->click();
    ASSERT_TRUE(bothEnded(kEnviado, kRecibido, 60000));
    EXPECT_EQ(readFile(received(QStringLiteral("p.bin"))), bytes);
}

TEST_F(TransferTest, ReceiverPausesAndResumes) {
    const QByteArray bytes = patternBytes(8 * 1024 * 1024, 9);
    sender.send(sourceFile(QStringLiteral("r.bin"), bytes));
    ASSERT_TRUE(receiver.acceptOffer());
    ASSERT_TRUE(flowing());
    receiver.w().PausarRecepcion->click();
    ASSERT_TRUE(waitUntil(
        [&] { return !sender.w().PausarEnvio->isEnabled() && sender.w().Pausado->isActive(); }));
    EXPECT_TRUE(receiver.w().PausarRecepcion->isEnabled());
    EXPECT_EQ(receiver.w().PausarRecepcion->text(), QStringLiteral("Reanudar"));
    // A second click resumes from the block after the last one written.
    receiver.w().PausarRecepcion->click();
    ASSERT_TRUE(bothEnded(kEnviado, kRecibido, 60000));
    EXPECT_EQ(readFile(received(QStringLiteral("r.bin"))), bytes);
}

TEST_F(TransferTest, QuickPauseAndResumeSendsNoBlockTwice) {
    const QByteArray bytes = patternBytes(2 * 1024 * 1024, 10);
    sender.send(sourceFile(QStringLiteral("q.bin"), bytes));
    ASSERT_TRUE(receiver.acceptOffer());
    ASSERT_TRUE(flowing());
    for (int i = 0; i < 20; ++i) {
        receiver.w().PausarRecepcion->click();
        receiver.w().PausarRecepcion->click();
        sender.w().PausarEnvio->click();
        sender.w().PausarEnvio->click();
        waitUntil([] { return false; }, 5);
    }
    ASSERT_TRUE(bothEnded(kEnviado, kRecibido, 60000));
    EXPECT_EQ(readFile(received(QStringLiteral("q.bin"))), bytes);
}

TEST_F(TransferTest, ReceiverCancelsDuringAPause) {
    const QByteArray bytes = patternBytes(8 * 1024 * 1024, 11);
    sender.send(sourceFile(QStringLiteral("c.bin"), bytes));
    ASSERT_TRUE(receiver.acceptOffer());
    ASSERT_TRUE(flowing());
    sender.w().PausarEnvio->click();
    ASSERT_TRUE(waitUntil([&] { return receiver.w().Pausado->isActive(); }));
    receiver.w().CancelarRecepcion->click();
    ASSERT_TRUE(bothEnded(QString(), QStringLiteral("Cancelado.")));
    const QByteArray partial = readFile(received(QStringLiteral("c.bin")));
    EXPECT_GT(partial.size(), 0);
    EXPECT_LT(partial.size(), bytes.size());
    EXPECT_EQ(partial, bytes.left(partial.size()));
}

TEST_F(TransferTest, SenderCancelsDuringAPause) {
    const QByteArray bytes = patternBytes(8 * 1024 * 1024, 12);
    sender.send(sourceFile(QStringLiteral("s.bin"), bytes));
    ASSERT_TRUE(receiver.acceptOffer());
    ASSERT_TRUE(flowing());
    receiver.w().PausarRecepcion->click();
    ASSERT_TRUE(waitUntil([&] { return sender.w().Pausado->isActive(); }));
    sender.w().Enviar->click();
    ASSERT_TRUE(bothEnded(QString(), QString()));
    const QByteArray partial = readFile(received(QStringLiteral("s.bin")));
    EXPECT_EQ(partial, bytes.left(partial.size()));
}

TEST_F(TransferTest, AFileThatShrinksWhileSentEndsTheSend) {
    // Without a stop, the receiver would ask for the missing block forever.
    const QString path =
        sourceFile(QStringLiteral("shrink.bin"), patternBytes(8 * 1024 * 1024, 15));
    sender.send(path);
    ASSERT_TRUE(receiver.acceptOffer());
    ASSERT_TRUE(flowing());
    receiver.w().PausarRecepcion->click();
    ASSERT_TRUE(waitUntil([&] { return sender.w().Pausado->isActive(); }));
    ASSERT_TRUE(QFile::resize(path, 4096));
    receiver.w().PausarRecepcion->click();
    ASSERT_TRUE(bothEnded(QStringLiteral("No se puede leer el archivo"), QString()));
}

TEST_F(TransferTest, ThirdPeerIsToldBusyAndDismissedWhileTheTransferGoesOn) {
    const QByteArray bytes = patternBytes(4 * 1024 * 1024, 13);
    sender.send(sourceFile(QStringLiteral("b.bin"), bytes));
    ASSERT_TRUE(receiver.acceptOffer());
    ASSERT_TRUE(flowing());
    RawPeer third(receiver.port());
    ASSERT_TRUE(third.connected());
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(third.receive(1), QByteArray("o"));
    ASSERT_TRUE(third.waitClosed());
    EXPECT_GE(clock.elapsed(), 400);
    EXPECT_LT(clock.elapsed(), 3000);
    ASSERT_TRUE(bothEnded(kEnviado, kRecibido, 60000));
    EXPECT_EQ(readFile(received(QStringLiteral("b.bin"))), bytes);
}

TEST_F(TransferTest, SilentPeerIsDismissedAfterSixSeconds) {
    RawPeer silent(receiver.port());
    ASSERT_TRUE(silent.connected());
    ASSERT_TRUE(waitUntil([&] { return receiver.panel(0) == QStringLiteral("Conectado."); }));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(silent.receive(7, 10000), QByteArray("Jodete!"));
    EXPECT_GE(clock.elapsed(), 5500);
    ASSERT_TRUE(silent.waitClosed());
    ASSERT_TRUE(waitUntil([&] { return receiver.panel(0) == QStringLiteral("Desconectado."); }));
    EXPECT_EQ(receiver.panel(1), QString());
}

TEST_F(TransferTest, TabsHideWhileBusyAndComeBack) {
    const QByteArray bytes = patternBytes(4 * 1024 * 1024, 14);
    sender.send(sourceFile(QStringLiteral("t.bin"), bytes));
    EXPECT_FALSE(sender.w().Paginas->isTabVisible(1));
    ASSERT_TRUE(waitUntil([&] { return receiver.w().Recibir->isEnabled(); }));
    EXPECT_FALSE(receiver.w().Paginas->isTabVisible(0));
    EXPECT_EQ(receiver.w().Paginas->currentIndex(), 1);
    receiver.w().Recibir->click();
    ASSERT_TRUE(bothEnded(kEnviado, kRecibido, 60000));
    EXPECT_TRUE(sender.w().Paginas->isTabVisible(1));
    EXPECT_TRUE(receiver.w().Paginas->isTabVisible(0));
}

TEST(SendingTest, NobodyListeningEndsWithAConnectionError) {
    QTemporaryDir source;
    const QString path = source.filePath(QStringLiteral("x.bin"));
    writeFile(path, "x");
    quint16 closedPort = 0;
    {
        Copy probe;  // a port that was free a moment ago and is closed now
        closedPort = probe.port();
    }
    Copy sender(closedPort);
    sender.send(path);
    ASSERT_TRUE(
        waitUntil([&] { return sender.panel(1) == QStringLiteral("Error en la conexion."); }));
    EXPECT_EQ(sender.panel(0), QStringLiteral("Desconectado."));
    EXPECT_EQ(sender.w().Enviar->text(), QStringLiteral("Enviar"));
}

// A name is looked up without holding the window; one that resolves sends, and the address
// as typed is offered again; one that does not ends as a bad address does.
TEST_F(TransferTest, ANameIsLookedUpAndASentAddressIsOfferedAgain) {
    const QByteArray bytes = patternBytes(5000, 21);
    sender.send(sourceFile(QStringLiteral("n.bin"), bytes), QStringLiteral("localhost"));
    ASSERT_TRUE(receiver.acceptOffer());
    ASSERT_TRUE(bothEnded(kEnviado, kRecibido));
    EXPECT_EQ(readFile(received(QStringLiteral("n.bin"))), bytes);
    EXPECT_EQ(sender.w().Direcciones->recent(), QStringList{QStringLiteral("localhost")});

    // A failed send is not remembered.
    sender.send(sourceFile(QStringLiteral("m.bin"), bytes), QStringLiteral("no-such-host.invalid"));
    ASSERT_TRUE(waitUntil([&] { return sender.w().Enviar->text() == QStringLiteral("Enviar"); }));
    EXPECT_EQ(sender.panel(1), QStringLiteral("Direccion Erronea."));
    EXPECT_EQ(sender.w().Direcciones->recent(), QStringList{QStringLiteral("localhost")});
    EXPECT_TRUE(sender.dialogs.failures().isEmpty());  // no box
}

TEST(SendingTest, AnAddressThatIsNoAddressIsRefusedAtOnce) {
    QTemporaryDir source;
    const QString path = source.filePath(QStringLiteral("x.bin"));
    writeFile(path, "x");
    Copy sender(1);
    sender.send(path, QStringLiteral("no such host"));
    ASSERT_TRUE(waitUntil([&] { return sender.w().Enviar->text() == QStringLiteral("Enviar"); }));
    EXPECT_EQ(sender.panel(1), QStringLiteral("Direccion Erronea."));
    EXPECT_EQ(sender.panel(0), QStringLiteral("Desconectado."));
}

}  // namespace

namespace {

// The target is fixed when the offer is accepted: choosing another receive folder during the
// transfer (one holding an unrelated file of the same name) applies to the next transfer.
TEST_F(TransferTest, AFolderChosenDuringATransferAppliesToTheNextOne) {
    const QByteArray bytes = patternBytes(4 * 1024 * 1024, 21);
    QTemporaryDir other;
    const QString otherFile = other.path() + QStringLiteral("/big.bin");
    const QByteArray unrelated = patternBytes(6 * 1024 * 1024, 22);
    writeFile(otherFile, unrelated);
    sender.send(sourceFile(QStringLiteral("big.bin"), bytes));
    ASSERT_TRUE(receiver.acceptOffer());
    ASSERT_TRUE(flowing());
    receiver.w().PausarRecepcion->click();
    ASSERT_TRUE(waitUntil([&] { return sender.w().Pausado->isActive(); }));
    receiver.w().GuardarEn->setText(other.path());
    receiver.w().PausarRecepcion->click();
    ASSERT_TRUE(bothEnded(kEnviado, kRecibido, 60000));
    EXPECT_EQ(readFile(received(QStringLiteral("big.bin"))), bytes);
    EXPECT_EQ(readFile(otherFile), unrelated);
    EXPECT_EQ(receiver.w().GuardarEn->text(), other.path() + QLatin1Char('/'));
}

// A disk that runs full shows its box; a user who makes room and resumes while the box is up
// gets a running transfer without a blinking "Pausa" once the box is gone.
TEST_F(TransferTest, AfterTheDiskFullBoxPausaBlinksOnlyWhileStillPaused) {
    const QByteArray bytes = patternBytes(2 * 1024 * 1024, 23);
    bool full = false;  // room enough when the offer is accepted
    receiver.w().Receiving()->setFreeSpaceProbe(
        [&full](const QString&) -> qint64 { return full ? 0 : qint64(1) << 40; });
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const auto restore = [&] {
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
    };
    bool boxShown = false;
    receiver.dialogs.onAsk = [&](const ScriptedUserDialogs::Asked& asked) {
        if (asked.text == QStringLiteral("Sin espacio en disco.")) {
            boxShown = true;
            restore();
            full = false;
            receiver.w().PausarRecepcion->click();  // "Reanudar": there is room again
        }
    };
    int blinkingBlocks = 0;
    QObject::connect(receiver.w().Receiving(), &ReceivingService::progress, &receiver.w(), [&] {
        if (boxShown && receiver.w().Pausado->isActive()) {
            ++blinkingBlocks;
        }
    });
    const QString path = sourceFile(QStringLiteral("full.bin"), bytes);
    rlimit limited = old;
    limited.rlim_cur = 256 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    sender.send(path);
    const bool accepted = receiver.acceptOffer();
    full = true;
    const bool ended = bothEnded(kEnviado, kRecibido, 60000);
    restore();
    ASSERT_TRUE(accepted);
    ASSERT_TRUE(ended);
    EXPECT_TRUE(boxShown);
    EXPECT_EQ(blinkingBlocks, 0);
    EXPECT_EQ(readFile(received(QStringLiteral("full.bin"))), bytes);
}

}  // namespace

// Over the lane the sending window is told why the receiver ended: it declined the offer or
// cancelled it. (A classic receiver only closes, and the sending window says nothing.)
TEST(LaneWindows, TheSenderIsToldTheReceiverDeclinedOrCancelled) {
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "declined");
        Copy receiver(0, true);
        if (!receiver.w().Receiving()->laneListening()) {
            GTEST_SKIP() << "the port after the one the system gave is taken";
        }
        Copy sender(receiver.port(), true);
        QTemporaryDir source;
        const QString path = source.filePath(QStringLiteral("r.bin"));
        writeFile(path, patternBytes(16 * 1024 * 1024, 31));
        if (!cancel) {
            // An existing file of the name, and the user declines to go on with it.
            writeFile(receiver.receiveFolder() + QStringLiteral("r.bin"), "other");
            receiver.dialogs.queueYesNo(false);
        }
        sender.send(path);
        ASSERT_TRUE(receiver.acceptOffer());
        if (cancel) {
            ASSERT_TRUE(waitUntil([&] { return sender.w().PausarEnvio->isEnabled(); }));
            sender.w().PausarEnvio->click();
            ASSERT_TRUE(waitUntil([&] { return receiver.w().Pausado->isActive(); }));
            receiver.w().CancelarRecepcion->click();
        }
        const QString said = cancel ? QStringLiteral("Cancelado por el receptor.")
                                    : QStringLiteral("Oferta rechazada.");
        EXPECT_TRUE(waitUntil([&] {
            return sender.panel(0) == QStringLiteral("Desconectado.") && sender.panel(1) == said;
        })) << sender.panel(1).toStdString();
        EXPECT_EQ(receiver.panel(1), cancel ? QStringLiteral("Cancelado.") : QString());
    }
}

// Several files between two windows over the lane: the sending page shows the count and the
// total, the receiving page the same, and afterwards the folder is offered to be opened. A
// text from another copy arrives in a box of its own.
TEST(LaneWindows, AFolderArrivesWithItsCountAndATextIsShown) {
    Copy receiver(0, true);
    if (!receiver.w().Receiving()->laneListening()) {
        GTEST_SKIP() << "the port after the one the system gave is taken";
    }
    Copy sender(receiver.port(), true);
    QTemporaryDir source;
    const QString folder = source.filePath(QStringLiteral("fotos"));
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/dentro")));
    writeFile(folder + QStringLiteral("/a.jpg"), patternBytes(300000, 1));
    writeFile(folder + QStringLiteral("/dentro/b.jpg"), patternBytes(700000, 2));
    writeFile(folder + QStringLiteral("/c.txt"), "c");
    ASSERT_TRUE(sender.w().ChooseFilesToSend({folder}));
    EXPECT_EQ(sender.w().FicheroEnviado->text(), QStringLiteral("fotos"));
    EXPECT_EQ(sender.w().TamanoEnviado->text(), QStringLiteral("1000001"));
    ASSERT_TRUE(sender.w().ChooseFilesToSend(
        {folder + QStringLiteral("/a.jpg"), folder + QStringLiteral("/c.txt")}));
    EXPECT_EQ(sender.w().FicheroEnviado->text(), QStringLiteral("2 archivos"));
    EXPECT_EQ(sender.w().TamanoEnviado->text(), QStringLiteral("300001"));
    ASSERT_TRUE(sender.w().ChooseFilesToSend({folder}));

    receiver.dialogs.queueYesNo(false);  // "open the folder?": not in a test
    sender.w().DireccionEnviada->setText(QStringLiteral("127.0.0.1"));
    sender.w().Enviar->click();
    ASSERT_TRUE(receiver.acceptOffer());
    EXPECT_EQ(receiver.w().FicheroRecibido->text(), QStringLiteral("3 archivos"));
    EXPECT_EQ(receiver.w().TamanoRecibido->text(), QStringLiteral("1000001"));
    ASSERT_TRUE(waitUntil([&] { return sender.panel(1) == QStringLiteral("Enviado!"); }))
        << sender.panel(1).toStdString();
    ASSERT_TRUE(waitUntil([&] { return receiver.dialogs.pendingAnswers() == 0; }));
    EXPECT_EQ(readFile(receiver.receiveFolder() + QStringLiteral("fotos/dentro/b.jpg")),
              patternBytes(700000, 2));
    const QStringList asked = receiver.dialogs.texts(ScriptedUserDialogs::Kind::YesNo);
    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(asked[0].contains(QStringLiteral("3 archivos"))) << asked[0].toStdString();
    EXPECT_TRUE(asked[0].contains(QStringLiteral("Abrir la carpeta")));

    SendingSession text(static_cast<quint16>(receiver.port()), nullptr);
    text.setLaneIdentity(sender.w().Sending()->laneIdentity());
    text.setLaneEnabled(true);
    ASSERT_TRUE(text.chooseText(QStringLiteral("codigo: 1234")));
    text.start(QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(receiver.acceptOffer());
    EXPECT_TRUE(waitUntil([&] {
        return receiver.dialogs.texts(ScriptedUserDialogs::Kind::Message)
            .contains(QStringLiteral("codigo: 1234"));
    }));
    EXPECT_EQ(receiver.w().FicheroRecibido->text(), QStringLiteral("Texto"));
}
