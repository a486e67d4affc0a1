#include "engine/transferclock.h"

TransferClock::TransferClock(QObject* parent) : QObject(parent), m_ticker(1000, this) {
    m_ticker.setObjectName(QStringLiteral("Transcurrido"));
    connect(&m_ticker, &QTimer::timeout, this, [this] { emit ticked(++m_ticker.Tag); });
}

void TransferClock::reset() {
    m_ticker.SwitchOff();
    m_ticker.Tag = 0;
    m_since.invalidate();
    m_heldMs = 0;
}

void TransferClock::run() {
    m_ticker.SwitchOn();
    if (!m_since.isValid()) {
        m_since.start();
    }
}

void TransferClock::hold() {
    m_ticker.SwitchOff();
    if (m_since.isValid()) {
        m_heldMs += m_since.elapsed();
        m_since.invalidate();
    }
}

qint64 TransferClock::movingMs() const {
    return m_heldMs + (m_since.isValid() ? m_since.elapsed() : 0);
}
