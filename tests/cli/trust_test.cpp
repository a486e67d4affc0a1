// Who sends, as ruvo-cli sees it over the lane: two copies with identities of their own
// (each its own configuration folder), an untrusted sender declined by --accept-trusted and
// accepted once the receiver trusts its fingerprint; a remembered address answered by another
// identity, or by no lane; pairing on two terminals.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QDir>

#include <pty.h>
#include <unistd.h>
#include <csignal>

#include "cli/cliprocess.h"
#include "cli/exitcode.h"
#include "endtoend/copies.h"
#include "identity/pinstore.h"

namespace {

// A copy of ruvo-cli with a configuration folder (and so an identity) of its own.
struct CliCopy {
    QTemporaryDir config;
    QProcessEnvironment environment() const {
        QProcessEnvironment e = CliProcess::defaultEnvironment();
        e.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        return e;
    }
    int run(const QStringList& arguments, QByteArray* output = nullptr) const {
        CliProcess process(arguments, environment());
        const int code = process.waitForExit();
        if (output != nullptr) {
            *output = process.output();
        }
        return code;
    }
    QString folder() const { return config.path() + QStringLiteral("/Ruvo"); }
    QString fingerprint() const {
        QByteArray output;
        run({QStringLiteral("id"), QStringLiteral("--json")}, &output);
        return QJsonDocument::fromJson(output)
            .object()
            .value(QStringLiteral("fingerprint"))
            .toString();
    }
    QStringList trusted() const {
        QByteArray output;
        run({QStringLiteral("trust"), QStringLiteral("--list"), QStringLiteral("--json")}, &output);
        QStringList list;
        for (const QJsonValue& entry : QJsonDocument::fromJson(output).array()) {
            list.append(entry.toObject().value(QStringLiteral("fingerprint")).toString());
        }
        return list;
    }
};

// `ruvo-cli receive ARGUMENTS` of `copy` on a free port whose lane's port is free too; null
// when none was found. `stdinFd` as in CliProcess.
std::unique_ptr<CliProcess> receiveWithLane(const CliCopy& copy, QStringList arguments,
                                            quint16* port, int stdinFd = -1) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        *port = freePort();
        auto receiver = std::make_unique<CliProcess>(
            QStringList{QStringLiteral("receive"), QStringLiteral("--no-announce"),
                        QStringLiteral("--port"), arg(*port)} +
                arguments,
            copy.environment(), stdinFd);
        if (receiver->waitForOutput("Esperando ofertas") &&
            receiver->output().contains("via rapida en el")) {
            return receiver;
        }
    }
    return nullptr;
}

TEST(CliTrust, AcceptTrustedDeclinesAStrangerAndTakesItOnceTrusted) {
    CliCopy receiving;
    CliCopy sending;
    QByteArray output;
    ASSERT_EQ(sending.run({QStringLiteral("id"), QStringLiteral("--json")}, &output), kExitDone);
    const QString fingerprint =
        QJsonDocument::fromJson(output).object().value(QStringLiteral("fingerprint")).toString();
    ASSERT_EQ(fingerprint.size(), 64) << output.toStdString();
    EXPECT_EQ(receiving.run({QStringLiteral("trust"), QStringLiteral("not-a-fingerprint")}),
              kExitUsage);

    Folders folders;
    const QByteArray content = patternBytes(200000, 7);
    writeFile(folders.sourceFile(QStringLiteral("t.bin")), content);
    const auto sendOnce = [&](int senderCode, const QByteArray& verdict) {
        // The lane's port (N + 1) may be someone else's by now: another port then.
        std::unique_ptr<CliProcess> receiver;
        quint16 port = 0;
        for (int attempt = 0; attempt < 5 && !receiver; ++attempt) {
            port = freePort();
            auto candidate = std::make_unique<CliProcess>(
                QStringList{QStringLiteral("receive"), QStringLiteral("--no-localsend"),
                            QStringLiteral("--dir"), folders.target.path(),
                            QStringLiteral("--accept-trusted"), QStringLiteral("--once"),
                            QStringLiteral("--no-announce"), QStringLiteral("--port"), arg(port)},
                receiving.environment());
            if (candidate->waitForOutput("Esperando ofertas") &&
                candidate->output().contains("via rapida en el")) {
                receiver = std::move(candidate);
            }
        }
        ASSERT_TRUE(receiver);
        QByteArray said;
        EXPECT_EQ(sending.run({QStringLiteral("send"), folders.sourceFile(QStringLiteral("t.bin")),
                               QStringLiteral("127.0.0.1"), QStringLiteral("--port"), arg(port)},
                              &said),
                  senderCode)
            << said.toStdString();
        receiver->waitForExit();
        EXPECT_TRUE(receiver->output().contains(verdict)) << receiver->output().toStdString();
    };
    {
        SCOPED_TRACE("a stranger");
        sendOnce(kExitRefused, "(sin verificar) " + fingerprint.left(4).toLatin1() + ' ');
        EXPECT_FALSE(QFileInfo::exists(folders.targetFile(QStringLiteral("t.bin"))));
    }
    ASSERT_EQ(receiving.run({QStringLiteral("trust"), fingerprint.toLower(),
                             QStringLiteral("--name"), QStringLiteral("emisor")}),
              kExitDone);
    ASSERT_EQ(
        receiving.run({QStringLiteral("trust"), QStringLiteral("--list"), QStringLiteral("--json")},
                      &output),
        kExitDone);
    const QJsonArray trusted = QJsonDocument::fromJson(output).array();
    ASSERT_EQ(trusted.size(), 1) << output.toStdString();
    EXPECT_EQ(trusted.at(0).toObject().value(QStringLiteral("fingerprint")).toString(),
              fingerprint);
    {
        SCOPED_TRACE("trusted");
        sendOnce(kExitDone, "(de confianza)");
        EXPECT_EQ(readFile(folders.targetFile(QStringLiteral("t.bin"))), content);
    }
    EXPECT_EQ(receiving.run({QStringLiteral("untrust"), fingerprint}), kExitDone);
    EXPECT_EQ(receiving.run({QStringLiteral("untrust"), fingerprint}), kExitError);
}

// The sender remembers who answered at an address (here: a computer that is not the one
// listening now). It sends nothing until told to take the new identity, and a remembered
// computer whose lane is silent gets nothing unencrypted until told --classic.
TEST(CliTrust, ARememberedAddressWithAnotherIdentityOrNoLaneGetsNothingUnlessTold) {
    CliCopy receiving;
    CliCopy sending;
    const QString receiverIdentity = receiving.fingerprint();
    ASSERT_EQ(receiverIdentity.size(), 64);
    Folders folders;
    writeFile(folders.sourceFile(QStringLiteral("r.bin")), patternBytes(30000, 5));
    const auto remember = [&](quint16 port, const QString& fingerprint) {
        PinStore pins(sending.folder());
        QString error;
        ASSERT_TRUE(pins.remember(QStringLiteral("127.0.0.1:%1").arg(port), fingerprint, &error))
            << error.toStdString();
    };
    const auto send = [&](quint16 port, const QStringList& options, QByteArray* said) {
        return sending.run(QStringList{QStringLiteral("send"), QStringLiteral("--json"),
                                       QStringLiteral("--port"), arg(port)} +
                               options +
                               QStringList{folders.sourceFile(QStringLiteral("r.bin")),
                                           QStringLiteral("127.0.0.1")},
                           said);
    };
    {
        SCOPED_TRACE("another identity");
        quint16 port = 0;
        auto receiver = receiveWithLane(receiving,
                                        {QStringLiteral("--dir"), folders.target.path(),
                                         QStringLiteral("--accept"), QStringLiteral("--json")},
                                        &port);
        ASSERT_TRUE(receiver);
        remember(port, QString(64, QLatin1Char('7')));
        QByteArray said;
        EXPECT_EQ(send(port, {}, &said), kExitError) << said.toStdString();
        EXPECT_TRUE(said.contains("\"kind\":\"identity-changed\"")) << said.toStdString();
        EXPECT_TRUE(
            said.contains("La identidad de 127.0.0.1 cambio: era 7777 7777 7777 7777, "
                          "ahora es " +
                          receiverIdentity.left(4).toLatin1()))
            << said.toStdString();
        EXPECT_TRUE(said.contains("--accept-new-identity"));
        EXPECT_FALSE(receiver->output().contains("\"event\":\"offer\""));
        EXPECT_EQ(send(port, {QStringLiteral("--accept-new-identity")}, &said), kExitDone)
            << said.toStdString();
        EXPECT_EQ(readFile(folders.targetFile(QStringLiteral("r.bin"))),
                  readFile(folders.sourceFile(QStringLiteral("r.bin"))));
        // The offer event says who sent.
        ASSERT_TRUE(receiver->waitForOutput("\"event\":\"offer\""));
        const QByteArray events = receiver->output();
        QJsonObject offer;
        for (const QByteArray& line : events.split('\n')) {
            const QJsonObject event = QJsonDocument::fromJson(line).object();
            if (event.value(QStringLiteral("event")).toString() == QStringLiteral("offer")) {
                offer = event;
            }
        }
        EXPECT_EQ(offer.value(QStringLiteral("fingerprint")).toString(), sending.fingerprint());
        EXPECT_FALSE(offer.value(QStringLiteral("senderName")).toString().isEmpty());
        EXPECT_EQ(offer.value(QStringLiteral("trusted")), QJsonValue(false));
        // The new identity is the one remembered now.
        EXPECT_EQ(send(port, {}, &said), kExitDone) << said.toStdString();
        // A text (as several files) is held to the remembered identity alike, and goes when
        // told to take the new one.
        remember(port, QString(64, QLatin1Char('7')));
        const QStringList text{QStringLiteral("send"),     QStringLiteral("--json"),
                               QStringLiteral("--port"),   arg(port),
                               QStringLiteral("--text"),   QStringLiteral("hola"),
                               QStringLiteral("127.0.0.1")};
        EXPECT_EQ(sending.run(text, &said), kExitError) << said.toStdString();
        EXPECT_TRUE(said.contains("\"kind\":\"identity-changed\"")) << said.toStdString();
        EXPECT_EQ(sending.run(text + QStringList{QStringLiteral("--accept-new-identity")}, &said),
                  kExitDone)
            << said.toStdString();
    }
    {
        SCOPED_TRACE("no lane");
        const quint16 port = freePort();
        CliProcess receiver(
            {QStringLiteral("receive"), QStringLiteral("--classic"),
             QStringLiteral("--no-announce"), QStringLiteral("--dir"), folders.target.path(),
             QStringLiteral("--accept"), QStringLiteral("--port"), arg(port)},
            receiving.environment());
        ASSERT_TRUE(receiver.waitForOutput("Esperando ofertas"));
        remember(port, receiverIdentity);
        QByteArray said;
        EXPECT_EQ(send(port, {}, &said), kExitError) << said.toStdString();
        EXPECT_TRUE(said.contains("\"kind\":\"lane-unanswered\"")) << said.toStdString();
        EXPECT_TRUE(said.contains("--classic")) << said.toStdString();
        EXPECT_FALSE(receiver.output().contains("Oferta"));
        EXPECT_EQ(send(port, {QStringLiteral("--classic")}, &said), kExitDone)
            << said.toStdString();
    }
}

// Both users see one code on their terminals and confirm it: each copy trusts the other. A
// receiver with nobody at a terminal declines pairing at once.
TEST(CliTrust, PairingConfirmedOnBothTerminalsTrustsBothWays) {
    CliCopy asked;
    CliCopy asking;
    int terminal = -1;
    int input = -1;
    ASSERT_EQ(::openpty(&terminal, &input, nullptr, nullptr, nullptr), 0);
    quint16 port = 0;
    auto receiver = receiveWithLane(asked, {}, &port, input);
    ASSERT_TRUE(receiver);
    CliProcess pair(
        {QStringLiteral("pair"), QStringLiteral("--port"), arg(port), QStringLiteral("127.0.0.1")},
        asking.environment());
    const QByteArray question = "Codigo de emparejamiento: ";
    ASSERT_TRUE(pair.waitForOutput(question)) << pair.output().toStdString();
    ASSERT_TRUE(receiver->waitForOutput(question)) << receiver->output().toStdString();
    const auto codeIn = [&](const QByteArray& output) {
        const qsizetype at = output.indexOf(question) + question.size();
        return output.mid(at, 6);
    };
    EXPECT_EQ(codeIn(pair.output()), codeIn(receiver->output()));
    pair.write("s\n");
    ASSERT_EQ(::write(terminal, "s\n", 2), 2);
    EXPECT_EQ(pair.waitForExit(), kExitDone) << pair.output().toStdString();
    EXPECT_TRUE(pair.output().contains("Emparejado con ")) << pair.output().toStdString();
    EXPECT_TRUE(receiver->waitForOutput("Emparejado con ")) << receiver->output().toStdString();
    receiver->signal(SIGTERM);
    EXPECT_EQ(receiver->waitForExit(), kExitCancelled);
    ::close(terminal);
    ::close(input);
    EXPECT_EQ(asking.trusted(), QStringList{asked.fingerprint()});
    EXPECT_EQ(asked.trusted(), QStringList{asking.fingerprint()});

    SCOPED_TRACE("nobody at the receiver's terminal");
    CliCopy stranger;
    auto unattended = receiveWithLane(asked, {QStringLiteral("--accept")}, &port);
    ASSERT_TRUE(unattended);
    QByteArray said;
    EXPECT_EQ(stranger.run({QStringLiteral("pair"), QStringLiteral("--port"), arg(port),
                            QStringLiteral("127.0.0.1")},
                           &said),
              kExitRefused)
        << said.toStdString();
    EXPECT_TRUE(said.contains("Emparejamiento cancelado")) << said.toStdString();
    EXPECT_EQ(stranger.trusted(), QStringList());
    EXPECT_EQ(asked.trusted(), QStringList{asking.fingerprint()});
}

}  // namespace
