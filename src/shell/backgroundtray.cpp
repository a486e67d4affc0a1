#include "shell/backgroundtray.h"

#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

#include "shell/tabicons.h"

BackgroundTray::BackgroundTray(QWidget* window)
    : QObject(window),
      m_window(window),
      m_icon(new QSystemTrayIcon(programIcon(), this)),
      m_menu(new QMenu),
      m_available(&QSystemTrayIcon::isSystemTrayAvailable) {
    m_menu->addAction(QStringLiteral("Mostrar"), this, &BackgroundTray::showWindow);
    m_menu->addAction(QStringLiteral("Salir"), this, &BackgroundTray::quitRequested);
    m_icon->setContextMenu(m_menu);
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    showWindow();
                }
            });
}

BackgroundTray::~BackgroundTray() {
    setOn(false);
    delete m_menu;
}

void BackgroundTray::setOn(bool on) {
    if (on == m_on) {
        return;
    }
    m_on = on;
    m_icon->setVisible(on);
    QGuiApplication::setQuitOnLastWindowClosed(!on);
}

bool BackgroundTray::keepsRunning() const {
    return m_on && m_available();
}

void BackgroundTray::setToolTip(const QString& text) {
    m_icon->setToolTip(text);
}

void BackgroundTray::showWindow() {
    m_window->showNormal();
    m_window->raise();
    m_window->activateWindow();
}
