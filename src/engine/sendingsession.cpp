#include "engine/sendingsession.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QPointer>
#include <QRegularExpression>
#include <QThreadPool>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <exception>

#include "engine/lanesendingsession.h"
#include "engine/receivingservice.h"
#include "engine/ttimer.h"
#include "net/clientendpoint.h"
#include "transfer/protocol.h"
#include "transfer/wirename.h"

namespace {

constexpr int kConnectStepMs = 150;

// Digits and dots only: taken as a dotted address exactly as typed, whatever it holds.
// Anything else is a name to look up.
bool looksDotted(const QString& address) {
    static const QRegularExpression dotted(QStringLiteral("^[0-9.]*$"));
    return dotted.match(address).hasMatch();
}

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

SendingSession::SendingSession(quint16 port, TTimer* elapsed, ReceivingService* listener,
                               QObject* parent)
    : QObject(parent),
      m_client(new TClientEndpoint(this)),
      m_elapsed(elapsed),
      m_connecting(new TTimer(kConnectStepMs, this)),
      m_listener(listener),
      m_port(port) {
    m_client->setObjectName(QStringLiteral("Cliente"));
    m_client->SetPort(port);
    m_connecting->setObjectName(QStringLiteral("Conectando"));
    connect(m_connecting, &QTimer::timeout, this, &SendingSession::connectingTimer);
    m_client->OnConnect = [this](QObject*, TSocketConnection* c) { clientConnect(c); };
    m_client->OnRead = [this](QObject*, TSocketConnection* c) { clientRead(c); };
    m_client->OnDisconnect = [this](QObject*, TSocketConnection*) { clientDisconnect(); };
    m_client->OnError = [this](QObject*, TSocketConnection* c, TErrorEvent e, int& code) {
        clientError(c, e, code);
    };
}

SendingSession::~SendingSession() {
    delete m_client;
    m_client = nullptr;
}

bool SendingSession::chooseFile(const QString& path) {
    m_file = OutgoingFile::open(path);
    return m_file.has_value();
}

void SendingSession::start(const QString& address) {
    if (m_state != State::Idle || !m_file) {
        return;
    }
    m_state = State::Connecting;
    m_outcome = Outcome::None;
    m_userPaused = false;
    m_pauseSent = false;
    m_wireName = toWireName(m_file->name);
    m_connecting->Tag = 0;
    m_connecting->SwitchOn();
    if (m_listener) {
        m_listener->stopListening();
    }
    m_input.reset();
    if (looksDotted(address)) {
        connectTo(address);
        return;
    }
    // A name is looked up on a worker, so the program goes on meanwhile; the answer is taken
    // only if this send still waits for it.
    const quint64 lookup = ++m_lookup;
    const QPointer<SendingSession> self(this);
    const QByteArray name = address.toUtf8();
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
        m_outcome = Outcome::BadAddress;
        finish();
        return;
    }
    connectTo(address);
}

void SendingSession::connectTo(const QString& address) {
    const QHostAddress host(address);
    if (!m_laneEnabled || host.protocol() != QAbstractSocket::IPv4Protocol || m_port == 65535) {
        connectClassic(address);
        return;
    }
    // The lane first; when nobody answers on it the classic protocol at once.
    m_lane = new LaneSendingSession(*m_file, this);
    LaneSendingSession* lane = m_lane;
    connect(lane, &LaneSendingSession::unavailable, this, [this, lane, address] {
        lane->deleteLater();
        m_lane = nullptr;
        if (m_state == State::Connecting) {
            connectClassic(address);
        }
    });
    connect(lane, &LaneSendingSession::connected, this, [this] {
        m_state = State::Offered;
        m_connecting->SwitchOff();
        m_elapsed->Tag = 0;
        emit connected();
    });
    connect(lane, &LaneSendingSession::started, this, [this] {
        m_state = State::Sending;
        if (!m_userPaused) {
            m_elapsed->SwitchOn();
        }
        emit blockRequested();
    });
    connect(lane, &LaneSendingSession::progress, this, [this](qint64 done, qint64 total) {
        emit progress(TransferProgress{done, total, m_elapsed->Tag,
                                       computeProgress(done / kBlockSize, total, m_elapsed->Tag)});
        emit activity();
    });
    connect(lane, &LaneSendingSession::pausedForUser, this, [this] {
        m_elapsed->SwitchOff();
        emit pausedForUser();
    });
    connect(lane, &LaneSendingSession::peerPaused, this, [this] {
        m_elapsed->SwitchOff();
        emit peerPaused();
    });
    connect(lane, &LaneSendingSession::peerResumed, this, [this] {
        if (!m_userPaused) {
            m_elapsed->SwitchOn();
            emit blockRequested();
        }
    });
    connect(lane, &LaneSendingSession::ended, this,
            [this](LaneSendingSession::End end) { laneEnded(static_cast<int>(end)); });
    lane->start(host, static_cast<quint16>(m_port + 1));
}

void SendingSession::laneEnded(int endValue) {
    using End = LaneSendingSession::End;
    if (m_outcome == Outcome::None) {
        switch (static_cast<End>(endValue)) {
            case End::Sent:
                m_outcome = Outcome::Sent;
                break;
            case End::Mismatch:
                m_outcome = Outcome::Corrupted;
                break;
            case End::Busy:
                m_outcome = Outcome::Busy;
                break;
            case End::CannotRead:
                m_outcome = Outcome::CannotRead;
                break;
            case End::Broken:
                m_outcome = Outcome::ConnectionError;
                break;
            case End::Declined:  // as on the classic path: the receiver just closed
            case End::Cancelled:
            case End::WriteFailed:
                break;
        }
    }
    m_lane->deleteLater();
    m_lane = nullptr;
    finish();
}

void SendingSession::connectClassic(const QString& address) {
    try {
        m_client->SetAddress(address);
        m_client->SetActive(true);
    } catch (const std::exception&) {
        // A connect refused at once has already ended the send through the closing socket.
        // When no socket could even be made, nothing has: end it the same way.
        if (m_state != State::Idle) {
            m_outcome = Outcome::BadAddress;
            finish();
        } else {
            emit outcomeAmended(Outcome::BadAddress);
        }
    }
}

void SendingSession::cancel() {
    m_lookup = 0;  // an answer still to come is dropped
    m_connecting->SwitchOff();
    if (m_outcome == Outcome::None) {
        m_outcome = Outcome::Cancelled;
    }
    if (m_lane != nullptr) {
        LaneSendingSession* lane = m_lane;
        if (m_state == State::Connecting) {
            // Still asking whether a lane is there: drop the attempt.
            m_lane = nullptr;
            lane->disconnect(this);
            lane->deleteLater();
            finish();
        } else {
            lane->cancel();  // ends it, through laneEnded
        }
        return;
    }
    m_client->Connection()->CloseConnection();
    if (m_state != State::Idle) {
        finish();  // nothing was open yet (a name still being looked up)
    }
}

void SendingSession::pauseByUser() {
    m_userPaused = true;
    if (m_lane != nullptr) {
        m_lane->pauseByUser();
    }
}

void SendingSession::resumeByUser() {
    m_userPaused = false;
    if (m_lane != nullptr) {
        m_lane->resumeByUser();
        if (m_state == State::Sending) {
            m_elapsed->SwitchOn();
            emit blockRequested();
        }
        return;
    }
    if (m_pauseSent) {
        // Only a pause the receiver was told of is ended: a resume without one is no
        // message of the protocol.
        m_pauseSent = false;
        m_client->Connection()->SendMessage(ResumeNotice());
    }
    if (m_state == State::Sending) {
        m_elapsed->SwitchOn();
    }
}

void SendingSession::connectingTimer() {
    static const QString kWord = QStringLiteral("Conectando");
    const int step = ++m_connecting->Tag;
    if (step <= kWord.size()) {
        emit connectStep(kWord.left(step));
    } else if (step >= 12) {
        emit connectStep(QString());
        m_connecting->Tag = 0;
    }
}

void SendingSession::clientConnect(TSocketConnection* socket) {
    m_outcome = Outcome::None;
    m_state = State::Offered;
    m_connecting->SwitchOff();
    emit connected();
    socket->SendMessage(OfferMessage(m_wireName, m_file->size));
    m_elapsed->Tag = 0;
}

void SendingSession::clientRead(TSocketConnection* socket) {
    handleReadEvent(
        socket, m_input, m_backlog, [socket] { return socket->IsConnected(); },
        [&](const SenderInput::Message& message) { dispatch(message, socket); });
    emit activity();
}

void SendingSession::dispatch(const SenderInput::Message& message, TSocketConnection* socket) {
    switch (message.kind) {
        case SenderInput::Kind::Request:
            m_state = State::Sending;
            m_elapsed->SwitchOn();
            emit blockRequested();
            sendBlock(message.index);
            if (m_state == State::Sending) {
                const qint64 end =
                    std::min(m_file->size, (message.index + 1) * static_cast<qint64>(kBlockSize));
                emit progress(
                    TransferProgress{std::max<qint64>(end, 0), m_file->size, m_elapsed->Tag,
                                     computeProgress(message.index, m_file->size, m_elapsed->Tag)});
            }
            break;
        case SenderInput::Kind::Pause:
            m_elapsed->SwitchOff();
            emit peerPaused();
            break;
        case SenderInput::Kind::Busy:
            m_outcome = Outcome::Busy;
            break;
        case SenderInput::Kind::Finished:
            m_outcome = Outcome::Sent;
            m_client->Connection()->CloseConnection();
            break;
        case SenderInput::Kind::Bad:
        case SenderInput::Kind::NeedMore:
            socket->CloseConnection();
            break;
    }
}

void SendingSession::sendBlock(qint64 index) {
    TSocketConnection* connection = m_client->Connection();
    LockedFile file = m_files.openWithRetries(m_file->path, LockedFile::Access::Read);
    if (!file.isOpen()) {
        m_outcome = Outcome::CannotOpen;
        connection->CloseConnection();
        return;
    }
    const qint64 offset = index * kBlockSize;
    const qint64 count = file.readAt(offset, m_blockMessage.payload(), kBlockSize);
    file.close();

    if (m_userPaused) {
        connection->SendMessage(PauseNotice());
        m_pauseSent = true;
        m_elapsed->SwitchOff();
        emit pausedForUser();
        return;
    }
    // A read that fails, or finds nothing where the offered size says bytes are due (the
    // file shrank since it was offered), would make the receiver ask for this block forever.
    if (count < 0 || (count == 0 && offset < m_file->size)) {
        m_outcome = Outcome::CannotRead;
        connection->CloseConnection();
        return;
    }
    connection->SendMessage(m_blockMessage.finish(index, count));
}

void SendingSession::clientDisconnect() {
    finish();
}

void SendingSession::finish() {
    m_state = State::Idle;
    m_elapsed->SwitchOff();
    m_connecting->SwitchOff();
    m_client->SetActive(false);
    const bool listening = m_listener ? m_listener->startListening() : false;
    emit sendingEnded(m_outcome, listening);
}

void SendingSession::clientError(TSocketConnection* socket, TErrorEvent /*event*/, int& errorCode) {
    errorCode = 0;
    if (m_outcome == Outcome::None) {
        m_outcome = Outcome::ConnectionError;
    }
    // Close a socket the error left open (a failed connect, a reset) at once; the close ends
    // the send. Without a socket, end it directly.
    if (socket->SocketHandle() != -1) {
        socket->CloseConnection();
    } else {
        finish();
    }
}
