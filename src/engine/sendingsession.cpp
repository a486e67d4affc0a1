#include "engine/sendingsession.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHostAddress>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

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
#include "lane/entries/textoffer.h"

namespace {

// How often, and how far apart, a file offered in turn is offered again to a receiver that
// is still busy with the file before it.
constexpr int kInTurnBusyTries = 15;
constexpr int kInTurnBusyMs = 200;

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
    m_entries.reset();
    m_file = OutgoingFile::open(path);
    return m_file.has_value();
}

bool SendingSession::chooseFiles(const QStringList& paths) {
    if (paths.size() == 1 && QFileInfo(paths.front()).isFile()) {
        return chooseFile(paths.front());
    }
    m_file.reset();
    auto collected = std::make_shared<OutgoingEntries>(OutgoingEntries::collect(paths));
    m_entries = std::move(collected);
    if (m_entries->manifest.entries.empty()) {
        m_entries.reset();
        return false;
    }
    return true;
}

bool SendingSession::chooseText(const QString& text) {
    m_file.reset();
    m_entries.reset();
    if (entries::parseText(entries::encodeText(text)).error != entries::TextError::None) {
        return false;
    }
    m_entries = std::make_shared<OutgoingEntries>(OutgoingEntries::ofText(text));
    return true;
}

qint64 SendingSession::chosenSize() const {
    return m_file ? m_file->size : m_entries ? m_entries->total() : 0;
}

bool SendingSession::onLane() const {
    return m_transfer != nullptr && !m_laneAttempt &&
           m_transfer->carrier() == Transfer::Carrier::Lane;
}

void SendingSession::start(const QString& address) {
    if (m_state != State::Idle || (!m_file && !m_entries)) {
        return;
    }
    m_inTurn.reset();
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
    auto* lane = m_entries ? new LaneSendingTransfer(m_entries, m_laneIdentity->identity(), this)
                           : new LaneSendingTransfer(*m_file, m_laneIdentity->identity(), this);
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
    if (m_entries) {
        // The classic protocol carries one file per offer, and neither folders nor texts.
        if (m_entries->isText || m_entries->hasFolder()) {
            finish(Outcome::NeedsLane);
            return;
        }
        m_inTurn = 0;
        m_inTurnAddress = address;
        m_inTurnDone = 0;
        m_inTurnBusy = 0;
        m_inTurnFailed = false;
        sendNextInTurn();
        return;
    }
    auto* classic = new ClassicSendingTransfer(*m_file, this);
    follow(classic);
    classic->start(address, m_peerPort);
}

void SendingSession::sendNextInTurn() {
    const auto& list = m_entries->manifest.entries;
    const qsizetype index = *m_inTurn;
    if (index >= qsizetype(list.size())) {
        m_inTurn.reset();
        finish(m_inTurnFailed ? Outcome::Incomplete : Outcome::Sent);
        return;
    }
    const QString source = m_entries->sources.value(index);
    const OutgoingFile file{source, QFileInfo(source).fileName(), list[index].size};
    auto* classic = new ClassicSendingTransfer(file, this);
    follow(classic);
    emit fileStarted(QString::fromUtf8(list[index].path), file.size);
    classic->start(m_inTurnAddress, m_peerPort);
}

void SendingSession::transferEnded(Outcome outcome) {
    if (!m_inTurn) {
        finish(outcome);
        return;
    }
    const auto& entry = m_entries->manifest.entries[*m_inTurn];
    const QString path = QString::fromUtf8(entry.path);
    if (outcome == Outcome::Busy && *m_inTurn > 0 && m_inTurnBusy < kInTurnBusyTries) {
        // Right after the previous file the receiver may still be letting that connection
        // go, and counts it: the same file is offered again a moment later.
        ++m_inTurnBusy;
        dropTransfer();
        QTimer::singleShot(kInTurnBusyMs, this, [this, index = *m_inTurn] {
            if (m_inTurn == index && m_transfer == nullptr && m_state != State::Idle) {
                sendNextInTurn();
            }
        });
        return;
    }
    m_inTurnBusy = 0;
    switch (outcome) {
        case Outcome::Sent:
            emit fileEnded(path, FileVerdict::Arrived);
            break;
        case Outcome::CannotOpen:
        case Outcome::CannotRead:
            // This file alone: the others still go.
            emit fileEnded(path, FileVerdict::Unreadable);
            m_inTurnFailed = true;
            break;
        case Outcome::Corrupted:
        case Outcome::PartialDiffers:
            emit fileEnded(path, FileVerdict::Mismatch);
            m_inTurnFailed = true;
            break;
        default:
            // The peer or the user ended it: the files after it are not offered.
            m_inTurn.reset();
            finish(outcome);
            return;
    }
    m_inTurnDone += entry.size;
    dropTransfer();
    m_inTurn = *m_inTurn + 1;
    sendNextInTurn();
}

void SendingSession::follow(Transfer* transfer) {
    m_transfer = transfer;
    // Files sent one offer each are one send: connected once, one clock.
    connect(transfer, &Transfer::connected, this, [this] {
        m_state = State::Offered;
        if (!m_inTurn || *m_inTurn == 0) {
            m_clock.reset();
            emit connected();
        }
    });
    connect(transfer, &Transfer::started, this, [this](qint64 offset) {
        m_state = State::Sending;
        if (!m_inTurn || *m_inTurn == 0) {
            m_startOffset = offset;
        }
    });
    connect(transfer, &Transfer::flowing, this, [this] {
        if (!m_userPaused) {
            m_clock.run();
        }
        emit blockRequested();
    });
    connect(transfer, &Transfer::progress, this, [this, transfer](qint64 done, qint64 total) {
        if (m_inTurn) {
            // One file of several: counted against them all.
            done += m_inTurnDone;
            total = m_entries->total();
        }
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
    connect(transfer, &Transfer::fileStarted, this, &SendingSession::fileStarted);
    connect(transfer, &Transfer::fileEnded, this, &SendingSession::fileEnded);
    connect(transfer, &Transfer::ended, this, &SendingSession::transferEnded);
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
    m_inTurn.reset();
    dropTransfer();
    m_state = State::Idle;
    m_acceptNewIdentity = false;
    m_forceClassic = false;
    m_clock.hold();
    const bool listening = m_listener ? m_listener->startListening() : false;
    emit sendingEnded(outcome, listening);
}
