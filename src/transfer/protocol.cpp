#include "transfer/protocol.h"

#include <stdexcept>

QByteArray OfferMessage(const QByteArray& wireName, qint64 size) {
    return "i|" + wireName + '|' + QByteArray::number(size);
}

QByteArray BlockRequest(qint64 index) {
    return "a|" + QByteArray::number(index);
}

QByteArray BlockMessage(qint64 index, QByteArrayView data) {
    if (index < 0) {
        throw std::invalid_argument("BlockMessage: negative block index");
    }
    if (data.size() > kBlockSize) {
        throw std::invalid_argument("BlockMessage: more data than one block");
    }
    QByteArray message =
        "d|" + QByteArray::number(index) + '|' + QByteArray::number(data.size()) + '|';
    const qsizetype headerSize = message.size();
    message.append(data);
    // The filler is zeros, never leftover memory.
    message.append(headerSize + kPayloadSize - message.size(), '\0');
    return message;
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
