#include "shell/tpagecontrol.h"

#include "shell/ttabbar.h"

TPageControl::TPageControl(QWidget* parent) : QTabWidget(parent), m_tabBar(new TTabBar(this)) {
    setTabBar(m_tabBar);
    setTabPosition(QTabWidget::South);
    setDocumentMode(false);
}

void TPageControl::SetTabHighlighted(int index, bool on) {
    m_tabBar->SetTabHighlighted(index, on);
}

bool TPageControl::TabHighlighted(int index) const {
    return m_tabBar->TabHighlighted(index);
}
