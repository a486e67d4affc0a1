#include <QCoreApplication>
#include <QLocale>
#include <QStandardPaths>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    QStandardPaths::setTestModeEnabled(true);
    return RUN_ALL_TESTS();
}
