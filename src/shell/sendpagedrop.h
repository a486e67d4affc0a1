#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QMimeData;
class QWidget;

// Drop to send: a file dropped anywhere on the "Enviar" page (its fields included) is chosen
// as "Examinar" would choose it. Only one local file that is not a folder is taken; folders
// and several files are refused while they are dragged (the pointer shows it, and `say` gets
// a short text for the status bar).
class SendPageDrop : public QObject {
    Q_OBJECT

public:
    struct Hooks {
        std::function<bool()> mayChoose;  // false while a send is under way
        std::function<void(const QString& path)> choose;
        std::function<void(const QString& text)> say;
    };

    SendPageDrop(QWidget* page, Hooks hooks);

    // The one local file the data holds, or nullopt with the reason in `why` (empty when the
    // data holds no files at all).
    static std::optional<QString> droppedFile(const QMimeData* data, QString* why);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Hooks m_hooks;
    bool m_said = false;
};
