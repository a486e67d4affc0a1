#include "engine/receivingservice.h"

#include <QTcpServer>
#include <QTimer>
#include <QVariant>

#include "engine/lanereceivingsession.h"
#include "engine/ttimer.h"
#include "net/acceptedconnection.h"
#include "net/serverendpoint.h"
#include "transfer/protocol.h"
#include "transfer/wirename.h"

namespace {

// Marks a connection that was told to go and is waiting out its last 500 ms.
const char* const kDismissed = "ruvoDismissed";
constexpr int kDismissDelayMs = 500;
constexpr int kIntruderMs = 6000;
constexpr int kAcceptPauseMs = 100;

bool isDismissed(const TSocketConnection* connection) {
    return connection->property(kDismissed).toBool();
}

}  // namespace

ReceivingService::ReceivingService(quint16 port, TTimer* elapsed, QObject* parent)
    : QObject(parent),
      m_server(new TServerEndpoint(this)),
      m_elapsed(elapsed),
      m_intruder(new TTimer(kIntruderMs, this)) {
    m_server->setObjectName(QStringLiteral("Servidor"));
    m_server->SetPort(port);
    m_intruder->setObjectName(QStringLiteral("Intruso"));
    connect(m_intruder, &QTimer::timeout, this, &ReceivingService::intruderTimeout);
    m_server->OnClientConnect = [this](QObject*, TSocketConnection* c) { clientConnect(c); };
    m_server->OnClientRead = [this](QObject*, TSocketConnection* c) { clientRead(c); };
    m_server->OnClientDisconnect = [this](QObject*, TSocketConnection* c) { clientDisconnect(c); };
    m_server->OnClientError = [this](QObject*, TSocketConnection* c, TErrorEvent, int& code) {
        clientError(c, code);
    };
}

ReceivingService::~ReceivingService() {
    // The endpoint's last events must not reach a half-destroyed service.
    delete m_server;
    m_server = nullptr;
}

bool ReceivingService::startListening() {
    try {
        m_server->SetActive(true);
    } catch (...) {
        emit listenFailed();
        return false;
    }
    openLane();
    return true;
}

void ReceivingService::setLaneEnabled(bool on) {
    m_laneEnabled = on;
    if (!on && m_laneServer != nullptr) {
        m_laneServer->close();
    } else if (on && isListening()) {
        openLane();
    }
}

bool ReceivingService::laneListening() const {
    return m_laneServer != nullptr && m_laneServer->isListening();
}

// The lane is the port after the classic one. When it cannot be opened everything works as
// without it: senders find nothing there and take the classic protocol.
void ReceivingService::openLane() {
    const quint16 port = listeningPort();
    if (!m_laneEnabled || laneListening() || port == 0 || port == 65535) {
        return;
    }
    if (m_laneServer == nullptr) {
        m_laneServer = new QTcpServer(this);
        connect(m_laneServer, &QTcpServer::newConnection, this, &ReceivingService::laneConnect);
        // Out of descriptors, the server stops accepting: it tries again a moment later
        // (as the classic listener does) instead of staying deaf or spinning.
        connect(m_laneServer, &QTcpServer::acceptError, this, [this] {
            QTimer::singleShot(kAcceptPauseMs, m_laneServer,
                               [server = m_laneServer] { server->resumeAccepting(); });
        });
    }
    m_laneServer->listen(QHostAddress::AnyIPv4, static_cast<quint16>(port + 1));
}

void ReceivingService::laneConnect() {
    while (QTcpSocket* socket = m_laneServer->nextPendingConnection()) {
        const bool busy = isServing() || m_state != State::Idle;
        if (busy) {
            // Told at once and closed within half a second, as on the classic port.
            delete new LaneReceivingSession(socket, true, this);
            emit busyPeerDismissed();
            continue;
        }
        auto* session = new LaneReceivingSession(socket, false, this);
        m_lane = session;
        m_state = State::Connected;
        m_outcome = Outcome::None;
        m_userPaused = false;
        m_offer = Offer();
        m_target.clear();
        m_elapsed->Tag = 0;
        connect(session, &LaneReceivingSession::offered, this, [this, session] {
            ++m_offerSerial;
            m_state = State::Offered;
            m_elapsed->Tag = 0;
            m_offer = Offer{session->offeredName(), session->offeredSize(), session->peerAddress()};
            emit offerArrived(m_offer);
        });
        connect(session, &LaneReceivingSession::started, this, [this] {
            m_state = State::Receiving;
            if (!m_userPaused) {
                m_elapsed->SwitchOn();
            }
            emit receptionStarted();
            emit blockArrived();
        });
        connect(session, &LaneReceivingSession::progress, this, [this](qint64 done, qint64 total) {
            emit progress(
                TransferProgress{done, total, m_elapsed->Tag,
                                 computeProgress(done / kBlockSize, total, m_elapsed->Tag)});
            emit activity();
        });
        connect(session, &LaneReceivingSession::peerPaused, this, [this] {
            m_elapsed->SwitchOff();
            emit peerPaused();
        });
        connect(session, &LaneReceivingSession::peerResumed, this, [this] {
            if (m_userPaused) {
                emit peerResumed(true);
                return;
            }
            m_elapsed->SwitchOn();
            emit peerResumed(false);
            emit blockArrived();
        });
        connect(session, &LaneReceivingSession::pausedForUser, this, [this] {
            m_elapsed->SwitchOff();
            emit pausedForUser();
        });
        connect(session, &LaneReceivingSession::diskFull, this, [this] {
            m_userPaused = true;
            m_elapsed->SwitchOff();
            emit diskFull();
        });
        connect(session, &LaneReceivingSession::savedUnderOtherName, this,
                [this](const QString& path) {
                    m_target = path;
                    emit savedUnderOtherName(path);
                });
        connect(session, &LaneReceivingSession::ended, this,
                [this](LaneReceivingSession::End end) { laneEnded(static_cast<int>(end)); });
        emit peerConnected(session->peerAddress());
    }
}

void ReceivingService::laneEnded(int endValue) {
    using End = LaneReceivingSession::End;
    Outcome outcome = m_outcome;
    if (outcome == Outcome::None) {
        switch (static_cast<End>(endValue)) {
            case End::Received:
                outcome = Outcome::Received;
                break;
            case End::Mismatch:
                outcome = Outcome::Corrupted;
                break;
            case End::WriteFailed:
                outcome = Outcome::CannotWrite;
                break;
            case End::OpenFailed:
                outcome = Outcome::CannotOpen;
                break;
            case End::BadName:
                outcome = Outcome::BadName;
                break;
            case End::Broken:
                outcome = Outcome::ConnectionError;
                break;
            case End::Declined:
            case End::Cancelled:
            case End::Gone:
                break;
        }
    }
    m_lane->disconnect(this);
    m_lane->deleteLater();
    m_lane = nullptr;
    m_served = nullptr;
    endServed(outcome);
}

void ReceivingService::stopListening() {
    if (m_laneServer != nullptr) {
        m_laneServer->close();
    }
    if (m_lane != nullptr) {
        // As for a classic peer: let go here and now, without a word to the view.
        m_lane->disconnect(this);
        m_lane->deleteLater();
        m_lane = nullptr;
        m_state = State::Idle;
        m_elapsed->SwitchOff();
    }
    if (m_served) {
        // Closing the listener closes its connections without events: the served peer's
        // clean-up runs here instead.
        m_served = nullptr;
        m_session.reset();
        m_state = State::Idle;
        m_intruder->SwitchOff();
        m_elapsed->SwitchOff();
    }
    m_server->SetActive(false);
}

bool ReceivingService::isListening() const {
    return m_server->Active();
}

quint16 ReceivingService::listeningPort() const {
    const TListener* listener = m_server->Listener();
    return listener ? listener->LocalPort() : 0;
}

TSocketConnection* ReceivingService::servedConnection() const {
    // Asked several times per block: a member, not the connection's dynamic property.
    return m_served && !m_servedDismissed ? m_served.data() : nullptr;
}

int ReceivingService::activeConnectionCount() const {
    int count = 0;
    for (int i = 0; i < m_server->ConnectionCount(); ++i) {
        const TSocketConnection* connection = m_server->ConnectionAt(i);
        if (connection->IsConnected() && !isDismissed(connection)) {
            ++count;
        }
    }
    return count;
}

void ReceivingService::dismiss(TSocketConnection* connection, const QByteArray& notice) {
    // The peer gets its notice and, 500 ms later, an orderly close; the program goes on
    // meanwhile. A dismissed connection is never served and is not counted as open.
    connection->setProperty(kDismissed, true);
    if (connection == m_served) {
        m_servedDismissed = true;
    }
    connection->SendMessage(notice);
    QTimer::singleShot(kDismissDelayMs, connection,
                       [connection] { connection->CloseConnection(); });
}

void ReceivingService::clientConnect(TSocketConnection* socket) {
    if (activeConnectionCount() != 1 || m_lane != nullptr) {
        dismiss(socket, BusyNotice());
        emit busyPeerDismissed();
        return;
    }
    m_served = socket;
    m_servedDismissed = false;
    m_state = State::Connected;
    m_outcome = Outcome::None;
    m_userPaused = false;
    m_offer = Offer();
    m_target.clear();
    m_intruder->SwitchOff();
    m_intruder->SwitchOn();
    m_elapsed->Tag = 0;
    m_input.reset();
    m_session.reset();
    emit peerConnected(socket->PeerAddressText());
}

void ReceivingService::intruderTimeout() {
    m_intruder->SwitchOff();
    if (TSocketConnection* served = servedConnection()) {
        dismiss(served, IntruderNotice());
    }
}

void ReceivingService::clientRead(TSocketConnection* socket) {
    if (socket != servedConnection()) {
        return;  // the bytes of any other peer stay unread
    }
    // Nothing below waits for the user, so this never runs inside itself.
    const QPointer<TSocketConnection> guard(socket);
    handleReadEvent(
        socket, m_input, m_backlog, [&] { return guard && socket == servedConnection(); },
        [&](const ReceiverInput::Message& message) { dispatch(message, socket); });
    emit activity();
}

void ReceivingService::dispatch(const ReceiverInput::Message& message, TSocketConnection* socket) {
    switch (message.kind) {
        case ReceiverInput::Kind::Offer:
            takeOffer(message, socket);
            break;
        case ReceiverInput::Kind::Block:
            takeBlock(message, socket);
            break;
        case ReceiverInput::Kind::Pause:
            takePause(socket);
            break;
        case ReceiverInput::Kind::Resume:
            takeResume(socket);
            break;
        case ReceiverInput::Kind::Bad:
        case ReceiverInput::Kind::NeedMore:
            closeForViolation(socket);
            break;
    }
}

void ReceivingService::closeForViolation(TSocketConnection* socket) {
    if (m_outcome == Outcome::None) {
        m_outcome = Outcome::ConnectionError;
    }
    socket->CloseConnection();
}

void ReceivingService::takeOffer(const ReceiverInput::Message& message, TSocketConnection* socket) {
    // The name becomes part of a path: one that could leave the receive folder, that no file
    // system takes, or that would be hidden (and could replace a dotfile) is refused before
    // anything else happens.
    if (!isSafeOfferedName(message.name) || message.name.startsWith('.')) {
        m_outcome = Outcome::BadName;
        socket->CloseConnection();
        return;
    }
    if (!m_session.takeOffer(message.size)) {
        closeForViolation(socket);
        return;
    }
    ++m_offerSerial;
    m_state = State::Offered;
    m_elapsed->Tag = 0;
    m_offer = Offer{fromWireName(message.name), message.size, socket->PeerAddressText()};
    m_intruder->SwitchOff();
    emit offerArrived(m_offer);
}

void ReceivingService::takeBlock(const ReceiverInput::Message& message, TSocketConnection* socket) {
    const ReceiverSession::BlockVerdict verdict =
        m_session.takeBlock(message.index, message.data.size());
    if (!verdict.allowed) {
        closeForViolation(socket);
        return;
    }
    m_elapsed->SwitchOn();
    emit blockArrived();

    qint64 lengthAfter = -1;
    const FileAccess::WriteResult written = m_files.writeBlock(
        m_target, message.index, QByteArrayView(message.data).first(verdict.writeCount),
        LockedFile::Links::NoFollow, &lengthAfter);
    if (written == FileAccess::WriteResult::OpenFailed) {
        m_outcome = Outcome::CannotOpen;
        socket->CloseConnection();
        return;
    }
    if (written == FileAccess::WriteResult::WriteFailed) {
        if (m_freeSpace(m_folder) > 0) {
            // Not for want of space (a size limit, a quota, an I/O error, a read-only file
            // system): asking for the same block again would fail the same way for ever.
            m_outcome = Outcome::CannotWrite;
            socket->CloseConnection();
            return;
        }
        m_userPaused = true;
        m_elapsed->SwitchOff();
        lengthAfter = -1;
        emit diskFull();
    }
    const qint64 end = message.index * kBlockSize + verdict.writeCount;
    emit progress(
        TransferProgress{end, m_session.offeredSize(), m_elapsed->Tag,
                         computeProgress(message.index, m_session.offeredSize(), m_elapsed->Tag)});
    if (!m_userPaused) {
        // The write's own open told the length: the next request needs no open of its own.
        requestNextBlock(lengthAfter >= 0 ? std::optional<qint64>(lengthAfter) : std::nullopt);
    } else {
        socket->SendMessage(PauseNotice());
        m_elapsed->SwitchOff();
        emit pausedForUser();
    }
}

void ReceivingService::takePause(TSocketConnection* socket) {
    if (!m_session.takePause()) {
        closeForViolation(socket);
        return;
    }
    m_elapsed->SwitchOff();
    emit peerPaused();
}

void ReceivingService::takeResume(TSocketConnection* socket) {
    // A sender resumes only from its own pause; a resume that ends no pause is no message of
    // the protocol (and a flood of them would keep the program busy for nothing).
    if (!m_session.takeResume()) {
        closeForViolation(socket);
        return;
    }
    if (m_userPaused) {
        emit peerResumed(true);
        return;
    }
    m_elapsed->SwitchOn();
    emit peerResumed(false);
    requestNextBlock();
}

void ReceivingService::requestNextBlock(std::optional<qint64> knownLength) {
    TSocketConnection* served = servedConnection();
    // One request outstanding at most: the block that answers it brings the next request,
    // so a resume while a request is unanswered sends nothing and no block travels twice.
    if (served == nullptr || !m_session.mayRequest()) {
        return;
    }
    const std::optional<qint64> length =
        knownLength ? knownLength : m_files.fileLength(m_target, LockedFile::Links::NoFollow);
    if (!length) {
        m_outcome = Outcome::CannotOpen;
        served->CloseConnection();
        return;
    }
    if (*length < m_session.offeredSize()) {
        const qint64 index = *length / kBlockSize;
        m_session.requestSent(index);
        char request[kMaxBlockRequest];
        served->SendMessage(BlockRequestInto(request, index));
    } else {
        served->SendMessage(FinishedNotice());
        m_outcome = Outcome::Received;
    }
}

bool ReceivingService::questionStands(quint64 id) const {
    return id == m_questionId && m_state == State::Asking && isServing();
}

void ReceivingService::acceptOffer(const QString& folder) {
    if (m_state != State::Offered || !isServing()) {
        return;
    }
    // The target is fixed now: a later change of the receive folder applies to the next
    // transfer, never to the file being written.
    m_folder = folder;
    m_target = folder + m_offer.name;
    m_state = State::Asking;
    if (m_freeSpace(m_folder) < m_offer.size) {
        m_question = Question::LowSpace;
        emit questionAsked(++m_questionId, m_question);
        return;
    }
    askContinueExisting();
}

void ReceivingService::askContinueExisting() {
    if (FileAccess::fileExists(m_target)) {
        m_question = Question::ContinueExisting;
        emit questionAsked(++m_questionId, m_question);
        return;
    }
    startNewFile();
}

void ReceivingService::answer(quint64 id, bool yes) {
    if (!questionStands(id)) {
        return;
    }
    ++m_questionId;  // each question is answered once
    if (m_question == Question::LowSpace) {
        if (!yes) {
            m_state = State::Offered;  // the offer stands; the user may try again
            return;
        }
        askContinueExisting();
        return;
    }
    if (!yes) {
        if (m_lane != nullptr) {
            m_lane->decline();
        } else {
            servedConnection()->CloseConnection();
        }
        return;
    }
    if (m_lane != nullptr) {
        // Continues the file once the sender proves its start, else keeps it and writes
        // beside it.
        m_lane->accept(m_folder, m_offer.name);
        return;
    }
    m_state = State::Receiving;
    m_session.accept();
    requestNextBlock();
}

void ReceivingService::startNewFile() {
    if (m_lane != nullptr) {
        m_lane->accept(m_folder, m_offer.name);
        return;
    }
    // A file that cannot be created shows at the first block, which then cannot be opened.
    FileAccess::createEmpty(m_target);
    m_state = State::Receiving;
    m_session.accept();
    m_session.requestSent(0);
    servedConnection()->SendMessage(BlockRequest(0));
    m_elapsed->Tag = 0;
    m_elapsed->SwitchOn();
    emit receptionStarted();
}

void ReceivingService::pauseByUser() {
    m_userPaused = true;
    if (m_lane != nullptr) {
        m_lane->pauseByUser();
    }
}

void ReceivingService::resumeByUser() {
    m_userPaused = false;
    if (m_lane != nullptr) {
        m_lane->resumeByUser();
        if (m_state == State::Receiving) {
            m_elapsed->SwitchOn();
        }
        return;
    }
    if (m_state == State::Receiving) {
        m_elapsed->SwitchOn();
    }
    requestNextBlock();
}

void ReceivingService::cancel() {
    if (m_lane != nullptr) {
        m_outcome = Outcome::Cancelled;
        m_lane->cancel();  // ends it, through laneEnded
        return;
    }
    if (TSocketConnection* served = servedConnection()) {
        m_outcome = Outcome::Cancelled;
        served->CloseConnection();
    }
}

void ReceivingService::clientDisconnect(TSocketConnection* socket) {
    if (socket != m_served) {
        return;  // a dismissed extra peer, or one that was never served
    }
    endServed(m_outcome);
}

void ReceivingService::endServed(Outcome outcome) {
    m_served = nullptr;
    m_session.reset();
    m_state = State::Idle;
    m_userPaused = false;
    m_elapsed->SwitchOff();
    m_intruder->SwitchOff();
    const bool listening = startListening();
    emit receptionEnded(outcome, listening);
}

void ReceivingService::clientError(TSocketConnection* socket, int& errorCode) {
    errorCode = 0;
    if (socket == m_served && m_outcome == Outcome::None) {
        m_outcome = Outcome::ConnectionError;
    }
    // A connection whose error was handled would stay open and counted: close it, which
    // runs clientDisconnect.
    if (socket->SocketHandle() != -1) {
        socket->CloseConnection();
    } else {
        clientDisconnect(socket);
    }
}
