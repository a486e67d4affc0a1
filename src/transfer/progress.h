#pragma once

#include <QChar>
#include <QString>
#include <QtGlobal>

#include <optional>

// The arithmetic of the progress display both roles share. The window applies the results
// to its controls (Frecuencia, Progreso, Avance, panel 1, the "Recibir" tab).

struct ProgressFigures {
    qint64 rateKb = 0;  // kilobytes per second
    int percent = 0;    // 0 to 100
};

// Rate and percentage for the block `index` of a file of `total` bytes, with `elapsedTag`
// seconds counted: rate = 2 * index / (elapsedTag + 1), percent = index * 204800 / total,
// both rounded down in 64 bits. The percentage is 0 for a total of 0 and never leaves
// 0..100, whatever index a peer names.
ProgressFigures computeProgress(qint64 index, qint64 total, int elapsedTag);

// The text of Frecuencia: "<rate> Kb/s".
QString rateText(qint64 rateKb);
// The same where rates beyond the label's width come (the fast lane): from 10000 Kb/s on
// (five digits, wider than the label), whole megabytes (1048576 bytes) per second,
// "<rate> Mb/s", which fits it up to 9999 Mb/s.
QString wideRateText(qint64 rateKb);

// A size as megabytes: 3 significant digits and at most 3 decimals, rounded half away from
// zero; below 1000 with exactly 3 decimals ("12.300"), from 1000 on in exponent form
// without trailing zeros ("1.02E3").
QString FormatMegabytes(qint64 size, QChar decimalSeparator);
// The same with the decimal separator of the default locale.
QString FormatMegabytes(qint64 size);

// The next position of the activity bar Avance: 0, 5, ..., 100, 0, ...
int nextActivityPosition(int position);
