#pragma once

#include "shell/userdialogs.h"

// The real boxes: QMessageBox without icon and QFileDialog.
class QtUserDialogs : public UserDialogs {
public:
    bool askYesNo(QWidget* parent, const QString& text) override;
    void showMessage(QWidget* parent, const QString& text) override;
    void askYesNoLater(QWidget* parent, const QString& text,
                       std::function<void(bool yes)> answered) override;
    void showMessageLater(QWidget* parent, const QString& text,
                          std::function<void()> closed) override;
    void showError(QWidget* parent, const QString& text) override;
    QString chooseOpenFile(QWidget* parent, const QString& initialDir) override;
    QStringList chooseOpenFiles(QWidget* parent, const QString& initialDir) override;
    void showTextLater(QWidget* parent, const QString& text, std::function<void()> closed) override;
    QString chooseFolder(QWidget* parent, const QString& start) override;
};
