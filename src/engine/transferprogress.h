#pragma once

#include <QtGlobal>

#include "engine/transfer.h"
#include "transfer/progress.h"

class TransferClock;

// Where a transfer stands: what a view needs to draw it. The figures are the window's own
// arithmetic (rate from the elapsed seconds counted, percentage of the block).
struct TransferProgress {
    qint64 bytesDone = 0;    // the bytes of the file that are where they belong
    qint64 total = 0;        // the offered size
    qint64 startOffset = 0;  // bytes that were there before this transfer (a continued file)
    int elapsedSeconds = 0;  // the seconds counted while data flowed
    qint64 movingMs = 0;     // the same in milliseconds, paused time not counted
    ProgressFigures figures;

    // Bytes moved by this transfer, for rates and time left.
    qint64 bytesMoved() const { return bytesDone - startOffset; }
};

// The progress of `done` bytes of `total`, with the figures of its carrier: a classic
// transfer shows the window's per-block arithmetic, the lane the same over its byte count.
TransferProgress makeProgress(Transfer::Carrier carrier, qint64 done, qint64 total,
                              qint64 startOffset, const TransferClock& clock);
