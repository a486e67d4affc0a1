#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <optional>

// A peer of our own that speaks raw bytes to a running copy over loopback, as any program
// on the network may: as a sender (it connects and offers) or as a receiver (a copy
// connected to it). Every call is blocking with a deadline and needs no event loop, so a
// peer may also run on a thread of its own. One socket per object; the destructor closes it.
class HostilePeer {
public:
    struct Block {
        qint64 index = 0;
        qint64 count = 0;
        QByteArray data;  // the first `count` payload bytes
    };

    HostilePeer() = default;
    // Takes a socket accepted by PeerListener.
    explicit HostilePeer(int fd);
    ~HostilePeer();
    HostilePeer(const HostilePeer&) = delete;
    HostilePeer& operator=(const HostilePeer&) = delete;
    HostilePeer(HostilePeer&& other) noexcept;
    HostilePeer& operator=(HostilePeer&& other) noexcept;

    // Connects to 127.0.0.1:port. A copy whose listen queue is full lets the connect wait
    // for a SYN retry, seconds later: give it time. A `receiveBuffer` (bytes) keeps the
    // kernel from taking much of what the copy sends while this peer reads nothing.
    bool connectTo(quint16 port, int timeoutMs = 20000, int receiveBuffer = 0);
    bool isOpen() const { return m_fd >= 0; }

    // Sends every byte; false when the copy closed or reset the connection first, or time ran
    // out. Nagle's algorithm is off, so pieces leave as they are sent.
    bool send(QByteArrayView bytes, int timeoutMs = 10000);
    // Sends every byte while reading and dropping whatever the copy sends, until `answerBytes`
    // have come back; false when the copy closed first or time ran out.
    bool sendWhileDraining(QByteArrayView bytes, qint64 answerBytes, int timeoutMs = 30000);
    // Sends `bytes` in pieces of `piece` bytes with a pause of `pauseUs` microseconds after
    // each, so that the copy reads them one by one.
    bool sendInPieces(QByteArrayView bytes, qsizetype piece, int pauseUs, int timeoutMs = 60000);
    // Reads until `count` bytes are there, the copy closes, or time runs out.
    QByteArray receive(qsizetype count, int timeoutMs = 5000);
    // Reads what arrives until nothing more has come for `quietMs` (after the first byte, or
    // `firstTimeoutMs` without any).
    QByteArray receiveUntilQuiet(int firstTimeoutMs, int quietMs);
    // Reads and drops until the copy closes the connection (orderly or by reset); false when
    // it is still open after `timeoutMs`.
    bool waitClosed(int timeoutMs = 10000);
    bool closedByCopy() const { return m_closedByCopy; }
    // Everything received so far and not yet taken by one of the calls above.
    QByteArray takeUnread();

    void close();
    // Closes with a reset instead of an orderly close.
    void abort();

    // Speaking the protocol as a well-behaved sender: offers `wireName` with the size of
    // `content` and answers every request with its block until the receiver sends "f".
    // True when it did; the connection is then closed, as a sender does. With a `piece`,
    // every block message goes out in pieces of that many bytes, `pauseUs` apart.
    bool serveFile(const QByteArray& wireName, QByteArrayView content, int timeoutMs = 30000,
                   qsizetype piece = 0, int pauseUs = 0);

    // As a receiver: the offer a copy sends on connecting ("i|name|size").
    struct Offer {
        QByteArray name;
        qint64 size = -1;
    };
    std::optional<Offer> readOffer(int timeoutMs = 10000);
    // One "d|index|count|" message with its whole payload; nullopt when the bytes are not one.
    std::optional<Block> readBlock(int timeoutMs = 10000);
    // Asks for every block of a file of `size` bytes from the start and answers "f" at the
    // end; the file's bytes, or nullopt when the copy did not answer as it should. With a
    // `piece`, every request goes out in pieces of that many bytes, `pauseUs` apart.
    std::optional<QByteArray> fetchFile(qint64 size, int timeoutMs = 30000, qsizetype piece = 0,
                                        int pauseUs = 0);

private:
    // Reads what is there or waits up to `timeoutMs` for more; false once the copy closed.
    bool fill(int timeoutMs);

    int m_fd = -1;
    bool m_closedByCopy = false;
    QByteArray m_input;
};
