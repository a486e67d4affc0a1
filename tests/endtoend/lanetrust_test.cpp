// Two windows and the identities behind the lane: pairing from the sending window, and the
// questions a send ends with when the computer at a remembered address answers with another
// identity or not on the lane.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

#include "copies.h"
#include "engine/pairingrequest.h"
#include "identity/identity.h"
#include "identity/pinstore.h"
#include "identity/truststore.h"
#include "shell/formruvo.h"

namespace {

QString storesOf(const Copy& copy) {
    return copy.w().Options().configDir + QStringLiteral("/Ruvo");
}

QString fingerprintOf(const Copy& copy) {
    QString error;
    return Identity::loadOrCreate(storesOf(copy), &error)->fingerprint();
}

QStringList trustedBy(const Copy& copy) {
    TrustStore store(storesOf(copy));
    QString error;
    store.load(&error);
    QStringList list;
    for (const TrustedComputer& computer : store.list()) {
        list.append(computer.fingerprint);
    }
    return list;
}

// The code in a pairing question.
QString codeIn(const QStringList& texts) {
    static const QRegularExpression code(
        QStringLiteral("^Codigo de emparejamiento: ([0-9]{6})\\."));
    for (const QString& text : texts) {
        const QRegularExpressionMatch match = code.match(text);
        if (match.hasMatch()) {
            return match.captured(1);
        }
    }
    return {};
}

TEST(LaneTrustWindows, PairingFromTheSendingWindowTrustsBothWays) {
    Copy receiver(0, true);
    if (!receiver.w().Receiving()->laneListening()) {
        GTEST_SKIP() << "the port after the one the system gave is taken";
    }
    Copy sender(receiver.port(), true);
    ASSERT_NE(sender.w().Pairing(), nullptr);
    sender.dialogs.queueYesNo(true);
    receiver.dialogs.queueYesNo(true);
    sender.w().EmparejarClick(QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(waitUntil([&] {
        return !sender.dialogs.texts(ScriptedUserDialogs::Kind::Message).isEmpty() &&
               !receiver.dialogs.texts(ScriptedUserDialogs::Kind::Message).isEmpty();
    }));
    const QString code = codeIn(sender.dialogs.texts(ScriptedUserDialogs::Kind::YesNo));
    EXPECT_EQ(code.size(), 6);
    EXPECT_EQ(codeIn(receiver.dialogs.texts(ScriptedUserDialogs::Kind::YesNo)), code);
    EXPECT_TRUE(sender.dialogs.texts(ScriptedUserDialogs::Kind::Message)
                    .first()
                    .startsWith(QStringLiteral("Emparejado con ")));
    EXPECT_TRUE(receiver.dialogs.texts(ScriptedUserDialogs::Kind::Message)
                    .first()
                    .startsWith(QStringLiteral("Emparejado con ")));
    EXPECT_EQ(trustedBy(sender), QStringList{fingerprintOf(receiver)});
    EXPECT_EQ(trustedBy(receiver), QStringList{fingerprintOf(sender)});
    EXPECT_TRUE(sender.dialogs.failures().isEmpty());
    EXPECT_TRUE(receiver.dialogs.failures().isEmpty());
}

// A remembered computer answering with another identity, or not on the lane: the window
// asks, and sends on yes (taking the new identity, or over the classic port).
TEST(LaneTrustWindows, ASendStoppedByAnIdentityQuestionGoesOnlyOnYes) {
    struct Case {
        const char* what;
        bool receiverLane;
        QString asked;  // the start of the question
        bool yes;
    };
    const Case cases[] = {
        {"another identity, yes", true,
         QStringLiteral("La identidad de 127.0.0.1 cambio: era 5555"), true},
        {"another identity, no", true, QStringLiteral("La identidad de 127.0.0.1 cambio: era 5555"),
         false},
        {"no lane, yes", false,
         QStringLiteral("127.0.0.1 no responde por la via rapida. ¿Enviar sin cifrar por el "
                        "puerto "),
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Copy receiver(0, c.receiverLane);
        if (c.receiverLane && !receiver.w().Receiving()->laneListening()) {
            GTEST_SKIP() << "the port after the one the system gave is taken";
        }
        Copy sender(receiver.port(), true);
        {
            PinStore pins(storesOf(sender));
            QString error;
            ASSERT_TRUE(pins.remember(QStringLiteral("127.0.0.1:%1").arg(receiver.port()),
                                      QString(64, QLatin1Char('5')), &error));
        }
        QTemporaryDir source;
        const QString path = source.filePath(QStringLiteral("w.bin"));
        writeFile(path, patternBytes(40000, 9));
        sender.send(path);
        sender.dialogs.queueYesNo(c.yes);  // after the file dialog's answer
        ASSERT_TRUE(waitUntil([&] { return sender.dialogs.pendingAnswers() == 0; }))
            << sender.panel(0).toStdString() << " / " << sender.panel(1).toStdString() << " / "
            << sender.dialogs.texts().join(u'|').toStdString();
        const QStringList asked = sender.dialogs.texts(ScriptedUserDialogs::Kind::YesNo);
        ASSERT_EQ(asked.size(), 1);
        EXPECT_TRUE(asked.first().startsWith(c.asked)) << asked.first().toStdString();
        if (!c.yes) {
            waitUntil([] { return false; }, 300);  // time for an offer that must not come
            EXPECT_EQ(receiver.w().Receiving()->offerSerial(), 0u);
            EXPECT_EQ(sender.w().Enviar->text(), QStringLiteral("Enviar"));
            continue;
        }
        ASSERT_TRUE(receiver.acceptOffer());
        EXPECT_TRUE(waitUntil([&] { return sender.panel(1) == QStringLiteral("Enviado!"); }))
            << sender.panel(1).toStdString();
        EXPECT_EQ(readFile(receiver.receiveFolder() + QStringLiteral("w.bin")), readFile(path));
        PinStore pins(storesOf(sender));
        QString error;
        ASSERT_TRUE(pins.load(&error));
        // A new identity accepted is remembered; a send over the classic port changes nothing.
        EXPECT_EQ(pins.pinned(QStringLiteral("127.0.0.1:%1").arg(receiver.port())),
                  c.receiverLane ? fingerprintOf(receiver) : QString(64, QLatin1Char('5')));
    }
}

}  // namespace
