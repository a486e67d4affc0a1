#include "engine/pairingrequest.h"

#include <QSslSocket>

#include "engine/laneidentity.h"
#include "engine/lanepairing.h"
#include "engine/peeraddress.h"
#include "identity/fingerprint.h"
#include "identity/lanetls.h"
#include "identity/pinstore.h"
#include "lane/lanewire.h"

namespace {

// From the connection to the lane's greeting: the TLS handshake's own limit and a second.
constexpr int kGreetingMs = lanetls::kHandshakeTimeoutMs + 1000;

}  // namespace

PairingRequest::PairingRequest(quint16 port, std::shared_ptr<const LaneIdentity> identity,
                               QObject* parent)
    : QObject(parent),
      m_port(port),
      m_identity(std::move(identity)),
      m_answerMs(LanePairing::kAnswerMs) {
    m_greetingTimer.setSingleShot(true);
    connect(&m_greetingTimer, &QTimer::timeout, this, [this] { finish(PairingOutcome::NoLane); });
}

PairingRequest::~PairingRequest() {
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

QString PairingRequest::peerLabel() const {
    if (m_pairing != nullptr) {
        return m_pairing->peerLabel();
    }
    return fingerprint::shortForm(m_peerFingerprint);
}

void PairingRequest::start(const QString& address) {
    if (m_active) {
        return;
    }
    m_active = true;
    m_greeting.clear();
    m_peerFingerprint.clear();
    const PeerAddress peer = parsePeerAddress(address, m_port);
    if (peer.kind == PeerAddress::Kind::Bad || peer.port == 65535 || !m_identity) {
        const PairingOutcome outcome =
            m_identity ? PairingOutcome::BadAddress : PairingOutcome::NoLane;
        QMetaObject::invokeMethod(
            this, [this, outcome] { finish(outcome); }, Qt::QueuedConnection);
        return;
    }
    m_pinKey = PinStore::key(rememberedAddress(peer));
    m_socket = lanetls::clientSocket(m_identity->identity(), lanetls::anyPeer(), this);
    connect(m_socket, &QSslSocket::encrypted, this, [this] {
        m_peerFingerprint = lanetls::peerFingerprint(*m_socket);
        m_socket->write(lanewire::greeting());
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &PairingRequest::readGreeting);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] { finish(PairingOutcome::NoLane); });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] { finish(PairingOutcome::NoLane); });
    m_greetingTimer.start(kGreetingMs);
    m_socket->connectToHostEncrypted(peer.host, static_cast<quint16>(peer.port + 1));
}

void PairingRequest::readGreeting() {
    m_greeting += m_socket->read(lanewire::kGreetingSize - m_greeting.size());
    if (m_greeting.size() < lanewire::kGreetingSize) {
        return;
    }
    const std::optional<quint16> version = lanewire::greetingVersion(m_greeting);
    if (!version || *version < lanewire::kOldestVersion) {
        finish(PairingOutcome::NoLane);
        return;
    }
    m_greetingTimer.stop();
    QSslSocket* socket = m_socket;
    socket->disconnect(this);
    m_socket = nullptr;
    m_pairing = new LanePairing(socket, PairingExchange::Role::Initiator, m_identity, this);
    m_pairing->setAnswerTimeout(m_answerMs);
    connect(m_pairing, &LanePairing::codeReady, this, [this](const QString& code) {
        emit codeReady(code, m_pairing->peerName(), m_pairing->peerFingerprint());
    });
    connect(m_pairing, &LanePairing::ended, this, &PairingRequest::finish);
    m_pairing->start();
}

void PairingRequest::confirm(bool yes) {
    if (m_pairing != nullptr) {
        m_pairing->confirm(yes);
    }
}

void PairingRequest::cancel() {
    if (!m_active) {
        return;
    }
    if (m_pairing != nullptr) {
        m_pairing->cancel();  // ends it, through finish
        return;
    }
    finish(PairingOutcome::Refused);
}

void PairingRequest::finish(PairingOutcome outcome) {
    if (!m_active) {
        return;
    }
    m_active = false;
    m_greetingTimer.stop();
    const QString label = peerLabel();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    if (outcome == PairingOutcome::Paired && m_pairing != nullptr) {
        // Both users saw the same code: the identity at this address is the right one.
        PinStore pins(m_identity->folder());
        QString error;
        pins.remember(m_pinKey, m_pairing->peerFingerprint(), &error);
    }
    if (m_pairing != nullptr) {
        m_pairing->disconnect(this);
        m_pairing->deleteLater();
        m_pairing = nullptr;
    }
    emit ended(outcome, label);
}
