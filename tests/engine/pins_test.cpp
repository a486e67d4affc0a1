// The identity remembered at each address: another identity there stops a send before
// anything is offered, and a computer known by its identity whose lane does not answer is
// not sent to over the classic port (unencrypted) unless the user says so.

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include "identity/pinstore.h"
#include "rolefixtures.h"

namespace {

// A fingerprint of no computer here.
const QString kStranger = QString(64, QLatin1Char('5'));

QString pinKey(quint16 port) {
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

QString pinned(const Sender& sender, quint16 port) {
    PinStore pins(sender.stores.path());
    QString error;
    EXPECT_TRUE(pins.load(&error)) << error.toStdString();
    return pins.pinned(pinKey(port));
}

void pin(const Sender& sender, quint16 port, const QString& fingerprint) {
    PinStore pins(sender.stores.path());
    QString error;
    ASSERT_TRUE(pins.remember(pinKey(port), fingerprint, &error)) << error.toStdString();
}

TEST(LanePins, AnotherIdentityAtARememberedAddressStopsTheSendBeforeAnyOffer) {
    QTemporaryDir source;
    const QByteArray bytes = patternBytes(70000, 3);
    const QString path = source.filePath(QStringLiteral("p.bin"));
    writeFile(path, bytes);
    const QString receiverIdentity = testLaneIdentity()->identity().fingerprint();
    struct Case {
        const char* what;
        QString pinnedBefore;  // empty: nothing remembered
        bool acceptNew;
        Outcome outcome;
        QString pinnedAfter;
    };
    const Case cases[] = {
        {"first send: the identity is remembered", {}, false, Outcome::Sent, receiverIdentity},
        {"the identity remembered", receiverIdentity, false, Outcome::Sent, receiverIdentity},
        {"another identity", kStranger, false, Outcome::IdentityChanged, kStranger},
        {"another identity, accepted", kStranger, true, Outcome::Sent, receiverIdentity},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Receiver receiver(true);
        ASSERT_TRUE(receiver.service.laneListening());
        Sender sender(receiver.port(), true);
        if (!c.pinnedBefore.isEmpty()) {
            pin(sender, receiver.port(), c.pinnedBefore);
        }
        ASSERT_TRUE(sender.session.chooseFile(path));
        sender.session.setAcceptNewIdentity(c.acceptNew);
        sender.session.start(QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(waitUntil([&] { return !sender.ended.isEmpty(); }));
        EXPECT_EQ(sender.ended, QList<Outcome>{c.outcome});
        EXPECT_EQ(pinned(sender, receiver.port()), c.pinnedAfter);
        if (c.outcome == Outcome::Sent) {
            EXPECT_TRUE(sender.wentOverLane);
            EXPECT_EQ(readFile(receiver.folder() + QStringLiteral("p.bin")), bytes);
            continue;
        }
        EXPECT_EQ(sender.session.identityChange().was, kStranger);
        EXPECT_EQ(sender.session.identityChange().now, receiverIdentity);
        // Nothing was offered, and nothing went over the classic port instead.
        QTest::qWait(300);
        EXPECT_TRUE(receiver.offers.isEmpty());
        EXPECT_FALSE(QFileInfo::exists(receiver.folder() + QStringLiteral("p.bin")));
        // The option held for that send only.
        sender.ended.clear();
        sender.session.start(QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(waitUntil([&] { return !sender.ended.isEmpty(); }));
        EXPECT_EQ(sender.ended, QList<Outcome>{Outcome::IdentityChanged});
    }
}

TEST(LanePins, AKnownComputerWithoutALaneIsNotSentToUnencryptedUnlessForced) {
    QTemporaryDir source;
    const QByteArray bytes = patternBytes(50000, 4);
    const QString path = source.filePath(QStringLiteral("c.bin"));
    writeFile(path, bytes);
    struct Case {
        const char* what;
        bool pinnedBefore;
        bool forceClassic;
        Outcome outcome;
    };
    const Case cases[] = {
        {"a computer never seen on the lane: classic at once", false, false, Outcome::Sent},
        {"a computer known by its identity", true, false, Outcome::LaneUnanswered},
        {"a computer known by its identity, classic forced", true, true, Outcome::Sent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Receiver receiver(false);  // the classic port only: nothing answers on the lane's
        Sender sender(receiver.port(), true);
        if (c.pinnedBefore) {
            pin(sender, receiver.port(), testLaneIdentity()->identity().fingerprint());
        }
        ASSERT_TRUE(sender.session.chooseFile(path));
        sender.session.setForceClassic(c.forceClassic);
        sender.session.start(QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(waitUntil([&] { return !sender.ended.isEmpty(); }));
        EXPECT_EQ(sender.ended, QList<Outcome>{c.outcome});
        EXPECT_FALSE(sender.wentOverLane);
        if (c.outcome == Outcome::Sent) {
            EXPECT_EQ(readFile(receiver.folder() + QStringLiteral("c.bin")), bytes);
        } else {
            EXPECT_EQ(sender.session.classicPort(), receiver.port());
            QTest::qWait(300);
            EXPECT_TRUE(receiver.offers.isEmpty());
        }
    }
}

}  // namespace
