#include "transfer/receiverinput.h"
#include "transfer/protocol.h"

#include "framingfeed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string describe(const ReceiverInput::Message& message) {
    switch (message.kind) {
        case ReceiverInput::Kind::Offer:
            return "i:" + message.name.toStdString() + ":" + std::to_string(message.size);
        case ReceiverInput::Kind::Block:
            return "d:" + std::to_string(message.index) + ":" +
                   message.data.toByteArray().toStdString();
        case ReceiverInput::Kind::Pause:
            return "p";
        case ReceiverInput::Kind::Resume:
            return "r";
        case ReceiverInput::Kind::Bad:
            return "bad";
        case ReceiverInput::Kind::NeedMore:
            break;
    }
    return "need-more";
}

std::vector<std::string> feed(ReceiverInput& input, const std::vector<QByteArray>& reads) {
    return feedReads(input, reads, describe);
}

std::string block(qint64 index, const QByteArray& data) {
    return "d:" + std::to_string(index) + ":" + data.toStdString();
}

struct Case {
    const char* what;
    std::vector<QByteArray> reads;
    std::vector<std::string> messages;
};

}  // namespace

TEST(ReceiverInput, Offers) {
    const std::vector<Case> cases = {
        {"offer", {"i|notes.txt|5000"}, {"i:notes.txt:5000"}},
        {"size of 2 GiB and more", {"i|big.iso|3000000000"}, {"i:big.iso:3000000000"}},
        {"empty file", {"i|empty|0"}, {"i:empty:0"}},
        {"size field not there yet", {"i|notes.txt|", "5000"}, {"i:notes.txt:5000"}},
        {"name split", {"i|no", "tes.txt", "|5000"}, {"i:notes.txt:5000"}},
        {"kind alone", {"i", "|a|1"}, {"i:a:1"}},
        {"name of any byte but |", {"i|\x80 \x01/..\\|7"}, {"i:\x80 \x01/..\\:7"}},
        {"empty name (for the role to refuse)", {"i||5"}, {"i::5"}},
        {"offer then pause", {"i|a|1p"}, {"i:a:1", "p"}},
        {"size not a number", {"i|a|x"}, {"bad"}},
        {"negative size", {"i|a|-1"}, {"bad"}},
        {"no separator after the kind", {"ix|a|1"}, {"bad"}},
        {"size overflows", {"i|a|99999999999999999999"}, {"bad"}},
        {"name too long", {"i|" + QByteArray(ReceiverInput::kMaxNameBytes + 1, 'n')}, {"bad"}},
        {"longest name",
         {"i|" + QByteArray(ReceiverInput::kMaxNameBytes, 'n') + "|1"},
         {"i:" + std::string(ReceiverInput::kMaxNameBytes, 'n') + ":1"}},
    };
    for (const Case& c : cases) {
        ReceiverInput input;
        EXPECT_EQ(feed(input, c.reads), c.messages) << c.what;
    }
}

TEST(ReceiverInput, Blocks) {
    const QByteArray full(2048, 'x');
    const QByteArray bars(2048, '|');
    const std::vector<Case> cases = {
        {"full block", {BlockMessage(0, full)}, {block(0, full)}},
        {"short last block", {BlockMessage(2, "end")}, {block(2, "end")}},
        {"empty block", {BlockMessage(0, {})}, {block(0, {})}},
        {"payload full of |", {BlockMessage(3, bars)}, {block(3, bars)}},
        {"two blocks in one read",
         {BlockMessage(4, "abc") + BlockMessage(5, "def")},
         {block(4, "abc"), block(5, "def")}},
        {"block then pause in one read", {BlockMessage(1, "a|b") + "p"}, {block(1, "a|b"), "p"}},
        {"pause and resume in one read", {"pr"}, {"p", "r"}},
        {"split inside the header", {"d|1", "2|3|ab", "c"}, {block(12, "abc")}},
        {"split after the header", {"d|0|3|", "abc"}, {block(0, "abc")}},
        {"largest count", {"d|0|2048|" + full}, {block(0, full)}},
        {"empty read", {"", "r", ""}, {"r"}},
    };
    for (const Case& c : cases) {
        ReceiverInput input;
        EXPECT_EQ(feed(input, c.reads), c.messages) << c.what;
    }
}

TEST(ReceiverInput, BlockSplitIntoOneByteReadsComesOutOnce) {
    QByteArray data(2048, Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i % 256);  // "|", "p", "r", "d" and "i" included
    }
    ReceiverInput input;
    const std::vector<std::string> messages =
        feed(input, oneByteReads(BlockMessage(9, data) + "p" + BlockMessage(10, "|")));
    EXPECT_EQ(messages, (std::vector<std::string>{block(9, data), "p", block(10, "|")}));
    EXPECT_EQ(input.bufferedBytes(), 0);
    EXPECT_EQ(input.pendingFiller(), 0);
}

TEST(ReceiverInput, BlockComesOutBeforeItsFillerAndLateFillerIsDropped) {
    const QByteArray message = BlockMessage(2, "hello");
    const qsizetype headerAndData = QByteArrayLiteral("d|2|5|hello").size();
    ReceiverInput input;
    EXPECT_EQ(feed(input, {message.left(headerAndData)}),
              (std::vector<std::string>{block(2, "hello")}));
    EXPECT_EQ(input.pendingFiller(), 2049 - 5);

    // The filler in later reads, whatever it holds (another peer's program may fill it
    // with leftover memory), is never taken for a message.
    QByteArray filler = "pri|x|1d|0|1|z" + QByteArray(2049 - 5 - 14, '|');
    EXPECT_EQ(feed(input, {filler.left(100), filler.mid(100, 1000), filler.mid(1100)}),
              std::vector<std::string>{});
    EXPECT_EQ(input.pendingFiller(), 0);
    EXPECT_EQ(input.bufferedBytes(), 0);

    // Filler and the next message in the same read.
    EXPECT_EQ(feed(input, {BlockMessage(3, "ab").left(10), BlockMessage(3, "ab").mid(10) + "r"}),
              (std::vector<std::string>{block(3, "ab"), "r"}));
}

TEST(ReceiverInput, HostileInputIsBad) {
    const std::vector<Case> cases = {
        {"unknown kind", {"x"}, {"bad"}},
        {"intruder notice", {"Jodete!"}, {"bad"}},
        {"sender's kinds", {"a|0"}, {"bad"}},
        {"finished notice", {"f"}, {"bad"}},
        {"no separator after the kind", {"dx"}, {"bad"}},
        {"negative index", {"d|-1|5|"}, {"bad"}},
        {"negative count", {"d|1|-5|"}, {"bad"}},
        {"count above a block", {"d|1|2049|"}, {"bad"}},
        {"count far above a block", {"d|1|99999999999|"}, {"bad"}},
        {"index not a number", {"d|x|1|"}, {"bad"}},
        {"index with a sign", {"d|+1|1|"}, {"bad"}},
        {"count not a number", {"d|1|1x|"}, {"bad"}},
        {"empty index", {"d||1|"}, {"bad"}},
        {"empty count", {"d|1||"}, {"bad"}},
        {"index too large", {"d|" + QByteArray::number(kMaxBlockIndex + 1) + "|1|x"}, {"bad"}},
        {"index overflows", {"d|" + QByteArray(30, '9') + "|1|x"}, {"bad"}},
        {"header past its bound", {"d|" + QByteArray(30, '0'), QByteArray(40, '0')}, {"bad"}},
        {"count header past its bound", {"d|1|" + QByteArray(70, '0')}, {"bad"}},
        {"good block, then garbage", {BlockMessage(0, "a") + "zz", "p"}, {block(0, "a"), "bad"}},
    };
    for (const Case& c : cases) {
        ReceiverInput input;
        EXPECT_EQ(feed(input, c.reads), c.messages) << c.what;
        EXPECT_TRUE(input.isBad()) << c.what;
        EXPECT_EQ(input.bufferedBytes(), 0) << c.what;
    }
}

TEST(ReceiverInput, BufferHoldsAtMostOneUnfinishedBlock) {
    ReceiverInput input;
    const QByteArray message = BlockMessage(1, QByteArray(2048, 'q'));
    // Many blocks, cut at an odd size so that each read ends inside a message.
    QByteArray stream;
    for (int i = 0; i < 20; ++i) {
        stream += message;
    }
    qsizetype most = 0;
    std::size_t blocks = 0;
    for (qsizetype at = 0; at < stream.size(); at += 1500) {
        blocks += feed(input, {stream.mid(at, 1500)}).size();
        most = std::max(most, input.bufferedBytes());
    }
    EXPECT_EQ(blocks, 20u);
    EXPECT_LE(most, ReceiverInput::kMaxBlockHeader + 2048);
    EXPECT_EQ(input.bufferedBytes(), 0);
}

TEST(ReceiverInput, ResetStartsAfresh) {
    ReceiverInput input;
    input.append("zz");
    EXPECT_EQ(input.next().kind, ReceiverInput::Kind::Bad);
    input.append("p");
    EXPECT_EQ(input.next().kind, ReceiverInput::Kind::Bad);
    input.reset();
    EXPECT_EQ(feed(input, {"d|0|1|x"}), std::vector<std::string>{block(0, "x")});
    EXPECT_GT(input.pendingFiller(), 0);
    // A new served connection does not inherit the old one's filler.
    input.reset();
    EXPECT_EQ(feed(input, {"p"}), std::vector<std::string>{"p"});
}

TEST(ReceiverInput, ARoomMadeBeforeAResetKeepsNothing) {
    ReceiverInput input;
    char* room = input.appendSpace(5);
    std::copy_n("p", 1, room);
    input.reset();  // a new served connection while the read was under way
    input.commitAppend(1);
    EXPECT_EQ(input.bufferedBytes(), 0);
    EXPECT_EQ(input.next().kind, ReceiverInput::Kind::NeedMore);

    input.append("x");
    EXPECT_EQ(input.next().kind, ReceiverInput::Kind::Bad);
    room = input.appendSpace(1);
    room[0] = 'r';
    input.commitAppend(1);  // a bad peer's later bytes are dropped
    EXPECT_EQ(input.bufferedBytes(), 0);
}
