#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "engine/outcome.h"
#include "lane/filesink.h"
#include "lane/lanewire.h"
#include "lane/pauserate.h"

#include <memory>

class QTcpSocket;
struct LaneReceivingEntries;
namespace entries {
struct Manifest;
}

// One peer on the fast lane, as the receiving role serves it: the greeting, its offer, the
// acceptance with the length of a file of that name already there, the sender's proof of
// those first bytes, the data written by a FileSink (after them, or into a new file when
// the proof fails), pauses and cancels both ways, and the final hash check. The questions before
// acceptance are the receiving role's; this class only carries out its decisions.
//
// Every byte from the peer is checked: a wrong greeting, a frame the reader refuses, a frame
// out of its place, data past the offered size or a peer silent for too long close the
// connection before anything is written.
class LaneReceivingSession : public QObject {
    Q_OBJECT

public:
    enum class End {
        Received,     // the whole file is there and its hash matches
        Mismatch,     // the hash of the file did not match the sender's
        WriteFailed,  // a write failed although the disk has room
        OpenFailed,   // the target is no plain file we may write (a link, a FIFO, locked)
        Declined,     // we said no
        Cancelled,    // we or the peer ended it
        BadName,      // the offered name cannot be a file name here
        Broken,       // the peer broke the protocol, or the connection failed
        Gone,         // the peer left before anything was agreed
        Incomplete,   // several entries: some did not arrive (fileEnded() says which)
    };
    // What the peer offers: one file, several entries, or a short text.
    enum class Kind { File, Entries, Text };

    // Takes the connection over. `busy` says the receiving role serves someone else: the
    // peer is greeted, told so and closed.
    LaneReceivingSession(QTcpSocket* socket, bool busy, QObject* parent = nullptr);
    ~LaneReceivingSession() override;

    QString peerAddress() const;
    const QString& offeredName() const { return m_name; }
    // The sender's name as its offer gave it (shownPeerName: empty when it sent none or one
    // that may not be shown).
    const QString& senderName() const { return m_senderName; }
    qint64 offeredSize() const { return m_size; }
    Kind offeredKind() const { return m_kind; }
    // Entries: the list offered (checked whole); null for one file or a text.
    const entries::Manifest* offeredEntries() const;
    const QString& offeredText() const { return m_text; }

    // Receive into `name` in `folder` (ending in "/", fixed by the receiving role),
    // continuing a file already there once the sender proves it holds its bytes. Entries go
    // under `folder` (`name` is not used); a text is taken at once.
    void accept(const QString& folder, const QString& name);
    // Where the file is written, once known: the offered name, or "name (n).ext" when the
    // folder held another file of that name.
    const QString& savedPath() const { return m_path; }
    void decline();
    void pauseByUser();
    void resumeByUser();
    void cancel();
    // After a disk-full pause, when the user resumes.
    bool waitingForRoom() const { return m_diskFull; }

signals:
    void offered();
    void started();
    void progress(qint64 done, qint64 total);
    void peerPaused();
    void peerResumed();
    void pausedForUser();
    void diskFull();
    // The folder held another file of the offered name: this one goes to `path`.
    void savedUnderOtherName(const QString& path);
    // The peer asked for pairing instead of offering a file: `socket` (greetings done) and
    // the payload of its first PAIR frame now belong to the receiver of this signal, and this
    // session ends without ended().
    void pairingAsked(QTcpSocket* socket, const QByteArray& payload);
    void ended(LaneReceivingSession::End end);
    // Several entries: a file begins, or ended (`path` relative, where it was written).
    void fileStarted(const QString& path, qint64 size);
    void fileEnded(const QString& path, FileVerdict verdict);

private:
    enum class Phase {
        Greeting,
        Waiting,    // for the offer
        Offered,    // the user is asked
        Measuring,  // the sink opens the file
        Proving,    // ACCEPT sent, the sender's proof awaited
        Starting,   // the sink compares the proof
        Receiving,
        Checking,  // DONE came: the last bytes are written and the hash compared
        Over
    };

    void readPeer();
    void handle(lanewire::Type type, const QByteArray& payload);
    void takeData(const QByteArray& payload);
    void handOverForPairing(const QByteArray& payload);
    void measured(qint64 length);
    void ready(qint64 offset, const QString& path);
    void sinkFailed(FileSink::Failure failure);
    void peerClosed();
    void endIfPeerGone();
    // Arms the limit on the peer's silence for this phase, or stops it while nothing is due.
    void watchSilence();
    void stopSink();
    void sinkFinished(const QByteArray& hash);
    void finish(End end);
    void send(const QByteArray& bytes);
    // The reader waits: the writer's queue is full, or the user paused the data.
    bool holdingInput() const;
    // Offers of several entries or of a text (lanereceivingentries.cpp). True when the frame
    // was one of that exchange (handled, or a violation).
    bool handleEntries(lanewire::Type type, const QByteArray& payload);
    void takeEntriesPiece(const QByteArray& payload);
    void takeText(const QByteArray& payload);
    void acceptEntries(const QString& folder);
    void entriesPlanned();
    void entriesWritten();
    void takeEntryProof(const QByteArray& payload);
    void startEntriesIfProved();
    void takeFile(const QByteArray& payload);
    void takeEntriesData(const QByteArray& payload);
    void takeFileDone(const QByteArray& payload);
    void takeFileSkip(const QByteArray& payload);
    void takeEnd();
    void entriesProgress(bool now);

    QPointer<QTcpSocket> m_socket;
    QString m_address;
    lanewire::FrameReader m_reader;
    QByteArray m_greeting;
    quint16 m_version = 0;  // the version chosen in the greeting
    Phase m_phase = Phase::Greeting;
    bool m_busy;
    QTimer m_silence;  // a peer that says nothing for a while is closed
    FileSink* m_sink = nullptr;
    QString m_name;
    QString m_senderName;
    QString m_path;
    qint64 m_size = 0;
    qint64 m_prefix = 0;    // K, the length of the file of that name
    qint64 m_received = 0;  // up to here the file is known (offset + data taken)
    QByteArray m_doneHash;
    bool m_userPaused = false;
    bool m_peerPaused = false;
    bool m_diskFull = false;
    bool m_ended = false;
    bool m_peerGone = false;  // the peer closed; what it sent before is still read
    PauseRate m_pauseRate;
    QElapsedTimer m_sinceProgress;
    Kind m_kind = Kind::File;
    QString m_text;
    std::unique_ptr<LaneReceivingEntries> m_entries;  // from the first piece of a list on
};
