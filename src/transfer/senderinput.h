#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include "transfer/inputbuffer.h"

// Cuts what the sender receives into messages: "a|<index>", "p", "o" and "f". Pure: bytes
// go in with append(), messages come out of next(), no socket is touched.
//
// The receiver sends no terminator, so the digits of an index end at the first byte that
// is not a digit or at the end of the bytes received so far. Several messages in one read
// come out one by one, in order; a message that has not fully arrived waits for the next
// append. Anything else is bad: the connection is to be closed, and the input stays bad.
class SenderInput {
public:
    enum class Kind {
        NeedMore,  // no complete message yet
        Request,   // "a|<index>": answer with block `index`
        Pause,     // "p": the receiver has paused
        Busy,      // "o": the receiver serves someone else
        Finished,  // "f": the receiver has the whole file
        Bad,       // not a message of the protocol: close the connection
    };

    struct Message {
        Kind kind = Kind::NeedMore;
        qint64 index = 0;  // Request only
    };

    void append(QByteArrayView bytes);
    // The same for a read straight into the input, with no buffer in between: room for up
    // to `size` bytes at its end, then commitAppend() with the count actually put there
    // (0 when nothing was read).
    char* appendSpace(qsizetype size);
    void commitAppend(qsizetype count);
    // The next complete message. Call it until it returns NeedMore (or Bad) after each
    // append, so that the buffer never holds more than one incomplete message.
    Message next();
    void reset();

    bool isBad() const { return m_bad; }
    qsizetype bufferedBytes() const { return m_input.size(); }

private:
    Message fail();

    InputBuffer m_input;
    bool m_bad = false;
};
