#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QWidget;
class UserDialogs;

// The file-open dialog as a component: where it opens, and the file the user chose last.
class TOpenDialog : public QObject {
    Q_OBJECT

public:
    TOpenDialog(QWidget* owner, UserDialogs* dialogs);

    QString InitialDir;
    QString FileName;       // full path of the file chosen last (the first, of several)
    QStringList FileNames;  // every file chosen last

    // Shows the dialog; true with FileName set when the user chose a file, false (and
    // FileName unchanged) on Cancel.
    bool Execute();

private:
    QWidget* m_owner;
    UserDialogs* m_dialogs;
};
