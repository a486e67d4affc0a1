#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "lane/lanewire.h"

class FileSink;
class QTcpSocket;

// One peer on the fast lane, as the receiving role serves it: the greeting, its offer, the
// acceptance from an offset with the hash of the bytes already there, the data written by a
// FileSink, pauses and cancels both ways, and the final hash check. The questions before
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
        Refused,      // the sender found the partial file was not the start of its file
        WriteFailed,  // a write failed although the disk has room
        OpenFailed,   // the target is no plain file we may write (a link, a FIFO, locked)
        Declined,     // we said no
        Cancelled,    // we or the peer ended it
        BadName,      // the offered name cannot be a file name here
        Broken,       // the peer broke the protocol, or the connection failed
        Gone,         // the peer left before anything was agreed
    };

    // Takes the connection over. `busy` says the receiving role serves someone else: the
    // peer is greeted, told so and closed.
    LaneReceivingSession(QTcpSocket* socket, bool busy, QObject* parent = nullptr);
    ~LaneReceivingSession() override;

    QString peerAddress() const;
    const QString& offeredName() const { return m_name; }
    qint64 offeredSize() const { return m_size; }

    // Receive into `target` (fixed by the receiving role), continuing a file already there.
    void accept(const QString& target);
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
    void ended(LaneReceivingSession::End end);

private:
    enum class Phase { Greeting, Waiting, Offered, Hashing, Receiving, Checking, Over };

    void readPeer();
    void handle(lanewire::Type type, const QByteArray& payload);
    void takeData(const QByteArray& payload);
    void prefixHashed(qint64 offset, const QByteArray& hash);
    void sinkFinished(const QByteArray& hash);
    void finish(End end);
    void send(const QByteArray& bytes);

    QPointer<QTcpSocket> m_socket;
    QString m_address;
    lanewire::FrameReader m_reader;
    QByteArray m_greeting;
    Phase m_phase = Phase::Greeting;
    bool m_busy;
    QTimer m_silence;  // a peer that says nothing for a while is closed
    FileSink* m_sink = nullptr;
    QString m_name;
    qint64 m_size = 0;
    qint64 m_received = 0;  // up to here the file is known (offset + data taken)
    QByteArray m_doneHash;
    bool m_userPaused = false;
    bool m_peerPaused = false;
    bool m_diskFull = false;
    bool m_ended = false;
    QElapsedTimer m_sinceProgress;
};
