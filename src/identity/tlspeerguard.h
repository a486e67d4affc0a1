#pragma once

#include "identity/lanetls.h"

#include <QAbstractSocket>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QTimer>

class QSslSocket;

// Watches one TLS socket through its handshake (a child of it, so it dies with it): asks the
// PeerDecision about the certificate the peer presented, lets the handshake go on only when
// it says yes, and closes the socket at once when the peer does not speak TLS, presents no
// certificate or another one, or is not done within the deadline. Exactly one of accepted()
// and refused() is emitted; afterwards the guard does nothing more.
class TlsPeerGuard : public QObject {
    Q_OBJECT

public:
    TlsPeerGuard(QSslSocket* socket, lanetls::PeerDecision decide, int handshakeTimeoutMs);

    // The peer's fingerprint once accepted() was emitted.
    const QString& fingerprint() const { return m_fingerprint; }

signals:
    void accepted(const QString& fingerprint);
    // `reason` is a text for the user.
    void refused(const QString& reason);

private:
    void judge(const QList<QSslError>& errors);
    void confirm();
    void failed();
    void refuse(const QString& reason, bool closeNow);

    QPointer<QSslSocket> m_socket;
    lanetls::PeerDecision m_decide;
    QTimer m_deadline;
    QString m_fingerprint;  // approved by judge(), confirmed by confirm()
    bool m_finished = false;
};
