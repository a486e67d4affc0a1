#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QSocketNotifier;

// Yes/no questions on the terminal, answered without blocking the event loop: the transfer
// roles go on (and may make a question stale) while the user thinks. The end of the input
// counts as "no".
class TerminalPrompt : public QObject {
    Q_OBJECT

public:
    explicit TerminalPrompt(QObject* parent = nullptr);

    // Asks `question`; `answered` runs once with the answer. A question asked while another
    // is open replaces it (the earlier one is answered "no").
    void ask(const QString& question, std::function<void(bool yes)> answered);
    bool isAsking() const { return static_cast<bool>(m_answered); }

private:
    void readInput();
    void finish(bool yes);

    QSocketNotifier* m_notifier;
    QByteArray m_line;
    std::function<void(bool)> m_answered;
};
