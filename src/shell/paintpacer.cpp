#include "shell/paintpacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

PaintPacer::PaintPacer(QWidget* window, int intervalMs) : QObject(window), m_window(window) {
    m_interval.setSingleShot(true);
    m_interval.setTimerType(Qt::PreciseTimer);
    m_interval.setInterval(intervalMs);
    connect(&m_interval, &QTimer::timeout, this, &PaintPacer::releaseHeld);
    window->installEventFilter(this);
}

// Every paint of a widget window starts as an UpdateRequest to the top-level widget, sent at
// once by repaint() or posted by update(); its dirty regions stay with the window's backing
// store until the request is handled, so a held request loses nothing.
bool PaintPacer::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_window || event->type() != QEvent::UpdateRequest) {
        return false;
    }
    if (m_interval.isActive()) {
        m_holding = true;
        ++m_held;
        return true;
    }
    ++m_paints;
    m_interval.start();
    return false;
}

void PaintPacer::releaseHeld() {
    if (!m_holding) {
        return;
    }
    m_holding = false;
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(m_window, &request);
}
