#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLocale>
#include <QStandardPaths>

#include <csignal>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // A copy that goes away while we write to it must be an error, not our end.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    QStandardPaths::setTestModeEnabled(true);
    return RUN_ALL_TESTS();
}
