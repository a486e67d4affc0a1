#include "shell/tabicons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// An arrow on a 16x16 grid: a stroke from the lower left that bends upwards, ending in a
// head that points up. `down` mirrors it top to bottom.
void drawArrow(QPainter& p, const QColor& color, bool down) {
    p.save();
    if (down) {
        p.translate(0, 16);
        p.scale(1, -1);
    }
    QPainterPath stroke;
    stroke.moveTo(2.5, 13.5);
    stroke.quadTo(10.0, 13.5, 10.0, 7.0);
    p.setPen(QPen(color.darker(160), 4.2, Qt::SolidLine, Qt::FlatCap));
    p.drawPath(stroke);
    p.setPen(QPen(color, 2.4, Qt::SolidLine, Qt::FlatCap));
    p.drawPath(stroke);

    QPainterPath head;
    head.moveTo(5.5, 7.5);
    head.lineTo(14.5, 7.5);
    head.lineTo(10.0, 1.0);
    head.closeSubpath();
    p.setPen(QPen(color.darker(160), 1.0));
    p.setBrush(color);
    p.drawPath(head);
    p.restore();
}

void drawTool(QPainter& p) {
    const QColor grey(140, 140, 140);
    const QColor outline(70, 70, 70);
    // The handle, from the lower left to the head.
    p.setPen(QPen(outline, 4.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3.0, 13.0), QPointF(9.0, 7.0));
    p.setPen(QPen(grey, 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3.0, 13.0), QPointF(9.0, 7.0));
    // The open-ended head: a ring with a notch towards the upper right.
    QPainterPath head;
    head.addEllipse(QPointF(10.5, 5.5), 4.5, 4.5);
    QPainterPath notch;
    notch.moveTo(10.5, 5.5);
    notch.lineTo(16.0, 2.5);
    notch.lineTo(13.5, 0.0);
    notch.closeSubpath();
    QPainterPath jaw = head.subtracted(notch);
    QPainterPath hole;
    hole.addEllipse(QPointF(10.5, 5.5), 1.3, 1.3);
    jaw = jaw.subtracted(hole);
    p.setPen(QPen(outline, 1.0));
    p.setBrush(grey);
    p.drawPath(jaw);
}

template <typename Draw>
QIcon paintedIcon(int size, Draw draw) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);
    draw(painter);
    painter.end();
    return QIcon(pixmap);
}

const QColor kBlue(30, 80, 220);
const QColor kRed(210, 30, 30);

}  // namespace

QIcon sendTabIcon() {
    return paintedIcon(16, [](QPainter& p) { drawArrow(p, kBlue, false); });
}

QIcon receiveTabIcon() {
    return paintedIcon(16, [](QPainter& p) { drawArrow(p, kRed, true); });
}

QIcon settingsTabIcon() {
    return paintedIcon(16, drawTool);
}

QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        icon.addPixmap(paintedIcon(size, [](QPainter& p) {
                           p.save();
                           p.translate(-2.0, 0.0);
                           p.scale(0.6, 1.0);
                           drawArrow(p, kBlue, false);
                           p.restore();
                           p.translate(7.0, 0.0);
                           p.scale(0.6, 1.0);
                           drawArrow(p, kRed, true);
                       }).pixmap(size, size));
    }
    return icon;
}
