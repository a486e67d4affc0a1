// Who is who: this copy's name and addresses, and an offer's sender by its announced name and
// what the lane proved of it.

#include <gtest/gtest.h>

#include "shell/thiscopy.h"

namespace {

TEST(ThisCopy, NameAndTheAddressesASenderTypes) {
    struct Case {
        QStringList addresses;
        quint16 port;
        QString text;
    };
    const QString name = QStringLiteral("ana@portatil");
    const Case cases[] = {
        {{QStringLiteral("192.168.1.5"), QStringLiteral("10.0.0.2")},
         9950,
         QStringLiteral("Este equipo: ana@portatil\nDirecciones: 192.168.1.5, 10.0.0.2")},
        // Another port must be typed with the address.
        {{QStringLiteral("10.0.0.2")},
         9960,
         QStringLiteral("Este equipo: ana@portatil\nDirecciones: 10.0.0.2:9960")},
        {{}, 9950, QStringLiteral("Este equipo: ana@portatil\nDirecciones: ninguna")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(thisCopyText(name, c.addresses, c.port), c.text);
    }
    for (const QString& address : localAddresses()) {
        EXPECT_FALSE(address.startsWith(QLatin1String("127."))) << address.toStdString();
        EXPECT_FALSE(address.contains(QLatin1Char(':'))) << address.toStdString();
    }
}

TEST(ThisCopy, TheSenderIsNamedWhenACopyFoundHasItsAddress) {
    const QList<PeerBrowser::Peer> peers{
        {QStringLiteral("ana@portatil"), QStringLiteral("192.168.1.5"), 9950, true, {}},
        {QStringLiteral("luis@nas"), QStringLiteral("192.168.1.9"), 9960, false, {}},
    };
    EXPECT_EQ(senderText(QStringLiteral("192.168.1.9"), peers),
              QStringLiteral("luis@nas (192.168.1.9)"));
    EXPECT_EQ(senderText(QStringLiteral("192.168.1.50"), peers), QStringLiteral("192.168.1.50"));
    EXPECT_EQ(senderText(QStringLiteral("192.168.1.5"), {}), QStringLiteral("192.168.1.5"));
}

// A lane offer says what the handshake proved; an announced name is used only when the
// announcement gives the fingerprint the sender proved.
TEST(ThisCopy, ALaneSenderIsTrustedOrUnverifiedWithItsShortFingerprint) {
    const QString ana = QString(64, QLatin1Char('A'));
    const QString other = QStringLiteral("3F2A9C01B7D4E850") + QString(48, QLatin1Char('0'));
    const QList<PeerBrowser::Peer> peers{
        {QStringLiteral("ana@portatil"), QStringLiteral("192.168.1.5"), 9950, true, ana},
        {QStringLiteral("luis@nas"), QStringLiteral("192.168.1.9"), 9950, true, {}},
    };
    struct Case {
        QString address, fingerprint;
        bool trusted;
        QString shown;
    };
    const Case cases[] = {
        {QStringLiteral("192.168.1.5"), ana, true,
         QStringLiteral("ana@portatil (192.168.1.5), de confianza AAAA AAAA AAAA AAAA")},
        {QStringLiteral("192.168.1.5"), ana, false,
         QStringLiteral("ana@portatil (192.168.1.5), sin verificar AAAA AAAA AAAA AAAA")},
        // Another computer at the address the name was announced from, or an announcement
        // without a fingerprint: the address alone.
        {QStringLiteral("192.168.1.5"), other, false,
         QStringLiteral("192.168.1.5, sin verificar 3F2A 9C01 B7D4 E850")},
        {QStringLiteral("192.168.1.9"), other, true,
         QStringLiteral("192.168.1.9, de confianza 3F2A 9C01 B7D4 E850")},
        // A classic offer, as ever.
        {QStringLiteral("192.168.1.9"), QString(), false, QStringLiteral("luis@nas (192.168.1.9)")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown.toStdString());
        TransferOffer offer;
        offer.address = c.address;
        offer.senderFingerprint = c.fingerprint;
        offer.senderTrusted = c.trusted;
        EXPECT_EQ(offerSenderText(offer, peers), c.shown);
    }
}

}  // namespace
