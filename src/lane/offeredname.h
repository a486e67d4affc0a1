#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

// The file name a peer offers in UTF-8, as it is stored in the receive folder: in NFC (so
// that two spellings of one name are one file), or nothing when it may not be a file name
// there. Refused: invalid UTF-8, more than 255 bytes, a leading "." (".", ".." and hidden
// names), "/" and "\", control characters (C0, DEL, C1), and what makes a name look like
// another one: bidirectional controls, zero-width and other format characters, line and
// paragraph separators. Every carrier that takes names in UTF-8 checks them here.
std::optional<QString> offeredFileName(QByteArrayView utf8);
