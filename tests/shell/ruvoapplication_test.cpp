#include "shell/ruvoapplication.h"

#include <gtest/gtest.h>
#include <QTest>
#include <QTimer>
#include <stdexcept>

#include "shell/scripteduserdialogs.h"

namespace {

TEST(RuvoApplicationTest, AnExceptionFromAHandlerShowsItsMessageAndTheLoopGoesOn) {
    auto* app = qobject_cast<RuvoApplication*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    ScriptedUserDialogs dialogs(1);
    UserDialogs* previous = app->errorDialogs();
    app->setErrorDialogs(&dialogs);

    QTimer thrower;
    thrower.setSingleShot(true);
    QObject::connect(&thrower, &QTimer::timeout,
                     [] { throw std::runtime_error("Invalid data type for 'guardaren'"); });
    bool laterRan = false;
    thrower.start(0);
    QTimer::singleShot(20, [&] { laterRan = true; });

    EXPECT_TRUE(QTest::qWaitFor([&] { return laterRan; }, 5000));
    EXPECT_EQ(dialogs.texts(ScriptedUserDialogs::Kind::Error),
              QStringList{QStringLiteral("Invalid data type for 'guardaren'")});
    app->setErrorDialogs(previous);
}

}  // namespace
