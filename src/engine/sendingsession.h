#pragma once

#include <QObject>
#include <QString>

#include <optional>

#include "engine/outcome.h"
#include "engine/outgoingfile.h"
#include "engine/peerinput.h"
#include "engine/transferclock.h"
#include "engine/transferprogress.h"
#include "transfer/blockmessagebuffer.h"
#include "transfer/fileaccess.h"
#include "transfer/senderinput.h"

class LaneSendingSession;
class ReceivingService;
class TClientEndpoint;
class TSocketConnection;
class TTimer;

// The sending role: offers the chosen file to an address, answers every block request of
// the receiver with one block read from the file, pauses, resumes and cancels, and reports
// how the send ended. While it sends, the receiving role (when given) stops listening.
class SendingSession : public QObject {
    Q_OBJECT

public:
    enum class State {
        Idle,        // nothing under way
        Connecting,  // looking the name up or connecting
        Offered,     // connected, the offer sent, no request yet
        Sending,     // serving block requests
    };

    // `elapsed` counts the seconds of the transfer (its Tag), shared with the receiving
    // role; `listener` is the receiving role to stop while sending (may be null).
    SendingSession(quint16 port, TTimer* elapsed, ReceivingService* listener,
                   QObject* parent = nullptr);
    // Closes an open connection without further events.
    ~SendingSession() override;

    // Chooses the file to send. False when it cannot be opened: then nothing is chosen.
    bool chooseFile(const QString& path);
    const std::optional<OutgoingFile>& file() const { return m_file; }

    // Connects to `address` (a dotted IPv4 address, or a name looked up first, either with
    // an optional ":PORT" that replaces this session's port for this send) and offers the
    // chosen file. Ends at once, as BadAddress, for an address that cannot be used.
    void start(const QString& address);
    // Ends the send; the receiver keeps what it has.
    void cancel();
    // "Pausa" and "Reanudar" of the sending user.
    void pauseByUser();
    void resumeByUser();
    bool userPaused() const { return m_userPaused; }

    // Tries the fast lane (the port after this one) before the classic protocol.
    void setLaneEnabled(bool on) { m_laneEnabled = on; }
    bool laneEnabled() const { return m_laneEnabled; }
    // The send under way goes over the fast lane.
    bool onLane() const { return m_lane != nullptr && m_state != State::Connecting; }

    State state() const { return m_state; }
    TClientEndpoint* endpoint() const { return m_client; }
    TTimer* connectTimer() const { return m_connecting; }

signals:
    // The text of the connecting animation ("C", "Co", ... "Conectando", then empty).
    void connectStep(const QString& text);
    void connected();
    // A block was asked for; the answer follows.
    void blockRequested();
    void progress(const TransferProgress& progress);
    // The user's pause took effect: the receiver was told to pause.
    void pausedForUser();
    void peerPaused();
    // The send is over. `listening` says whether the receiving role listens again.
    void sendingEnded(Outcome outcome, bool listening);
    // The outcome was found to be another after sendingEnded (an address refused while the
    // connect was being set up).
    void outcomeAmended(Outcome outcome);
    void activity();

private:
    void lookedUp(quint64 lookup, const QString& address);
    void connectTo(const QString& address);
    void connectClassic(const QString& address);
    void laneEnded(int end);
    void connectingTimer();
    void clientConnect(TSocketConnection* socket);
    void clientRead(TSocketConnection* socket);
    void clientDisconnect();
    void clientError(TSocketConnection* socket, TErrorEvent event, int& errorCode);
    void dispatch(const SenderInput::Message& message, TSocketConnection* socket);
    void sendBlock(qint64 index);
    void finish();

    TClientEndpoint* m_client;
    TTimer* m_elapsed;
    TransferClock m_clock;
    TTimer* m_connecting;
    ReceivingService* m_listener;

    State m_state = State::Idle;
    std::optional<OutgoingFile> m_file;
    QByteArray m_wireName;  // the offered name, encoded once per send
    FileAccess m_files;
    BlockMessageBuffer m_blockMessage;  // the block being sent, read straight into it
    SenderInput m_input;
    AnswerBacklog m_backlog;
    Outcome m_outcome = Outcome::None;
    bool m_userPaused = false;
    bool m_pauseSent = false;  // the receiver was told to pause and not yet to resume
    quint64 m_lookup = 0;      // the name lookup this send waits for; 0 when none
    quint16 m_port;            // for an address without ":PORT"
    quint16 m_peerPort;        // the send under way's: the classic protocol's, the lane on the next
    bool m_laneEnabled = false;
    LaneSendingSession* m_lane = nullptr;
};
