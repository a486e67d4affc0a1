#include "engine/transferclock.h"

#include <gtest/gtest.h>

#include <QTest>

#include "engine/ttimer.h"

namespace {

TransferProgress at(qint64 done, qint64 total) {
    TransferProgress progress;
    progress.bytesDone = done;
    progress.total = total;
    return progress;
}

// The clock counts from the first report (a continued file's bytes are no bytes moved now)
// and stands while the elapsed timer is off (a pause from either side).
TEST(TransferClock, CountsOnlyThisTransfersBytesAndLeavesPausesOut) {
    TTimer elapsed(1000);
    TransferClock clock(&elapsed);
    elapsed.SwitchOn();
    // Continuing at 80 %: the first report already says 800 of 1000 bytes.
    TransferProgress first = clock.measure(at(800, 1000));
    EXPECT_EQ(first.bytesMoved, 0);
    EXPECT_EQ(first.bytesPerSecond, 0);
    EXPECT_EQ(first.secondsLeft, -1);  // not known yet, rather than "00:00"

    QTest::qWait(200);
    elapsed.SwitchOff();  // paused
    QTest::qWait(600);
    elapsed.SwitchOn();
    QTest::qWait(200);
    const TransferProgress later = clock.measure(at(900, 1000));
    EXPECT_EQ(later.bytesMoved, 100);
    EXPECT_GE(later.movingMs, 390);
    EXPECT_LT(later.movingMs, 700) << "the pause was counted";
    EXPECT_GT(later.bytesPerSecond, 100 * 1000 / 700);
    EXPECT_LE(later.bytesPerSecond, 100 * 1000 / 390);
    EXPECT_GE(later.secondsLeft, 0);

    // A new transfer measures from its own first report again.
    clock.restart();
    EXPECT_EQ(clock.measure(at(10, 1000)).bytesMoved, 0);
}

}  // namespace
