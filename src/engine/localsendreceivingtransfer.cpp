#include "engine/localsendreceivingtransfer.h"

#include "localsend/deviceinfo.h"
#include "localsend/session.h"

namespace {

using End = localsend::Session::End;

Outcome outcomeOf(End end) {
    switch (end) {
        case End::Received:
            return Outcome::Received;
        case End::Declined:
            return Outcome::Declined;
        case End::Cancelled:
            return Outcome::Cancelled;
        case End::CancelledByPeer:
            return Outcome::CancelledByPeer;
        case End::PeerLeft:
            return Outcome::PeerLeft;
        case End::Corrupted:
            return Outcome::Corrupted;
        case End::WriteFailed:
            return Outcome::CannotWrite;
        case End::OpenFailed:
            return Outcome::CannotOpen;
        case End::ConnectionError:
            break;
    }
    return Outcome::ConnectionError;
}

// One file's end, in the words of offers of several files.
FileVerdict verdictOf(End end) {
    switch (end) {
        case End::Received:
            return FileVerdict::Arrived;
        case End::Corrupted:
            return FileVerdict::Mismatch;
        case End::WriteFailed:
            return FileVerdict::WriteFailed;
        case End::OpenFailed:
            return FileVerdict::NotCreated;
        case End::Declined:
        case End::Cancelled:
        case End::CancelledByPeer:
        case End::PeerLeft:
        case End::ConnectionError:
            break;
    }
    return FileVerdict::Interrupted;
}

TransferOffer offerOf(const localsend::Session& session) {
    const localsend::UploadOffer& offer = session.offer();
    TransferOffer shown;
    shown.fileCount = int(offer.files.size());
    shown.name = shown.fileCount == 1 ? QString::fromUtf8(offer.files.front().path)
                                      : QStringLiteral("%1 archivos").arg(shown.fileCount);
    shown.size = offer.total;
    shown.address = session.peer().address.toString();
    // Only a certificate proves who sends; over plain HTTP the fingerprint is a claim.
    shown.senderFingerprint = session.peer().fingerprint;
    shown.senderName = localsend::printable(offer.sender.alias);
    shown.viaLocalSend = true;
    shown.senderModel = localsend::printable(offer.sender.deviceModel);
    return shown;
}

}  // namespace

LocalSendReceivingTransfer::LocalSendReceivingTransfer(localsend::Session* session, QObject* parent)
    : Transfer(parent), m_session(session), m_offer(offerOf(*session)) {
    connect(session, &localsend::Session::started, this, [this] {
        emit started(0);
        emit flowing();
    });
    connect(session, &localsend::Session::progress, this, [this](qint64 done, qint64 total) {
        emit progress(done, total);
        emit activity();
    });
    connect(session, &localsend::Session::fileEnded, this, [this](const QString& path, End why) {
        // A single file kept beside another of its name: the role's target follows it.
        if (m_offer.fileCount == 1 && why == End::Received &&
            path.normalized(QString::NormalizationForm_C) !=
                (m_folder + m_offer.name).normalized(QString::NormalizationForm_C)) {
            emit savedAs(path);
        }
        // Relative to the receive folder, as the lane's entries report theirs.
        emit fileEnded(path.startsWith(m_folder) ? path.mid(m_folder.size()) : path,
                       verdictOf(why));
    });
    connect(session, &localsend::Session::ended, this, [this](End end) {
        if (!std::exchange(m_ended, true)) {
            emit ended(outcomeOf(end));
        }
    });
}

LocalSendReceivingTransfer::~LocalSendReceivingTransfer() {
    if (localsend::Session* session = m_session) {
        session->disconnect(this);
        session->abandon();
    }
}

void LocalSendReceivingTransfer::announce() {
    if (!m_ended && m_session && m_session->asking()) {
        emit offered(m_offer);
    }
}

void LocalSendReceivingTransfer::accept(const QString& target) {
    if (!m_session) {
        return;
    }
    m_folder = m_offer.fileCount == 1 ? target.chopped(m_offer.name.size()) : target;
    m_session->accept(m_folder);
}

void LocalSendReceivingTransfer::decline() {
    if (m_session) {
        m_session->decline();
    }
}

void LocalSendReceivingTransfer::pause() {
    if (m_session && !m_session->paused()) {
        m_session->pause();
        emit pausedForUser();
    }
}

void LocalSendReceivingTransfer::resume() {
    if (m_session) {
        m_session->resume();
        emit flowing();
    }
}

void LocalSendReceivingTransfer::cancel() {
    if (m_session) {
        m_session->cancel();
    }
}
