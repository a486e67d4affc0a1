#include "widgets/innerbutton.h"

#include <QImage>
#include <QPainter>
#include <QPolygon>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace {

constexpr int kPictureWidth = 14;
constexpr int kPictureHeight = 12;

QImage drawFolderPicture() {
    QImage picture(kPictureWidth, kPictureHeight, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    const QColor outline(96, 72, 0);
    const QColor back(224, 176, 48);
    const QColor front(255, 216, 88);

    // The folder's back with its tab, then the open flap in front of it, leaning right.
    painter.setPen(outline);
    painter.setBrush(back);
    painter.drawPolygon(QPolygon(
        {QPoint(0, 1), QPoint(4, 1), QPoint(5, 2), QPoint(10, 2), QPoint(10, 4), QPoint(0, 11)}));
    painter.setBrush(front);
    painter.drawPolygon(QPolygon({QPoint(3, 5), QPoint(13, 5), QPoint(10, 11), QPoint(0, 11)}));
    return picture;
}

}  // namespace

TInnerButton::TInnerButton(QWidget* field) : QAbstractButton(field) {
    setFocusPolicy(Qt::NoFocus);
    // The field shows a text cursor; over the button the ordinary arrow is right.
    setCursor(Qt::ArrowCursor);
}

QImage TInnerButton::folderPicture() {
    static const QImage picture = drawFolderPicture();
    return picture;
}

QSize TInnerButton::sizeHint() const {
    return QSize(kPictureWidth + 6, kPictureHeight + 4);
}

void TInnerButton::paintEvent(QPaintEvent* /*event*/) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    option.initFrom(this);
    option.features = QStyleOptionButton::None;
    if (isDown()) {
        option.state |= QStyle::State_Sunken;
    } else {
        option.state |= QStyle::State_Raised;
    }
    painter.drawControl(QStyle::CE_PushButtonBevel, option);

    // Centred, and moved one pixel down and right while pressed, as a pushed button does.
    const QImage picture = folderPicture();
    QPoint topLeft((width() - picture.width()) / 2, (height() - picture.height()) / 2);
    if (isDown()) {
        topLeft += QPoint(1, 1);
    }
    if (!isEnabled()) {
        painter.setOpacity(0.4);
    }
    painter.drawImage(topLeft, picture);
}
