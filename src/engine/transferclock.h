#pragma once

#include <QtGlobal>

#include "engine/transferprogress.h"

class TTimer;

// The measured figures of a transfer. Time is the role's elapsed-seconds timer's running
// time, so it stands whenever either side has paused (the roles switch that timer off
// then); bytes and time count from the first report of the transfer, so bytes that were
// already there (a partial file continued) never count as moved now.
class TransferClock {
public:
    explicit TransferClock(const TTimer* running) : m_running(running) {}

    // A new transfer: nothing measured yet.
    void restart() { m_measuring = false; }
    // Fills in the measured fields of `progress` from its bytesDone and total.
    TransferProgress measure(TransferProgress progress);

private:
    const TTimer* m_running;
    bool m_measuring = false;
    qint64 m_firstBytes = 0;
    qint64 m_firstMs = 0;
};
