#pragma once

#include "identity/lanetls.h"

#include <QSslConfiguration>
#include <QTcpServer>

class Identity;

// The receiving side's listener for the lane over TLS: a QTcpServer whose pending
// connections (nextPendingConnection(), newConnection()) are QSslSockets that have finished
// their handshake with a peer `decide` accepted. Everything else (no TLS, no certificate,
// another certificate, a handshake that stops or takes too long) is closed at once, reported
// by refused() and never handed out.
//
// Bytes the peer sent right behind its handshake may already be decrypted and waiting when
// the connection is handed out; the server emits the socket's readyRead() once more after
// newConnection(), so a reader that connects in its newConnection() slot sees them.
class SecureLaneServer : public QTcpServer {
    Q_OBJECT

public:
    SecureLaneServer(const Identity& identity, lanetls::PeerDecision decide,
                     QObject* parent = nullptr);

signals:
    // `address` is the peer's, `reason` a text for the user.
    void refused(const QString& address, const QString& reason);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QSslConfiguration m_configuration;
    lanetls::PeerDecision m_decide;
};
