#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

// The messages two copies exchange over one connection. There is no length prefix and no
// terminator: fields are separated by "|" and numbers are plain decimal text.

// A file travels in blocks of this many bytes; block k starts at byte k * kBlockSize.
inline constexpr qint64 kBlockSize = 2048;
// Every block message carries this many payload bytes, whatever its count.
inline constexpr qint64 kPayloadSize = 2049;
// The largest block index whose offset (and end) still fits in 64 bits.
inline constexpr qint64 kMaxBlockIndex = (Q_INT64_C(0x7fffffffffffffff) / kBlockSize) - 1;

// "i|<name>|<size>": the sender's offer. `wireName` is already in wire form (toWireName).
QByteArray OfferMessage(const QByteArray& wireName, qint64 size);
// "a|<index>": the receiver asks for one block.
QByteArray BlockRequest(qint64 index);
// The same written into `room` instead of a new array (for the request of every block);
// the view covers the message.
inline constexpr qsizetype kMaxBlockRequest = 22;  // "a|", a sign and up to 19 digits
QByteArrayView BlockRequestInto(char (&room)[kMaxBlockRequest], qint64 index);
// "d|<index>|<count>|" and exactly kPayloadSize payload bytes: `data` (count = its size, at
// most kBlockSize) followed by zeros. Throws std::invalid_argument for a negative index or
// more than kBlockSize bytes of data.
QByteArray BlockMessage(qint64 index, QByteArrayView data);
QByteArray PauseNotice();     // "p"
QByteArray ResumeNotice();    // "r"
QByteArray FinishedNotice();  // "f"
QByteArray BusyNotice();      // "o"
QByteArray IntruderNotice();  // "Jodete!"

// What the receiver sends after measuring its partial file: a request for the block that
// holds the file's end, or FinishedNotice once the file is as long as the offered size.
QByteArray nextRequest(qint64 partialLength, qint64 offeredSize);

// Returns the first field of `text` and leaves the rest in it. A "|" in the first or the
// last position is never a separator; without a separator the whole text is the field and
// `text` becomes empty.
QByteArray SplitField(QByteArray& text);
