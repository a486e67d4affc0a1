#include "identity/lanetls.h"

#include "identity/fingerprint.h"
#include "identity/identity.h"
#include "identity/tlspeerguard.h"

#include <QSslCipher>
#include <QSslSocket>

namespace lanetls {

PeerDecision expect(const QString& typed) {
    return [wanted = fingerprint::normalized(typed)](const QString& seen) {
        return !wanted.isEmpty() && seen == wanted;
    };
}

PeerDecision anyPeer() {
    return [](const QString&) { return true; };
}

QSslConfiguration configuration(const Identity& identity) {
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setProtocol(QSsl::TlsV1_3);
    config.setLocalCertificate(identity.certificate());
    config.setPrivateKey(identity.privateKey());
    // Both sides ask for the other's certificate. With no authority at all, every
    // certificate fails ordinary verification, so the fingerprint check in TlsPeerGuard is
    // asked for every peer; a certificate signed by some public authority earns nothing.
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    config.setCaCertificates({});
    // AES-GCM first: with the CPU's AES instructions it costs a fraction of ChaCha20-Poly1305
    // (bench/tlsbench); a peer without them may still pick ChaCha20.
    QList<QSslCipher> ciphers;
    for (const char* name :
         {"TLS_AES_128_GCM_SHA256", "TLS_AES_256_GCM_SHA384", "TLS_CHACHA20_POLY1305_SHA256"}) {
        const QSslCipher cipher(QString::fromLatin1(name), QSsl::TlsV1_3);
        if (!cipher.isNull()) {
            ciphers.append(cipher);
        }
    }
    if (!ciphers.isEmpty()) {
        config.setCiphers(ciphers);
    }
    // Nothing is resumed: every connection proves its identity afresh.
    config.setSslOption(QSsl::SslOptionDisableSessionTickets, true);
    config.setSslOption(QSsl::SslOptionDisableSessionPersistence, true);
    return config;
}

QSslSocket* clientSocket(const Identity& identity, PeerDecision decide, QObject* parent,
                         int handshakeTimeoutMs) {
    auto* socket = new QSslSocket(parent);
    socket->setSslConfiguration(configuration(identity));
    new TlsPeerGuard(socket, std::move(decide), handshakeTimeoutMs);
    return socket;
}

QString peerFingerprint(const QSslSocket& socket) {
    const QSslCertificate certificate = socket.peerCertificate();
    return certificate.isNull() ? QString() : fingerprint::ofCertificate(certificate.toDer());
}

}  // namespace lanetls
