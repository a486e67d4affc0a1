#include "engine/peeraddress.h"

#include <QStringList>

#include <arpa/inet.h>

namespace {

// Exactly four numbers of one to three decimal digits, each 0-255, not all 255. Leading zeros are
// read as decimal (the system's own reader would take "010" as octal 8).
bool readDotted(const QString& text, QString& canonical) {
    const QStringList parts = text.split(u'.');
    if (parts.size() != 4) {
        return false;
    }
    QStringList numbers;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3) {
            return false;
        }
        for (const QChar c : part) {
            if (c < u'0' || c > u'9') {
                return false;
            }
        }
        const int value = part.toInt();
        if (value > 255) {
            return false;
        }
        numbers.append(QString::number(value));
    }
    canonical = numbers.join(u'.');
    // The broadcast address is no computer (and the sockets' own reader takes it as "no
    // address").
    return canonical != QLatin1String("255.255.255.255");
}

// Host name syntax: labels of letters, digits, '-' and '_' (1 to 63 each, 253 in all,
// a final dot allowed), the last not all digits (no top-level domain is), so that a
// mistyped dotted address ("1.2.3.4.5", "256.0.0.1") is no name either. Whatever the
// system would itself read as a number ("192.168.1", "0x7f.1") is no name: looking it up
// would give some address all the same.
bool isName(const QString& text) {
    QString name = text;
    if (name.endsWith(u'.')) {
        name.chop(1);
    }
    if (name.isEmpty() || name.size() > 253) {
        return false;
    }
    const QStringList labels = name.split(u'.');
    bool lastAllDigits = true;
    for (const QChar c : labels.last()) {
        lastAllDigits = lastAllDigits && c >= u'0' && c <= u'9';
    }
    if (lastAllDigits) {
        return false;
    }
    for (const QString& label : labels) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(u'-') ||
            label.endsWith(u'-')) {
            return false;
        }
        for (const QChar c : label) {
            const bool allowed = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                                 (c >= u'0' && c <= u'9') || c == u'-' || c == u'_';
            if (!allowed) {
                return false;
            }
        }
    }
    in_addr ignored{};
    return ::inet_aton(text.toLatin1().constData(), &ignored) == 0;
}

}  // namespace

PeerAddress parsePeerAddress(const QString& text, quint16 defaultPort) {
    QString host = text.trimmed();
    quint16 port = defaultPort;
    const qsizetype colon = host.indexOf(u':');
    if (colon >= 0) {
        const QString digits = host.mid(colon + 1);
        bool ok = !digits.isEmpty() && digits.size() <= 5;
        for (const QChar c : digits) {
            ok = ok && c >= u'0' && c <= u'9';
        }
        const uint value = ok ? digits.toUInt() : 0;
        if (value == 0 || value > 65535) {
            return {};
        }
        port = static_cast<quint16>(value);
        host.truncate(colon);
    }
    PeerAddress address;
    address.port = port;
    if (readDotted(host, address.host)) {
        address.kind = PeerAddress::Kind::Dotted;
    } else if (isName(host)) {
        address.kind = PeerAddress::Kind::Name;
        address.host = host;
    } else {
        return {};
    }
    return address;
}

QString rememberedAddress(const PeerAddress& address) {
    const QString host = address.host.toLower();
    return address.port == kClassicPort ? host
                                        : QStringLiteral("%1:%2").arg(host).arg(address.port);
}
