#pragma once

#include <QSsl>
#include <QSslConfiguration>
#include <QString>

#include <functional>

class Identity;
class QObject;
class QSslSocket;

// TLS for the fast lane, through Qt Network's OpenSSL backend: QSslSocket is a QTcpSocket,
// so the lane's sessions read and write it as before. TLS 1.3 only, a certificate on both
// sides, and no authority: the peer's self-signed certificate is accepted or refused by its
// fingerprint alone (lanetls::PeerDecision), during the handshake, before either side reads
// a byte of the lane.
namespace lanetls {

// Called once during the handshake with the fingerprint of the certificate the peer proved
// it holds the key of; true lets the connection go on. Runs inside the socket's signal: it
// must answer at once (the trust store and the pins are in memory) and must not delete the
// socket.
using PeerDecision = std::function<bool(const QString& fingerprint)>;

// Peers that do not finish their handshake in this time are closed.
constexpr int kHandshakeTimeoutMs = 5000;

// Only the computer with this fingerprint (any typed form).
PeerDecision expect(const QString& fingerprint);
// Any computer with a certificate: the caller decides afterwards from peerFingerprint()
// (an untrusted sender whose offer is shown as "not verified", pairing with a stranger).
PeerDecision anyPeer();

// The lane's TLS settings with this copy's identity, for either side.
QSslConfiguration configuration(const Identity& identity);

// A sending side's socket, not yet connected: the caller connects it with
// connectToHostEncrypted(host, port). A TlsPeerGuard on it (findChild<TlsPeerGuard*>()) asks
// `decide`, closes the socket at once on a peer that does not speak TLS, shows another
// certificate or stops half-way or is not done within `handshakeTimeoutMs` (counted from
// now, the TCP connection included), and says why.
QSslSocket* clientSocket(const Identity& identity, PeerDecision decide, QObject* parent = nullptr,
                         int handshakeTimeoutMs = kHandshakeTimeoutMs);

// The fingerprint of the certificate the peer presented; empty before the handshake.
QString peerFingerprint(const QSslSocket& socket);

}  // namespace lanetls
