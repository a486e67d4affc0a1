#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include "discovery/peerbrowser.h"
#include "engine/transfer.h"

// Who is who: this copy as others reach it, and the other side of an offer by the name it
// announces.

// The IPv4 addresses of this computer's interfaces that are up, loopback left out.
QStringList localAddresses();

// This copy's name and the addresses a sender can type, for the status bar's tooltip and
// its description to a screen reader:
//   "Este equipo: ana@portatil\nDirecciones: 192.168.1.5, 10.0.0.2"
// A port other than the classic one is written after each address ("10.0.0.2:9960"); no
// address at all is "ninguna".
QString thisCopyText(const QString& name, const QStringList& addresses, quint16 port);

// The sender of an offer: "ana@portatil (192.168.1.5)" when a copy found on the network
// announces itself from that address, else the address alone.
QString senderText(const QString& address, const QList<PeerBrowser::Peer>& peers);

// The sender of an offer as the window shows it. A classic offer: senderText. A lane offer
// adds what its TLS handshake told, "de confianza" or "sin verificar" and the short
// fingerprint: "ana@portatil (192.168.1.5), de confianza 3F2A 9C01 B7D4 E850". It is named
// only by an announcement from its address that gives the same fingerprint: a name announced
// for the address alone may be another computer's.
QString offerSenderText(const TransferOffer& offer, const QList<PeerBrowser::Peer>& peers);
