#include "engine/fileretry.h"

#include "transfer/fileaccess.h"

FileRetry::FileRetry(QObject* parent) : QObject(parent) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(FileAccess::kRetryDelayMs);
    connect(&m_timer, &QTimer::timeout, this, &FileRetry::next);
}

void FileRetry::run(Attempt attempt, std::function<void()> gaveUp) {
    m_timer.stop();
    m_attempt = std::move(attempt);
    m_gaveUp = std::move(gaveUp);
    m_count = 0;
    next();
}

void FileRetry::next() {
    ++m_count;
    // The step may start another run (or end its owner's transfer): keep what is needed.
    const Attempt attempt = m_attempt;
    if (attempt()) {
        return;
    }
    if (m_count >= FileAccess::kOpenAttempts) {
        const std::function<void()> gaveUp = m_gaveUp;
        gaveUp();
        return;
    }
    m_timer.start();
}
