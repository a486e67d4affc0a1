#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

// Keeps the program receiving with its window closed. While on, an icon in the system tray
// stands for the program; a close of the window then hides it instead of ending the program,
// and the icon brings it back (a click, or "Mostrar" in its menu) or ends the program
// ("Salir"). Off, nothing changes: the icon is gone and a close ends the program.
//
// While on, the application no longer quits when its last window closes (a box shown while
// the window is hidden would otherwise end it); the window quits it itself. The setting goes
// back when the tray is switched off or destroyed.
class BackgroundTray : public QObject {
    Q_OBJECT

public:
    explicit BackgroundTray(QWidget* window);
    ~BackgroundTray() override;

    void setOn(bool on);
    bool isOn() const { return m_on; }
    // On, and a tray to show the icon in: only then may a close hide the window, so that a
    // hidden window can always be brought back.
    bool keepsRunning() const;
    // Whether the desktop shows a tray; tests stand in for a desktop that has one.
    void setTrayAvailable(std::function<bool()> available) { m_available = std::move(available); }

    void setToolTip(const QString& text);
    void showWindow();

signals:
    // "Salir" chosen in the icon's menu.
    void quitRequested();

private:
    QWidget* m_window;
    QSystemTrayIcon* m_icon;
    QMenu* m_menu;
    bool m_on = false;
    std::function<bool()> m_available;
};
