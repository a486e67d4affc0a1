#include "shell/thiscopy.h"

#include <QHostAddress>
#include <QNetworkInterface>

#include "identity/fingerprint.h"

namespace {

constexpr quint16 kClassicPort = 9950;

}  // namespace

QStringList localAddresses() {
    QStringList addresses;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        const auto flags = interface.flags();
        if (!(flags & QNetworkInterface::IsUp) || (flags & QNetworkInterface::IsLoopBack)) {
            continue;
        }
        const auto entries = interface.addressEntries();
        for (const QNetworkAddressEntry& entry : entries) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() == QAbstractSocket::IPv4Protocol && !ip.isLoopback()) {
                addresses.append(ip.toString());
            }
        }
    }
    addresses.removeDuplicates();
    return addresses;
}

QString thisCopyText(const QString& name, const QStringList& addresses, quint16 port) {
    QStringList reachable;
    for (const QString& address : addresses) {
        reachable.append(port == kClassicPort || port == 0
                             ? address
                             : QStringLiteral("%1:%2").arg(address).arg(port));
    }
    return QStringLiteral("Este equipo: %1\nDirecciones: %2")
        .arg(name, reachable.isEmpty() ? QStringLiteral("ninguna")
                                       : reachable.join(QStringLiteral(", ")));
}

QString senderText(const QString& address, const QList<PeerBrowser::Peer>& peers) {
    for (const PeerBrowser::Peer& peer : peers) {
        if (peer.address == address && !peer.name.isEmpty()) {
            return QStringLiteral("%1 (%2)").arg(peer.name, address);
        }
    }
    return address;
}

QString offerSenderText(const TransferOffer& offer, const QList<PeerBrowser::Peer>& peers) {
    if (offer.senderFingerprint.isEmpty()) {
        return senderText(offer.address, peers);
    }
    QList<PeerBrowser::Peer> same;
    for (const PeerBrowser::Peer& peer : peers) {
        if (peer.fingerprint == offer.senderFingerprint) {
            same.append(peer);
        }
    }
    return QStringLiteral("%1, %2 %3")
        .arg(senderText(offer.address, same),
             offer.senderTrusted ? QStringLiteral("de confianza") : QStringLiteral("sin verificar"),
             fingerprint::shortForm(offer.senderFingerprint));
}
