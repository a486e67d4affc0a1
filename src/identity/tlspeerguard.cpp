#include "identity/tlspeerguard.h"

#include "identity/fingerprint.h"

#include <QSslSocket>

TlsPeerGuard::TlsPeerGuard(QSslSocket* socket, lanetls::PeerDecision decide, int handshakeTimeoutMs)
    : QObject(socket), m_socket(socket), m_decide(std::move(decide)) {
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        refuse(QStringLiteral("El otro equipo no completo el saludo seguro a tiempo."), true);
    });
    m_deadline.start(handshakeTimeoutMs);
    connect(socket, &QSslSocket::sslErrors, this, &TlsPeerGuard::judge);
    connect(socket, &QSslSocket::encrypted, this, &TlsPeerGuard::confirm);
    connect(socket, &QAbstractSocket::errorOccurred, this, &TlsPeerGuard::failed);
    connect(socket, &QAbstractSocket::disconnected, this, &TlsPeerGuard::failed);
}

// Every certificate fails verification (the lane trusts no authority), so this runs for
// every peer that presents one. Not ignoring the errors makes QSslSocket close at once.
void TlsPeerGuard::judge(const QList<QSslError>& errors) {
    if (m_finished) {
        return;
    }
    const QString seen = lanetls::peerFingerprint(*m_socket);
    if (seen.isEmpty()) {
        refuse(QStringLiteral("El otro equipo no presento su certificado."), false);
        return;
    }
    if (!m_decide(seen)) {
        refuse(QStringLiteral("Identidad no aceptada: %1").arg(fingerprint::shortForm(seen)),
               false);
        return;
    }
    m_fingerprint = seen;
    m_socket->ignoreSslErrors(errors);
}

void TlsPeerGuard::confirm() {
    if (m_finished) {
        return;
    }
    // A handshake without any verification error was never judged: refuse it rather than
    // let a peer through on an authority's word.
    if (m_fingerprint.isEmpty() || lanetls::peerFingerprint(*m_socket) != m_fingerprint) {
        refuse(QStringLiteral("Identidad no aceptada."), true);
        return;
    }
    m_finished = true;
    m_deadline.stop();
    emit accepted(m_fingerprint);
}

void TlsPeerGuard::failed() {
    if (m_finished) {
        return;
    }
    const QString why = m_socket ? m_socket->errorString() : QString();
    refuse(QStringLiteral("Error en el saludo seguro: %1").arg(why), false);
}

void TlsPeerGuard::refuse(const QString& reason, bool closeNow) {
    if (m_finished) {
        return;
    }
    m_finished = true;
    m_deadline.stop();
    m_fingerprint.clear();
    emit refused(reason);
    if (closeNow && m_socket) {
        m_socket->abort();
    }
}
