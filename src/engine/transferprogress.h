#pragma once

#include <QtGlobal>

#include "engine/transfer.h"
#include "transfer/progress.h"

class TransferClock;

// Where a transfer stands: what a view needs to draw it. The figures are the window's own
// arithmetic (rate from the elapsed seconds counted, percentage of the block).
struct TransferProgress {
    qint64 bytesDone = 0;       // the bytes of the file that are where they belong
    qint64 total = 0;           // the offered size
    qint64 startOffset = 0;     // bytes that were there before this transfer (a continued file)
    int elapsedSeconds = 0;     // the seconds counted while data flowed
    qint64 movingMs = 0;        // the same in milliseconds, paused time not counted
    qint64 bytesPerSecond = 0;  // bytes moved over movingMs; 0 until it can be told
    qint64 secondsLeft = -1;    // at that rate; -1 until it can be told
    ProgressFigures figures;

    // Bytes moved by this transfer, for rates and time left.
    qint64 bytesMoved() const { return bytesDone - startOffset; }
};

// The progress of `done` bytes of `total`, with the figures of its carrier: a classic
// transfer shows the window's per-block arithmetic; the lane's rate is the measured one,
// which leaves out a continued file's bytes and the time spent paused.
TransferProgress makeProgress(Transfer::Carrier carrier, qint64 done, qint64 total,
                              qint64 startOffset, const TransferClock& clock);
