#include "engine/lanesendingtransfer.h"

#include <utility>

namespace {

Outcome outcomeOf(LaneSendingSession::End end, bool cancelledHere) {
    using End = LaneSendingSession::End;
    switch (end) {
        case End::Sent:
            return Outcome::Sent;
        case End::Mismatch:
            return Outcome::Corrupted;
        case End::Busy:
            return Outcome::Busy;
        case End::Declined:
            return Outcome::Declined;
        case End::Cancelled:
            return cancelledHere ? Outcome::Cancelled : Outcome::CancelledByPeer;
        case End::CannotRead:
            return Outcome::CannotRead;
        case End::WriteFailed:
            return Outcome::CannotWrite;
        case End::IdentityRefused:
            return Outcome::IdentityChanged;
        case End::Incomplete:
            return Outcome::Incomplete;
        case End::Broken:
            break;
    }
    return Outcome::ConnectionError;
}

}  // namespace

LaneSendingTransfer::LaneSendingTransfer(const OutgoingFile& file, const Identity& identity,
                                         QObject* parent)
    : Transfer(parent), m_session(new LaneSendingSession(file, identity, this)) {
    follow();
}

LaneSendingTransfer::LaneSendingTransfer(std::shared_ptr<const OutgoingEntries> entries,
                                         const Identity& identity, QObject* parent)
    : Transfer(parent), m_session(new LaneSendingSession(std::move(entries), identity, this)) {
    follow();
}

void LaneSendingTransfer::follow() {
    LaneSendingSession* s = m_session;
    connect(s, &LaneSendingSession::fileStarted, this, &Transfer::fileStarted);
    connect(s, &LaneSendingSession::fileEnded, this, &Transfer::fileEnded);
    connect(s, &LaneSendingSession::unavailable, this, &LaneSendingTransfer::unavailable);
    connect(s, &LaneSendingSession::connected, this, &Transfer::connected);
    // The session tells where the data starts with its first progress, right after it
    // started.
    connect(s, &LaneSendingSession::started, this, [this] { m_starting = true; });
    connect(s, &LaneSendingSession::progress, this, [this](qint64 done, qint64 total) {
        if (std::exchange(m_starting, false)) {
            emit started(done);
            emit flowing();
        }
        emit progress(done, total);
        emit activity();
    });
    connect(s, &LaneSendingSession::pausedForUser, this, &Transfer::pausedForUser);
    connect(s, &LaneSendingSession::peerPaused, this, &Transfer::peerPaused);
    connect(s, &LaneSendingSession::peerResumed, this, &Transfer::peerResumed);
    connect(s, &LaneSendingSession::ended, this, [this](LaneSendingSession::End end) {
        if (!m_ended) {
            m_ended = true;
            emit ended(outcomeOf(end, m_cancelled));
        }
    });
}

void LaneSendingTransfer::setSenderName(const QString& name) {
    m_session->setSenderName(name);
}

void LaneSendingTransfer::setPeerCheck(LaneSendingSession::PeerCheck check) {
    m_session->setPeerCheck(std::move(check));
}

QString LaneSendingTransfer::peerFingerprint() const {
    return m_session->peerFingerprint();
}

void LaneSendingTransfer::start(const QHostAddress& address, quint16 port) {
    m_session->start(address, port);
}

void LaneSendingTransfer::pause() {
    m_session->pauseByUser();
}

void LaneSendingTransfer::resume() {
    m_session->resumeByUser();
}

void LaneSendingTransfer::cancel() {
    m_cancelled = true;
    m_session->cancel();
}
