#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QSocketNotifier;

// Yes/no questions on the terminal, answered without blocking the event loop: the transfer
// roles go on (and may make a question stale) while the user thinks. "No" is the default:
// only a yes word (isYes) accepts, and the end of the input counts as "no". What was typed
// on a terminal before a question is dropped, so that it never answers a later offer;
// answers coming from a pipe are read in order.
class TerminalPrompt : public QObject {
    Q_OBJECT

public:
    explicit TerminalPrompt(QObject* parent = nullptr);

    // Asks `question`; `answered` runs once with the answer. A question asked while another
    // is open replaces it (the earlier one is answered "no").
    void ask(const QString& question, std::function<void(bool yes)> answered);
    bool isAsking() const { return static_cast<bool>(m_answered); }
    // The open question no longer stands (what it asked about is over): it is left
    // unanswered, and the line it stood on is ended.
    void dismiss();
    // A person can answer: the input is a terminal.
    static bool onTerminal();

    // "sí", "si", "s", "yes" or "y", in any case, spaces around ignored.
    static bool isYes(const QByteArray& line);

private:
    void readInput();
    // Answers the open question with the first whole line read, if there is one.
    void takeLine();
    void finish(bool yes);

    QSocketNotifier* m_notifier;
    QByteArray m_line;
    std::function<void(bool)> m_answered;
};
