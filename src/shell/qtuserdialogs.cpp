#include "shell/qtuserdialogs.h"

#include <QFileDialog>
#include <QMessageBox>

#include "shell/apptitle.h"

namespace {

QMessageBox::StandardButton runBox(QWidget* parent, const QString& text,
                                   QMessageBox::StandardButtons buttons,
                                   QMessageBox::StandardButton defaultButton) {
    QMessageBox box(QMessageBox::NoIcon, appTitle(), text, buttons, parent);
    box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

bool QtUserDialogs::askYesNo(QWidget* parent, const QString& text) {
    return runBox(parent, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
           QMessageBox::Yes;
}

void QtUserDialogs::showMessage(QWidget* parent, const QString& text) {
    runBox(parent, text, QMessageBox::Ok, QMessageBox::Ok);
}

void QtUserDialogs::showError(QWidget* parent, const QString& text) {
    runBox(parent, text, QMessageBox::Ok, QMessageBox::Ok);
}

QString QtUserDialogs::chooseOpenFile(QWidget* parent, const QString& initialDir) {
    return QFileDialog::getOpenFileName(parent, QString(), initialDir);
}

QString QtUserDialogs::chooseFolder(QWidget* parent, const QString& start) {
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("Select Directory"), start);
}
