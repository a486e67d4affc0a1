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

// A computer's name as a peer sends it (in an offer, in pairing), for people to read: empty
// when it is not valid UTF-8 or holds control characters or characters that change how the
// text around them reads (bidirectional controls, zero-width characters, line separators), so
// that a name can never make "(de confianza)" appear where it is not. In NFC.
QString shownPeerName(QByteArrayView utf8);
