#include "shell/sendpagedrop.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include <utility>

SendPageDrop::SendPageDrop(QWidget* page, Hooks hooks) : QObject(page), m_hooks(std::move(hooks)) {
    page->setAcceptDrops(true);
    page->installEventFilter(this);
    // The fields take drops of their own (the address field would take the path as text):
    // files are the page's business wherever they fall.
    for (QWidget* child : page->findChildren<QWidget*>()) {
        child->installEventFilter(this);
    }
}

std::optional<QStringList> SendPageDrop::droppedPaths(const QMimeData* data, QString* why) {
    why->clear();
    if (data == nullptr || !data->hasUrls()) {
        return std::nullopt;
    }
    QStringList paths;
    for (const QUrl& url : data->urls()) {
        const QFileInfo info(url.toLocalFile());
        if (!url.isLocalFile() || !info.exists()) {
            *why = QStringLiteral("No se puede abrir el archivo");
            return std::nullopt;
        }
        paths.append(info.absoluteFilePath());
    }
    if (paths.isEmpty()) {
        return std::nullopt;
    }
    return paths;
}

bool SendPageDrop::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(event);
            QString why;
            const std::optional<QStringList> file = droppedPaths(drag->mimeData(), &why);
            if (!drag->mimeData()->hasUrls()) {
                return QObject::eventFilter(watched, event);  // text for a field
            }
            if (file && m_hooks.mayChoose()) {
                drag->acceptProposedAction();
            } else {
                drag->ignore();
                if (event->type() == QEvent::DragEnter && !why.isEmpty()) {
                    m_hooks.say(why);
                    m_said = true;
                }
            }
            return true;
        }
        case QEvent::DragLeave:
            if (std::exchange(m_said, false)) {
                m_hooks.say(QString());
            }
            return false;
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            if (!drop->mimeData()->hasUrls()) {
                return QObject::eventFilter(watched, event);
            }
            QString why;
            const std::optional<QStringList> file = droppedPaths(drop->mimeData(), &why);
            m_said = false;
            if (file && m_hooks.mayChoose()) {
                drop->acceptProposedAction();
                m_hooks.choose(*file);
            } else {
                drop->ignore();
                m_hooks.say(why);
            }
            return true;
        }
        default:
            return QObject::eventFilter(watched, event);
    }
}
