#pragma once

#include <QObject>
#include <QString>

#include "engine/outcome.h"

// What a peer offers: shown to the user before anything is written.
struct TransferOffer {
    // The local form of the offered name; for entries, the first entry's (a folder's name
    // when one folder is offered).
    QString name;
    qint64 size = 0;  // for entries, the total of the files
    QString address;  // the peer's address as text
    // Who sends, by the certificate it proved it holds in the lane's TLS handshake: its
    // fingerprint, and whether this copy trusts it. Empty and false on the classic port,
    // which cannot tell.
    QString senderFingerprint;
    bool senderTrusted = false;
    // The name the sender gave itself in its offer, for showing only (who it is, is the
    // fingerprint): empty on the classic port, when it sent none, or when it may not be
    // shown (not UTF-8, control characters).
    QString senderName;
    // One file; several files and folders (a list of entries); or a short text.
    enum class Kind { File, Entries, Text };
    Kind kind = Kind::File;
    // How many files are offered: entries count the files of their list (folders apart); a
    // LocalSend offer of several files is a File offer whose `name` says how many.
    qint64 fileCount = 1;
    qint64 folderCount = 0;  // Entries: how many folders the list holds
    QString text;            // Text: the text offered
    // Offered by a LocalSend device, which says what device it is (may be empty).
    bool viaLocalSend = false;
    QString senderModel;
};

// One transfer in progress, whatever carries it (the classic protocol, the fast lane, ...).
// A carrier speaks its peer's protocol and does the file work of one transfer; the roles
// above it only coordinate (ports, one transfer at a time, the user's questions, fallback).
//
// Progress is in bytes of the file; the clock and the figures shown belong to the roles.
// `ended` comes exactly once, after which the carrier emits nothing more; the role that owns
// it deletes it later. Verbs that do not apply to a side or a phase are ignored.
class Transfer : public QObject {
    Q_OBJECT

public:
    enum class Carrier { Classic, Lane, LocalSend };

    using QObject::QObject;

    virtual Carrier carrier() const = 0;

    // Receiving side: take the offer into `target` (fixed by the role), continuing a file
    // already there when the carrier can prove it is the start of the same file.
    virtual void accept(const QString& target) = 0;
    virtual void decline() = 0;
    // The user's "Pausa" and "Reanudar".
    virtual void pause() = 0;
    virtual void resume() = 0;
    // Ends the transfer; a receiver keeps what it wrote for a later resume.
    virtual void cancel() = 0;

signals:
    // Sending side: the receiver answered and the offer is made.
    void connected();
    // Receiving side: the peer offered a file.
    void offered(const TransferOffer& offer);
    // Bytes flow from `offset` (a continued file starts past its first byte).
    void started(qint64 offset);
    // Data moves (again): a block was asked for or arrived, or a pause ended.
    void flowing();
    void progress(qint64 done, qint64 total);
    // Receiving side: another file of the offered name is kept; this one goes to `path`.
    void savedAs(const QString& path);
    // The user's pause took effect: the peer was told.
    void pausedForUser();
    void peerPaused();
    void peerResumed();
    // A write failed for want of space: paused as if by the user, who resumes when there is
    // room.
    void diskFull();
    // Offers of several files (lane entries, LocalSend): one file begins, or ended. `path` is
    // relative, as listed (the sender's path; the receiver's, where it was written, which for
    // LocalSend may be beside another file of the listed name).
    void fileStarted(const QString& path, qint64 size);
    void fileEnded(const QString& path, FileVerdict verdict);
    // Input from the peer was handled (the activity bar's step).
    void activity();
    void ended(Outcome outcome);
};
