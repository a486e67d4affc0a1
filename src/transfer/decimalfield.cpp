#include "transfer/decimalfield.h"

DecimalField DecimalField::scan(QByteArrayView bytes, qsizetype from, qint64 maxValue) {
    DecimalField field;
    field.end = from;
    while (field.end < bytes.size() && bytes[field.end] >= '0' && bytes[field.end] <= '9') {
        const int digit = bytes[field.end] - '0';
        if (field.value > (maxValue - digit) / 10) {
            field.status = Status::TooLarge;
            return field;
        }
        field.value = field.value * 10 + digit;
        ++field.end;
    }
    field.status = field.end > from ? Status::Number : Status::NoDigits;
    return field;
}
