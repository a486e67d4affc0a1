#include "engine/transferprogress.h"

#include "engine/transferclock.h"
#include "transfer/protocol.h"

TransferProgress makeProgress(Transfer::Carrier carrier, qint64 done, qint64 total,
                              qint64 startOffset, const TransferClock& clock) {
    // A classic block ends at `done`: its index is that of its last byte (block 0 for an
    // empty file).
    const qint64 index = carrier == Transfer::Carrier::Classic
                             ? (done > 0 ? (done - 1) / kBlockSize : 0)
                             : done / kBlockSize;
    return TransferProgress{done,
                            total,
                            startOffset,
                            clock.seconds(),
                            clock.movingMs(),
                            computeProgress(index, total, clock.seconds())};
}
