#include "transfer/protocol.h"
#include "transfer/fileaccess.h"
#include "transfer/receiverinput.h"
#include "transfer/senderinput.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

QByteArray bytesOf(const char* text, qsizetype size) {
    return QByteArray(text, size);
}

// File content that differs from block to block, so a misplaced block shows.
QByteArray sampleContent(qsizetype size) {
    QByteArray content(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) {
        content[i] = static_cast<char>((i * 7 + i / 2048) % 251);
    }
    return content;
}

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(content), content.size());
}

}  // namespace

TEST(Protocol, FixedMessages) {
    EXPECT_EQ(PauseNotice(), "p");
    EXPECT_EQ(ResumeNotice(), "r");
    EXPECT_EQ(FinishedNotice(), "f");
    EXPECT_EQ(BusyNotice(), "o");
    EXPECT_EQ(IntruderNotice(), "Jodete!");
    EXPECT_EQ(BlockRequest(0), "a|0");
    EXPECT_EQ(BlockRequest(1048576), "a|1048576");
    EXPECT_EQ(OfferMessage("notes.txt", 5000), "i|notes.txt|5000");
    // Sizes of 2 GiB and more stay plain decimal.
    EXPECT_EQ(OfferMessage("big.iso", Q_INT64_C(3000000000)), "i|big.iso|3000000000");
    EXPECT_EQ(OfferMessage("empty", 0), "i|empty|0");
}

TEST(Protocol, BlockMessageAlwaysCarries2049PayloadBytesWithZeroFiller) {
    struct Case {
        qint64 index;
        QByteArray data;
        QByteArray header;
    };
    const std::vector<Case> cases = {
        {0, QByteArray(), "d|0|0|"},
        {0, "x", "d|0|1|"},
        {2, QByteArray(904, '|'), "d|2|904|"},
        {7, QByteArray(2048, '\xff'), "d|7|2048|"},
        {Q_INT64_C(2000000), QByteArray(10, 'a'), "d|2000000|10|"},
    };
    for (const Case& c : cases) {
        const QByteArray message = BlockMessage(c.index, c.data);
        const QByteArray expected =
            c.header + c.data + QByteArray(kPayloadSize - c.data.size(), '\0');
        EXPECT_EQ(message, expected) << c.header.constData();
        EXPECT_EQ(message.size(), c.header.size() + kPayloadSize);
    }
}

TEST(Protocol, BlockMessageRefusesWhatNoReceiverCouldTake) {
    EXPECT_THROW(BlockMessage(0, QByteArray(2049, 'x')), std::invalid_argument);
    EXPECT_THROW(BlockMessage(-1, "x"), std::invalid_argument);
}

TEST(Protocol, NextRequestFollowsThePartialFile) {
    EXPECT_EQ(nextRequest(0, 5000), "a|0");
    EXPECT_EQ(nextRequest(4096, 5000), "a|2");
    EXPECT_EQ(nextRequest(5000, 10000), "a|2");  // block 2 is fetched whole again
    EXPECT_EQ(nextRequest(6144, 10000), "a|3");
    EXPECT_EQ(nextRequest(5000, 5000), "f");
    EXPECT_EQ(nextRequest(12000, 10000), "f");  // a longer file is left as it is
    EXPECT_EQ(nextRequest(0, 0), "f");          // an empty file is complete at once
    EXPECT_EQ(nextRequest(Q_INT64_C(3221225472), Q_INT64_C(4294967296)), "a|1572864");
}

TEST(Protocol, SplitFieldTable) {
    struct Case {
        QByteArray text;
        QByteArray field;
        QByteArray rest;
    };
    const std::vector<Case> cases = {
        {"", "", ""},
        {"a", "a", ""},
        {"|", "|", ""},
        {"a|", "a|", ""},  // a "|" in the last position is no separator
        {"||", "||", ""},
        {"|||", "|", "|"},  // the first "|" is field, the second separates
        {"|a", "|a", ""},   // nor is one in the first position
        {"|a|b", "|a", "b"},
        {"a|b", "a", "b"},
        {"ab|", "ab|", ""},
        {"a||b", "a", "|b"},
        {"a|b|c", "a", "b|c"},
        {"p", "p", ""},
        {"Jodete!", "Jodete!", ""},
        {"i|notes.txt|5000", "i", "notes.txt|5000"},
        {"notes.txt|5000", "notes.txt", "5000"},
        {"d|0|2048|" + QByteArray(5, '|'), "d", "0|2048|" + QByteArray(5, '|')},
        {bytesOf("a\0|b", 4), bytesOf("a\0", 2), "b"},
    };
    for (const Case& c : cases) {
        QByteArray text = c.text;
        EXPECT_EQ(SplitField(text), c.field) << "text: " << c.text.toStdString();
        EXPECT_EQ(text, c.rest) << "text: " << c.text.toStdString();
    }
}

TEST(Protocol, SplitFieldTakesACompleteMessageApart) {
    QByteArray text = "i|notes.txt|5000";
    EXPECT_EQ(SplitField(text), "i");
    EXPECT_EQ(SplitField(text), "notes.txt");
    EXPECT_EQ(SplitField(text), "5000");
    EXPECT_TRUE(text.isEmpty());
}

// The whole conversation for a new 5000-byte notes.txt, played by both sides' framing and
// file access on real files, compared byte for byte with the messages it must consist of.
TEST(Protocol, WorkedExampleNotesTxt) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray content = sampleContent(5000);
    const QString source = dir.filePath(QStringLiteral("source-notes.txt"));
    const QString target = dir.filePath(QStringLiteral("notes.txt"));
    writeFile(source, content);

    const FileAccess files([](int) { FAIL() << "no open should need a retry"; });
    SenderInput senderInput;
    ReceiverInput receiverInput;
    std::vector<QByteArray> transcript;
    qint64 offeredSize = -1;

    // The receiver's next request, from what is really on disk.
    const auto requestNextBlock = [&]() {
        const std::optional<qint64> length = files.fileLength(target);
        EXPECT_TRUE(length.has_value());
        return nextRequest(*length, offeredSize);
    };

    QByteArray toReceiver = OfferMessage("notes.txt", 5000);
    bool finished = false;
    while (!finished) {
        transcript.push_back(toReceiver);
        receiverInput.append(toReceiver);
        const ReceiverInput::Message in = receiverInput.next();
        QByteArray toSender;
        switch (in.kind) {
            case ReceiverInput::Kind::Offer:
                offeredSize = in.size;
                EXPECT_EQ(in.name, "notes.txt");
                ASSERT_TRUE(FileAccess::createEmpty(target));
                toSender = BlockRequest(0);
                break;
            case ReceiverInput::Kind::Block:
                ASSERT_EQ(files.writeBlock(target, in.index, in.data),
                          FileAccess::WriteResult::Written);
                toSender = requestNextBlock();
                break;
            default:
                FAIL() << "unexpected message at the receiver";
        }
        EXPECT_EQ(receiverInput.next().kind, ReceiverInput::Kind::NeedMore);

        transcript.push_back(toSender);
        senderInput.append(toSender);
        const SenderInput::Message answer = senderInput.next();
        if (answer.kind == SenderInput::Kind::Finished) {
            finished = true;
        } else {
            ASSERT_EQ(answer.kind, SenderInput::Kind::Request);
            const std::optional<QByteArray> block = files.readBlock(source, answer.index);
            ASSERT_TRUE(block.has_value());
            toReceiver = BlockMessage(answer.index, *block);
        }
    }

    const QByteArray filler2048(1, '\0');
    const std::vector<QByteArray> expected = {
        "i|notes.txt|5000",
        "a|0",
        "d|0|2048|" + content.mid(0, 2048) + filler2048,
        "a|1",
        "d|1|2048|" + content.mid(2048, 2048) + filler2048,
        "a|2",
        "d|2|904|" + content.mid(4096, 904) + QByteArray(2049 - 904, '\0'),
        "f",
    };
    ASSERT_EQ(transcript.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(transcript[i], expected[i]) << "message " << i + 1;
    }
    QFile received(target);
    ASSERT_TRUE(received.open(QIODevice::ReadOnly));
    EXPECT_EQ(received.readAll(), content);
}
