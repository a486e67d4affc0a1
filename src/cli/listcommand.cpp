#include "cli/listcommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

#include "cli/exitcode.h"
#include "identity/fingerprint.h"
#include "identity/identity.h"
#include "identity/truststore.h"

ListCommand::ListCommand(bool json, int waitMs, QObject* parent)
    : QObject(parent), m_json(json), m_browser(this) {
    m_wait.setSingleShot(true);
    m_wait.setInterval(waitMs);
    connect(&m_wait, &QTimer::timeout, this, &ListCommand::print);
}

void ListCommand::start() {
    m_wait.start();
}

void ListCommand::print() {
    const QList<PeerBrowser::Peer> peers = m_browser.peers();
    // Whether the user trusts the fingerprint a copy announces: a hint for choosing where to
    // send, never proof (the lane's handshake is). A list that cannot be read trusts nobody.
    TrustStore trusted(Identity::defaultFolder());
    QString error;
    if (!trusted.load(&error)) {
        std::fprintf(stderr, "ruvo-cli: %s\n", error.toLocal8Bit().constData());
    }
    const auto trusts = [&trusted](const PeerBrowser::Peer& peer) {
        return !peer.fingerprint.isEmpty() && trusted.isTrusted(peer.fingerprint);
    };
    if (m_json) {
        QJsonArray list;
        for (const PeerBrowser::Peer& peer : peers) {
            list.append(QJsonObject{{QStringLiteral("name"), peer.name},
                                    {QStringLiteral("address"), peer.address},
                                    {QStringLiteral("port"), int(peer.port)},
                                    {QStringLiteral("lane"), peer.lane},
                                    {QStringLiteral("fingerprint"), peer.fingerprint},
                                    {QStringLiteral("trusted"), trusts(peer)}});
        }
        std::fputs(QJsonDocument(list).toJson(QJsonDocument::Compact).append('\n').constData(),
                   stdout);
    } else {
        for (const PeerBrowser::Peer& peer : peers) {
            const QString trust =
                peer.fingerprint.isEmpty()
                    ? QStringLiteral("-\t-")
                    : QStringLiteral("%1\t%2").arg(fingerprint::shortForm(peer.fingerprint),
                                                   trusts(peer) ? QStringLiteral("de confianza")
                                                                : QStringLiteral("sin verificar"));
            const QString line =
                QStringLiteral("%1\t%2\t%3\t%4\t%5\n")
                    .arg(peer.name, peer.address)
                    .arg(peer.port)
                    .arg(peer.lane ? QStringLiteral("via rapida") : QStringLiteral("clasico"),
                         trust);
            std::fputs(line.toLocal8Bit().constData(), stdout);
        }
        if (peers.isEmpty()) {
            std::fputs("ruvo-cli: no se encontro ninguna copia en la red local\n", stderr);
        }
    }
    std::fflush(stdout);
    emit finished(kExitDone);
}
