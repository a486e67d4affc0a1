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

// A shield filling the 16x16 grid, with `mark` drawn on it in white.
void drawShield(QPainter& p, const QColor& color, const QPainterPath& mark) {
    QPainterPath shield;
    shield.moveTo(8.0, 0.8);
    shield.lineTo(14.5, 3.0);
    shield.cubicTo(14.5, 9.5, 12.0, 13.0, 8.0, 15.2);
    shield.cubicTo(4.0, 13.0, 1.5, 9.5, 1.5, 3.0);
    shield.closeSubpath();
    p.setPen(QPen(color.darker(150), 1.0));
    p.setBrush(color);
    p.drawPath(shield);
    p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(mark);
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
const QColor kGreen(20, 140, 40);
const QColor kGrey(130, 130, 130);

QPainterPath tickMark() {
    QPainterPath tick;
    tick.moveTo(4.8, 7.8);
    tick.lineTo(7.2, 10.3);
    tick.lineTo(11.4, 5.2);
    return tick;
}

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

QIcon trustedIcon() {
    return paintedIcon(16, [](QPainter& p) { drawShield(p, kGreen, tickMark()); });
}

QIcon trustedToggleIcon() {
    QIcon icon;
    icon.addPixmap(
        paintedIcon(16, [](QPainter& p) { drawShield(p, kGrey, tickMark()); }).pixmap(16, 16),
        QIcon::Normal, QIcon::Off);
    icon.addPixmap(trustedIcon().pixmap(16, 16), QIcon::Normal, QIcon::On);
    return icon;
}

QIcon unverifiedIcon() {
    return paintedIcon(16, [](QPainter& p) {
        QPainterPath question;
        question.moveTo(5.8, 5.6);
        question.cubicTo(5.8, 3.2, 10.4, 3.2, 10.4, 5.6);
        question.cubicTo(10.4, 7.4, 8.0, 7.4, 8.0, 9.2);
        question.moveTo(8.0, 11.6);
        question.lineTo(8.0, 11.8);
        drawShield(p, kGrey, question);
    });
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
