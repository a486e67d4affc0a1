#pragma once

#include <QtGlobal>

#include "transfer/progress.h"

// Where a transfer stands after a block: what a view needs to draw it. The figures are the
// window's own arithmetic (rate from the elapsed seconds counted, percentage of the block).
struct TransferProgress {
    qint64 bytesDone = 0;  // the bytes up to the end of the latest block
    qint64 total = 0;      // the offered size
    int elapsedSeconds = 0;
    ProgressFigures figures;
};
