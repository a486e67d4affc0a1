#include "engine/ttimer.h"

TTimer::TTimer(int intervalMs, QObject* parent) : QTimer(parent) {
    setInterval(intervalMs);
    setTimerType(Qt::PreciseTimer);
    setSingleShot(false);
}

void TTimer::SwitchOn() {
    if (!isActive()) {
        start();
    }
}

void TTimer::SwitchOff() {
    stop();
}
