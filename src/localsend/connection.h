#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include "localsend/chunkeddecoder.h"
#include "localsend/httprequest.h"

class QTcpSocket;

namespace localsend {

class Receiver;
class Upload;

// One HTTP/1.1 connection to the LocalSend server, plain or over TLS: reads each request's
// head (bounded), hands it to the receiver, reads its body (a JSON body whole and bounded,
// an upload's body streamed to its file with the peer held back while the file's writer is
// behind), and writes the answer, now or when the receiver gives it. Requests follow each
// other on one connection; a request that cannot be read is answered and the connection
// closed.
//
// The connection deletes itself later once it is closed; closed() comes exactly once.
class Connection : public QObject {
    Q_OBJECT

public:
    // Waiting for a request, or for more of a body, longer than this closes the connection.
    static constexpr int kIdleMs = 30 * 1000;
    static constexpr qint64 kReadChunk = 64 * 1024;
    // A body nobody needs (of a request answered without it) is read and dropped up to this.
    static constexpr qsizetype kMostDropped = 64 * 1024;
    // What the socket buffers while the writer is behind.
    static constexpr qint64 kReadBuffer = 256 * 1024;

    // Takes over `socket`, connected (and for TLS encrypted). `clientFingerprint` is that of
    // the certificate the peer presented in its TLS handshake, empty when none.
    Connection(QTcpSocket* socket, bool secure, const QString& clientFingerprint,
               Receiver& receiver, QObject* parent = nullptr);
    ~Connection() override;

    const QHostAddress& peerAddress() const { return m_address; }
    bool secure() const { return m_secure; }
    const QString& clientFingerprint() const { return m_fingerprint; }

    // The answer to the request being served: at once, or later for one the receiver holds
    // (a prepare-upload waiting for the user).
    void respond(int status, const QByteArray& body = {});
    // Closes at once without an answer.
    void close();

signals:
    void closed();

private:
    enum class Phase { Head, Json, Drop, Upload, Waiting, Closed };

    void readInput();
    void dispatch();
    void answer(int status, const QByteArray& body, bool closeAfter);
    void peerClosed();
    QByteArray nextInput();
    // Decodes body bytes from `input` into `out`; returns the bytes of `input` used.
    qsizetype takeBody(QByteArrayView input, QByteArray& out);
    bool bodyDone() const;
    bool bodyBad() const;
    void readLater();
    bool open() const;

    QTcpSocket* m_socket;
    QPointer<Receiver> m_receiver;
    QHostAddress m_address;
    bool m_secure;
    QString m_fingerprint;
    QTimer m_idle;
    Phase m_phase = Phase::Head;
    QByteArray m_input;  // bytes read and not yet used (a head's rest, a pipelined request)
    HttpRequest m_request;
    qint64 m_bodyLeft = 0;
    ChunkedDecoder m_chunks;
    QByteArray m_body;
    qsizetype m_bodyLimit = 0;
    qsizetype m_dropped = 0;
    int m_pendingStatus = 0;  // the answer given once a dropped body is read
    QByteArray m_pendingBody;
    QPointer<Upload> m_upload;
    bool m_uploadHeld = false;  // the writer is behind: nothing is read until it drains
    bool m_reading = false;
    bool m_readAgain = false;
    bool m_peerGone = false;
};

}  // namespace localsend
