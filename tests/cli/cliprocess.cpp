#include "cli/cliprocess.h"

#include <QProcessEnvironment>

#include <signal.h>

#include "endtoend/copies.h"

QString cliPath() {
    return QStringLiteral(RUVO_CLI_PATH);
}

QProcessEnvironment CliProcess::defaultEnvironment() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    return environment;
}

CliProcess::CliProcess(const QStringList& arguments, const QProcessEnvironment& environment)
    : m_process(std::make_unique<QProcess>()) {
    m_process->setProcessEnvironment(environment);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(cliPath(), arguments);
    m_process->waitForStarted(10000);
}

CliProcess::~CliProcess() {
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
}

bool CliProcess::waitForOutput(const QByteArray& text, int timeoutMs) {
    return waitUntil(
               [&] {
                   m_process->waitForReadyRead(1);
                   return output().contains(text) || m_process->state() == QProcess::NotRunning;
               },
               timeoutMs) &&
           output().contains(text);
}

int CliProcess::waitForExit(int timeoutMs) {
    if (!waitUntil([&] { return m_process->state() == QProcess::NotRunning; }, timeoutMs)) {
        m_process->kill();
        m_process->waitForFinished(5000);
        return -1;
    }
    return m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
}

void CliProcess::signal(int number) {
    ::kill(static_cast<pid_t>(m_process->processId()), number);
}

void CliProcess::write(const QByteArray& input) {
    m_process->write(input);
    m_process->waitForBytesWritten(5000);
}

QByteArray CliProcess::output() const {
    m_process->waitForReadyRead(0);
    const QByteArray more = m_process->readAll();
    m_output += more;
    return m_output;
}
