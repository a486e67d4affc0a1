#pragma once

#include <QElapsedTimer>
#include <QTimer>

// A repeating precise timer with the integer Tag that the transfer roles use as a counter.
// "Switch on" starts the timer only when it is not running: QTimer::start() restarts a
// running timer, and a timer switched on again for every block would then never tick.
class TTimer : public QTimer {
    Q_OBJECT

public:
    TTimer(int intervalMs, QObject* parent = nullptr);

    int Tag = 0;

    void SwitchOn();
    void SwitchOff();
    bool Enabled() const { return isActive(); }
    // Milliseconds this timer has been switched on, in all: a clock that stands while the
    // timer is off.
    qint64 runningMs() const;

private:
    QElapsedTimer m_since;  // since the latest switch on, while on
    qint64 m_heldMs = 0;    // before it
};
