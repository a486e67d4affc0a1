#include "identity/fingerprint.h"

#include <QCryptographicHash>

namespace fingerprint {

QString ofCertificate(QByteArrayView der) {
    return QString::fromLatin1(QCryptographicHash::hash(der, QCryptographicHash::Sha256).toHex())
        .toUpper();
}

QString shortForm(QStringView fingerprint) {
    const QStringView head = fingerprint.left(16);
    QString out;
    for (qsizetype i = 0; i < head.size(); i += 4) {
        if (!out.isEmpty()) {
            out += QLatin1Char(' ');
        }
        out += head.mid(i, 4);
    }
    return out;
}

QString normalized(QStringView typed) {
    QString out;
    out.reserve(kLength);
    for (const QChar c : typed) {
        if (c == QLatin1Char(':') || c == QLatin1Char(' ') || c == QLatin1Char('-')) {
            continue;
        }
        const bool hex = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                         (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
                         (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
        if (!hex) {
            return {};
        }
        out += c.toUpper();
    }
    return out.size() == kLength ? out : QString();
}

}  // namespace fingerprint
