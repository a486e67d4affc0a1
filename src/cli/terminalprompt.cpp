#include "cli/terminalprompt.h"

#include <QSocketNotifier>

#include <unistd.h>

#include <cstdio>

TerminalPrompt::TerminalPrompt(QObject* parent)
    : QObject(parent), m_notifier(new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this)) {
    m_notifier->setEnabled(false);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminalPrompt::readInput);
}

void TerminalPrompt::ask(const QString& question, std::function<void(bool)> answered) {
    if (m_answered) {
        finish(false);
    }
    m_answered = std::move(answered);
    m_line.clear();
    std::fputs((question + QStringLiteral(" [s/n] ")).toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
    m_notifier->setEnabled(true);
}

void TerminalPrompt::readInput() {
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
        m_notifier->setEnabled(false);
        finish(false);  // no more input: nobody can say yes
        return;
    }
    m_line.append(buffer, n);
    const qsizetype end = m_line.indexOf('\n');
    if (end < 0) {
        return;
    }
    const QByteArray answer = m_line.first(end).trimmed().toLower();
    finish(answer == "s" || answer == "si" || answer == "y" || answer == "yes");
}

void TerminalPrompt::finish(bool yes) {
    m_notifier->setEnabled(false);
    std::function<void(bool)> answered = std::move(m_answered);
    m_answered = nullptr;
    if (answered) {
        answered(yes);
    }
}
