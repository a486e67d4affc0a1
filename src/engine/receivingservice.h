#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include "engine/outcome.h"
#include "engine/pairingoutcome.h"
#include "engine/transfer.h"
#include "engine/transferclock.h"
#include "engine/transferprogress.h"
#include "localsend/deviceinfo.h"

class ClassicReceivingTransfer;
class LaneIdentity;
class LanePairing;
class QTcpSocket;
class LaneReceivingSession;
class SecureLaneServer;
class TServerEndpoint;
class TSocketConnection;
namespace localsend {
class Server;
class Session;
}  // namespace localsend

// The receiving role: listens on the classic port and the fast lane's, serves one peer at a
// time across both (the others are told they are busy and dismissed), shows the served
// peer's offer to the view, asks the view's questions before accepting, and reports how the
// reception ended. Each served peer is a Transfer of its carrier; this role only
// coordinates.
//
// The view is told everything through signals and answers questions later through
// answer(): nothing here waits for a person. A question carries an id; an answer for a
// question that no longer stands (the peer went, another offer came) is ignored.
class ReceivingService : public QObject {
    Q_OBJECT

public:
    enum class State {
        Idle,       // nobody served
        Connected,  // a peer is served and has offered nothing yet
        Offered,    // its offer waits for the user
        Asking,     // the user accepted and a question is open
        Receiving,  // the file is being received
        Pairing,    // a lane peer asked for pairing instead of offering a file
    };
    enum class Question { LowSpace, ContinueExisting };
    using Offer = TransferOffer;
    struct ListenError {
        QString message;  // the socket layer's own text
    };

    explicit ReceivingService(quint16 port, QObject* parent = nullptr);
    // Closes every connection without further events.
    ~ReceivingService() override;

    // Listens on the port (and the lane's, where enabled and free); the error when the port
    // cannot be opened.
    std::optional<ListenError> listen();
    // The same, saying only whether it listens (listenFailed tells the view otherwise).
    bool startListening();
    // Stops listening and closes every connection; a served peer is let go here and now,
    // without a word to the view.
    void stopListening();
    bool isListening() const;
    quint16 listeningPort() const;
    // Connections open on the classic port (served, waiting to be dismissed, or extra).
    int openConnectionCount() const;

    // The user accepted the offer into `folder` (with its final "/"). The target path is
    // fixed here, for the whole transfer; the questions follow.
    void acceptOffer(const QString& folder);
    // The user said no to the offer.
    void decline();
    // The user's answer to question `id`.
    void answer(quint64 id, bool yes);
    // "Pausa" and "Reanudar" of the receiving user. While the user has paused, nothing more
    // is taken from the sender.
    void pauseByUser();
    void resumeByUser();
    bool userPaused() const { return m_userPaused; }
    // Ends the served transfer; a partial file stays for a later resume.
    void cancel();

    State state() const { return m_state; }
    const Offer& offer() const { return m_offer; }
    // Counts offers, so a view that asked something of the user can tell the offer it asked
    // about still stands.
    quint64 offerSerial() const { return m_offerSerial; }
    QString targetPath() const { return m_target; }
    // The folder the offer accepted goes into (with its final "/").
    QString targetFolder() const { return m_folder; }
    // A peer is served, on either port (a transfer, or a pairing).
    bool isServing() const { return m_transfer != nullptr || m_pairing != nullptr; }
    // The transfer served goes over the fast lane.
    bool onLane() const;
    const TransferClock& clock() const { return m_clock; }

    // Also listens on the fast lane, the port after this one (where it can be opened), while
    // it listens at all. One transfer is served across both ports.
    void setLaneEnabled(bool on);
    bool laneListening() const;
    // The identity the lane presents in its TLS handshake, and whose trusted computers mark
    // offers as trusted. Without one the lane stays closed. Set it before listening.
    void setLaneIdentity(std::shared_ptr<const LaneIdentity> identity);

    // Lane peers may ask for pairing: the view can ask its user (a window, a terminal). Off
    // by default: the request is then declined at once (DECLINE to its PAIR).
    void setPairingAllowed(bool on) { m_pairingAllowed = on; }
    // The user's answer to the code of pairingCodeShown() with this serial; a stale one is
    // ignored.
    void answerPairing(quint64 serial, bool yes);
    // Counts pairings asked of this copy.
    quint64 pairingSerial() const { return m_pairingSerial; }
    // Also serves LocalSend senders on `port` (HTTPS with the lane's identity, and plain
    // HTTP) while it listens at all, where that port can be opened. One transfer is served
    // across every port. Set the identity first.
    void setLocalSendEnabled(bool on, quint16 port = localsend::kDefaultPort);
    bool localSendListening() const;
    // What LocalSend devices are told this copy is (its alias and device type) and the PIN
    // they must give (empty: none).
    void setLocalSendDevice(const QString& alias, const QString& deviceType,
                            const QString& pin = QString());
    // The LocalSend server (the devices that register with it, its port); null until
    // LocalSend has been opened once.
    localsend::Server* localSendServer() const { return m_localSend; }

    // How the free space of a folder is told (FileAccess::freeSpace unless a test says
    // otherwise, to make a disk look full).
    using FreeSpaceProbe = std::function<qint64(const QString& folder)>;
    void setFreeSpaceProbe(FreeSpaceProbe probe) { m_freeSpace = std::move(probe); }

signals:
    void listenFailed();
    void peerConnected(const QString& address);
    // An extra peer came while one is served; it was told so and goes.
    void busyPeerDismissed();
    // The folder held another file of the offered name (not a start of this one): it is
    // kept, and this file is written to `path` ("name (1).ext"), which targetPath() gives
    // from now on.
    void savedUnderOtherName(const QString& path);
    void offerArrived(const ReceivingService::Offer& offer);
    void questionAsked(quint64 id, ReceivingService::Question question);
    // The file is being received (from its start, or from where a partial file ends).
    void receptionStarted();
    // Data arrived (or flows again).
    void blockArrived();
    void progress(const TransferProgress& progress);
    void peerPaused();
    // The sender resumed; the transfer goes on unless the user has paused too.
    void peerResumed(bool userStillPaused);
    // The user's pause took effect: the sender was told to pause.
    void pausedForUser();
    // A write failed for want of space: the transfer is paused as if by the user, who
    // resumes it when there is room.
    void diskFull();
    // The served peer is gone. `listening` says whether the port is open again.
    void receptionEnded(Outcome outcome, bool listening);
    // Input was handled (the activity bar's step).
    void activity();
    // A lane peer asks for pairing: the same code shows on both computers when nobody stands
    // between them; the user says whether it does, through answerPairing(serial, yes).
    void pairingCodeShown(quint64 serial, const QString& code, const QString& peerName,
                          const QString& peerFingerprint);
    // The pairing is over. `peerLabel` is the peer's name, or its short fingerprint.
    void pairingEnded(PairingOutcome outcome, const QString& peerLabel);
    // Offers of several files (lane entries, LocalSend): a file begins, or ended (`path`
    // relative to the receive folder, where it was written).
    void fileStarted(const QString& path, qint64 size);
    void fileEnded(const QString& path, FileVerdict verdict);

private:
    void clientConnect(TSocketConnection* socket);
    void laneConnect();
    void openLane();
    void openLocalSend();
    bool serveLocalSend(localsend::Session* session);
    // The served peer's transfer: the role follows it from here.
    void serve(Transfer* transfer, const QString& address);
    void dropServed();
    void startPairing(QTcpSocket* socket, const QByteArray& payload);
    void endPairing(PairingOutcome outcome);
    void offered(const TransferOffer& offer);
    void askContinueExisting();
    void endServed(Outcome outcome);
    int activeConnectionCount() const;
    bool questionStands(quint64 id) const;
    bool dismissedServed() const;

    TServerEndpoint* m_server;
    SecureLaneServer* m_laneServer = nullptr;
    bool m_laneEnabled = false;
    std::shared_ptr<const LaneIdentity> m_laneIdentity;
    QString m_senderFingerprint;  // the served lane peer's
    localsend::Server* m_localSend = nullptr;
    bool m_localSendEnabled = false;
    quint16 m_localSendPort = localsend::kDefaultPort;
    QString m_localSendAlias;
    QString m_localSendType = QStringLiteral("desktop");
    QString m_localSendPin;
    TransferClock m_clock;

    Transfer* m_transfer = nullptr;                 // the peer served, on either port
    ClassicReceivingTransfer* m_classic = nullptr;  // the same when it is a classic peer
    State m_state = State::Idle;
    Offer m_offer;
    QString m_folder;
    QString m_target;
    qint64 m_startOffset = 0;
    bool m_userPaused = false;
    quint64 m_offerSerial = 0;
    quint64 m_questionId = 0;
    FreeSpaceProbe m_freeSpace;
    Question m_question = Question::LowSpace;
    LanePairing* m_pairing = nullptr;  // the pairing served instead of a transfer
    bool m_pairingAllowed = false;
    quint64 m_pairingSerial = 0;
};
