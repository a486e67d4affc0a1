// Real transfers over loopback between ruvo-cli processes, and between ruvo-cli and a window
// in this process; files compared by content, exit codes checked.

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include "cli/cliprocess.h"
#include "cli/exitcode.h"
#include "endtoend/copies.h"
#include "net/serverendpoint.h"
#include "shell/formruvo.h"
#include "widgets/percentgauge.h"

namespace {

// A receiving ruvo-cli that accepts everything once, on a free port.
std::unique_ptr<CliProcess> receiverOnce(const Folders& folders, quint16 port,
                                         const QStringList& extra = {}) {
    auto receiver = std::make_unique<CliProcess>(
        QStringList{QStringLiteral("receive"), QStringLiteral("--no-localsend"),
                    QStringLiteral("--dir"), folders.target.path(), QStringLiteral("--accept"),
                    QStringLiteral("--once"), QStringLiteral("--port"), arg(port)} +
        extra);
    EXPECT_TRUE(receiver->waitForOutput("Esperando ofertas"));
    return receiver;
}

TEST(CliTransfers, CliToCliMovesFilesOfEverySizeAndName) {
    struct Case {
        const char* name;
        qint64 size;
    };
    const Case cases[] = {
        {"empty.bin", 0}, {"one.bin", 1}, {"block.bin", 2048}, {"año ñandú.bin", 1024 * 1024 + 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Folders folders;
        const QString name = QString::fromUtf8(c.name);
        const QByteArray content = patternBytes(c.size, static_cast<quint32>(c.size) + 1);
        writeFile(folders.sourceFile(name), content);
        const quint16 port = freePort();
        auto receiver = receiverOnce(folders, port);
        CliProcess sender({QStringLiteral("send"), folders.sourceFile(name),
                           QStringLiteral("127.0.0.1"), QStringLiteral("--port"), arg(port)});
        EXPECT_EQ(sender.waitForExit(), kExitDone) << sender.output().toStdString();
        EXPECT_EQ(receiver->waitForExit(), kExitDone) << receiver->output().toStdString();
        EXPECT_TRUE(sender.output().contains("Enviado!"));
        EXPECT_TRUE(receiver->output().contains("Recibido! Guardado en " +
                                                folders.targetFile(name).toUtf8()));
        EXPECT_EQ(readFile(folders.targetFile(name)), content);
        // Into a pipe: one line per tenth of the way, so "100%" once on each side.
        EXPECT_EQ(sender.output().count("100%"), 1) << sender.output().toStdString();
        EXPECT_EQ(receiver->output().count("100%"), 1) << receiver->output().toStdString();
        EXPECT_EQ(sender.output().count("Esperando respuesta de 127.0.0.1..."), 1);
    }
}

TEST(CliTransfers, APartialFileIsContinuedOrTheOfferDeclined) {
    const QByteArray content = patternBytes(24 * 1024 * 1024, 9);
    const qsizetype partial = 20 * 1024 * 1024;
    for (const char* answer : {"yes", "no"}) {
        SCOPED_TRACE(answer);
        Folders folders;
        writeFile(folders.sourceFile(QStringLiteral("f.bin")), content);
        writeFile(folders.targetFile(QStringLiteral("f.bin")), content.first(partial));
        const quint16 port = freePort();
        auto receiver = receiverOnce(
            folders, port,
            {QStringLiteral("--continue"), QString::fromLatin1(answer), QStringLiteral("--json")});
        CliProcess sender({QStringLiteral("send"), folders.sourceFile(QStringLiteral("f.bin")),
                           QStringLiteral("127.0.0.1"), QStringLiteral("--port"), arg(port)});
        const bool yes = QByteArray(answer) == "yes";
        EXPECT_EQ(sender.waitForExit(), yes ? kExitDone : kExitRefused)
            << sender.output().toStdString();
        EXPECT_EQ(receiver->waitForExit(), yes ? kExitDone : kExitRefused)
            << receiver->output().toStdString();
        EXPECT_EQ(readFile(folders.targetFile(QStringLiteral("f.bin"))),
                  yes ? content : content.first(partial));
        // The 20 MiB already there were not moved now: no rate counts them.
        for (const QByteArray& line : receiver->output().split('\n')) {
            const QJsonObject event = QJsonDocument::fromJson(line).object();
            if (event.value(QStringLiteral("event")) == QStringLiteral("progress")) {
                EXPECT_LT(event.value(QStringLiteral("rate")).toDouble(), 5e9) << line.data();
            }
        }
    }
}

TEST(CliTransfers, BusyAndRefusedAndPortTaken) {
    Folders folders;
    writeFile(folders.sourceFile(QStringLiteral("f.bin")), "abc");
    const quint16 port = freePort();
    // A receiver that asks, and nobody answers: its first offer keeps it busy.
    CliProcess receiver({QStringLiteral("receive"), QStringLiteral("--no-localsend"),
                         QStringLiteral("--dir"), folders.target.path(), QStringLiteral("--ask"),
                         QStringLiteral("--port"), arg(port)});
    ASSERT_TRUE(receiver.waitForOutput("Esperando ofertas"));
    CliProcess first({QStringLiteral("send"), folders.sourceFile(QStringLiteral("f.bin")),
                      QStringLiteral("127.0.0.1"), QStringLiteral("--port"), arg(port)});
    ASSERT_TRUE(receiver.waitForOutput("¿Recibir f.bin?"));
    CliProcess second({QStringLiteral("send"), folders.sourceFile(QStringLiteral("f.bin")),
                       QStringLiteral("127.0.0.1"), QStringLiteral("--port"), arg(port)});
    EXPECT_EQ(second.waitForExit(), kExitRefused);
    EXPECT_TRUE(second.output().contains("Destino Ocupado."));

    // The port is taken: one line that names it.
    CliProcess taken({QStringLiteral("receive"), QStringLiteral("--no-localsend"),
                      QStringLiteral("--dir"), folders.target.path(), QStringLiteral("--accept"),
                      QStringLiteral("--port"), arg(port)});
    EXPECT_EQ(taken.waitForExit(), kExitError);
    EXPECT_TRUE(taken.output().contains(QByteArray::number(port))) << taken.output().toStdString();

    receiver.write("n\n");  // the offer is declined
    EXPECT_EQ(first.waitForExit(), kExitRefused) << first.output().toStdString();
    receiver.signal(SIGTERM);
    EXPECT_EQ(receiver.waitForExit(), kExitCancelled);

    CliProcess refused({QStringLiteral("send"), folders.sourceFile(QStringLiteral("f.bin")),
                        QStringLiteral("127.0.0.1"), QStringLiteral("--port"), arg(freePort())});
    EXPECT_EQ(refused.waitForExit(), kExitError);
    EXPECT_TRUE(refused.output().contains("Error en la conexion."))
        << refused.output().toStdString();
    EXPECT_EQ(first.output().count("Esperando respuesta de 127.0.0.1..."), 1);
    CliProcess badName({QStringLiteral("send"), folders.sourceFile(QStringLiteral("f.bin")),
                        QStringLiteral("no-such-host.invalid"), QStringLiteral("--port"),
                        arg(port)});
    EXPECT_EQ(badName.waitForExit(), kExitError);
    EXPECT_TRUE(badName.output().contains("Direccion Erronea."));
}

// With --json the sender names the file at the start and the receiver where it saved it;
// HOST:PORT finds a receiver on another port.
TEST(CliTransfers, JsonNamesTheFileAndWhereItWasSaved) {
    Folders folders;
    const QByteArray content = patternBytes(70000, 4);
    writeFile(folders.sourceFile(QStringLiteral("nota.txt")), content);
    const quint16 port = freePort();
    auto receiver = receiverOnce(folders, port, {QStringLiteral("--json")});
    const QString address = QStringLiteral("127.0.0.1:%1").arg(port);
    CliProcess sender({QStringLiteral("send"), QStringLiteral("--json"),
                       folders.sourceFile(QStringLiteral("nota.txt")), address});
    EXPECT_EQ(sender.waitForExit(), kExitDone) << sender.output().toStdString();
    EXPECT_EQ(receiver->waitForExit(), kExitDone) << receiver->output().toStdString();
    const QJsonObject start =
        QJsonDocument::fromJson(sender.output().split('\n').value(0)).object();
    EXPECT_EQ(start.value(QStringLiteral("event")), QStringLiteral("start"));
    EXPECT_EQ(start.value(QStringLiteral("name")), QStringLiteral("nota.txt"));
    EXPECT_EQ(start.value(QStringLiteral("size")).toInteger(), content.size());
    EXPECT_EQ(start.value(QStringLiteral("address")), address);
    QJsonObject outcome;
    for (const QByteArray& line : receiver->output().split('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (event.value(QStringLiteral("event")) == QStringLiteral("outcome")) {
            outcome = event;
        }
    }
    EXPECT_EQ(outcome.value(QStringLiteral("kind")), QStringLiteral("received"));
    EXPECT_EQ(outcome.value(QStringLiteral("path")),
              folders.targetFile(QStringLiteral("nota.txt")));
    EXPECT_EQ(readFile(folders.targetFile(QStringLiteral("nota.txt"))), content);
}

// Ctrl+C on either side ends the transfer in order: the receiver keeps a partial file that
// is a prefix of the source, for a later resume.
TEST(CliTransfers, InterruptingEitherSideKeepsAPrefix) {
    const QByteArray content = patternBytes(96 * 1024 * 1024, 5);
    for (const bool interruptReceiver : {true, false}) {
        SCOPED_TRACE(interruptReceiver ? "receiver" : "sender");
        Folders folders;
        writeFile(folders.sourceFile(QStringLiteral("big.bin")), content);
        const quint16 port = freePort();
        auto receiver = receiverOnce(folders, port, {QStringLiteral("--json")});
        CliProcess sender({QStringLiteral("send"), folders.sourceFile(QStringLiteral("big.bin")),
                           QStringLiteral("127.0.0.1"), QStringLiteral("--port"), arg(port),
                           QStringLiteral("--json")});
        ASSERT_TRUE(receiver->waitForOutput("\"event\":\"progress\""));
        (interruptReceiver ? receiver.get() : &sender)->signal(SIGINT);
        const int senderCode = sender.waitForExit();
        const int receiverCode = receiver->waitForExit();
        EXPECT_EQ(interruptReceiver ? receiverCode : senderCode, kExitCancelled);
        EXPECT_NE(interruptReceiver ? senderCode : receiverCode, kExitDone);
        const QByteArray partial = readFile(folders.targetFile(QStringLiteral("big.bin")));
        EXPECT_LT(partial.size(), content.size());
        EXPECT_EQ(partial, content.first(partial.size()));
    }
}

TEST(CliTransfers, WindowAndCliTalkBothWays) {
    Folders folders;
    const QByteArray content = patternBytes(500000, 17);
    writeFile(folders.sourceFile(QStringLiteral("ventana.bin")), content);

    // Window to CLI.
    const quint16 port = freePort();
    auto receiver = receiverOnce(folders, port);
    Copy window(port);
    // A partial address that the system would complete to 127.0.0.1 goes nowhere.
    window.send(folders.sourceFile(QStringLiteral("ventana.bin")), QStringLiteral("127.1"));
    ASSERT_TRUE(waitUntil([&] { return window.panel(1) == QStringLiteral("Direccion Erronea."); }));
    EXPECT_FALSE(receiver->output().contains("Oferta de")) << receiver->output().toStdString();
    Copy other(freePort());  // a plain address would go where nobody listens
    other.send(folders.sourceFile(QStringLiteral("ventana.bin")),
               QStringLiteral("127.0.0.1:%1").arg(port));
    EXPECT_EQ(receiver->waitForExit(), kExitDone) << receiver->output().toStdString();
    ASSERT_TRUE(waitUntil([&] { return other.panel(1) == QStringLiteral("Enviado!"); }));
    EXPECT_EQ(readFile(folders.targetFile(QStringLiteral("ventana.bin"))), content);

    // CLI to window.
    CliProcess sender({QStringLiteral("send"), folders.sourceFile(QStringLiteral("ventana.bin")),
                       QStringLiteral("127.0.0.1"), QStringLiteral("--port"), arg(window.port())});
    ASSERT_TRUE(window.acceptOffer());
    EXPECT_EQ(sender.waitForExit(), kExitDone) << sender.output().toStdString();
    ASSERT_TRUE(waitUntil([&] { return window.panel(1) == QStringLiteral("Recibido!"); }));
    EXPECT_EQ(readFile(window.receiveFolder() + QStringLiteral("ventana.bin")), content);
}

// The same over the fast lane, with a file large enough to flow for a while, continued from
// a partial file on the way back.
TEST(CliTransfers, WindowAndCliTalkBothWaysOverTheLane) {
    Folders folders;
    const QByteArray content = patternBytes(24 * 1024 * 1024 + 3, 18);
    writeFile(folders.sourceFile(QStringLiteral("rapido.bin")), content);

    const quint16 port = freePort();
    auto receiver = receiverOnce(folders, port, {QStringLiteral("--json")});
    if (!receiver->output().contains("via rapida en el")) {
        // Another program took the lane's port (N + 1) meanwhile: the send would go classic.
        GTEST_SKIP() << "the port after the one the system gave is taken";
    }
    Copy window(port, true);
    bool onLane = false;
    QObject::connect(window.w().Sending(), &SendingSession::connected,
                     [&] { onLane = window.w().Sending()->onLane(); });
    window.send(folders.sourceFile(QStringLiteral("rapido.bin")));
    EXPECT_EQ(receiver->waitForExit(), kExitDone) << receiver->output().toStdString();
    ASSERT_TRUE(waitUntil([&] { return window.panel(1) == QStringLiteral("Enviado!"); }));
    EXPECT_TRUE(onLane);
    EXPECT_EQ(window.w().Progreso->toolTip(), QStringLiteral("Via rapida"));  // the mark
    // The rate, however fast, is whole in its label.
    const QLabel* rate = window.w().Frecuencia;
    EXPECT_LE(QFontMetrics(rate->font()).horizontalAdvance(rate->text()), rate->width())
        << rate->text().toStdString();
    EXPECT_EQ(readFile(folders.targetFile(QStringLiteral("rapido.bin"))), content);

    writeFile(window.receiveFolder() + QStringLiteral("rapido.bin"), content.first(5000000));
    window.dialogs.queueYesNo(true);  // continue the partial file
    CliProcess sender({QStringLiteral("send"), folders.sourceFile(QStringLiteral("rapido.bin")),
                       QStringLiteral("127.0.0.1"), QStringLiteral("--port"), arg(window.port())});
    ASSERT_TRUE(window.acceptOffer());
    EXPECT_EQ(sender.waitForExit(), kExitDone) << sender.output().toStdString();
    ASSERT_TRUE(waitUntil([&] { return window.panel(1) == QStringLiteral("Recibido!"); }));
    EXPECT_EQ(readFile(window.receiveFolder() + QStringLiteral("rapido.bin")), content);
    EXPECT_EQ(window.w().Progreso->ForeColor(), QColor(0, 112, 0));
}

// On a terminal, a line typed before a question never answers it: the "s" typed while
// nobody asked is dropped, and the "n" typed at the question declines.
TEST(CliTransfers, WhatWasTypedBeforeAQuestionIsDropped) {
    int terminal = -1;
    int input = -1;
    ASSERT_EQ(::openpty(&terminal, &input, nullptr, nullptr, nullptr), 0);
    Folders folders;
    writeFile(folders.sourceFile(QStringLiteral("f.bin")), "abc");
    const quint16 port = freePort();
    CliProcess receiver(
        {QStringLiteral("receive"), QStringLiteral("--no-localsend"), QStringLiteral("--dir"),
         folders.target.path(), QStringLiteral("--once"), QStringLiteral("--port"), arg(port)},
        CliProcess::defaultEnvironment(), input);
    ASSERT_TRUE(receiver.waitForOutput("Esperando ofertas"));
    ASSERT_EQ(::write(terminal, "s\n", 2), 2);
    CliProcess sender({QStringLiteral("send"), folders.sourceFile(QStringLiteral("f.bin")),
                       QStringLiteral("127.0.0.1"), QStringLiteral("--port"), arg(port)});
    ASSERT_TRUE(receiver.waitForOutput("¿Recibir f.bin? [s/N]"));
    EXPECT_FALSE(sender.waitForEnd(1000)) << "the answer typed before the question was taken";
    ASSERT_EQ(::write(terminal, "n\n", 2), 2);
    EXPECT_EQ(sender.waitForExit(), kExitRefused) << sender.output().toStdString();
    EXPECT_EQ(receiver.waitForExit(), kExitRefused) << receiver.output().toStdString();
    ::close(terminal);
    ::close(input);
}

TEST(CliTransfers, RunsWithNoDisplayAtAll) {
    // A home of its own: identities and remembered addresses left in a shared one by other
    // runs would decide this one (a pin for a port reused here, its lane port now taken).
    QTemporaryDir home;
    QProcessEnvironment bare;
    bare.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
    bare.insert(QStringLiteral("HOME"), home.path());
    bare.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    Folders folders;
    writeFile(folders.sourceFile(QStringLiteral("f.bin")), patternBytes(10000, 2));
    const quint16 port = freePort();
    CliProcess receiver({QStringLiteral("receive"), QStringLiteral("--no-localsend"),
                         QStringLiteral("--dir"), folders.target.path(), QStringLiteral("--accept"),
                         QStringLiteral("--once"), QStringLiteral("--port"), arg(port)},
                        bare);
    ASSERT_TRUE(receiver.waitForOutput("Esperando ofertas"));
    CliProcess sender({QStringLiteral("send"), folders.sourceFile(QStringLiteral("f.bin")),
                       QStringLiteral("127.0.0.1"), QStringLiteral("--port"), arg(port)},
                      bare);
    EXPECT_EQ(sender.waitForExit(), kExitDone) << sender.output().toStdString();
    EXPECT_EQ(receiver.waitForExit(), kExitDone);
    EXPECT_EQ(readFile(folders.targetFile(QStringLiteral("f.bin"))),
              readFile(folders.sourceFile(QStringLiteral("f.bin"))));
}

// Files and folders in one offer: each file named as it starts and ends, a link inside a
// folder skipped with a line that says so, exit 0 once all arrived; a text printed by the
// receiver; a classic receiver gets the files one offer each and refuses a folder.
TEST(CliTransfers, SeveralEntriesATextAndAClassicPeer) {
    Folders folders;
    QDir(folders.source.path()).mkpath(QStringLiteral("fotos/viaje"));
    writeFile(folders.sourceFile(QStringLiteral("fotos/viaje/playa.jpg")), patternBytes(90000, 1));
    writeFile(folders.sourceFile(QStringLiteral("fotos/nota.txt")), "nota");
    writeFile(folders.sourceFile(QStringLiteral("suelto.bin")), patternBytes(1000, 2));
    ASSERT_TRUE(QFile::link(folders.sourceFile(QStringLiteral("suelto.bin")),
                            folders.sourceFile(QStringLiteral("fotos/enlace"))));
    {
        const quint16 port = freePort();
        auto receiver = receiverOnce(folders, port, {QStringLiteral("--json")});
        CliProcess sender({QStringLiteral("send"), QStringLiteral("--json"),
                           folders.sourceFile(QStringLiteral("fotos")),
                           folders.sourceFile(QStringLiteral("suelto.bin")),
                           QStringLiteral("127.0.0.1"), QStringLiteral("--port"), arg(port)});
        EXPECT_EQ(sender.waitForExit(), kExitDone) << sender.output().toStdString();
        EXPECT_EQ(receiver->waitForExit(), kExitDone) << receiver->output().toStdString();
        QStringList started;
        QStringList ended;
        bool linkSaid = false;
        for (const QByteArray& line : sender.output().split('\n')) {
            const QJsonObject event = QJsonDocument::fromJson(line).object();
            const QString kind = event.value(QStringLiteral("event")).toString();
            if (kind == QStringLiteral("file-start")) {
                started.append(event.value(QStringLiteral("path")).toString());
            } else if (kind == QStringLiteral("file-end")) {
                EXPECT_EQ(event.value(QStringLiteral("result")).toString(),
                          QStringLiteral("arrived"));
                ended.append(event.value(QStringLiteral("path")).toString());
            } else if (kind == QStringLiteral("info")) {
                linkSaid = linkSaid || event.value(QStringLiteral("text"))
                                           .toString()
                                           .contains(QStringLiteral("enlace"));
            }
        }
        const QStringList files{QStringLiteral("fotos/nota.txt"),
                                QStringLiteral("fotos/viaje/playa.jpg"),
                                QStringLiteral("suelto.bin")};
        EXPECT_EQ(started, files);
        EXPECT_EQ(ended, files);
        EXPECT_TRUE(linkSaid) << sender.output().toStdString();
        EXPECT_EQ(readFile(folders.targetFile(QStringLiteral("fotos/viaje/playa.jpg"))),
                  patternBytes(90000, 1));
        EXPECT_FALSE(QFileInfo::exists(folders.targetFile(QStringLiteral("fotos/enlace"))));
    }
    {
        const quint16 port = freePort();
        auto receiver = receiverOnce(folders, port, {QStringLiteral("--json")});
        CliProcess sender({QStringLiteral("send"), QStringLiteral("--text"),
                           QStringLiteral("https://ejemplo.org/ñ"), QStringLiteral("127.0.0.1"),
                           QStringLiteral("--port"), arg(port)});
        EXPECT_EQ(sender.waitForExit(), kExitDone) << sender.output().toStdString();
        EXPECT_EQ(receiver->waitForExit(), kExitDone) << receiver->output().toStdString();
        bool textEvent = false;
        for (const QByteArray& line : receiver->output().split('\n')) {
            const QJsonObject event = QJsonDocument::fromJson(line).object();
            textEvent =
                textEvent ||
                (event.value(QStringLiteral("event")) == QStringLiteral("text") &&
                 event.value(QStringLiteral("text")) == QStringLiteral("https://ejemplo.org/ñ"));
        }
        EXPECT_TRUE(textEvent) << receiver->output().toStdString();
    }
    {
        Folders classic;
        const quint16 port = freePort();
        CliProcess receiver({QStringLiteral("receive"), QStringLiteral("--dir"),
                             classic.target.path(), QStringLiteral("--accept"),
                             QStringLiteral("--classic"), QStringLiteral("--port"), arg(port)});
        ASSERT_TRUE(receiver.waitForOutput("Esperando ofertas"));
        CliProcess two({QStringLiteral("send"), folders.sourceFile(QStringLiteral("suelto.bin")),
                        folders.sourceFile(QStringLiteral("fotos/nota.txt")),
                        QStringLiteral("127.0.0.1"), QStringLiteral("--port"), arg(port)});
        EXPECT_EQ(two.waitForExit(), kExitDone) << two.output().toStdString();
        EXPECT_EQ(readFile(classic.targetFile(QStringLiteral("nota.txt"))), QByteArray("nota"));
        EXPECT_EQ(readFile(classic.targetFile(QStringLiteral("suelto.bin"))),
                  patternBytes(1000, 2));
        CliProcess folder({QStringLiteral("send"), folders.sourceFile(QStringLiteral("fotos")),
                           QStringLiteral("127.0.0.1"), QStringLiteral("--port"), arg(port)});
        EXPECT_EQ(folder.waitForExit(), kExitError);
        EXPECT_TRUE(folder.output().contains("no recibe carpetas"))
            << folder.output().toStdString();
        EXPECT_FALSE(QFileInfo::exists(classic.targetFile(QStringLiteral("fotos"))));
    }
}

}  // namespace
