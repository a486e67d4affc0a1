#include "cli/identitycommands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

#include "cli/clioptions.h"
#include "cli/exitcode.h"
#include "identity/fingerprint.h"
#include "identity/identity.h"
#include "identity/truststore.h"

namespace {

void printLine(const QString& text) {
    std::fprintf(stdout, "%s\n", text.toLocal8Bit().constData());
}

int fail(const QString& text) {
    std::fprintf(stderr, "ruvo-cli: %s\n", text.toLocal8Bit().constData());
    return kExitError;
}

int showIdentity(const CliOptions& options) {
    QString error;
    const std::optional<Identity> identity =
        Identity::loadOrCreate(Identity::defaultFolder(), &error);
    if (!identity) {
        return fail(error);
    }
    if (options.json) {
        printLine(QString::fromUtf8(
            QJsonDocument(QJsonObject{{QStringLiteral("fingerprint"), identity->fingerprint()},
                                      {QStringLiteral("short"), identity->shortFingerprint()}})
                .toJson(QJsonDocument::Compact)));
        return kExitDone;
    }
    printLine(QStringLiteral("Huella de este equipo: %1").arg(identity->fingerprint()));
    printLine(QStringLiteral("Forma corta: %1").arg(identity->shortFingerprint()));
    return kExitDone;
}

int listTrusted(const CliOptions& options, const TrustStore& store) {
    if (options.json) {
        QJsonArray array;
        for (const TrustedComputer& computer : store.list()) {
            array.append(
                QJsonObject{{QStringLiteral("fingerprint"), computer.fingerprint},
                            {QStringLiteral("short"), fingerprint::shortForm(computer.fingerprint)},
                            {QStringLiteral("name"), computer.name},
                            {QStringLiteral("added"), computer.added.toString(Qt::ISODate)}});
        }
        printLine(QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact)));
        return kExitDone;
    }
    if (store.list().isEmpty()) {
        printLine(QStringLiteral("Ningun equipo de confianza."));
    }
    for (const TrustedComputer& computer : store.list()) {
        printLine(QStringLiteral("%1  %2  %3")
                      .arg(computer.fingerprint,
                           computer.name.isEmpty() ? QStringLiteral("-") : computer.name,
                           computer.added.toString(Qt::ISODate)));
    }
    return kExitDone;
}

}  // namespace

int runIdentityCommand(const CliOptions& options) {
    if (options.command == CliOptions::Command::Id) {
        return showIdentity(options);
    }
    TrustStore store(Identity::defaultFolder());
    QString error;
    if (!store.load(&error)) {
        return fail(error);
    }
    if (options.command == CliOptions::Command::Trust && options.listTrusted) {
        return listTrusted(options, store);
    }
    const QString canonical = fingerprint::normalized(options.fingerprint);
    if (canonical.isEmpty()) {
        std::fprintf(stderr, "ruvo-cli: Huella no valida: %s (ayuda: ruvo-cli --help)\n",
                     options.fingerprint.toLocal8Bit().constData());
        return kExitUsage;
    }
    if (options.command == CliOptions::Command::Trust) {
        if (!store.add(canonical, options.name, &error)) {
            return fail(error);
        }
        printLine(QStringLiteral("De confianza: %1").arg(fingerprint::shortForm(canonical)));
        return kExitDone;
    }
    if (!store.remove(canonical, &error)) {
        return fail(error);
    }
    printLine(QStringLiteral("Ya no es de confianza: %1").arg(fingerprint::shortForm(canonical)));
    return kExitDone;
}
