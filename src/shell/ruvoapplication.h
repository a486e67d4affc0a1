#pragma once

#include <QApplication>

class UserDialogs;

// The application object. An exception that escapes an event handler (a click, a timer
// tick, a socket notification, a queued call) is not fatal: its message is shown in the
// error box and the program goes on. It also receives the exceptions that the socket layer
// catches in its own notifications.
class RuvoApplication : public QApplication {
    Q_OBJECT

public:
    RuvoApplication(int& argc, char** argv);
    ~RuvoApplication() override;

    // Where the messages of uncaught exceptions go; null prints them on stderr.
    void setErrorDialogs(UserDialogs* dialogs) { m_dialogs = dialogs; }
    UserDialogs* errorDialogs() const { return m_dialogs; }

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows the message of an exception that no handler caught; usable from code that
    // catches on its own, outside notify().
    void showUncaught(const QString& message);

private:
    UserDialogs* m_dialogs = nullptr;
};
