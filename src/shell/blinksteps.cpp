#include "shell/blinksteps.h"

std::optional<QString> pauseBlinkStep(int& tag) {
    ++tag;
    switch (tag) {
        case 1:
            return QStringLiteral("Pausa");
        case 3:
            return QString();
        case 4:
            tag = 0;
            return QString();
        default:
            return std::nullopt;
    }
}

TabBlinkStep tabBlinkStep(int& tag) {
    ++tag;
    switch (tag) {
        case 1:
        case 3:
        case 5:
            return {Highlight::On, false};
        case 2:
        case 4:
        case 6:
            return {Highlight::Off, false};
        case 7:
            return {Highlight::On, true};
        default:
            return {};
    }
}
