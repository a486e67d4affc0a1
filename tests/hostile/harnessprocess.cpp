#include "harnessprocess.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>

#include <dirent.h>
#include <csignal>
#include <cstdio>

#include "hostilesupport.h"

HarnessProcess::HarnessProcess(QString name) : m_name(std::move(name)) {}

HarnessProcess::~HarnessProcess() {
    kill();
}

bool HarnessProcess::start(const QStringList& arguments, const QStringList& wrapper,
                           int timeoutMs) {
    kill();
    m_lines.clear();
    m_partial.clear();
    m_port = 0;
    m_process = std::make_unique<QProcess>();
    // Sanitizer reports and warnings of the copy show in the test's output.
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    m_process->setProcessEnvironment(environment);
    QObject::connect(m_process.get(), &QProcess::readyReadStandardOutput, m_process.get(),
                     [this] { readOutput(); });

    QStringList all = arguments;
    all << QStringLiteral("--config") << m_config.path();
    if (wrapper.isEmpty()) {
        m_process->start(harnessProgram(), all);
    } else {
        m_process->start(wrapper.first(), wrapper.mid(1) + QStringList{harnessProgram()} + all);
    }
    if (!m_process->waitForStarted(timeoutMs)) {
        return false;
    }
    m_pid = m_process->processId();
    const int at = waitForLine(
        [](const QString& line) { return line.startsWith(QLatin1String("listening ")); },
        timeoutMs);
    if (at < 0) {
        return false;
    }
    m_port = static_cast<quint16>(m_lines.at(at).section(u' ', 1).toUInt());
    return true;
}

bool HarnessProcess::isRunning() const {
    return m_process && m_process->state() != QProcess::NotRunning;
}

void HarnessProcess::command(const QString& line) {
    if (isRunning()) {
        m_process->write((line + QLatin1Char('\n')).toUtf8());
        // Out at once: the caller may block on a socket next, without an event loop.
        m_process->waitForBytesWritten(5000);
    }
}

void HarnessProcess::readOutput() {
    m_partial.append(m_process->readAllStandardOutput());
    for (qsizetype end = m_partial.indexOf('\n'); end >= 0; end = m_partial.indexOf('\n')) {
        const QString line = QString::fromUtf8(m_partial.left(end));
        m_partial.remove(0, end + 1);
        m_lines.append(line);
        if (!line.startsWith(QLatin1String("status\t"))) {
            m_transcript.append(m_name + QStringLiteral(": ") + line);
        }
        if (qEnvironmentVariableIsSet("RUVO_HOSTILE_VERBOSE")) {
            std::fprintf(stderr, "[%s] %s\n", qUtf8Printable(m_name), qUtf8Printable(line));
        }
    }
}

QStringList HarnessProcess::troubleLines() const {
    QStringList trouble;
    for (const QString& line : m_lines) {
        if (line.startsWith(QLatin1String("box error")) ||
            line.startsWith(QLatin1String("unexpected"))) {
            trouble.append(line);
        }
    }
    return trouble;
}

int HarnessProcess::waitForLine(const std::function<bool(const QString&)>& match, int timeoutMs,
                                int from) {
    int found = -1;
    waitUntil(
        [&] {
            for (int i = from; i < m_lines.size(); ++i) {
                if (match(m_lines.at(i))) {
                    found = i;
                    return true;
                }
            }
            from = std::max(from, static_cast<int>(m_lines.size()));
            return !isRunning() && (!m_process || m_process->bytesAvailable() == 0);
        },
        timeoutMs);
    return found;
}

int HarnessProcess::waitForLine(const QString& exact, int timeoutMs, int from) {
    return waitForLine([&exact](const QString& line) { return line == exact; }, timeoutMs, from);
}

bool HarnessProcess::sawLine(const QString& exact, int from) const {
    return m_lines.indexOf(exact, from) >= 0;
}

HarnessProcess::Status HarnessProcess::status(int timeoutMs) {
    const int from = static_cast<int>(m_lines.size());
    command(QStringLiteral("status"));
    const int at =
        waitForLine([](const QString& line) { return line.startsWith(QLatin1String("status\t")); },
                    timeoutMs, from);
    Status result;
    if (at < 0) {
        return result;
    }
    for (const QString& field : m_lines.at(at).split(u'\t').mid(1)) {
        result[field.section(u'=', 0, 0)] = field.section(u'=', 1);
    }
    return result;
}

bool HarnessProcess::waitForStatus(const std::function<bool(const Status&)>& holds, int timeoutMs,
                                   Status* last) {
    Status seen;
    const bool held = waitUntil(
        [&] {
            seen = status(std::max(1000, timeoutMs));
            return !seen.empty() && holds(seen);
        },
        timeoutMs);
    if (last != nullptr) {
        *last = seen;
    }
    return held;
}

void HarnessProcess::suspend() {
    if (isRunning()) {
        ::kill(static_cast<pid_t>(m_pid), SIGSTOP);
    }
}

void HarnessProcess::resume() {
    if (isRunning()) {
        ::kill(static_cast<pid_t>(m_pid), SIGCONT);
    }
}

void HarnessProcess::kill() {
    if (isRunning()) {
        m_process->kill();
        m_process->waitForFinished(10000);
    }
}

bool HarnessProcess::stop(int timeoutMs) {
    if (!isRunning()) {
        return false;
    }
    ::kill(static_cast<pid_t>(m_pid), SIGTERM);
    return waitForExit(timeoutMs);
}

bool HarnessProcess::waitForExit(int timeoutMs) {
    if (!m_process) {
        return false;
    }
    waitUntil([this] { return !isRunning(); }, timeoutMs);
    if (isRunning()) {
        return false;
    }
    readOutput();
    return m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
}

int HarnessProcess::openDescriptorCount() const {
    if (!isRunning()) {
        return -1;
    }
    DIR* folder = ::opendir(QStringLiteral("/proc/%1/fd").arg(m_pid).toLocal8Bit().constData());
    if (folder == nullptr) {
        return -1;
    }
    int count = 0;
    while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    ::closedir(folder);
    return count;
}

qint64 HarnessProcess::residentKilobytes() const {
    QFile status(QStringLiteral("/proc/%1/status").arg(m_pid));
    if (!isRunning() || !status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).simplified().split(' ').value(0).toLongLong();
        }
    }
    return -1;
}

QString HarnessProcess::pathInside(const QString& path) const {
    return QStringLiteral("/proc/%1/root").arg(m_pid) + path;
}

QString HarnessProcess::transcript() const {
    return m_transcript.join(QLatin1Char('\n'));
}
