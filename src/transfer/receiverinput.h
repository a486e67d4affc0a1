#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include "transfer/inputbuffer.h"

// Cuts what the receiver reads from its served connection into messages: "i|name|size",
// "d|index|count|" with its payload, "p" and "r". Pure: bytes go in with append(), messages
// come out of next(), no socket is touched.
//
// - A block comes out as soon as its header and `count` payload bytes are there. The rest
//   of its kPayloadSize-byte payload is filler: it is dropped whenever it arrives, in this
//   read or in later ones, and never taken for the start of a message.
// - Bytes behind a complete message are kept for the next one; several messages in one read
//   come out one by one, in order; a message split over many reads comes out once.
// - An offer comes out once its size field holds a digit; the digits end at the first byte
//   that is not a digit or at the end of the bytes received so far. Its name may hold any
//   byte but "|" (whether it is usable as a file name is isSafeOfferedName's business).
// - Anything else is bad: an unknown kind, a number field that is not plain decimal digits
//   or does not fit, a count above kBlockSize, a header or a name that grows past its bound.
//   The connection is to be closed, and the input stays bad until reset().
class ReceiverInput {
public:
    enum class Kind {
        NeedMore,  // no complete message yet
        Offer,     // "i|name|size"
        Block,     // "d|index|count|" + payload
        Pause,     // "p": the sender has paused
        Resume,    // "r": the sender has resumed
        Bad,       // not a message of the protocol: close the connection
    };

    struct Message {
        Kind kind = Kind::NeedMore;
        QByteArray name;      // Offer: the name in wire form, exactly as received
        qint64 size = 0;      // Offer: the offered size in bytes
        qint64 index = 0;     // Block: the block index
        QByteArrayView data;  // Block: the `count` file bytes, inside the input's own buffer:
                              // valid until the input is next changed or asked
    };

    // A block header ("d|" + index + "|" + count + "|") never needs more bytes than this.
    static constexpr qsizetype kMaxBlockHeader = 64;
    // No file system takes a name this long; a longer one is a peer streaming garbage.
    static constexpr qsizetype kMaxNameBytes = 1024;

    void append(QByteArrayView bytes);
    // The same for a read straight into the input, with no buffer in between: room for up
    // to `size` bytes at its end, then commitAppend() with the count actually put there
    // (0 when nothing was read).
    char* appendSpace(qsizetype size);
    void commitAppend(qsizetype count);
    // The next complete message. Call it until it returns NeedMore (or Bad) after each
    // append, so that the buffer never holds more than one incomplete message.
    Message next();
    // Forgets everything: for a connection that becomes the served one.
    void reset();

    bool isBad() const { return m_bad; }
    qsizetype bufferedBytes() const { return m_input.size(); }
    // Filler bytes of the last block that have not arrived yet.
    qint64 pendingFiller() const { return m_fillerToSkip; }

private:
    Message parseOffer(QByteArrayView rest);
    Message parseBlock(QByteArrayView rest);
    Message fail();

    InputBuffer m_input;
    qint64 m_fillerToSkip = 0;
    bool m_bad = false;
};
