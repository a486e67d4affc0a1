#include "cli/terminalprompt.h"

#include <QSocketNotifier>
#include <QStringList>

#include <termios.h>
#include <unistd.h>

#include <cstdio>

TerminalPrompt::TerminalPrompt(QObject* parent)
    : QObject(parent), m_notifier(new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this)) {
    m_notifier->setEnabled(false);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminalPrompt::readInput);
}

bool TerminalPrompt::onTerminal() {
    return ::isatty(STDIN_FILENO) != 0;
}

void TerminalPrompt::ask(const QString& question, std::function<void(bool)> answered) {
    if (m_answered) {
        finish(false);
    }
    m_answered = std::move(answered);
    if (::isatty(STDIN_FILENO)) {
        ::tcflush(STDIN_FILENO, TCIFLUSH);
        m_line.clear();
    }
    std::fputs((question + QStringLiteral(" [s/N] ")).toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
    m_notifier->setEnabled(true);
    if (m_line.contains('\n')) {
        // An answer a pipe sent ahead is already here: no further input may come for it.
        QMetaObject::invokeMethod(this, &TerminalPrompt::takeLine, Qt::QueuedConnection);
    }
}

void TerminalPrompt::dismiss() {
    if (!m_answered) {
        return;
    }
    m_answered = nullptr;
    m_notifier->setEnabled(false);
    std::fputc('\n', stdout);
    std::fflush(stdout);
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
    takeLine();
}

void TerminalPrompt::takeLine() {
    const qsizetype end = m_line.indexOf('\n');
    if (end < 0 || !m_answered) {
        return;
    }
    const QByteArray answer = m_line.first(end);
    m_line.remove(0, end + 1);  // a pipe's next answers wait for their questions
    finish(isYes(answer));
}

bool TerminalPrompt::isYes(const QByteArray& line) {
    static const QStringList yes = {QStringLiteral("sí"), QStringLiteral("si"), QStringLiteral("s"),
                                    QStringLiteral("yes"), QStringLiteral("y")};
    return yes.contains(QString::fromUtf8(line).trimmed().toLower());
}

void TerminalPrompt::finish(bool yes) {
    m_notifier->setEnabled(false);
    std::function<void(bool)> answered = std::move(m_answered);
    m_answered = nullptr;
    if (answered) {
        answered(yes);
    }
}
