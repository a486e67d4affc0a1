#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

// Everything that talks to the user goes through this interface, so that tests can answer
// without a person and can never hang on a box. Every box is modal and titled
// "Ruvo v1.0b"; while one is open, socket events and timer ticks are still handled.
class UserDialogs {
public:
    virtual ~UserDialogs() = default;

    // A question with the buttons Yes and No; true for Yes.
    virtual bool askYesNo(QWidget* parent, const QString& text) = 0;
    // A message with the single button OK.
    virtual void showMessage(QWidget* parent, const QString& text) = 0;
    // The same two boxes without a nested event loop: they return at once, and the box
    // (window modal) calls back when it is answered. The callback checks that what it
    // answers still stands.
    virtual void askYesNoLater(QWidget* parent, const QString& text,
                               std::function<void(bool yes)> answered) = 0;
    virtual void showMessageLater(QWidget* parent, const QString& text,
                                  std::function<void()> closed) = 0;
    // The box for an exception that no handler caught (also OK only).
    virtual void showError(QWidget* parent, const QString& text) = 0;
    // The file-open dialog: the chosen file's full path, or empty for Cancel.
    virtual QString chooseOpenFile(QWidget* parent, const QString& initialDir) = 0;
    // The same dialog choosing several files at once; by default one.
    virtual QStringList chooseOpenFiles(QWidget* parent, const QString& initialDir) {
        const QString one = chooseOpenFile(parent, initialDir);
        return one.isEmpty() ? QStringList() : QStringList{one};
    }
    // A text received, shown so that it can be copied ("Copiar"); returns at once and calls
    // back when the box is closed. By default an OK box.
    virtual void showTextLater(QWidget* parent, const QString& text, std::function<void()> closed) {
        showMessageLater(parent, text, std::move(closed));
    }
    // The folder chooser opened at start: the chosen folder's full path, or empty for Cancel.
    virtual QString chooseFolder(QWidget* parent, const QString& start) = 0;
};
