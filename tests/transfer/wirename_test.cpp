#include "transfer/wirename.h"

#include <gtest/gtest.h>

#include <vector>

TEST(WireName, ToWireNameTable) {
    struct Case {
        QString local;
        QByteArray wire;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("notes.txt"), "notes.txt"},
        {QStringLiteral("año ñandú.txt"),
         "a\xF1o \xF1"
         "and\xFA.txt"},
        {QStringLiteral("€uro – “quoted” Œœ Ÿ ™"),
         "\x80uro \x96 \x93quoted\x94 \x8C\x9C \x9F \x99"},
        {QStringLiteral("a|b|c"), "a_b_c"},
        {QStringLiteral("日本.txt"), "__.txt"},
        {QStringLiteral("😀.txt"), "_.txt"},           // one character, one "_"
        {QStringLiteral("e\u0301.txt"), "\xE9.txt"},  // composed first
        {QStringLiteral("tab\there"), "tab_here"},
        {QStringLiteral("back\\slash"), "back_slash"},
        {QStringLiteral("c1\u0081\u009d"), "c1__"},
        {QStringLiteral("del\u007f"), "del_"},
        {QStringLiteral("nbsp\u00a0\u00ff"), "nbsp\xA0\xFF"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(toWireName(c.local), c.wire) << c.local.toStdString();
    }
}

TEST(WireName, EveryAssignedByteSurvivesTheRoundTrip) {
    const QByteArray refused = "|/\\";
    for (int byte = 0x20; byte <= 0xFF; ++byte) {
        const QByteArray wire(1, static_cast<char>(byte));
        const QString local = fromWireName(wire);
        ASSERT_EQ(local.size(), 1) << byte;
        const bool unassigned =
            byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
        if (unassigned) {
            EXPECT_EQ(local.at(0).unicode(), 0xFFFD) << byte;
        } else if (byte != 0x7F && !refused.contains(static_cast<char>(byte))) {
            EXPECT_EQ(toWireName(local), wire) << byte;
        }
    }
}

TEST(WireName, FromWireNameUsesTheFixedTable) {
    EXPECT_EQ(fromWireName("\x80"), QStringLiteral("€"));
    EXPECT_EQ(fromWireName("\x8A\x9A\x8E\x9E"), QStringLiteral("ŠšŽž"));
    EXPECT_EQ(fromWireName("\x85\x97"), QStringLiteral("…—"));
    EXPECT_EQ(fromWireName("\xE1\xE9\xED\xF3\xFA\xF1\xD1\xBF\xA1"), QStringLiteral("áéíóúñÑ¿¡"));
    EXPECT_EQ(fromWireName("plain.txt"), QStringLiteral("plain.txt"));
}

TEST(WireName, SafeOfferedNames) {
    struct Case {
        QByteArray wire;
        bool safe;
    };
    const std::vector<Case> cases = {
        {"notes.txt", true},
        {"a.b.", true},
        {".hidden", false},  // would replace a dotfile of the receive folder
        {".bashrc", false},
        {"...", false},
        {"a b", true},
        {"\xE9t\xE9.txt", true},
        {"\x80", true},
        {"", false},
        {".", false},
        {"..", false},
        {"a/b", false},
        {"/etc", false},
        {"..\\x", false},
        {QByteArray("a\0b", 3), false},
        {"line\nfeed", false},
        {"\x1F", false},
        {"\x7F", false},
        {"x\x81", false},
        {"x\x8D", false},
        {"x\x8F", false},
        {"x\x90", false},
        {"x\x9D", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isSafeOfferedName(c.wire), c.safe) << c.wire.toStdString();
    }
}

TEST(WireName, WhatThisProgramOffersIsSafe) {
    for (const QString& local :
         {QStringLiteral("a|b"), QStringLiteral("x\\y"), QStringLiteral("tab\t"),
          QStringLiteral("\u0090\u0081"), QStringLiteral("日本"), QStringLiteral("a..."),
          QStringLiteral("ok.txt")}) {
        EXPECT_TRUE(isSafeOfferedName(toWireName(local))) << local.toStdString();
    }
}
