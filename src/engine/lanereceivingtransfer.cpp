#include "engine/lanereceivingtransfer.h"

#include "engine/lanereceivingsession.h"
#include "lane/entries/manifest.h"

#include <QTcpSocket>

#include <utility>

namespace {

Outcome outcomeOf(LaneReceivingSession::End end, bool cancelledHere) {
    using End = LaneReceivingSession::End;
    switch (end) {
        case End::Received:
            return Outcome::Received;
        case End::Mismatch:
            return Outcome::Corrupted;
        case End::WriteFailed:
            return Outcome::CannotWrite;
        case End::OpenFailed:
            return Outcome::CannotOpen;
        case End::Declined:
            return Outcome::Declined;
        case End::Cancelled:
            return cancelledHere ? Outcome::Cancelled : Outcome::CancelledByPeer;
        case End::BadName:
            return Outcome::BadName;
        case End::Gone:
            return Outcome::PeerLeft;
        case End::Incomplete:
            return Outcome::Incomplete;
        case End::Broken:
            break;
    }
    return Outcome::ConnectionError;
}

}  // namespace

LaneReceivingTransfer::LaneReceivingTransfer(QTcpSocket* socket, QObject* parent)
    : Transfer(parent), m_session(new LaneReceivingSession(socket, false, this)) {
    LaneReceivingSession* s = m_session;
    connect(s, &LaneReceivingSession::offered, this, [this] {
        TransferOffer offer;
        offer.name = m_session->offeredName();
        offer.size = m_session->offeredSize();
        offer.address = m_session->peerAddress();
        offer.senderName = m_session->senderName();
        switch (m_session->offeredKind()) {
            case LaneReceivingSession::Kind::File:
                break;
            case LaneReceivingSession::Kind::Entries: {
                const entries::Manifest* list = m_session->offeredEntries();
                offer.kind = TransferOffer::Kind::Entries;
                offer.fileCount = list->fileCount();
                offer.folderCount = qint64(list->entries.size()) - offer.fileCount;
                break;
            }
            case LaneReceivingSession::Kind::Text:
                offer.kind = TransferOffer::Kind::Text;
                offer.text = m_session->offeredText();
                offer.fileCount = 0;
                break;
        }
        emit offered(offer);
    });
    connect(s, &LaneReceivingSession::pairingAsked, this,
            [this](QTcpSocket* socket, const QByteArray& payload) {
                m_ended = true;
                emit pairingAsked(socket, payload);
            });
    connect(s, &LaneReceivingSession::fileStarted, this, &Transfer::fileStarted);
    connect(s, &LaneReceivingSession::fileEnded, this, &Transfer::fileEnded);
    // The session tells where the data starts with its first progress, right after it
    // started.
    connect(s, &LaneReceivingSession::started, this, [this] { m_starting = true; });
    connect(s, &LaneReceivingSession::progress, this, [this](qint64 done, qint64 total) {
        if (std::exchange(m_starting, false)) {
            emit started(done);
            emit flowing();
        }
        emit progress(done, total);
        emit activity();
    });
    connect(s, &LaneReceivingSession::pausedForUser, this, &Transfer::pausedForUser);
    connect(s, &LaneReceivingSession::peerPaused, this, &Transfer::peerPaused);
    connect(s, &LaneReceivingSession::peerResumed, this, &Transfer::peerResumed);
    connect(s, &LaneReceivingSession::diskFull, this, &Transfer::diskFull);
    connect(s, &LaneReceivingSession::savedUnderOtherName, this, &Transfer::savedAs);
    connect(s, &LaneReceivingSession::ended, this, [this](LaneReceivingSession::End end) {
        if (!m_ended) {
            m_ended = true;
            emit ended(outcomeOf(end, m_cancelled));
        }
    });
}

void LaneReceivingTransfer::accept(const QString& target) {
    const qsizetype slash = target.lastIndexOf(QLatin1Char('/'));
    m_session->accept(target.left(slash + 1), target.mid(slash + 1));
}

void LaneReceivingTransfer::decline() {
    m_session->decline();
}

void LaneReceivingTransfer::pause() {
    m_session->pauseByUser();
}

void LaneReceivingTransfer::resume() {
    m_session->resumeByUser();
}

void LaneReceivingTransfer::cancel() {
    m_cancelled = true;
    m_session->cancel();
}
