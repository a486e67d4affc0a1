#include <QCoreApplication>
#include <QLocale>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    QStandardPaths::setTestModeEnabled(true);
    // System error texts in the messages under test are the C locale's.
    std::setlocale(LC_ALL, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
