#pragma once

#include <QTabBar>

// The tab bar of the page control: every tab 81x18 pixels with its icon and caption centred
// together, and a highlight that a tab can carry (drawn in the selection colours) to draw
// the user's eye to it.
class TTabBar : public QTabBar {
    Q_OBJECT

public:
    explicit TTabBar(QWidget* parent = nullptr);

    void SetTabHighlighted(int index, bool on);
    bool TabHighlighted(int index) const;

protected:
    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override;
    void initStyleOption(QStyleOptionTab* option, int tabIndex) const override;
    void paintEvent(QPaintEvent* event) override;

private:
    void paintTab(QPainter& painter, int index) const;
};
