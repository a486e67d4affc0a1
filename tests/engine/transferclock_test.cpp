#include "engine/transferclock.h"

#include <gtest/gtest.h>

#include <QTest>

#include "engine/transferprogress.h"

namespace {

// The clock counts while data flows and stands while paused; progress measured with it
// counts only the bytes this transfer moved (a continued file's bytes are not moved now).
TEST(TransferClock, CountsOnlyThisTransfersBytesAndLeavesPausesOut) {
    TransferClock clock;
    clock.run();
    // Continuing at 80 %: the first report already says 800 of 1000 bytes.
    const TransferProgress first = makeProgress(Transfer::Carrier::Lane, 800, 1000, 800, clock);
    EXPECT_EQ(first.bytesMoved(), 0);
    EXPECT_EQ(first.bytesPerSecond, 0);
    EXPECT_EQ(first.secondsLeft, -1);  // not known yet, rather than "00:00"

    QTest::qWait(200);
    clock.hold();  // paused
    QTest::qWait(600);
    clock.run();
    QTest::qWait(200);
    const TransferProgress later = makeProgress(Transfer::Carrier::Lane, 900, 1000, 800, clock);
    EXPECT_EQ(later.bytesMoved(), 100);
    EXPECT_GE(later.movingMs, 390);
    EXPECT_LT(later.movingMs, 790) << "the pause was counted";
    EXPECT_GT(later.bytesPerSecond, 100 * 1000 / 790);
    EXPECT_LE(later.bytesPerSecond, 100 * 1000 / 390);
    EXPECT_GE(later.secondsLeft, 0);
    EXPECT_EQ(later.figures.rateKb, later.bytesPerSecond / 1024);

    // A new transfer counts from nothing.
    clock.reset();
    EXPECT_EQ(clock.movingMs(), 0);
    EXPECT_EQ(clock.seconds(), 0);
}

}  // namespace
