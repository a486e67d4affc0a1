#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

#include "engine/outcome.h"
#include "engine/peerinput.h"
#include "engine/transferprogress.h"
#include "transfer/fileaccess.h"
#include "transfer/receiverinput.h"
#include "transfer/receiversession.h"

class LaneReceivingSession;
class QTcpServer;
class TServerEndpoint;
class TSocketConnection;
class TTimer;

// The receiving role: listens for senders, serves one peer at a time (the others are told
// they are busy and dismissed), shows its offer to the view, asks the view's questions
// before accepting, pulls the file block by block into the receive folder, follows pauses
// from either side and reports how the reception ended.
//
// The view is told everything through signals and answers questions later through
// answer(): nothing here waits for a person, so no nested event loop ever runs under the
// read path. A question carries an id; an answer for a question that no longer stands (the
// peer went, another offer came) is ignored.
class ReceivingService : public QObject {
    Q_OBJECT

public:
    enum class State {
        Idle,       // nobody served
        Connected,  // a peer is served and has offered nothing yet
        Offered,    // its offer waits for the user
        Asking,     // the user accepted and a question is open
        Receiving,  // blocks are asked for and written
    };
    enum class Question { LowSpace, ContinueExisting };
    struct Offer {
        QString name;  // the local form of the offered name
        qint64 size = 0;
        QString address;
    };

    // `elapsed` counts the seconds of the transfer (its Tag) and is shared with the sending
    // role, as both never run at once.
    ReceivingService(quint16 port, TTimer* elapsed, QObject* parent = nullptr);
    // Closes every connection without further events.
    ~ReceivingService() override;

    // Listening on the port; false (and listenFailed) when it cannot be opened.
    bool startListening();
    // Stops listening and closes every connection; a served peer is let go here and now,
    // with the same clean-up as when it leaves, but without a word to the view.
    void stopListening();
    bool isListening() const;
    quint16 listeningPort() const;

    // The user accepted the offer into `folder` (with its final "/"). The target path is
    // fixed here, for the whole transfer; the questions follow.
    void acceptOffer(const QString& folder);
    // The user's answer to question `id`.
    void answer(quint64 id, bool yes);
    // "Pausa" and "Reanudar" of the receiving user. While the user has paused, nothing is
    // asked for, whatever the sender sends.
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
    // The connection served: the oldest one open that was not told to go; null when none
    // (and while a peer of the fast lane is served).
    TSocketConnection* servedConnection() const;
    // A peer is served, on either port.
    bool isServing() const { return servedConnection() != nullptr || m_lane != nullptr; }

    // Also listens on the fast lane, the port after this one (where it can be opened), while
    // it listens at all. One transfer is served across both ports.
    void setLaneEnabled(bool on);
    bool laneListening() const;
    // The transfer served goes over the fast lane.
    bool onLane() const { return m_lane != nullptr; }

    // How the free space of a folder is told (FileAccess::freeSpace unless a test says
    // otherwise, to make a disk look full).
    using FreeSpaceProbe = std::function<qint64(const QString& folder)>;
    void setFreeSpaceProbe(FreeSpaceProbe probe) { m_freeSpace = std::move(probe); }

    TServerEndpoint* endpoint() const { return m_server; }
    TTimer* intruderTimer() const { return m_intruder; }

signals:
    void listenFailed();
    void peerConnected(const QString& address);
    // An extra peer came while one is served; it was told so and goes in 500 ms.
    void busyPeerDismissed();
    // Over the lane the folder held another file of the offered name (not a start of this
    // one): it is kept, and this file is written to `path` ("name (1).ext"), which
    // targetPath() gives from now on.
    void savedUnderOtherName(const QString& path);
    void offerArrived(const ReceivingService::Offer& offer);
    void questionAsked(quint64 id, ReceivingService::Question question);
    // The first block of a new file was asked for.
    void receptionStarted();
    // A block arrived from the sender and is about to be written.
    void blockArrived();
    void progress(const TransferProgress& progress);
    void peerPaused();
    // The sender resumed; the transfer goes on unless the user has paused too.
    void peerResumed(bool userStillPaused);
    // The user's pause took effect: the sender was told to pause.
    void pausedForUser();
    // A block could not be written for want of space: the transfer is paused as if by the
    // user, who resumes it when there is room.
    void diskFull();
    // The served peer is gone. `listening` says whether the port is open again.
    void receptionEnded(Outcome outcome, bool listening);
    // Input was handled (the activity bar's step).
    void activity();

private:
    void clientConnect(TSocketConnection* socket);
    void clientRead(TSocketConnection* socket);
    void clientDisconnect(TSocketConnection* socket);
    void clientError(TSocketConnection* socket, int& errorCode);
    void intruderTimeout();
    void laneConnect();
    void laneEnded(int end);
    void openLane();

    void dispatch(const ReceiverInput::Message& message, TSocketConnection* socket);
    void takeOffer(const ReceiverInput::Message& message, TSocketConnection* socket);
    void takeBlock(const ReceiverInput::Message& message, TSocketConnection* socket);
    void takePause(TSocketConnection* socket);
    void takeResume(TSocketConnection* socket);
    // Closes the served peer for a message that breaks the protocol.
    void closeForViolation(TSocketConnection* socket);
    // Asks for the block at the file's end, or tells the peer the file is complete. The
    // length is measured with an open of the file unless the caller knows it already.
    void requestNextBlock(std::optional<qint64> knownLength = std::nullopt);
    void askContinueExisting();
    void startNewFile();
    void endServed(Outcome outcome);
    void dismiss(TSocketConnection* connection, const QByteArray& notice);
    int activeConnectionCount() const;
    bool questionStands(quint64 id) const;

    TServerEndpoint* m_server;
    TTimer* m_elapsed;
    TTimer* m_intruder;

    State m_state = State::Idle;
    Offer m_offer;
    QString m_folder;
    QString m_target;
    FileAccess m_files;
    ReceiverInput m_input;
    ReceiverSession m_session;
    AnswerBacklog m_backlog;
    QPointer<TSocketConnection> m_served;
    bool m_servedDismissed = false;  // told to go: waits out its last moments unserved
    Outcome m_outcome = Outcome::None;
    bool m_userPaused = false;
    bool m_listenWanted = true;
    quint64 m_offerSerial = 0;
    quint64 m_questionId = 0;
    FreeSpaceProbe m_freeSpace = &FileAccess::freeSpace;
    Question m_question = Question::LowSpace;
    bool m_laneEnabled = false;
    QTcpServer* m_laneServer = nullptr;
    LaneReceivingSession* m_lane = nullptr;  // the peer served on the lane
};
