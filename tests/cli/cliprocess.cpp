#include "cli/cliprocess.h"

#include <QProcessEnvironment>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include "endtoend/copies.h"

QString cliPath() {
    // Another build of ruvo-cli may be put under these tests (an older one, to compare).
    const QString other = qEnvironmentVariable("RUVO_CLI_UNDER_TEST");
    return other.isEmpty() ? QStringLiteral(RUVO_CLI_PATH) : other;
}

QProcessEnvironment CliProcess::defaultEnvironment() {
    // A configuration folder of the test program's own: ruvo-cli makes its identity there at
    // first start, never in the user's.
    static const QTemporaryDir config;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    return environment;
}

CliProcess::CliProcess(const QStringList& arguments, const QProcessEnvironment& environment,
                       int stdinFd)
    : m_process(std::make_unique<QProcess>()) {
    m_process->setProcessEnvironment(environment);
    if (stdinFd >= 0) {
        m_process->setChildProcessModifier([stdinFd] { ::dup2(stdinFd, STDIN_FILENO); });
    }
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

bool CliProcess::waitForEnd(int timeoutMs) {
    return waitUntil([&] { return m_process->state() == QProcess::NotRunning; }, timeoutMs);
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

quint16 freePort() {
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        ::close(fd);
        const quint16 port = ntohs(address.sin_port);
        if (port < 65000) {
            return port;
        }
    }
    return 0;
}

QString arg(quint16 port) {
    return QString::number(port);
}
