#include "engine/sendingsession.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QPointer>
#include <QThreadPool>

#include <utility>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include "engine/classicsendingtransfer.h"
#include "engine/laneidentity.h"
#include "engine/lanesendingtransfer.h"
#include "engine/peeraddress.h"
#include "engine/receivingservice.h"
#include "identity/pinstore.h"

namespace {

// The first IPv4 address of `name` as dotted text, by the system's resolver (so names of the
// local network resolve wherever the system resolves them); empty when there is none.
QString resolveIPv4(const QByteArray& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.constData(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return {};
    }
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
    ::freeaddrinfo(found);
    return QString::fromLatin1(text);
}

}  // namespace

SendingSession::SendingSession(quint16 port, ReceivingService* listener, QObject* parent)
    : QObject(parent), m_listener(listener), m_port(port), m_peerPort(port), m_clock(this) {}

SendingSession::~SendingSession() {
    if (m_transfer != nullptr) {
        m_transfer->disconnect(this);
        delete m_transfer;
    }
}

void SendingSession::setLaneIdentity(std::shared_ptr<const LaneIdentity> identity) {
    m_laneIdentity = std::move(identity);
}

bool SendingSession::chooseFile(const QString& path) {
    m_file = OutgoingFile::open(path);
    return m_file.has_value();
}

bool SendingSession::onLane() const {
    return m_transfer != nullptr && !m_laneAttempt &&
           m_transfer->carrier() == Transfer::Carrier::Lane;
}

void SendingSession::start(const QString& address) {
    if (m_state != State::Idle || !m_file) {
        return;
    }
    m_state = State::Connecting;
    m_userPaused = false;
    m_startOffset = 0;
    m_address = address;
    m_identityChange = {};
    m_pinKey.clear();
    m_pinned.clear();
    m_clock.reset();
    if (m_listener) {
        m_listener->stopListening();
    }
    const PeerAddress peer = parsePeerAddress(address, m_port);
    if (peer.kind == PeerAddress::Kind::Bad) {
        // Said from the event loop, as every other end: never before this returns.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_state == State::Connecting && m_transfer == nullptr && m_lookup == 0) {
                    finish(Outcome::BadAddress);
                }
            },
            Qt::QueuedConnection);
        return;
    }
    m_peerPort = peer.port;
    readPin(rememberedAddress(peer));
    if (peer.kind == PeerAddress::Kind::Dotted) {
        connectTo(peer.host);
        return;
    }
    // A name is looked up on a worker, so the program goes on meanwhile; the answer is taken
    // only if this send still waits for it.
    const quint64 lookup = ++m_lookup;
    const QPointer<SendingSession> self(this);
    const QByteArray name = peer.host.toUtf8();
    QThreadPool::globalInstance()->start([self, lookup, name] {
        const QString found = resolveIPv4(name);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, lookup, found] {
                if (self) {
                    self->lookedUp(lookup, found);
                }
            },
            Qt::QueuedConnection);
    });
}

void SendingSession::lookedUp(quint64 lookup, const QString& address) {
    if (lookup != m_lookup || m_state != State::Connecting) {
        return;
    }
    m_lookup = 0;
    if (address.isEmpty()) {
        finish(Outcome::BadAddress);
        return;
    }
    connectTo(address);
}

void SendingSession::readPin(const QString& key) {
    if (!m_laneIdentity) {
        return;
    }
    m_pinKey = PinStore::key(key);
    PinStore pins(m_laneIdentity->folder());
    QString error;
    // A file that cannot be read holds no pin to keep; it is never overwritten either.
    if (pins.load(&error)) {
        m_pinned = pins.pinned(m_pinKey);
    }
}

void SendingSession::rememberPin(const QString& fingerprint) {
    if (!m_laneIdentity || m_pinKey.isEmpty() || fingerprint.isEmpty()) {
        return;
    }
    PinStore pins(m_laneIdentity->folder());
    QString error;
    pins.remember(m_pinKey, fingerprint, &error);
}

void SendingSession::connectTo(const QString& address) {
    const QHostAddress host(address);
    if (m_forceClassic || !m_laneEnabled || !m_laneIdentity ||
        host.protocol() != QAbstractSocket::IPv4Protocol || m_peerPort == 65535) {
        connectClassic(address);
        return;
    }
    // The lane first; when nobody answers on it the classic protocol at once, unless this
    // address is known by its identity.
    auto* lane = new LaneSendingTransfer(*m_file, m_laneIdentity->identity(), this);
    lane->setSenderName(m_laneIdentity->name());
    lane->setPeerCheck([this](const QString& seen) {
        if (m_pinned.isEmpty() || seen == m_pinned || m_acceptNewIdentity) {
            return true;
        }
        m_identityChange = {m_pinned, seen};
        return false;
    });
    m_laneAttempt = true;
    connect(lane, &LaneSendingTransfer::unavailable, this, [this, address] {
        dropTransfer();
        if (m_state != State::Connecting) {
            return;
        }
        if (!m_pinned.isEmpty()) {
            finish(Outcome::LaneUnanswered);
            return;
        }
        connectClassic(address);
    });
    // Remembered once the lane's greeting came: a TLS server that is no lane is not pinned.
    connect(lane, &Transfer::connected, this, [this, lane] {
        m_laneAttempt = false;
        rememberPin(lane->peerFingerprint());
    });
    follow(lane);
    lane->start(host, static_cast<quint16>(m_peerPort + 1));
}

void SendingSession::connectClassic(const QString& address) {
    auto* classic = new ClassicSendingTransfer(*m_file, this);
    follow(classic);
    classic->start(address, m_peerPort);
}

void SendingSession::follow(Transfer* transfer) {
    m_transfer = transfer;
    connect(transfer, &Transfer::connected, this, [this] {
        m_state = State::Offered;
        m_clock.reset();
        emit connected();
    });
    connect(transfer, &Transfer::started, this, [this](qint64 offset) {
        m_state = State::Sending;
        m_startOffset = offset;
    });
    connect(transfer, &Transfer::flowing, this, [this] {
        if (!m_userPaused) {
            m_clock.run();
        }
        emit blockRequested();
    });
    connect(transfer, &Transfer::progress, this, [this, transfer](qint64 done, qint64 total) {
        emit progress(makeProgress(transfer->carrier(), done, total, m_startOffset, m_clock));
    });
    connect(transfer, &Transfer::pausedForUser, this, [this] {
        m_clock.hold();
        emit pausedForUser();
    });
    connect(transfer, &Transfer::peerPaused, this, [this] {
        m_clock.hold();
        emit peerPaused();
    });
    connect(transfer, &Transfer::peerResumed, this, [this] {
        if (!m_userPaused) {
            m_clock.run();
            emit blockRequested();
        }
    });
    connect(transfer, &Transfer::activity, this, &SendingSession::activity);
    connect(transfer, &Transfer::ended, this, &SendingSession::finish);
}

void SendingSession::dropTransfer() {
    if (m_transfer == nullptr) {
        return;
    }
    m_transfer->disconnect(this);
    m_transfer->deleteLater();
    m_transfer = nullptr;
    m_laneAttempt = false;
}

void SendingSession::cancel() {
    m_lookup = 0;  // an answer still to come is dropped
    if (m_state == State::Idle) {
        return;
    }
    if (m_transfer != nullptr && !m_laneAttempt) {
        m_transfer->cancel();  // ends it, through finish
        return;
    }
    // A name still being looked up, or a lane still asked whether it is there: nothing was
    // offered yet.
    dropTransfer();
    finish(Outcome::Cancelled);
}

void SendingSession::pauseByUser() {
    m_userPaused = true;
    if (m_transfer != nullptr) {
        m_transfer->pause();
    }
}

void SendingSession::resumeByUser() {
    m_userPaused = false;
    if (m_transfer != nullptr) {
        m_transfer->resume();
    }
    if (m_state == State::Sending) {
        m_clock.run();
        if (onLane()) {
            emit blockRequested();
        }
    }
}

void SendingSession::finish(Outcome outcome) {
    dropTransfer();
    m_state = State::Idle;
    m_acceptNewIdentity = false;
    m_forceClassic = false;
    m_clock.hold();
    const bool listening = m_listener ? m_listener->startListening() : false;
    emit sendingEnded(outcome, listening);
}
