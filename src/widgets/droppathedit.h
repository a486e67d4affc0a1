#pragma once

#include "widgets/buttonedit.h"

class QMimeData;

// A button field that takes a path from a file or folder dropped onto it (while AcceptFiles
// is true) and whose button opens a dialog; InitialDir is where that dialog starts when the
// field says nothing better.
//
// A drop is taken when its first item is a local file or folder (a "text/uri-list" entry with
// a file URL). Only that first item counts; the text becomes TextForDroppedPath() of its
// full local path, taken whole: a Linux path may be far longer than 254 characters, and
// a shortened path would name another folder. A drop is taken as a copy, or else as a
// link, never as a move, so the source keeps its files.
class TDropPathEdit : public TButtonEdit {
    Q_OBJECT

public:
    explicit TDropPathEdit(QWidget* parent = nullptr);

    bool AcceptFiles() const { return m_acceptFiles; }
    void SetAcceptFiles(bool accept);

    QString InitialDir() const { return m_initialDir; }
    void SetInitialDir(const QString& folder);

protected:
    // The text that a dropped path gives. As it is, here.
    virtual QString TextForDroppedPath(const QString& path) const;

    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The first dropped item's local path when this field takes the drop, else empty.
    QString droppedPath(const QMimeData* data) const;

    bool m_acceptFiles = false;
    QString m_initialDir;
};
