#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QMimeData;
class QWidget;

// Drop to send: files and folders dropped anywhere on the "Enviar" page (its fields
// included) are chosen as "Examinar" would choose them, several files or a folder as one
// offer. Only local files and folders that exist are taken; anything else is refused while
// it is dragged (the pointer shows it, and `say` gets a short text for the status bar).
class SendPageDrop : public QObject {
    Q_OBJECT

public:
    struct Hooks {
        std::function<bool()> mayChoose;  // false while a send is under way
        std::function<void(const QStringList& paths)> choose;
        std::function<void(const QString& text)> say;
    };

    SendPageDrop(QWidget* page, Hooks hooks);

    // The local files and folders the data holds, or nullopt with the reason in `why` (empty
    // when the data holds no files at all).
    static std::optional<QStringList> droppedPaths(const QMimeData* data, QString* why);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Hooks m_hooks;
    bool m_said = false;
};
