#include "shell/progressstrip.h"

#include <gtest/gtest.h>
#include <QLabel>
#include <QProgressBar>
#include <QTest>

#include "widgets/percentgauge.h"

namespace {

class ProgressStripTest : public ::testing::Test {
protected:
    // Long enough that no test step takes that long on a loaded machine.
    static constexpr int kInterval = 400;

    QLabel rate;
    TPercentGauge gauge;
    QProgressBar activity;
    ProgressStrip strip{&rate, &gauge, &activity, nullptr, kInterval};

    void SetUp() override {
        activity.setRange(0, 100);  // as in the window
        activity.setValue(0);
    }

    bool shownSoon(const QString& text, int percent, int position) {
        return QTest::qWaitFor(
            [&] {
                return rate.text() == text && gauge.Progress() == percent &&
                       activity.value() == position;
            },
            5000);
    }
};

TEST_F(ProgressStripTest, LatestFiguresShowAtOnceOrAtTheEndOfTheInterval) {
    strip.ShowFigures({100, 1});
    strip.StepActivity();
    // Nothing shown for an interval: the first change shows at once.
    EXPECT_EQ(rate.text(), QStringLiteral("100 Kb/s"));
    EXPECT_EQ(gauge.Progress(), 1);
    EXPECT_EQ(activity.value(), 0);  // the step came within the interval
    EXPECT_EQ(strip.ActivityPosition(), 5);

    // Block after block within the interval: computed every time, shown once, the latest.
    for (int block = 2; block <= 30; ++block) {
        strip.ShowFigures({100 * block, block});
        strip.StepActivity();
    }
    EXPECT_EQ(rate.text(), QStringLiteral("100 Kb/s"));
    EXPECT_TRUE(strip.HasPending());
    // 30 steps from 0 over 21 positions (0, 5, ..., 100) end at 9 * 5.
    EXPECT_EQ(strip.ActivityPosition(), 45);
    ASSERT_TRUE(shownSoon(QStringLiteral("3000 Kb/s"), 30, 45));
    EXPECT_FALSE(strip.HasPending());
}

TEST_F(ProgressStripTest, ResetDropsWhatWasStillToShow) {
    strip.ShowFigures({10, 50});
    strip.StepActivity();
    strip.ShowFigures({20, 60});
    strip.StepActivity();
    ASSERT_TRUE(strip.HasPending());

    strip.Reset();
    EXPECT_FALSE(strip.HasPending());
    EXPECT_EQ(gauge.Progress(), 0);
    EXPECT_EQ(activity.value(), 0);
    EXPECT_EQ(strip.ActivityPosition(), 0);

    // The next transfer's figures show, not the old ones.
    strip.StepActivity();
    strip.ShowFigures({1, 2});
    ASSERT_TRUE(shownSoon(QStringLiteral("1 Kb/s"), 2, 5));
}

// Over the fast lane a rate too wide for "Kb/s" is written in megabytes per second; a classic
// transfer after it writes "Kb/s" again.
TEST_F(ProgressStripTest, LaneRatesTooWideForKilobytesShowInMegabytes) {
    strip.SetWide(true);
    strip.ShowFigures({1172000, 10});
    ASSERT_TRUE(shownSoon(QStringLiteral("1144 Mb/s"), 10, 0));
    strip.SetWide(false);
    strip.ShowFigures({1172000, 11});
    ASSERT_TRUE(shownSoon(QStringLiteral("1172000 Kb/s"), 11, 0));
}

}  // namespace
