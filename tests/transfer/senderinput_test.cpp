#include "transfer/senderinput.h"
#include "transfer/protocol.h"

#include "framingfeed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string describe(const SenderInput::Message& message) {
    switch (message.kind) {
        case SenderInput::Kind::Request:
            return "a" + std::to_string(message.index);
        case SenderInput::Kind::Pause:
            return "p";
        case SenderInput::Kind::Busy:
            return "o";
        case SenderInput::Kind::Finished:
            return "f";
        case SenderInput::Kind::Bad:
            return "bad";
        case SenderInput::Kind::NeedMore:
            break;
    }
    return "need-more";
}

std::vector<std::string> feed(SenderInput& input, const std::vector<QByteArray>& reads) {
    return feedReads(input, reads, describe);
}

struct Case {
    const char* what;
    std::vector<QByteArray> reads;
    std::vector<std::string> messages;
};

}  // namespace

TEST(SenderInput, Table) {
    const QByteArray maxIndex = QByteArray::number(kMaxBlockIndex);
    const std::vector<Case> cases = {
        {"request", {"a|0"}, {"a0"}},
        {"long index", {"a|1048575"}, {"a1048575"}},
        {"largest index", {"a|" + maxIndex}, {"a" + maxIndex.toStdString()}},
        {"notices", {"p", "o", "f"}, {"p", "o", "f"}},
        {"two requests in one read", {"a|5a|5"}, {"a5", "a5"}},
        {"pause then request", {"pa|7"}, {"p", "a7"}},
        {"request then pause", {"a|3p"}, {"a3", "p"}},
        {"busy then finished", {"of"}, {"o", "f"}},
        {"1-byte reads", oneByteReads("a|7"), {"a7"}},
        {"1-byte reads of several", oneByteReads("pa|4o"), {"p", "a4", "o"}},
        {"kind alone waits", {"a", "|", "12"}, {"a12"}},
        {"index not there yet", {"a|"}, {}},
        {"empty read", {"", "", "p"}, {"p"}},
        {"intruder notice", {"Jodete!"}, {"bad"}},
        {"unknown kind", {"x"}, {"bad"}},
        {"receiver's own kinds", {"r"}, {"bad"}},
        {"offer", {"i|a|1"}, {"bad"}},
        {"no separator", {"a-1"}, {"bad"}},
        {"negative index", {"a|-1"}, {"bad"}},
        {"index not a number", {"a|x"}, {"bad"}},
        {"empty index", {"a||"}, {"bad"}},
        {"index too large", {"a|" + QByteArray::number(kMaxBlockIndex + 1)}, {"bad"}},
        {"index overflows", {"a|99999999999999999999999"}, {"bad"}},
        {"good, then garbage", {"a|1", "zzz", "p"}, {"a1", "bad"}},
    };
    for (const Case& c : cases) {
        SenderInput input;
        EXPECT_EQ(feed(input, c.reads), c.messages) << c.what;
    }
}

TEST(SenderInput, StaysBadUntilReset) {
    SenderInput input;
    input.append("q");
    EXPECT_EQ(input.next().kind, SenderInput::Kind::Bad);
    input.append("a|1");
    EXPECT_EQ(input.next().kind, SenderInput::Kind::Bad);
    EXPECT_EQ(input.bufferedBytes(), 0);
    input.reset();
    input.append("a|1");
    const SenderInput::Message message = input.next();
    EXPECT_EQ(message.kind, SenderInput::Kind::Request);
    EXPECT_EQ(message.index, 1);
}

TEST(SenderInput, KeepsOnlyTheUnfinishedMessage) {
    SenderInput input;
    QByteArray many;
    for (int i = 0; i < 1000; ++i) {
        many += "a|" + QByteArray::number(i) + 'p';
    }
    many += "a";
    EXPECT_EQ(feed(input, {many}).size(), 2000u);
    EXPECT_EQ(input.bufferedBytes(), 1);
}
