#pragma once

#include <QTabWidget>

class TTabBar;

// The page control: a tab widget with its tabs along the bottom edge (TTabBar).
class TPageControl : public QTabWidget {
    Q_OBJECT

public:
    explicit TPageControl(QWidget* parent = nullptr);

    TTabBar* PageTabBar() const { return m_tabBar; }
    void SetTabHighlighted(int index, bool on);
    bool TabHighlighted(int index) const;

private:
    TTabBar* m_tabBar;
};
