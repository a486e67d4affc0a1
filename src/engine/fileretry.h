#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// Repeats a file step whose open failed (another copy holds the file's lock) every
// FileAccess::kRetryDelayMs, FileAccess::kOpenAttempts times in all, without blocking: the
// event loop runs between attempts. The owner stops taking input while waiting() holds.
class FileRetry : public QObject {
    Q_OBJECT

public:
    // True when the step is done (its open succeeded); false when the open failed.
    using Attempt = std::function<bool()>;

    explicit FileRetry(QObject* parent = nullptr);

    // Runs `attempt` now and again while it fails; `gaveUp` after the last failure.
    void run(Attempt attempt, std::function<void()> gaveUp);
    bool waiting() const { return m_timer.isActive(); }
    void stop() { m_timer.stop(); }

private:
    void next();

    QTimer m_timer;
    Attempt m_attempt;
    std::function<void()> m_gaveUp;
    int m_count = 0;
};
