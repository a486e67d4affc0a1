#include "lane/entries/textoffer.h"

#include <QStringDecoder>

namespace entries {

const char* textErrorName(TextError error) {
    switch (error) {
        case TextError::None:
            return "None";
        case TextError::Empty:
            return "Empty";
        case TextError::TooLong:
            return "TooLong";
        case TextError::BadUtf8:
            return "BadUtf8";
        case TextError::ControlCharacter:
            return "ControlCharacter";
    }
    return "?";
}

QByteArray encodeText(const QString& text) {
    return text.toUtf8();
}

ParsedText parseText(QByteArrayView payload) {
    if (payload.isEmpty()) {
        return {{}, TextError::Empty};
    }
    if (payload.size() > kMaxTextBytes) {
        return {{}, TextError::TooLong};
    }
    // An initial byte-order mark is kept as a character (fromUtf8 would drop it). Invalid
    // sequences (overlong forms, surrogates, stray continuation bytes) are errors of the
    // decoder and would not come back as the same bytes.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(payload);
    if (decoder.hasError() || text.toUtf8() != payload) {
        return {{}, TextError::BadUtf8};
    }
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        // Escape sequences (ESC, and CSI as U+009B) would drive the terminal the text is
        // printed to; NUL would cut it short wherever it is passed on as a C string.
        const bool allowed = u == u'\t' || u == u'\n' || u == u'\r';
        if ((u < 0x20 && !allowed) || (u >= 0x7F && u <= 0x9F)) {
            return {{}, TextError::ControlCharacter};
        }
    }
    return {std::move(text), TextError::None};
}

}  // namespace entries
