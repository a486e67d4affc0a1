#pragma once

#include <QByteArrayView>
#include <QtGlobal>

// How the input framings read a number field: digits from a position up to the first
// byte that is not a digit, or up to the end of the bytes at hand.
struct DecimalField {
    enum class Status { Number, NoDigits, TooLarge };

    Status status = Status::NoDigits;
    qint64 value = 0;
    // Position of the first byte after the digits.
    qsizetype end = 0;

    static DecimalField scan(QByteArrayView bytes, qsizetype from, qint64 maxValue);
};
