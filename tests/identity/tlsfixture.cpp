#include "tlsfixture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QThread>

#include <gtest/gtest.h>

Identity makeIdentity(const QString& folder) {
    QString error;
    std::optional<Identity> identity = Identity::loadOrCreate(folder, &error);
    EXPECT_TRUE(identity) << error.toStdString();
    return *identity;
}

bool waitUntil(const std::function<bool()>& done, int ms) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

QByteArray readExactly(QTcpSocket* socket, qsizetype count) {
    QByteArray got;
    waitUntil([&] {
        got += socket->read(count - got.size());
        return got.size() >= count;
    });
    return got;
}
