#pragma once

#include <QElapsedTimer>
#include <QObject>

#include "engine/ttimer.h"

// The clock of one transfer, owned by the role that runs it. It counts whole seconds the way
// the window's figures expect (a one-second timer, "Transcurrido", whose Tag is the count,
// switched on while data flows and off while paused) and, beside it, the milliseconds data
// has been flowing, for rates that must not average in paused time.
class TransferClock : public QObject {
    Q_OBJECT

public:
    explicit TransferClock(QObject* parent = nullptr);

    // A new transfer: both counts back to zero, stopped.
    void reset();
    // Data flows: counting (again). Running it while it runs changes nothing.
    void run();
    // Paused or over: the counts stand still.
    void hold();
    bool running() const { return m_ticker.isActive(); }

    int seconds() const { return m_ticker.Tag; }
    qint64 movingMs() const;

signals:
    void ticked(int seconds);

private:
    TTimer m_ticker;
    QElapsedTimer m_since;  // valid while running
    qint64 m_heldMs = 0;    // counted before the latest run
};
