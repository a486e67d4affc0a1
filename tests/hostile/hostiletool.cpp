// ruvo-hostile: speaks raw bytes to a running copy, for trying an input by hand.
//
//   ruvo-hostile --port N [--send TEXT]... [--garbage BYTES] [--piece N --pause-us N]
//                [--wait-ms N]
//   ruvo-hostile --listen [--send TEXT]... [--wait-ms N]
//
// It connects to 127.0.0.1:N (or, with --listen, waits for a copy to connect to the port it
// prints as "listening <port>"), sends each TEXT in order (C escapes: \xNN, \n, \r, \t, \\),
// then --garbage random bytes holding no "|", in pieces of --piece bytes with --pause-us
// between them. It prints what comes back, escaped, as "received <bytes>", and at the end
// "closed-by-copy" or "still-open" after --wait-ms without a close.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRandomGenerator>

#include <csignal>
#include <cstdio>

#include "hostilepeer.h"
#include "peerlistener.h"

namespace {

QByteArray unescape(const QString& text) {
    const QByteArray in = text.toUtf8();
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != '\\' || i + 1 == in.size()) {
            out.append(in[i]);
            continue;
        }
        const char c = in[++i];
        if (c == 'x' && i + 2 < in.size()) {
            out.append(static_cast<char>(in.mid(i + 1, 2).toInt(nullptr, 16)));
            i += 2;
        } else {
            out.append(c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c);
        }
    }
    return out;
}

QByteArray escape(const QByteArray& bytes) {
    QByteArray out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F && c != '\\') {
            out.append(c);
        } else {
            out.append(QByteArray("\\x") + QByteArray::number(u, 16).rightJustified(2, '0'));
        }
    }
    return out;
}

void say(const QByteArray& line) {
    std::printf("%s\n", line.constData());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port of the copy."),
                                  QStringLiteral("port"));
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Wait for a copy to connect."));
    const QCommandLineOption send(QStringLiteral("send"), QStringLiteral("Bytes to send."),
                                  QStringLiteral("text"));
    const QCommandLineOption garbage(QStringLiteral("garbage"),
                                     QStringLiteral("Random bytes without \"|\" to send."),
                                     QStringLiteral("bytes"), QStringLiteral("0"));
    const QCommandLineOption piece(QStringLiteral("piece"), QStringLiteral("Bytes per send."),
                                   QStringLiteral("n"), QStringLiteral("65536"));
    const QCommandLineOption pause(QStringLiteral("pause-us"),
                                   QStringLiteral("Pause after each piece."), QStringLiteral("us"),
                                   QStringLiteral("0"));
    const QCommandLineOption wait(QStringLiteral("wait-ms"),
                                  QStringLiteral("How long to wait for the copy to close."),
                                  QStringLiteral("ms"), QStringLiteral("3000"));
    parser.addOptions({port, listen, send, garbage, piece, pause, wait});
    parser.process(app);

    HostilePeer peer;
    PeerListener listener;
    if (parser.isSet(listen)) {
        say("listening " + QByteArray::number(listener.port()));
        std::optional<HostilePeer> accepted = listener.accept(60000);
        if (!accepted) {
            say("nobody-connected");
            return 1;
        }
        peer = std::move(*accepted);
        say("received " + escape(peer.receiveUntilQuiet(2000, 100)));
    } else if (!peer.connectTo(static_cast<quint16>(parser.value(port).toUInt()))) {
        say("cannot-connect");
        return 1;
    }
    QByteArray bytes;
    for (const QString& text : parser.values(send)) {
        bytes += unescape(text);
    }
    for (qint64 i = parser.value(garbage).toLongLong(); i > 0; --i) {
        char c;
        do {
            c = static_cast<char>(QRandomGenerator::global()->bounded(256));
        } while (c == '|');
        bytes.append(c);
    }
    const bool sent =
        peer.sendInPieces(bytes, std::max<qsizetype>(1, parser.value(piece).toLongLong()),
                          parser.value(pause).toInt());
    if (!sent) {
        say("send-failed");
    }
    say("received " + escape(peer.receiveUntilQuiet(parser.value(wait).toInt(), 200)));
    say(peer.waitClosed(parser.value(wait).toInt()) ? "closed-by-copy" : "still-open");
    return 0;
}
