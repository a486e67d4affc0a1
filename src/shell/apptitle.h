#pragma once

#include <QString>

// The program's title: the main window's caption and the title of every box.
inline QString appTitle() {
    return QStringLiteral("Ruvo v1.0b");
}
