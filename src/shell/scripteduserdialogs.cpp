#include "shell/scripteduserdialogs.h"

#include <QEventLoop>
#include <QTimer>

namespace {

QString kindName(ScriptedUserDialogs::Kind kind) {
    switch (kind) {
        case ScriptedUserDialogs::Kind::YesNo:
            return QStringLiteral("Yes/No question");
        case ScriptedUserDialogs::Kind::Message:
            return QStringLiteral("message");
        case ScriptedUserDialogs::Kind::Error:
            return QStringLiteral("error");
        case ScriptedUserDialogs::Kind::OpenFile:
            return QStringLiteral("file-open dialog");
        case ScriptedUserDialogs::Kind::Folder:
            return QStringLiteral("folder dialog");
    }
    return QString();
}

}  // namespace

ScriptedUserDialogs::ScriptedUserDialogs(int answerDelayMs) : m_answerDelayMs(answerDelayMs) {}

void ScriptedUserDialogs::queueYesNo(bool yes) {
    m_answers.push_back({Kind::YesNo, yes, {}});
}

void ScriptedUserDialogs::queueOpenFile(const QString& path) {
    m_answers.push_back({Kind::OpenFile, false, path});
}

void ScriptedUserDialogs::queueFolder(const QString& path) {
    m_answers.push_back({Kind::Folder, false, path});
}

QStringList ScriptedUserDialogs::texts(Kind kind) const {
    QStringList result;
    for (const Asked& a : m_asked) {
        if (a.kind == kind) {
            result.append(a.text);
        }
    }
    return result;
}

QStringList ScriptedUserDialogs::texts() const {
    QStringList result;
    for (const Asked& a : m_asked) {
        result.append(a.text);
    }
    return result;
}

void ScriptedUserDialogs::clear() {
    m_answers.clear();
    m_asked.clear();
    m_failures.clear();
}

void ScriptedUserDialogs::record(Kind kind, const QString& text) {
    m_asked.push_back({kind, text});
    // A modal box runs the event loop while it is open.
    QEventLoop loop;
    QTimer::singleShot(m_answerDelayMs, &loop, &QEventLoop::quit);
    loop.exec();
    if (onAsk) {
        onAsk(m_asked.back());
    }
}

bool ScriptedUserDialogs::takeAnswer(Kind kind, const QString& text, Answer& answer) {
    record(kind, text);
    return takeQueued(kind, text, answer);
}

bool ScriptedUserDialogs::takeQueued(Kind kind, const QString& text, Answer& answer) {
    if (m_answers.empty() || m_answers.front().kind != kind) {
        m_failures.append(QStringLiteral("unexpected %1: %2").arg(kindName(kind), text));
        return false;
    }
    answer = m_answers.front();
    m_answers.pop_front();
    return true;
}

bool ScriptedUserDialogs::askYesNo(QWidget*, const QString& text) {
    Answer answer;
    return takeAnswer(Kind::YesNo, text, answer) && answer.yes;
}

void ScriptedUserDialogs::showMessage(QWidget*, const QString& text) {
    record(Kind::Message, text);
}

void ScriptedUserDialogs::showError(QWidget*, const QString& text) {
    record(Kind::Error, text);
}

QString ScriptedUserDialogs::chooseOpenFile(QWidget*, const QString& initialDir) {
    Answer answer;
    return takeAnswer(Kind::OpenFile, initialDir, answer) ? answer.path : QString();
}

QString ScriptedUserDialogs::chooseFolder(QWidget*, const QString& start) {
    Answer answer;
    return takeAnswer(Kind::Folder, start, answer) ? answer.path : QString();
}

void ScriptedUserDialogs::askYesNoLater(QWidget*, const QString& text,
                                        std::function<void(bool yes)> answered) {
    m_asked.push_back({Kind::YesNo, text});
    Answer answer;
    const bool yes = takeQueued(Kind::YesNo, text, answer) && answer.yes;
    const Asked asked = m_asked.back();
    QTimer::singleShot(m_answerDelayMs, &m_pending,
                       [this, asked, yes, answered = std::move(answered)] {
                           if (onAsk) {
                               onAsk(asked);
                           }
                           answered(yes);
                       });
}

void ScriptedUserDialogs::showMessageLater(QWidget*, const QString& text,
                                           std::function<void()> closed) {
    m_asked.push_back({Kind::Message, text});
    const Asked asked = m_asked.back();
    QTimer::singleShot(m_answerDelayMs, &m_pending, [this, asked, closed = std::move(closed)] {
        if (onAsk) {
            onAsk(asked);
        }
        closed();
    });
}
