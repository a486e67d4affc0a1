#include "engine/lanereceivingsession.h"

#include <QTcpSocket>

#include "lane/closegently.h"

#include "lane/filesink.h"

namespace {

constexpr int kSilenceMs = 6000;
constexpr qint64 kReadSlice = 512 * 1024;  // read from the socket at most this much at once
constexpr int kProgressMs = 30;

}  // namespace

LaneReceivingSession::LaneReceivingSession(QTcpSocket* socket, bool busy, QObject* parent)
    : QObject(parent), m_socket(socket), m_busy(busy) {
    m_socket->setParent(this);
    bool v4 = false;
    const quint32 ip = m_socket->peerAddress().toIPv4Address(&v4);
    m_address = v4 ? QHostAddress(ip).toString() : m_socket->peerAddress().toString();
    // The kernel's buffer and one slice are all that is held of what the peer sends.
    m_socket->setReadBufferSize(kReadSlice);
    // What this end says is small and waited for (the acceptance, pauses, the result).
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(m_socket, &QTcpSocket::readyRead, this, &LaneReceivingSession::readPeer);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        if (m_phase == Phase::Checking) {
            return;  // the sender may close once it sent everything: the check goes on
        }
        finish(m_phase == Phase::Greeting || m_phase == Phase::Waiting ? End::Gone : End::Broken);
    });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
        if (m_phase != Phase::Checking) {
            finish(End::Broken);
        }
    });
    m_silence.setSingleShot(true);
    m_silence.setInterval(kSilenceMs);
    connect(&m_silence, &QTimer::timeout, this, [this] { finish(End::Gone); });
    m_silence.start();
    m_sinceProgress.start();
    QMetaObject::invokeMethod(this, &LaneReceivingSession::readPeer, Qt::QueuedConnection);
}

LaneReceivingSession::~LaneReceivingSession() {
    if (!m_ended && m_socket) {
        m_socket->abort();
    }
}

QString LaneReceivingSession::peerAddress() const {
    return m_address;
}

void LaneReceivingSession::send(const QByteArray& bytes) {
    if (m_socket->state() == QAbstractSocket::ConnectedState) {
        m_socket->write(bytes);
    }
}

void LaneReceivingSession::readPeer() {
    while (!m_ended) {
        if (m_phase == Phase::Greeting) {
            m_greeting += m_socket->read(lanewire::kGreetingSize - m_greeting.size());
            if (m_greeting.size() < lanewire::kGreetingSize) {
                return;
            }
            if (!lanewire::greetingVersion(m_greeting)) {
                finish(End::Gone);  // a stray client: dropped at once, nothing said
                return;
            }
            // Version 1 is all there is: a later peer offering more speaks 1 with us.
            send(lanewire::greeting());
            if (m_busy) {
                send(lanewire::frame(lanewire::Type::Busy));
                finish(End::Gone);
                return;
            }
            m_phase = Phase::Waiting;
            m_silence.start();
            continue;
        }
        // While the file is written slower than it comes, the peer waits in TCP's window.
        if (m_sink != nullptr && m_sink->full()) {
            return;
        }
        const auto read =
            m_reader.readFrom(*m_socket, kReadSlice, [this](auto type, const auto& payload) {
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

void LaneReceivingSession::handle(lanewire::Type type, const QByteArray& payload) {
    using lanewire::Type;
    switch (type) {
        case Type::Offer: {
            const auto offer = lanewire::parseOffer(payload);
            if (m_phase != Phase::Waiting || !offer) {
                finish(End::Broken);
                return;
            }
            if (!lanewire::isSafeName(offer->name)) {
                finish(End::BadName);
                return;
            }
            m_name = QString::fromUtf8(offer->name);
            m_size = offer->size;
            m_phase = Phase::Offered;
            m_silence.stop();
            emit offered();
            return;
        }
        case Type::Data:
            if (m_phase != Phase::Receiving) {
                finish(End::Broken);  // nothing is written before acceptance
                return;
            }
            takeData(payload);
            return;
        case Type::Pause:
            // A pause while paused is no message of the lane (and a flood of them would
            // keep the view busy for nothing).
            if (m_peerPaused || (m_phase != Phase::Receiving && m_phase != Phase::Hashing)) {
                finish(End::Broken);
                return;
            }
            m_peerPaused = true;
            emit peerPaused();
            return;
        case Type::Resume:
            if (!m_peerPaused) {
                finish(End::Broken);  // a resume that ends no pause
                return;
            }
            m_peerPaused = false;
            emit peerResumed();
            return;
        case Type::Cancel:
            finish(End::Cancelled);
            return;
        case Type::Mismatch:
            if (m_phase != Phase::Receiving) {
                finish(End::Broken);
                return;
            }
            finish(End::Refused);
            return;
        case Type::Done:
            if (m_phase != Phase::Receiving || m_received != m_size) {
                finish(End::Broken);
                return;
            }
            m_doneHash = payload;
            m_phase = Phase::Checking;
            m_sink->finish();
            return;
        default:  // frames only a receiver sends
            finish(End::Broken);
            return;
    }
}

void LaneReceivingSession::takeData(const QByteArray& payload) {
    if (payload.size() > m_size - m_received) {
        finish(End::Broken);  // past the size offered
        return;
    }
    m_received += payload.size();
    m_sink->put(payload);
    if (m_sinceProgress.elapsed() >= kProgressMs || m_received == m_size) {
        m_sinceProgress.restart();
        emit progress(m_received, m_size);
    }
}

void LaneReceivingSession::accept(const QString& target) {
    if (m_phase != Phase::Offered) {
        return;
    }
    m_phase = Phase::Hashing;
    m_sink = new FileSink(target, this);
    connect(m_sink, &FileSink::prefixHashed, this, &LaneReceivingSession::prefixHashed);
    connect(m_sink, &FileSink::drained, this, &LaneReceivingSession::readPeer);
    connect(m_sink, &FileSink::finished, this, &LaneReceivingSession::sinkFinished);
    connect(m_sink, &FileSink::failed, this, [this](bool opening) {
        if (opening) {
            send(lanewire::frame(lanewire::Type::Decline));
            finish(End::OpenFailed);
            return;
        }
        send(lanewire::result(lanewire::ResultCode::WriteFailed));
        finish(End::WriteFailed);
    });
    connect(m_sink, &FileSink::diskFull, this, [this] {
        m_diskFull = true;
        pauseByUser();
        emit diskFull();
    });
    // The sink continues the file from its length: what is there is kept, and hashed for the
    // sender to check.
    m_sink->start(m_size);
}

void LaneReceivingSession::prefixHashed(qint64 offset, const QByteArray& hash) {
    if (m_phase != Phase::Hashing) {
        return;
    }
    m_phase = Phase::Receiving;
    m_received = offset;
    send(lanewire::accept(offset, hash));
    if (m_userPaused) {
        send(lanewire::frame(lanewire::Type::Pause));
    }
    emit started();
    emit progress(m_received, m_size);
}

void LaneReceivingSession::sinkFinished(const QByteArray& hash) {
    if (m_phase != Phase::Checking) {
        return;
    }
    const bool same = hash == m_doneHash;
    send(lanewire::result(same ? lanewire::ResultCode::Ok : lanewire::ResultCode::HashMismatch));
    finish(same ? End::Received : End::Mismatch);
}

void LaneReceivingSession::decline() {
    if (m_phase == Phase::Offered) {
        send(lanewire::frame(lanewire::Type::Decline));
        finish(End::Declined);
    }
}

void LaneReceivingSession::pauseByUser() {
    if (m_userPaused) {
        return;
    }
    m_userPaused = true;
    // Also once the sender has sent everything: the file may still be being written (a
    // full disk shows there), and the sender shows the pause as the classic path does.
    if (m_phase == Phase::Receiving || m_phase == Phase::Checking) {
        send(lanewire::frame(lanewire::Type::Pause));
        emit pausedForUser();
    }
}

void LaneReceivingSession::resumeByUser() {
    if (!m_userPaused) {
        return;
    }
    m_userPaused = false;
    if (m_diskFull) {
        m_diskFull = false;
        m_sink->retry();
    }
    if (m_phase == Phase::Receiving || m_phase == Phase::Checking) {
        send(lanewire::frame(lanewire::Type::Resume));
    }
}

void LaneReceivingSession::cancel() {
    if (m_ended) {
        return;
    }
    send(lanewire::frame(lanewire::Type::Cancel));
    finish(End::Cancelled);
}

void LaneReceivingSession::finish(End end) {
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_phase = Phase::Over;
    m_silence.stop();
    // What is still to say (busy, a result, a cancel) goes out before the close: the
    // socket outlives this session until it is closed.
    closeGently(m_socket);
    emit ended(end);
}
