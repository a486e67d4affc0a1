// Who sends, as ruvo-cli sees it over the lane: two copies with identities of their own
// (each its own configuration folder), an untrusted sender declined by --accept-trusted and
// accepted once the receiver trusts its fingerprint.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "cli/cliprocess.h"
#include "cli/exitcode.h"
#include "endtoend/copies.h"

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
};

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
        sendOnce(kExitRefused, "Remitente sin verificar: ");
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
        sendOnce(kExitDone, "Remitente de confianza: ");
        EXPECT_EQ(readFile(folders.targetFile(QStringLiteral("t.bin"))), content);
    }
    EXPECT_EQ(receiving.run({QStringLiteral("untrust"), fingerprint}), kExitDone);
    EXPECT_EQ(receiving.run({QStringLiteral("untrust"), fingerprint}), kExitError);
}

}  // namespace
