#include "shell/qtuserdialogs.h"

#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/apptitle.h"

namespace {

QMessageBox::StandardButton runBox(QWidget* parent, const QString& text,
                                   QMessageBox::StandardButtons buttons,
                                   QMessageBox::StandardButton defaultButton) {
    QMessageBox box(QMessageBox::NoIcon, appTitle(), text, buttons, parent);
    box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

// A box that opens window modal and deletes itself once answered.
QMessageBox* openBox(QWidget* parent, const QString& text, QMessageBox::StandardButtons buttons,
                     QMessageBox::StandardButton defaultButton) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, appTitle(), text, buttons, parent);
    box->setDefaultButton(defaultButton);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

}  // namespace

bool QtUserDialogs::askYesNo(QWidget* parent, const QString& text) {
    return runBox(parent, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
           QMessageBox::Yes;
}

void QtUserDialogs::showMessage(QWidget* parent, const QString& text) {
    runBox(parent, text, QMessageBox::Ok, QMessageBox::Ok);
}

void QtUserDialogs::askYesNoLater(QWidget* parent, const QString& text,
                                  std::function<void(bool yes)> answered) {
    QMessageBox* box = openBox(parent, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    QObject::connect(box, &QDialog::finished, box, [box, answered = std::move(answered)] {
        answered(box->standardButton(box->clickedButton()) == QMessageBox::Yes);
    });
    box->open();
}

void QtUserDialogs::showMessageLater(QWidget* parent, const QString& text,
                                     std::function<void()> closed) {
    QMessageBox* box = openBox(parent, text, QMessageBox::Ok, QMessageBox::Ok);
    QObject::connect(box, &QDialog::finished, box, [closed = std::move(closed)] { closed(); });
    box->open();
}

void QtUserDialogs::showError(QWidget* parent, const QString& text) {
    runBox(parent, text, QMessageBox::Ok, QMessageBox::Ok);
}

QString QtUserDialogs::chooseOpenFile(QWidget* parent, const QString& initialDir) {
    return QFileDialog::getOpenFileName(parent, QString(), initialDir);
}

QStringList QtUserDialogs::chooseOpenFiles(QWidget* parent, const QString& initialDir) {
    return QFileDialog::getOpenFileNames(parent, QString(), initialDir);
}

void QtUserDialogs::showTextLater(QWidget* parent, const QString& text,
                                  std::function<void()> closed) {
    // The text in a box of its own: selectable, scrolled when long, and copied whole with
    // "Copiar" (the box stays open for another look).
    auto* box = new QDialog(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(appTitle());
    box->setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(new QLabel(QStringLiteral("Texto recibido:"), box));
    auto* shown = new QPlainTextEdit(text, box);
    shown->setReadOnly(true);
    shown->setAccessibleName(QStringLiteral("Texto recibido"));
    layout->addWidget(shown);
    auto* buttons = new QDialogButtonBox(box);
    QPushButton* copy = buttons->addButton(QStringLiteral("Copiar"), QDialogButtonBox::ActionRole);
    buttons->addButton(QStringLiteral("Cerrar"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    QObject::connect(copy, &QPushButton::clicked, box,
                     [text] { QGuiApplication::clipboard()->setText(text); });
    QObject::connect(buttons, &QDialogButtonBox::rejected, box, &QDialog::reject);
    QObject::connect(box, &QDialog::finished, box, [closed = std::move(closed)] { closed(); });
    box->resize(360, 200);
    box->open();
}

QString QtUserDialogs::chooseFolder(QWidget* parent, const QString& start) {
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("Select Directory"), start);
}
