#include "transfer/protocol.h"

#include <charconv>
#include <cstring>
#include <stdexcept>

#include "transfer/blockmessagebuffer.h"

QByteArray OfferMessage(const QByteArray& wireName, qint64 size) {
    return "i|" + wireName + '|' + QByteArray::number(size);
}

QByteArray BlockRequest(qint64 index) {
    char room[kMaxBlockRequest];
    return BlockRequestInto(room, index).toByteArray();
}

QByteArrayView BlockRequestInto(char (&room)[kMaxBlockRequest], qint64 index) {
    room[0] = 'a';
    room[1] = '|';
    const auto end = std::to_chars(room + 2, room + kMaxBlockRequest, index).ptr;
    return QByteArrayView(room, end - room);
}

QByteArray BlockMessage(qint64 index, QByteArrayView data) {
    if (data.size() > kBlockSize) {
        throw std::invalid_argument("BlockMessage: more data than one block");
    }
    BlockMessageBuffer buffer;
    if (!data.isEmpty()) {
        std::memcpy(buffer.payload(), data.data(), static_cast<size_t>(data.size()));
    }
    return buffer.finish(index, data.size()).toByteArray();
}

QByteArray PauseNotice() {
    return QByteArrayLiteral("p");
}

QByteArray ResumeNotice() {
    return QByteArrayLiteral("r");
}

QByteArray FinishedNotice() {
    return QByteArrayLiteral("f");
}

QByteArray BusyNotice() {
    return QByteArrayLiteral("o");
}

QByteArray IntruderNotice() {
    return QByteArrayLiteral("Jodete!");
}

QByteArray nextRequest(qint64 partialLength, qint64 offeredSize) {
    return partialLength < offeredSize ? BlockRequest(partialLength / kBlockSize)
                                       : FinishedNotice();
}

QByteArray SplitField(QByteArray& text) {
    const qsizetype length = text.size();
    // Only positions 2 to length-1 (counted from 1) can hold a separator.
    const qsizetype separator = length >= 3 ? text.indexOf('|', 1) : -1;
    if (separator < 1 || separator > length - 2) {
        QByteArray field = text;
        text.clear();
        return field;
    }
    QByteArray field = text.left(separator);
    text.remove(0, separator + 1);
    return field;
}
