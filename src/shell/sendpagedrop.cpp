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

std::optional<QString> SendPageDrop::droppedFile(const QMimeData* data, QString* why) {
    why->clear();
    if (data == nullptr || !data->hasUrls()) {
        return std::nullopt;
    }
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1) {
        *why = QStringLiteral("Solo un archivo a la vez");
        return std::nullopt;
    }
    const QUrl& url = urls.first();
    const QFileInfo info(url.toLocalFile());
    if (!url.isLocalFile() || !info.exists()) {
        *why = QStringLiteral("No se puede abrir el archivo");
        return std::nullopt;
    }
    if (info.isDir()) {
        *why = QStringLiteral("Una carpeta no se envia");
        return std::nullopt;
    }
    return info.absoluteFilePath();
}

bool SendPageDrop::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(event);
            QString why;
            const std::optional<QString> file = droppedFile(drag->mimeData(), &why);
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
            const std::optional<QString> file = droppedFile(drop->mimeData(), &why);
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
