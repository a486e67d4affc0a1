#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

class QIODevice;

#include <functional>
#include <optional>

// The fast lane's wire format (doc/fast-lane.md): a greeting each way, then frames of a
// type byte, a 32-bit big-endian payload length and the payload. Every length is bounded by
// its type, so a reader never holds more than one frame's worth of bytes.
namespace lanewire {

// Version 3 adds offers of several entries and of a text (types 32 to 41); a version 2 peer
// still takes one file per offer.
constexpr quint16 kVersion = 3;
constexpr quint16 kEntriesVersion = 3;
// The oldest version still spoken: one file per offer, the sender's name and pairing.
constexpr quint16 kOldestVersion = 2;
constexpr qsizetype kGreetingSize = 10;  // "RUVOLANE" and the version
constexpr qsizetype kHeaderSize = 5;
constexpr qsizetype kMaxData = 256 * 1024;
// Every data frame but the one that ends the file carries at least this much, so that the
// cost of a frame (its queueing, its wake-up of the writer) is paid per 64 KiB at most.
constexpr qsizetype kMinData = 64 * 1024;
constexpr qsizetype kMaxName = 1024;
// The sender's name for people to read, after the file's name in an offer, and each end's
// name in pairing: at most this many bytes of UTF-8.
constexpr qsizetype kMaxPeerName = 64;
// One message of a pairing exchange (PairingExchange::kMessageSize): a kind byte and 32 bytes.
constexpr qsizetype kPairMessageSize = 33;
constexpr qsizetype kHashSize = 32;  // BLAKE3
// Bounds of the frames of several entries: a piece of the list, a text, and the most items
// a plan or a start may list (one per entry of the longest list).
constexpr qsizetype kMaxEntriesPiece = 1024 * 1024;
constexpr qsizetype kMaxTextBytes = 64 * 1024;
constexpr qsizetype kMaxListed = 100000;
constexpr qsizetype kPlanItemSize = 4 + 1 + 8;

enum class Type : quint8 {
    Offer = 1,    // u64 size, u16 name length, UTF-8 name [, u8 length, sender's name]
    Accept = 2,   // u64 length of the receiver's file of that name (K)
    Decline = 3,  //
    Busy = 4,     //
    Data = 5,     // the next bytes of the file
    Pause = 6,    //
    Resume = 7,   //
    Cancel = 8,   //
    Done = 9,     // hash of the whole file
    Result = 10,  // u8: ResultCode
    Proof = 11,   // hash of the sender's first K bytes
    Start = 12,   // u64 offset from which the data goes: K, or 0 into a new file

    // Pairing, instead of an offer.
    Pair = 13,        // a pairing message [, u8 length, the computer's name]
    PairResult = 14,  // u8: 1 the user confirmed the code, 0 the user refused

    // Offers of several entries and of a text (entrieswire.h).
    Entries = 32,     // u8 more, then a piece of the list of entries
    Text = 33,        // UTF-8 text
    Plan = 34,        // u32 count, count x (u32 index, u8 state, u64 length)
    EntryProof = 35,  // u32 index, hash of the sender's first `length` bytes
    EntryStart = 36,  // u32 count, count x u32 index whose proof did not match
    File = 37,        // u32 index, u64 offset
    FileDone = 38,    // u32 index, hash of the whole file
    FileSkip = 39,    // u32 index
    FileResult = 40,  // u32 index, u8 code
    End = 41          //
};

enum class ResultCode : quint8 { Ok = 0, HashMismatch = 1, WriteFailed = 2 };

QByteArray greeting(quint16 version = kVersion);
// The version a greeting offers, or nullopt when it is not a greeting of the lane.
std::optional<quint16> greetingVersion(QByteArrayView bytes);

QByteArray frame(Type type, QByteArrayView payload = {});
// An offer, with the sender's name (UTF-8, cut to kMaxPeerName bytes) when one is given.
QByteArray offer(QByteArrayView utf8Name, qint64 size,
                 std::optional<QByteArrayView> senderName = std::nullopt);
QByteArray accept(qint64 offset);
QByteArray start(qint64 offset);
QByteArray done(QByteArrayView hash);
QByteArray result(ResultCode code);
// Only the header of a data frame: the payload follows it on the wire as it is.
QByteArray dataHeader(qsizetype length);

struct Offer {
    QByteArray name;  // UTF-8, not yet checked as a file name
    qint64 size = 0;
    std::optional<QByteArray> senderName;  // as sent, not yet checked; absent in older offers
};
std::optional<Offer> parseOffer(QByteArrayView payload);

// A PAIR frame: one message of the pairing exchange and, when given, this computer's name.
QByteArray pair(QByteArrayView message, std::optional<QByteArrayView> name = std::nullopt);
struct Pair {
    QByteArray message;  // kPairMessageSize bytes
    QByteArray name;     // as sent (empty when none), not yet checked
};
std::optional<Pair> parsePair(QByteArrayView payload);
QByteArray pairResult(bool confirmed);
// The answer in a PAIR_RESULT frame; nullopt for a byte other than 0 and 1.
std::optional<bool> parsePairResult(QByteArrayView payload);

// A name cut to at most `most` bytes of UTF-8 without splitting a character.
QByteArray cutUtf8(QByteArrayView utf8, qsizetype most);
// The offset of an ACCEPT or START frame.
std::optional<qint64> parseOffset(QByteArrayView payload);

// Splits a byte stream into frames. Bytes are fed as they arrive (feed(), or readFrom() for
// a reader that reads its device itself: one or the other); next() returns the frames one
// by one. A header of an unknown type or with a length its type does not allow
// makes the reader Bad for good: the connection is to be closed.
class FrameReader {
public:
    enum class Status { Frame, NeedMore, Bad };

    void feed(QByteArrayView bytes);
    Status next(Type& type, QByteArray& payload);
    // Hands every whole frame to `handle` until more bytes are needed or `handle` returns
    // false; false when the bytes broke the framing.
    bool drain(const std::function<bool(Type type, const QByteArray& payload)>& handle);
    // Reads at most `most` bytes from `device` and hands on every frame they complete, as
    // drain() does. Headers are read alone; a payload goes from the device straight into
    // the buffer that is handed on (for a data frame, the chunk the writer gets). Nothing
    // when the device had no byte to give.
    enum class Read { Nothing, Framed, Broken };
    Read readFrom(QIODevice& device, qint64 most,
                  const std::function<bool(Type type, const QByteArray& payload)>& handle);
    // Bytes held that are not yet a whole frame.
    qsizetype pending() const { return m_buffer.size() - m_start + m_payloadHave; }
    bool bad() const { return m_bad; }

private:
    QByteArray m_buffer;
    qsizetype m_start = 0;
    bool m_bad = false;
    // The frame readFrom() has the header of and reads the payload of.
    std::optional<Type> m_payloadType;
    QByteArray m_payload;
    qsizetype m_payloadHave = 0;
};

// The largest payload a frame of this type may carry; -1 for a type that does not exist.
qsizetype maxPayload(quint8 type);
// The smallest; equal to maxPayload for fixed-size frames.
qsizetype minPayload(quint8 type);

}  // namespace lanewire
