#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>

#include <cstdio>

#include "engine/transfer.h"
#include "engine/transferprogress.h"

// What ruvo-cli tells its user: a progress bar redrawn at most ten times a second on a
// terminal, plain lines when the output is a file or a pipe, or one JSON object per event
// (offer, progress, outcome) for scripts.
class EventPrinter {
public:
    enum class Style { Terminal, Lines, Json };

    explicit EventPrinter(Style style, FILE* out = stdout);
    // Terminal when the output is one, else plain lines; JSON when asked for.
    static Style styleFor(bool json, FILE* out = stdout);

    // A send begins: which file goes where.
    void start(const QString& path, qint64 size, const QString& address);
    // A send of several entries or of a text begins: `what` says what ("3 archivos",
    // "fotos", "un texto").
    void startMany(const QString& what, qint64 size, const QString& address);
    // One file of several (lane entries, LocalSend) begins, or ended; in JSON `result` names
    // how for scripts ("arrived", "already-there", "mismatch", "write-failed", "not-created",
    // "unreadable", "interrupted"). Otherwise only a file that did not arrive is named, with
    // the reason.
    void fileStarted(const QString& path, qint64 size);
    void fileEnded(const QString& path, FileVerdict verdict);
    // A text received: printed as it is (JSON: a "text" event carrying it).
    void text(const QString& text);
    // An offer, and who sends it when the lane could tell: "NAME (de confianza)" or
    // "NAME (sin verificar) XXXX XXXX XXXX XXXX" (senderText).
    void offer(const TransferOffer& offer);
    // A pairing's code is about to be asked about: with whom.
    void pairing(const QString& code, const QString& peerName, const QString& peerFingerprint);
    // Rate, time left and elapsed time are the engine's measure of this transfer.
    void progress(const TransferProgress& progress);
    // A line for the user ("Conectado.", "Pausa"); nothing in JSON but an "info" event.
    void info(const QString& text);
    // How it ended. `kind` names the outcome for scripts ("sent", "bad-address", ...);
    // `path` is where a received file was saved.
    void outcome(const QString& text, int exitCode, const QString& kind,
                 const QString& path = QString());

private:
    void endBar();
    void print(const QString& text);
    void json(const QByteArray& object);

    Style m_style;
    FILE* m_out;
    QElapsedTimer m_sinceDraw;
    bool m_barShown = false;
    int m_lastPercentLine = -1;
};

// Who sends a lane offer: its name (the address when it sent none) and whether this copy
// trusts it, with the short fingerprint when it does not.
QString senderText(const TransferOffer& offer);
// "12.3 MB", "850.0 KB", "17 B".
QString humanBytes(double bytes);
// "01:02:03" or "02:03".
QString clockText(qint64 seconds);
