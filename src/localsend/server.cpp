#include "localsend/server.h"

#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QSslCertificate>
#include <QSslSocket>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "identity/fingerprint.h"
#include "localsend/connection.h"

namespace localsend {

namespace {

constexpr char kTlsHandshake = 0x16;

// TLS for LocalSend peers: 1.2 or later (phones' stacks differ), this copy's identity, and a
// client certificate asked for but never required nor verified: it only tells who sends.
QSslConfiguration tlsConfiguration(const Identity& identity) {
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setProtocol(QSsl::TlsV1_2OrLater);
    config.setLocalCertificate(identity.certificate());
    config.setPrivateKey(identity.privateKey());
    config.setPeerVerifyMode(QSslSocket::QueryPeer);
    config.setCaCertificates({});
    config.setAllowedNextProtocols({QByteArray(QSslConfiguration::NextProtocolHttp1_1)});
    return config;
}

}  // namespace

Server::Server(const Identity* identity, QObject* parent) : QTcpServer(parent) {
    if (identity != nullptr) {
        m_identity = *identity;
        m_tls = tlsConfiguration(*identity);
    } else {
        quint32 words[4];
        QRandomGenerator::system()->fillRange(words);
        m_randomFingerprint = QString::fromLatin1(
            QByteArray(reinterpret_cast<const char*>(words), sizeof(words)).toHex());
    }
}

Server::~Server() {
    closeAll();
}

QString Server::fingerprint() const {
    return m_identity ? m_identity->fingerprint() : m_randomFingerprint;
}

void Server::closeAll() {
    close();
    m_receiver.dropSession();
    const QObjectList current = children();
    for (QObject* child : current) {
        if (auto* connection = qobject_cast<Connection*>(child)) {
            connection->close();
        } else if (auto* socket = qobject_cast<QAbstractSocket*>(child)) {
            socket->abort();
            socket->deleteLater();
        } else if (auto* notifier = qobject_cast<QSocketNotifier*>(child)) {
            notifier->setEnabled(false);
            ::close(int(notifier->socket()));
            notifier->deleteLater();
            --m_open;
        }
    }
}

void Server::track(QObject* object) {
    ++m_open;
    connect(object, &QObject::destroyed, this, [this] { --m_open; });
}

void Server::incomingConnection(qintptr descriptor) {
    if (m_open >= kMostConnections) {
        ::close(int(descriptor));
        return;
    }
    // Which of the two the client speaks is told by its first byte, read without taking it.
    auto* notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
    ++m_open;
    auto* deadline = new QTimer(notifier);
    deadline->setSingleShot(true);
    const auto drop = [this, notifier, descriptor](bool closeDescriptor) {
        notifier->setEnabled(false);
        notifier->deleteLater();
        --m_open;
        if (closeDescriptor) {
            ::close(int(descriptor));
        }
    };
    connect(deadline, &QTimer::timeout, this, [drop] { drop(true); });
    connect(notifier, &QSocketNotifier::activated, this, [this, drop, descriptor] {
        char first = 0;
        const ssize_t n = ::recv(int(descriptor), &first, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return;
        }
        if (n <= 0) {
            drop(true);
            return;
        }
        drop(false);
        if (first == kTlsHandshake) {
            if (m_identity) {
                serveTls(descriptor);
            } else {
                ::close(int(descriptor));
            }
        } else {
            servePlain(descriptor);
        }
    });
    deadline->start(kFirstBytesMs);
}

void Server::servePlain(qintptr descriptor) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        delete socket;
        return;
    }
    auto* connection = new Connection(socket, false, {}, m_receiver, this);
    track(connection);
}

void Server::serveTls(qintptr descriptor) {
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        delete socket;
        return;
    }
    track(socket);
    socket->setSslConfiguration(m_tls);
    socket->setReadBufferSize(Connection::kReadBuffer);
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    // A client certificate is never verified (no authority signs any): only its fingerprint
    // is kept, so its "errors" are no reason to stop.
    connect(socket, &QSslSocket::sslErrors, socket, [socket] { socket->ignoreSslErrors(); });
    connect(socket, &QAbstractSocket::errorOccurred, socket, [socket] {
        if (!socket->isEncrypted()) {
            socket->deleteLater();
        }
    });
    connect(socket, &QSslSocket::encrypted, this, [this, socket, deadline] {
        delete deadline;
        // The connection takes the socket over, and the count follows the connection.
        socket->disconnect(this);
        socket->disconnect(socket);
        --m_open;
        const QSslCertificate certificate = socket->peerCertificate();
        const QString fingerprint =
            certificate.isNull() ? QString() : fingerprint::ofCertificate(certificate.toDer());
        auto* connection = new Connection(socket, true, fingerprint, m_receiver, this);
        track(connection);
    });
    deadline->start(kFirstBytesMs);
    socket->startServerEncryption();
}

}  // namespace localsend
