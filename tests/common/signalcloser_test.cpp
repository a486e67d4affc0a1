#include "common/signalcloser.h"

#include <gtest/gtest.h>
#include <QTest>
#include <csignal>

namespace {

TEST(SignalCloserTest, TermAndIntBecomeCallsOnTheLoop) {
    for (int signo : {SIGTERM, SIGINT}) {
        int calls = 0;
        SignalCloser closer([&] { ++calls; });
        ASSERT_EQ(raise(signo), 0);
        // Not called from inside the signal handler: only the loop makes the call.
        EXPECT_EQ(calls, 0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return calls == 1; }, 5000)) << signo;
    }
}

}  // namespace
