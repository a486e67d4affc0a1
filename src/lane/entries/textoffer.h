#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

// A short text offered instead of files: a link, a code, a paragraph. It is shown in a box
// and printed to a terminal, so besides its length it is held to printable text.
namespace entries {

constexpr qsizetype kMaxTextBytes = 64 * 1024;  // of UTF-8

enum class TextError {
    None,
    Empty,
    TooLong,           // more than kMaxTextBytes
    BadUtf8,           //
    ControlCharacter,  // a control character other than tab, line feed and carriage return
};

const char* textErrorName(TextError error);

struct ParsedText {
    QString text;  // only when there is no error
    TextError error = TextError::None;
};

// The payload is the text's UTF-8, nothing else: its length is the frame's.
QByteArray encodeText(const QString& text);
// Decodes and checks; a pure function. The sender checks its own text the same way, on
// encodeText's bytes, before it offers it.
ParsedText parseText(QByteArrayView payload);

}  // namespace entries
