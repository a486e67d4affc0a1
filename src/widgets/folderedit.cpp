#include "widgets/folderedit.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>

TFolderEdit::TFolderEdit(QWidget* parent) : TDropPathEdit(parent) {
    SetDirectInput(false);
    SetAcceptFiles(true);
}

void TFolderEdit::setFolderChooser(TFolderChooser chooser) {
    m_chooser = std::move(chooser);
}

QString TFolderEdit::chooseFolderWithDialog(QWidget* parent, const QString& start) {
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("Select Directory"), start,
                                             QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly);
}

QString TFolderEdit::browseStart() const {
    QString start = text();
    if (start.isEmpty()) {
        start = InitialDir();
    }
    // With no folder known, or one that has vanished (or a text that never was one), the
    // chooser opens where the program runs.
    if (start.isEmpty() || !QFileInfo(start).isDir()) {
        start = QDir::currentPath();
    }
    return start;
}

void TFolderEdit::ButtonClick() {
    const QString start = browseStart();
    // The chooser runs a nested event loop, in which the window (and this field) may go.
    const QPointer<TFolderEdit> self(this);
    const QString chosen = m_chooser ? m_chooser(this, start) : chooseFolderWithDialog(this, start);
    if (self.isNull()) {
        return;
    }
    if (isEnabled() && isVisible()) {
        setFocus(Qt::OtherFocusReason);
    }
    if (chosen.isEmpty()) {
        return;
    }
    setText(chosen);
    // The change handler may have run anything, even closed the window.
    if (self.isNull()) {
        return;
    }
    if (QFileInfo(chosen).isDir()) {
        SetInitialDir(chosen);
    }
}

QString TFolderEdit::TextForDroppedPath(const QString& path) const {
    const QFileInfo info(path);
    if (info.exists() && !info.isDir()) {
        // The folder part up to and including the last "/".
        return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
    }
    return path;
}
