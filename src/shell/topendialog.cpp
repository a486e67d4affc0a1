#include "shell/topendialog.h"

#include <QWidget>

#include "shell/userdialogs.h"

TOpenDialog::TOpenDialog(QWidget* owner, UserDialogs* dialogs)
    : QObject(owner), m_owner(owner), m_dialogs(dialogs) {}

bool TOpenDialog::Execute() {
    const QStringList chosen = m_dialogs->chooseOpenFiles(m_owner, InitialDir);
    if (chosen.isEmpty()) {
        return false;
    }
    FileNames = chosen;
    FileName = chosen.front();
    return true;
}
