#include "engine/lanepairing.h"

#include <QSslSocket>

#include "engine/laneidentity.h"
#include "identity/fingerprint.h"
#include "identity/lanetls.h"
#include "identity/truststore.h"
#include "lane/closegently.h"
#include "lane/offeredname.h"

LanePairing::LanePairing(QSslSocket* socket, PairingExchange::Role role,
                         std::shared_ptr<const LaneIdentity> identity, QObject* parent)
    : QObject(parent),
      m_socket(socket),
      m_identity(std::move(identity)),
      m_role(role),
      m_exchange(role, m_identity->identity().fingerprint(), lanetls::peerFingerprint(*socket)),
      m_peerFingerprint(lanetls::peerFingerprint(*socket)) {
    socket->setParent(this);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_ownAnswer < 0) {
            send(lanewire::pairResult(false));
        }
        finish(PairingOutcome::TimedOut);
    });
    connect(socket, &QTcpSocket::readyRead, this, &LanePairing::readPeer);
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        readPeer();  // a refusal sent just before the close still counts as one
        finish(PairingOutcome::Broken);
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e != QAbstractSocket::RemoteHostClosedError) {
            finish(PairingOutcome::Broken);
        }
    });
}

LanePairing::~LanePairing() {
    if (!m_ended && m_socket) {
        m_socket->abort();
    }
}

QString LanePairing::peerLabel() const {
    return m_peerName.isEmpty() ? fingerprint::shortForm(m_peerFingerprint) : m_peerName;
}

void LanePairing::send(const QByteArray& bytes) {
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState) {
        m_socket->write(bytes);
    }
}

void LanePairing::start(const QByteArray& firstPayload) {
    m_timer.start(m_answerMs);
    if (m_role == PairingExchange::Role::Initiator) {
        m_nameSent = true;
        send(lanewire::pair(m_exchange.start(), m_identity->name().toUtf8()));
    } else {
        takePair(firstPayload);
    }
    // Bytes that came behind what was read before this end took the connection over.
    QMetaObject::invokeMethod(this, &LanePairing::readPeer, Qt::QueuedConnection);
}

void LanePairing::readPeer() {
    while (!m_ended && m_socket) {
        const auto read =
            m_reader.readFrom(*m_socket, 4096, [this](lanewire::Type type, const QByteArray& p) {
                handle(type, p);
                return !m_ended;
            });
        if (read == lanewire::FrameReader::Read::Nothing) {
            return;
        }
        if (read == lanewire::FrameReader::Read::Broken) {
            finish(PairingOutcome::Broken);
            return;
        }
    }
}

void LanePairing::handle(lanewire::Type type, const QByteArray& payload) {
    using lanewire::Type;
    switch (type) {
        case Type::Pair:
            takePair(payload);
            return;
        case Type::PairResult:
            takeResult(payload);
            return;
        case Type::Busy:
        case Type::Decline:
            // A receiver's answer to the first PAIR: it serves someone else, or takes no
            // pairing now.
            if (m_role == PairingExchange::Role::Initiator && !m_peerSpoke) {
                finish(type == Type::Busy ? PairingOutcome::Busy : PairingOutcome::NotOffered);
                return;
            }
            break;
        default:
            break;
    }
    finish(PairingOutcome::Broken);
}

void LanePairing::takePair(const QByteArray& payload) {
    const std::optional<lanewire::Pair> pair = lanewire::parsePair(payload);
    if (!pair || m_codeShown) {
        finish(PairingOutcome::Broken);
        return;
    }
    if (!m_peerSpoke) {
        m_peerSpoke = true;
        m_peerName = shownPeerName(pair->name);
    } else if (!pair->name.isEmpty()) {
        finish(PairingOutcome::Broken);  // a name comes once, with the first message
        return;
    }
    QByteArray reply;
    const PairingExchange::Step step = m_exchange.receive(pair->message, &reply);
    if (step == PairingExchange::Step::Failed) {
        finish(PairingOutcome::Broken);
        return;
    }
    if (!reply.isEmpty()) {
        const bool withName = !std::exchange(m_nameSent, true);
        send(withName ? lanewire::pair(reply, m_identity->name().toUtf8()) : lanewire::pair(reply));
    }
    if (step == PairingExchange::Step::Done) {
        m_codeShown = true;
        m_timer.start(m_answerMs);  // the users' turn
        emit codeReady(m_exchange.code());
    }
}

void LanePairing::takeResult(const QByteArray& payload) {
    const std::optional<bool> confirmed = lanewire::parsePairResult(payload);
    // An answer before this end could show its code, or twice, is out of turn.
    if (!confirmed || !m_codeShown || m_peerAnswer >= 0) {
        finish(PairingOutcome::Broken);
        return;
    }
    m_peerAnswer = *confirmed ? 1 : 0;
    if (!*confirmed) {
        finish(PairingOutcome::RefusedByPeer);
        return;
    }
    settle();
}

void LanePairing::confirm(bool yes) {
    if (m_ended || !m_codeShown || m_ownAnswer >= 0) {
        return;
    }
    m_ownAnswer = yes ? 1 : 0;
    send(lanewire::pairResult(yes));
    if (!yes) {
        finish(PairingOutcome::Refused);
        return;
    }
    settle();
}

void LanePairing::cancel() {
    if (m_ended) {
        return;
    }
    if (m_ownAnswer < 0 && m_codeShown) {
        send(lanewire::pairResult(false));
    }
    finish(PairingOutcome::Refused);
}

void LanePairing::settle() {
    if (m_ownAnswer != 1 || m_peerAnswer != 1) {
        return;  // the other answer is still to come
    }
    TrustStore store(m_identity->folder());
    QString error;
    const bool saved = store.load(&error) && store.add(m_peerFingerprint, m_peerName, &error);
    finish(saved ? PairingOutcome::Paired : PairingOutcome::TrustNotSaved);
}

void LanePairing::finish(PairingOutcome outcome) {
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_timer.stop();
    if (m_socket) {
        closeGently(m_socket);
    }
    emit ended(outcome);
}
