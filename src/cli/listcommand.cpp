#include "cli/listcommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

#include "cli/exitcode.h"

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
    if (m_json) {
        QJsonArray list;
        for (const PeerBrowser::Peer& peer : peers) {
            list.append(QJsonObject{{QStringLiteral("name"), peer.name},
                                    {QStringLiteral("address"), peer.address},
                                    {QStringLiteral("port"), int(peer.port)},
                                    {QStringLiteral("lane"), peer.lane}});
        }
        std::fputs(QJsonDocument(list).toJson(QJsonDocument::Compact).append('\n').constData(),
                   stdout);
    } else {
        for (const PeerBrowser::Peer& peer : peers) {
            const QString line =
                QStringLiteral("%1\t%2\t%3\t%4\n")
                    .arg(peer.name, peer.address)
                    .arg(peer.port)
                    .arg(peer.lane ? QStringLiteral("via rapida") : QStringLiteral("clasico"));
            std::fputs(line.toLocal8Bit().constData(), stdout);
        }
        if (peers.isEmpty()) {
            std::fputs("ruvo-cli: no se encontro ninguna copia en la red local\n", stderr);
        }
    }
    std::fflush(stdout);
    emit finished(kExitDone);
}
