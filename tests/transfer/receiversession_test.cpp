#include <gtest/gtest.h>

#include "transfer/protocol.h"
#include "transfer/receiversession.h"

namespace {

// A session whose user accepted an offer of `size` bytes and asked for block `index`.
ReceiverSession askedFor(qint64 size, qint64 index) {
    ReceiverSession session;
    session.takeOffer(size);
    session.accept();
    session.requestSent(index);
    return session;
}

TEST(ReceiverSessionTest, NothingActsBeforeTheUserAccepts) {
    ReceiverSession session;
    EXPECT_FALSE(session.takeBlock(0, 10).allowed);  // no offer at all
    EXPECT_FALSE(session.takeResume());
    EXPECT_FALSE(session.mayRequest());
    session.accept();  // accepting nothing accepts nothing
    EXPECT_FALSE(session.isAccepted());

    ASSERT_TRUE(session.takeOffer(100));
    EXPECT_FALSE(session.takeBlock(0, 100).allowed);
    EXPECT_FALSE(session.takeResume());
    EXPECT_FALSE(session.takePause());
    EXPECT_TRUE(session.takeOffer(200));  // a new offer replaces the unanswered one
    EXPECT_EQ(session.offeredSize(), 200);
}

TEST(ReceiverSessionTest, OfferAfterAcceptanceIsRefused) {
    ReceiverSession session = askedFor(100, 0);
    EXPECT_FALSE(session.takeOffer(5));
    EXPECT_EQ(session.offeredSize(), 100);
    session.reset();
    EXPECT_TRUE(session.takeOffer(5));
}

TEST(ReceiverSessionTest, BlocksAreJudgedAgainstTheRequestAndTheOfferedSize) {
    struct Case {
        const char* what;
        qint64 size, asked, index, count;
        bool allowed;
        qint64 writeCount;
    };
    const Case cases[] = {
        {"the block asked for", 5000, 1, 1, 2048, true, 2048},
        {"the short last block", 5000, 2, 2, 904, true, 904},
        {"another block", 5000, 1, 2, 2048, false, 0},
        {"past the offered size is cut", 10, 0, 0, 2048, true, 10},
        {"empty where bytes are due", 5000, 2, 2, 0, false, 0},
        {"empty file, empty block", 0, 0, 0, 0, true, 0},
        {"count above a block", 5000, 0, 0, kBlockSize + 1, false, 0},
        {"negative count", 5000, 0, 0, -1, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReceiverSession session = askedFor(c.size, c.asked);
        const ReceiverSession::BlockVerdict verdict = session.takeBlock(c.index, c.count);
        EXPECT_EQ(verdict.allowed, c.allowed);
        EXPECT_EQ(verdict.writeCount, c.writeCount);
    }
}

TEST(ReceiverSessionTest, OneRequestOutstandingAtATime) {
    ReceiverSession session = askedFor(10000, 0);
    EXPECT_FALSE(session.mayRequest());  // a quick resume must not ask twice
    ASSERT_TRUE(session.takeBlock(0, 2048).allowed);
    EXPECT_TRUE(session.mayRequest());
    EXPECT_FALSE(session.takeBlock(0, 2048).allowed);  // the same block again is not wanted
    session = askedFor(10000, 3);
    EXPECT_TRUE(session.takePause());  // the sender paused instead of answering
    EXPECT_FALSE(session.takePause());  // a second pause answers nothing
    EXPECT_TRUE(session.mayRequest());
    EXPECT_TRUE(session.takeResume());
    EXPECT_FALSE(session.takeResume());  // the pause is over: a second resume ends nothing
}

TEST(ReceiverSessionTest, AResumeEndsOnlyThePeersOwnPause) {
    ReceiverSession session = askedFor(10000, 0);
    EXPECT_FALSE(session.takeResume());  // accepted, but the sender never paused
    ASSERT_TRUE(session.takeBlock(0, 2048).allowed);
    EXPECT_FALSE(session.takeResume());
}

}  // namespace
