#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <map>
#include <memory>

// One copy of the program as a process of its own: the test harness (a real window,
// offscreen) with its own configuration folder, started with QProcess. Its output lines are
// collected while the event loop runs; commands go to its standard input. The destructor
// kills a copy that is still running, so a failing test leaves no process behind.
class HarnessProcess {
public:
    using Status = std::map<QString, QString>;

    explicit HarnessProcess(QString name);
    ~HarnessProcess();
    HarnessProcess(const HarnessProcess&) = delete;
    HarnessProcess& operator=(const HarnessProcess&) = delete;

    // Starts the harness with `arguments` (its --config is added) and waits until it says it
    // is listening; false when it did not within `timeoutMs`. With a `wrapper`, that command
    // runs and the harness and its arguments follow it (for example a shell that mounts
    // something first and then runs "$@"). May be called again after the copy ended: the
    // configuration folder stays the same.
    bool start(const QStringList& arguments, const QStringList& wrapper = {},
               int timeoutMs = 30000);
    bool isRunning() const;
    qint64 pid() const { return m_pid; }
    quint16 port() const { return m_port; }
    QString configFolder() const { return m_config.path(); }

    // Sends one command line to its standard input ("answer yes", "click Recibir", ...).
    void command(const QString& line);
    // The lines printed since the last start.
    const QStringList& lines() const { return m_lines; }
    // Those of them that tell of an error box or of a question nobody had an answer for:
    // a copy under attack shows neither.
    QStringList troubleLines() const;
    // Waits for a line at index `from` or later that `match` accepts; its index, or -1.
    int waitForLine(const std::function<bool(const QString&)>& match, int timeoutMs, int from = 0);
    int waitForLine(const QString& exact, int timeoutMs, int from = 0);
    bool sawLine(const QString& exact, int from = 0) const;

    // The window's state now, from the "status" command; empty when no answer came.
    Status status(int timeoutMs = 10000);
    // Asks for the status until `holds` accepts it; the last status seen.
    bool waitForStatus(const std::function<bool(const Status&)>& holds, int timeoutMs,
                       Status* last = nullptr);

    // SIGSTOP and SIGCONT: a copy that is suspended handles nothing, so that input piles up
    // for it.
    void suspend();
    void resume();
    // SIGKILL, and waits for the end.
    void kill();
    // SIGTERM (the window closes in order) and waits; true when the copy then ended normally
    // with exit code 0 (under the sanitizers: without a report).
    bool stop(int timeoutMs = 30000);
    // Waits for the copy to end by itself; true when it did with exit code 0.
    bool waitForExit(int timeoutMs);

    // Resident memory of the running copy in KiB (VmRSS); -1 when unknown.
    qint64 residentKilobytes() const;
    // Open file descriptors of the running copy (entries of /proc/<pid>/fd); -1 when unknown.
    int openDescriptorCount() const;
    // A path as the copy sees it (through /proc/<pid>/root, so also inside a mount namespace
    // of its own).
    QString pathInside(const QString& path) const;
    // Everything it printed, over all its runs, for failure messages.
    QString transcript() const;

private:
    void readOutput();

    QString m_name;
    QTemporaryDir m_config;
    std::unique_ptr<QProcess> m_process;
    QStringList m_lines;
    QStringList m_transcript;
    QByteArray m_partial;
    qint64 m_pid = 0;
    quint16 m_port = 0;
};
