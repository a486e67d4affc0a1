#include <gtest/gtest.h>

#include <QLocale>
#include <QStandardPaths>

#include "shell/ruvoapplication.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    RuvoApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    QStandardPaths::setTestModeEnabled(true);
    return RUN_ALL_TESTS();
}
