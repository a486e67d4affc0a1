#include "engine/classicreceivingtransfer.h"

#include <utility>

#include "engine/dismissal.h"
#include "net/socketconnection.h"
#include "transfer/protocol.h"
#include "transfer/wirename.h"

namespace {

constexpr int kIntruderMs = 6000;

}  // namespace

ClassicReceivingTransfer::ClassicReceivingTransfer(TSocketConnection* connection,
                                                   FreeSpaceProbe freeSpace, QObject* parent)
    : Transfer(parent),
      m_connection(connection),
      m_freeSpace(std::move(freeSpace)),
      m_intruder(kIntruderMs, this),
      m_retry(this) {
    m_intruder.setObjectName(QStringLiteral("Intruso"));
    connect(&m_intruder, &QTimer::timeout, this, &ClassicReceivingTransfer::intruderTimeout);
    m_intruder.SwitchOn();
}

bool ClassicReceivingTransfer::dismissed() const {
    return m_connection && isDismissed(m_connection);
}

void ClassicReceivingTransfer::intruderTimeout() {
    m_intruder.SwitchOff();
    if (m_connection && !dismissed() && !m_ended) {
        dismissConnection(m_connection, IntruderNotice());
    }
}

void ClassicReceivingTransfer::readInput() {
    if (!m_connection || dismissed() || m_ended) {
        return;  // the bytes of a peer told to go stay unread
    }
    if (m_retry.waiting()) {
        return;  // the file is locked: the input waits, unread, until it opens
    }
    const QPointer<TSocketConnection> guard(m_connection);
    handleReadEvent(
        m_connection.data(), m_input, m_backlog,
        [&] { return guard && !dismissed() && !m_ended && !m_retry.waiting(); },
        [&](const ReceiverInput::Message& message) { dispatch(message); });
    emit activity();
}

// After a step that waited for the file: the input it held back is taken now.
void ClassicReceivingTransfer::takeWaitingInput() {
    if (std::exchange(m_resumeInput, false) && !m_ended && m_connection) {
        QMetaObject::invokeMethod(this, &ClassicReceivingTransfer::readInput, Qt::QueuedConnection);
    }
}

void ClassicReceivingTransfer::dispatch(const ReceiverInput::Message& message) {
    switch (message.kind) {
        case ReceiverInput::Kind::Offer:
            takeOffer(message);
            break;
        case ReceiverInput::Kind::Block:
            takeBlock(message);
            break;
        case ReceiverInput::Kind::Pause:
            takePause();
            break;
        case ReceiverInput::Kind::Resume:
            takeResume();
            break;
        case ReceiverInput::Kind::Bad:
        case ReceiverInput::Kind::NeedMore:
            close(Outcome::ConnectionError);
            break;
    }
}

void ClassicReceivingTransfer::takeOffer(const ReceiverInput::Message& message) {
    // The name becomes part of a path: one that could leave the receive folder, that no file
    // system takes, or that would be hidden (and could replace a dotfile) is refused before
    // anything else happens.
    if (!isSafeOfferedName(message.name) || message.name.startsWith('.')) {
        close(Outcome::BadName);
        return;
    }
    if (!m_session.takeOffer(message.size)) {
        close(Outcome::ConnectionError);
        return;
    }
    m_intruder.SwitchOff();
    TransferOffer offer;
    offer.name = fromWireName(message.name);
    offer.size = message.size;
    offer.address = m_connection->PeerAddressText();
    emit offered(offer);
}

void ClassicReceivingTransfer::accept(const QString& target) {
    if (m_ended || !m_session.hasOffer() || m_session.isAccepted() || !m_connection) {
        return;
    }
    m_target = target;
    m_folder = target.left(target.lastIndexOf(QLatin1Char('/')) + 1);
    m_session.accept();
    if (FileAccess::fileExists(m_target)) {
        requestNextBlock();  // continues the file from its length
        return;
    }
    // A file that cannot be created shows at the first block, which then cannot be opened.
    FileAccess::createEmpty(m_target);
    m_session.requestSent(0);
    m_connection->SendMessage(BlockRequest(0));
    m_started = true;
    emit started(0);
}

void ClassicReceivingTransfer::decline() {
    if (!m_ended) {
        close(Outcome::Declined);
    }
}

void ClassicReceivingTransfer::takeBlock(const ReceiverInput::Message& message) {
    const ReceiverSession::BlockVerdict verdict =
        m_session.takeBlock(message.index, message.data.size());
    if (!verdict.allowed) {
        close(Outcome::ConnectionError);
        return;
    }
    emit flowing();
    const qint64 index = message.index;
    const qint64 end = index * kBlockSize + verdict.writeCount;
    const QByteArrayView data = message.data.first(verdict.writeCount);
    if (writeBlock(index, data, end)) {
        return;
    }
    // Another copy holds the file's lock: the block waits for it, in a copy of its own (the
    // input's buffer moves on).
    const QByteArray kept = data.toByteArray();
    m_retry.run([this, index, kept, end] { return writeBlock(index, kept, end); },
                [this] { close(Outcome::CannotOpen); });
    m_resumeInput = m_retry.waiting();
}

// One attempt: false when the file could not be opened.
bool ClassicReceivingTransfer::writeBlock(qint64 index, QByteArrayView data, qint64 end) {
    if (m_ended || !m_connection) {
        return true;
    }
    qint64 lengthAfter = -1;
    const FileAccess::WriteResult written =
        m_files.writeBlock(m_target, index, data, LockedFile::Links::NoFollow, &lengthAfter);
    if (written == FileAccess::WriteResult::OpenFailed) {
        return false;
    }
    if (written == FileAccess::WriteResult::WriteFailed) {
        if (m_freeSpace(m_folder) > 0) {
            // Not for want of space (a size limit, a quota, an I/O error, a read-only file
            // system): asking for the same block again would fail the same way for ever.
            close(Outcome::CannotWrite);
            return true;
        }
        m_userPaused = true;
        lengthAfter = -1;
        emit diskFull();
    }
    emit progress(end, m_session.offeredSize());
    if (m_ended || !m_connection) {
        return true;
    }
    if (!m_userPaused) {
        // The write's own open told the length: the next request needs no open of its own.
        requestNextBlock(lengthAfter >= 0 ? std::optional<qint64>(lengthAfter) : std::nullopt);
    } else {
        m_connection->SendMessage(PauseNotice());
        emit pausedForUser();
    }
    takeWaitingInput();
    return true;
}

void ClassicReceivingTransfer::takePause() {
    if (!m_session.takePause()) {
        close(Outcome::ConnectionError);
        return;
    }
    emit peerPaused();
}

void ClassicReceivingTransfer::takeResume() {
    // A sender resumes only from its own pause; a resume that ends no pause is no message of
    // the protocol (and a flood of them would keep the program busy for nothing).
    if (!m_session.takeResume()) {
        close(Outcome::ConnectionError);
        return;
    }
    emit peerResumed();
    if (!m_userPaused) {
        requestNextBlock();
    }
}

void ClassicReceivingTransfer::pause() {
    m_userPaused = true;
}

void ClassicReceivingTransfer::resume() {
    m_userPaused = false;
    requestNextBlock();
}

void ClassicReceivingTransfer::requestNextBlock(std::optional<qint64> knownLength) {
    // One request outstanding at most: the block that answers it brings the next request,
    // so a resume while a request is unanswered sends nothing and no block travels twice.
    if (m_ended || !m_connection || dismissed() || !m_session.mayRequest() || m_retry.waiting()) {
        return;
    }
    if (knownLength) {
        requestFrom(knownLength);
        return;
    }
    m_retry.run(
        [this] {
            const std::optional<qint64> length =
                m_files.fileLength(m_target, LockedFile::Links::NoFollow);
            return length && requestFrom(length);
        },
        [this] { close(Outcome::CannotOpen); });
    m_resumeInput = m_retry.waiting();
}

bool ClassicReceivingTransfer::requestFrom(std::optional<qint64> length) {
    if (m_ended || !m_connection || !m_session.mayRequest()) {
        return true;
    }
    if (*length < m_session.offeredSize()) {
        const qint64 index = *length / kBlockSize;
        m_session.requestSent(index);
        char request[kMaxBlockRequest];
        m_connection->SendMessage(BlockRequestInto(request, index));
        if (!m_started) {
            m_started = true;
            emit started(index * kBlockSize);
        }
    } else {
        m_outcome = Outcome::Received;
        m_connection->SendMessage(FinishedNotice());
    }
    takeWaitingInput();
    return true;
}

void ClassicReceivingTransfer::cancel() {
    if (!m_ended) {
        close(Outcome::Cancelled);
    }
}

void ClassicReceivingTransfer::close(Outcome outcome) {
    if (!m_outcome) {
        m_outcome = outcome;
    }
    m_retry.stop();
    if (m_connection && m_connection->SocketHandle() != -1) {
        m_connection->CloseConnection();  // usually ends it at once, through connectionClosed
    }
    finish(*m_outcome);
}

void ClassicReceivingTransfer::connectionClosed() {
    finish(m_outcome.value_or(Outcome::PeerLeft));
}

void ClassicReceivingTransfer::connectionError(int& errorCode) {
    errorCode = 0;
    if (!m_outcome && !dismissed()) {
        m_outcome = Outcome::ConnectionError;
    }
    // A connection whose error was handled would stay open and counted: close it, which
    // ends the transfer.
    if (m_connection && m_connection->SocketHandle() != -1) {
        m_connection->CloseConnection();
    } else {
        connectionClosed();
    }
}

void ClassicReceivingTransfer::letGo() {
    m_ended = true;
    m_retry.stop();
    m_intruder.SwitchOff();
}

void ClassicReceivingTransfer::finish(Outcome outcome) {
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_retry.stop();
    m_intruder.SwitchOff();
    emit ended(outcome);
}
