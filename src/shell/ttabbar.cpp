#include "shell/ttabbar.h"

#include <QStyleOptionTab>
#include <QStylePainter>

namespace {

constexpr int kTabWidth = 81;
constexpr int kTabHeight = 18;
constexpr int kIconTextGap = 3;
constexpr int kPadding = 3;

}  // namespace

TTabBar::TTabBar(QWidget* parent) : QTabBar(parent) {
    setIconSize(QSize(16, 16));
    setExpanding(false);
    setUsesScrollButtons(false);
    setElideMode(Qt::ElideNone);
}

void TTabBar::SetTabHighlighted(int index, bool on) {
    if (index < 0 || index >= count() || TabHighlighted(index) == on) {
        return;
    }
    // Kept with the tab, so it follows the tab whatever happens to the others.
    setTabData(index, on);
    update(tabRect(index));
}

bool TTabBar::TabHighlighted(int index) const {
    return tabData(index).toBool();
}

QSize TTabBar::tabSizeHint(int) const {
    return QSize(kTabWidth, kTabHeight);
}

QSize TTabBar::minimumTabSizeHint(int) const {
    return QSize(kTabWidth, kTabHeight);
}

void TTabBar::initStyleOption(QStyleOptionTab* option, int tabIndex) const {
    QTabBar::initStyleOption(option, tabIndex);
    if (TabHighlighted(tabIndex)) {
        const QColor back = option->palette.color(QPalette::Highlight);
        const QColor text = option->palette.color(QPalette::HighlightedText);
        option->palette.setColor(QPalette::Window, back);
        option->palette.setColor(QPalette::Button, back);
        option->palette.setColor(QPalette::WindowText, text);
        option->palette.setColor(QPalette::ButtonText, text);
    }
}

// The style's own label leaves too little room for an icon and "Configurar" in 81 pixels,
// so the style draws the tab's shape and the label is drawn here.
void TTabBar::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    for (int i = 0; i < count(); ++i) {
        if (i != currentIndex() && isTabVisible(i)) {
            paintTab(painter, i);
        }
    }
    if (currentIndex() >= 0 && isTabVisible(currentIndex())) {
        paintTab(painter, currentIndex());  // last, as it overlaps its neighbours
    }
}

void TTabBar::paintTab(QPainter& painter, int index) const {
    QStyleOptionTab option;
    initStyleOption(&option, index);
    style()->drawControl(QStyle::CE_TabBarTabShape, &option, &painter, this);

    const QRect r = option.rect;
    const int textWidth = option.fontMetrics.horizontalAdvance(option.text);
    const int iconWidth = option.icon.isNull() ? 0 : option.iconSize.width() + kIconTextGap;
    const int x = r.left() + qMax(kPadding, (r.width() - iconWidth - textWidth) / 2);
    if (!option.icon.isNull()) {
        const QRect iconRect(x, r.top() + (r.height() - option.iconSize.height()) / 2,
                             option.iconSize.width(), option.iconSize.height());
        option.icon.paint(&painter, iconRect, Qt::AlignCenter,
                          isTabEnabled(index) ? QIcon::Normal : QIcon::Disabled);
    }
    const QRect textRect(x + iconWidth, r.top(), r.right() - kPadding - x - iconWidth + 1,
                         r.height());
    painter.setPen(option.palette.color(QPalette::WindowText));
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic,
                     option.text);
}
