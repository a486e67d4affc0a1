#include "shell/tgroupbox.h"

#include <qdrawutil.h>
#include <QPainter>

TGroupBox::TGroupBox(QWidget* parent) : QWidget(parent) {}

void TGroupBox::paintEvent(QPaintEvent*) {
    // An etched frame: a shadow line with a light line inside and below it.
    QPainter painter(this);
    const QRect frame = rect().adjusted(0, fontMetrics().height() / 2, 0, 0);
    qDrawShadeRect(&painter, frame, palette(), true, 1, 0);
}
