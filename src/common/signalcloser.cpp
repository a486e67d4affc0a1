#include "common/signalcloser.h"

#include <fcntl.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace {

int g_pipe[2] = {-1, -1};
struct sigaction g_previousTerm;
struct sigaction g_previousInt;

void onSignal(int signo) {
    const int savedErrno = errno;
    const char byte = static_cast<char>(signo);
    // A full pipe already holds a wake-up; losing this byte loses nothing.
    [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

SignalCloser::SignalCloser(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), m_onSignal(std::move(onSignal)) {
    if (pipe2(g_pipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalCloser::readSignals);

    struct sigaction action = {};
    action.sa_handler = ::onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, &g_previousTerm);
    sigaction(SIGINT, &action, &g_previousInt);
}

SignalCloser::~SignalCloser() {
    if (g_pipe[0] < 0) {
        return;
    }
    sigaction(SIGTERM, &g_previousTerm, nullptr);
    sigaction(SIGINT, &g_previousInt, nullptr);
    delete m_notifier;
    close(g_pipe[0]);
    close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void SignalCloser::readSignals() {
    char buffer[64];
    ssize_t n;
    do {
        n = read(g_pipe[0], buffer, sizeof buffer);
    } while (n > 0 || (n < 0 && errno == EINTR));
    if (m_onSignal) {
        m_onSignal();
    }
}
