#include "lane/numberedname.h"

QString numberedName(const QString& name, int n) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString number = QStringLiteral(" (%1)").arg(n);
    if (dot <= 0) {
        return name + number;
    }
    return name.left(dot) + number + name.mid(dot);
}
