#include "decimaltext.h"

#include <limits>

qint64 decimalValue(QByteArrayView digits) {
    if (digits.isEmpty()) {
        return -1;
    }
    qint64 value = 0;
    for (const char c : digits) {
        if (!isDigit(c)) {
            return -1;
        }
        const int digit = c - '0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10) {
            return -1;
        }
        value = value * 10 + digit;
    }
    return value;
}
