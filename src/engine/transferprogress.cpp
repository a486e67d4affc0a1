#include "engine/transferprogress.h"

#include "engine/transferclock.h"

#include <algorithm>
#include "transfer/protocol.h"

TransferProgress makeProgress(Transfer::Carrier carrier, qint64 done, qint64 total,
                              qint64 startOffset, const TransferClock& clock) {
    // A classic block ends at `done`: its index is that of its last byte (block 0 for an
    // empty file).
    const qint64 index = carrier == Transfer::Carrier::Classic
                             ? (done > 0 ? (done - 1) / kBlockSize : 0)
                             : done / kBlockSize;
    TransferProgress progress;
    progress.bytesDone = done;
    progress.total = total;
    progress.startOffset = startOffset;
    progress.elapsedSeconds = clock.seconds();
    progress.movingMs = clock.movingMs();
    if (progress.movingMs > 0 && progress.bytesMoved() > 0) {
        progress.bytesPerSecond = progress.bytesMoved() * 1000 / progress.movingMs;
        progress.secondsLeft = std::max<qint64>(0, total - done) / progress.bytesPerSecond;
    }
    progress.figures = computeProgress(index, total, clock.seconds());
    if (carrier != Transfer::Carrier::Classic) {
        progress.figures.rateKb = progress.bytesPerSecond / 1024;
    }
    return progress;
}
