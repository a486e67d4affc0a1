#include "transfer/progress.h"

#include "transfer/protocol.h"

#include <QLocale>

#include <algorithm>

namespace {

__extension__ using Wide = __int128;

constexpr quint64 kMegabyte = 1048576;

// value / kMegabyte * 10^decimals, rounded half away from zero (value is a magnitude).
quint64 roundedScaled(quint64 value, int decimals) {
    quint64 scaled = value;
    for (int i = 0; i < decimals; ++i) {
        scaled *= 10;
    }
    return (scaled + kMegabyte / 2) / kMegabyte;
}

QString exponentForm(quint64 mantissaDigits, int exponent, QChar separator) {
    // mantissaDigits holds the 3 significant digits, 100 to 999.
    QString text = QString::number(mantissaDigits / 100);
    QString decimals = QString::number(mantissaDigits % 100).rightJustified(2, QLatin1Char('0'));
    while (decimals.endsWith(QLatin1Char('0'))) {
        decimals.chop(1);
    }
    if (!decimals.isEmpty()) {
        text += separator + decimals;
    }
    return text + QLatin1Char('E') + QString::number(exponent);
}

}  // namespace

ProgressFigures computeProgress(qint64 index, qint64 total, int elapsedTag) {
    ProgressFigures figures;
    index = std::clamp<qint64>(index, 0, kMaxBlockIndex);
    // The counter starts at 0, so the first second divides by one.
    const qint64 elapsed = std::max<qint64>(qint64(elapsedTag) + 1, 1);
    figures.rateKb = 2 * index / elapsed;
    if (total > 0) {
        // Exact for every index: the product is taken in 128 bits.
        const Wide percent = Wide(index) * kBlockSize * 100 / total;
        figures.percent = int(std::min<Wide>(percent, 100));
    }
    return figures;
}

QString rateText(qint64 rateKb) {
    return QString::number(rateKb) + QStringLiteral(" Kb/s");
}

QString wideRateText(qint64 rateKb) {
    if (rateKb < 10000) {
        return rateText(rateKb);
    }
    return QString::number(rateKb / 1024) + QStringLiteral(" Mb/s");
}

QString FormatMegabytes(qint64 size, QChar decimalSeparator) {
    const bool negative = size < 0;
    // The magnitude, exact even for the smallest qint64.
    const quint64 magnitude = negative ? quint64(0) - quint64(size) : quint64(size);
    const QString sign = negative ? QStringLiteral("-") : QString();

    if (magnitude < 1000 * kMegabyte) {
        // Decimals that keep 3 significant digits, at most 3.
        const int decimals = magnitude < kMegabyte         ? 3
                             : magnitude < 10 * kMegabyte  ? 2
                             : magnitude < 100 * kMegabyte ? 1
                                                           : 0;
        const quint64 scaled = roundedScaled(magnitude, decimals);
        quint64 unit = 1;
        for (int i = 0; i < decimals; ++i) {
            unit *= 10;
        }
        if (scaled / unit < 1000) {
            // The kept decimals, then zeros up to exactly 3.
            QString fraction;
            if (decimals > 0) {
                fraction =
                    QString::number(scaled % unit).rightJustified(decimals, QLatin1Char('0'));
            }
            return sign + QString::number(scaled / unit) + decimalSeparator +
                   fraction.leftJustified(3, QLatin1Char('0'));
        }
        // Rounded up to 1000: "1E3".
        return sign + exponentForm(100, 3, decimalSeparator);
    }

    // 1000 megabytes or more: the decimal exponent of the value, then 3 significant digits.
    int exponent = 3;
    quint64 power = 1000;  // 10^exponent
    while (exponent < 19 && magnitude / kMegabyte / 10 >= power) {
        power *= 10;
        ++exponent;
    }
    const quint64 step = power / 100 * kMegabyte;  // one unit of the third significant digit
    quint64 mantissa = magnitude / step;
    if (magnitude % step >= step - step / 2) {
        ++mantissa;
    }
    if (mantissa == 1000) {
        mantissa = 100;
        ++exponent;
    }
    return sign + exponentForm(mantissa, exponent, decimalSeparator);
}

QString FormatMegabytes(qint64 size) {
    const QString separator = QLocale().decimalPoint();
    return FormatMegabytes(size, separator.isEmpty() ? QLatin1Char('.') : separator.at(0));
}

int nextActivityPosition(int position) {
    return position >= 100 ? 0 : position + 5;
}
