#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

#include "shell/userdialogs.h"

// Answers the boxes from a queue, for tests and the test harness. Every box, also an OK-only
// one, first runs a short nested event loop, as a real modal box does, so socket events and
// timer ticks are handled "under" it. A question (Yes/No, file, folder) with no matching
// answer queued is recorded as a failure and answered No or Cancel, so a test fails instead
// of hanging.
class ScriptedUserDialogs : public UserDialogs {
public:
    enum class Kind { YesNo, Message, Error, OpenFile, Folder };

    struct Asked {
        Kind kind;
        QString text;  // the box's text; for the file and folder dialogs the start folder
    };

    explicit ScriptedUserDialogs(int answerDelayMs = 20);

    void queueYesNo(bool yes);
    void queueOpenFile(const QString& path);  // empty = Cancel
    void queueFolder(const QString& path);    // empty = Cancel
    int pendingAnswers() const { return static_cast<int>(m_answers.size()); }

    const std::vector<Asked>& asked() const { return m_asked; }
    QStringList texts(Kind kind) const;
    QStringList texts() const;  // every box's text, in order
    const QStringList& failures() const { return m_failures; }
    void clear();

    // Runs while a box is "open", after its nested loop and before it answers.
    std::function<void(const Asked&)> onAsk;

    bool askYesNo(QWidget* parent, const QString& text) override;
    void showMessage(QWidget* parent, const QString& text) override;
    // Answered after the delay from the event loop, as a window-modal box is.
    void askYesNoLater(QWidget* parent, const QString& text,
                       std::function<void(bool yes)> answered) override;
    void showMessageLater(QWidget* parent, const QString& text,
                          std::function<void()> closed) override;
    void showError(QWidget* parent, const QString& text) override;
    QString chooseOpenFile(QWidget* parent, const QString& initialDir) override;
    QString chooseFolder(QWidget* parent, const QString& start) override;

private:
    struct Answer {
        Kind kind;
        bool yes = false;
        QString path;
    };

    void record(Kind kind, const QString& text);
    // Takes the next answer of `kind` without running a loop; a failure when there is none.
    bool takeQueued(Kind kind, const QString& text, Answer& answer);
    // Takes the next answer if it is of the given kind; records a failure otherwise.
    bool takeAnswer(Kind kind, const QString& text, Answer& answer);

    int m_answerDelayMs;
    QObject m_pending;  // answers still to come die with the dialogs
    std::deque<Answer> m_answers;
    std::vector<Asked> m_asked;
    QStringList m_failures;
};
