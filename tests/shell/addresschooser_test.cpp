#include "shell/addresschooser.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>

namespace {

QStringList labels(const AddressChooser& chooser) {
    QStringList list;
    for (const AddressChooser::Entry& entry : chooser.entries()) {
        list.append(entry.label);
    }
    return list;
}

TEST(AddressChooser, RemembersTheNewestFirstOnceAndOnlyTheLastFew) {
    struct Case {
        const char* stored;
        QStringList sent;
        QString expected;
    };
    const Case cases[] = {
        {"", {QStringLiteral("10.0.0.1")}, QStringLiteral("10.0.0.1")},
        {"10.0.0.1 portatil.local",
         {QStringLiteral("portatil.local")},
         QStringLiteral("portatil.local 10.0.0.1")},
        {"a b c d e f g h", {QStringLiteral("i")}, QStringLiteral("i a b c d e f g")},
        // Blank texts and texts with a space (which the setting could not hold) are left out.
        {"a", {QStringLiteral("  "), QStringLiteral("x y")}, QStringLiteral("a")},
        {"  a   b  ", {QStringLiteral(" c ")}, QStringLiteral("c a b")},
        {"1 2 3 4 5 6 7 8 9 10", {}, QStringLiteral("1 2 3 4 5 6 7 8")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        QLineEdit field;
        AddressChooser chooser(&field, nullptr);
        chooser.setRecent(QString::fromLatin1(c.stored));
        for (const QString& address : c.sent) {
            chooser.remember(address);
        }
        EXPECT_EQ(chooser.recentSetting(), c.expected);
        EXPECT_EQ(labels(chooser), chooser.recent());
    }
}

TEST(AddressChooser, ChoosingFillsTheFieldUnlessASendHoldsIt) {
    QLineEdit field;
    AddressChooser chooser(&field, nullptr);
    QAction* arrow = field.actions().value(0);
    ASSERT_NE(arrow, nullptr);
    EXPECT_FALSE(arrow->isVisible());  // nothing to choose yet
    chooser.remember(QStringLiteral("192.168.1.20"));
    EXPECT_TRUE(arrow->isVisible());

    EXPECT_TRUE(chooser.choose(QStringLiteral("192.168.1.20")));
    EXPECT_EQ(field.text(), QStringLiteral("192.168.1.20"));
    EXPECT_FALSE(chooser.choose(QStringLiteral("10.9.9.9")));

    field.setText(QStringLiteral("10.0.0.5"));
    field.setReadOnly(true);
    chooser.choose(QStringLiteral("192.168.1.20"));
    EXPECT_EQ(field.text(), QStringLiteral("10.0.0.5"));
}

}  // namespace
