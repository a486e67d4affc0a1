#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>

class IniFile;
class QWidget;
class UserDialogs;

// Remembers where its owner window was and whether it was minimized or maximized, in the
// section named after the owner's class of an INI file, and puts the window back there when
// it is shown. It restores on the owner's (non-spontaneous) show events by itself; the owner
// calls OwnerClosed() once it has agreed to close and OwnerDestroying() first thing in its
// destructor, while the window still exists.
//
// Positions are in pixels from the corner of the primary screen's work area, as frame
// rectangles (frameGeometry). A window whose size is fixed keeps its own size whatever
// size is stored. A display server that refuses to place windows (Wayland) ignores the
// position, but the file is read and written all the same.
class TPlacementKeeper : public QObject {
    Q_OBJECT

public:
    TPlacementKeeper(QWidget* owner, const QString& iniFileName, UserDialogs* dialogs);

    bool Active = true;
    int Version = 0;

    const QString& IniFileName() const { return m_iniFileName; }
    QString IniSection() const;

    void RestorePlacement();
    void SavePlacement();

    void OwnerClosed();
    void OwnerDestroying();

    bool Restored() const { return m_restored; }
    bool Saved() const { return m_saved; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void readPlacement(const IniFile& ini);
    QRect normalFrameRect() const;  // in work-area coordinates
    int pixelsPerInch() const;
    QString screenSuffix() const;
    QPoint workAreaOrigin() const;

    QWidget* m_owner;
    QString m_iniFileName;
    UserDialogs* m_dialogs;
    bool m_restored = false;
    bool m_saved = false;
    bool m_destroying = false;
    // The minimized and maximized positions of the placement. No window system here has
    // them; they are kept as read and written back. (-1,-1) is "not set".
    QPoint m_minPos{-1, -1};
    QPoint m_maxPos{-1, -1};
};
