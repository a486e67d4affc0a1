#pragma once

#include <QObject>
#include <QTimer>

class QWidget;

// Paces the painting of one top-level window: it paints at most once per interval. Widgets
// ask for a paint whenever what they show changes, and during a transfer that is every
// block (a QProgressBar even repaints at once, inside setValue). A request that comes
// sooner than the interval after the last paint is held; the held request is delivered
// when the interval is over, so the last state always reaches the screen. Values change at
// once as before; only the painting is coalesced.
class PaintPacer : public QObject {
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 20;

    // Watches `window` (a top-level widget) and is destroyed with it.
    explicit PaintPacer(QWidget* window, int intervalMs = kIntervalMs);

    // Paints delivered and requests held so far (for tests and measurements).
    int PaintCount() const { return m_paints; }
    int HeldCount() const { return m_held; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void releaseHeld();

    QWidget* m_window;
    QTimer m_interval;
    bool m_holding = false;
    int m_paints = 0;
    int m_held = 0;
};
