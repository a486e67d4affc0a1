#include "widgets/droppathedit.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace {

// Copy, else link: accepting a move could make the source delete what was dropped.
Qt::DropAction harmlessAction(Qt::DropActions possible) {
    if (possible.testFlag(Qt::CopyAction)) {
        return Qt::CopyAction;
    }
    if (possible.testFlag(Qt::LinkAction)) {
        return Qt::LinkAction;
    }
    return Qt::IgnoreAction;
}

}  // namespace

TDropPathEdit::TDropPathEdit(QWidget* parent) : TButtonEdit(parent) {
    setAcceptDrops(true);
}

void TDropPathEdit::SetAcceptFiles(bool accept) {
    m_acceptFiles = accept;
}

void TDropPathEdit::SetInitialDir(const QString& folder) {
    m_initialDir = folder;
}

QString TDropPathEdit::TextForDroppedPath(const QString& path) const {
    return path;
}

QString TDropPathEdit::droppedPath(const QMimeData* data) const {
    if (!m_acceptFiles || data == nullptr || !data->hasUrls()) {
        return {};
    }
    const QList<QUrl> urls = data->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile()) {
        return {};
    }
    return urls.first().toLocalFile();
}

void TDropPathEdit::dragEnterEvent(QDragEnterEvent* event) {
    const Qt::DropAction action = harmlessAction(event->possibleActions());
    if (action != Qt::IgnoreAction && !droppedPath(event->mimeData()).isEmpty()) {
        event->setDropAction(action);
        event->accept();
        return;
    }
    TButtonEdit::dragEnterEvent(event);
}

void TDropPathEdit::dragMoveEvent(QDragMoveEvent* event) {
    const Qt::DropAction action = harmlessAction(event->possibleActions());
    if (action != Qt::IgnoreAction && !droppedPath(event->mimeData()).isEmpty()) {
        event->setDropAction(action);
        event->accept();
        return;
    }
    TButtonEdit::dragMoveEvent(event);
}

void TDropPathEdit::dropEvent(QDropEvent* event) {
    const Qt::DropAction action = harmlessAction(event->possibleActions());
    const QString path = droppedPath(event->mimeData());
    if (action == Qt::IgnoreAction || path.isEmpty()) {
        TButtonEdit::dropEvent(event);
        return;
    }
    event->setDropAction(action);
    event->accept();
    setText(TextForDroppedPath(path));
}
