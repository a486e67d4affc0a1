#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <array>

#include "transfer/protocol.h"

// Room for one BlockMessage, reused for every block: the file's bytes are read straight
// into the payload, then finish() writes the header in front of them and the zero filler
// behind them. A block thus costs no allocation and no copy on its way from the file to
// the socket.
class BlockMessageBuffer {
public:
    // "d|" + the longest index + "|" + the longest count + "|" fits in this.
    static constexpr qsizetype kHeaderRoom = 32;

    // Where the block's file bytes go: room for kBlockSize bytes.
    char* payload() { return m_bytes.data() + kHeaderRoom; }

    // The whole message for block `index` whose first `count` payload bytes hold the file's
    // bytes; valid until the next call. Throws std::invalid_argument for a negative index or
    // a count outside 0..kBlockSize.
    QByteArrayView finish(qint64 index, qint64 count);

private:
    std::array<char, kHeaderRoom + kPayloadSize> m_bytes{};
};
