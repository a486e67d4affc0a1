#include "engine/ttimer.h"

#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

namespace {

TEST(TTimerTest, StartsOffAsAPreciseRepeatingTimer) {
    TTimer timer(350);
    EXPECT_FALSE(timer.Enabled());
    EXPECT_EQ(timer.interval(), 350);
    EXPECT_EQ(timer.timerType(), Qt::PreciseTimer);
    EXPECT_FALSE(timer.isSingleShot());
    EXPECT_EQ(timer.Tag, 0);
}

TEST(TTimerTest, SwitchingOnARunningTimerDoesNotRestartIt) {
    TTimer timer(200);
    QSignalSpy ticks(&timer, &QTimer::timeout);
    QElapsedTimer clock;
    clock.start();
    timer.SwitchOn();
    // Switched on again and again, as for every block: a restart would put the tick off
    // for as long as the switching goes on.
    while (ticks.isEmpty() && clock.elapsed() < 2000) {
        QTest::qWait(20);
        timer.SwitchOn();
    }
    ASSERT_EQ(ticks.size(), 1);
    EXPECT_GE(clock.elapsed(), 190);
    EXPECT_TRUE(timer.Enabled());

    timer.SwitchOff();
    EXPECT_FALSE(timer.Enabled());
    QTest::qWait(250);
    EXPECT_EQ(ticks.size(), 1);
}

}  // namespace
