#include "engine/receivingservice.h"

#include <QSslSocket>
#include <QTimer>

#include <utility>

#include "engine/classicreceivingtransfer.h"
#include "engine/dismissal.h"
#include "engine/laneidentity.h"
#include "engine/lanepairing.h"
#include "engine/lanereceivingsession.h"
#include "engine/lanereceivingtransfer.h"
#include "engine/localsendreceivingtransfer.h"
#include "identity/fingerprint.h"
#include "identity/lanetls.h"
#include "identity/securelaneserver.h"
#include "lane/closegently.h"
#include "lane/lanewire.h"
#include "localsend/server.h"
#include "localsend/session.h"
#include "net/acceptedconnection.h"
#include "net/esocketerror.h"
#include "net/serverendpoint.h"
#include "transfer/fileaccess.h"
#include "transfer/protocol.h"

namespace {

constexpr int kAcceptPauseMs = 100;

}  // namespace

ReceivingService::ReceivingService(quint16 port, QObject* parent)
    : QObject(parent),
      m_server(new TServerEndpoint(this)),
      m_clock(this),
      m_freeSpace(&FileAccess::freeSpace) {
    m_server->setObjectName(QStringLiteral("Servidor"));
    m_server->SetPort(port);
    m_server->OnClientConnect = [this](QObject*, TSocketConnection* c) { clientConnect(c); };
    // The events of a classic connection go to its carrier while it is served; the bytes
    // of any other peer stay unread.
    m_server->OnClientRead = [this](QObject*, TSocketConnection* c) {
        if (m_classic != nullptr && c == m_classic->connection()) {
            m_classic->readInput();
        }
    };
    m_server->OnClientDisconnect = [this](QObject*, TSocketConnection* c) {
        if (m_classic != nullptr && c == m_classic->connection()) {
            m_classic->connectionClosed();
        }
    };
    m_server->OnClientError = [this](QObject*, TSocketConnection* c, TErrorEvent, int& code) {
        if (m_classic != nullptr && c == m_classic->connection()) {
            m_classic->connectionError(code);
            return;
        }
        // An extra peer's error: close it, which counts it as gone.
        code = 0;
        if (c->SocketHandle() != -1) {
            c->CloseConnection();
        }
    };
}

ReceivingService::~ReceivingService() {
    // The endpoint's last events must not reach a half-destroyed service.
    if (m_transfer != nullptr) {
        m_transfer->disconnect(this);
    }
    delete m_server;
    m_server = nullptr;
}

std::optional<ReceivingService::ListenError> ReceivingService::listen() {
    try {
        m_server->SetActive(true);
    } catch (const ESocketError& e) {
        return ListenError{QString::fromUtf8(e.what())};
    } catch (const std::exception& e) {
        return ListenError{QString::fromLocal8Bit(e.what())};
    }
    openLane();
    openLocalSend();
    return std::nullopt;
}

bool ReceivingService::startListening() {
    if (listen()) {
        emit listenFailed();
        return false;
    }
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

void ReceivingService::setLaneIdentity(std::shared_ptr<const LaneIdentity> identity) {
    m_laneIdentity = std::move(identity);
}

bool ReceivingService::laneListening() const {
    return m_laneServer != nullptr && m_laneServer->isListening();
}

bool ReceivingService::onLane() const {
    return m_transfer != nullptr && m_transfer->carrier() == Transfer::Carrier::Lane;
}

// The lane is the port after the classic one. When it cannot be opened everything works as
// without it: senders find nothing there and take the classic protocol.
void ReceivingService::openLane() {
    const quint16 port = listeningPort();
    if (!m_laneEnabled || !m_laneIdentity || laneListening() || port == 0 || port == 65535) {
        return;
    }
    if (m_laneServer == nullptr) {
        // Every sender with a certificate is let in: who it is decides how its offer is
        // shown and whether it is accepted, never whether the connection is made.
        m_laneServer = new SecureLaneServer(m_laneIdentity->identity(), lanetls::anyPeer(), this);
        connect(m_laneServer, &QTcpServer::pendingConnectionAvailable, this,
                &ReceivingService::laneConnect);
        // Out of descriptors, the server stops accepting: it tries again a moment later
        // (as the classic listener does) instead of staying deaf or spinning.
        connect(m_laneServer, &QTcpServer::acceptError, this, [this] {
            QTimer::singleShot(kAcceptPauseMs, m_laneServer,
                               [server = m_laneServer] { server->resumeAccepting(); });
        });
    }
    m_laneServer->listen(QHostAddress::AnyIPv4, static_cast<quint16>(port + 1));
}

void ReceivingService::setLocalSendEnabled(bool on, quint16 port) {
    if (m_localSend != nullptr && (!on || port != m_localSendPort)) {
        if (m_localSend->receiver().session() != nullptr) {
            dropServed();
        }
        m_localSend->closeAll();
    }
    m_localSendEnabled = on;
    m_localSendPort = port;
    openLocalSend();
}

void ReceivingService::setLocalSendDevice(const QString& alias, const QString& deviceType,
                                          const QString& pin) {
    m_localSendAlias = alias;
    m_localSendType = deviceType;
    m_localSendPin = pin;
}

bool ReceivingService::localSendListening() const {
    return m_localSend != nullptr && m_localSend->isListening();
}

// LocalSend's port is its own (53317 unless told otherwise). When it cannot be opened
// everything else works as without it.
void ReceivingService::openLocalSend() {
    if (!m_localSendEnabled || !isListening() || localSendListening()) {
        return;
    }
    if (m_localSend == nullptr) {
        m_localSend =
            new localsend::Server(m_laneIdentity ? &m_laneIdentity->identity() : nullptr, this);
        localsend::Receiver& receiver = m_localSend->receiver();
        receiver.setBusyCheck([this] { return isServing(); });
        receiver.setOfferHandler(
            [this](localsend::Session* session) { return serveLocalSend(session); });
        connect(m_localSend, &QTcpServer::acceptError, this, [this] {
            QTimer::singleShot(kAcceptPauseMs, m_localSend,
                               [server = m_localSend] { server->resumeAccepting(); });
        });
    }
    if (!m_localSend->listen(QHostAddress::AnyIPv4, m_localSendPort)) {
        return;
    }
    localsend::DeviceInfo device;
    device.alias = m_localSendAlias;
    device.deviceModel = QStringLiteral("Ruvo");
    device.deviceType = m_localSendType;
    device.fingerprint = m_localSend->fingerprint();
    device.port = m_localSend->serverPort();
    device.https = m_localSend->secure();
    m_localSend->receiver().setDevice(device);
    m_localSend->receiver().setPin(m_localSendPin);
}

bool ReceivingService::serveLocalSend(localsend::Session* session) {
    if (isServing() && !dismissedServed()) {
        return false;
    }
    dropServed();
    auto* transfer = new LocalSendReceivingTransfer(session, this);
    serve(transfer, transfer->offer().address);
    // Told from the event loop: the view's slots may answer at once, and the sender's
    // request is answered from there too.
    QMetaObject::invokeMethod(transfer, &LocalSendReceivingTransfer::announce,
                              Qt::QueuedConnection);
    return true;
}

void ReceivingService::stopListening() {
    if (m_laneServer != nullptr) {
        m_laneServer->close();
    }
    if (m_localSend != nullptr) {
        m_localSend->closeAll();
    }
    // Closing the listener closes its connections without events: the served peer is let go
    // here and now, without a word to the view.
    dropServed();
    m_server->SetActive(false);
}

bool ReceivingService::isListening() const {
    return m_server->Active();
}

quint16 ReceivingService::listeningPort() const {
    const TListener* listener = m_server->Listener();
    return listener ? listener->LocalPort() : 0;
}

int ReceivingService::openConnectionCount() const {
    const TListener* listener = m_server->Listener();
    return listener ? listener->ConnectionCount() : 0;
}

bool ReceivingService::dismissedServed() const {
    return m_classic != nullptr && m_classic->dismissed();
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

void ReceivingService::clientConnect(TSocketConnection* socket) {
    if (activeConnectionCount() != 1 || (m_transfer != nullptr && !dismissedServed()) ||
        m_pairing != nullptr) {
        dismissConnection(socket, BusyNotice());
        emit busyPeerDismissed();
        return;
    }
    // A served peer that was told to go waits out its last moments unserved: this one takes
    // its place.
    dropServed();
    auto* transfer = new ClassicReceivingTransfer(
        socket, [this](const QString& folder) { return m_freeSpace(folder); }, this);
    m_classic = transfer;
    serve(transfer, socket->PeerAddressText());
}

void ReceivingService::laneConnect() {
    while (QTcpSocket* socket = m_laneServer->nextPendingConnection()) {
        if (isServing() && !dismissedServed()) {
            // Told at once and closed within half a second, as on the classic port.
            delete new LaneReceivingSession(socket, true, this);
            emit busyPeerDismissed();
            continue;
        }
        dropServed();
        auto* transfer = new LaneReceivingTransfer(socket, this);
        connect(transfer, &LaneReceivingTransfer::pairingAsked, this,
                &ReceivingService::startPairing);
        const auto* tls = qobject_cast<QSslSocket*>(socket);
        m_senderFingerprint = tls != nullptr ? lanetls::peerFingerprint(*tls) : QString();
        serve(transfer, socket->peerAddress().toString());
    }
}

void ReceivingService::serve(Transfer* transfer, const QString& address) {
    m_transfer = transfer;
    m_state = State::Connected;
    m_userPaused = false;
    m_offer = Offer();
    m_target.clear();
    m_startOffset = 0;
    m_clock.reset();
    connect(transfer, &Transfer::offered, this, &ReceivingService::offered);
    connect(transfer, &Transfer::started, this, [this](qint64 offset) {
        m_state = State::Receiving;
        m_startOffset = offset;
        if (!m_userPaused) {
            m_clock.run();
        }
        emit receptionStarted();
    });
    connect(transfer, &Transfer::flowing, this, [this] {
        if (!m_userPaused) {
            m_clock.run();
        }
        emit blockArrived();
    });
    connect(transfer, &Transfer::progress, this, [this, transfer](qint64 done, qint64 total) {
        emit progress(makeProgress(transfer->carrier(), done, total, m_startOffset, m_clock));
    });
    connect(transfer, &Transfer::peerPaused, this, [this] {
        m_clock.hold();
        emit peerPaused();
    });
    connect(transfer, &Transfer::peerResumed, this, [this] {
        if (m_userPaused) {
            emit peerResumed(true);
            return;
        }
        m_clock.run();
        emit peerResumed(false);
        emit blockArrived();
    });
    connect(transfer, &Transfer::pausedForUser, this, [this] {
        m_clock.hold();
        emit pausedForUser();
    });
    connect(transfer, &Transfer::diskFull, this, [this] {
        m_userPaused = true;
        m_clock.hold();
        emit diskFull();
    });
    connect(transfer, &Transfer::savedAs, this, [this](const QString& path) {
        m_target = path;
        emit savedUnderOtherName(path);
    });
    connect(transfer, &Transfer::activity, this, &ReceivingService::activity);
    connect(transfer, &Transfer::fileStarted, this, &ReceivingService::fileStarted);
    connect(transfer, &Transfer::fileEnded, this, &ReceivingService::fileEnded);
    connect(transfer, &Transfer::ended, this, &ReceivingService::endServed);
    emit peerConnected(address);
}

void ReceivingService::dropServed() {
    if (m_pairing != nullptr) {
        m_pairing->disconnect(this);
        m_pairing->deleteLater();  // closes the connection
        m_pairing = nullptr;
        m_state = State::Idle;
    }
    if (m_transfer == nullptr) {
        return;
    }
    if (m_classic != nullptr) {
        m_classic->letGo();
    }
    m_transfer->disconnect(this);
    m_transfer->deleteLater();
    m_transfer = nullptr;
    m_classic = nullptr;
    m_state = State::Idle;
    m_clock.hold();
}

void ReceivingService::startPairing(QTcpSocket* socket, const QByteArray& payload) {
    // The transfer that was to be served ends here, without an outcome: nothing was offered.
    if (m_transfer != nullptr) {
        m_transfer->disconnect(this);
        m_transfer->deleteLater();
        m_transfer = nullptr;
    }
    auto* tls = qobject_cast<QSslSocket*>(socket);
    if (!m_pairingAllowed || !m_laneIdentity || tls == nullptr) {
        // Nobody here could compare the code: said at once, so the other end does not wait.
        socket->write(lanewire::frame(lanewire::Type::Decline));
        closeGently(socket);
        m_state = State::Idle;
        emit pairingEnded(PairingOutcome::Refused,
                          m_senderFingerprint.isEmpty()
                              ? QString()
                              : fingerprint::shortForm(m_senderFingerprint));
        return;
    }
    m_state = State::Pairing;
    const quint64 serial = ++m_pairingSerial;
    m_pairing = new LanePairing(tls, PairingExchange::Role::Responder, m_laneIdentity, this);
    connect(m_pairing, &LanePairing::codeReady, this, [this, serial](const QString& code) {
        emit pairingCodeShown(serial, code, m_pairing->peerName(), m_pairing->peerFingerprint());
    });
    connect(m_pairing, &LanePairing::ended, this, &ReceivingService::endPairing);
    m_pairing->start(payload);
}

void ReceivingService::answerPairing(quint64 serial, bool yes) {
    if (m_pairing != nullptr && serial == m_pairingSerial) {
        m_pairing->confirm(yes);
    }
}

void ReceivingService::endPairing(PairingOutcome outcome) {
    LanePairing* pairing = m_pairing;
    m_pairing = nullptr;
    m_state = State::Idle;
    const QString label = pairing != nullptr ? pairing->peerLabel() : QString();
    if (pairing != nullptr) {
        pairing->disconnect(this);
        pairing->deleteLater();
    }
    emit pairingEnded(outcome, label);
}

void ReceivingService::offered(const TransferOffer& offer) {
    ++m_offerSerial;
    m_state = State::Offered;
    m_clock.reset();
    m_offer = offer;
    if (onLane()) {
        m_offer.senderFingerprint = m_senderFingerprint;
    }
    // The lane's sender, or a LocalSend sender that presented a certificate over TLS.
    if (!m_offer.senderFingerprint.isEmpty()) {
        m_offer.senderTrusted = m_laneIdentity && m_laneIdentity->trusts(m_offer.senderFingerprint);
    }
    emit offerArrived(m_offer);
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
    // Several LocalSend files go into the folder under their own names.
    const bool severalLocalSend = m_offer.viaLocalSend && m_offer.fileCount > 1;
    m_target = folder + (severalLocalSend ? QString() : m_offer.name);
    if (m_offer.kind == Offer::Kind::Text) {
        m_transfer->accept(m_folder);  // nothing is written: no question
        return;
    }
    m_state = State::Asking;
    if (m_freeSpace(m_folder) < m_offer.size) {
        m_question = Question::LowSpace;
        emit questionAsked(++m_questionId, m_question);
        return;
    }
    askContinueExisting();
}

void ReceivingService::decline() {
    if ((m_state == State::Offered || m_state == State::Asking) && isServing()) {
        m_transfer->decline();
    }
}

void ReceivingService::askContinueExisting() {
    if (m_offer.kind == Offer::Kind::Entries) {
        // Each file already there is continued only where the sender proves its start.
        m_transfer->accept(m_folder);
        return;
    }
    // LocalSend continues nothing: a file of the name is kept and the new one goes beside it.
    const bool continues = m_transfer->carrier() != Transfer::Carrier::LocalSend;
    if (continues && FileAccess::fileExists(m_target)) {
        m_question = Question::ContinueExisting;
        emit questionAsked(++m_questionId, m_question);
        return;
    }
    m_transfer->accept(m_target);
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
        m_transfer->decline();
        return;
    }
    m_transfer->accept(m_target);  // continues the file from its length
}

void ReceivingService::pauseByUser() {
    m_userPaused = true;
    if (m_transfer != nullptr) {
        m_transfer->pause();
    }
}

void ReceivingService::resumeByUser() {
    m_userPaused = false;
    if (m_transfer == nullptr) {
        return;
    }
    if (m_state == State::Receiving) {
        m_clock.run();
    }
    m_transfer->resume();
}

void ReceivingService::cancel() {
    if (m_pairing != nullptr) {
        m_pairing->cancel();  // ends it, through endPairing
        return;
    }
    if (m_transfer != nullptr && !dismissedServed()) {
        m_transfer->cancel();
    }
}

void ReceivingService::endServed(Outcome outcome) {
    Transfer* ended = m_transfer;
    m_transfer = nullptr;
    m_classic = nullptr;
    if (ended != nullptr) {
        ended->disconnect(this);
        ended->deleteLater();
    }
    m_state = State::Idle;
    m_userPaused = false;
    m_clock.hold();
    const bool listening = startListening();
    emit receptionEnded(outcome, listening);
}
