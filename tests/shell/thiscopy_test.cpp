// Who is who: this copy's name and addresses, and an offer's sender by its announced name.

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
        {QStringLiteral("ana@portatil"), QStringLiteral("192.168.1.5"), 9950, true},
        {QStringLiteral("luis@nas"), QStringLiteral("192.168.1.9"), 9960, false},
    };
    EXPECT_EQ(senderText(QStringLiteral("192.168.1.9"), peers),
              QStringLiteral("luis@nas (192.168.1.9)"));
    EXPECT_EQ(senderText(QStringLiteral("192.168.1.50"), peers), QStringLiteral("192.168.1.50"));
    EXPECT_EQ(senderText(QStringLiteral("192.168.1.5"), {}), QStringLiteral("192.168.1.5"));
}

}  // namespace
