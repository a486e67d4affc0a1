#include "identity/securelaneserver.h"

#include "identity/tlspeerguard.h"

#include <QPointer>
#include <QSslSocket>
#include <QTimer>

namespace {

constexpr qint64 kReadLimitBeforeHandover = 256 * 1024;

}  // namespace

SecureLaneServer::SecureLaneServer(const Identity& identity, lanetls::PeerDecision decide,
                                   QObject* parent)
    : QTcpServer(parent),
      m_configuration(lanetls::configuration(identity)),
      m_decide(std::move(decide)) {}

void SecureLaneServer::incomingConnection(qintptr descriptor) {
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setSslConfiguration(m_configuration);
    // Until a reader takes the connection and sets its own limit, a peer cannot make this
    // side hold more than this (a handshake needs a few KiB).
    socket->setReadBufferSize(kReadLimitBeforeHandover);
    auto* guard = new TlsPeerGuard(socket, m_decide, m_handshakeTimeoutMs);
    const QString address = socket->peerAddress().toString();
    connect(guard, &TlsPeerGuard::accepted, this, [this, socket] {
        addPendingConnection(socket);  // emits pendingConnectionAvailable()
        QTimer::singleShot(0, socket, [socket] {
            if (socket->bytesAvailable() > 0) {
                emit socket->readyRead();
            }
        });
    });
    // Destroyed later: the guard reports from inside the socket's own signals.
    connect(guard, &TlsPeerGuard::refused, this, [this, socket, address](const QString& reason) {
        emit refused(address, reason);
        socket->deleteLater();
    });
    socket->startServerEncryption();
}
