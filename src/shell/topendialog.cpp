#include "shell/topendialog.h"

#include <QWidget>

#include "shell/userdialogs.h"

TOpenDialog::TOpenDialog(QWidget* owner, UserDialogs* dialogs)
    : QObject(owner), m_owner(owner), m_dialogs(dialogs) {}

bool TOpenDialog::Execute() {
    const QString chosen = m_dialogs->chooseOpenFile(m_owner, InitialDir);
    if (chosen.isEmpty()) {
        return false;
    }
    FileName = chosen;
    return true;
}
