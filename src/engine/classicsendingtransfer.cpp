#include "engine/classicsendingtransfer.h"

#include <exception>
#include <utility>

#include "net/clientendpoint.h"
#include "transfer/protocol.h"
#include "transfer/wirename.h"

ClassicSendingTransfer::ClassicSendingTransfer(const OutgoingFile& file, QObject* parent)
    : Transfer(parent),
      m_client(new TClientEndpoint(this)),
      m_file(file),
      m_wireName(toWireName(file.name)),
      m_retry(this) {
    m_client->setObjectName(QStringLiteral("Cliente"));
    m_client->OnConnect = [this](QObject*, TSocketConnection* c) { clientConnect(c); };
    m_client->OnRead = [this](QObject*, TSocketConnection* c) { clientRead(c); };
    m_client->OnDisconnect = [this](QObject*, TSocketConnection*) {
        finish(m_outcome.value_or(m_requested ? Outcome::PeerLeft : Outcome::Declined));
    };
    m_client->OnError = [this](QObject*, TSocketConnection* c, TErrorEvent, int& code) {
        clientError(c, code);
    };
}

ClassicSendingTransfer::~ClassicSendingTransfer() {
    m_ended = true;
    delete m_client;
    m_client = nullptr;
}

void ClassicSendingTransfer::start(const QString& address, quint16 port) {
    try {
        m_client->SetPort(port);
        m_client->SetAddress(address);
        m_client->SetActive(true);
    } catch (const std::exception&) {
        // No socket could be made for the address. A connect refused at once may have closed
        // it already, reporting a connection error: the address is the cause either way.
        m_outcome = Outcome::BadAddress;
        m_ended = false;
        finishQueued(Outcome::BadAddress);
    }
}

void ClassicSendingTransfer::clientConnect(TSocketConnection* socket) {
    emit connected();
    socket->SendMessage(OfferMessage(m_wireName, m_file.size));
}

void ClassicSendingTransfer::clientRead(TSocketConnection* socket) {
    if (m_retry.waiting()) {
        return;  // the file is locked: the input waits, unread, until it opens
    }
    handleReadEvent(
        socket, m_input, m_backlog,
        [socket, this] { return socket->IsConnected() && !m_ended && !m_retry.waiting(); },
        [&](const SenderInput::Message& message) { dispatch(message, socket); });
    emit activity();
}

void ClassicSendingTransfer::dispatch(const SenderInput::Message& message,
                                      TSocketConnection* socket) {
    switch (message.kind) {
        case SenderInput::Kind::Request:
            if (!m_requested) {
                m_requested = true;
                emit started(std::clamp<qint64>(message.index * kBlockSize, 0, m_file.size));
            }
            emit flowing();
            sendBlock(message.index);
            break;
        case SenderInput::Kind::Pause:
            emit peerPaused();
            break;
        case SenderInput::Kind::Busy:
            m_outcome = Outcome::Busy;
            break;
        case SenderInput::Kind::Finished:
            close(Outcome::Sent);
            break;
        case SenderInput::Kind::Bad:
        case SenderInput::Kind::NeedMore:
            socket->CloseConnection();
            break;
    }
}

void ClassicSendingTransfer::sendBlock(qint64 index) {
    m_retry.run([this, index] { return readAndSend(index); },
                [this] { close(Outcome::CannotOpen); });
    m_resumeInput = m_retry.waiting();
}

// One attempt: false when the file could not be opened (locked by another copy).
bool ClassicSendingTransfer::readAndSend(qint64 index) {
    if (m_ended) {
        return true;
    }
    LockedFile file = m_files.openWithRetries(m_file.path, LockedFile::Access::Read);
    if (!file.isOpen()) {
        return false;
    }
    const qint64 offset = index * kBlockSize;
    const qint64 count = file.readAt(offset, m_blockMessage.payload(), kBlockSize);
    file.close();

    TSocketConnection* connection = m_client->Connection();
    const qint64 end = std::clamp<qint64>((index + 1) * kBlockSize, 0, m_file.size);
    if (m_userPaused) {
        // The request is answered with a pause; the receiver asks again after the resume.
        connection->SendMessage(PauseNotice());
        m_pauseSent = true;
        emit pausedForUser();
        emit progress(end, m_file.size);
    } else if (count < 0 || (count == 0 && offset < m_file.size)) {
        // A read that fails, or finds nothing where the offered size says bytes are due (the
        // file shrank since it was offered), would make the receiver ask for this block
        // for ever.
        close(Outcome::CannotRead);
        return true;
    } else {
        connection->SendMessage(m_blockMessage.finish(index, count));
        emit progress(end, m_file.size);
    }
    // After waiting for the file: the input held back meanwhile is taken now.
    if (std::exchange(m_resumeInput, false) && !m_ended && connection->IsConnected()) {
        QMetaObject::invokeMethod(
            this, [this, connection] { clientRead(connection); }, Qt::QueuedConnection);
    }
    return true;
}

void ClassicSendingTransfer::pause() {
    m_userPaused = true;
}

void ClassicSendingTransfer::resume() {
    m_userPaused = false;
    if (m_pauseSent && !m_ended) {
        // Only a pause the receiver was told of is ended: a resume without one is no message
        // of the protocol.
        m_pauseSent = false;
        m_client->Connection()->SendMessage(ResumeNotice());
    }
}

void ClassicSendingTransfer::cancel() {
    if (!m_ended) {
        close(Outcome::Cancelled);
    }
}

void ClassicSendingTransfer::close(Outcome outcome) {
    if (!m_outcome) {
        m_outcome = outcome;
    }
    m_retry.stop();
    TSocketConnection* connection = m_client->Connection();
    if (connection->SocketHandle() != -1) {
        connection->CloseConnection();  // usually ends it at once, through the close event
    }
    finish(*m_outcome);
}

void ClassicSendingTransfer::clientError(TSocketConnection* socket, int& errorCode) {
    errorCode = 0;
    if (!m_outcome) {
        m_outcome = Outcome::ConnectionError;
    }
    // Close a socket the error left open (a failed connect, a reset) at once; the close ends
    // the send. Without a socket, end it directly.
    if (socket->SocketHandle() != -1) {
        socket->CloseConnection();
    } else {
        finish(*m_outcome);
    }
}

void ClassicSendingTransfer::finish(Outcome outcome) {
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_retry.stop();
    m_client->SetActive(false);
    emit ended(outcome);
}

void ClassicSendingTransfer::finishQueued(Outcome outcome) {
    QMetaObject::invokeMethod(
        this, [this, outcome] { finish(outcome); }, Qt::QueuedConnection);
}
