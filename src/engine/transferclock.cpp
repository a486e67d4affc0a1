#include "engine/transferclock.h"

#include <algorithm>

#include "engine/ttimer.h"

TransferProgress TransferClock::measure(TransferProgress progress) {
    const qint64 now = m_running->runningMs();
    if (!m_measuring) {
        m_measuring = true;
        m_firstBytes = progress.bytesDone;
        m_firstMs = now;
    }
    progress.bytesMoved = std::max<qint64>(0, progress.bytesDone - m_firstBytes);
    progress.movingMs = now - m_firstMs;
    if (progress.movingMs > 0 && progress.bytesMoved > 0) {
        progress.bytesPerSecond = progress.bytesMoved * 1000 / progress.movingMs;
    }
    if (progress.bytesPerSecond > 0) {
        progress.secondsLeft =
            std::max<qint64>(0, progress.total - progress.bytesDone) / progress.bytesPerSecond;
    }
    return progress;
}
