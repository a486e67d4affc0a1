#include "transfer/blockmessagebuffer.h"

#include <cstring>
#include <stdexcept>

namespace {

// Writes the decimal digits of `value` (not negative) so that they end just before `end`;
// returns where they begin.
char* digitsBefore(char* end, quint64 value) {
    do {
        *--end = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return end;
}

}  // namespace

QByteArrayView BlockMessageBuffer::finish(qint64 index, qint64 count) {
    if (index < 0) {
        throw std::invalid_argument("BlockMessage: negative block index");
    }
    if (count < 0 || count > kBlockSize) {
        throw std::invalid_argument("BlockMessage: more data than one block");
    }
    // The filler is zeros, never the bytes of an earlier block.
    std::memset(payload() + count, 0, static_cast<size_t>(kPayloadSize - count));
    char* start = payload();
    *--start = '|';
    start = digitsBefore(start, static_cast<quint64>(count));
    *--start = '|';
    start = digitsBefore(start, static_cast<quint64>(index));
    *--start = '|';
    *--start = 'd';
    return QByteArrayView(start, payload() + kPayloadSize - start);
}
