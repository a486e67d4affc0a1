#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// File names travel as Windows-1252 bytes; on disk and on screen they are Unicode (UTF-8 in
// the file system). The mapping is a fixed table, independent of the locale.

// The wire form of a local file name (the name part, without folder). Every character
// without a Windows-1252 form becomes "_", and so does every character a receiver would
// refuse or could not parse: "|", "/", "\", control characters and the C1 range.
QByteArray toWireName(const QString& localName);

// The Unicode form of wire bytes. The five bytes Windows-1252 leaves unassigned (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) become U+FFFD; such a name is never safe anyway.
QString fromWireName(QByteArrayView wire);

// Whether an offered name may be used as a file name inside the receive folder: false for
// an empty name, a name that starts with "." (".", ".." and hidden names), and for any name holding "/", "\", a control character
// (0x00-0x1F, 0x7F) or one of the five unassigned bytes.
bool isSafeOfferedName(QByteArrayView wire);
