#include "shell/tstatusbar.h"

#include <qdrawutil.h>
#include <QAccessible>
#include <QPainter>

namespace {

constexpr int kFirstPanelWidth = 85;
constexpr int kGap = 2;  // between panels, and above them

}  // namespace

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent) {}

void TStatusBar::SetPanelText(int index, const QString& text) {
    if (index < 0 || index >= kPanelCount || m_texts[index] == text) {
        return;
    }
    m_texts[index] = text;
    update(PanelRect(index));
    // A screen reader hears the change: the panel's name changed.
    if (QAccessible::isActive()) {
        if (QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(this)) {
            if (QAccessibleInterface* panel = bar->child(index)) {
                QAccessibleEvent event(panel, QAccessible::NameChanged);
                QAccessible::updateAccessibility(&event);
            }
        }
    }
}

QString TStatusBar::PanelText(int index) const {
    return index >= 0 && index < kPanelCount ? m_texts[index] : QString();
}

QRect TStatusBar::PanelRect(int index) const {
    const int h = height() - kGap;
    if (index == 0) {
        return QRect(0, kGap, kFirstPanelWidth, h);
    }
    const int left = kFirstPanelWidth + kGap;
    return QRect(left, kGap, width() - left - 1, h);
}

void TStatusBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    for (int i = 0; i < kPanelCount; ++i) {
        const QRect r = PanelRect(i);
        qDrawShadePanel(&painter, r, palette(), true, 1);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.setClipRect(r.adjusted(1, 1, -1, -1));
        painter.drawText(r.adjusted(3, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter, m_texts[i]);
        painter.setClipping(false);
    }
}
