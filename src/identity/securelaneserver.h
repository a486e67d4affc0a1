#pragma once

#include "identity/lanetls.h"

#include <QSslConfiguration>
#include <QTcpServer>

class Identity;

// The receiving side's listener for the lane over TLS: a QTcpServer whose pending
// connections (nextPendingConnection()) are QSslSockets that have finished their handshake
// with a peer `decide` accepted. As with QSslServer, a reader connects to
// pendingConnectionAvailable(): QTcpServer emits newConnection() for every accepted TCP
// connection, before its handshake, when there is nothing to take yet. Everything else (no
// TLS, no certificate, another certificate, a handshake that stops or takes too long) is
// closed at once, reported by refused() and never handed out.
//
// Bytes the peer sent right behind its handshake may already be decrypted and waiting when
// the connection is handed out; the server emits the socket's readyRead() once more from the
// event loop, so a reader that connects in its pendingConnectionAvailable() slot sees them.
class SecureLaneServer : public QTcpServer {
    Q_OBJECT

public:
    SecureLaneServer(const Identity& identity, lanetls::PeerDecision decide,
                     QObject* parent = nullptr);

    // Handshakes that take longer are closed (lanetls::kHandshakeTimeoutMs by default).
    void setHandshakeTimeout(int ms) { m_handshakeTimeoutMs = ms; }

signals:
    // `address` is the peer's, `reason` a text for the user.
    void refused(const QString& address, const QString& reason);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QSslConfiguration m_configuration;
    lanetls::PeerDecision m_decide;
    int m_handshakeTimeoutMs = lanetls::kHandshakeTimeoutMs;
};
