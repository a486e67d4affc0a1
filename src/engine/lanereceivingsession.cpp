#include "engine/lanereceivingsession.h"

#include <QTcpSocket>

#include "engine/lanereceivingentries.h"
#include "lane/closegently.h"
#include "lane/offeredname.h"

namespace {

// From the connection to the offer, all told.
constexpr int kBeforeOfferMs = 6000;
// After acceptance, while neither side has paused: a peer silent this long is gone.
constexpr int kSilenceMs = 60000;
// The sender hashes its first K bytes before its proof: one more second per 64 MiB of them.
constexpr qint64 kProofBytesPerSecond = 64 * 1024 * 1024;
constexpr qint64 kReadSlice = 512 * 1024;  // read from the socket at most this much at once
constexpr int kProgressMs = 30;
constexpr int kBusyLingerMs = 500;

}  // namespace

LaneReceivingSession::LaneReceivingSession(QTcpSocket* socket, bool busy, QObject* parent)
    : QObject(parent), m_socket(socket), m_busy(busy) {
    m_socket->setParent(this);
    bool v4 = false;
    const quint32 ip = m_socket->peerAddress().toIPv4Address(&v4);
    m_address = v4 ? QHostAddress(ip).toString() : m_socket->peerAddress().toString();
    // What this end says is small and waited for (the acceptance, pauses, the result).
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_silence.setSingleShot(true);
    if (m_busy) {
        // Told at once and let go as fast as the classic port lets its extra peers go,
        // without waiting for its greeting: a flood of peers holds no descriptor for long.
        m_phase = Phase::Over;
        m_ended = true;
        m_socket->write(lanewire::greeting() + lanewire::frame(lanewire::Type::Busy));
        closeGently(m_socket, kBusyLingerMs);
        return;
    }
    // The kernel's buffer and one slice are all that is held of what the peer sends.
    m_socket->setReadBufferSize(kReadSlice);
    connect(m_socket, &QTcpSocket::readyRead, this, &LaneReceivingSession::readPeer);
    connect(m_socket, &QTcpSocket::disconnected, this, &LaneReceivingSession::peerClosed);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::RemoteHostClosedError) {
            return;  // disconnected() follows; what the peer sent before is still read
        }
        if (m_phase != Phase::Checking) {
            finish(End::Broken);
        }
    });
    connect(&m_silence, &QTimer::timeout, this, [this] {
        finish(m_phase == Phase::Greeting || m_phase == Phase::Waiting ? End::Gone : End::Broken);
    });
    m_silence.start(kBeforeOfferMs);
    m_sinceProgress.start();
    QMetaObject::invokeMethod(this, &LaneReceivingSession::readPeer, Qt::QueuedConnection);
}

LaneReceivingSession::~LaneReceivingSession() {
    stopSink();
    if (!m_ended && m_socket) {
        m_socket->abort();
    }
}

QString LaneReceivingSession::peerAddress() const {
    return m_address;
}

void LaneReceivingSession::send(const QByteArray& bytes) {
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState) {
        m_socket->write(bytes);
    }
}

void LaneReceivingSession::watchSilence() {
    switch (m_phase) {
        case Phase::Proving: {
            const qint64 ms = kSilenceMs + m_prefix / kProofBytesPerSecond * 1000;
            m_silence.start(
                static_cast<int>(std::min<qint64>(ms, std::numeric_limits<int>::max())));
            return;
        }
        case Phase::Receiving:
            if (m_userPaused || m_peerPaused) {
                m_silence.stop();  // a pause holds as long as the one who paused wants
            } else {
                m_silence.start(kSilenceMs);
            }
            return;
        case Phase::Greeting:
        case Phase::Waiting:
            return;  // one limit from the connection to the offer
        default:
            m_silence.stop();  // the user or the disk is awaited, not the peer
            return;
    }
}

void LaneReceivingSession::readPeer() {
    while (!m_ended && m_socket) {
        if (m_phase == Phase::Greeting) {
            m_greeting += m_socket->read(lanewire::kGreetingSize - m_greeting.size());
            if (m_greeting.size() < lanewire::kGreetingSize) {
                break;
            }
            if (!lanewire::greetingVersion(m_greeting) ||
                *lanewire::greetingVersion(m_greeting) < lanewire::kOldestVersion) {
                finish(End::Gone);  // a stray client or an older lane: dropped, nothing said
                return;
            }
            // The version chosen: the sender's, at most this end's. A version 2 sender offers
            // one file at a time (or pairs), and the frames of several entries are not its.
            m_version = std::min(*lanewire::greetingVersion(m_greeting), lanewire::kVersion);
            send(lanewire::greeting(m_version));
            m_phase = Phase::Waiting;
            continue;
        }
        // While the file is written slower than it comes, the peer waits in TCP's window;
        // while the user has paused, it waits there too, whatever it does with the pause.
        if (holdingInput()) {
            return;
        }
        const auto read =
            m_reader.readFrom(*m_socket, kReadSlice, [this](auto type, const auto& payload) {
                handle(type, payload);
                return !m_ended;
            });
        if (read == lanewire::FrameReader::Read::Nothing) {
            break;
        }
        if (read == lanewire::FrameReader::Read::Broken) {
            finish(End::Broken);
            return;
        }
        if (m_phase == Phase::Receiving || m_phase == Phase::Proving) {
            watchSilence();
        }
    }
    endIfPeerGone();
}

void LaneReceivingSession::peerClosed() {
    // A sender may close (or only shut its side) once it sent everything: what it sent is
    // read and written first.
    m_peerGone = true;
    readPeer();
    endIfPeerGone();
}

void LaneReceivingSession::endIfPeerGone() {
    if (!m_peerGone || m_ended || m_phase == Phase::Checking) {
        return;
    }
    if (m_phase == Phase::Receiving && m_socket && m_socket->bytesAvailable() > 0) {
        return;  // still to read, once the writer or the user lets it
    }
    finish(m_phase == Phase::Greeting || m_phase == Phase::Waiting ? End::Gone : End::Broken);
}

bool LaneReceivingSession::holdingInput() const {
    const bool writing = m_sink != nullptr || (m_entries && m_entries->sink);
    const bool full = m_sink != nullptr ? m_sink->full()
                                        : (m_entries && m_entries->sink && m_entries->sink->full());
    return writing && (full || (m_userPaused && m_phase == Phase::Receiving));
}

void LaneReceivingSession::handle(lanewire::Type type, const QByteArray& payload) {
    using lanewire::Type;
    if (m_version >= lanewire::kEntriesVersion && handleEntries(type, payload)) {
        return;
    }
    switch (type) {
        case Type::Offer: {
            const auto offer = lanewire::parseOffer(payload);
            if (m_phase != Phase::Waiting || !offer) {
                finish(End::Broken);
                return;
            }
            const std::optional<QString> name = offeredFileName(offer->name);
            if (!name) {
                finish(End::BadName);
                return;
            }
            m_name = *name;
            m_senderName = offer->senderName ? shownPeerName(*offer->senderName) : QString();
            m_size = offer->size;
            m_phase = Phase::Offered;
            m_silence.stop();
            emit offered();
            return;
        }
        case Type::Pair:
            if (m_phase != Phase::Waiting) {
                finish(End::Broken);
                return;
            }
            handOverForPairing(payload);
            return;
        case Type::Proof:
            if (m_phase != Phase::Proving) {
                finish(End::Broken);
                return;
            }
            m_phase = Phase::Starting;
            watchSilence();
            m_sink->prove(payload);
            return;
        case Type::Data:
            if (m_phase != Phase::Receiving) {
                finish(End::Broken);  // nothing is written before the start is agreed
                return;
            }
            takeData(payload);
            return;
        case Type::Pause:
            // A pause while paused is no message of the lane, and pauses faster than a
            // person clicks are a flood.
            if (m_peerPaused || !m_pauseRate.allow() ||
                (m_phase != Phase::Receiving && m_phase != Phase::Proving &&
                 m_phase != Phase::Starting)) {
                finish(End::Broken);
                return;
            }
            m_peerPaused = true;
            watchSilence();
            emit peerPaused();
            return;
        case Type::Resume:
            if (!m_peerPaused) {
                finish(End::Broken);  // a resume that ends no pause
                return;
            }
            m_peerPaused = false;
            watchSilence();
            emit peerResumed();
            return;
        case Type::Cancel:
            finish(End::Cancelled);
            return;
        case Type::Done:
            if (m_phase != Phase::Receiving || m_received != m_size) {
                finish(End::Broken);
                return;
            }
            m_doneHash = payload;
            m_phase = Phase::Checking;
            watchSilence();
            m_sink->finish();
            return;
        default:  // frames only a receiver sends
            finish(End::Broken);
            return;
    }
}

void LaneReceivingSession::handOverForPairing(const QByteArray& payload) {
    // The frame reader holds nothing past this frame (it reads headers alone and payloads
    // to their end), so the socket carries on where this session stopped.
    m_ended = true;
    m_phase = Phase::Over;
    m_silence.stop();
    QTcpSocket* socket = m_socket;
    socket->disconnect(this);
    socket->setParent(nullptr);
    m_socket = nullptr;
    emit pairingAsked(socket, payload);
}

void LaneReceivingSession::takeData(const QByteArray& payload) {
    if (payload.size() > m_size - m_received ||
        (payload.size() < lanewire::kMinData && payload.size() != m_size - m_received)) {
        // Past the size offered, or a small frame that does not end the file: the cost of
        // a frame is never paid for a few bytes.
        finish(End::Broken);
        return;
    }
    m_received += payload.size();
    m_sink->put(payload);
    if (m_sinceProgress.elapsed() >= kProgressMs || m_received == m_size) {
        m_sinceProgress.restart();
        emit progress(m_received, m_size);
    }
}

void LaneReceivingSession::accept(const QString& folder, const QString& name) {
    if (m_phase != Phase::Offered) {
        return;
    }
    if (m_kind != Kind::File) {
        acceptEntries(folder);
        return;
    }
    m_phase = Phase::Measuring;
    m_path = folder + name;
    m_sink = new FileSink(folder, name, this);
    // The sink posts its results to itself: stopped in finish(), none arrives later.
    connect(m_sink, &FileSink::measured, this, &LaneReceivingSession::measured);
    connect(m_sink, &FileSink::ready, this, &LaneReceivingSession::ready);
    connect(m_sink, &FileSink::drained, this, &LaneReceivingSession::readPeer);
    connect(m_sink, &FileSink::finished, this, &LaneReceivingSession::sinkFinished);
    connect(m_sink, &FileSink::failed, this, &LaneReceivingSession::sinkFailed);
    connect(m_sink, &FileSink::diskFull, this, [this] {
        if (m_ended) {
            return;
        }
        m_diskFull = true;
        pauseByUser();
        emit diskFull();
    });
    m_sink->start(m_size);
}

void LaneReceivingSession::measured(qint64 length) {
    if (m_ended || m_phase != Phase::Measuring) {
        return;
    }
    m_prefix = length;
    m_phase = Phase::Proving;
    send(lanewire::accept(length));
    if (m_userPaused) {
        send(lanewire::frame(lanewire::Type::Pause));
    }
    watchSilence();
    readPeer();  // a proof that came with the offer's bytes
}

void LaneReceivingSession::ready(qint64 offset, const QString& path) {
    if (m_ended || m_phase != Phase::Starting) {
        return;
    }
    m_phase = Phase::Receiving;
    m_received = offset;
    send(lanewire::start(offset));
    if (path != m_path) {
        m_path = path;
        emit savedUnderOtherName(path);
    }
    watchSilence();
    emit started();
    emit progress(m_received, m_size);
    readPeer();
}

void LaneReceivingSession::sinkFailed(FileSink::Failure failure) {
    if (m_ended) {
        return;
    }
    if (failure == FileSink::Failure::Opening) {
        send(lanewire::frame(lanewire::Type::Decline));
        finish(End::OpenFailed);
        return;
    }
    send(lanewire::result(lanewire::ResultCode::WriteFailed));
    finish(End::WriteFailed);
}

void LaneReceivingSession::sinkFinished(const QByteArray& hash) {
    if (m_ended || m_phase != Phase::Checking) {
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
    if (m_userPaused || m_ended) {
        return;
    }
    m_userPaused = true;
    // Also once the sender has sent everything: the file may still be being written (a
    // full disk shows there), and the sender shows the pause as the classic path does.
    if (m_phase == Phase::Proving || m_phase == Phase::Starting) {
        send(lanewire::frame(lanewire::Type::Pause));
    }
    if (m_phase == Phase::Receiving || m_phase == Phase::Checking) {
        send(lanewire::frame(lanewire::Type::Pause));
        emit pausedForUser();
    }
    watchSilence();
}

void LaneReceivingSession::resumeByUser() {
    if (!m_userPaused || m_ended) {
        return;
    }
    m_userPaused = false;
    if (m_diskFull) {
        m_diskFull = false;
        if (m_sink != nullptr) {
            m_sink->retry();
        } else if (m_entries && m_entries->sink) {
            m_entries->sink->retry();
        }
    }
    if (m_phase == Phase::Proving || m_phase == Phase::Starting || m_phase == Phase::Receiving ||
        m_phase == Phase::Checking) {
        send(lanewire::frame(lanewire::Type::Resume));
    }
    watchSilence();
    // What the peer sent meanwhile waited in the socket.
    QMetaObject::invokeMethod(this, &LaneReceivingSession::readPeer, Qt::QueuedConnection);
}

void LaneReceivingSession::cancel() {
    if (m_ended) {
        return;
    }
    send(lanewire::frame(lanewire::Type::Cancel));
    finish(End::Cancelled);
}

void LaneReceivingSession::stopSink() {
    if (m_entries && m_entries->sink) {
        m_entries->sink->stop();
        m_entries->sink->disconnect(this);
        m_entries->sink.release()->deleteLater();
    }
    if (m_sink == nullptr) {
        return;
    }
    // Stops a long hash of a partial file at once; nothing it found reaches us any more.
    m_sink->stop();
    m_sink->disconnect(this);
    m_sink->deleteLater();
    m_sink = nullptr;
}

void LaneReceivingSession::finish(End end) {
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_phase = Phase::Over;
    m_silence.stop();
    stopSink();
    // What is still to say (a result, a cancel) goes out before the close: the socket
    // outlives this session until it is closed.
    if (m_socket) {
        closeGently(m_socket);
    }
    emit ended(end);
}
