#include "lane/offeredname.h"

#include <QChar>
#include <QList>

namespace {

// Characters that are not shown as themselves, or that change how the text around them
// reads.
bool hiddenOrControl(char32_t u) {
    if (u < 0x20 || (u >= 0x7F && u <= 0x9F)) {
        return true;
    }
    // Bidirectional controls, zero-width characters, the byte order mark and the soft
    // hyphen are all of the format category.
    switch (QChar::category(u)) {
        case QChar::Other_Format:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return true;
        default:
            break;
    }
    // Invisible although not of the format category.
    return u == 0x115F || u == 0x1160 || u == 0x3164 || u == 0xFFA0 || u == 0x2800;
}

bool looksLikeSomethingElse(char32_t u) {
    return u == U'/' || u == U'\\' || hiddenOrControl(u);
}

// The text of valid UTF-8, or nothing.
std::optional<QString> decodedUtf8(QByteArrayView utf8) {
    const QString text = QString::fromUtf8(utf8);
    if (text.toUtf8() != utf8) {
        return std::nullopt;
    }
    return text;
}

}  // namespace

std::optional<QString> offeredFileName(QByteArrayView utf8) {
    if (utf8.isEmpty() || utf8.size() > 255) {
        return std::nullopt;
    }
    const std::optional<QString> raw = decodedUtf8(utf8);
    if (!raw) {
        return std::nullopt;
    }
    const QString name = raw->normalized(QString::NormalizationForm_C);
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')) || name.toUtf8().size() > 255) {
        return std::nullopt;
    }
    for (const uint u : name.toUcs4()) {
        if (looksLikeSomethingElse(static_cast<char32_t>(u))) {
            return std::nullopt;
        }
    }
    return name;
}

QString shownPeerName(QByteArrayView utf8) {
    const std::optional<QString> raw = decodedUtf8(utf8);
    if (!raw) {
        return {};
    }
    const QString name = raw->normalized(QString::NormalizationForm_C);
    for (const uint u : name.toUcs4()) {
        if (hiddenOrControl(static_cast<char32_t>(u))) {
            return {};
        }
    }
    return name;
}
