// The sender's name in a lane offer: shown as sent when it may be shown, empty when it is
// not valid UTF-8 or holds characters that change how text reads; an offer without it (an
// older sender) is taken as before; a name field that breaks the frame is a violation.

#include <QFileInfo>

#include "lane/lanewire.h"
#include "rolefixtures.h"

namespace {

// An offer of "n.bin" with `tail` after the file's name (the sender's name field, or not).
QByteArray offerWithTail(const QByteArray& tail) {
    QByteArray frame = lanewire::offer("n.bin", 10) + tail;
    const quint32 length = static_cast<quint32>(frame.size() - lanewire::kHeaderSize);
    frame[1] = static_cast<char>(length >> 24);
    frame[2] = static_cast<char>(length >> 16);
    frame[3] = static_cast<char>(length >> 8);
    frame[4] = static_cast<char>(length);
    return frame;
}

QByteArray nameField(const QByteArray& name) {
    return QByteArray(1, static_cast<char>(name.size())) + name;
}

TEST(LaneSenderName, IsShownOnlyWhenItMayBeAndBreaksNothingWhenAbsent) {
    struct Case {
        const char* what;
        QByteArray tail;
        bool offered;   // false: the receiver closes without showing an offer
        QString shown;  // the offer's senderName
    };
    const Case cases[] = {
        {"a plain name", nameField("ana@portatil"), true, QStringLiteral("ana@portatil")},
        {"no name field (an older sender)", {}, true, {}},
        {"an empty name", nameField({}), true, {}},
        {"in NFC", nameField("Jose\xcc\x81"), true, QStringLiteral("Jos\u00e9")},
        {"invalid UTF-8", nameField("ana\xff\xfe"), true, {}},
        {"a control character", nameField("ana\x07"), true, {}},
        {"a new line", nameField("ana\n(de confianza)"), true, {}},
        {"a right-to-left override", nameField("ana\xe2\x80\xae"), true, {}},
        {"a longer name than 64 bytes", nameField(QByteArray(65, 'a')), false, {}},
        {"a length past the bytes",
         QByteArray("\x05"
                    "ana",
                    4),
         false,
         {}},
        {"bytes after the name", nameField("ana") + "x", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Receiver receiver(true);
        receiver.acceptOffers = false;
        TlsPeer peer;
        ASSERT_TRUE(peer.open(static_cast<quint16>(receiver.port() + 1)));
        peer.write(lanewire::greeting() + offerWithTail(c.tail));
        if (!c.offered) {
            peer.readToClose();
            EXPECT_EQ(peer.state(), QAbstractSocket::UnconnectedState);
            EXPECT_TRUE(receiver.offers.isEmpty());
            continue;
        }
        ASSERT_TRUE(waitUntil([&] { return !receiver.offers.isEmpty(); }));
        EXPECT_EQ(receiver.offers.first().name, QStringLiteral("n.bin"));
        EXPECT_EQ(receiver.offers.first().senderName, c.shown);
        EXPECT_EQ(receiver.offers.first().senderFingerprint,
                  testLaneIdentity()->identity().fingerprint());
    }
}

// A sending session offers with its copy's name, cut to 64 bytes between characters.
TEST(LaneSenderName, TheSenderOffersItsNameCutBetweenCharacters) {
    QTemporaryDir source;
    writeFile(source.filePath(QStringLiteral("s.bin")), "hola");
    const QString longName = QString(40, QChar(0x00F1));  // 80 bytes of UTF-8
    Receiver receiver(true);
    Sender sender(receiver.port(), true);
    QString error;
    sender.session.setLaneIdentity(LaneIdentity::load(sender.stores.path(), &error, longName));
    ASSERT_TRUE(sender.session.chooseFile(source.filePath(QStringLiteral("s.bin"))));
    sender.session.start(QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(waitUntil([&] { return !sender.ended.isEmpty() && !receiver.ended.isEmpty(); }));
    EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::Sent});
    ASSERT_EQ(receiver.offers.size(), 1);
    EXPECT_EQ(receiver.offers.first().senderName, QString(32, QChar(0x00F1)));
}

}  // namespace
