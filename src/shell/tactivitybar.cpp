#include "shell/tactivitybar.h"

TActivityBar::TActivityBar(QWidget* parent) : QProgressBar(parent) {}

QString TActivityBar::text() const {
    return isTextVisible() ? QProgressBar::text() : QString();
}
