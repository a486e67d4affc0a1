// Each carrier (the classic protocol and the fast lane) driven through the same roles with
// one table of cases: what the users do and how each side ends. Where the classic protocol
// cannot tell the sender why the receiver closed, the table says so.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>

#include "rolefixtures.h"

namespace {

enum class Act {
    Nothing,
    Decline,
    SenderPausesAndResumes,
    ReceiverPausesAndResumes,
    SenderCancels,
    ReceiverCancels,
    ContinuePartial
};

struct Case {
    const char* what;
    Act act;
    Outcome senderEnd;  // over the lane
    Outcome classicSenderEnd;
    Outcome receiverEnd;  // over the lane
    Outcome classicReceiverEnd;
};

class Carriers : public ::testing::TestWithParam<bool> {};

TEST_P(Carriers, UsersActsEndTheSameWayOverEveryCarrier) {
    const bool lane = GetParam();
    const Case cases[] = {
        {"whole", Act::Nothing, Outcome::Sent, Outcome::Sent, Outcome::Received, Outcome::Received},
        {"declined", Act::Decline, Outcome::Declined, Outcome::Declined, Outcome::Declined,
         Outcome::Declined},
        {"sender pauses", Act::SenderPausesAndResumes, Outcome::Sent, Outcome::Sent,
         Outcome::Received, Outcome::Received},
        {"receiver pauses", Act::ReceiverPausesAndResumes, Outcome::Sent, Outcome::Sent,
         Outcome::Received, Outcome::Received},
        {"sender cancels", Act::SenderCancels, Outcome::Cancelled, Outcome::Cancelled,
         Outcome::CancelledByPeer, Outcome::PeerLeft},
        {"receiver cancels", Act::ReceiverCancels, Outcome::CancelledByPeer, Outcome::PeerLeft,
         Outcome::Cancelled, Outcome::Cancelled},
        {"partial continued", Act::ContinuePartial, Outcome::Sent, Outcome::Sent, Outcome::Received,
         Outcome::Received},
    };
    const QByteArray bytes = patternBytes(3 * 1024 * 1024 + 17, 21);
    QTemporaryDir source;
    const QString path = source.filePath(QStringLiteral("c.bin"));
    writeFile(path, bytes);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Receiver receiver(lane);
        ASSERT_TRUE(receiver.listening);
        Sender sender(receiver.port(), lane);
        const QString target = receiver.folder() + QStringLiteral("c.bin");
        qint64 startOffset = -1;
        QObject::connect(&receiver.service, &ReceivingService::progress,
                         [&](const TransferProgress& p) {
                             if (startOffset < 0) {
                                 startOffset = p.startOffset;
                             }
                         });
        if (c.act == Act::Decline) {
            receiver.acceptOffers = false;
            QObject::connect(&receiver.service, &ReceivingService::offerArrived,
                             [&] { receiver.service.decline(); });
        }
        if (c.act == Act::ContinuePartial) {
            writeFile(target, bytes.first(5000));
        }
        // Paused before any data moves, so that the pause surely comes while it is under way.
        if (c.act == Act::ReceiverPausesAndResumes || c.act == Act::ReceiverCancels) {
            QObject::connect(&receiver.service, &ReceivingService::offerArrived,
                             [&] { receiver.service.pauseByUser(); });
        }
        ASSERT_TRUE(sender.session.chooseFile(path));
        sender.session.start(QStringLiteral("127.0.0.1"));
        if (c.act == Act::SenderPausesAndResumes || c.act == Act::SenderCancels) {
            sender.session.pauseByUser();
            ASSERT_TRUE(waitUntil([&] { return receiver.peerPauses == 1; }));
            QTest::qWait(100);
            EXPECT_LT(receiver.bytesDone, bytes.size());
            if (c.act == Act::SenderCancels) {
                sender.session.cancel();
            } else {
                sender.session.resumeByUser();
            }
        }
        if (c.act == Act::ReceiverPausesAndResumes || c.act == Act::ReceiverCancels) {
            ASSERT_TRUE(waitUntil([&] { return sender.peerPauses == 1; }));
            QTest::qWait(100);
            EXPECT_LT(receiver.bytesDone, bytes.size());
            if (c.act == Act::ReceiverCancels) {
                receiver.service.cancel();
            } else {
                receiver.service.resumeByUser();
            }
        }
        ASSERT_TRUE(
            waitUntil([&] { return !sender.ended.isEmpty() && !receiver.ended.isEmpty(); }));
        EXPECT_EQ(sender.wentOverLane, lane);
        EXPECT_EQ(sender.ended, QList<Outcome>{lane ? c.senderEnd : c.classicSenderEnd});
        EXPECT_EQ(receiver.ended, QList<Outcome>{lane ? c.receiverEnd : c.classicReceiverEnd});
        if (receiver.ended.value(0) == Outcome::Received) {
            EXPECT_EQ(readFile(target), bytes);
        }
        if (c.act == Act::ContinuePartial) {
            // Only what this transfer moved counts for its rate.
            EXPECT_GE(startOffset, lane ? 5000 : 4096);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ClassicAndLane, Carriers, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Lane" : "Classic";
                         });

}  // namespace
