#pragma once

#include "widgets/droppathedit.h"

#include <functional>

// Shows a folder chooser opened at start and returns the chosen folder's full path, or an
// empty text when the user cancelled. Runs modally; parent is the field.
using TFolderChooser = std::function<QString(QWidget* parent, const QString& start)>;

// A field that holds one folder. The keyboard cannot change it; the user replaces it by
// choosing a folder (the button, or ClickKey, Alt+Down by default) or by dropping a file
// (its folder is taken, with a final "/") or a folder (taken as it is) onto it.
// Every change of the text, whoever makes it, is reported by textChanged.
class TFolderEdit : public TDropPathEdit {
    Q_OBJECT

public:
    explicit TFolderEdit(QWidget* parent = nullptr);

    // An empty chooser restores the default, a "Select Directory" folder dialog.
    void setFolderChooser(TFolderChooser chooser);

    // The chooser used when none is set: QFileDialog::getExistingDirectory titled
    // "Select Directory", showing folders only and offering no folder creation.
    static QString chooseFolderWithDialog(QWidget* parent, const QString& start);

protected:
    // Browse: opens the chooser at the text, else at InitialDir, else at "/"; a start that is
    // no existing folder becomes the current working folder. On OK the text becomes the
    // chosen folder and, if that exists, so does InitialDir; Cancel changes nothing.
    void ButtonClick() override;

    // An existing file gives its folder with a final "/"; anything else stays as it is.
    QString TextForDroppedPath(const QString& path) const override;

private:
    QString browseStart() const;

    TFolderChooser m_chooser;
};
