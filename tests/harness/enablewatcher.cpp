#include "enablewatcher.h"

#include <QEvent>
#include <QWidget>

EnableWatcher::EnableWatcher(QWidget* widget, std::function<void()> onEnabled)
    : QObject(widget), m_widget(widget), m_onEnabled(std::move(onEnabled)) {
    widget->installEventFilter(this);
}

bool EnableWatcher::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_widget && event->type() == QEvent::EnabledChange && m_widget->isEnabled()) {
        m_onEnabled();
    }
    return QObject::eventFilter(watched, event);
}
