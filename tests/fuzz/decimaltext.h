#pragma once

#include <QByteArrayView>
#include <QtGlobal>

// The fuzz targets' own reading of number fields, written apart from the framings' so that
// a message's numbers can be checked against the bytes it came from.

inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The value of a non-empty run of decimal digits (leading zeros allowed), or -1 when the run
// is empty, holds anything else or does not fit in 63 bits.
qint64 decimalValue(QByteArrayView digits);
