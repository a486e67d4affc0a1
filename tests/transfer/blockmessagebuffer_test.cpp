#include "transfer/blockmessagebuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

// One buffer serves block after block: each message is exactly what BlockMessage builds,
// and a short block after a full one carries zeros, not the earlier block's bytes.
TEST(BlockMessageBuffer, ReusedForBlockAfterBlock) {
    BlockMessageBuffer buffer;
    const struct {
        qint64 index;
        QByteArray data;
    } blocks[] = {
        {0, QByteArray(2048, '\xff')},
        {1, "end"},
        {kMaxBlockIndex, QByteArray(2048, '|')},
        {3, QByteArray()},
    };
    for (const auto& block : blocks) {
        std::memcpy(buffer.payload(), block.data.constData(), size_t(block.data.size()));
        const QByteArrayView message = buffer.finish(block.index, block.data.size());
        EXPECT_EQ(message.toByteArray(), BlockMessage(block.index, block.data)) << block.index;
    }
}

TEST(BlockMessageBuffer, RefusesWhatNoReceiverCouldTake) {
    BlockMessageBuffer buffer;
    EXPECT_THROW(buffer.finish(-1, 1), std::invalid_argument);
    EXPECT_THROW(buffer.finish(0, kBlockSize + 1), std::invalid_argument);
    EXPECT_THROW(buffer.finish(0, -1), std::invalid_argument);
}
