#include "engine/ttimer.h"

TTimer::TTimer(int intervalMs, QObject* parent) : QTimer(parent) {
    setInterval(intervalMs);
    setTimerType(Qt::PreciseTimer);
    setSingleShot(false);
}

void TTimer::SwitchOn() {
    if (!isActive()) {
        start();
        m_since.start();
    }
}

void TTimer::SwitchOff() {
    if (m_since.isValid()) {
        m_heldMs += m_since.elapsed();
        m_since.invalidate();
    }
    stop();
}

qint64 TTimer::runningMs() const {
    return m_heldMs + (m_since.isValid() && isActive() ? m_since.elapsed() : 0);
}
