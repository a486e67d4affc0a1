#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

// A certificate's fingerprint: SHA-256 of its DER form in uppercase hex without separators
// (64 characters), the form LocalSend shows and compares, so one identity serves both.
namespace fingerprint {

constexpr qsizetype kLength = 64;

QString ofCertificate(QByteArrayView der);

// The form people read aloud and compare: the first 16 characters in groups of 4
// ("3F2A 9C01 B7D4 E850"). 64 bits: enough to tell two computers apart by eye, never used
// to decide trust (that always compares the whole fingerprint).
QString shortForm(QStringView fingerprint);

// A fingerprint as people may type or paste it (lower case, with ':' or spaces or '-' between
// groups) in its canonical form; empty when it is not 64 hex digits.
QString normalized(QStringView typed);

}  // namespace fingerprint
