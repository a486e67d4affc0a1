#include "engine/lanesendingsession.h"

#include <QSslSocket>

#include "engine/lanesendingentries.h"
#include "identity/lanetls.h"
#include "lane/closegently.h"
#include "lane/filesource.h"

namespace {

// Bytes handed to the socket beyond what the kernel took, before and after encryption: one
// chunk, so that a pause stops the stream within a chunk of what the kernel already holds
// and the file is never encrypted into memory ahead of the network.
constexpr qint64 kWriteAhead = 256 * 1024;
constexpr int kProgressMs = 30;

}  // namespace

LaneSendingSession::LaneSendingSession(const OutgoingFile& file, const Identity& identity,
                                       QObject* parent)
    : QObject(parent), m_file(file), m_identity(identity) {
    m_greetingTimer.setSingleShot(true);
    m_greetingTimer.setInterval(kGreetingMs);
    connect(&m_greetingTimer, &QTimer::timeout, this, &LaneSendingSession::giveUp);
    m_sinceProgress.start();
}

LaneSendingSession::~LaneSendingSession() {
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void LaneSendingSession::start(const QHostAddress& address, quint16 port) {
    // A peer that does not speak TLS, or fails the handshake, is closed by the socket's guard
    // before a byte of the lane is written: that reads as "no lane" below.
    // The peer check runs inside the handshake: a receiver it refuses never sees this copy's
    // certificate (TLS 1.3 sends the client's only after the server's was accepted).
    const auto decide = [this](const QString& seen) {
        m_peerFingerprint = seen;
        m_peerRefused = m_peerCheck && !m_peerCheck(seen);
        return !m_peerRefused;
    };
    m_socket = lanetls::clientSocket(m_identity, decide, this);
    m_socket->setReadBufferSize(64 * 1024);
    connect(m_socket, &QSslSocket::connected, this, [this] {
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_greetingTimer.start(kHandshakeMs);
    });
    connect(m_socket, &QSslSocket::encrypted, this, [this] {
        m_peerFingerprint = lanetls::peerFingerprint(*m_socket);
        m_greetingTimer.start(kGreetingMs);
        send(lanewire::greeting());
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &LaneSendingSession::readPeer);
    // bytesWritten() comes when bytes are encrypted, encryptedBytesWritten() when they leave:
    // the pump runs on both, or it would wait for good on bytes already gone.
    connect(m_socket, &QTcpSocket::bytesWritten, this, &LaneSendingSession::pump);
    connect(m_socket, &QSslSocket::encryptedBytesWritten, this, &LaneSendingSession::pump);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
        if (m_phase == Phase::Connecting) {
            giveUp();  // refused or failed: classic at once
            return;
        }
        finish(End::Broken);
    });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        if (m_phase == Phase::Connecting) {
            giveUp();
            return;
        }
        finish(End::Broken);
    });
    m_greetingTimer.start();
    m_socket->connectToHostEncrypted(address.toString(), port);
}

void LaneSendingSession::giveUp() {
    if (m_phase != Phase::Connecting || m_ended) {
        return;
    }
    if (m_peerRefused) {
        // A lane answered, with another identity than the one wanted: that is no missing
        // lane, and the classic port must not take over.
        finish(End::IdentityRefused);
        return;
    }
    m_ended = true;
    m_phase = Phase::Over;
    m_greetingTimer.stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    emit unavailable();
}

void LaneSendingSession::send(const QByteArray& bytes) {
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState &&
        m_socket->isEncrypted()) {
        m_socket->write(bytes);
    }
}

void LaneSendingSession::readPeer() {
    if (m_phase == Phase::Connecting) {
        m_greeting += m_socket->read(lanewire::kGreetingSize - m_greeting.size());
        if (m_greeting.size() < lanewire::kGreetingSize) {
            return;
        }
        const std::optional<quint16> version = lanewire::greetingVersion(m_greeting);
        // Another protocol on that port, or a lane that takes one file per offer only.
        if (!version || (m_entries && *version < lanewire::kEntriesVersion)) {
            giveUp();
            return;
        }
        m_greetingTimer.stop();
        m_phase = Phase::Offered;
        emit connected();
        if (m_entries) {
            offerEntries();
        } else {
            send(lanewire::offer(m_file.name.toUtf8(), m_file.size, m_senderName.toUtf8()));
        }
    }
    while (!m_ended) {
        const auto read =
            m_reader.readFrom(*m_socket, 64 * 1024, [this](auto type, const auto& payload) {
                handle(type, payload);
                return !m_ended;
            });
        if (read == lanewire::FrameReader::Read::Nothing) {
            return;
        }
        if (read == lanewire::FrameReader::Read::Broken) {
            finish(End::Broken);
        }
    }
}

void LaneSendingSession::handle(lanewire::Type type, const QByteArray& payload) {
    using lanewire::Type;
    if (m_entries && handleEntries(type, payload)) {
        return;
    }
    switch (type) {
        case Type::Accept:
            accepted(payload);
            return;
        case Type::Start:
            startAt(payload);
            return;
        case Type::Decline:
            finish(m_phase == Phase::Offered ? End::Declined : End::Broken);
            return;
        case Type::Busy:
            finish(m_phase == Phase::Offered ? End::Busy : End::Broken);
            return;
        case Type::Pause:
            takePause();
            return;
        case Type::Resume:
            if (!m_peerPaused) {
                finish(End::Broken);
                return;
            }
            m_peerPaused = false;
            emit peerResumed();
            pump();
            return;
        case Type::Cancel:
            finish(End::Cancelled);
            return;
        case Type::Result: {
            if (!m_doneSent) {
                finish(payload.at(0) == char(lanewire::ResultCode::WriteFailed) ? End::WriteFailed
                                                                                : End::Broken);
                return;
            }
            const auto code = static_cast<lanewire::ResultCode>(payload.at(0));
            finish(code == lanewire::ResultCode::Ok             ? End::Sent
                   : code == lanewire::ResultCode::HashMismatch ? End::Mismatch
                                                                : End::WriteFailed);
            return;
        }
        default:
            finish(End::Broken);
            return;
    }
}

void LaneSendingSession::accepted(const QByteArray& payload) {
    const auto length = lanewire::parseOffset(payload);
    if (m_phase != Phase::Offered || !length || *length > m_file.size) {
        finish(End::Broken);
        return;
    }
    m_phase = Phase::Proving;
    m_prefix = *length;
    m_source = new FileSource(m_file.path, m_file.size, this);
    // The source posts its results to itself: none of them outlives it (finish() deletes
    // it), and each checks that the send is still under way.
    connect(m_source, &FileSource::prefixHashed, this, [this](const QByteArray& hash) {
        if (m_ended) {
            return;
        }
        m_proofSent = true;
        send(lanewire::frame(lanewire::Type::Proof, hash));
    });
    connect(m_source, &FileSource::chunkReady, this, &LaneSendingSession::pump);
    connect(m_source, &FileSource::finished, this, [this](const QByteArray& hash) {
        if (m_ended) {
            return;
        }
        m_hash = hash;
        pump();
    });
    connect(m_source, &FileSource::failed, this, [this] {
        if (m_ended) {
            return;
        }
        send(lanewire::frame(lanewire::Type::Cancel));
        finish(End::CannotRead);
    });
    m_source->start(m_prefix);
}

void LaneSendingSession::startAt(const QByteArray& payload) {
    // The receiver goes on after the proven prefix, or takes the file from its first byte
    // into a new file: nothing else.
    const auto offset = lanewire::parseOffset(payload);
    if (m_phase != Phase::Proving || !m_proofSent || !offset ||
        (*offset != m_prefix && *offset != 0)) {
        finish(End::Broken);
        return;
    }
    m_phase = Phase::Streaming;
    m_sent = *offset;
    m_source->streamFrom(*offset);
    emit started();
    emit progress(m_sent, m_file.size);
    if (m_userPaused) {
        // Paused before the stream began: the receiver learns it now.
        send(lanewire::frame(lanewire::Type::Pause));
        emit pausedForUser();
    }
    pump();
}

void LaneSendingSession::takePause() {
    // Also once everything is sent: the receiver may still be writing it (and find its disk
    // full). A pause while paused is no message of the lane, and pauses faster than a
    // person clicks are a flood.
    if (m_peerPaused || !m_pauseRate.allow() ||
        (m_phase != Phase::Streaming && m_phase != Phase::Proving && m_phase != Phase::Finishing)) {
        finish(End::Broken);
        return;
    }
    m_peerPaused = true;
    emit peerPaused();
}

bool LaneSendingSession::streamingAllowed() const {
    return m_phase == Phase::Streaming && !m_ended && !m_userPaused && !m_peerPaused && m_socket &&
           m_source != nullptr;
}

void LaneSendingSession::pump() {
    if (m_entries) {
        pumpEntries();
        return;
    }
    if (!streamingAllowed()) {
        return;
    }
    while (m_sent < m_file.size &&
           m_socket->bytesToWrite() + m_socket->encryptedBytesToWrite() < kWriteAhead) {
        const QByteArray chunk = m_source->take();
        if (chunk.isEmpty()) {
            break;
        }
        m_socket->write(lanewire::dataHeader(chunk.size()));
        m_socket->write(chunk);
        m_sent += chunk.size();
    }
    if (m_sinceProgress.elapsed() >= kProgressMs || m_sent == m_file.size) {
        m_sinceProgress.restart();
        emit progress(m_sent, m_file.size);
    }
    if (m_sent == m_file.size && !m_hash.isEmpty() && !m_doneSent) {
        m_doneSent = true;
        m_phase = Phase::Finishing;
        send(lanewire::done(m_hash));
    }
}

void LaneSendingSession::pauseByUser() {
    if (m_userPaused) {
        return;
    }
    m_userPaused = true;
    if (m_phase == Phase::Streaming) {
        send(lanewire::frame(lanewire::Type::Pause));
        emit pausedForUser();
    }
}

void LaneSendingSession::resumeByUser() {
    if (!m_userPaused) {
        return;
    }
    m_userPaused = false;
    if (m_phase == Phase::Streaming) {
        send(lanewire::frame(lanewire::Type::Resume));
        pump();
    }
}

void LaneSendingSession::cancel() {
    if (m_ended) {
        return;
    }
    send(lanewire::frame(lanewire::Type::Cancel));
    finish(End::Cancelled);
}

void LaneSendingSession::finish(End end) {
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_phase = Phase::Over;
    m_greetingTimer.stop();
    delete m_source;  // stops its thread; what it posted goes with it
    m_source = nullptr;
    if (m_entries && m_entries->source) {
        // Later, and silenced: finish() may run inside one of the reader's own signals.
        m_entries->source->disconnect(this);
        m_entries->source.release()->deleteLater();
    }
    if (m_socket) {
        closeGently(m_socket);
    }
    emit ended(end);
}
