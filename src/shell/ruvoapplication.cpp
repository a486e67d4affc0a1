#include "shell/ruvoapplication.h"

#include <exception>

#include "net/uncaughtexceptions.h"
#include "shell/userdialogs.h"

RuvoApplication::RuvoApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // The socket layer catches exceptions of its handlers itself and hands them on here.
    setUncaughtExceptionHandler([this](const QString& message) { showUncaught(message); });
}

RuvoApplication::~RuvoApplication() {
    setUncaughtExceptionHandler(nullptr);
}

bool RuvoApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        showUncaught(QString::fromUtf8(e.what()));
    } catch (...) {
        showUncaught(QStringLiteral("Unknown exception"));
    }
    return false;
}

void RuvoApplication::showUncaught(const QString& message) {
    if (m_dialogs) {
        m_dialogs->showError(activeWindow(), message);
    } else {
        qWarning("%s", qUtf8Printable(message));
    }
}
