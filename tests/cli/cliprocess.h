#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// One ruvo-cli process for a test: started with its arguments, its output read as it comes,
// its end waited for with the event loop running (a window in the same test may be its
// peer).
class CliProcess {
public:
    // `stdinFd`, when given, becomes the process's input (a terminal for prompt tests).
    explicit CliProcess(const QStringList& arguments,
                        const QProcessEnvironment& environment = defaultEnvironment(),
                        int stdinFd = -1);
    ~CliProcess();

    static QProcessEnvironment defaultEnvironment();

    // Waits until the output holds `text`; false when time ran out or the process ended.
    bool waitForOutput(const QByteArray& text, int timeoutMs = 20000);
    // Waits for the end without ending it; false when it still runs.
    bool waitForEnd(int timeoutMs);
    // Waits for the end; the exit code, or -1 when it did not end in time (it is killed).
    int waitForExit(int timeoutMs = 60000);
    void signal(int number);
    void write(const QByteArray& input);
    QByteArray output() const;

private:
    std::unique_ptr<QProcess> m_process;
    mutable QByteArray m_output;
};

QString cliPath();

// A port nobody listens on now (the system's choice), below 65000 so that N + 1 exists.
quint16 freePort();
QString arg(quint16 port);

struct Folders {
    QTemporaryDir source;
    QTemporaryDir target;
    QString sourceFile(const QString& name) const { return source.path() + u'/' + name; }
    QString targetFile(const QString& name) const { return target.path() + u'/' + name; }
};
