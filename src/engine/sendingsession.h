#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

#include "engine/outcome.h"
#include "engine/outgoingentries.h"
#include "engine/outgoingfile.h"
#include "engine/transfer.h"
#include "engine/transferclock.h"
#include "engine/transferprogress.h"

class LaneIdentity;
class ReceivingService;

// The sending role: offers the chosen file to an address through a carrier (the fast lane
// first where enabled, the classic protocol when no lane answers), follows it, and reports
// how the send ended. While it sends, the receiving role (when given) stops listening.
//
// The identity that answers on the lane at an address is remembered (pins.json in the lane
// identity's folder). Another identity there later stops the send before anything is
// offered (IdentityChanged), and an address with an identity remembered whose lane does not
// answer is not sent to over the classic port, which has no encryption and no identity
// (LaneUnanswered): both are what a computer standing in for the right one would look like.
// The user may then send again with setAcceptNewIdentity() or setForceClassic().
class SendingSession : public QObject {
    Q_OBJECT

public:
    enum class State {
        Idle,        // nothing under way
        Connecting,  // looking the name up or connecting
        Offered,     // connected, the offer made, no data asked for yet
        Sending,     // data flows (or is paused)
    };

    // `listener` is the receiving role to stop while sending (may be null).
    SendingSession(quint16 port, ReceivingService* listener, QObject* parent = nullptr);
    ~SendingSession() override;

    // Chooses the file to send. False when it cannot be opened: then nothing is chosen.
    bool chooseFile(const QString& path);
    const std::optional<OutgoingFile>& file() const { return m_file; }
    // Chooses files and folders to send in one offer, in order. One plain file is chosen as
    // chooseFile() does; anything more is collected into a list of entries (links inside
    // folders skipped, entries() says what was left out). False when nothing could be
    // chosen.
    bool chooseFiles(const QStringList& paths);
    // Chooses a short text to send instead of files; false when it cannot be offered (empty,
    // too long, control characters).
    bool chooseText(const QString& text);
    // The entries or the text chosen; null when one file is chosen.
    const std::shared_ptr<const OutgoingEntries>& entries() const { return m_entries; }
    // What is chosen: one file's size, or the entries' total.
    qint64 chosenSize() const;

    // Connects to `address` (a dotted IPv4 address, or a name looked up first, either with
    // an optional ":PORT" that replaces this session's port for this send) and offers the
    // chosen file. An address that cannot be used ends it as BadAddress, never before this
    // returns.
    void start(const QString& address);
    // Ends the send; the receiver keeps what it has.
    void cancel();
    // "Pausa" and "Reanudar" of the sending user.
    void pauseByUser();
    void resumeByUser();
    bool userPaused() const { return m_userPaused; }

    // Tries the fast lane (the port after this one) before the classic protocol. The lane
    // is tried only with an identity to present in its TLS handshake.
    void setLaneEnabled(bool on) { m_laneEnabled = on; }
    void setLaneIdentity(std::shared_ptr<const LaneIdentity> identity);
    const std::shared_ptr<const LaneIdentity>& laneIdentity() const { return m_laneIdentity; }
    bool laneEnabled() const { return m_laneEnabled; }
    // The send under way goes over the fast lane.
    bool onLane() const;

    // For the next send only (cleared when it ends): another identity than the one
    // remembered may answer at the address, and is remembered instead.
    void setAcceptNewIdentity(bool on) { m_acceptNewIdentity = on; }
    // For the next send only: the classic protocol without trying the lane (the user agreed
    // to send unencrypted).
    void setForceClassic(bool on) { m_forceClassic = on; }
    // After IdentityChanged: the identity remembered at the address and the one that
    // answered (full fingerprints).
    struct IdentityChange {
        QString was;
        QString now;
    };
    const IdentityChange& identityChange() const { return m_identityChange; }
    // The address of the send under way or just ended, as given to start(), and its classic
    // port.
    const QString& address() const { return m_address; }
    quint16 classicPort() const { return m_peerPort; }

    State state() const { return m_state; }
    const TransferClock& clock() const { return m_clock; }

signals:
    void connected();
    // Data is asked for (again); the answer follows.
    void blockRequested();
    void progress(const TransferProgress& progress);
    // The user's pause took effect: the receiver was told to pause.
    void pausedForUser();
    void peerPaused();
    // The send is over. `listening` says whether the receiving role listens again.
    void sendingEnded(Outcome outcome, bool listening);
    void activity();
    // Several files: one begins, or ended (`path` relative, as offered).
    void fileStarted(const QString& path, qint64 size);
    void fileEnded(const QString& path, FileVerdict verdict);

private:
    void lookedUp(quint64 lookup, const QString& address);
    // Reads the identity remembered for the address of this send.
    void readPin(const QString& key);
    void rememberPin(const QString& fingerprint);
    void connectTo(const QString& address);
    void connectClassic(const QString& address);
    void follow(Transfer* transfer);
    // A peer that takes one file per offer gets each file in turn, one offer each.
    void sendNextInTurn();
    void transferEnded(Outcome outcome);
    void dropTransfer();
    void finish(Outcome outcome);

    ReceivingService* m_listener;
    quint16 m_port;      // for an address without ":PORT"
    quint16 m_peerPort;  // the send under way's: the classic protocol's, the lane on the next
    TransferClock m_clock;
    State m_state = State::Idle;
    std::optional<OutgoingFile> m_file;
    std::shared_ptr<const OutgoingEntries> m_entries;
    // Files sent one offer each: the next index of the list, and what the earlier ones did.
    std::optional<qsizetype> m_inTurn;
    QString m_inTurnAddress;
    qint64 m_inTurnDone = 0;
    int m_inTurnBusy = 0;
    bool m_inTurnFailed = false;
    Transfer* m_transfer = nullptr;
    bool m_laneEnabled = false;
    std::shared_ptr<const LaneIdentity> m_laneIdentity;
    bool m_laneAttempt = false;  // the transfer is a lane still asking whether it is there
    bool m_userPaused = false;
    qint64 m_startOffset = 0;
    quint64 m_lookup = 0;  // the name lookup this send waits for; 0 when none
    QString m_address;
    QString m_pinKey;  // the address as remembered (PinStore::key)
    QString m_pinned;  // the identity remembered there; empty when none
    IdentityChange m_identityChange;
    bool m_acceptNewIdentity = false;
    bool m_forceClassic = false;
};
