#pragma once

#include <QtGlobal>

#include "transfer/progress.h"

// Where a transfer stands after a block: what a view needs to draw it. `figures` are the
// window's own arithmetic for the classic protocol (rate from the elapsed seconds counted,
// percentage of the block); the measured fields come from the role's TransferClock, which
// runs only while bytes may move and counts only the bytes moved in this transfer.
struct TransferProgress {
    qint64 bytesDone = 0;  // the bytes up to the end of the latest block
    qint64 total = 0;      // the offered size
    int elapsedSeconds = 0;
    ProgressFigures figures;
    qint64 bytesMoved = 0;      // since the first report of this transfer (a resume's
                                // bytes already there do not count)
    qint64 movingMs = 0;        // time spent moving them, pauses left out
    qint64 bytesPerSecond = 0;  // bytesMoved over movingMs; 0 until it can be told
    qint64 secondsLeft = -1;    // at that rate; -1 until it can be told
};
