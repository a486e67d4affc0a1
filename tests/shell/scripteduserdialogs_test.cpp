#include "shell/scripteduserdialogs.h"

#include <gtest/gtest.h>
#include <QTimer>

namespace {

using Kind = ScriptedUserDialogs::Kind;

TEST(ScriptedUserDialogsTest, AnswersInOrderAndRecordsEveryBox) {
    ScriptedUserDialogs dialogs;
    dialogs.queueYesNo(true);
    dialogs.queueOpenFile(QStringLiteral("/tmp/a.bin"));
    dialogs.queueYesNo(false);
    dialogs.queueFolder(QStringLiteral("/srv"));

    EXPECT_TRUE(dialogs.askYesNo(nullptr, QStringLiteral("q1")));
    dialogs.showMessage(nullptr, QStringLiteral("m"));
    EXPECT_EQ(dialogs.chooseOpenFile(nullptr, QStringLiteral("/home")),
              QStringLiteral("/tmp/a.bin"));
    EXPECT_FALSE(dialogs.askYesNo(nullptr, QStringLiteral("q2")));
    dialogs.showError(nullptr, QStringLiteral("e"));
    EXPECT_EQ(dialogs.chooseFolder(nullptr, QStringLiteral("/")), QStringLiteral("/srv"));

    EXPECT_EQ(dialogs.texts(),
              (QStringList{QStringLiteral("q1"), QStringLiteral("m"), QStringLiteral("/home"),
                           QStringLiteral("q2"), QStringLiteral("e"), QStringLiteral("/")}));
    EXPECT_EQ(dialogs.texts(Kind::Error), QStringList{QStringLiteral("e")});
    EXPECT_TRUE(dialogs.failures().isEmpty());
    EXPECT_EQ(dialogs.pendingAnswers(), 0);
}

TEST(ScriptedUserDialogsTest, AnUnexpectedQuestionFailsAndAnswersNoOrCancel) {
    ScriptedUserDialogs dialogs;
    dialogs.queueFolder(QStringLiteral("/srv"));
    // The next answer is for a folder dialog, so a question is unexpected and the folder
    // answer stays queued.
    EXPECT_FALSE(dialogs.askYesNo(nullptr, QStringLiteral("Continuar?")));
    EXPECT_EQ(dialogs.chooseOpenFile(nullptr, QStringLiteral("/home")), QString());
    EXPECT_EQ(dialogs.failures().size(), 2);
    EXPECT_TRUE(dialogs.failures()[0].contains(QStringLiteral("Continuar?")));
    EXPECT_EQ(dialogs.pendingAnswers(), 1);
}

TEST(ScriptedUserDialogsTest, EveryBoxRunsTheEventLoopBeforeItAnswers) {
    ScriptedUserDialogs dialogs(30);
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(1);
    bool sawTickInHook = false;
    dialogs.onAsk = [&](const ScriptedUserDialogs::Asked& asked) {
        sawTickInHook = ticks > 0 && asked.text == QStringLiteral("m");
    };
    dialogs.showMessage(nullptr, QStringLiteral("m"));
    EXPECT_TRUE(sawTickInHook);
}

}  // namespace
