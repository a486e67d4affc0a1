#include "localsend/connection.h"

#include <QTcpSocket>

#include <utility>

#include "lane/closegently.h"
#include "localsend/httpresponse.h"
#include "localsend/receiver.h"
#include "localsend/upload.h"

namespace localsend {

Connection::Connection(QTcpSocket* socket, bool secure, const QString& clientFingerprint,
                       Receiver& receiver, QObject* parent)
    : QObject(parent),
      m_socket(socket),
      m_receiver(&receiver),
      m_secure(secure),
      m_fingerprint(clientFingerprint) {
    m_socket->setParent(this);
    m_socket->setReadBufferSize(kReadBuffer);
    m_address = m_socket->peerAddress();
    bool ok = false;
    const quint32 v4 = m_address.toIPv4Address(&ok);
    if (ok) {
        m_address = QHostAddress(v4);
    }
    m_idle.setSingleShot(true);
    m_idle.setInterval(kIdleMs);
    connect(&m_idle, &QTimer::timeout, this, &Connection::close);
    connect(m_socket, &QTcpSocket::readyRead, this, &Connection::readInput);
    connect(m_socket, &QTcpSocket::disconnected, this, &Connection::peerClosed);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            peerClosed();
        }
    });
    m_idle.start();
    readLater();
}

Connection::~Connection() {
    m_phase = Phase::Closed;
}

bool Connection::open() const {
    return m_socket != nullptr && m_socket->isOpen();
}

void Connection::readLater() {
    QMetaObject::invokeMethod(this, &Connection::readInput, Qt::QueuedConnection);
}

QByteArray Connection::nextInput() {
    if (!m_input.isEmpty()) {
        QByteArray taken = m_input.first(qMin<qsizetype>(m_input.size(), kReadChunk));
        m_input.remove(0, taken.size());
        return taken;
    }
    // A reset closes the socket, and what it held is gone with it.
    return open() ? m_socket->read(kReadChunk) : QByteArray();
}

qsizetype Connection::takeBody(QByteArrayView input, QByteArray& out) {
    if (m_request.chunked) {
        return m_chunks.feed(input, out);
    }
    const qsizetype n = qsizetype(qMin<qint64>(m_bodyLeft, input.size()));
    out.append(input.first(n));
    m_bodyLeft -= n;
    return n;
}

bool Connection::bodyDone() const {
    return m_request.chunked ? m_chunks.done() : m_bodyLeft == 0;
}

bool Connection::bodyBad() const {
    return m_request.chunked && m_chunks.bad();
}

void Connection::readInput() {
    if (m_reading) {
        m_readAgain = true;
        return;
    }
    const QPointer<Connection> self(this);
    m_reading = true;
    do {
        m_readAgain = false;
        while (self && m_phase != Phase::Closed && m_phase != Phase::Waiting) {
            if (m_phase == Phase::Head) {
                const HttpLimits limits;
                const qsizetype room = limits.maxHead + 8 - m_input.size();
                if (room > 0 && open()) {
                    m_input.append(m_socket->read(room));
                }
                const HttpHead head = parseHttpHead(m_input, limits);
                if (head.status == HttpHead::Status::Incomplete) {
                    if (m_peerGone) {
                        close();
                    }
                    break;
                }
                m_idle.start();
                if (head.status == HttpHead::Status::Bad) {
                    answer(head.errorCode, {}, true);
                    break;
                }
                m_input.remove(0, head.consumed);
                m_request = head.request;
                dispatch();
                continue;
            }
            if (m_phase == Phase::Upload && (m_upload.isNull() || m_uploadHeld)) {
                if (m_upload.isNull()) {
                    close();  // the session ended under the upload
                }
                break;
            }
            const QByteArray chunk = nextInput();
            if (chunk.isEmpty()) {
                if (m_peerGone) {
                    if (m_upload) {
                        m_upload->abort();
                    }
                    close();
                }
                break;
            }
            m_idle.start();
            QByteArray data;
            const qsizetype used = takeBody(chunk, data);
            if (used < chunk.size()) {
                m_input.prepend(chunk.sliced(used));
            }
            if (bodyBad()) {
                if (m_upload) {
                    m_upload->abort();
                }
                answer(400, {}, true);
                break;
            }
            if (m_phase == Phase::Json) {
                m_body += data;
                if (m_body.size() > m_bodyLimit) {
                    answer(413, {}, true);
                    break;
                }
                if (bodyDone()) {
                    m_phase = Phase::Waiting;
                    m_idle.stop();
                    const QByteArray body = std::exchange(m_body, QByteArray());
                    if (m_receiver) {
                        m_receiver->handleBody(m_request, body, *this);
                    } else {
                        close();
                    }
                }
                continue;
            }
            if (m_phase == Phase::Drop) {
                m_dropped += data.size();
                if (m_dropped > kMostDropped) {
                    answer(m_pendingStatus, m_pendingBody, true);
                    break;
                }
                if (bodyDone()) {
                    answer(m_pendingStatus, m_pendingBody, !m_request.keepAlive);
                }
                continue;
            }
            // An upload's body.
            Upload::Flow flow = Upload::Flow::More;
            if (!data.isEmpty()) {
                flow = m_upload->write(data);
            }
            if (flow == Upload::Flow::Refused) {
                m_phase = Phase::Waiting;  // its answer comes from the upload
                m_idle.stop();
                break;
            }
            if (bodyDone()) {
                m_phase = Phase::Waiting;
                m_idle.stop();
                m_upload->finish();
                break;
            }
            if (flow == Upload::Flow::Full) {
                // Held back by this side (the disk, or the user's pause): no time limit.
                m_uploadHeld = true;
                m_idle.stop();
                break;
            }
        }
    } while (self && m_readAgain);
    if (self) {
        m_reading = false;
    }
}

void Connection::dispatch() {
    m_body.clear();
    m_dropped = 0;
    m_chunks = ChunkedDecoder();
    m_bodyLeft = qMax<qint64>(0, m_request.contentLength);
    const bool hasBody = m_request.chunked || m_bodyLeft > 0;
    if (!m_receiver) {
        close();
        return;
    }
    Receiver::Route route = m_receiver->route(m_request, *this);
    switch (route.kind) {
        case Receiver::Route::Kind::Answer:
            if (!hasBody) {
                answer(route.status, route.body, !m_request.keepAlive);
            } else if (m_bodyLeft > kMostDropped) {
                answer(route.status, route.body, true);
            } else {
                m_pendingStatus = route.status;
                m_pendingBody = route.body;
                m_phase = Phase::Drop;
            }
            return;
        case Receiver::Route::Kind::ReadJson:
            if (m_bodyLeft > route.limit) {
                answer(413, {}, true);
                return;
            }
            m_bodyLimit = route.limit;
            m_phase = Phase::Json;
            break;
        case Receiver::Route::Kind::Upload:
            m_upload = route.upload;
            m_uploadHeld = false;
            connect(m_upload, &Upload::drained, this, [this] {
                if (std::exchange(m_uploadHeld, false) && m_phase == Phase::Upload) {
                    m_idle.start();
                }
                readLater();
            });
            connect(m_upload, &Upload::answered, this, [this](int status) {
                m_upload = nullptr;
                if (status == 0) {
                    close();
                } else {
                    // A refused body may still be arriving: the connection closes after.
                    answer(status, {}, status != 200 || !m_request.keepAlive || m_peerGone);
                }
            });
            connect(m_upload, &QObject::destroyed, this, [this] {
                if (m_phase == Phase::Upload) {
                    close();
                }
            });
            m_phase = Phase::Upload;
            break;
    }
    if (m_request.expectContinue && open()) {
        m_socket->write(httpContinue());
    }
    if (!hasBody && m_phase == Phase::Json) {
        m_phase = Phase::Waiting;
        m_idle.stop();
        m_receiver->handleBody(m_request, {}, *this);
    } else if (!hasBody && m_phase == Phase::Upload) {
        m_phase = Phase::Waiting;
        m_idle.stop();
        m_upload->finish();
    }
}

void Connection::respond(int status, const QByteArray& body) {
    if (m_phase != Phase::Waiting) {
        return;
    }
    answer(status, body, !m_request.keepAlive || m_peerGone);
}

void Connection::answer(int status, const QByteArray& body, bool closeAfter) {
    if (m_phase == Phase::Closed) {
        return;
    }
    if (m_upload) {
        m_upload->disconnect(this);
        m_upload = nullptr;
    }
    if (open()) {
        // Out now: the program may end right after an answer that ends a transfer.
        m_socket->write(httpResponse(status, body, closeAfter));
        m_socket->flush();
    }
    if (closeAfter) {
        m_phase = Phase::Closed;
        m_idle.stop();
        if (QTcpSocket* socket = std::exchange(m_socket, nullptr)) {
            // What the peer still sends is read and dropped for a moment, so that it reads
            // the answer instead of a reset.
            closeGently(socket);
        }
        emit closed();
        deleteLater();
        return;
    }
    m_phase = Phase::Head;
    m_idle.start();
    readLater();
}

void Connection::close() {
    if (m_phase == Phase::Closed) {
        return;
    }
    m_phase = Phase::Closed;
    m_idle.stop();
    if (Upload* upload = m_upload) {
        m_upload = nullptr;
        upload->disconnect(this);
        upload->abort();
    }
    if (QTcpSocket* socket = std::exchange(m_socket, nullptr)) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    emit closed();
    deleteLater();
}

void Connection::peerClosed() {
    if (m_peerGone || m_phase == Phase::Closed) {
        return;
    }
    m_peerGone = true;
    switch (m_phase) {
        case Phase::Waiting:
            // A file whose every byte came is still checked and kept; a sender waiting for
            // the user's answer has given up.
            if (m_upload.isNull()) {
                close();
            }
            return;
        default:
            readInput();  // what arrived before the end is still read
            return;
    }
}

}  // namespace localsend
