#include "engine/peeraddress.h"

#include <gtest/gtest.h>

namespace {

using Kind = PeerAddress::Kind;

TEST(PeerAddress, DottedNamesPortsAndMistakes) {
    struct Case {
        const char* text;
        Kind kind;
        const char* host;
        quint16 port;
    };
    const Case cases[] = {
        {"192.168.1.20", Kind::Dotted, "192.168.1.20", 9950},
        {" 10.0.0.1 ", Kind::Dotted, "10.0.0.1", 9950},
        {"0.0.0.0", Kind::Dotted, "0.0.0.0", 9950},
        {"255.255.255.255", Kind::Bad, "", 0},            // broadcast: no computer
        {"010.001.0.9", Kind::Dotted, "10.1.0.9", 9950},  // decimal, never octal
        {"127.0.0.1:7000", Kind::Dotted, "127.0.0.1", 7000},
        {"127.0.0.1:65535", Kind::Dotted, "127.0.0.1", 65535},
        {"portatil.local", Kind::Name, "portatil.local", 9950},
        {"portatil.local:7000", Kind::Name, "portatil.local", 7000},
        {"my_pc", Kind::Name, "my_pc", 9950},
        {"host.example.", Kind::Name, "host.example.", 9950},
        {"1e100.net", Kind::Name, "1e100.net", 9950},
        // Partial, overlong or out-of-range dotted addresses: the system would complete
        // or wrap them into some other computer's address.
        {"192.168.1", Kind::Bad, "", 0},
        {"1.2.3", Kind::Bad, "", 0},
        {"127.1", Kind::Bad, "", 0},
        {"2130706433", Kind::Bad, "", 0},
        {"0x7f.0.0.1", Kind::Bad, "", 0},
        {"0x7f000001", Kind::Bad, "", 0},
        {"1.2.3.4.5", Kind::Bad, "", 0},
        {"256.0.0.1", Kind::Bad, "", 0},
        {"999.1.1.1", Kind::Bad, "", 0},
        {"1.2.3.0004", Kind::Bad, "", 0},
        {"1..3.4", Kind::Bad, "", 0},
        {"1.2.3.4.", Kind::Bad, "", 0},
        {"", Kind::Bad, "", 0},
        {"   ", Kind::Bad, "", 0},
        // Ports and names that are no such thing.
        {"10.0.0.1:", Kind::Bad, "", 0},
        {"10.0.0.1:0", Kind::Bad, "", 0},
        {"10.0.0.1:65536", Kind::Bad, "", 0},
        {"10.0.0.1:+80", Kind::Bad, "", 0},
        {"10.0.0.1:80:81", Kind::Bad, "", 0},
        {":7000", Kind::Bad, "", 0},
        {"[::1]:9950", Kind::Bad, "", 0},
        {"host name", Kind::Bad, "", 0},
        {"-host", Kind::Bad, "", 0},
        {"a..b", Kind::Bad, "", 0},
        {"año.local", Kind::Bad, "", 0},
        {"host/../x", Kind::Bad, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const PeerAddress address = parsePeerAddress(QString::fromUtf8(c.text), 9950);
        EXPECT_EQ(address.kind, c.kind);
        EXPECT_EQ(address.host, QString::fromUtf8(c.host));
        EXPECT_EQ(address.port, c.port);
    }
    EXPECT_EQ(parsePeerAddress(QStringLiteral("h.local"), 7100).port, 7100);
    EXPECT_EQ(parsePeerAddress(QString(64, u'a'), 9950).kind, Kind::Bad);  // a label > 63
}

}  // namespace
