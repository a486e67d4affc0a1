#include "transfer/wirename.h"

#include <QList>

#include <array>

namespace {

// Unicode code points of the bytes 0x80 to 0x9F; 0 marks the five unassigned bytes. Every
// other byte maps to the code point of the same value.
constexpr std::array<char16_t, 32> kHighControlRange = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,       // 0x88
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,  // 0x98
};

constexpr char kReplacement = '_';

bool isUnassignedByte(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F && kHighControlRange[byte - 0x80] == 0;
}

bool isControlByte(unsigned char byte) {
    return byte < 0x20 || byte == 0x7F || isUnassignedByte(byte);
}

// The Windows-1252 byte of a code point, or 0 when it has none.
unsigned char windows1252Byte(uint codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        return static_cast<unsigned char>(codePoint);
    }
    for (std::size_t i = 0; i < kHighControlRange.size(); ++i) {
        if (kHighControlRange[i] != 0 && kHighControlRange[i] == codePoint) {
            return static_cast<unsigned char>(0x80 + i);
        }
    }
    return 0;
}

}  // namespace

QByteArray toWireName(const QString& localName) {
    // Composed form first, so that a letter with a separate accent mark still travels as
    // one Windows-1252 character.
    const QString composed = localName.normalized(QString::NormalizationForm_C);
    QByteArray wire;
    wire.reserve(composed.size());
    for (const uint codePoint : composed.toUcs4()) {
        const unsigned char byte = windows1252Byte(codePoint);
        const bool refused =
            byte == 0 || isControlByte(byte) || byte == '|' || byte == '/' || byte == '\\';
        wire.append(refused ? kReplacement : static_cast<char>(byte));
    }
    return wire;
}

QString fromWireName(QByteArrayView wire) {
    QString name;
    name.reserve(wire.size());
    for (const char c : wire) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 && byte <= 0x9F) {
            const char16_t mapped = kHighControlRange[byte - 0x80];
            name.append(QChar(mapped != 0 ? mapped : char16_t(0xFFFD)));
        } else {
            name.append(QChar(char16_t(byte)));
        }
    }
    return name;
}

bool isSafeOfferedName(QByteArrayView wire) {
    // A leading "." also covers "." and "..": a hidden name could replace a dotfile of the
    // receive folder (a shell's start-up file when that folder is the home folder).
    if (wire.isEmpty() || wire.startsWith('.')) {
        return false;
    }
    for (const char c : wire) {
        const auto byte = static_cast<unsigned char>(c);
        if (isControlByte(byte) || byte == '/' || byte == '\\') {
            return false;
        }
    }
    return true;
}
