#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

#include "engine/outcome.h"
#include "engine/outgoingfile.h"
#include "identity/identity.h"
#include "lane/lanewire.h"
#include "lane/pauserate.h"

#include <memory>

class FileSource;
class QSslSocket;
struct LaneSendingEntries;
struct OutgoingEntries;

// The sending end of the fast lane: connects to the lane's port over TLS with this copy's
// identity (the peer's certificate is judged by setPeerCheck(), any when none; the fingerprint
// it showed is peerFingerprint()), greets, offers the file with this computer's name, proves its
// first K bytes (K the length of the receiver's file of that name) with their hash, streams the
// rest from where the receiver starts in large framed chunks read by a FileSource, and sends the
// whole file's hash for the receiver's check. When no lane answers (refused, silent for a second,
// no TLS or a failed handshake, or another protocol inside it), it says so at once with
// unavailable() and leaves the address to the classic protocol.
class LaneSendingSession : public QObject {
    Q_OBJECT

public:
    enum class End {
        Sent,      // the receiver has the file and its hash matches
        Mismatch,  // the receiver's hash did not match (the file changed, a disk fault)
        Busy,
        Declined,
        Cancelled,  // we or the receiver ended it
        CannotRead,
        WriteFailed,  // the receiver could not write
        Broken,       // the connection failed or the receiver broke the protocol
        Incomplete,   // several entries: some did not arrive (fileEnded() says which)
        // The peer check refused the receiver's certificate during the handshake: nothing of
        // the lane was said, and this copy's certificate was never shown to it.
        IdentityRefused,
    };
    // Asked once during the TLS handshake with the receiver's fingerprint; false stops there.
    using PeerCheck = std::function<bool(const QString& fingerprint)>;

    // Nothing answering on the lane's port within kGreetingMs means no lane. Once the TCP
    // connection is up the TLS handshake gets kHandshakeMs (key exchange and signatures cost
    // CPU on both ends, more so on a busy computer), and once it is done the receiver's
    // greeting kGreetingMs again.
    static constexpr int kGreetingMs = 1000;
    static constexpr int kHandshakeMs = 3000;

    LaneSendingSession(const OutgoingFile& file, const Identity& identity,
                       QObject* parent = nullptr);
    // Offers several entries, or a text, instead of one file (lanesendingentries.cpp). A
    // receiver of a lane too old for them reads as no lane: unavailable().
    LaneSendingSession(std::shared_ptr<const OutgoingEntries> entries, const Identity& identity,
                       QObject* parent = nullptr);
    ~LaneSendingSession() override;

    // Before start(): the name the offer carries (UTF-8, cut to lanewire::kMaxPeerName bytes),
    // and who may answer.
    void setSenderName(const QString& name) { m_senderName = name; }
    void setPeerCheck(PeerCheck check) { m_peerCheck = std::move(check); }
    void start(const QHostAddress& address, quint16 port);
    void pauseByUser();
    void resumeByUser();
    void cancel();
    // The receiver's certificate fingerprint, once the handshake has shown it (also when the
    // peer check refused it).
    const QString& peerFingerprint() const { return m_peerFingerprint; }

signals:
    void unavailable();
    void connected();
    void started();
    void progress(qint64 done, qint64 total);
    void pausedForUser();
    void peerPaused();
    void peerResumed();
    void ended(LaneSendingSession::End end);
    // Several entries: a file begins, or ended (`path` as listed).
    void fileStarted(const QString& path, qint64 size);
    void fileEnded(const QString& path, FileVerdict verdict);

private:
    enum class Phase { Connecting, Offered, Proving, Streaming, Finishing, Over };

    // No lane answered: the classic protocol takes over.
    void giveUp();
    void readPeer();
    void handle(lanewire::Type type, const QByteArray& payload);
    void accepted(const QByteArray& payload);
    void startAt(const QByteArray& payload);
    void takePause();
    void pump();
    void finish(End end);
    void send(const QByteArray& bytes);
    bool streamingAllowed() const;
    // The offer of several entries or a text (lanesendingentries.cpp).
    void offerEntries();
    // True when the frame was one of the entries' exchange (handled, or a violation).
    bool handleEntries(lanewire::Type type, const QByteArray& payload);
    void takePlan(const QByteArray& payload);
    void takeEntryStart(const QByteArray& payload);
    void takeFileResult(const QByteArray& payload);
    void takeEntriesResult(const QByteArray& payload);
    void streamEntries(const std::vector<quint32>& restart);
    void pumpEntries();

    OutgoingFile m_file;
    Identity m_identity;
    QString m_senderName;
    PeerCheck m_peerCheck;
    bool m_peerRefused = false;
    QString m_peerFingerprint;
    QPointer<QSslSocket> m_socket;
    QTimer m_greetingTimer;
    QByteArray m_greeting;
    lanewire::FrameReader m_reader;
    Phase m_phase = Phase::Connecting;
    FileSource* m_source = nullptr;
    qint64 m_prefix = 0;  // K, the length of the receiver's file of that name
    bool m_proofSent = false;
    qint64 m_sent = 0;
    QByteArray m_hash;  // the whole file's, once read
    bool m_userPaused = false;
    bool m_peerPaused = false;
    bool m_doneSent = false;
    bool m_ended = false;
    PauseRate m_pauseRate;
    QElapsedTimer m_sinceProgress;
    std::unique_ptr<LaneSendingEntries> m_entries;  // only for an offer of entries or a text
};
