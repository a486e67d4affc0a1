#pragma once

#include <QString>
#include <QtGlobal>

// What the user typed as the other computer's address, read once for the window and
// ruvo-cli alike: a dotted IPv4 address of exactly four decimal numbers 0-255 (the broadcast
// address 255.255.255.255 excepted), or a host
// name, either optionally followed by ":PORT". Anything else is no address, so a partial
// address ("192.168.1") can never be completed by the system into another computer's.
struct PeerAddress {
    enum class Kind { Bad, Dotted, Name };

    Kind kind = Kind::Bad;
    QString host;  // the dotted address in its canonical form ("10.0.0.1"), or the name
    quint16 port = 0;
};

constexpr quint16 kClassicPort = 9950;

// `defaultPort` applies where no ":PORT" is given. Surrounding spaces are ignored.
PeerAddress parsePeerAddress(const QString& text, quint16 defaultPort);

// The form an address is remembered under (the identity seen there, PinStore): its host, with
// ":PORT" when the port is not the classic one, since two copies may share one computer.
QString rememberedAddress(const PeerAddress& address);
